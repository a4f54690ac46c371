// Aligned buffers of the row coders: from the scalable allocator, or plain aligned memory in the
// sanitizer build so every buffer is checked. Each thread keeps the buffers it frees in a small
// cache by size, so a steady state of coding passes allocates nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// A buffer of size bytes aligned to 64, from the calling thread's cache when it holds one of that
// size; a failed allocation prints "out of memory" and aborts.
void* coder_buffer_alloc(size_t size);
// Returns a buffer of coder_buffer_alloc of that size to the calling thread's cache (or frees it
// when the cache is full, gone, or the build is the sanitizer's); null is ignored. The cache is
// freed when its thread ends.
void coder_buffer_free(void* buffer, size_t size);
// Frees a buffer of coder_buffer_alloc straight away; null is ignored.
void coder_buffer_free(void* buffer);

// Test hook: real heap allocations made by the row coders and the compressed stream (coder
// buffers and objects, buffer tables and their buffers, joined buffers).
extern std::atomic<int64_t> g_coder_heap_allocations;

// Coder objects come from the same per-thread cache.
#define NLHE_CODER_CACHED_ALLOCATION                    \
    static void* operator new(size_t size) {            \
        return coder_buffer_alloc(size);                \
    }                                                   \
    static void operator delete(void* p, size_t size) { \
        coder_buffer_free(p, size);                     \
    }
