#include "storage/row_packing.h"

#include <immintrin.h>

#include <array>
#include <cstring>

namespace {

// Payload bytes of a group by its code.
constexpr int kPayload16[4] = {0, 8, 12, 16};
constexpr int kPayload32[4] = {0, 8, 16, 32};

// Payload bytes of a whole block by its header byte, so the checked decoder tests the room once.
template <const int* kPayload>
constexpr std::array<uint8_t, 256> BlockPayloadTable() {
    std::array<uint8_t, 256> table{};
    for (int h = 0; h < 256; ++h) {
        table[h] = uint8_t(kPayload[h & 3] + kPayload[(h >> 2) & 3] + kPayload[(h >> 4) & 3] +
                           kPayload[(h >> 6) & 3]);
    }
    return table;
}
constexpr auto kBlockPayload16 = BlockPayloadTable<kPayload16>();
constexpr auto kBlockPayload32 = BlockPayloadTable<kPayload32>();

// Eight 12-bit fields inside four u16 lanes of a 64-bit word.
constexpr uint64_t kTwelveBitLanes = 0x0FFF0FFF0FFF0FFFull;

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void Store64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}
inline void Store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

inline uint32_t OrReduce128(__m128i v) {
    v = _mm_or_si128(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_or_si128(v, _mm_shuffle_epi32(v, 0xB1));
    return uint32_t(_mm_cvtsi128_si32(v));
}

// Group codes depend only on thresholds of the form 2^k - 1, so the OR of a group's values
// decides them exactly as its maximum would.
inline int Code16(uint32_t bits) {
    return (bits != 0) + (bits > 255) + (bits > 4095);
}
inline int Code32(uint32_t bits) {
    return (bits != 0) + (bits > 255) + (bits > 65535);
}

inline uint32_t GroupBits16(__m128i g) {
    const uint32_t w = OrReduce128(g);
    return (w | (w >> 16)) & 0xFFFF;
}

// Lanes [0, k) of eight dwords.
inline __m256i FirstDwords(int32_t k) {
    return _mm256_cmpgt_epi32(_mm256_set1_epi32(k), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// Blocks whose groups all have code 0 or 1 are most of a solve's regret rows (zero hands and
// small regrets). Their payload is the non-zero groups' bytes in order; kSpreadBytes[m] moves
// those 8-byte chunks (dword pairs) to the groups set in m, 4 bits, and sends the other groups
// to dword 7, which is zero whenever a group is zero.
constexpr std::array<std::array<int32_t, 8>, 16> SpreadTable() {
    std::array<std::array<int32_t, 8>, 16> table{};
    for (int m = 0; m < 16; ++m) {
        int chunk = 0;
        for (int g = 0; g < 4; ++g) {
            const bool set = (m >> g) & 1;
            table[m][2 * g] = set ? 2 * chunk : 7;
            table[m][2 * g + 1] = set ? 2 * chunk + 1 : 7;
            chunk += set;
        }
    }
    return table;
}
alignas(32) constexpr auto kSpreadBytes = SpreadTable();

// Decodes a block of codes 0 and 1 (header & 0xAA == 0) without a branch per group, reading
// exactly its payload.
inline const uint8_t* UnpackByteBlock16(uint16_t* row, const uint8_t* in, uint32_t header) {
    const uint32_t groups = _pext_u32(header, 0x55);
    const int32_t chunks = __builtin_popcount(groups);
    const __m256i payload =
        _mm256_maskload_epi32(reinterpret_cast<const int*>(in), FirstDwords(2 * chunks));
    const __m256i spread = _mm256_permutevar8x32_epi32(
        payload, _mm256_load_si256(reinterpret_cast<const __m256i*>(kSpreadBytes[groups].data())));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row),
                        _mm256_cvtepu8_epi16(_mm256_castsi256_si128(spread)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 16),
                        _mm256_cvtepu8_epi16(_mm256_extracti128_si256(spread, 1)));
    return in + 8 * chunks;
}

// Packs a block of values <= 255 (codes 0 and 1) with an 8-byte store per group, advancing
// past the non-zero ones: a zero group's store lands in bytes written later, so the caller
// guarantees at least 8 more bytes of the row follow the block.
inline uint8_t* PackByteBlock16(uint8_t* out, __m256i a, __m256i b) {
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
    const auto zero = uint32_t(
        _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(bytes, _mm256_setzero_si256()))));
    const uint32_t groups = ~zero & 15;
    *out++ = uint8_t(_pdep_u32(groups, 0x55));
    const __m128i lo = _mm256_castsi256_si128(bytes), hi = _mm256_extracti128_si256(bytes, 1);
    const uint64_t chunk[4] = {uint64_t(_mm_cvtsi128_si64(lo)), uint64_t(_mm_extract_epi64(lo, 1)),
                               uint64_t(_mm_cvtsi128_si64(hi)), uint64_t(_mm_extract_epi64(hi, 1))};
    for (int g = 0; g < 4; ++g) {
        Store64(out, chunk[g]);
        out += 8 * ((groups >> g) & 1);
    }
    return out;
}

// Bytes that the rest of a row takes at least after its current block: a header byte per
// block, and a flag byte and a byte per value in the tail.
inline int32_t LeastBytesAfter(int32_t blocksAfter, int32_t tail) {
    return blocksAfter + tail + (tail + 7) / 8;
}

// 16-bit tail: groups of min(8, remaining) values behind a flag byte.
uint8_t* PackTail16(uint8_t* out, const uint16_t* row, int32_t r) {
    while (r > 0) {
        const int k = r < 8 ? r : 8;
        uint32_t bits = 0;
        for (int i = 0; i < k; ++i) bits |= row[i];
        if (bits > 255) {
            *out++ = 3;
            std::memcpy(out, row, size_t(2 * k));
            out += 2 * k;
        } else {
            *out++ = 1;
            for (int i = 0; i < k; ++i) out[i] = uint8_t(row[i]);
            out += k;
        }
        row += k;
        r -= k;
    }
    return out;
}

uint8_t* PackTail32(uint8_t* out, const uint32_t* row, int32_t r) {
    while (r > 0) {
        const int k = r < 8 ? r : 8;
        uint8_t flag = 0;
        for (int i = 0; i < k; ++i) {
            if (row[i] > 65535) {
                flag |= 2;
            } else if (row[i] > 255) {
                flag |= 1;
            }
        }
        *out++ = flag;
        if (flag >= 2) {
            std::memcpy(out, row, size_t(4 * k));
            out += 4 * k;
        } else if (flag == 1) {
            for (int i = 0; i < k; ++i) {
                const uint16_t v = uint16_t(row[i]);
                std::memcpy(out + 2 * i, &v, 2);
            }
            out += 2 * k;
        } else {
            for (int i = 0; i < k; ++i) out[i] = uint8_t(row[i]);
            out += k;
        }
        row += k;
        r -= k;
    }
    return out;
}

inline void Decode12(uint16_t* row, const uint8_t* in) {
    const uint64_t lo = Load64(in);
    const uint64_t hi = (lo >> 48) | (uint64_t(Load32(in + 8)) << 16);
    const uint64_t a = _pdep_u64(lo & 0xFFFFFFFFFFFFull, kTwelveBitLanes);
    const uint64_t b = _pdep_u64(hi, kTwelveBitLanes);
    std::memcpy(row, &a, 8);
    std::memcpy(row + 4, &b, 8);
}

template <bool kChecked>
const uint8_t* Unpack16(uint16_t* row, int32_t n, const uint8_t* in, const uint8_t* end) {
    if (n <= 0) return in;
    for (int32_t blocks = n / 32; blocks > 0; --blocks) {
        if (kChecked && in >= end) return nullptr;
        const uint32_t header = *in++;
        if (kChecked && end - in < kBlockPayload16[header]) return nullptr;
        if (header == 0) {
            const __m256i z = _mm256_setzero_si256();
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row), z);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 16), z);
        } else if (header == 0x55) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row),
                                _mm256_cvtepu8_epi16(_mm256_castsi256_si128(bytes)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 16),
                                _mm256_cvtepu8_epi16(_mm256_extracti128_si256(bytes, 1)));
            in += 32;
        } else if ((header & 0xAA) == 0) {
            in = UnpackByteBlock16(row, in, header);
        } else {
            for (int g = 0; g < 4; ++g) {
                uint16_t* dst = row + 8 * g;
                switch ((header >> (2 * g)) & 3) {
                    case 0:
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_setzero_si128());
                        break;
                    case 1:
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                                         _mm_cvtepu8_epi16(_mm_loadl_epi64(
                                             reinterpret_cast<const __m128i*>(in))));
                        in += 8;
                        break;
                    case 2:
                        Decode12(dst, in);
                        in += 12;
                        break;
                    default:
                        std::memcpy(dst, in, 16);
                        in += 16;
                        break;
                }
            }
        }
        row += 32;
    }
    for (int32_t r = n % 32; r > 0;) {
        const int k = r < 8 ? r : 8;
        if (kChecked && in >= end) return nullptr;
        const uint8_t flag = *in++;
        if (flag == 1) {
            if (kChecked && end - in < k) return nullptr;
            for (int i = 0; i < k; ++i) row[i] = in[i];
            in += k;
        } else {
            if (kChecked && end - in < 2 * k) return nullptr;
            std::memcpy(row, in, size_t(2 * k));
            in += 2 * k;
        }
        row += k;
        r -= k;
    }
    return in;
}

template <bool kChecked>
const uint8_t* Unpack32(uint32_t* row, int32_t n, const uint8_t* in, const uint8_t* end) {
    if (n <= 0) return in;
    for (int32_t blocks = n / 32; blocks > 0; --blocks) {
        if (kChecked && in >= end) return nullptr;
        const uint32_t header = *in++;
        if (kChecked && end - in < kBlockPayload32[header]) return nullptr;
        if (header == 0) {
            const __m256i z = _mm256_setzero_si256();
            for (int g = 0; g < 4; ++g) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 8 * g), z);
            }
        } else if (header == 0x55) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
            const __m128i lo = _mm256_castsi256_si128(bytes);
            const __m128i hi = _mm256_extracti128_si256(bytes, 1);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row), _mm256_cvtepu8_epi32(lo));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 8),
                                _mm256_cvtepu8_epi32(_mm_srli_si128(lo, 8)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 16), _mm256_cvtepu8_epi32(hi));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + 24),
                                _mm256_cvtepu8_epi32(_mm_srli_si128(hi, 8)));
            in += 32;
        } else {
            for (int g = 0; g < 4; ++g) {
                __m256i* dst = reinterpret_cast<__m256i*>(row + 8 * g);
                switch ((header >> (2 * g)) & 3) {
                    case 0:
                        _mm256_storeu_si256(dst, _mm256_setzero_si256());
                        break;
                    case 1:
                        _mm256_storeu_si256(dst, _mm256_cvtepu8_epi32(_mm_loadl_epi64(
                                                     reinterpret_cast<const __m128i*>(in))));
                        in += 8;
                        break;
                    case 2:
                        _mm256_storeu_si256(dst, _mm256_cvtepu16_epi32(_mm_loadu_si128(
                                                     reinterpret_cast<const __m128i*>(in))));
                        in += 16;
                        break;
                    default:
                        std::memcpy(dst, in, 32);
                        in += 32;
                        break;
                }
            }
        }
        row += 32;
    }
    for (int32_t r = n % 32; r > 0;) {
        const int k = r < 8 ? r : 8;
        if (kChecked && in >= end) return nullptr;
        const uint8_t flag = *in++;
        if (flag == 0) {
            if (kChecked && end - in < k) return nullptr;
            for (int i = 0; i < k; ++i) row[i] = in[i];
            in += k;
        } else if (flag == 1) {
            if (kChecked && end - in < 2 * k) return nullptr;
            for (int i = 0; i < k; ++i) {
                uint16_t v;
                std::memcpy(&v, in + 2 * i, 2);
                row[i] = v;
            }
            in += 2 * k;
        } else {
            if (kChecked && end - in < 4 * k) return nullptr;
            std::memcpy(row, in, size_t(4 * k));
            in += 4 * k;
        }
        row += k;
        r -= k;
    }
    return in;
}

}  // namespace

uint8_t* PackRow16(uint8_t* out, const uint16_t* row, int32_t n) {
    if (n <= 0) return out;
    for (int32_t blocks = n / 32; blocks > 0; --blocks) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 16));
        if (_mm256_testz_si256(_mm256_or_si256(a, b), _mm256_set1_epi16(int16_t(0xFF00))) &&
            LeastBytesAfter(blocks - 1, n % 32) >= 8) {
            out = PackByteBlock16(out, a, b);
            row += 32;
            continue;
        }
        uint8_t* header = out++;
        uint32_t codes = 0;
        for (int g = 0; g < 4; ++g) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 8 * g));
            const int code = Code16(GroupBits16(v));
            codes |= uint32_t(code) << (2 * g);
            switch (code) {
                case 0:
                    break;
                case 1:
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
                    out += 8;
                    break;
                case 2: {
                    const uint64_t a = _pext_u64(uint64_t(_mm_cvtsi128_si64(v)), kTwelveBitLanes);
                    const uint64_t b =
                        _pext_u64(uint64_t(_mm_extract_epi64(v, 1)), kTwelveBitLanes);
                    Store64(out, a | (b << 48));
                    Store32(out + 8, uint32_t(b >> 16));
                    out += 12;
                    break;
                }
                default:
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
                    out += 16;
                    break;
            }
        }
        *header = uint8_t(codes);
        row += 32;
    }
    return PackTail16(out, row, n % 32);
}

uint8_t* PackRow32(uint8_t* out, const uint32_t* row, int32_t n) {
    if (n <= 0) return out;
    for (int32_t blocks = n / 32; blocks > 0; --blocks) {
        uint8_t* header = out++;
        uint32_t codes = 0;
        for (int g = 0; g < 4; ++g) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 8 * g));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 8 * g + 4));
            const int code = Code32(OrReduce128(_mm_or_si128(lo, hi)));
            codes |= uint32_t(code) << (2 * g);
            switch (code) {
                case 0:
                    break;
                case 1: {
                    const __m128i w = _mm_packus_epi32(lo, hi);
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(w, w));
                    out += 8;
                    break;
                }
                case 2:
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi32(lo, hi));
                    out += 16;
                    break;
                default:
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lo);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), hi);
                    out += 32;
                    break;
            }
        }
        *header = uint8_t(codes);
        row += 32;
    }
    return PackTail32(out, row, n % 32);
}

const uint8_t* UnpackRow16(uint16_t* row, int32_t n, const uint8_t* in) {
    return Unpack16<false>(row, n, in, nullptr);
}
const uint8_t* UnpackRow32(uint32_t* row, int32_t n, const uint8_t* in) {
    return Unpack32<false>(row, n, in, nullptr);
}
const uint8_t* UnpackRow16Checked(uint16_t* row, int32_t n, const uint8_t* in, const uint8_t* end) {
    return Unpack16<true>(row, n, in, end);
}
const uint8_t* UnpackRow32Checked(uint32_t* row, int32_t n, const uint8_t* in, const uint8_t* end) {
    return Unpack32<true>(row, n, in, end);
}

uint8_t* PackRow16Reference(uint8_t* out, const uint16_t* row, int32_t n) {
    if (n <= 0) return out;
    int32_t i = 0;
    for (; n - i >= 32; i += 32) {
        uint8_t* header = out++;
        uint8_t codes = 0;
        for (int g = 0; g < 4; ++g) {
            const uint16_t* v = row + i + 8 * g;
            uint16_t m = 0;
            for (int j = 0; j < 8; ++j) m = v[j] > m ? v[j] : m;
            const int code = m == 0 ? 0 : m <= 255 ? 1 : m <= 4095 ? 2 : 3;
            codes = uint8_t(codes | code << (2 * g));
            if (code == 1) {
                for (int j = 0; j < 8; ++j) *out++ = uint8_t(v[j]);
            } else if (code == 2) {
                for (int j = 0; j < 12; ++j) out[j] = 0;
                for (int j = 0; j < 8; ++j) {
                    for (int bit = 0; bit < 12; ++bit) {
                        if (v[j] >> bit & 1) {
                            const int at = 12 * j + bit;
                            out[at / 8] = uint8_t(out[at / 8] | 1 << (at % 8));
                        }
                    }
                }
                out += 12;
            } else if (code == 3) {
                for (int j = 0; j < 8; ++j) {
                    *out++ = uint8_t(v[j]);
                    *out++ = uint8_t(v[j] >> 8);
                }
            }
        }
        *header = codes;
    }
    for (; i < n;) {
        const int k = n - i < 8 ? n - i : 8;
        uint16_t m = 0;
        for (int j = 0; j < k; ++j) m = row[i + j] > m ? row[i + j] : m;
        *out++ = m > 255 ? 3 : 1;
        for (int j = 0; j < k; ++j) {
            *out++ = uint8_t(row[i + j]);
            if (m > 255) *out++ = uint8_t(row[i + j] >> 8);
        }
        i += k;
    }
    return out;
}

uint8_t* PackRow32Reference(uint8_t* out, const uint32_t* row, int32_t n) {
    if (n <= 0) return out;
    auto put = [&out](uint32_t v, int width) {
        for (int b = 0; b < width; ++b) *out++ = uint8_t(v >> (8 * b));
    };
    int32_t i = 0;
    for (; n - i >= 32; i += 32) {
        uint8_t* header = out++;
        uint8_t codes = 0;
        for (int g = 0; g < 4; ++g) {
            const uint32_t* v = row + i + 8 * g;
            uint32_t m = 0;
            for (int j = 0; j < 8; ++j) m = v[j] > m ? v[j] : m;
            const int code = m == 0 ? 0 : m <= 255 ? 1 : m <= 65535 ? 2 : 3;
            codes = uint8_t(codes | code << (2 * g));
            if (code > 0) {
                for (int j = 0; j < 8; ++j) put(v[j], code == 3 ? 4 : code);
            }
        }
        *header = codes;
    }
    for (; i < n;) {
        const int k = n - i < 8 ? n - i : 8;
        uint8_t flag = 0;
        for (int j = 0; j < k; ++j) {
            if (row[i + j] > 65535) flag |= 2;
            if (row[i + j] >= 256 && row[i + j] <= 65535) flag |= 1;
        }
        *out++ = flag;
        const int width = flag == 0 ? 1 : flag == 1 ? 2 : 4;
        for (int j = 0; j < k; ++j) put(row[i + j], width);
        i += k;
    }
    return out;
}
