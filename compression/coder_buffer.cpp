#include "compression/coder_buffer.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "utilities/services.h"

#ifndef NLHE_PLAIN_ALLOC
#include <tbb/scalable_allocator.h>
#endif

std::atomic<int64_t> g_coder_heap_allocations{0};

namespace {

void* heap_alloc(size_t size) {
    g_coder_heap_allocations.fetch_add(1, std::memory_order_relaxed);
#ifdef NLHE_PLAIN_ALLOC
    void* p = nullptr;
    if (posix_memalign(&p, 64, size) != 0) p = nullptr;
#else
    void* p = scalable_aligned_malloc(size, 64);
#endif
    if (!p) {
        locked_print_final("out of memory\n");
        std::abort();
    }
    return p;
}

void heap_free(void* buffer) {
#ifdef NLHE_PLAIN_ALLOC
    std::free(buffer);
#else
    scalable_aligned_free(buffer);
#endif
}

#ifndef NLHE_PLAIN_ALLOC
// Enough for a few coders open at once on one thread (a pack walk holds one per player).
constexpr size_t kCachedPerSize = 128;
constexpr int kSizes = 8;

struct CoderCache {
    struct List {
        size_t size = 0;
        std::vector<void*> free;
    };
    List lists[kSizes];

    List* find(size_t size, bool create) {
        for (List& l : lists) {
            if (l.size == size) return &l;
            if (l.size == 0) {
                if (!create) return nullptr;
                l.size = size;
                l.free.reserve(kCachedPerSize);
                return &l;
            }
        }
        return nullptr;
    }
    ~CoderCache();
};

// Trivially destructible, so still readable while other thread_local objects are destroyed.
thread_local bool t_cacheGone = false;
thread_local CoderCache t_cache;

CoderCache::~CoderCache() {
    t_cacheGone = true;
    for (List& l : lists)
        for (void* p : l.free) heap_free(p);
}
#endif

}  // namespace

void* coder_buffer_alloc(size_t size) {
#ifndef NLHE_PLAIN_ALLOC
    if (!t_cacheGone) {
        CoderCache::List* l = t_cache.find(size, false);
        if (l != nullptr && !l->free.empty()) {
            void* p = l->free.back();
            l->free.pop_back();
            return p;
        }
    }
#endif
    return heap_alloc(size);
}

void coder_buffer_free(void* buffer, size_t size) {
    if (!buffer) return;
#ifndef NLHE_PLAIN_ALLOC
    if (!t_cacheGone) {
        CoderCache::List* l = t_cache.find(size, true);
        if (l != nullptr && l->free.size() < kCachedPerSize) {
            l->free.push_back(buffer);
            return;
        }
    }
#else
    (void)size;
#endif
    heap_free(buffer);
}

void coder_buffer_free(void* buffer) {
    if (buffer) heap_free(buffer);
}
