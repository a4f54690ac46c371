// Row generators for the row coder tests: random rows, and rows shaped like the solver's (800 to
// 1326 values in showdown order): 16-bit regrets mostly zero in runs, with runs of equal or
// smooth small values and rare large jumps; 32-bit strategy sums smooth up to about 10^8 with
// zeros outside their range; a reference row is the previous row with small changes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace solver_rows {

inline std::vector<uint16_t> regret_row(std::mt19937_64& rng, int n) {
    std::vector<uint16_t> row(static_cast<size_t>(n), 0);
    int i = 0;
    while (i < n) {
        const int run = 1 + static_cast<int>(rng() % 64);
        const int kind = static_cast<int>(rng() % 10);
        uint32_t v = static_cast<uint32_t>(rng() % 2000);
        for (int j = 0; j < run && i < n; j++, i++) {
            if (kind < 5) {
                row[i] = 0;
            } else if (kind < 7) {
                row[i] = static_cast<uint16_t>(v);
            } else {
                v += static_cast<uint32_t>(rng() % 7);
                v -= static_cast<uint32_t>(rng() % 7);
                row[i] = static_cast<uint16_t>(v);
            }
            if (rng() % 500 == 0) row[i] = static_cast<uint16_t>(rng());  // rare jump
        }
    }
    return row;
}

inline std::vector<uint32_t> strategy_row(std::mt19937_64& rng, int n) {
    std::vector<uint32_t> row(static_cast<size_t>(n), 0);
    if (n == 0) return row;
    const int from = static_cast<int>(rng() % (n / 4 + 1));
    const int to = n - static_cast<int>(rng() % (n / 4 + 1));
    double v = static_cast<double>(rng() % 100000000);
    for (int i = from; i < to; i++) {
        v += std::normal_distribution<double>(0.0, 20000.0)(rng);
        v = std::clamp(v, 0.0, 1e8);
        row[i] = static_cast<uint32_t>(v);
    }
    return row;
}

// The previous row with small changes: most values kept, some nudged.
template <typename T>
std::vector<T> changed(std::mt19937_64& rng, const std::vector<T>& prev) {
    std::vector<T> row = prev;
    for (T& v : row) {
        const uint64_t r = rng() % 16;
        if (r == 0) v = static_cast<T>(v + (rng() % 5));
        if (r == 1) v = static_cast<T>(v - (rng() % 5));
    }
    return row;
}

// {row, reference}.
inline std::pair<std::vector<uint16_t>, std::vector<uint16_t>> regret_pair(std::mt19937_64& rng,
                                                                           int n) {
    auto ref = regret_row(rng, n);
    auto row = changed(rng, ref);
    return {row, ref};
}

inline std::pair<std::vector<uint32_t>, std::vector<uint32_t>> strategy_pair(std::mt19937_64& rng,
                                                                             int n) {
    auto ref = strategy_row(rng, n);
    auto row = changed(rng, ref);
    return {row, ref};
}

template <typename T>
std::vector<T> random_row(std::mt19937_64& rng, int n) {
    std::vector<T> row(static_cast<size_t>(n));
    const int mode = static_cast<int>(rng() % 3);
    for (T& v : row) {
        const uint64_t r = rng();
        v = static_cast<T>(mode == 0 ? r : mode == 1 ? r % 300 : (r % 4 ? 0 : r));
    }
    return row;
}

inline std::pair<std::vector<uint32_t>, std::vector<uint32_t>> random32(std::mt19937_64& rng,
                                                                        int n) {
    return {random_row<uint32_t>(rng, n), random_row<uint32_t>(rng, n)};
}

inline std::pair<std::vector<uint16_t>, std::vector<uint16_t>> random16(std::mt19937_64& rng,
                                                                        int n) {
    return {random_row<uint16_t>(rng, n), random_row<uint16_t>(rng, n)};
}

}  // namespace solver_rows
