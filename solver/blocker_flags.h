// Per-run reach flags of a river root: which hands of each equal-strength run can still hold
// reach below it, so the showdown kernels skip dead runs and visit short runs bit by bit.
#pragma once

#include <cstdint>

struct RiverRecord;

// One word per run of the record, at the run's index:
//   run of at most 16 hands: bit j set when hand (first + j) has a non-zero reach bit pattern
//                            (a negative zero counts as non-zero); bits past the run are clear
//   longer run:              1 when any hand of the run has a non-zero pattern, else 0
// A null reach clears every word. flags must hold the record's run count; a record with more
// runs than the flag table holds is fatal.
void BuildBlockerFlags(uint16_t* flags, const float* reach, const RiverRecord& record);
