#include "utilities/sha1_digest.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace {

constexpr size_t kBlockBytes = 64;

constexpr uint32_t Rotl(uint32_t value, int bits) {
    return value << bits | value >> (32 - bits);
}

void BytesToBlock(const uint8_t* bytes, uint32_t block[16]) {
    for (int i = 0; i < 16; ++i)
        block[i] = uint32_t(bytes[4 * i]) << 24 | uint32_t(bytes[4 * i + 1]) << 16 |
                   uint32_t(bytes[4 * i + 2]) << 8 | bytes[4 * i + 3];
}

}  // namespace

Sha1Digest::Sha1Digest() {
    reset();
}

void Sha1Digest::reset() {
    digest_[0] = 0x67452301;
    digest_[1] = 0xEFCDAB89;
    digest_[2] = 0x98BADCFE;
    digest_[3] = 0x10325476;
    digest_[4] = 0xC3D2E1F0;
    buffer_.clear();
    transforms_ = 0;
}

void Sha1Digest::update(const std::string& text) {
    consume(text.data(), text.size());
}

void Sha1Digest::update(std::istream& input) {
    // Whole chunks at a time: the blocks, and what stays pending, are the same as byte by byte.
    char chunk[1 << 16];
    do {
        input.read(chunk, sizeof chunk);
        consume(chunk, static_cast<size_t>(input.gcount()));
    } while (input.gcount() == static_cast<std::streamsize>(sizeof chunk));
}

void Sha1Digest::consume(const char* bytes, size_t count) {
    uint32_t block[16];
    if (!buffer_.empty()) {
        const size_t take = std::min(count, kBlockBytes - buffer_.size());
        buffer_.append(bytes, take);
        bytes += take;
        count -= take;
        if (buffer_.size() < kBlockBytes) return;
        BytesToBlock(reinterpret_cast<const uint8_t*>(buffer_.data()), block);
        transform(block);
        buffer_.clear();
    }
    for (; count >= kBlockBytes; bytes += kBlockBytes, count -= kBlockBytes) {
        BytesToBlock(reinterpret_cast<const uint8_t*>(bytes), block);
        transform(block);
    }
    buffer_.assign(bytes, count);
}

std::string Sha1Digest::final() {
    const uint64_t total_bits = (transforms_ * kBlockBytes + buffer_.size()) * 8;
    buffer_.push_back(static_cast<char>(0x80));
    const size_t padded_from = buffer_.size();
    buffer_.resize(kBlockBytes, '\0');
    uint32_t block[16];
    BytesToBlock(reinterpret_cast<const uint8_t*>(buffer_.data()), block);
    // No room for the length after 56 or more message bytes: it goes in a block of its own.
    if (padded_from > 56) {
        transform(block);
        for (int i = 0; i < 14; ++i) block[i] = 0;
    }
    block[14] = static_cast<uint32_t>(total_bits >> 32);
    block[15] = static_cast<uint32_t>(total_bits);
    transform(block);

    char text[41];
    for (int i = 0; i < 5; ++i) std::snprintf(text + 8 * i, 9, "%08x", digest_[i]);
    reset();
    return std::string(text, 40);
}

std::string Sha1Digest::fromFile(const std::string& filename) {
    errno = 0;
    std::ifstream input(filename, std::ios::binary);
    if (!input.is_open())
        throw std::system_error(errno ? errno : EIO, std::generic_category(),
                                "can't open file '" + filename + "'");
    Sha1Digest digest;
    digest.update(input);
    if (input.bad())
        throw std::system_error(errno ? errno : EIO, std::generic_category(),
                                "can't read file '" + filename + "'");
    return digest.final();
}

void Sha1Digest::transform(const uint32_t block[16]) {
    // The schedule in a ring of 16 words, each extended just before its step.
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = block[i];
    const auto word = [&w](int i) {
        if (i >= 16)
            w[i & 15] = Rotl(w[(i - 3) & 15] ^ w[(i - 8) & 15] ^ w[(i - 14) & 15] ^ w[i & 15], 1);
        return w[i & 15];
    };
    uint32_t a = digest_[0], b = digest_[1], c = digest_[2], d = digest_[3], e = digest_[4];
    // Five steps rename the five words instead of moving them: the compiler keeps them in
    // registers.
#define SHA1_STEP(a, b, c, d, e, f, k, i)      \
    do {                                       \
        e += Rotl(a, 5) + (f) + (k) + word(i); \
        b = Rotl(b, 30);                       \
    } while (0)
#define SHA1_FIVE(f, k, i)                              \
    do {                                                \
        SHA1_STEP(a, b, c, d, e, f(b, c, d), k, i);     \
        SHA1_STEP(e, a, b, c, d, f(a, b, c), k, i + 1); \
        SHA1_STEP(d, e, a, b, c, f(e, a, b), k, i + 2); \
        SHA1_STEP(c, d, e, a, b, f(d, e, a), k, i + 3); \
        SHA1_STEP(b, c, d, e, a, f(c, d, e), k, i + 4); \
    } while (0)
    const auto choose = [](uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); };
    const auto parity = [](uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; };
    const auto majority = [](uint32_t x, uint32_t y, uint32_t z) {
        return (x & y) | (x & z) | (y & z);
    };
    for (int i = 0; i < 20; i += 5) SHA1_FIVE(choose, 0x5A827999u, i);
    for (int i = 20; i < 40; i += 5) SHA1_FIVE(parity, 0x6ED9EBA1u, i);
    for (int i = 40; i < 60; i += 5) SHA1_FIVE(majority, 0x8F1BBCDCu, i);
    for (int i = 60; i < 80; i += 5) SHA1_FIVE(parity, 0xCA62C1D6u, i);
#undef SHA1_FIVE
#undef SHA1_STEP
    digest_[0] += a;
    digest_[1] += b;
    digest_[2] += c;
    digest_[3] += d;
    digest_[4] += e;
    ++transforms_;
}
