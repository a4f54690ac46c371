// The aligned heap of per-hand rows and pool blocks: the TBB scalable allocator, or plain
// aligned_alloc in the sanitizer build (NLHE_PLAIN_ALLOC) so that every buffer is visible.
#pragma once

#include <cstddef>
#include <cstdint>

// Alignment of every row, pool block and storage row: one AVX2 vector.
inline constexpr size_t kRowAlignment = 32;

// Aligned allocation of at least `bytes` bytes (a request of 0 still gets a valid block).
// Returns null on failure.
void* AlignedAlloc(size_t bytes, size_t alignment = kRowAlignment);
// Like AlignedAlloc, but a failure prints "out of memory" and aborts the process.
void* AlignedAllocOrDie(size_t bytes, size_t alignment = kRowAlignment);
// Frees what AlignedAlloc returned; null is ignored.
void AlignedFree(void* p);

// Number of AlignedAlloc and AlignedFree calls made by the calling thread (tests and benchmarks
// check that pooled rows stay off the heap). Thread-local, so it costs no shared cache line.
uint64_t ThreadHeapCalls();

// Hands freed heap memory back to the system: the C library's free pages and the scalable
// allocator's cached buffers (otherwise kept for reuse and still counted as resident).
void ReturnFreedMemory();

// Prints "out of memory" with puts and aborts.
[[noreturn]] void OutOfMemory();
