// One per-hand float row (reach, values, strategies) and its life: rows come from the calling
// thread's block pool (thread_array_pool.h) or from the aligned heap.
#pragma once

#include <cstdint>

struct TraversalContext;

// Layout (the traversal moves these three fields between rows):
//   data     the row, 32-byte aligned; null means every element is 0.0
//   count    number of elements (hands); kept when a kernel drops the data to null
//   fromPool 1 when data lies in a pool block, 0 when it came from the heap; meaningful only
//            while data is non-null
struct PooledArray {
    float* data = nullptr;
    int32_t count = 0;
    uint8_t fromPool = 0;
};

// Sets the row empty, then ResizePooledArray(row, count, fromPool); writes count zeros when
// zeroFill.
void ConstructPooledArray(PooledArray* row, int32_t count, bool zeroFill, bool fromPool);

// Gives the row storage for count elements (contents undefined). A row with data already of
// that count keeps it and its contents; a row without data always gets storage. A pooled
// request takes a block of the calling thread's pool when it has one that is large enough,
// and otherwise the heap (fromPool 0). Heap failure prints "out of memory" and aborts; a
// negative count is fatal.
void ResizePooledArray(PooledArray* row, int32_t count, bool fromPool);

// Returns the data (pool block or heap) and leaves data null, count 0. A row without data is
// left untouched, its count too.
void ReleasePooledArray(PooledArray* row);

// Frees the data but keeps the count: the row becomes a zero row of the same length.
void DropPooledArray(PooledArray* row);

// Releases dst, takes src's three fields, leaves src with data null and count 0.
void MovePooledArray(PooledArray* dst, PooledArray* src);

// ReleasePooledArray on each row of [first, last), in order.
void ReleasePooledArrayRange(PooledArray* first, PooledArray* last);

// The destructor of a traversal context: releases bestResponse, ownReach, value and
// opponentReach, in that order.
void ReleaseFourRows(TraversalContext* context);
