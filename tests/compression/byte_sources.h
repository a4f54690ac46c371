// Byte-block generators for the block coder tests: the shapes the row coder's sub-streams take,
// and the extremes around them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace byte_sources {

enum Shape { Geometric, Zipf, SparseAlphabet, TwoSymbol, NearUniform, Substream, kShapes };

inline const char* shape_name(int s) {
    static const char* names[] = {"geometric",  "zipf",         "sparse",
                                  "two-symbol", "near-uniform", "substream"};
    return names[s];
}

// size bytes of the given shape; the shape's parameters are drawn from rng as well.
inline std::vector<uint8_t> make(Shape shape, size_t size, std::mt19937_64& rng) {
    std::vector<uint8_t> out(size);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    switch (shape) {
        case Geometric: {
            std::geometric_distribution<int> g(0.02 + 0.9 * unit(rng));
            for (auto& b : out) b = static_cast<uint8_t>(std::min(g(rng), 255));
            break;
        }
        case Zipf: {
            const int symbols = 2 + static_cast<int>(rng() % 255);
            const double s = 0.5 + 1.5 * unit(rng);
            std::vector<double> w(symbols);
            for (int i = 0; i < symbols; i++) w[i] = 1.0 / std::pow(i + 1.0, s);
            std::discrete_distribution<int> d(w.begin(), w.end());
            std::vector<uint8_t> perm(256);
            for (int i = 0; i < 256; i++) perm[i] = static_cast<uint8_t>(i);
            std::shuffle(perm.begin(), perm.end(), rng);
            for (auto& b : out) b = perm[d(rng)];
            break;
        }
        case SparseAlphabet: {
            const int symbols = 2 + static_cast<int>(rng() % 12);
            std::vector<uint8_t> alphabet(symbols);
            for (auto& a : alphabet) a = static_cast<uint8_t>(rng());
            for (auto& b : out) b = alphabet[rng() % symbols];
            break;
        }
        case TwoSymbol: {
            const uint8_t a = static_cast<uint8_t>(rng()), c = static_cast<uint8_t>(rng());
            const double p = unit(rng) * unit(rng);
            for (auto& b : out) b = unit(rng) < p ? c : a;
            break;
        }
        case NearUniform: {
            const int symbols = 64 + static_cast<int>(rng() % 193);
            for (auto& b : out) {
                uint32_t v = static_cast<uint32_t>(rng() % symbols);
                if (unit(rng) < 0.1) v = static_cast<uint32_t>(rng() % 8);  // slight skew
                b = static_cast<uint8_t>(v);
            }
            break;
        }
        default: {  // what the row coder gathers: masks, small context values, escape bytes
            const int role = static_cast<int>(rng() % 3);
            std::geometric_distribution<int> g(0.3 + 0.5 * unit(rng));
            for (auto& b : out) {
                if (role == 0) {
                    b = static_cast<uint8_t>(unit(rng) < 0.6 ? 0 : (rng() & rng()));
                } else if (role == 1) {
                    const int v = g(rng);
                    b = static_cast<uint8_t>(unit(rng) < 0.01 ? 255 : std::min(v, 254));
                } else {
                    b = static_cast<uint8_t>(unit(rng) < 0.7 ? rng() : g(rng));
                }
            }
            break;
        }
    }
    return out;
}

// Sizes from 2 to 65536, log-uniform, with odd sizes and sizes = 2 mod 4 among them.
inline size_t draw_size(std::mt19937_64& rng, size_t largest = 65536) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double lg =
        std::log(2.0) + unit(rng) * (std::log(static_cast<double>(largest)) - std::log(2.0));
    size_t size = static_cast<size_t>(std::exp(lg));
    return std::clamp<size_t>(size, 2, largest);
}

}  // namespace byte_sources
