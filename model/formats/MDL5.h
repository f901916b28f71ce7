#pragma once
// MDL5, the format TMDLModel holds: its reader and writer are members of
// TMDLModel (declared with the class in model/MDLClass.h) defined in
// MDL5.cpp; here also where its vertices stand in the world (the packed
// frame positions through the header's position scale at offset 8 and
// offset at 20) and its format-neutral view.

#include <array>

#include "model/AnimatedMesh.h"
#include "model/Geometry.h"
#include "model/MDLClass.h"

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

// The box of one frame's vertices in world space (empty for a frame index
// outside the model or a frame without vertices).
WorldBox FrameBox(const TMDLModel& model, int frame);
// The box of every frame, so that a camera framed on it holds the whole animation.
WorldBox AnimationBox(const TMDLModel& model);

// The MDL5 model's view: vertices are frame vertices, texture coordinates its
// skin vertices (texels), one transform (the header's) for every frame.
AnimatedMesh MeshOf(const TMDLModel& model, const MeshOptions& options = {});
// MDL5 files hold their skins: none named to look for.
inline std::vector<SkinSlot> SkinNamesOf(const TMDLModel&) { return {}; }
// Keeps only the survivors' records in model, in every frame alike, and
// lowers the header's counts; records keep their bytes.
void KeepSurvivors(TMDLModel& model, const MeshSurvivors& survivors);
