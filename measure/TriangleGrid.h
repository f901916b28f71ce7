#pragma once
// The nearest triangle of a surface to a point: a uniform grid over one
// frame's triangles in world space, built once per frame and asked for many
// points that lie near the surface. Hand-written rather than borrowed: the
// core links the standard library only, and a point-to-triangle query over a
// grid takes a few dozen lines.

#include <cstdint>
#include <vector>

#include "model/Geometry.h"

struct WorldTriangle {
    WorldPoint A;
    WorldPoint B;
    WorldPoint C;
};

// The squared distance from point to the nearest point of tri, edges and
// inside included. A triangle without area counts as its three edges.
double PointTriangleDistance2(const WorldPoint& point, const WorldTriangle& tri);

class TriangleGrid {
public:
    // Replaces the grid by one over triangles; the vectors keep their memory
    // from one frame to the next.
    void Build(const std::vector<WorldTriangle>& triangles);

    // The squared distance from point to the nearest triangle, the same value
    // as the smallest PointTriangleDistance2 over all of them (infinity for a
    // grid without triangles). hint names a triangle likely to be near, such
    // as the answer for the previous point, and is set to the nearest one.
    // Not for two threads at once.
    double Nearest2(const WorldPoint& point, uint32_t& hint) const;

private:
    // A triangle as the query wants it: edges from A, and the unit normal and
    // offset of its plane (zero for a triangle without area), whose distance
    // alone rejects most triangles before the full test.
    struct Facet {
        WorldPoint A;
        WorldPoint AB;
        WorldPoint AC;
        WorldPoint Normal;
        double PlaneOffset = 0;
        bool Flat = false;  // no area: measured by its edges
    };
    struct CellRange {
        std::array<int64_t, 3> Low;
        std::array<int64_t, 3> High;
    };
    CellRange cellsOf(const WorldPoint& min, const WorldPoint& max) const;
    static double distance2(const WorldPoint& point, const Facet& facet);
    // Tests every triangle listed in the cells of range against best.
    void searchCells(const CellRange& range, const WorldPoint& point, double& best, uint32_t& nearest) const;

    std::vector<Facet> facets;            // in the order given
    WorldPoint origin{0, 0, 0};           // the low corner of the grid
    double cellSize = 1;
    double cellsPerUnit = 1;              // 1 / cellSize: cells are found by multiplying
    std::array<int64_t, 3> cellCount{1, 1, 1};
    std::vector<std::size_t> cellStart;   // cell c lists cellItems[cellStart[c] .. cellStart[c + 1])
    std::vector<uint32_t> cellItems;      // triangle indices, each in every cell its box meets
    // The query that last measured each triangle: queries change them, so a
    // grid answers one query at a time.
    mutable std::vector<uint32_t> seenAt;
    mutable uint32_t query = 0;
};
