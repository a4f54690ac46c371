// The row stream of the river storages: rows are written one after another when a turn card's
// river rows are packed and read back in the same order, with the same counts and the same
// reference rows, when they are unpacked. Kind 1 is FastStorageStream (storage/), kind 2 the
// compressed stream of compression/.
#pragma once

#include <atomic>
#include <cstdint>

#include "storage/binary_io.h"

class StorageStreamInterface {
public:
    virtual ~StorageStreamInterface() = default;

    // Starts a writing pass from the beginning; the buffer stays. Returns 0.
    virtual int64_t reset() = 0;
    // Ends a writing pass: adds the stream's figures to StorageIoCounters.
    virtual void finish() = 0;
    // True once rows were written (or loaded).
    virtual bool hasData() const = 0;
    // Starts a reading pass from the beginning.
    virtual void rewind() = 0;
    // Ends a reading pass: adds the bytes read to StorageIoCounters::bytesRead and returns that
    // counter.
    virtual std::atomic<int64_t>* tallyBytes() = 0;

    // Append a row of n values. reference is the row written just before at the same place of
    // the previous record when that record has at least as many hands, else null; a stream may
    // code against it. Return the logical (unpacked) byte count before the row.
    virtual int64_t writeRow(const uint32_t* row, const uint32_t* reference, int32_t n) = 0;
    virtual int64_t writeRow16(const uint16_t* row, const uint16_t* reference, int32_t n) = 0;
    // Read the next row of n values; the reference must be the one used when writing. Return
    // the read position before the row.
    virtual int64_t readRow(uint32_t* row, const uint32_t* reference, int32_t n) = 0;
    virtual int64_t readRow16(uint16_t* row, const uint16_t* reference, int32_t n) = 0;

    // Write / read one self-contained block of a saved tree. load throws IOException on a
    // malformed block.
    virtual void save(BinaryWriter& out) = 0;
    virtual void load(BinaryReader* in) = 0;

    // Lifts the cap on the stream's growth to at least bytes (a stream loaded from a file
    // carries the file's reserve, which may be below what the next write-back needs).
    virtual void raiseReserve(int64_t bytes) = 0;
    // True once a read met bytes the stream does not hold (a damaged saved block); such reads
    // give zeros.
    virtual bool damaged() const { return false; }
};
