// The lock state a storage keeps per runout, and its saved form: flags, then (when per-hand
// locks exist) the mask as alternating runs of 0-bytes and 1-bytes.
#pragma once

#include <cstdint>
#include <vector>

class BinaryReader;
class BinaryWriter;

// Flags bits.
inline constexpr uint32_t kLockNodeFlag = 1u;    // the node is locked (callers skip updates)
inline constexpr uint32_t kLockCombosFlag = 2u;  // per-hand locks present: mask is non-null

// Layout (one per runout; written by the lock commands and by load):
//   flags       kLockNodeFlag, kLockCombosFlag; no other bit is used
//   mask        one byte per hand, array new; not 0 = hand locked. Null exactly when
//               kLockCombosFlag is clear
//   maskLength  bytes in mask, 0 when there is none
struct LockRecord {
    uint32_t flags = 0;
    uint8_t* mask = nullptr;
    int32_t maskLength = 0;
};

// Frees the mask (array delete), clears kLockCombosFlag and the length; other flags stay.
void ClearLockMask(LockRecord* record);

// Gives the record a mask of length bytes, all 0 (free), replacing any mask it held, and sets
// kLockCombosFlag.
void SetLockMask(LockRecord* record, int32_t length);

// Run form of a mask: run lengths alternating between 0-bytes and 1-bytes, starting with a
// (possibly empty) run of 0-bytes; every non-zero byte counts as 1. Covers the whole mask.
std::vector<int16_t> EncodeMaskRuns(const uint8_t* mask, int32_t length);

// Fills mask[0, length) from runs: value 0 first, toggled after every run; an empty or negative
// run writes nothing; runs left once the mask is full are ignored. Returns false when the runs
// end before length bytes are filled (the bytes not reached are left as they were).
bool DecodeMaskRuns(const int16_t* runs, int32_t runCount, uint8_t* mask, int32_t length);

// Writes the record's saved form: u32 flags; when the mask exists, i16 maskLength, i16 runCount
// and the runs. Little-endian, no padding.
void SaveLockRecord(BinaryWriter& out, const LockRecord& record);

// Reads what SaveLockRecord writes into a record of handCount hands. Throws IOException
// "invalid file (mask length)" when maskLength is not handCount, "invalid file (run count)" for
// a negative run count, "invalid file (mask runs)" when the runs end early; reader failures
// propagate. The record changes only when the whole part was read and found sound; a mask it
// held is replaced (or freed when the flags carry none).
void LoadLockRecord(BinaryReader& in, LockRecord* record, int32_t handCount);
