#pragma once
// Points and boxes in world space, and the vector arithmetic on them: shared
// by the renderer, the measure and the reduction methods, which may not use
// each other.

#include <algorithm>
#include <array>
#include <cstdint>

using WorldPoint = std::array<double, 3>;

// Vector arithmetic on world points, in double, each in the order written
// (x, then y, then z): the collapses, the measure and the renderer share
// these, so a change of one is a change of all, and bit-exact results stay so.
inline WorldPoint Minus(const WorldPoint& a, const WorldPoint& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline WorldPoint Plus(const WorldPoint& a, const WorldPoint& b)
{
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
inline double Dot(const WorldPoint& a, const WorldPoint& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline WorldPoint Cross(const WorldPoint& a, const WorldPoint& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// ---- the distance from a point to a triangle, shared by the measure and the collapses ----

// point - (from + along * t), squared.
inline double Distance2To(const WorldPoint& point, const WorldPoint& from, const WorldPoint& along, double t)
{
    const WorldPoint q{from[0] + along[0] * t, from[1] + along[1] * t, from[2] + along[2] * t};
    const WorldPoint d = Minus(point, q);
    return Dot(d, d);
}

// The nearest point of segment a, a + along to point: its parameter t in [0, 1].
inline double SegmentParameter(const WorldPoint& point, const WorldPoint& a, const WorldPoint& along)
{
    const double length2 = Dot(along, along);
    return length2 > 0 ? std::clamp(Dot(Minus(point, a), along) / length2, 0.0, 1.0) : 0.0;
}

// The squared distance from point to the nearest of the edges AB, BC, CA of
// the triangle a, a + ab, a + ac, the first of them on a tie; v and w get the
// weights of B and C at that nearest point.
double EdgesDistance2(const WorldPoint& point, const WorldPoint& a, const WorldPoint& ab, const WorldPoint& ac, double& v, double& w);

// The squared distance from point to the triangle a, a + ab, a + ac, which has
// area; v and w get the weights of B and C at the nearest point. That point
// lies in one of seven regions: a corner, an edge or the inside, told apart
// by signs of dot products (barycentric coordinates without division). Each
// division below runs only where its divisor is a squared edge length or
// twice the squared area, above zero for such a triangle. Inlined where only
// the distance is wanted, the weights cost nothing.
inline double FacetDistance2(const WorldPoint& point, const WorldPoint& a, const WorldPoint& ab, const WorldPoint& ac, double& v,
                             double& w)
{
    const WorldPoint ap = Minus(point, a);
    const double d1 = Dot(ab, ap);
    const double d2 = Dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) {
        v = 0, w = 0;
        return Dot(ap, ap);
    }

    const WorldPoint bp = Minus(ap, ab);
    const double d3 = Dot(ab, bp);
    const double d4 = Dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) {
        v = 1, w = 0;
        return Dot(bp, bp);
    }

    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) {
        v = d1 / (d1 - d3), w = 0;
        return Distance2To(point, a, ab, v);
    }

    const WorldPoint cp = Minus(ap, ac);
    const double d5 = Dot(ab, cp);
    const double d6 = Dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) {
        v = 0, w = 1;
        return Dot(cp, cp);
    }

    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) {
        v = 0, w = d2 / (d2 - d6);
        return Distance2To(point, a, ac, w);
    }

    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0) {
        const WorldPoint b{a[0] + ab[0], a[1] + ab[1], a[2] + ab[2]};
        w = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        v = 1 - w;
        return Distance2To(point, b, Minus(ac, ab), w);
    }

    // Inside. A sliver whose area rounds away is left to its edges.
    const double sum = va + vb + vc;
    if (!(sum > 0)) return EdgesDistance2(point, a, ab, ac, v, w);
    v = vb / sum;
    w = vc / sum;
    const WorldPoint q{a[0] + ab[0] * v + ac[0] * w, a[1] + ab[1] * v + ac[1] * w, a[2] + ab[2] * v + ac[2] * w};
    const WorldPoint d = Minus(point, q);
    return Dot(d, d);
}

struct WorldTriangle {
    WorldPoint A;
    WorldPoint B;
    WorldPoint C;
};

// The squared distance from point to the nearest point of tri, edges and
// inside included. A triangle without area counts as its three edges.
double PointTriangleDistance2(const WorldPoint& point, const WorldTriangle& tri);

// The smallest box that holds a set of points; empty until one is added.
struct WorldBox {
    WorldPoint Min{0, 0, 0};
    WorldPoint Max{0, 0, 0};
    bool Empty = true;

    void Add(const WorldPoint& point);
    void Add(const WorldBox& other);
    // The length of the box's diagonal; 0 for an empty box.
    double Diagonal() const;
};
