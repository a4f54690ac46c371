// Replays the checked-in fuzz corpora (tests/fuzz/corpus/<target>) through the fuzz targets'
// bodies, so the sanitizer build checks them on every run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../fuzz/fuzz_targets.h"

namespace {

int replay(const std::string& target, int (*body)(const uint8_t*, size_t)) {
    const std::filesystem::path dir =
        std::filesystem::path(NLHE_TEST_DATA_DIR) / "fuzz" / "corpus" / target;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        body(bytes.data(), bytes.size());
        files++;
    }
    return files;
}

TEST(FuzzCorpus, FseDecompress) {
    EXPECT_GT(replay("fse_decompress", fuzz::fse_decompress), 10);
}

TEST(FuzzCorpus, FseRoundTrip) {
    EXPECT_GT(replay("fse_round_trip", fuzz::fse_round_trip), 10);
}

TEST(FuzzCorpus, RowDecoder) {
    EXPECT_GT(replay("row_decoder", fuzz::row_decoder), 10);
}

}  // namespace
