#include "reduce/LiveFan.h"

#include "reduce/FanIndex.h"
#include "reduce/SurfaceQuadrics.h"

bool ReadFan(uint32_t v, const std::vector<MeshTriangle>& triangles, const std::vector<uint8_t>& triangleRemoved,
             const std::vector<uint8_t>& vertexDead, const FanIndex& fans, const std::vector<uint32_t>& cornerWedge, FanScratch& s,
             SlotTables& slots)
{
    s.Vertex = v;
    s.Fan.clear();
    s.Sides.clear();
    s.Neighbours.clear();
    s.BorderEdges = 0;
    if (vertexDead[v]) return false;
    // The fan index may still list triangles removed or handed on since.
    for (uint32_t t : fans.Of(v))
        if (!triangleRemoved[t] && CornerOf(triangles[t], v) >= 0) s.Fan.push_back(t);
    if (s.Fan.empty()) return false;
    bool movable = true;
    for (uint32_t t : s.Fan) {
        const MeshTriangle& tri = triangles[t];
        if (HasRepeatedCorner(tri)) {
            movable = false;
            break;
        }
        const uint32_t side = cornerWedge[3 * std::size_t(t) + std::size_t(CornerOf(tri, v))];
        if (slots.OfWedge[side] == kNone) {
            slots.OfWedge[side] = uint32_t(s.Sides.size());
            s.Sides.push_back(side);
        }
        for (uint32_t x : tri.Vertex) {
            if (x == v) continue;
            uint32_t& slot = slots.OfNeighbour[x];
            if (slot == kNone) {
                slot = uint32_t(s.Neighbours.size());
                s.Neighbours.push_back({x, 1, {t, kNone}});
            } else {
                Neighbour& n = s.Neighbours[slot];
                if (n.Triangles < 2) n.Shared[n.Triangles] = t;
                ++n.Triangles;
            }
        }
    }
    // The slots are only this call's: the next read starts from clean ones.
    for (uint32_t side : s.Sides) slots.OfWedge[side] = kNone;
    for (const Neighbour& n : s.Neighbours) {
        slots.OfNeighbour[n.Vertex] = kNone;
        if (n.Triangles > 2) movable = false;
        s.BorderEdges += n.Triangles == 1 ? 1 : 0;
    }
    return movable && (s.BorderEdges == 0 || s.BorderEdges == 2);
}
