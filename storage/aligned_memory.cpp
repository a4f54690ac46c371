#include "storage/aligned_memory.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>

#ifndef NLHE_PLAIN_ALLOC
#include <tbb/scalable_allocator.h>
#endif

namespace {
thread_local uint64_t t_heapCalls = 0;
}

void* AlignedAlloc(size_t bytes, size_t alignment) {
    ++t_heapCalls;
    if (bytes == 0) bytes = alignment;
#ifdef NLHE_PLAIN_ALLOC
    bytes = (bytes + alignment - 1) / alignment * alignment;  // aligned_alloc's contract
    return std::aligned_alloc(alignment, bytes);
#else
    return scalable_aligned_malloc(bytes, alignment);
#endif
}

void* AlignedAllocOrDie(size_t bytes, size_t alignment) {
    void* p = AlignedAlloc(bytes, alignment);
    if (p == nullptr) OutOfMemory();
    return p;
}

void AlignedFree(void* p) {
    if (p == nullptr) return;
    ++t_heapCalls;
#ifdef NLHE_PLAIN_ALLOC
    std::free(p);
#else
    scalable_aligned_free(p);
#endif
}

void ReturnFreedMemory() {
#ifndef NLHE_PLAIN_ALLOC
    scalable_allocation_command(TBBMALLOC_CLEAN_ALL_BUFFERS, nullptr);
#endif
    malloc_trim(0);
}

uint64_t ThreadHeapCalls() {
    return t_heapCalls;
}

void OutOfMemory() {
    std::puts("out of memory");
    std::fflush(stdout);
    std::abort();
}
