#include "storage/lock_record.h"

#include <cstring>
#include <limits>

#include "storage/binary_io.h"
#include "utilities/services.h"

void ClearLockMask(LockRecord* record) {
    delete[] record->mask;
    record->mask = nullptr;
    record->maskLength = 0;
    record->flags &= ~kLockCombosFlag;
}

void SetLockMask(LockRecord* record, int32_t length) {
    if (length < 0) fail_fatal("negative mask length");
    delete[] record->mask;
    record->mask = new uint8_t[length]();
    record->maskLength = length;
    record->flags |= kLockCombosFlag;
}

std::vector<int16_t> EncodeMaskRuns(const uint8_t* mask, int32_t length) {
    std::vector<int16_t> runs;
    uint8_t current = 0;
    int32_t run = 0;
    for (int32_t i = 0; i < length; ++i) {
        const uint8_t value = mask[i] != 0 ? 1 : 0;
        if (value == current) {
            ++run;
        } else {
            runs.push_back(static_cast<int16_t>(run));
            run = 1;
            current ^= 1;
        }
    }
    if (run > 0) runs.push_back(static_cast<int16_t>(run));
    return runs;
}

bool DecodeMaskRuns(const int16_t* runs, int32_t runCount, uint8_t* mask, int32_t length) {
    int32_t position = 0;
    uint8_t value = 0;
    for (int32_t r = 0; r < runCount && position < length; ++r) {
        const int32_t run = runs[r];
        if (run > 0) {
            const int32_t end = run < length - position ? position + run : length;
            std::memset(mask + position, value, static_cast<size_t>(end - position));
            position = end;
        }
        value ^= 1;
    }
    return position >= length;
}

void SaveLockRecord(BinaryWriter& out, const LockRecord& record) {
    // The invariant ties bit 1 to the mask; the mask decides what is written so a reader never
    // expects a part that is not there.
    uint32_t flags = record.flags & ~kLockCombosFlag;
    if (record.mask != nullptr) flags |= kLockCombosFlag;
    WriteValue<uint32_t>(out, flags);
    if (record.mask == nullptr) return;
    if (record.maskLength > std::numeric_limits<int16_t>::max()) fail_fatal("mask too long");
    const std::vector<int16_t> runs = EncodeMaskRuns(record.mask, record.maskLength);
    // A mask of 32767 bytes may need 32768 runs, which the i16 count cannot hold.
    if (runs.size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
        fail_fatal("mask too long");
    }
    WriteValue<int16_t>(out, static_cast<int16_t>(record.maskLength));
    WriteValue<int16_t>(out, static_cast<int16_t>(runs.size()));
    out.write(runs.data(), runs.size() * sizeof(int16_t));
}

void LoadLockRecord(BinaryReader& in, LockRecord* record, int32_t handCount) {
    const uint32_t flags = ReadValue<uint32_t>(in);
    if ((flags & kLockCombosFlag) == 0) {
        ClearLockMask(record);
        record->flags = flags;
        return;
    }
    const int32_t maskLength = ReadValue<int16_t>(in);
    if (maskLength != handCount) throw IOException("invalid file (mask length)");
    const int32_t runCount = ReadValue<int16_t>(in);
    if (runCount < 0) throw IOException("invalid file (run count)");
    std::vector<int16_t> runs(static_cast<size_t>(runCount));
    in.read(runs.data(), runs.size() * sizeof(int16_t));
    std::vector<uint8_t> mask(static_cast<size_t>(maskLength), 0);
    if (!DecodeMaskRuns(runs.data(), runCount, mask.data(), maskLength)) {
        throw IOException("invalid file (mask runs)");
    }
    if (record->mask == nullptr || record->maskLength != maskLength) {
        delete[] record->mask;
        record->mask = new uint8_t[maskLength]();
    }
    if (!mask.empty()) std::memcpy(record->mask, mask.data(), mask.size());
    record->maskLength = maskLength;
    record->flags = flags;
}
