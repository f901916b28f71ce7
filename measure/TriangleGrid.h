#pragma once
// The nearest triangle of a surface to a point: a uniform grid over one
// frame's triangles in world space, built once per frame and asked for many
// points that lie near the surface. Hand-written rather than borrowed: the
// core links the standard library only, and a point-to-triangle query over a
// grid takes a few dozen lines.

#include <array>
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
    // Replaces the grid by one over triangles, each three indices into points
    // (copied: the caller's lists may change afterwards). Every index must be
    // below points.size(). The vectors keep their memory from one frame to the next.
    void Build(const std::vector<WorldPoint>& points, const std::vector<std::array<uint32_t, 3>>& triangles);

    // The squared distance from point to the nearest triangle, the same value
    // as the smallest PointTriangleDistance2 over all of them (infinity for a
    // grid without triangles). hint names a triangle likely to be near, such
    // as the answer for the previous point, and is set to the nearest one:
    // of several equally near, the first in the order given, whatever the hint.
    // Not for two threads at once.
    double Nearest2(const WorldPoint& point, uint32_t& hint) const;

    // The squared distance from point to one triangle (an index given to
    // Build): a bound on Nearest2 at the price of one test.
    double Distance2(const WorldPoint& point, uint32_t triangle) const { return distance2(point, facets[triangle]); }

    // The side of a cell: the scale of the triangles, for tolerances.
    double CellSize() const { return cellSize; }

    // Every triangle within reach2 (squared) of point, into found (cleared
    // first), in no particular order. Not for two threads at once.
    void Within(const WorldPoint& point, double reach2, std::vector<uint32_t>& found) const;

    // Where on triangle (an index given to Build) the point nearest to point
    // lies, as the weights of its three corners (summing to 1).
    std::array<double, 3> NearestWeights(const WorldPoint& point, uint32_t triangle) const;

private:
    // A triangle as the query wants it: its corners; the unit normal and
    // offset of its plane (zero for a triangle without area), and its box,
    // rounded outwards to float: either distance is never more than the
    // triangle's, and together they reject most triangles before the full
    // test, the plane those across a curved surface, the box those beside a
    // point on a flat one.
    struct Facet {
        std::array<uint32_t, 3> Corner;
        uint32_t Flat = 0;  // no area: measured by its edges
        WorldPoint Normal;
        double PlaneOffset = 0;
        std::array<float, 3> Low;
        std::array<float, 3> High;
    };
    struct CellRange {  // at most 1e6 + 1 cells an axis
        std::array<int32_t, 3> Low;
        std::array<int32_t, 3> High;
    };
    CellRange cellsOf(const WorldPoint& min, const WorldPoint& max) const;
    double distance2(const WorldPoint& point, const Facet& facet) const;
    // Tests every triangle listed in the cells of range against best.
    void searchCells(const CellRange& range, const WorldPoint& point, double& best, uint32_t& nearest) const;

    std::vector<WorldPoint> points;
    std::vector<Facet> facets;            // in the order given
    WorldPoint origin{0, 0, 0};           // the low corner of the grid
    double cellSize = 1;
    double cellsPerUnit = 1;              // 1 / cellSize: cells are found by multiplying
    std::array<int64_t, 3> cellCount{1, 1, 1};
    // Cell c lists cellItems[cellStart[c] .. cellStart[c + 1]). 32 bits hold
    // every offset: entries stay within kEntriesPerTriangle times the
    // triangles, and Build refuses more triangles than that allows. Half the
    // bytes of a size_t keep the counting passes in cache.
    std::vector<uint32_t> cellStart;
    std::vector<uint32_t> cellItems;      // triangle indices, each in every cell its box meets
    // The query that last measured each triangle: queries change them, so a
    // grid answers one query at a time.
    mutable std::vector<uint32_t> seenAt;
    mutable uint32_t query = 0;
    std::vector<CellRange> ranges;        // scratch of Build: each triangle's cells
};
