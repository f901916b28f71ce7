#pragma once
// Points and boxes in world space, and the vector arithmetic on them: shared
// by the renderer, the measure and the reduction methods, which may not use
// each other.

#include <array>
#include <cstdint>

using WorldPoint = std::array<double, 3>;

// Vector arithmetic on world points, in double, each in the order written
// (x, then y, then z): the collapses, the measure and the renderer share
// these, so a change of one is a change of all, and bit-exact results stay so.
inline WorldPoint Minus(const WorldPoint& a, const WorldPoint& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline WorldPoint Plus(const WorldPoint& a, const WorldPoint& b)
{
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
inline double Dot(const WorldPoint& a, const WorldPoint& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline WorldPoint Cross(const WorldPoint& a, const WorldPoint& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// The smallest box that holds a set of points; empty until one is added.
struct WorldBox {
    WorldPoint Min{0, 0, 0};
    WorldPoint Max{0, 0, 0};
    bool Empty = true;

    void Add(const WorldPoint& point);
    void Add(const WorldBox& other);
    // The length of the box's diagonal; 0 for an empty box.
    double Diagonal() const;
};
