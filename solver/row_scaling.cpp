#include "solver/row_scaling.h"

#include <cstring>

void ScalePositiveRow(PooledArray* row, float f) {
    if (row->data == nullptr || row->count < 1) return;
    for (int32_t i = 0; i < row->count; ++i) {
        if (row->data[i] > 0.0f) row->data[i] *= f;
    }
}

void ScaleRowBySign(PooledArray* row, float a, float b) {
    if (row->data == nullptr || row->count < 1) return;
    for (int32_t i = 0; i < row->count; ++i) {
        const float x = row->data[i];
        row->data[i] = x >= 0.0f ? a * x : b * x;
    }
}

void ScaleRow(PooledArray* row, float f) {
    if (row->data == nullptr || row->count < 1) return;
    for (int32_t i = 0; i < row->count; ++i) row->data[i] *= f;
}

void AccumulateRow(PooledArray* dst, const PooledArray* src) {
    if (src->data == nullptr) return;
    if (dst->data == nullptr) {
        ResizePooledArray(dst, dst->count, false);
        if (dst->count > 0) std::memset(dst->data, 0, sizeof(float) * dst->count);
    }
    for (int32_t i = 0; i < dst->count; ++i) dst->data[i] += src->data[i];
}
