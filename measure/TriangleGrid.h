#pragma once
// The nearest triangle of a surface to a point: a uniform grid over one
// frame's triangles (or clusters of them) in world space, built once per
// frame and asked for many points that lie near the surface. Hand-written
// rather than borrowed: the core links the standard library only, and a
// point-to-triangle query over a grid takes a few dozen lines.

#include <array>
#include <cstdint>
#include <vector>

#include "model/Geometry.h"

class TriangleGrid {
public:
    // Replaces the grid by one over triangles, each three indices into points
    // (copied: the caller's lists may change afterwards). Every index must be
    // below points.size(). The vectors keep their memory from one frame to the next.
    void Build(const std::vector<WorldPoint>& points, const std::vector<std::array<uint32_t, 3>>& triangles);
    // The same over the triangles of the last Build, at new points: the next
    // frame of an animation, without comparing the triangles again.
    void Rebuild(const std::vector<WorldPoint>& points);

    // The squared distance from point to the nearest triangle, the same value
    // as the smallest PointTriangleDistance2 over all of them (infinity for a
    // grid without triangles). hint names a triangle likely to be near, such
    // as the answer for the previous point, and is set to the nearest one:
    // of several equally near, the first in the order given, whatever the hint.
    // Not for two threads at once.
    double Nearest2(const WorldPoint& point, uint32_t& hint) const;

    // The squared distance from point to one triangle (an index given to
    // Build): a bound on Nearest2 at the price of one test.
    double Distance2(const WorldPoint& point, uint32_t triangle) const;

    // Every triangle within reach2 (squared) of point, into found (cleared
    // first), in no particular order. Not for two threads at once.
    void Within(const WorldPoint& point, double reach2, std::vector<uint32_t>& found) const;

    // Where on triangle (an index given to Build) the point nearest to point
    // lies, as the weights of its three corners (summing to 1).
    std::array<double, 3> NearestWeights(const WorldPoint& point, uint32_t triangle) const;

private:
    struct CellRange {  // at most 1e6 + 1 cells an axis
        std::array<int32_t, 3> Low;
        std::array<int32_t, 3> High;
    };
    struct Box {
        WorldPoint Low;
        WorldPoint High;
    };
    // A lone triangle as the query wants it: its corners; the unit normal
    // and offset of its plane (zero for a triangle without area), and its
    // box, rounded outwards to float: either distance is never more than the
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
    // Cells list clusters of nearby triangles. Where the triangles are about
    // as many as the points a frame's measure asks about (tens of thousands)
    // or fewer, a cluster is one triangle with its facet. Where they are many
    // more, a cluster holds bit_floor(triangles / kManyTriangles) of them, up
    // to kLargestCluster, and no facets are kept: building the grid each
    // frame then costs less than the queries it serves. About
    // kCellsPerCluster cells and kEntriesPerCluster cell entries a cluster at
    // most: enough cells that a query near the surface looks at a few
    // clusters, few enough that a grid over a handful of huge triangles stays small.
    static constexpr std::size_t kManyTriangles = 16384;
    static constexpr std::size_t kLargestCluster = 8;
    static constexpr double kCellsPerCluster = 4;
    static constexpr double kEntriesPerCluster = 32;

    void formClusters();
    CellRange cellsOf(const WorldPoint& min, const WorldPoint& max) const;
    // The squared distance from point to the triangle with these corners; v
    // and w get the weights of the second and third at the nearest point.
    double distance2(const WorldPoint& point, const std::array<uint32_t, 3>& corner, double& v, double& w) const;
    // Calls visit(lone, i) for each triangle sorted[i] of every cluster
    // listed in the cells of range whose box lies within reach2 of point
    // (read at each cluster: visit may lower it); lone, a std::bool_constant,
    // tells lone triangles, whose boxes are their facets', from clusters.
    template <bool Lone, typename Visit>
    void visitClusters(const CellRange& range, const WorldPoint& point, const double& reach2, Visit&& visit) const;

    std::vector<WorldPoint> points;
    std::vector<std::array<uint32_t, 3>> corners;  // the triangles in the order given
    std::vector<uint32_t> order;                   // the triangles cluster by cluster, as indices into corners
    std::vector<std::array<uint32_t, 3>> sorted;   // sorted[i] = corners[order[i]]
    std::size_t clusterSize = 1;
    // Cluster c's vertices, each once: clusterVertices[clusterVertexStart[c] ..
    // clusterVertexStart[c + 1]), when clusters have several triangles.
    std::vector<uint32_t> clusterVertexStart;
    std::vector<uint32_t> clusterVertices;
    std::vector<Box> boxes;                        // each cluster's in this frame, when clusters have several triangles
    // Of sorted[i] when clusters are lone triangles: corners set once, the rest each frame.
    std::vector<Facet> facets;
    WorldPoint origin{0, 0, 0};                    // the low corner of the grid
    double cellSize = 1;
    double cellsPerUnit = 1;                       // 1 / cellSize: cells are found by multiplying
    std::array<int64_t, 3> cellCount{1, 1, 1};
    // Cell c lists cellItems[cellStart[c] .. cellStart[c + 1]). 32 bits hold
    // every offset: entries stay within kEntriesPerCluster times the
    // clusters, and Build refuses more triangles than that allows. Half the
    // bytes of a size_t keep the counting passes in cache.
    std::vector<uint32_t> cellStart;
    std::vector<uint32_t> cellItems;               // cluster indices, each in every cell its box meets
    // The query that last looked at each cluster: queries change them, so a
    // grid answers one query at a time.
    mutable std::vector<uint32_t> seenAt;
    mutable uint32_t query = 0;
    std::vector<CellRange> ranges;                 // scratch of Build: each cluster's cells
};
