#include "storage/binary_io.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <numeric>
#include <string>

namespace {

// A temporary file holding the given bytes, removed at scope end.
struct TempFile {
    std::string path;
    explicit TempFile(const std::vector<uint8_t>& bytes) {
        char name[] = "/tmp/nlhe_binary_io_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
        path = name;
    }
    ~TempFile() { std::remove(path.c_str()); }
};

}  // namespace

TEST(FileReader, ReadsInPiecesCountsBytesAndFailsPastTheEnd) {
    std::vector<uint8_t> bytes(100);
    std::iota(bytes.begin(), bytes.end(), 0);
    TempFile file(bytes);
    auto reader = OpenFileReader(file.path);
    EXPECT_EQ(reader->formatVersion(), -1);
    EXPECT_EQ(reader->byteCount(), 0u);

    uint8_t a[10];
    reader->read(a, 10);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(a[9], 9);
    reader->read(nullptr, 0);  // nothing at all, not even a null dereference
    EXPECT_EQ(ReadValue<uint32_t>(*reader), 0x0d0c0b0au);  // little-endian
    EXPECT_EQ(reader->byteCount(), 14u);
    reader->setFormatVersion(5);
    EXPECT_EQ(reader->formatVersion(), 5);

    std::vector<uint8_t> rest(86);
    reader->read(rest.data(), rest.size());
    EXPECT_EQ(rest.back(), 99);
    EXPECT_EQ(reader->byteCount(), 100u);

    try {
        ReadValue<uint8_t>(*reader);
        FAIL() << "read past the end succeeded";
    } catch (const IOException& e) {
        EXPECT_EQ(e.message().rfind("can't read from file (errno ", 0), 0u) << e.message();
        EXPECT_EQ(e.message().back(), ')');
    }
    EXPECT_EQ(reader->byteCount(), 100u);
}

TEST(FileReader, OpeningAMissingPathReportsErrno) {
    try {
        OpenFileReader("/nonexistent/dir/no_such_file.bin");
        FAIL() << "open succeeded";
    } catch (const IOException& e) {
        EXPECT_EQ(e.message(), "can't open file (errno 2)");
    }
}

TEST(MemoryStreams, RoundTripAndShortRead) {
    MemoryWriter out;
    WriteValue<int16_t>(out, -2);
    WriteValue<float>(out, 1.5f);
    out.write(nullptr, 0);
    EXPECT_EQ(out.bytes().size(), 6u);
    EXPECT_EQ(out.bytes()[0], 0xfe);
    EXPECT_EQ(out.bytes()[1], 0xff);

    MemoryReader in(out.take(), 7);
    EXPECT_EQ(in.formatVersion(), 7);
    EXPECT_EQ(ReadValue<int16_t>(in), -2);
    uint8_t big[8];
    EXPECT_THROW(in.read(big, 5), IOException);
    EXPECT_EQ(in.position(), 2u);  // a failed read consumes nothing
    EXPECT_EQ(ReadValue<float>(in), 1.5f);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_EQ(MemoryReader({}).formatVersion(), -1);
}
