#pragma once
// Where a model's vertices stand in the world: the packed frame positions
// through the header's position scale (offset 8) and offset (offset 20).
// Shared by the renderer, the measure and the reduction methods, which may
// not use each other.

#include <array>
#include <cstdint>

#include "model/MDLClass.h"

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

// The header's position scale and offset, read from the carried bytes.
struct PositionTransform {
    std::array<float, 3> Scale{1.0f, 1.0f, 1.0f};
    std::array<float, 3> Offset{};

    // world = packed * scale + offset, per axis.
    WorldPoint Apply(const FrameVert& vert) const
    {
        return {double(vert.X) * Scale[0] + Offset[0], double(vert.Y) * Scale[1] + Offset[1],
                double(vert.Z) * Scale[2] + Offset[2]};
    }
};

// The transform a header carries. A scale or offset that is not finite is
// taken as 1 or 0, so that a damaged header never yields NaN positions.
PositionTransform PositionTransformOf(const MDL5Header& header);

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

// The box of one frame's vertices in world space (empty for a frame index
// outside the model or a frame without vertices).
WorldBox FrameBox(const TMDLModel& model, int frame);
// The box of every frame, so that a camera framed on it holds the whole animation.
WorldBox AnimationBox(const TMDLModel& model);
