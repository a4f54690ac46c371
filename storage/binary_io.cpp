#include "storage/binary_io.h"

#include <cerrno>
#include <cstring>

FileReader::~FileReader() {
    if (stream_ != nullptr) std::fclose(stream_);
}

void FileReader::read(void* destination, size_t byteCount) {
    if (byteCount == 0) return;
    // A short file leaves errno alone: clear it so the reply says 0, not a stale number.
    errno = 0;
    if (std::fread(destination, byteCount, 1, stream_) != 1) {
        throw IOException("can't read from file (errno " + std::to_string(errno) + ")");
    }
    byteCount_ += byteCount;
}

std::unique_ptr<FileReader> OpenFileReader(const std::string& path) {
    errno = 0;
    FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        throw IOException("can't open file (errno " + std::to_string(errno) + ")");
    }
    auto reader = std::make_unique<FileReader>(stream);
    reader->setStreamBuffer(size_t{1} << 20);
    return reader;
}

void FileReader::setStreamBuffer(size_t size) {
    streamBuffer_ = std::make_unique_for_overwrite<char[]>(size);  // no 1 MiB of zeros per open
    std::setvbuf(stream_, streamBuffer_.get(), _IOFBF, size);
}

void MemoryReader::read(void* destination, size_t byteCount) {
    if (byteCount == 0) return;
    if (byteCount > remaining()) throw IOException("can't read from memory (end of data)");
    std::memcpy(destination, bytes_.data() + position_, byteCount);
    position_ += byteCount;
}

void MemoryWriter::write(const void* source, size_t byteCount) {
    if (byteCount == 0) return;
    const auto* p = static_cast<const uint8_t*>(source);
    bytes_.insert(bytes_.end(), p, p + byteCount);
}
