#include "compression/fse_block.h"

#include <atomic>
#include <cstring>

namespace {

constexpr size_t error(FSE_ErrorCode code) {
    return static_cast<size_t>(-static_cast<int>(code));
}

// highbit32(0) is taken as 0.
inline unsigned highbit32(uint32_t v) {
    return 31u - static_cast<unsigned>(__builtin_clz(v | 1));
}

inline uint64_t read_le64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;  // x86-64 is little-endian
}

inline void write_le64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}

std::atomic<uint64_t> SecondMethodRuns{0};

// Lays the symbols of norm over a table of 2^tableLog cells: -1 symbols on the last cells, the
// others spread by a fixed odd step that visits every cell once. False when norm does not fill
// the table exactly.
bool spread_symbols(uint8_t* cellSymbol, const short* norm, unsigned maxSymbolValue,
                    unsigned tableLog) {
    const uint32_t tableSize = 1u << tableLog;
    const uint32_t mask = tableSize - 1;
    uint32_t sum = 0;
    for (unsigned s = 0; s <= maxSymbolValue; s++) {
        if (norm[s] < -1) return false;
        sum += norm[s] == -1 ? 1u : static_cast<uint32_t>(norm[s]);
    }
    if (sum != tableSize) return false;
    uint32_t highThreshold = tableSize - 1;
    for (unsigned s = 0; s <= maxSymbolValue; s++)
        if (norm[s] == -1) cellSymbol[highThreshold--] = static_cast<uint8_t>(s);
    const uint32_t step = (tableSize >> 1) + (tableSize >> 3) + 3;
    uint32_t position = 0;
    for (unsigned s = 0; s <= maxSymbolValue; s++) {
        for (int i = 0; i < norm[s]; i++) {
            cellSymbol[position] = static_cast<uint8_t>(s);
            position = (position + step) & mask;
            while (position > highThreshold) position = (position + step) & mask;
        }
    }
    return position == 0;
}

// --- bit stream writer: LSB first into a 64-bit container, bounds-tested ---
struct BitWriter {
    uint64_t container = 0;
    unsigned nbBits = 0;
    uint8_t* start = nullptr;
    uint8_t* ptr = nullptr;
    uint8_t* end = nullptr;  // last position an 8-byte store may start at

    bool init(void* dst, size_t capacity) {
        if (capacity < 8) return false;
        start = ptr = static_cast<uint8_t*>(dst);
        end = start + capacity - 8;
        return true;
    }
    void add(uint64_t value, unsigned n) {
        container |= (value & ((uint64_t{1} << n) - 1)) << nbBits;
        nbBits += n;
    }
    void flush() {
        const unsigned nbBytes = nbBits >> 3;
        write_le64(ptr, container);
        ptr += nbBytes;
        if (ptr > end) ptr = end;
        nbBits &= 7;
        container = nbBytes == 8 ? 0 : container >> (nbBytes * 8);
    }
    size_t close() {
        add(1, 1);  // end mark
        flush();
        if (ptr >= end) return 0;
        return static_cast<size_t>(ptr - start) + (nbBits > 0);
    }
};

// --- bit stream reader: reads fields back from the end of the stream ---
enum class ReadStatus { unfinished = 0, endOfBuffer = 1, completed = 2, overflow = 3 };

struct BitReader {
    uint64_t container = 0;
    unsigned consumed = 0;  // bits of the container already read, from the top
    const uint8_t* start = nullptr;
    const uint8_t* ptr = nullptr;

    size_t init(const uint8_t* src, size_t size) {
        if (size < 1) return error(FSE_ERROR_srcSize_wrong);
        start = src;
        const uint8_t last = src[size - 1];
        if (last == 0) return error(FSE_ERROR_GENERIC);  // no end mark
        if (size >= 8) {
            ptr = src + size - 8;
            container = read_le64(ptr);
            consumed = 8 - highbit32(last);
        } else {
            ptr = src;
            container = 0;
            for (size_t i = 0; i < size; i++) container |= uint64_t{src[i]} << (8 * i);
            consumed = 8 - highbit32(last) + static_cast<unsigned>(8 - size) * 8;
        }
        return 0;
    }
    // Bits past the stream read as garbage; the status of the next reload reports it.
    uint32_t look(unsigned n) const {
        return static_cast<uint32_t>(((container << (consumed & 63)) >> 1) >> (63 - n));
    }
    uint32_t lookFast(unsigned n) const {  // n >= 1
        return static_cast<uint32_t>((container << (consumed & 63)) >> ((64 - n) & 63));
    }
    uint32_t read(unsigned n) {
        const uint32_t v = look(n);
        consumed += n;
        return v;
    }
    uint32_t readFast(unsigned n) {
        const uint32_t v = lookFast(n);
        consumed += n;
        return v;
    }
    ReadStatus reload() {
        if (consumed > 64) return ReadStatus::overflow;
        if (ptr >= start + 8) {
            ptr -= consumed >> 3;
            consumed &= 7;
            container = read_le64(ptr);
            return ReadStatus::unfinished;
        }
        if (ptr == start) return consumed < 64 ? ReadStatus::endOfBuffer : ReadStatus::completed;
        size_t nbBytes = consumed >> 3;
        ReadStatus status = ReadStatus::unfinished;
        if (nbBytes > static_cast<size_t>(ptr - start)) {
            nbBytes = static_cast<size_t>(ptr - start);
            status = ReadStatus::endOfBuffer;
        }
        ptr -= nbBytes;
        consumed -= static_cast<unsigned>(nbBytes * 8);
        container = read_le64(ptr);
        return status;
    }
    bool finished() const { return ptr == start && consumed == 64; }
};

// --- header bit reader: forward, LSB first; bytes past the block read as zero ---
struct HeaderReader {
    const uint8_t* src;
    size_t size;
    size_t bitPos = 0;

    uint32_t read(unsigned n) {
        uint32_t v = 0;
        for (unsigned got = 0; got < n;) {
            const size_t byte = bitPos >> 3;
            const unsigned shift = bitPos & 7;
            const unsigned take = n - got < 8 - shift ? n - got : 8 - shift;
            const uint32_t bits = byte < size ? (src[byte] >> shift) & ((1u << take) - 1) : 0;
            v |= bits << got;
            got += take;
            bitPos += take;
        }
        return v;
    }
    uint32_t peek(unsigned n) {
        const size_t saved = bitPos;
        const uint32_t v = read(n);
        bitPos = saved;
        return v;
    }
};

template <bool kFast>
inline uint8_t decode_symbol(uint32_t& state, BitReader& br, const FSE_DTable::Cell* cells) {
    const FSE_DTable::Cell cell = cells[state];
    const uint32_t bits = kFast ? br.readFast(cell.nbBits) : br.read(cell.nbBits);
    state = cell.newState + bits;
    return cell.symbol;
}

template <bool kFast>
size_t decompress_generic(uint8_t* dst, size_t capacity, const uint8_t* src, size_t srcSize,
                          const FSE_DTable* dt) {
    BitReader br;
    const size_t init = br.init(src, srcSize);
    if (FSE_isError(init)) return init;
    const FSE_DTable::Cell* cells = dt->cells;
    const unsigned tableLog = dt->tableLog;
    uint32_t s1 = br.read(tableLog);
    br.reload();
    uint32_t s2 = br.read(tableLog);
    size_t op = 0;

    // Four symbols per reload: 4 x 12 bits fit the 57 bits a reload guarantees.
    while (br.reload() == ReadStatus::unfinished && op + 3 < capacity) {
        dst[op + 0] = decode_symbol<kFast>(s1, br, cells);
        dst[op + 1] = decode_symbol<kFast>(s2, br, cells);
        dst[op + 2] = decode_symbol<kFast>(s1, br, cells);
        dst[op + 3] = decode_symbol<kFast>(s2, br, cells);
        op += 4;
    }
    // Tail, one symbol per reload. Outside fastMode a cell may read no bits, so a used-up
    // stream ends only where the next state is 0 (cell 0 always reads at least one bit).
    while (true) {
        if (br.reload() > ReadStatus::completed || op == capacity ||
            (br.finished() && (kFast || s1 == 0)))
            break;
        dst[op++] = decode_symbol<kFast>(s1, br, cells);
        if (br.reload() > ReadStatus::completed || op == capacity ||
            (br.finished() && (kFast || s2 == 0)))
            break;
        dst[op++] = decode_symbol<kFast>(s2, br, cells);
    }
    if (br.finished() && s1 == 0 && s2 == 0) return op;
    if (op == capacity) return error(FSE_ERROR_dstSize_tooSmall);
    return error(FSE_ERROR_corruptionDetected);
}

// Second normalisation: used when rounding in the first method went too far off.
size_t normalize_second_method(short* norm, unsigned tableLog, const unsigned* count, size_t total,
                               unsigned maxSymbolValue) {
    SecondMethodRuns.fetch_add(1, std::memory_order_relaxed);
    constexpr short kPending = -2;
    uint32_t distributed = 0;
    const uint32_t lowThreshold = static_cast<uint32_t>(total >> tableLog);
    uint32_t lowOne = static_cast<uint32_t>((total * 3) >> (tableLog + 1));
    for (unsigned s = 0; s <= maxSymbolValue; s++) {
        if (count[s] == 0) {
            norm[s] = 0;
        } else if (count[s] <= lowThreshold) {
            norm[s] = -1;
            distributed++;
            total -= count[s];
        } else if (count[s] <= lowOne) {
            norm[s] = 1;
            distributed++;
            total -= count[s];
        } else {
            norm[s] = kPending;
        }
    }
    uint32_t toDistribute = (1u << tableLog) - distributed;
    if (toDistribute == 0 || static_cast<int32_t>(toDistribute) < 0)
        return error(FSE_ERROR_GENERIC);
    if (total / toDistribute > lowOne) {
        lowOne = static_cast<uint32_t>((total * 3) / (toDistribute * 2));
        for (unsigned s = 0; s <= maxSymbolValue; s++) {
            if (norm[s] == kPending && count[s] <= lowOne) {
                norm[s] = 1;
                distributed++;
                total -= count[s];
            }
        }
        toDistribute = (1u << tableLog) - distributed;
    }
    if (distributed == maxSymbolValue + 1) {
        unsigned maxV = 0, maxC = 0;
        for (unsigned s = 0; s <= maxSymbolValue; s++)
            if (count[s] > maxC) {
                maxV = s;
                maxC = count[s];
            }
        norm[maxV] = static_cast<short>(norm[maxV] + static_cast<short>(toDistribute));
        return 0;
    }
    if (total == 0) return error(FSE_ERROR_GENERIC);
    const uint64_t vStepLog = 62 - tableLog;
    const uint64_t mid = (uint64_t{1} << (vStepLog - 1)) - 1;
    const uint64_t rStep = ((uint64_t{toDistribute} << vStepLog) + mid) / total;
    uint64_t acc = mid;
    for (unsigned s = 0; s <= maxSymbolValue; s++) {
        if (norm[s] != kPending) continue;
        const uint64_t end = acc + count[s] * rStep;
        const uint32_t weight =
            static_cast<uint32_t>(end >> vStepLog) - static_cast<uint32_t>(acc >> vStepLog);
        if (weight < 1) return error(FSE_ERROR_GENERIC);
        norm[s] = static_cast<short>(weight);
        acc = end;
    }
    return 0;
}

unsigned min_table_log(size_t srcSize, unsigned maxSymbolValue) {
    const unsigned fromSrc = highbit32(static_cast<uint32_t>(srcSize - 1)) + 1;
    const unsigned fromSymbols = highbit32(maxSymbolValue) + 2;
    return fromSrc < fromSymbols ? fromSrc : fromSymbols;
}

}  // namespace

const char* FSE_getErrorName(size_t result) {
    static const char* const names[] = {"FSE_OK_NoError",
                                        "FSE_ERROR_GENERIC",
                                        "FSE_ERROR_tableLog_tooLarge",
                                        "FSE_ERROR_maxSymbolValue_tooLarge",
                                        "FSE_ERROR_maxSymbolValue_tooSmall",
                                        "FSE_ERROR_dstSize_tooSmall",
                                        "FSE_ERROR_srcSize_wrong",
                                        "FSE_ERROR_corruptionDetected",
                                        "FSE_ERROR_maxCode"};
    if (!FSE_isError(result)) return "Unspecified error code";
    return names[0 - result];
}

uint64_t FSE_secondMethodCount() {
    return SecondMethodRuns.load(std::memory_order_relaxed);
}

size_t FSE_count(unsigned* count, unsigned* maxSymbolValuePtr, const void* src, size_t srcSize) {
    const uint8_t* ip = static_cast<const uint8_t*>(src);
    unsigned maxSymbolValue = *maxSymbolValuePtr ? *maxSymbolValuePtr : FSE_MAX_SYMBOL_VALUE;
    if (maxSymbolValue > FSE_MAX_SYMBOL_VALUE) return error(FSE_ERROR_maxSymbolValue_tooLarge);
    if (srcSize == 0) {
        std::memset(count, 0, (maxSymbolValue + 1) * sizeof(unsigned));
        *maxSymbolValuePtr = 0;
        return 0;
    }
    // Four sub-histograms, a word at a time, so successive equal bytes do not serialise.
    uint32_t c[4][256] = {};
    size_t i = 0;
    for (; i + 4 <= srcSize; i += 4) {
        uint32_t w;
        std::memcpy(&w, ip + i, 4);
        c[0][w & 0xFF]++;
        c[1][(w >> 8) & 0xFF]++;
        c[2][(w >> 16) & 0xFF]++;
        c[3][w >> 24]++;
    }
    for (; i < srcSize; i++) c[0][ip[i]]++;
    for (unsigned s = 0; s < 256; s++) c[0][s] += c[1][s] + c[2][s] + c[3][s];
    if (maxSymbolValue < FSE_MAX_SYMBOL_VALUE)
        for (unsigned s = maxSymbolValue + 1; s < 256; s++)
            if (c[0][s]) return error(FSE_ERROR_GENERIC);
    while (c[0][maxSymbolValue] == 0) maxSymbolValue--;
    *maxSymbolValuePtr = maxSymbolValue;
    unsigned largest = 0;
    for (unsigned s = 0; s <= maxSymbolValue; s++) {
        count[s] = c[0][s];
        if (count[s] > largest) largest = count[s];
    }
    return largest;
}

unsigned FSE_optimalTableLog(unsigned maxTableLog, size_t srcSize, unsigned maxSymbolValue) {
    unsigned tableLog = maxTableLog ? maxTableLog : FSE_DEFAULT_TABLELOG;
    // For srcSize <= 4 the subtraction wraps and nothing is lowered.
    const unsigned maxBitsSrc = highbit32(static_cast<uint32_t>(srcSize - 1)) - 2;
    if (maxBitsSrc < tableLog) tableLog = maxBitsSrc;
    const unsigned minBits = min_table_log(srcSize, maxSymbolValue);
    if (minBits > tableLog) tableLog = minBits;
    if (tableLog < FSE_MIN_TABLELOG) tableLog = FSE_MIN_TABLELOG;
    if (tableLog > FSE_MAX_TABLELOG) tableLog = FSE_MAX_TABLELOG;
    return tableLog;
}

size_t FSE_normalizeCount(short* norm, unsigned tableLog, const unsigned* count, size_t total,
                          unsigned maxSymbolValue) {
    if (tableLog == 0) tableLog = FSE_DEFAULT_TABLELOG;
    if (tableLog < FSE_MIN_TABLELOG || tableLog > FSE_MAX_TABLELOG) return error(FSE_ERROR_GENERIC);
    if (total == 0 || maxSymbolValue > FSE_MAX_SYMBOL_VALUE) return error(FSE_ERROR_GENERIC);
    if (tableLog < min_table_log(total, maxSymbolValue)) return error(FSE_ERROR_GENERIC);

    static const uint32_t rtb[8] = {0, 473195, 504333, 520860, 550000, 700000, 750000, 830000};
    const uint64_t scale = 62 - tableLog;
    const uint64_t step = (uint64_t{1} << 62) / total;
    const uint64_t vStep = uint64_t{1} << (scale - 20);
    int stillToDistribute = 1 << tableLog;
    unsigned largest = 0;
    short largestP = 0;
    const uint32_t lowThreshold = static_cast<uint32_t>(total >> tableLog);
    for (unsigned s = 0; s <= maxSymbolValue; s++) {
        if (count[s] == total) return 0;  // one symbol: the caller stores it as a repeated byte
        if (count[s] == 0) {
            norm[s] = 0;
            continue;
        }
        if (count[s] <= lowThreshold) {
            norm[s] = -1;
            stillToDistribute--;
            continue;
        }
        short proba = static_cast<short>((count[s] * step) >> scale);
        if (proba < 8) {
            const uint64_t restToBeat = vStep * rtb[proba];
            proba += (count[s] * step) - (static_cast<uint64_t>(proba) << scale) > restToBeat;
        }
        if (proba > largestP) {
            largestP = proba;
            largest = s;
        }
        norm[s] = proba;
        stillToDistribute -= proba;
    }
    if (-stillToDistribute >= (norm[largest] >> 1)) {
        const size_t r = normalize_second_method(norm, tableLog, count, total, maxSymbolValue);
        if (FSE_isError(r)) return r;
    } else {
        norm[largest] = static_cast<short>(norm[largest] + stillToDistribute);
    }
    return tableLog;
}

size_t FSE_writeNCount(void* dst, size_t dstCapacity, const short* norm, unsigned maxSymbolValue,
                       unsigned tableLog) {
    if (tableLog < FSE_MIN_TABLELOG || tableLog > FSE_MAX_TABLELOG) return error(FSE_ERROR_GENERIC);
    if (maxSymbolValue > FSE_MAX_SYMBOL_VALUE) return error(FSE_ERROR_GENERIC);
    uint8_t* const out = static_cast<uint8_t*>(dst);
    size_t pos = 0;
    // Below the bound every 16-bit store is tested; above it none can overflow.
    const size_t bound = maxSymbolValue ? ((maxSymbolValue + 1) * tableLog) / 8 + 3 : 512;
    const bool checked = dstCapacity < bound;
    const int tableSize = 1 << tableLog;
    int remaining = tableSize + 1;  // +1 for extra accuracy
    int threshold = tableSize;
    int nbBits = static_cast<int>(tableLog) + 1;
    uint32_t bitStream = tableLog - FSE_MIN_TABLELOG;
    int bitCount = 4;
    unsigned symbol = 0;
    bool previous0 = false;

    auto store16 = [&]() -> bool {
        if (checked && pos + 2 > dstCapacity) return false;
        out[pos] = static_cast<uint8_t>(bitStream);
        out[pos + 1] = static_cast<uint8_t>(bitStream >> 8);
        pos += 2;
        bitStream >>= 16;
        return true;
    };

    while (remaining > 1) {
        if (symbol > maxSymbolValue) return error(FSE_ERROR_GENERIC);
        if (previous0) {
            unsigned start = symbol;
            while (norm[symbol] == 0) {
                symbol++;
                if (symbol > maxSymbolValue) return error(FSE_ERROR_GENERIC);
            }
            while (symbol >= start + 24) {
                start += 24;
                bitStream += 0xFFFFu << bitCount;
                if (!store16()) return error(FSE_ERROR_dstSize_tooSmall);
            }
            while (symbol >= start + 3) {
                start += 3;
                bitStream += 3u << bitCount;
                bitCount += 2;
            }
            bitStream += (symbol - start) << bitCount;
            bitCount += 2;
            if (bitCount > 16) {
                if (!store16()) return error(FSE_ERROR_dstSize_tooSmall);
                bitCount -= 16;
            }
        }
        int count = norm[symbol++];
        const int max = (2 * threshold - 1) - remaining;
        remaining -= count < 0 ? -count : count;
        count++;
        if (count >= threshold) count += max;
        bitStream += static_cast<uint32_t>(count) << bitCount;
        bitCount += nbBits;
        bitCount -= (count < max);
        previous0 = (count == 1);
        if (remaining < 1) return error(FSE_ERROR_GENERIC);
        while (remaining < threshold) {
            nbBits--;
            threshold >>= 1;
        }
        if (bitCount > 16) {
            if (!store16()) return error(FSE_ERROR_dstSize_tooSmall);
            bitCount -= 16;
        }
    }
    if (checked && pos + 2 > dstCapacity) return error(FSE_ERROR_dstSize_tooSmall);
    out[pos] = static_cast<uint8_t>(bitStream);
    out[pos + 1] = static_cast<uint8_t>(bitStream >> 8);
    pos += static_cast<size_t>((bitCount + 7) / 8);
    if (symbol > maxSymbolValue + 1) return error(FSE_ERROR_GENERIC);
    return pos;
}

size_t FSE_readNCount(short* norm, unsigned* maxSymbolValuePtr, unsigned* tableLogPtr,
                      const void* src, size_t srcSize) {
    if (srcSize < 4) return error(FSE_ERROR_srcSize_wrong);
    HeaderReader in{static_cast<const uint8_t*>(src), srcSize};
    // norm holds at most 256 counts.
    const unsigned maxSymbolValue =
        *maxSymbolValuePtr < FSE_MAX_SYMBOL_VALUE ? *maxSymbolValuePtr : FSE_MAX_SYMBOL_VALUE;
    const unsigned accuracy = in.read(4) + FSE_MIN_TABLELOG;
    if (accuracy > 15) return error(FSE_ERROR_tableLog_tooLarge);
    *tableLogPtr = accuracy;
    int remaining = (1 << accuracy) + 1;
    int threshold = 1 << accuracy;
    int nbBits = static_cast<int>(accuracy) + 1;
    unsigned symbol = 0;
    bool previous0 = false;
    while (remaining > 1 && symbol <= maxSymbolValue) {
        if (previous0) {
            unsigned n0 = symbol;
            uint32_t repeat;
            while ((repeat = in.read(2)) == 3) {
                n0 += 3;
                if (n0 > maxSymbolValue + 1) return error(FSE_ERROR_maxSymbolValue_tooSmall);
            }
            n0 += repeat;
            if (n0 > maxSymbolValue) return error(FSE_ERROR_maxSymbolValue_tooSmall);
            while (symbol < n0) norm[symbol++] = 0;
        }
        const int max = (2 * threshold - 1) - remaining;
        int count;
        const uint32_t low = in.peek(static_cast<unsigned>(nbBits - 1));
        if (static_cast<int>(low) < max) {
            count = static_cast<int>(low);
            in.bitPos += static_cast<size_t>(nbBits - 1);
        } else {
            count = static_cast<int>(in.read(static_cast<unsigned>(nbBits)));
            if (count >= threshold) count -= max;
        }
        count--;  // extra accuracy
        remaining -= count < 0 ? -count : count;
        norm[symbol++] = static_cast<short>(count);
        previous0 = (count == 0);
        while (remaining < threshold) {
            nbBits--;
            threshold >>= 1;
        }
    }
    if (remaining != 1) return error(FSE_ERROR_GENERIC);
    const size_t size = (in.bitPos + 7) >> 3;
    if (size > srcSize) return error(FSE_ERROR_srcSize_wrong);
    for (unsigned s = symbol; s <= maxSymbolValue; s++) norm[s] = 0;
    *maxSymbolValuePtr = symbol - 1;
    return size;
}

size_t FSE_buildCTable(FSE_CTable* ct, const short* norm, unsigned maxSymbolValue,
                       unsigned tableLog) {
    if (maxSymbolValue > FSE_MAX_SYMBOL_VALUE) return error(FSE_ERROR_maxSymbolValue_tooLarge);
    if (tableLog > FSE_MAX_TABLELOG) return error(FSE_ERROR_tableLog_tooLarge);
    if (tableLog < 1) return error(FSE_ERROR_GENERIC);
    const uint32_t tableSize = 1u << tableLog;
    uint8_t cellSymbol[FSE_MAX_TABLESIZE];
    if (!spread_symbols(cellSymbol, norm, maxSymbolValue, tableLog))
        return error(FSE_ERROR_GENERIC);
    ct->tableLog = tableLog;
    ct->maxSymbolValue = maxSymbolValue;
    uint32_t cumul[FSE_MAX_SYMBOL_VALUE + 2];
    cumul[0] = 0;
    for (unsigned s = 0; s <= maxSymbolValue; s++)
        cumul[s + 1] = cumul[s] + (norm[s] == -1 ? 1u : static_cast<uint32_t>(norm[s]));
    uint32_t next[FSE_MAX_SYMBOL_VALUE + 1];
    std::memcpy(next, cumul, sizeof(uint32_t) * (maxSymbolValue + 1));
    for (uint32_t u = 0; u < tableSize; u++)
        ct->nextState[next[cellSymbol[u]]++] = static_cast<uint16_t>(tableSize + u);
    for (unsigned s = 0; s <= maxSymbolValue; s++) {
        FSE_CTable::Transform& t = ct->symbolTT[s];
        const int n = norm[s];
        if (n == 0) {
            t = {0, 0};
        } else if (n == 1 || n == -1) {
            t.deltaNbBits = tableLog << 16;
            t.deltaFindState = static_cast<int32_t>(cumul[s]) - 1;
        } else {
            const uint32_t maxBitsOut = tableLog - highbit32(static_cast<uint32_t>(n - 1));
            t.deltaNbBits = (maxBitsOut << 16) - (static_cast<uint32_t>(n) << maxBitsOut);
            t.deltaFindState = static_cast<int32_t>(cumul[s]) - n;
        }
    }
    return 0;
}

size_t FSE_buildDTable(FSE_DTable* dt, const short* norm, unsigned maxSymbolValue,
                       unsigned tableLog) {
    if (maxSymbolValue > FSE_MAX_SYMBOL_VALUE) return error(FSE_ERROR_maxSymbolValue_tooLarge);
    if (tableLog > FSE_MAX_TABLELOG) return error(FSE_ERROR_tableLog_tooLarge);
    if (tableLog < 1) return error(FSE_ERROR_GENERIC);
    const uint32_t tableSize = 1u << tableLog;
    uint8_t cellSymbol[FSE_MAX_TABLESIZE];
    if (!spread_symbols(cellSymbol, norm, maxSymbolValue, tableLog))
        return error(FSE_ERROR_GENERIC);
    uint32_t next[FSE_MAX_SYMBOL_VALUE + 1];
    uint16_t fastMode = 1;
    const int largeLimit = 1 << (tableLog - 1);
    for (unsigned s = 0; s <= maxSymbolValue; s++) {
        next[s] = norm[s] == -1 ? 1u : static_cast<uint32_t>(norm[s]);
        if (norm[s] >= largeLimit) fastMode = 0;
    }
    dt->tableLog = static_cast<uint16_t>(tableLog);
    dt->fastMode = fastMode;
    for (uint32_t u = 0; u < tableSize; u++) {
        const uint8_t symbol = cellSymbol[u];
        const uint32_t v = next[symbol]++;
        const uint32_t nbBits = tableLog - highbit32(v);
        dt->cells[u].symbol = symbol;
        dt->cells[u].nbBits = static_cast<uint8_t>(nbBits);
        dt->cells[u].newState = static_cast<uint16_t>((v << nbBits) - tableSize);
    }
    return 0;
}

size_t FSE_compress_usingCTable(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                                const FSE_CTable* ct) {
    const uint8_t* const istart = static_cast<const uint8_t*>(src);
    BitWriter bw;
    if (!bw.init(dst, dstCapacity)) return 0;
    const unsigned tableLog = ct->tableLog;
    const uint16_t* const stateTable = ct->nextState;
    const FSE_CTable::Transform* const tt = ct->symbolTT;
    uint32_t stateA = 1u << tableLog, stateB = 1u << tableLog;
    auto encode = [&](uint32_t& state, uint8_t symbol) {
        const FSE_CTable::Transform t = tt[symbol];
        const uint32_t nbOut = (state + t.deltaNbBits) >> 16;
        bw.add(state, nbOut);
        state = stateTable[static_cast<int32_t>(state >> nbOut) + t.deltaFindState];
    };
    // From the last byte to the first; even indices on A, odd on B.
    size_t i = srcSize;
    if (i & 1) {
        encode(stateA, istart[--i]);
        bw.flush();
    }
    if (i & 2) {
        encode(stateB, istart[--i]);
        encode(stateA, istart[--i]);
        bw.flush();
    }
    while (i > 0) {
        encode(stateB, istart[--i]);
        encode(stateA, istart[--i]);
        encode(stateB, istart[--i]);
        encode(stateA, istart[--i]);
        bw.flush();
    }
    bw.add(stateB, tableLog);
    bw.flush();
    bw.add(stateA, tableLog);
    bw.flush();
    return bw.close();
}

size_t FSE_decompress_usingDTable(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                                  const FSE_DTable* dt) {
    uint8_t* out = static_cast<uint8_t*>(dst);
    const uint8_t* in = static_cast<const uint8_t*>(src);
    if (dt->fastMode) return decompress_generic<true>(out, dstCapacity, in, srcSize, dt);
    return decompress_generic<false>(out, dstCapacity, in, srcSize, dt);
}

size_t FSE_compress2(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                     unsigned maxSymbolValue, unsigned tableLog) {
    srcSize = static_cast<uint32_t>(srcSize);
    if (srcSize <= 1) return 0;
    if (maxSymbolValue == 0) maxSymbolValue = FSE_MAX_SYMBOL_VALUE;
    if (tableLog == 0) tableLog = FSE_DEFAULT_TABLELOG;
    if (maxSymbolValue > FSE_MAX_SYMBOL_VALUE) return error(FSE_ERROR_maxSymbolValue_tooLarge);
    if (tableLog > FSE_MAX_TABLELOG) return error(FSE_ERROR_tableLog_tooLarge);
    uint8_t* const ostart = static_cast<uint8_t*>(dst);

    unsigned count[FSE_MAX_SYMBOL_VALUE + 1];
    size_t r = FSE_count(count, &maxSymbolValue, src, srcSize);
    if (FSE_isError(r)) return r;
    if (r == srcSize) return 1;
    if (r == 1) return 0;
    if (r < (srcSize >> 7)) return 0;

    tableLog = FSE_optimalTableLog(tableLog, srcSize, maxSymbolValue);
    short norm[FSE_MAX_SYMBOL_VALUE + 1];
    r = FSE_normalizeCount(norm, tableLog, count, srcSize, maxSymbolValue);
    if (FSE_isError(r)) return r;

    r = FSE_writeNCount(ostart, dstCapacity, norm, maxSymbolValue, tableLog);
    if (FSE_isError(r)) return r;
    const size_t headerSize = r;

    FSE_CTable ct;
    r = FSE_buildCTable(&ct, norm, maxSymbolValue, tableLog);
    if (FSE_isError(r)) return r;
    r = FSE_compress_usingCTable(ostart + headerSize, dstCapacity - headerSize, src, srcSize, &ct);
    if (r == 0) return 0;
    const size_t total = headerSize + r;
    if (total >= srcSize - 1) return 0;
    return total;
}

size_t FSE_compress(void* dst, size_t dstCapacity, const void* src, size_t srcSize) {
    return FSE_compress2(dst, dstCapacity, src, srcSize, FSE_MAX_SYMBOL_VALUE,
                         FSE_DEFAULT_TABLELOG);
}

size_t FSE_decompress(void* dst, size_t dstCapacity, const void* src, size_t srcSize) {
    const uint8_t* const istart = static_cast<const uint8_t*>(src);
    if (srcSize < 2) return error(FSE_ERROR_srcSize_wrong);
    short norm[FSE_MAX_SYMBOL_VALUE + 1];
    unsigned maxSymbolValue = FSE_MAX_SYMBOL_VALUE;
    unsigned tableLog;
    size_t r = FSE_readNCount(norm, &maxSymbolValue, &tableLog, istart, srcSize);
    if (FSE_isError(r)) return r;
    if (r >= srcSize) return error(FSE_ERROR_srcSize_wrong);
    const size_t headerSize = r;
    FSE_DTable dt;
    r = FSE_buildDTable(&dt, norm, maxSymbolValue, tableLog);
    if (FSE_isError(r)) return r;
    return FSE_decompress_usingDTable(dst, dstCapacity, istart + headerSize, srcSize - headerSize,
                                      &dt);
}
