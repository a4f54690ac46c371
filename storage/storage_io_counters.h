// Process-wide traffic counters of the storage streams. Every stream updates them with atomic
// operations from whatever thread finishes it; no lock.
#pragma once

#include <atomic>
#include <cstdint>

struct StorageIoCounters {
    std::atomic<int64_t> rawBytes{0};        // unpacked bytes written (finish)
    std::atomic<int64_t> allocatedBytes{0};  // buffer bytes held by finished streams (finish)
    std::atomic<int64_t> peakValue{0};       // largest peak figure of any stream (finish, CAS max)
    std::atomic<int64_t> bytesRead{0};       // packed bytes read (tallyBytes)
    std::atomic<int64_t> bytesWritten{0};    // packed bytes written (finish)
    std::atomic<int64_t> heldBytes{0};       // buffer bytes of live streams of both kinds, now
};

// The one set of counters, all 0 at start-up.
extern StorageIoCounters g_storage_io;

// Raises peakValue to at least value (compare-and-swap loop).
void RaiseStoragePeak(int64_t value);

// Zeroes bytesRead and bytesWritten (when a tree's storage is allocated).
void ResetStorageTraffic();
