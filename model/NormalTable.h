#pragma once
// The 162 vertex normals that a frame vertex's NormalIndex refers to. Kept in
// model/ because both the reduction and the renderer read it, and neither may
// use the other.

#include <array>

// Frame vertices of MDL5, Quake MDL and MD2 hold an index into this table.
inline constexpr int kNormalCount = 162;
extern const std::array<std::array<float, 3>, kNormalCount> NormalTable;
