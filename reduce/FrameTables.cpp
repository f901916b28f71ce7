#include "reduce/FrameTables.h"

#include <algorithm>

#include "reduce/ErrorFrames.h"

namespace {

// Each frame's packed positions into the unit box of the whole animation,
// through that frame's own transform.
void unitTransforms(const AnimatedMesh& mesh, FrameTables& tables)
{
    const WorldBox box = AnimationBox(mesh);
    double extent = 0;
    for (std::size_t a = 0; a < 3; ++a) extent = std::max(extent, box.Max[a] - box.Min[a]);
    const double toUnit = extent > 0 ? 1.0 / extent : 1.0;
    tables.UnitScale.resize(mesh.FrameCount);
    tables.UnitOffset.resize(mesh.FrameCount);
    for (uint32_t f = 0; f < mesh.FrameCount; ++f)
        for (std::size_t a = 0; a < 3; ++a) {
            tables.UnitScale[f][a] = double(mesh.Transform(f).Scale[a]) * toUnit;
            tables.UnitOffset[f][a] = (double(mesh.Transform(f).Offset[a]) - box.Min[a]) * toUnit;
        }
}

// Where the chosen frames are some of many, their positions are copied
// together, vertex by vertex: a vertex's chosen frames then lie in one
// or two cache lines, where they lay a frame's row apart.
void gatherErrorRows(const AnimatedMesh& mesh, FrameTables& tables)
{
    const std::size_t frames = tables.ErrorFrames.size();
    if (frames == mesh.FrameCount) {  // every frame, in order: the view's own rows
        tables.ErrorStep = tables.FrameStride;
        return;
    }
    tables.ErrorRows.resize(std::size_t(mesh.VertexCount) * frames);
    for (uint32_t v = 0; v < mesh.VertexCount; ++v)
        for (std::size_t k = 0; k < frames; ++k)
            tables.ErrorRows[std::size_t(v) * frames + k] = tables.RowOf(v)[std::size_t(tables.ErrorFrames[k]) * tables.FrameStride];
    tables.ErrorStep = 1;
}

}  // namespace

FrameTables BuildFrameTables(const AnimatedMesh& mesh, const QuadricOptions& options)
{
    FrameTables tables;
    tables.Positions = mesh.Positions.data();
    tables.VertexStride = mesh.VertexMajor ? mesh.FrameCount : 1;
    tables.FrameStride = mesh.VertexMajor ? 1 : mesh.VertexCount;
    unitTransforms(mesh, tables);
    tables.ErrorFrames = ChooseErrorFrames(mesh, tables, options);
    gatherErrorRows(mesh, tables);
    return tables;
}
