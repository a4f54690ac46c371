#include "storage/thread_array_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "storage/aligned_memory.h"
#include "storage/pooled_array.h"
#include "storage/traversal_context.h"

namespace {

bool Aligned(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % 32 == 0;
}

}  // namespace

TEST(ThreadArrayPool, RowLifeRules) {
    EnsureThreadPool(100);
    PooledArray row;
    ConstructPooledArray(&row, 10, true, true);
    EXPECT_EQ(row.fromPool, 1);
    EXPECT_EQ(row.data[9], 0.0f);
    row.data[3] = 7.0f;
    float* before = row.data;
    ResizePooledArray(&row, 10, true);  // same count: data and contents stay
    EXPECT_EQ(row.data, before);
    EXPECT_EQ(row.data[3], 7.0f);
    ReleasePooledArray(&row);
    EXPECT_EQ(row.data, nullptr);
    EXPECT_EQ(row.count, 0);

    // A null row of the requested count still gets storage.
    PooledArray dropped;
    dropped.count = 12;
    ResizePooledArray(&dropped, 12, false);
    ASSERT_NE(dropped.data, nullptr);
    EXPECT_EQ(dropped.fromPool, 0);
    EXPECT_TRUE(Aligned(dropped.data));
    DropPooledArray(&dropped);
    EXPECT_EQ(dropped.count, 12);
    ReleasePooledArray(&dropped);  // a null row keeps its count
    EXPECT_EQ(dropped.count, 12);

    PooledArray a, b;
    ConstructPooledArray(&a, 5, true, true);
    MovePooledArray(&b, &a);
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(b.count, 5);
    EXPECT_EQ(b.fromPool, 1);

    TraversalContext context;
    ConstructPooledArray(&context.value, 3, false, true);
    ConstructPooledArray(&context.ownReach, 3, false, false);
    MovePooledArray(&context.bestResponse, &b);
    context.opponentReach.count = 4;
    ReleaseFourRows(&context);
    EXPECT_EQ(context.value.data, nullptr);
    EXPECT_EQ(context.bestResponse.count, 0);
    EXPECT_EQ(context.opponentReach.count, 4);
    ReleaseThreadPool();
    EXPECT_EQ(CurrentThreadPool(), nullptr);
}

TEST(ThreadArrayPool, BlockSizeBoundaryAndAlignment) {
    EnsureThreadPool(1081);
    const ThreadArrayPool* pool = CurrentThreadPool();
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->blockSize, 4u * 1081);
    PooledArray exact, over, small;
    ConstructPooledArray(&exact, 1081, false, true);
    ConstructPooledArray(&over, 1082, false, true);  // served from the heap, no exception
    ConstructPooledArray(&small, 1, false, true);
    EXPECT_EQ(exact.fromPool, 1);
    EXPECT_EQ(over.fromPool, 0);
    EXPECT_EQ(small.fromPool, 1);
    for (PooledArray* r : {&exact, &over, &small}) {
        EXPECT_TRUE(Aligned(r->data));
        std::memset(r->data, 0xff, r->count * 4);
        ReleasePooledArray(r);
    }
    EXPECT_EQ(CurrentThreadPool()->freeCount, 2u);

    // A second EnsureThreadPool for the same hand count keeps the pool and its free list.
    EnsureThreadPool(1081);
    EXPECT_EQ(CurrentThreadPool(), pool);
    EXPECT_EQ(CurrentThreadPool()->freeCount, 2u);
    EnsureThreadPool(1000);
    EXPECT_EQ(CurrentThreadPool()->freeCount, 0u);
    ReleaseThreadPool();
}

TEST(ThreadArrayPool, ResizeAndReleaseStayOffTheHeapAfterWarmUp) {
    EnsureThreadPool(1176);
    PooledArray rows[4];
    for (auto& r : rows) ResizePooledArray(&r, 1176, true);
    for (auto& r : rows) ReleasePooledArray(&r);
    const uint64_t heapCalls = ThreadHeapCalls();
    for (int i = 0; i < 1000000; ++i) {
        PooledArray& r = rows[i & 3];
        ResizePooledArray(&r, 1 + (i % 1176), true);
        if (i & 1) ReleasePooledArray(&r);
    }
    for (auto& r : rows) ReleasePooledArray(&r);
    EXPECT_EQ(ThreadHeapCalls(), heapCalls);
    ReleaseThreadPool();
}

TEST(ThreadArrayPool, BlocksReturnOnlyToAPoolOfTheirSize) {
    const int64_t start = LivePoolBlocks();
    PooledArray row;
    std::thread([&] {
        EnsureThreadPool(64);
        ConstructPooledArray(&row, 64, true, true);
        ASSERT_EQ(row.fromPool, 1);
    }).join();
    // The taking thread has ended: its pool went with it, the row's block lives on.
    EXPECT_EQ(LivePoolBlocks(), start + 1);
    std::thread([&] {
        EnsureThreadPool(128);  // a later tree with more hands
        ReleasePooledArray(&row);
        EXPECT_EQ(CurrentThreadPool()->freeCount, 0u);
    }).join();
    EXPECT_EQ(LivePoolBlocks(), start);

    // Released on a thread without a pool: to the heap as well.
    std::thread([&] {
        EnsureThreadPool(32);
        ConstructPooledArray(&row, 32, false, true);
    }).join();
    ReleasePooledArray(&row);
    EXPECT_EQ(LivePoolBlocks(), start);

    // Released on a thread whose pool has the same size: onto its free list.
    EnsureThreadPool(16);
    std::thread([&] {
        EnsureThreadPool(16);
        ConstructPooledArray(&row, 16, false, true);
    }).join();
    ReleasePooledArray(&row);
    EXPECT_EQ(CurrentThreadPool()->freeCount, 1u);
    ReleaseThreadPool();
    EXPECT_EQ(LivePoolBlocks(), start);
}

TEST(ThreadArrayPool, EndingThreadsLeaveNoBlockBehind) {
    const int64_t start = LivePoolBlocks();
    for (int round = 0; round < 100; ++round) {
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([t] {
                EnsureThreadPool(200 + t % 2);
                PooledArray rows[6];
                for (int i = 0; i < 50; ++i) {
                    PooledArray& r = rows[i % 6];
                    ResizePooledArray(&r, 1 + i * 3, true);
                    r.data[0] = 1.0f;
                    if (i % 4 == 0) ReleasePooledArray(&r);
                }
                ReleasePooledArrayRange(rows, rows + 6);
            });
        }
        for (auto& t : threads) t.join();
    }
    EXPECT_EQ(LivePoolBlocks(), start);
}

TEST(ThreadArrayPool, RowsTradedBetweenThreadsOfDifferentPoolSizes) {
    // Threads with pools of three block sizes hand rows to each other: a row released on a
    // thread whose pool has another size must not join its free list, or the next row taken
    // from that list overruns the block (AddressSanitizer sees the write past it).
    const int64_t start = LivePoolBlocks();
    std::mutex lock;
    std::vector<PooledArray> shared;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const int32_t capacity = 64 * (1 + t % 3);
            EnsureThreadPool(capacity);
            std::mt19937 rng(t);
            for (int i = 0; i < 3000; ++i) {
                PooledArray row;
                const int32_t count = 1 + static_cast<int32_t>(rng() % (capacity + 8));
                ConstructPooledArray(&row, count, false, true);
                EXPECT_TRUE(Aligned(row.data));
                for (int32_t k = 0; k < count; ++k) row.data[k] = static_cast<float>(count);
                PooledArray other;
                {
                    std::lock_guard<std::mutex> guard(lock);
                    shared.push_back(row);
                    if (shared.size() > 4) {
                        const size_t pick = rng() % shared.size();
                        other = shared[pick];
                        shared.erase(shared.begin() + pick);
                    }
                }
                if (other.data != nullptr) {
                    for (int32_t k = 0; k < other.count; ++k) {
                        ASSERT_EQ(other.data[k], static_cast<float>(other.count));
                    }
                    ReleasePooledArray(&other);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    for (PooledArray& row : shared) ReleasePooledArray(&row);
    EXPECT_EQ(LivePoolBlocks(), start);
}
