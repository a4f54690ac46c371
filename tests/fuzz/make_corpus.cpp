// Writes the seed corpora of the fuzz targets (scripts/fuzz corpus): coded blocks of several
// shapes, sources to code, and small valid row passes in the row decoder target's layout.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "../compression/byte_sources.h"
#include "../compression/memory_streams.h"
#include "../compression/solver_rows.h"
#include "compression/fse_block.h"
#include "compression/row_coder.h"

namespace {

void write_file(const std::string& dir, int index, const std::vector<uint8_t>& bytes) {
    const std::string path = dir + "/seed" + std::to_string(index);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void block_seeds(const std::string& root) {
    std::mt19937_64 rng(1);
    int k = 0;
    for (size_t size : {12, 60, 300, 1500, 4000}) {
        for (int shape = 0; shape < byte_sources::kShapes; shape++) {
            const auto src = byte_sources::make(static_cast<byte_sources::Shape>(shape), size, rng);
            write_file(root + "/fse_round_trip", k, src);
            std::vector<uint8_t> block(FSE_compressBound(size));
            const size_t r = FSE_compress(block.data(), block.size(), src.data(), size);
            if (r >= 2) {
                block.resize(r);
                block.insert(block.begin(),
                             {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8)});
                write_file(root + "/fse_decompress", k, block);
            }
            k++;
        }
    }
}

// The layout of the row decoder target: flags, u16 n, row count, then 24 {u16 length, bytes}.
template <typename T>
std::vector<uint8_t> row_seed(std::mt19937_64& rng, int n, int rows, bool withRef,
                              int kind = kFSECoder) {
    std::vector<T> ref(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        const uint32_t v = static_cast<uint32_t>(i) * 2654435761u;
        ref[i] = sizeof(T) == 2 ? static_cast<T>(v >> 16) : static_cast<T>(v);
    }
    MemoryStreams ms;
    CompressionStats stats{};
    CompressorInterface* c =
        MakeCompressor(kind, nullptr, nullptr, MemoryStreams::write, &ms, &stats);
    for (int r = 0; r < rows; r++) {
        std::vector<T> row =
            r % 2 ? solver_rows::changed(rng, ref) : solver_rows::random_row<T>(rng, n);
        if constexpr (sizeof(T) == 4)
            CompressRow32(c, row.data(), withRef ? ref.data() : nullptr, n);
        else
            CompressRow16(c, row.data(), withRef ? ref.data() : nullptr, n);
    }
    DeleteCompressor(c);
    const int kindBits = kind == kFSECoder ? 0 : kind + 1;
    std::vector<uint8_t> out = {
        static_cast<uint8_t>((sizeof(T) == 2) | (withRef << 1) | (kindBits << 2)),
        static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(rows)};
    for (int s = 0; s < 24; s++) {
        std::vector<uint8_t>& bytes = ms.streams[s];
        if (s == 0) bytes.erase(bytes.begin());  // the target puts the kind byte back
        out.push_back(static_cast<uint8_t>(bytes.size()));
        out.push_back(static_cast<uint8_t>(bytes.size() >> 8));
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

void row_seeds(const std::string& root) {
    std::mt19937_64 rng(2);
    int k = 0;
    for (int n : {0, 5, 8, 9, 40, 300}) {
        for (int withRef = 0; withRef < 2; withRef++) {
            const int rows = 1 + k % 15;
            write_file(root + "/row_decoder", k, row_seed<uint32_t>(rng, n, rows, withRef));
            write_file(root + "/row_decoder", k + 1, row_seed<uint16_t>(rng, n, rows, withRef));
            write_file(root + "/row_decoder", k + 100,
                       row_seed<uint32_t>(rng, n, rows, withRef, kRangeCoder));
            write_file(root + "/row_decoder", k + 101,
                       row_seed<uint16_t>(rng, n, rows, withRef, kFastCoder));
            k += 2;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus CORPUS_DIR\n");
        return 2;
    }
    block_seeds(argv[1]);
    row_seeds(argv[1]);
    return 0;
}
