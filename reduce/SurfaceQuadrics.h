#pragma once
// What the collapses (reduce/Quadric.cpp) weigh a collapse with, built from
// the live triangles before the first collapse and again at each fresh
// start, and kept in step by every collapse: each vertex's planes in each
// chosen frame, its sides (wedges) with their texture quadrics, the vertices
// on a border and the split seams.

#include <cstdint>
#include <vector>

#include "model/AnimatedMesh.h"
#include "reduce/QuadricMath.h"
#include "reduce/SplitSeams.h"

class FanIndex;
struct FrameTables;

inline bool HasRepeatedCorner(const MeshTriangle& tri)
{
    const auto& c = tri.Vertex;
    return c[0] == c[1] || c[1] == c[2] || c[0] == c[2];
}

// The corner of tri that is v, or -1.
inline int CornerOf(const MeshTriangle& tri, uint32_t v)
{
    for (int j = 0; j < 3; ++j)
        if (tri.Vertex[std::size_t(j)] == v) return j;
    return -1;
}

// A side of a vertex: the corners that share one texture coordinate value
// (and, where coordinates belong to vertices, one facing). U and V are in
// surface units, as the texture quadrics measure them.
struct Wedge {
    uint32_t Vertex = 0;
    uint32_t TexCoord = 0;  // the record a corner moved onto this side takes
    float U = 0;
    float V = 0;
};

struct SurfaceQuadrics {
    // Vertex-major, [v * ErrorFrames.size() + k]: the planes of v's triangles
    // weighted by area, and planes along border edges that are no split seam.
    std::vector<Quadric> Planes;
    // On a border when built, or the target of a collapse of a border
    // vertex since. Marks are never taken back between fresh starts (an
    // over-marked vertex is only refused more), and each fresh start builds
    // them anew from the borders as they are then.
    std::vector<uint8_t> OnBorder;
    PlaceGroups Seams;  // the split seams: the sides of each, and each vertex's (kNone for none)
    std::vector<Wedge> Wedges;
    std::vector<uint32_t> WedgeStart;             // the wedges of v: [WedgeStart[v], WedgeStart[v + 1])
    std::vector<uint32_t> CornerWedge;            // [3 * t + j]
    std::vector<TextureQuadric> TextureQuadrics;  // beside Wedges
};

// The quadrics of the live triangles: those of triangles (the view's list,
// changed in place by the collapses) whose slot removed does not mark, with
// fans indexing them by vertex.
SurfaceQuadrics BuildSurfaceQuadrics(const AnimatedMesh& mesh, const FrameTables& tables, const std::vector<MeshTriangle>& triangles,
                                     const std::vector<uint8_t>& removed, const FanIndex& fans);
