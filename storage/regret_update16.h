// The 16-bit regret update of the ShortRiverStorage and the 16-bit CompressedRiverStorage: a
// value q stands for the regret scaled by scale^0.75, and an update moves it by
// trunc((scale x |d|)^0.75) = trunc((p x sqrt|d|) x sqrt(sqrt|d|)), p = powf(scale, 0.75).
#pragma once

#include <cstdint>
#include <vector>

// For each hand i < n whose mask byte is 0 (all when mask is null): d = action[i] - node[i]
// (a null row reads as zeros); d >= 1/scale adds the step, d <= -1/scale subtracts it, anything
// smaller changes nothing. Results saturate to [0, 65535] (the step is clamped before its
// integer conversion). Then, when groups is non-null, every run of equal showdown strength is
// set to its truncated mean, masked hands included. Roots are exact, so this vector form and
// the single-hand form below give the same values.
void UpdateRegrets16(uint16_t* q, const float* node, const float* action, int32_t n,
                     const std::vector<int16_t>* groups, const uint8_t* mask, float scale);
void UpdateRegrets16Scalar(uint16_t* q, const float* node, const float* action, int32_t n,
                           const std::vector<int16_t>* groups, const uint8_t* mask, float scale);
