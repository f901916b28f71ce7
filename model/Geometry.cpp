#include "model/Geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

PositionTransform PositionTransformOf(const MDL5Header& header)
{
    // Carried1 starts at file offset 4: the scale stands at 8, the offset at 20.
    constexpr std::size_t kScaleAt = 8 - 4;
    constexpr std::size_t kOffsetAt = 20 - 4;
    PositionTransform transform;
    for (int axis = 0; axis < 3; ++axis) {
        uint32_t scaleBits = 0;
        uint32_t offsetBits = 0;
        for (int b = 0; b < 4; ++b) {  // little-endian on every machine
            scaleBits |= uint32_t(header.Carried1[kScaleAt + 4 * axis + b]) << (8 * b);
            offsetBits |= uint32_t(header.Carried1[kOffsetAt + 4 * axis + b]) << (8 * b);
        }
        float scale = 0;
        float offset = 0;
        std::memcpy(&scale, &scaleBits, sizeof scale);
        std::memcpy(&offset, &offsetBits, sizeof offset);
        transform.Scale[axis] = std::isfinite(scale) ? scale : 1.0f;
        transform.Offset[axis] = std::isfinite(offset) ? offset : 0.0f;
    }
    return transform;
}

void WorldBox::Add(const WorldPoint& point)
{
    for (int axis = 0; axis < 3; ++axis) {
        Min[axis] = Empty ? point[axis] : std::min(Min[axis], point[axis]);
        Max[axis] = Empty ? point[axis] : std::max(Max[axis], point[axis]);
    }
    Empty = false;
}

void WorldBox::Add(const WorldBox& other)
{
    if (other.Empty) return;
    Add(other.Min);
    Add(other.Max);
}

double WorldBox::Diagonal() const
{
    if (Empty) return 0;
    return std::hypot(Max[0] - Min[0], Max[1] - Min[1], Max[2] - Min[2]);
}

namespace {

// The least and largest packed value on each axis of a list of vertices.
struct PackedExtremes {
    std::array<uint16_t, 3> Min{65535, 65535, 65535};
    std::array<uint16_t, 3> Max{0, 0, 0};
    bool Empty = true;

    void Add(const SmallVector<FrameVert>& verts)
    {
        // Blocks of eight vertices as 32 plain lanes (X, Y, Z, normal and
        // spare, four times eight), so that the compiler compares many lanes
        // at once: this scan reads every frame and is the price of framing
        // an animation. Lane k holds axis k % 4; lanes of axis 3 are unused.
        constexpr std::size_t kBlock = 8;
        constexpr std::size_t kLanes = kBlock * 4;
        static_assert(sizeof(FrameVert) == 4 * sizeof(uint16_t));
        std::array<uint16_t, kLanes> low, high;
        low.fill(65535);
        high.fill(0);
        const std::size_t blocks = verts.size() / kBlock;
        for (std::size_t b = 0; b < blocks; ++b) {
            std::array<uint16_t, kLanes> lanes;
            std::memcpy(lanes.data(), &verts[b * kBlock], sizeof lanes);
            for (std::size_t k = 0; k < kLanes; ++k) {
                low[k] = std::min(low[k], lanes[k]);
                high[k] = std::max(high[k], lanes[k]);
            }
        }
        for (std::size_t k = 0; k < kLanes; ++k) {
            if (k % 4 == 3) continue;
            Min[k % 4] = std::min(Min[k % 4], low[k]);
            Max[k % 4] = std::max(Max[k % 4], high[k]);
        }
        for (std::size_t i = blocks * kBlock; i < verts.size(); ++i) {
            const FrameVert& vert = verts[i];
            Min = {std::min(Min[0], vert.X), std::min(Min[1], vert.Y), std::min(Min[2], vert.Z)};
            Max = {std::max(Max[0], vert.X), std::max(Max[1], vert.Y), std::max(Max[2], vert.Z)};
        }
        Empty = Empty && verts.empty();
    }

    // The transform keeps the order of packed values on each axis (a negative
    // scale reverses it, rounding never does), so the transformed extremes
    // are exactly the box of the transformed vertices, as the plain loop over
    // every vertex would find it.
    WorldBox World(const PositionTransform& transform) const
    {
        WorldBox box;
        if (Empty) return box;
        FrameVert low, high;
        low.X = Min[0], low.Y = Min[1], low.Z = Min[2];
        high.X = Max[0], high.Y = Max[1], high.Z = Max[2];
        box.Add(transform.Apply(low));
        box.Add(transform.Apply(high));
        return box;
    }
};

}  // namespace

WorldBox FrameBox(const TMDLModel& model, int frame)
{
    if (frame < 0 || std::size_t(frame) >= model.Frames.size()) return {};
    PackedExtremes extremes;
    extremes.Add(model.Frames[std::size_t(frame)].Items);
    return extremes.World(PositionTransformOf(model.Header));
}

WorldBox AnimationBox(const TMDLModel& model)
{
    // One pass of integer compares over every frame, one transform at the end:
    // the renderer asks for this box on every picture.
    PackedExtremes extremes;
    for (const TMDLFrame& frame : model.Frames) extremes.Add(frame.Items);
    return extremes.World(PositionTransformOf(model.Header));
}
