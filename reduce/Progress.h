#pragma once
// The process-wide generator that decides when a reduction pass shows its
// progress, and the progress text itself.

#include <cstdint>
#include <string>

// One draw from the generator: seed = seed * 134775813 + 1 (mod 2^32), then
// the integer part of seed * 30 / 2^32, a number from 0 to 29. The seed is 0
// at program start and carries over from pass to pass.
uint32_t ProgressDraw();

// For tests that replay a sequence of passes from a known state.
uint32_t ProgressSeed();
void SetProgressSeed(uint32_t Seed);

// round(Index / Count * 100), halves to even, then "% Complete(Phase<Phase>/2)".
std::string ProgressText(int64_t Index, int64_t Count, int Phase);
