// A reader of FSE table descriptions written from the prose of RFC 8878 section 4.1.1, apart
// from the product code, to check the headers the block coder writes and reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A header reader written from the RFC's prose, apart from the product code.
struct RfcHeader {
    bool ok = false;
    int accuracyLog = 0;
    std::vector<int> probabilities;  // symbol 0 to the last present one
    size_t bytes = 0;
};

inline RfcHeader rfc_read_header(const uint8_t* data, size_t size) {
    RfcHeader h;
    size_t bit = 0;
    auto read = [&](int n) {  // little-endian bit stream, read forward
        uint32_t v = 0;
        for (int i = 0; i < n; i++, bit++) {
            const uint32_t b = bit / 8 < size ? (data[bit / 8] >> (bit % 8)) & 1 : 0;
            v |= b << i;
        }
        return v;
    };
    // "Accuracy_Log = low4bits + 5"
    h.accuracyLog = static_cast<int>(read(4)) + 5;
    const int total = 1 << h.accuracyLog;
    int allocated = 0;
    while (allocated < total) {
        if (h.probabilities.size() > 255) return h;
        // Values 0 to (remaining points + 1) may be read, in log2sup of that many bits; the
        // lowest values of the field use one bit less.
        const int largestValue = total - allocated + 1;
        int nbBits = 0;
        while ((1 << nbBits) <= largestValue) nbBits++;  // log2sup
        const int unused = (1 << nbBits) - 1 - largestValue;
        const size_t saved = bit;
        const int low = static_cast<int>(read(nbBits - 1));
        int value;
        if (low < unused) {
            value = low;
        } else {
            bit = saved;
            const int full = static_cast<int>(read(nbBits));
            value = full < (1 << (nbBits - 1)) ? full : full - unused;
        }
        const int proba = value - 1;  // -1 means "less than 1" and takes one point
        h.probabilities.push_back(proba);
        allocated += proba == -1 ? 1 : proba;
        if (proba == 0) {
            // 2-bit repeat flags of further zero probabilities; 3 means another flag follows.
            int repeat;
            do {
                repeat = static_cast<int>(read(2));
                for (int i = 0; i < repeat; i++) h.probabilities.push_back(0);
            } while (repeat == 3);
        }
    }
    if (allocated != total) return h;
    h.bytes = (bit + 7) / 8;
    h.ok = h.bytes <= size;
    return h;
}
