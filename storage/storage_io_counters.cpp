#include "storage/storage_io_counters.h"

StorageIoCounters g_storage_io;

void RaiseStoragePeak(int64_t value) {
    int64_t seen = g_storage_io.peakValue.load(std::memory_order_relaxed);
    while (seen < value &&
           !g_storage_io.peakValue.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

void ResetStorageTraffic() {
    g_storage_io.bytesRead.store(0, std::memory_order_relaxed);
    g_storage_io.bytesWritten.store(0, std::memory_order_relaxed);
}
