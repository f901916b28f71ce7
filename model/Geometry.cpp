#include "model/Geometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

void WorldBox::Add(const WorldPoint& point)
{
    for (int axis = 0; axis < 3; ++axis) {
        Min[axis] = Empty ? point[axis] : std::min(Min[axis], point[axis]);
        Max[axis] = Empty ? point[axis] : std::max(Max[axis], point[axis]);
    }
    Empty = false;
}

void WorldBox::Add(const WorldBox& other)
{
    if (other.Empty) return;
    Add(other.Min);
    Add(other.Max);
}

double WorldBox::Diagonal() const
{
    if (Empty) return 0;
    return std::hypot(Max[0] - Min[0], Max[1] - Min[1], Max[2] - Min[2]);
}

// The squared distance from point to the nearest of the edges AB, BC, CA of
// the triangle a, a + ab, a + ac, the first of them on a tie; v and w get the
// weights of B and C at that nearest point.
double EdgesDistance2(const WorldPoint& point, const WorldPoint& a, const WorldPoint& ab, const WorldPoint& ac, double& v, double& w)
{
    const WorldPoint b{a[0] + ab[0], a[1] + ab[1], a[2] + ab[2]};
    const WorldPoint c{a[0] + ac[0], a[1] + ac[1], a[2] + ac[2]};
    const WorldPoint bc = Minus(c, b);
    const WorldPoint ca = Minus(a, c);
    const double tab = SegmentParameter(point, a, ab);
    const double tbc = SegmentParameter(point, b, bc);
    const double tca = SegmentParameter(point, c, ca);
    double best = Distance2To(point, a, ab, tab);
    v = tab, w = 0;
    if (const double d = Distance2To(point, b, bc, tbc); d < best) best = d, v = 1 - tbc, w = tbc;
    if (const double d = Distance2To(point, c, ca, tca); d < best) best = d, v = 0, w = 1 - tca;
    return best;
}

double PointTriangleDistance2(const WorldPoint& point, const WorldTriangle& tri)
{
    const WorldPoint ab = Minus(tri.B, tri.A);
    const WorldPoint ac = Minus(tri.C, tri.A);
    const WorldPoint normal = Cross(ab, ac);
    double v = 0, w = 0;
    return Dot(normal, normal) == 0 ? EdgesDistance2(point, tri.A, ab, ac, v, w) : FacetDistance2(point, tri.A, ab, ac, v, w);
}
