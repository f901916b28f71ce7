#pragma once
// The connected pieces of surface the collapses (reduce/Collapser.cpp)
// keep from vanishing: a wing of a single triangle lies in its own plane, so
// its planes would let it go for nothing.

#include <cstdint>
#include <vector>

#include "model/AnimatedMesh.h"

struct PlaceGroups;

struct SurfacePieces {
    std::vector<uint32_t> Of;         // the piece of each vertex
    std::vector<uint32_t> Triangles;  // by piece: its triangles, live ones once the collapses keep it so
};

// The pieces of triangles, joined by shared corners and across each split
// seam of seams; found once, before the first collapse: a collapse joins
// nothing, so the pieces stay while their counts fall. The sides of a split
// seam are one piece: an island of texture may shrink away while the
// surface around it closes, but the two faces of a wing, twins all round,
// would go together and leave nothing.
SurfacePieces FindSurfacePieces(const std::vector<MeshTriangle>& triangles, uint32_t vertexCount, const PlaceGroups& seams);
