#include "utilities/sha1_digest.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <system_error>

#include "utilities_support.h"

namespace {

// The FIPS 180-1 test messages, whole, split in two calls, and fed as a stream.
TEST(Sha1Digest, PublishedVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    Sha1Digest digest;
    for (const auto& [message, expected] : vectors) {
        digest.update(message);
        EXPECT_EQ(digest.final(), expected);
        const size_t half = message.size() / 2;
        digest.update(message.substr(0, half));
        digest.update(message.substr(half));
        EXPECT_EQ(digest.final(), expected);
        std::istringstream stream(message);
        digest.update(stream);
        EXPECT_EQ(digest.final(), expected);
    }
}

// Every length 0..200 of random bytes, whole and in random pieces through one reused object,
// against sha1sum; then a multi-megabyte file through fromFile.
TEST(Sha1Digest, AgreesWithSha1sum) {
    ScratchDir dir;
    std::mt19937 rng(6102);
    std::vector<std::string> messages;
    std::string names;
    for (int length = 0; length <= 200; ++length) {
        std::string bytes(length, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        messages.push_back(bytes);
        WriteFile(dir.file(std::to_string(length)), bytes);
        names += ' ';
        names += std::to_string(length);
    }
    std::string big(5 * 1024 * 1024 + 37, '\0');
    for (char& c : big) c = static_cast<char>(rng());
    WriteFile(dir.file("big"), big);
    names += " big";

    std::istringstream sums(RunCommand("cd " + dir.file("") + " && sha1sum" + names));
    Sha1Digest digest;
    for (const std::string& bytes : messages) {
        std::string expected, name;
        ASSERT_TRUE(sums >> expected >> name);
        digest.update(bytes);
        EXPECT_EQ(digest.final(), expected) << bytes.size();
        for (size_t at = 0; at < bytes.size();) {
            const size_t piece = std::min<size_t>(rng() % 70, bytes.size() - at);
            digest.update(bytes.substr(at, piece));
            at += piece;
        }
        EXPECT_EQ(digest.final(), expected) << bytes.size() << " in pieces";
    }
    std::string expected, name;
    ASSERT_TRUE(sums >> expected >> name);
    EXPECT_EQ(Sha1Digest::fromFile(dir.file("big")), expected);
}

TEST(Sha1Digest, FromFileThrowsWhenTheFileCannotBeRead) {
    ScratchDir dir;
    for (const std::string& path : {dir.file("missing"), dir.file("")}) {
        try {
            Sha1Digest::fromFile(path);
            ADD_FAILURE() << path;
        } catch (const std::system_error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

}  // namespace
