#include "compression/coder_buffer.h"

#include <cstdio>
#include <cstdlib>

#include "utilities/services.h"

#ifndef NLHE_PLAIN_ALLOC
#include <tbb/scalable_allocator.h>
#endif

void* coder_buffer_alloc(size_t size) {
#ifdef NLHE_PLAIN_ALLOC
    void* p = nullptr;
    if (posix_memalign(&p, 64, size) != 0) p = nullptr;
#else
    void* p = scalable_aligned_malloc(size, 64);
#endif
    if (!p) {
        locked_printf_flush("out of memory\n");
        std::abort();
    }
    return p;
}

void coder_buffer_free(void* buffer) {
    if (!buffer) return;
#ifdef NLHE_PLAIN_ALLOC
    std::free(buffer);
#else
    scalable_aligned_free(buffer);
#endif
}
