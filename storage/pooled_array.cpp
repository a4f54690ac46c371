#include "storage/pooled_array.h"

#include <cstring>

#include "storage/aligned_memory.h"
#include "storage/thread_array_pool.h"
#include "storage/traversal_context.h"
#include "utilities/services.h"

namespace {

void FreeData(PooledArray* row) {
    if (row->fromPool) {
        ReturnPoolBlock(row->data);
    } else {
        AlignedFree(row->data);
    }
    row->data = nullptr;
    row->fromPool = 0;
}

}  // namespace

void ConstructPooledArray(PooledArray* row, int32_t count, bool zeroFill, bool fromPool) {
    row->data = nullptr;
    row->count = 0;
    row->fromPool = 0;
    ResizePooledArray(row, count, fromPool);
    if (zeroFill && count > 0) std::memset(row->data, 0, static_cast<size_t>(count) * 4);
}

void ResizePooledArray(PooledArray* row, int32_t count, bool fromPool) {
    if (count == row->count && row->data != nullptr) return;
    if (count < 0) fail_fatal("negative row length");
    if (row->data != nullptr) FreeData(row);
    row->count = count;
    const size_t bytes = static_cast<size_t>(count) * 4;
    if (fromPool) {
        if (float* block = TakePoolBlock(bytes)) {
            row->data = block;
            row->fromPool = 1;
            return;
        }
    }
    // Requests the pool cannot serve (no pool on this thread, or a row longer than the pool's
    // blocks after a tree with more live hands) are served by the heap.
    row->data = static_cast<float*>(AlignedAllocOrDie(bytes));
    row->fromPool = 0;
}

void ReleasePooledArray(PooledArray* row) {
    if (row->data == nullptr) return;
    FreeData(row);
    row->count = 0;
}

void DropPooledArray(PooledArray* row) {
    if (row->data != nullptr) FreeData(row);
}

void MovePooledArray(PooledArray* dst, PooledArray* src) {
    if (dst == src) return;
    ReleasePooledArray(dst);
    *dst = *src;
    src->data = nullptr;
    src->count = 0;
    src->fromPool = 0;
}

void ReleasePooledArrayRange(PooledArray* first, PooledArray* last) {
    for (; first != last; ++first) ReleasePooledArray(first);
}

void ReleaseFourRows(TraversalContext* context) {
    ReleasePooledArray(&context->bestResponse);
    ReleasePooledArray(&context->ownReach);
    ReleasePooledArray(&context->value);
    ReleasePooledArray(&context->opponentReach);
}
