#pragma once
// One vertex's live fan as the collapses (reduce/Collapser.cpp) read it
// before weighing where it may go: its triangles, its sides and its
// neighbours, with what each neighbour shares with it.

#include <array>
#include <cstdint>
#include <vector>

#include "model/AnimatedMesh.h"
#include "reduce/SplitSeams.h"

class FanIndex;

struct Neighbour {
    uint32_t Vertex = 0;
    uint32_t Triangles = 0;                        // triangles of the fan that hold both
    std::array<uint32_t, 2> Shared{kNone, kNone};  // the first two of them
};

// One vertex's live fan as read for a collapse.
struct FanScratch {
    uint32_t Vertex = 0;
    int BorderEdges = 0;
    std::vector<uint32_t> Fan;
    std::vector<uint32_t> Sides;  // the distinct wedges of its corners
    std::vector<Neighbour> Neighbours;
};

// Tables by vertex and by side, kNone but within the read that fills them:
// each read starts from clean ones and leaves them so.
struct SlotTables {
    std::vector<uint32_t> OfNeighbour;  // by vertex
    std::vector<uint32_t> OfWedge;      // by side
};

// Reads v's live fan into s: its triangles (those of fans.Of(v) that
// triangleRemoved does not mark and that still hold v), its sides (by
// cornerWedge), its neighbours with the triangles each shares with v. False
// when v may not go: removed (vertexDead), on a non-manifold edge, where
// borders meet, in a triangle with a repeated corner, or with no fan left.
bool ReadFan(uint32_t v, const std::vector<MeshTriangle>& triangles, const std::vector<uint8_t>& triangleRemoved,
             const std::vector<uint8_t>& vertexDead, const FanIndex& fans, const std::vector<uint32_t>& cornerWedge, FanScratch& s,
             SlotTables& slots);

// w among s's neighbours, or null.
inline const Neighbour* NeighbourOf(const FanScratch& s, uint32_t w)
{
    for (const Neighbour& n : s.Neighbours)
        if (n.Vertex == w) return &n;
    return nullptr;
}
