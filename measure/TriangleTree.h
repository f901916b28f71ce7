#pragma once
// The nearest triangle of a surface to a point: a bounding-volume hierarchy
// over one frame's triangles in world space, built once per frame and asked
// for many points. Hand-written rather than borrowed: the core links the
// standard library only, and a point-to-triangle query needs a few lines.

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

class TriangleTree {
public:
    // Replaces the tree by one over triangles; the vectors keep their memory
    // from one frame to the next.
    void Build(const std::vector<WorldTriangle>& triangles);

    // The squared distance from point to the nearest triangle, the same value
    // as the smallest PointTriangleDistance2 over all of them (infinity for a
    // tree without triangles). hint names a triangle likely to be near, such
    // as the answer for the previous point, and is set to the nearest one.
    double Nearest2(const WorldPoint& point, uint32_t& hint) const;

private:
    struct Node {
        WorldPoint Min;
        WorldPoint Max;
        uint32_t First = 0;  // a leaf's first triangle; an inner node's first child, the second follows
        uint32_t Count = 0;  // triangles of a leaf; 0 for an inner node
    };
    void buildNode(uint32_t node, uint32_t begin, uint32_t end);

    std::vector<Node> nodes;
    std::vector<WorldTriangle> triangles;  // in leaf order
    std::vector<uint32_t> order;           // build scratch: triangle indices
    std::vector<WorldPoint> centres;       // build scratch: one centre per triangle
};
