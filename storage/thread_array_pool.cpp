#include "storage/thread_array_pool.h"

#include <atomic>

#include "cards/hand_set.h"
#include "storage/aligned_memory.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// Free blocks are poisoned so a row used after its release is caught like a heap buffer.
#define NLHE_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define NLHE_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define NLHE_POISON(p, n) ((void)(p), (void)(n))
#define NLHE_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

std::atomic<int64_t> g_liveBlocks{0};
std::atomic<int64_t> g_livePools{0};

// Fast access to the pool; trivially destructible, so reading it costs no guard.
thread_local ThreadArrayPool* t_pool = nullptr;

// Frees the pool when the thread ends. Constructed (and its destructor registered) the first
// time a pool is installed on the thread.
struct PoolOwner {
    bool armed = false;
    ~PoolOwner() { ReleaseThreadPool(); }
};
thread_local PoolOwner t_owner;

float* DataOf(PoolBlockHeader* block) {
    return reinterpret_cast<float*>(block + 1);
}
PoolBlockHeader* HeaderOf(float* data) {
    return reinterpret_cast<PoolBlockHeader*>(data) - 1;
}

void FreeBlock(PoolBlockHeader* block) {
    NLHE_UNPOISON(DataOf(block), block->blockSize);
    AlignedFree(block);
    g_liveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

void FreePoolChain(ThreadArrayPool* pool, PoolBlockHeader* block) {
    // Iterative: a long list must not cost stack depth.
    while (block != nullptr) {
        PoolBlockHeader* next = block->next;
        FreeBlock(block);
        if (pool != nullptr && pool->freeCount > 0) --pool->freeCount;
        block = next;
    }
}

void ReleaseThreadPool() {
    ThreadArrayPool* pool = t_pool;
    if (pool == nullptr) return;
    t_pool = nullptr;
    FreePoolChain(pool, pool->freeList);
    delete pool;
    g_livePools.fetch_sub(1, std::memory_order_relaxed);
}

void EnsureThreadPool(int32_t handCount) {
    const uint64_t blockSize = static_cast<uint64_t>(handCount < 0 ? 0 : handCount) * 4;
    if (t_pool != nullptr && t_pool->blockSize == blockSize) return;
    ReleaseThreadPool();
    t_owner.armed = true;
    t_pool = new ThreadArrayPool{blockSize, nullptr, 0};
    g_livePools.fetch_add(1, std::memory_order_relaxed);
}

int64_t LiveThreadPools() {
    return g_livePools.load(std::memory_order_relaxed);
}

ThreadArrayPool* CurrentThreadPool() {
    return t_pool;
}

float* TakePoolBlock(size_t bytes) {
    ThreadArrayPool* pool = t_pool;
    if (pool == nullptr || bytes > pool->blockSize) return nullptr;
    PoolBlockHeader* block = pool->freeList;
    if (block != nullptr) {
        pool->freeList = block->next;
        --pool->freeCount;
    } else {
        block = static_cast<PoolBlockHeader*>(
            AlignedAllocOrDie(sizeof(PoolBlockHeader) + pool->blockSize));
        block->blockSize = pool->blockSize;
        g_liveBlocks.fetch_add(1, std::memory_order_relaxed);
    }
    block->next = nullptr;
    NLHE_UNPOISON(DataOf(block), bytes);
    return DataOf(block);
}

void ReturnPoolBlock(float* data) {
    PoolBlockHeader* block = HeaderOf(data);
    ThreadArrayPool* pool = t_pool;
    if (pool == nullptr || pool->blockSize != block->blockSize) {
        FreeBlock(block);
        return;
    }
    NLHE_POISON(data, block->blockSize);
    block->next = pool->freeList;
    pool->freeList = block;
    ++pool->freeCount;
}

int64_t LivePoolBlocks() {
    return g_liveBlocks.load(std::memory_order_relaxed);
}

void EnsureThreadPool(const HandSet& hands) {
    EnsureThreadPool(static_cast<int32_t>(hands.hands.size()));
}
