// The byte source of saved-tree reading and the byte sink of the storages' save operations.
// Every integer and float of the saved layouts is little-endian at its natural width with no
// padding; on x86-64 that is the memory form, so the typed helpers copy bytes as they are.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// Thrown by value by every reader and by every `load` that meets corrupt data; caught by
// reference. Deliberately outside the std::exception family: the saved-tree command catches it
// by name and nothing else may swallow it.
class IOException {
public:
    explicit IOException(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

private:
    std::string message_;
};

// Abstract byte source. Readers ask for exact byte counts and never seek or look ahead.
class BinaryReader {
public:
    virtual ~BinaryReader() = default;
    // Fills destination with exactly byteCount bytes or throws IOException.
    virtual void read(void* destination, size_t byteCount) = 0;
    // Format version of the saved tree being read; -1 when unknown. Loads whose layout depends
    // on the version consult it.
    virtual int32_t formatVersion() const { return -1; }
};

// Abstract byte sink of the storages' save operations.
class BinaryWriter {
public:
    virtual ~BinaryWriter() = default;
    // Appends byteCount bytes; throws IOException when the sink cannot take them.
    virtual void write(const void* source, size_t byteCount) = 0;
};

// A BinaryReader over a C stream it owns (closed by the destructor).
class FileReader : public BinaryReader {
public:
    explicit FileReader(FILE* stream) : stream_(stream) {}
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // A count of 0 does nothing; otherwise one fread item. A short read throws IOException
    // "can't read from file (errno N)", errno cleared before the read (a short file gives 0).
    void read(void* destination, size_t byteCount) override;
    int32_t formatVersion() const override { return formatVersion_; }
    // The loader stores the file's version here once it has read it.
    void setFormatVersion(int32_t version) { formatVersion_ = version; }
    // Bytes read so far.
    uint64_t byteCount() const { return byteCount_; }
    // Gives the stream a buffer of size bytes, owned by the reader; before the first read.
    void setStreamBuffer(size_t size);

private:
    uint64_t byteCount_ = 0;
    int32_t formatVersion_ = -1;
    FILE* stream_ = nullptr;
    std::unique_ptr<char[]> streamBuffer_;  // outlives the stream: the destructor closes it first
};

// Opens path with mode "rb" and a 1 MiB stdio buffer; byte count 0, version -1. Throws IOException
// "can't open file (errno N)" when the open fails.
std::unique_ptr<FileReader> OpenFileReader(const std::string& path);

// A BinaryReader over bytes held in memory (tests, and any caller that already has a block).
// The bytes are copied. Reading past the end throws IOException
// "can't read from memory (end of data)" and leaves the position unchanged.
class MemoryReader : public BinaryReader {
public:
    explicit MemoryReader(std::vector<uint8_t> bytes, int32_t version = -1)
        : bytes_(std::move(bytes)), version_(version) {}
    void read(void* destination, size_t byteCount) override;
    int32_t formatVersion() const override { return version_; }
    size_t position() const { return position_; }
    size_t remaining() const { return bytes_.size() - position_; }

private:
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
    int32_t version_;
};

// A BinaryWriter that appends to a byte vector.
class MemoryWriter : public BinaryWriter {
public:
    void write(const void* source, size_t byteCount) override;
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

// The typed helpers below copy the memory form as the saved form.
static_assert(std::endian::native == std::endian::little, "saved layouts are little-endian");

// Reads one trivially copyable value in its saved (little-endian, unpadded) form.
template <class T>
T ReadValue(BinaryReader& in) {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    in.read(&value, sizeof(T));
    return value;
}

// Writes one trivially copyable value in its saved form.
template <class T>
void WriteValue(BinaryWriter& out, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    out.write(&value, sizeof(T));
}
