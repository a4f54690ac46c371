// Per-hand row kernels the traversal shares (EV boost, value scaling, accumulation). Nothing
// happens on a row without data or with count < 1, unless stated.
#pragma once

#include "storage/pooled_array.h"

// x > 0: x := f * x; other entries unchanged.
void ScalePositiveRow(PooledArray* row, float f);
// x >= 0: x := a * x; else x := b * x.
void ScaleRowBySign(PooledArray* row, float a, float b);
// x := f * x.
void ScaleRow(PooledArray* row, float f);
// Nothing when src has no data. dst without data first gets zeroed heap storage of its own
// count; then dst[i] += src[i] for i below dst's count (src must hold at least that many).
void AccumulateRow(PooledArray* dst, const PooledArray* src);
