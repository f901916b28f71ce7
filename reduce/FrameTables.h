#pragma once
// The tables the collapses (reduce/Quadric.cpp) build once, before the
// first collapse, and only read from then on: where each frame's packed
// positions lie in the unit box of the whole animation, which frames'
// errors are weighed, and those frames' positions gathered vertex by vertex.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/AnimatedMesh.h"
#include "reduce/QuadricMath.h"

struct QuadricOptions;

struct FrameTables {
    const PackedPosition* Positions = nullptr;  // the view's, which outlives the tables
    std::size_t VertexStride = 0;               // positions of vertex v start at v * VertexStride
    std::size_t FrameStride = 0;                // and frame f lies f * FrameStride further
    // Per frame: packed positions times UnitScale plus UnitOffset lie in the
    // unit box, so that no term of a quadric dwarfs the errors compared.
    std::vector<Vec3> UnitScale;
    std::vector<Vec3> UnitOffset;
    std::vector<uint32_t> ErrorFrames;      // ascending, frame 0 first
    std::vector<PackedPosition> ErrorRows;  // [v * ErrorFrames.size() + k]; empty when every frame is chosen
    std::size_t ErrorStep = 0;              // the k-th chosen frame lies k * ErrorStep into a vertex's row

    const PackedPosition* RowOf(uint32_t v) const { return &Positions[std::size_t(v) * VertexStride]; }
    // Packed position p of frame f in the unit box.
    Vec3 UnitOf(const PackedPosition& p, uint32_t f) const
    {
        return {p[0] * UnitScale[f][0] + UnitOffset[f][0], p[1] * UnitScale[f][1] + UnitOffset[f][1],
                p[2] * UnitScale[f][2] + UnitOffset[f][2]};
    }
    Vec3 UnitAt(uint32_t v, uint32_t f) const { return UnitOf(RowOf(v)[std::size_t(f) * FrameStride], f); }

    // A vertex's positions in the chosen frames: read the k-th through ErrorPosition.
    const PackedPosition* ErrorRowOf(uint32_t v) const
    {
        return ErrorRows.empty() ? RowOf(v) : &ErrorRows[std::size_t(v) * ErrorFrames.size()];
    }
    const PackedPosition& ErrorPosition(const PackedPosition* row, std::size_t k) const { return row[k * ErrorStep]; }
    // UnitAt(v, ErrorFrames[k]), read from the chosen frames' rows.
    Vec3 ErrorUnitAt(uint32_t v, std::size_t k) const { return UnitOf(ErrorPosition(ErrorRowOf(v), k), ErrorFrames[k]); }
    // Frame 0 is always chosen, and first: the texture quadrics read positions there.
    Vec3 FrameZeroAt(uint32_t v) const { return ErrorUnitAt(v, 0); }
};

// The tables of a view: its unit box, the frames chosen by options (see
// ChooseErrorFrames) and their rows. The view must outlive them.
FrameTables BuildFrameTables(const AnimatedMesh& mesh, const QuadricOptions& options);
