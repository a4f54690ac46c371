// Per-thread pool of fixed-size row blocks. Each thread owns its pool through a thread_local
// owner whose destructor frees the free list, so a thread that ends leaves nothing behind.
//
// Block layout: a 32-byte header {next free block, usable bytes} followed by the row data, one
// aligned allocation of header + blockSize bytes. The header's size lets any thread decide
// where a released block belongs: the free list of a pool of the same block size, else the heap.
#pragma once

#include <cstddef>
#include <cstdint>

struct HandSet;

struct PoolBlockHeader {
    PoolBlockHeader* next;  // next free block; null at the end of the list and while in use
    uint64_t blockSize;     // usable bytes behind the header
    uint64_t reserved[2];   // pads the header to one vector so the data stays 32-byte aligned
};
static_assert(sizeof(PoolBlockHeader) == 32);

// Layout:
//   blockSize  usable bytes per block: 4 x the live hand count of the tree being solved
//   freeList   head of the singly linked list of free blocks
//   freeCount  blocks on the list
struct ThreadArrayPool {
    uint64_t blockSize = 0;
    PoolBlockHeader* freeList = nullptr;
    uint64_t freeCount = 0;
};

// Makes the calling thread's pool fit rows of handCount floats: a pool of that block size is
// kept with its free list; any other pool is destroyed and replaced by an empty one.
void EnsureThreadPool(int32_t handCount);
// The same for the live hand count of a hand set (its flop-level hands list).
void EnsureThreadPool(const HandSet& hands);

// Destroys the calling thread's pool (free list and record) and leaves it without one. Blocks
// still held by rows go to the heap when released. The tree's tear-down runs this on every
// thread of its team.
void ReleaseThreadPool();

// The calling thread's pool, null when it has none.
ThreadArrayPool* CurrentThreadPool();
// Pools of all threads that exist; with none, a tear-down has no team to ask.
int64_t LiveThreadPools();

// Frees a chain of free blocks starting at block to the heap.
void FreePoolChain(ThreadArrayPool* pool, PoolBlockHeader* block);

// Takes a block for a row of `bytes` bytes from the calling thread's pool and returns its data
// pointer, or null when the thread has no pool or the request exceeds the block size. A new
// block's allocation failure prints "out of memory" and aborts.
float* TakePoolBlock(size_t bytes);
// Returns a block by its data pointer: onto the calling thread's free list when its pool has
// the block's size, else to the heap.
void ReturnPoolBlock(float* data);

// Pool blocks of all threads that exist (in use or free); tests check it returns to its start.
int64_t LivePoolBlocks();
