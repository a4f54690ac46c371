// Kernels that combine per-hand rows. A row without data is a row of zeros of its count: the
// kernels skip it, and some drop a result back to null when it has become negligible. Loops run
// over the destination's count unless said otherwise. A destination that must be written and
// has no data first gets zeroed heap storage of its own count ("dst allocated" below).
// A row with data shorter than the count a kernel reads is a broken invariant: fail_fatal
// "row length". Allocation failure prints "out of memory" and aborts.
// Maps are lists of hand positions (below 32768) into the other row.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/pooled_array.h"

struct NodeData;
struct RiverRecord;

// dst[i] = src[map[i]] for i < dst.count. Null src: dst dropped to null, count kept.
void GatherRow(PooledArray* dst, const PooledArray* src, const uint16_t* map);
// dst resized (pooled) to the record's hand count, then GatherRow through the record's map 0:
// a parent-level row to a river-level row. Null src: dst a null row of the record's count.
void GatherRowToRecord(const RiverRecord& record, PooledArray* dst, const PooledArray* src);

// dst[map[i]] += src[i] for i < src.count. Null src: nothing. dst allocated when null.
void ScatterAddRow(PooledArray* dst, const PooledArray* src, const uint16_t* map);
void ScatterAddRowByMap(PooledArray* dst, const PooledArray* src, const std::vector<uint16_t>& map);
// The river-level row added into the parent-level row once through each of the record's
// weight maps, so every suit-isomorphic river card contributes.
void ScatterRowFromRecord(const RiverRecord& record, PooledArray* dst, const PooledArray* src);

// a[i] *= b[i]. Null b: a dropped, a.count = b.count. When the products sum below FLT_MIN (an
// empty row included; a NaN sum is not below) a is dropped with its count kept.
void MultiplyRowInPlace(PooledArray* a, const PooledArray* b);
// dst resized (heap) to a.count, dst[i] = a[i] * b[i], dropped (count kept) when the products
// sum below FLT_MIN; a null b gives a dropped dst. Null a: fatal ("fail") when dst has data,
// else dst.count = a.count and nothing else.
void MultiplyRowsSparse(PooledArray* dst, const PooledArray* a, const PooledArray* b);
// dst resized (pooled) to a.count, dst[i] = a[i] * b[i]. a or b null: dst dropped,
// dst.count = a.count.
void MultiplyRows(PooledArray* dst, const PooledArray* a, const PooledArray* b);
// dst resized (heap) to a.count, dst[i] = mask[i] != 0 ? a[i] * b[i] : a[i]. a or b null: dst
// dropped, dst.count = a.count.
void MultiplyRowsMasked(PooledArray* dst, const PooledArray* a, const PooledArray* b,
                        const uint8_t* mask);

// dst[i] = fma(a[i], b[i], dst[i]). a or b null: nothing at all (dst stays null). Otherwise dst
// allocated when null. Takes the 512-bit form when avx512_usable(); both forms give the same
// bits.
void AccumulateProduct(PooledArray* dst, const PooledArray* a, const PooledArray* b);
// The two forms on raw rows of n floats. The 512-bit form may run only where the processor
// supports AVX-512 (avx512_supported()).
void AccumulateProduct256(float* dst, const float* a, const float* b, int32_t n);
void AccumulateProduct512(float* dst, const float* a, const float* b, int32_t n);

// dst[i] = max(dst[i], src[i]); null src: max(dst[i], 0). dst allocated when null.
// max(x, y) is x > y ? x : y throughout.
void MaxRowInPlace(PooledArray* dst, const PooledArray* src);
// mask[i] != 0: dst[i] = fma(a[i], b[i], dst[i]); mask[i] == 0: dst[i] = max(a[i], dst[i]).
// dst allocated when null. a or b null: masked hands unchanged, the others max(dst[i], 0).
void MaxOrAccumulateMasked(PooledArray* dst, const PooledArray* a, const PooledArray* b,
                           const uint8_t* mask);
// dst[i] = fma(scale, src[i], dst[i]). Null src: nothing. dst allocated when null.
void ScaleAddRow(PooledArray* dst, const PooledArray* src, float scale);
// Nothing when the record's done byte is set. Else row k of the record (given src.count zeroed
// heap floats when it has no data: these rows outlive the traversal) += (float)scale * src.
// Null src: only the allocation.
void AddScaledToNodeData(NodeData* record, int32_t k, const PooledArray* src, double scale);
// dst[i] -= src[i]. Null src: nothing. dst allocated when null.
void SubtractRow(PooledArray* dst, const PooledArray* src);
// dst[i] = max(dst[i], v). dst allocated when null (giving max(0, v)).
void ClampRowBelow(PooledArray* dst, float v);
