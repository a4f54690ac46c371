// SHA-1 message digest (FIPS 180-1) over strings, input streams and files, as 40 lower-case
// hexadecimal digits. Nothing in the solver calls it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

class Sha1Digest {
public:
    Sha1Digest();

    // Back to the standard's initial hash value with no input fed.
    void reset();
    // Feeds the bytes of `text`.
    void update(const std::string& text);
    // Feeds every byte that can be read from `input` until it ends or fails; the caller sees the
    // stream's state (a read error ends the input like its end).
    void update(std::istream& input);
    // The digest of everything fed since the last reset, as 40 lower-case hexadecimal digits;
    // then resets the object.
    std::string final();

    // The digest of the whole file. Throws std::system_error naming the file when it cannot be
    // opened or a read fails (a directory included).
    static std::string fromFile(const std::string& filename);

private:
    // Feeds `count` bytes: completes the pending block, hashes whole blocks in place, keeps the
    // rest pending.
    void consume(const char* bytes, size_t count);
    // Processes one block of 16 big-endian words and counts it.
    void transform(const uint32_t block[16]);

    uint32_t digest_[5];   // running hash value
    std::string buffer_;   // input not yet processed, fewer than 64 bytes between calls
    uint64_t transforms_;  // 64-byte blocks processed since the last reset
};
