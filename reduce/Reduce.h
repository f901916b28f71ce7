#pragma once
// What the front ends pass to TMDLModel::Reduce (declared in model/MDLClass.h).

// The texel spread a fan may have: the same for every level.
inline constexpr float kUVLimitTexels = 100.0f;
inline constexpr int kMinLevel = 0;
inline constexpr int kMaxLevel = 10;

// The single-precision value nearest to (10 - level) / 10, divided in extended
// precision and rounded once: 1.0 at level 0, 0.0 at level 10.
float NormalLimitForLevel(int level);
