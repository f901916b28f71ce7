#include "tests/support/AnimatedModels.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

#include "model/formats/MDL5.h"
#include "model/Geometry.h"
#include "model/NormalTable.h"
#include "tests/support/ModelBuilder.h"

namespace {

using Point = std::array<double, 3>;

Point add(const Point& a, const Point& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Point sub(const Point& a, const Point& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Point scaled(const Point& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double dot(const Point& a, const Point& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Point cross(const Point& a, const Point& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Vertices given by their world position in each frame, triangles and skin
// vertices; Build packs them into a model whose header maps the packed
// coordinates back to the world with one scale on every axis.
class Draft {
public:
    explicit Draft(int frameCount) : frames(std::size_t(frameCount)) {}

    uint32_t AddVertex(const std::function<Point(int frame)>& at)
    {
        for (std::size_t f = 0; f < frames.size(); ++f) frames[f].push_back(at(int(f)));
        return uint32_t(frames[0].size() - 1);
    }
    // u and v from 0 to 1 over a 256-texel skin.
    uint32_t AddSkin(double u, double v)
    {
        skins.push_back(SkinVert{uint16_t(std::lround(u * 255)), uint16_t(std::lround(v * 255)), 0});
        return uint32_t(skins.size() - 1);
    }
    void AddTriangle(uint32_t a, uint32_t b, uint32_t c, uint32_t sa, uint32_t sb, uint32_t sc)
    {
        triangles.push_back(Tri(a, b, c, sa, sb, sc));
    }

    // A grid of rows x columns; wrapped, the last column meets the first
    // across a seam: the corners there use skin vertices of their own.
    void AddGrid(int rows, int columns, bool wrap, const std::function<Point(int frame, int row, int column)>& at)
    {
        const auto first = uint32_t(frames[0].size());
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c) AddVertex([&](int f) { return at(f, r, c); });
        const int skinColumns = columns + (wrap ? 1 : 0);
        const auto firstSkin = uint32_t(skins.size());
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < skinColumns; ++c) AddSkin(double(c) / (skinColumns - 1), double(r) / (rows - 1));
        const auto vertex = [&](int r, int c) { return first + uint32_t(r * columns + c % columns); };
        const auto skin = [&](int r, int c) { return firstSkin + uint32_t(r * skinColumns + c); };
        for (int r = 0; r + 1 < rows; ++r) {
            for (int c = 0; c + 1 < skinColumns; ++c) {
                AddTriangle(vertex(r, c), vertex(r + 1, c + 1), vertex(r, c + 1), skin(r, c), skin(r + 1, c + 1), skin(r, c + 1));
                AddTriangle(vertex(r, c), vertex(r + 1, c), vertex(r + 1, c + 1), skin(r, c), skin(r + 1, c), skin(r + 1, c + 1));
            }
        }
    }

    TMDLModel Build() const
    {
        Point low{1e300, 1e300, 1e300};
        Point high{-1e300, -1e300, -1e300};
        for (const auto& frame : frames)
            for (const Point& p : frame)
                for (std::size_t a = 0; a < 3; ++a) {
                    low[a] = std::min(low[a], p[a]);
                    high[a] = std::max(high[a], p[a]);
                }
        const double extent = std::max({high[0] - low[0], high[1] - low[1], high[2] - low[2], 1e-9});
        const auto scale = float(extent / 65535.0);
        std::vector<std::vector<FrameVert>> packed(frames.size());
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const std::vector<Point> normals = vertexNormals(frames[f]);
            for (std::size_t v = 0; v < frames[f].size(); ++v) {
                std::array<uint16_t, 3> c{};
                for (std::size_t a = 0; a < 3; ++a)
                    c[a] = uint16_t(std::clamp<long>(std::lround((frames[f][v][a] - float(low[a])) / scale), 0, 65535));
                packed[f].push_back(Vert(c[0], c[1], c[2], nearestNormal(normals[v])));
            }
        }
        TMDLModel model = MakeModel(std::move(packed), triangles, skins, {MakeSkin(0, 256, 256)});
        SetPositionTransform(model, {scale, scale, scale}, {float(low[0]), float(low[1]), float(low[2])});
        return model;
    }

private:
    std::vector<Point> vertexNormals(const std::vector<Point>& pose) const
    {
        std::vector<Point> normals(pose.size(), Point{0, 0, 0});
        for (const MDLTriangle& tri : triangles) {
            const auto& c = tri.VertIndex;
            const Point n = cross(sub(pose[c[1]], pose[c[0]]), sub(pose[c[2]], pose[c[0]]));
            for (uint32_t v : c) normals[v] = add(normals[v], n);
        }
        return normals;
    }
    static uint8_t nearestNormal(const Point& n)
    {
        int best = 0;
        double bestDot = -1e300;
        for (int i = 0; i < kNormalCount; ++i) {
            const auto& t = NormalTable[std::size_t(i)];
            const double d = t[0] * n[0] + t[1] * n[1] + t[2] * n[2];
            if (d > bestDot) {
                bestDot = d;
                best = i;
            }
        }
        return uint8_t(best);
    }

    std::vector<std::vector<Point>> frames;
    std::vector<MDLTriangle> triangles;
    std::vector<SkinVert> skins;
};

// A point of a tube along +x from the origin, of the given length and radius,
// whose middle third bends towards +y by angle: s from 0 to 1 along it, around
// from 0 to 1 about it.
Point elbowTube(double s, double around, double length, double radius, double angle)
{
    const double start = length / 3;
    const double bendLength = length / 3;
    const double along = s * length;
    const double turn = angle * std::clamp((along - start) / bendLength, 0.0, 1.0);
    Point centre{};
    if (along <= start || angle == 0) {
        centre = {along, 0, 0};
    } else {
        const double bendRadius = bendLength / angle;
        const double arc = std::min(along - start, bendLength);
        centre = {start + bendRadius * std::sin(arc / bendLength * angle), bendRadius * (1 - std::cos(arc / bendLength * angle)), 0};
        if (along > start + bendLength) centre = add(centre, scaled(Point{std::cos(angle), std::sin(angle), 0}, along - start - bendLength));
    }
    const double a = 2 * std::numbers::pi * around;
    const Point across{-std::sin(turn), std::cos(turn), 0};
    return add(centre, add(scaled(across, radius * std::cos(a)), Point{0, 0, radius * std::sin(a)}));
}

double fraction(int frame, int frameCount) { return frameCount > 1 ? double(frame) / (frameCount - 1) : 0.0; }

// The nearest distance from p to the triangle abc.
double pointTriangleDistance(const Point& p, const Point& a, const Point& b, const Point& c)
{
    const Point ab = sub(b, a), ac = sub(c, a), ap = sub(p, a);
    const double d1 = dot(ab, ap), d2 = dot(ac, ap);
    auto distance = [&p](const Point& q) { const Point d = sub(p, q); return std::sqrt(dot(d, d)); };
    if (d1 <= 0 && d2 <= 0) return distance(a);
    const Point bp = sub(p, b);
    const double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return distance(b);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return distance(add(a, scaled(ab, d1 / (d1 - d3))));
    const Point cp = sub(p, c);
    const double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return distance(c);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return distance(add(a, scaled(ac, d2 / (d2 - d6))));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0)
        return distance(add(b, scaled(sub(c, b), (d4 - d3) / ((d4 - d3) + (d5 - d6)))));
    const double denominator = 1 / (va + vb + vc);
    return distance(add(a, add(scaled(ab, vb * denominator), scaled(ac, vc * denominator))));
}

}  // namespace

TMDLModel MakeBendingTube(int rings, int sides, int frameCount)
{
    Draft draft(frameCount);
    draft.AddGrid(rings, sides, true, [&](int f, int r, int c) {
        return elbowTube(double(r) / (rings - 1), double(c) / sides, 2.0, 0.15, std::numbers::pi / 2 * fraction(f, frameCount));
    });
    return draft.Build();
}

TMDLModel MakeWalker(int frameCount, int detail)
{
    Draft draft(frameCount);
    const double twoPi = 2 * std::numbers::pi;
    // The body bobs twice a step; a point of a tube along +x becomes one going
    // up from the hips.
    const auto bob = [&](int f) { return 0.03 * std::cos(2 * twoPi * f / frameCount); };
    draft.AddGrid(8 * detail, 10 * detail, true, [&](int f, int r, int c) {
        const Point p = elbowTube(double(r) / (8 * detail - 1), double(c) / (10 * detail), 0.8, 0.22, 0.0);
        return Point{p[2], 0.05 + p[0] + bob(f), p[1]};
    });
    for (int leg = 0; leg < 2; ++leg) {
        const double phase = leg == 0 ? 0.0 : std::numbers::pi;
        draft.AddGrid(12 * detail, 8 * detail, true, [&](int f, int r, int c) {
            const double cycle = twoPi * f / frameCount + phase;
            const double swing = 0.5 * std::sin(cycle);
            const double knee = 1.1 * std::max(0.0, std::sin(cycle + 1.2));
            // Down the leg, the knee bending backwards (towards -z).
            const Point p = elbowTube(double(r) / (12 * detail - 1), double(c) / (8 * detail), 0.9, 0.07, knee);
            const double down = p[0], back = p[1], side = p[2];
            // Swing about the hip's x axis.
            const double y = -down * std::cos(swing) - (-back) * std::sin(swing);
            const double z = -down * std::sin(swing) + (-back) * std::cos(swing);
            return Point{(leg == 0 ? -0.1 : 0.1) + side, 0.05 + y + bob(f), z};
        });
    }
    return draft.Build();
}

TMDLModel MakeTouchingParts(int side, int frameCount)
{
    Draft draft(frameCount);
    const auto bump = [](double x, double y) { return 0.08 * std::sin(3 * x) * std::cos(3 * y); };
    // The first sheet from x = -1 to 0, still.
    draft.AddGrid(side, side, false, [&](int, int r, int c) {
        const double x = -1.0 + double(c) / (side - 1), y = -0.5 + double(r) / (side - 1);
        return Point{x, y, bump(x, y)};
    });
    // The second from x = 0 to 1: its first column lies on the first sheet's
    // last in frame 0, then lifts and turns about the y axis.
    draft.AddGrid(side, side, false, [&](int f, int r, int c) {
        const double t = fraction(f, frameCount);
        const double x = double(c) / (side - 1), y = -0.5 + double(r) / (side - 1);
        const double angle = 1.0 * t;
        const double z = bump(x, y);
        return Point{0.3 * t + x * std::cos(angle) - z * std::sin(angle), y, 0.4 * t + x * std::sin(angle) + z * std::cos(angle)};
    });
    return draft.Build();
}

TMDLModel MakeWavingDisc(int rings, int sectors, int frameCount)
{
    Draft draft(frameCount);
    const double twoPi = 2 * std::numbers::pi;
    const auto at = [&](int f, double radius, double angle) {
        return Point{radius * std::cos(angle), radius * std::sin(angle), 0.25 * radius * radius * std::sin(twoPi * f / frameCount + angle)};
    };
    const uint32_t centre = draft.AddVertex([&](int f) { return at(f, 0, 0); });
    draft.AddSkin(0.5, 0.5);
    for (int r = 1; r <= rings; ++r)
        for (int s = 0; s < sectors; ++s) {
            const double radius = double(r) / rings, angle = twoPi * s / sectors;
            draft.AddVertex([&](int f) { return at(f, radius, angle); });
            draft.AddSkin(0.5 + 0.5 * radius * std::cos(angle), 0.5 + 0.5 * radius * std::sin(angle));
        }
    const auto ring = [&](int r, int s) { return centre + 1 + uint32_t((r - 1) * sectors + (s % sectors)); };
    for (int s = 0; s < sectors; ++s) draft.AddTriangle(centre, ring(1, s), ring(1, s + 1), centre, ring(1, s), ring(1, s + 1));
    for (int r = 1; r < rings; ++r)
        for (int s = 0; s < sectors; ++s) {
            draft.AddTriangle(ring(r, s), ring(r + 1, s), ring(r + 1, s + 1), ring(r, s), ring(r + 1, s), ring(r + 1, s + 1));
            draft.AddTriangle(ring(r, s), ring(r + 1, s + 1), ring(r, s + 1), ring(r, s), ring(r + 1, s + 1), ring(r, s + 1));
        }
    return draft.Build();
}

double MaxVertexDistance(const TMDLModel& original, const TMDLModel& reduced, int frame)
{
    const PositionTransform from = PositionTransformOf(original.Header);
    const PositionTransform to = PositionTransformOf(reduced.Header);
    const auto& pose = original.Frames[std::size_t(frame)].Items;
    const auto& reducedPose = reduced.Frames[std::size_t(frame)].Items;
    std::vector<uint8_t> used(pose.size(), 0);
    for (const MDLTriangle& tri : original.Triangles.Items)
        for (uint32_t v : tri.VertIndex) used[v] = 1;
    double largest = 0;
    for (std::size_t v = 0; v < pose.size(); ++v) {
        if (!used[v]) continue;
        const WorldPoint p = from.Apply(pose[v]);
        double nearest = std::numeric_limits<double>::infinity();
        for (const MDLTriangle& tri : reduced.Triangles.Items)
            nearest = std::min(nearest, pointTriangleDistance(p, to.Apply(reducedPose[tri.VertIndex[0]]), to.Apply(reducedPose[tri.VertIndex[1]]),
                                                              to.Apply(reducedPose[tri.VertIndex[2]])));
        largest = std::max(largest, nearest);
    }
    return largest;
}
