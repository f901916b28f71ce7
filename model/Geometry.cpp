#include "model/Geometry.h"

#include <algorithm>
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

WorldBox FrameBox(const TMDLModel& model, int frame)
{
    WorldBox box;
    if (frame < 0 || std::size_t(frame) >= model.Frames.size()) return box;
    const PositionTransform transform = PositionTransformOf(model.Header);
    for (const FrameVert& vert : model.Frames[std::size_t(frame)].Items) box.Add(transform.Apply(vert));
    return box;
}

WorldBox AnimationBox(const TMDLModel& model)
{
    WorldBox box;
    for (std::size_t frame = 0; frame < model.Frames.size(); ++frame) box.Add(FrameBox(model, int(frame)));
    return box;
}
