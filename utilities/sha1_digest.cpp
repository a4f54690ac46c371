#include "utilities/sha1_digest.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

constexpr size_t kBlockBytes = 64;

constexpr uint32_t Rotl(uint32_t value, int bits) {
    return value << bits | value >> (32 - bits);
}

void BytesToBlock(const std::string& bytes, uint32_t block[16]) {
    for (int i = 0; i < 16; ++i) {
        const auto byte = [&](int j) { return static_cast<uint32_t>(uint8_t(bytes[4 * i + j])); };
        block[i] = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    }
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
    std::istringstream input(text);
    update(input);
}

void Sha1Digest::update(std::istream& input) {
    char chunk[kBlockBytes];
    for (;;) {
        input.read(chunk, static_cast<std::streamsize>(kBlockBytes - buffer_.size()));
        buffer_.append(chunk, static_cast<size_t>(input.gcount()));
        if (buffer_.size() < kBlockBytes) return;
        uint32_t block[16];
        BytesToBlock(buffer_, block);
        transform(block);
        buffer_.clear();
    }
}

std::string Sha1Digest::final() {
    const uint64_t total_bits = (transforms_ * kBlockBytes + buffer_.size()) * 8;
    buffer_.push_back(static_cast<char>(0x80));
    const size_t padded_from = buffer_.size();
    buffer_.resize(kBlockBytes, '\0');
    uint32_t block[16];
    BytesToBlock(buffer_, block);
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
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) w[i] = block[i];
    for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = digest_[0], b = digest_[1], c = digest_[2], d = digest_[3], e = digest_[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t temp = Rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = temp;
    }
    digest_[0] += a;
    digest_[1] += b;
    digest_[2] += c;
    digest_[3] += d;
    digest_[4] += e;
    ++transforms_;
}
