#include "measure/TriangleTree.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <limits>

namespace {

// Few triangles per leaf: a box test costs about as much as a triangle test.
constexpr uint32_t kLeafSize = 4;
// Median splits halve every node, so depth stays below 33 for any int32
// triangle count; the stack holds at most one waiting sibling per level.
constexpr std::size_t kStackSize = 64;

WorldPoint minus(const WorldPoint& a, const WorldPoint& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

double dot(const WorldPoint& a, const WorldPoint& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

WorldPoint cross(const WorldPoint& a, const WorldPoint& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// point - (from + along * t), squared.
double distance2To(const WorldPoint& point, const WorldPoint& from, const WorldPoint& along, double t)
{
    const WorldPoint q{from[0] + along[0] * t, from[1] + along[1] * t, from[2] + along[2] * t};
    const WorldPoint d = minus(point, q);
    return dot(d, d);
}

double segmentDistance2(const WorldPoint& point, const WorldPoint& a, const WorldPoint& b)
{
    const WorldPoint ab = minus(b, a);
    const double length2 = dot(ab, ab);
    const double t = length2 > 0 ? std::clamp(dot(minus(point, a), ab) / length2, 0.0, 1.0) : 0.0;
    return distance2To(point, a, ab, t);
}

double edgesDistance2(const WorldPoint& point, const WorldTriangle& tri)
{
    return std::min({segmentDistance2(point, tri.A, tri.B), segmentDistance2(point, tri.B, tri.C),
                     segmentDistance2(point, tri.C, tri.A)});
}

// The squared distance from point to the box, 0 inside it: no triangle of the
// box can be nearer, which is what makes skipping the box safe.
template <typename Box>
double boxDistance2(const WorldPoint& point, const Box& box)
{
    double sum = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const double below = box.Min[axis] - point[axis];
        const double above = point[axis] - box.Max[axis];
        const double gap = std::max({below, above, 0.0});
        sum += gap * gap;
    }
    return sum;
}

}  // namespace

double PointTriangleDistance2(const WorldPoint& point, const WorldTriangle& tri)
{
    // The nearest point lies in one of seven regions: a corner, an edge or the
    // inside, told apart by signs of dot products (barycentric coordinates
    // without division). Divisions below only run where their divisor is a
    // squared edge length or twice the squared area, both above zero once the
    // triangle has area.
    const WorldPoint ab = minus(tri.B, tri.A);
    const WorldPoint ac = minus(tri.C, tri.A);
    const WorldPoint normal = cross(ab, ac);
    if (dot(normal, normal) == 0) return edgesDistance2(point, tri);

    const WorldPoint ap = minus(point, tri.A);
    const double d1 = dot(ab, ap);
    const double d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return dot(ap, ap);

    const WorldPoint bp = minus(point, tri.B);
    const double d3 = dot(ab, bp);
    const double d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return dot(bp, bp);

    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return distance2To(point, tri.A, ab, d1 / (d1 - d3));

    const WorldPoint cp = minus(point, tri.C);
    const double d5 = dot(ab, cp);
    const double d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return dot(cp, cp);

    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return distance2To(point, tri.A, ac, d2 / (d2 - d6));

    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0)
        return distance2To(point, tri.B, minus(tri.C, tri.B), (d4 - d3) / ((d4 - d3) + (d5 - d6)));

    // Inside. A sliver whose area rounds away is left to its edges.
    const double sum = va + vb + vc;
    if (!(sum > 0)) return edgesDistance2(point, tri);
    const double v = vb / sum;
    const double w = vc / sum;
    const WorldPoint q{tri.A[0] + ab[0] * v + ac[0] * w, tri.A[1] + ab[1] * v + ac[1] * w, tri.A[2] + ab[2] * v + ac[2] * w};
    const WorldPoint d = minus(point, q);
    return dot(d, d);
}

void TriangleTree::Build(const std::vector<WorldTriangle>& source)
{
    nodes.clear();
    triangles.clear();
    order.resize(source.size());
    centres.resize(source.size());
    for (std::size_t t = 0; t < source.size(); ++t) {
        order[t] = uint32_t(t);
        for (int axis = 0; axis < 3; ++axis)
            centres[t][axis] = (source[t].A[axis] + source[t].B[axis] + source[t].C[axis]) / 3.0;
    }
    if (source.empty()) return;
    // Every split adds two nodes and makes one leaf more; leaves never exceed the triangles.
    nodes.reserve(2 * source.size());
    triangles = source;  // boxes are taken from source order before the reorder below
    nodes.emplace_back();
    buildNode(0, 0, uint32_t(source.size()));
    for (std::size_t t = 0; t < source.size(); ++t) triangles[t] = source[order[t]];
}

void TriangleTree::buildNode(uint32_t node, uint32_t begin, uint32_t end)
{
    WorldBox box;
    WorldBox centreBox;
    for (uint32_t i = begin; i < end; ++i) {
        const WorldTriangle& tri = triangles[order[i]];
        box.Add(tri.A);
        box.Add(tri.B);
        box.Add(tri.C);
        centreBox.Add(centres[order[i]]);
    }
    nodes[node].Min = box.Min;
    nodes[node].Max = box.Max;
    if (end - begin <= kLeafSize) {
        nodes[node].First = begin;
        nodes[node].Count = end - begin;
        return;
    }
    // Split at the median centre along the widest spread of centres: both
    // halves are never empty, even when every centre coincides.
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (centreBox.Max[a] - centreBox.Min[a] > centreBox.Max[axis] - centreBox.Min[axis]) axis = a;
    const uint32_t middle = begin + (end - begin) / 2;
    std::nth_element(order.begin() + begin, order.begin() + middle, order.begin() + end,
                     [&](uint32_t a, uint32_t b) { return centres[a][axis] < centres[b][axis]; });
    const auto children = uint32_t(nodes.size());
    nodes.emplace_back();
    nodes.emplace_back();
    nodes[node].First = children;
    nodes[node].Count = 0;
    buildNode(children, begin, middle);
    buildNode(children + 1, middle, end);
}

double TriangleTree::Nearest2(const WorldPoint& point, uint32_t& hint) const
{
    if (triangles.empty()) return std::numeric_limits<double>::infinity();
    // Starting from the hinted triangle's distance prunes most boxes at once
    // for points that follow one another over a surface.
    if (hint >= triangles.size()) hint = 0;
    double best = PointTriangleDistance2(point, triangles[hint]);
    uint32_t nearest = hint;

    struct Waiting {
        uint32_t Node;
        double Distance2;
    };
    std::array<Waiting, kStackSize> stack;
    std::size_t top = 0;
    stack[top++] = {0, boxDistance2(point, nodes[0])};
    while (top > 0) {
        const Waiting waiting = stack[--top];
        // >= rather than >: a box no nearer than the best cannot improve it.
        if (waiting.Distance2 >= best) continue;
        const Node& node = nodes[waiting.Node];
        if (node.Count > 0) {
            for (uint32_t t = node.First; t < node.First + node.Count; ++t) {
                const double distance2 = PointTriangleDistance2(point, triangles[t]);
                if (distance2 < best) {
                    best = distance2;
                    nearest = t;
                }
            }
            continue;
        }
        // The nearer child goes on top, so it is searched first and its answer prunes the other.
        Waiting first{node.First, boxDistance2(point, nodes[node.First])};
        Waiting second{node.First + 1, boxDistance2(point, nodes[node.First + 1])};
        if (first.Distance2 < second.Distance2) std::swap(first, second);
        assert(top + 2 <= kStackSize);
        if (first.Distance2 < best) stack[top++] = first;
        if (second.Distance2 < best) stack[top++] = second;
    }
    hint = nearest;
    return best;
}
