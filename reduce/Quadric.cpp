// ReduceQuadric: half-edge collapses in order of least error over the animation.
//
// A collapse v -> w deletes v and hands its triangles to w; every kept vertex
// keeps its own position in every frame, so the result is a subset of the input.
// Its cost is the quadric error of v (the planes of the triangles v has
// gathered so far) at w's position in each frame, against that frame's
// planes, plus v's area-weighted squared distance from the triangles that
// replace its fan: the worst frame's error plus the mean over frames.
// Per-frame quadrics are stored for a few frames chosen to span the
// animation's poses (52 bytes per vertex and chosen frame, with the
// positions beside them); flips and flattened triangles are checked in every
// frame, on a vertex-major copy of the positions (6 bytes per vertex and
// frame). With 16 chosen frames of a 200-frame model the scratch is about 1.3
// times the frames' own size.
//
// The lists stay in place until the end: triangles are only marked removed, a
// fan index of triangles by vertex is kept in step with every collapse, and one
// sweep per list compacts vertices, triangles and skin vertices at the end.

#include "reduce/Quadric.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <limits>
#include <memory>
#include <queue>
#include <vector>

#include "model/Geometry.h"
#include "model/MDLClass.h"
#include "reduce/FanIndex.h"

namespace {

// Border edges add a plane at right angles to their triangle, weighted by the
// squared edge length times this: an outline then moves only where it is
// straight, while an open sheet's inside stays cheap to thin out. Seams get no
// such plane: the seam rule already keeps them in place, and a seam shortened
// along a curve within a smooth surface moves no surface at all.
constexpr double kEdgeWeight = 10.0;
// A triangle whose normal turns further than about 87 degrees in some frame
// counts as folded over: a plain "dot > 0" lets slivers stand on edge.
constexpr double kMinNormalCosine = 0.05;
// Vertices compared when choosing the frames whose errors are weighed.
constexpr uint32_t kPoseSampleVertices = 512;

using Packed = std::array<uint16_t, 3>;

// One frame's quadric of a vertex, stored in float to keep the table small;
// positions are scaled into the unit box first, so that no term dwarfs the
// errors compared. Evaluated in double.
struct Quadric {
    float A00 = 0, A01 = 0, A02 = 0, A11 = 0, A12 = 0, A22 = 0;
    float B0 = 0, B1 = 0, B2 = 0, C = 0;

    // The plane n.x + d = 0 (n of unit length) with weight w.
    void AddPlane(const std::array<double, 3>& n, double d, double w)
    {
        A00 += float(w * n[0] * n[0]);
        A01 += float(w * n[0] * n[1]);
        A02 += float(w * n[0] * n[2]);
        A11 += float(w * n[1] * n[1]);
        A12 += float(w * n[1] * n[2]);
        A22 += float(w * n[2] * n[2]);
        B0 += float(w * n[0] * d);
        B1 += float(w * n[1] * d);
        B2 += float(w * n[2] * d);
        C += float(w * d * d);
    }
    void Add(const Quadric& q)
    {
        A00 += q.A00; A01 += q.A01; A02 += q.A02; A11 += q.A11; A12 += q.A12; A22 += q.A22;
        B0 += q.B0; B1 += q.B1; B2 += q.B2; C += q.C;
    }
    // x^T A x + 2 b.x + c; never below 0, whatever the float rounding.
    double ErrorAt(const std::array<double, 3>& x) const
    {
        const double ax = double(A00) * x[0] + double(A01) * x[1] + double(A02) * x[2];
        const double ay = double(A01) * x[0] + double(A11) * x[1] + double(A12) * x[2];
        const double az = double(A02) * x[0] + double(A12) * x[1] + double(A22) * x[2];
        const double e = x[0] * ax + x[1] * ay + x[2] * az + 2.0 * (double(B0) * x[0] + double(B1) * x[1] + double(B2) * x[2]) + double(C);
        return std::max(e, 0.0);
    }
};

std::array<double, 3> widen(const std::array<float, 3>& p)
{
    return {double(p[0]), double(p[1]), double(p[2])};
}
std::array<double, 3> sub(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
std::array<double, 3> cross(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const std::array<double, 3>& a, const std::array<double, 3>& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

bool hasRepeatedCorner(const MDLTriangle& tri)
{
    const auto& c = tri.VertIndex;
    return c[0] == c[1] || c[1] == c[2] || c[0] == c[2];
}

int cornerOf(const MDLTriangle& tri, uint32_t v)
{
    for (int j = 0; j < 3; ++j)
        if (tri.VertIndex[std::size_t(j)] == v) return j;
    return -1;
}

struct Candidate {
    double Cost = 0;
    uint32_t Target = 0;
    uint32_t Errors = 0;  // where its frame errors start in the candidates' error scratch
};

struct Neighbour {
    uint32_t Vertex = 0;
    uint32_t Triangles = 0;  // triangles of the fan that hold both
};

// The corners of v on one side of a seam, keyed by their texel position, and
// the skin vertex of w they take after the collapse.
struct SkinSide {
    uint32_t Texel = 0;
    uint32_t TargetSkin = 0;
};

class Collapser {
public:
    Collapser(TMDLModel& model, const QuadricOptions& options)
        : triangles(model.Triangles.Items), skinVerts(model.SkinVerts.Items),
          vertexCount(uint32_t(model.Frames[0].Items.size())), frameCount(uint32_t(model.Frames.size())),
          fans(model.Triangles.Items, vertexCount, 1, 8), triangleRemoved(triangles.size(), 0), version(vertexCount, 0),
          waiting(vertexCount, 0)
    {
        liveTriangles = int64_t(triangles.size());
        transposeFrames(model);
        chooseErrorFrames(options);
        buildQuadrics();
    }

    int64_t LiveTriangles() const { return liveTriangles; }

    // Collapses in order of least cost until the budget is met or nothing is allowed.
    void Run(int64_t target, const std::function<void(const std::string&)>& progress)
    {
        for (uint32_t v = 0; v < vertexCount; ++v) schedule(v);
        const int64_t toRemove = liveTriangles - target;
        int64_t lastShown = -1;
        while (liveTriangles > target && !queue.empty()) {
            const Entry entry = queue.top();
            queue.pop();
            if (entry.Version != version[entry.Vertex]) continue;  // v changed since: a fresher entry is queued
            tryCollapse(entry);
            if (progress) {
                const int64_t percent = (toRemove - (liveTriangles - target)) * 100 / std::max<int64_t>(toRemove, 1);
                if (percent / 10 != lastShown) {
                    lastShown = percent / 10;
                    progress(std::to_string(percent) + "% of the collapses");
                }
            }
        }
    }

    // Removes vertices and skin vertices that were used and are not any more,
    // and the removed triangles, keeping the order of what stays.
    void Compact(TMDLModel& model)
    {
        std::vector<uint8_t> usedBefore(vertexCount, 0);
        std::vector<uint8_t> usedAfter(vertexCount, 0);
        const auto skinCount = uint32_t(skinVerts.size());
        std::vector<uint8_t> skinBefore(skinCount, 0);
        std::vector<uint8_t> skinAfter(skinCount, 0);
        for (uint32_t v : originalCorners) usedBefore[v] = 1;
        for (uint32_t s : originalSkinCorners) skinBefore[s] = 1;
        std::vector<uint32_t> keptTriangles;
        keptTriangles.reserve(std::size_t(liveTriangles));
        for (uint32_t t = 0; t < triangles.size(); ++t) {
            if (triangleRemoved[t]) continue;
            keptTriangles.push_back(t);
            for (uint32_t v : triangles[t].VertIndex) usedAfter[v] = 1;
            for (uint32_t s : triangles[t].SkinIndex) skinAfter[s] = 1;
        }
        // Vertices no triangle used in the input stay: they are not ours to drop.
        const auto renumber = [](const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                                 std::vector<uint32_t>& kept, std::vector<uint32_t>& number) {
            number.assign(before.size(), 0);
            for (uint32_t i = 0; i < before.size(); ++i) {
                if (before[i] && !after[i]) continue;
                number[i] = uint32_t(kept.size());
                kept.push_back(i);
            }
        };
        std::vector<uint32_t> keptVertices;
        std::vector<uint32_t> vertexNumber;
        renumber(usedBefore, usedAfter, keptVertices, vertexNumber);
        std::vector<uint32_t> keptSkins;
        std::vector<uint32_t> skinNumber;
        renumber(skinBefore, skinAfter, keptSkins, skinNumber);

        // kept lists ascend with kept[k] >= k: copying forward never overwrites
        // a record still to be moved.
        for (std::size_t k = 0; k < keptTriangles.size(); ++k) {
            MDLTriangle tri = triangles[keptTriangles[k]];
            for (uint32_t& v : tri.VertIndex) v = vertexNumber[v];
            for (uint32_t& s : tri.SkinIndex) s = skinNumber[s];
            triangles[k] = tri;
        }
        triangles.resize(keptTriangles.size());
        for (TMDLFrame& frame : model.Frames) {
            for (std::size_t k = 0; k < keptVertices.size(); ++k) frame.Items[k] = frame.Items[keptVertices[k]];
            frame.Items.resize(keptVertices.size());
            frame.Count = int32_t(keptVertices.size());
        }
        for (std::size_t k = 0; k < keptSkins.size(); ++k) skinVerts[k] = skinVerts[keptSkins[k]];
        skinVerts.resize(keptSkins.size());
        model.Triangles.Count = int32_t(triangles.size());
        model.SkinVerts.Count = int32_t(skinVerts.size());
        model.Header.NumTris = model.Triangles.Count;
        model.Header.NumSkinVerts = model.SkinVerts.Count;
        model.Header.NumVerts = int32_t(keptVertices.size());
    }

private:
    struct Entry {
        double Cost = 0;
        uint32_t Vertex = 0;
        uint32_t Target = 0;   // the cheapest target when queued
        uint32_t Version = 0;
        // The least cost first; the lowest vertex among equals, for the same
        // result on every machine.
        bool operator<(const Entry& other) const
        {
            return Cost != other.Cost ? Cost > other.Cost : Vertex > other.Vertex;
        }
    };

    // 1. every frame's positions, vertex by vertex: the checks of one fan then
    // read a few contiguous runs instead of one cache line per frame
    void transposeFrames(const TMDLModel& model)
    {
        // Every slot is written below: zeroing 78 MB first (at 65,536 vertices
        // and 200 frames) would only be one more pass over memory.
        positions = std::make_unique_for_overwrite<Packed[]>(std::size_t(vertexCount) * frameCount);
        // A block of vertices' rows (1.2 MB at 200 frames) stays in a 2 MiB L2
        // while frames stream by, and each frame gives a 4 KB run to read, long
        // enough for the prefetcher: 64 vertices gave 256-byte runs from 200
        // places at once.
        constexpr uint32_t kBlock = 1024;
        for (uint32_t first = 0; first < vertexCount; first += kBlock) {
            const uint32_t last = std::min(vertexCount, first + kBlock);
            for (uint32_t f = 0; f < frameCount; ++f) {
                const FrameVert* frame = model.Frames[f].Items.data();
                for (uint32_t v = first; v < last; ++v)
                    positions[std::size_t(v) * frameCount + f] = {frame[v].X, frame[v].Y, frame[v].Z};
            }
        }
        const PositionTransform transform = PositionTransformOf(model.Header);
        const WorldBox box = AnimationBox(model);
        double extent = 0;
        for (int a = 0; a < 3; ++a) extent = std::max(extent, box.Max[std::size_t(a)] - box.Min[std::size_t(a)]);
        const double toUnit = extent > 0 ? 1.0 / extent : 1.0;
        for (std::size_t a = 0; a < 3; ++a) {
            unitScale[a] = double(transform.Scale[a]) * toUnit;
            unitOffset[a] = (double(transform.Offset[a]) - box.Min[a]) * toUnit;
        }
        for (const MDLTriangle& tri : triangles) {
            originalCorners.insert(originalCorners.end(), tri.VertIndex.begin(), tri.VertIndex.end());
            originalSkinCorners.insert(originalSkinCorners.end(), tri.SkinIndex.begin(), tri.SkinIndex.end());
        }
    }

    std::array<double, 3> unitAt(uint32_t v, uint32_t f) const
    {
        const Packed& p = positions[std::size_t(v) * frameCount + f];
        return {p[0] * unitScale[0] + unitOffset[0], p[1] * unitScale[1] + unitOffset[1], p[2] * unitScale[2] + unitOffset[2]};
    }

    // 2. the frames whose errors are weighed: frame 0, then again and again the
    // frame farthest from every frame chosen so far, so that the extremes of
    // the motion are in; frames that repeat a chosen pose are never chosen
    void chooseErrorFrames(const QuadricOptions& options)
    {
        const uint32_t wanted = options.ErrorFrames <= 0 ? frameCount : std::min<uint32_t>(frameCount, uint32_t(options.ErrorFrames));
        if (wanted == frameCount) {
            for (uint32_t f = 0; f < frameCount; ++f) errorFrames.push_back(f);
            return;
        }
        const uint32_t step = std::max<uint32_t>(1, vertexCount / kPoseSampleVertices);
        auto poseDistance = [&](uint32_t f, uint32_t g) {
            double sum = 0;
            for (uint32_t v = 0; v < vertexCount; v += step) {
                const auto d = sub(unitAt(v, f), unitAt(v, g));
                sum += dot(d, d);
            }
            return sum;
        };
        std::vector<double> nearest(frameCount, std::numeric_limits<double>::infinity());
        uint32_t chosen = 0;
        errorFrames.push_back(0);
        while (errorFrames.size() < wanted) {
            uint32_t farthest = 0;
            double farthestDistance = 0;
            for (uint32_t f = 0; f < frameCount; ++f) {
                nearest[f] = std::min(nearest[f], poseDistance(f, chosen));
                if (nearest[f] > farthestDistance) {
                    farthestDistance = nearest[f];
                    farthest = f;
                }
            }
            if (farthestDistance == 0) break;  // every pose left is one already chosen
            chosen = farthest;
            errorFrames.push_back(chosen);
        }
        std::sort(errorFrames.begin(), errorFrames.end());
    }

    Quadric& quadricOf(uint32_t v, std::size_t k) { return quadrics[std::size_t(v) * errorFrames.size() + k]; }

    // 3. each vertex's quadric in each chosen frame: its triangles' planes
    // weighted by area, and planes along border edges
    void buildQuadrics()
    {
        const std::size_t frames = errorFrames.size();
        quadrics.assign(std::size_t(vertexCount) * frames, Quadric{});
        errorPositions.resize(std::size_t(vertexCount) * frames);
        for (uint32_t v = 0; v < vertexCount; ++v)
            for (std::size_t k = 0; k < frames; ++k) {
                const auto p = unitAt(v, errorFrames[k]);
                errorPositions[std::size_t(v) * frames + k] = {float(p[0]), float(p[1]), float(p[2])};
            }
        for (const MDLTriangle& tri : triangles) {
            if (hasRepeatedCorner(tri)) continue;
            for (std::size_t k = 0; k < frames; ++k) {
                const uint32_t f = errorFrames[k];
                const auto a = unitAt(tri.VertIndex[0], f);
                const auto n = cross(sub(unitAt(tri.VertIndex[1], f), a), sub(unitAt(tri.VertIndex[2], f), a));
                const double length = std::sqrt(dot(n, n));
                if (length == 0) continue;
                const std::array<double, 3> unit{n[0] / length, n[1] / length, n[2] / length};
                for (uint32_t v : tri.VertIndex) quadricOf(v, k).AddPlane(unit, -dot(unit, a), 0.5 * length);
            }
        }

        // Edges in order of (low vertex, high vertex, triangle): a run of one
        // is a border. Each low vertex's edges come from its fan, which lists
        // its triangles in ascending order, and a sort of those few gives the
        // same order as one sort of every edge, without its time or memory.
        struct EdgeUse {
            uint32_t High, Triangle, Corner;
        };
        std::vector<EdgeUse> edges;
        for (uint32_t low = 0; low < vertexCount; ++low) {
            edges.clear();
            for (uint32_t t : fans.Of(low)) {
                const MDLTriangle& tri = triangles[t];
                if (hasRepeatedCorner(tri)) continue;
                const auto j = uint32_t(cornerOf(tri, low));
                // The edge that starts at low's corner and the one that ends there.
                const uint32_t next = tri.VertIndex[(j + 1) % 3];
                const uint32_t previous = tri.VertIndex[(j + 2) % 3];
                if (next > low) edges.push_back({next, t, j});
                if (previous > low) edges.push_back({previous, t, (j + 2) % 3});
            }
            std::sort(edges.begin(), edges.end(), [](const EdgeUse& x, const EdgeUse& y) {
                return x.High != y.High ? x.High < y.High : x.Triangle < y.Triangle;
            });
            for (std::size_t first = 0; first < edges.size();) {
                std::size_t end = first + 1;
                while (end < edges.size() && edges[end].High == edges[first].High) ++end;
                if (end - first == 1) addEdgePlanes(edges[first].Triangle, edges[first].Corner);
                first = end;
            }
        }
    }

    // The plane through corner j's edge at right angles to its triangle.
    void addEdgePlanes(uint32_t t, uint32_t j)
    {
        const MDLTriangle& tri = triangles[t];
        const uint32_t a = tri.VertIndex[j];
        const uint32_t b = tri.VertIndex[(j + 1) % 3];
        const uint32_t c = tri.VertIndex[(j + 2) % 3];
        for (std::size_t k = 0; k < errorFrames.size(); ++k) {
            const uint32_t f = errorFrames[k];
            const auto pa = unitAt(a, f);
            const auto edge = sub(unitAt(b, f), pa);
            const auto normal = cross(edge, sub(unitAt(c, f), pa));
            const auto across = cross(edge, normal);
            const double length = std::sqrt(dot(across, across));
            if (length == 0) continue;
            const std::array<double, 3> unit{across[0] / length, across[1] / length, across[2] / length};
            const double weight = kEdgeWeight * dot(edge, edge);
            quadricOf(a, k).AddPlane(unit, -dot(unit, pa), weight);
            quadricOf(b, k).AddPlane(unit, -dot(unit, pa), weight);
        }
    }

    uint32_t texelOf(uint32_t skin) const { return uint32_t(skinVerts[skin].U) << 16 | skinVerts[skin].V; }

    bool live(uint32_t t, uint32_t v) const { return !triangleRemoved[t] && cornerOf(triangles[t], v) >= 0; }

    void gatherFan(uint32_t v, std::vector<uint32_t>& fan)
    {
        fan.clear();
        for (uint32_t t : fans.Of(v))
            if (live(t, v)) fan.push_back(t);
    }

    // The skin vertex of w that each side of v's seam takes: from the removed
    // triangles, whose corners of v and w lie on the same side. False when a
    // side of v has no removed triangle (the collapse would cross the seam) or
    // two that disagree. Reads v's fan and its texels as readFan left them.
    bool mapSkinSides(uint32_t w, std::vector<SkinSide>& sides) const
    {
        sides.clear();
        for (std::size_t i = 0; i < fanOfV.size(); ++i) {
            const uint32_t t = fanOfV[i];
            const int wAt = cornerOf(triangles[t], w);
            if (wAt < 0) continue;
            const uint32_t texel = texelsOfV[i];
            const uint32_t targetSkin = triangles[t].SkinIndex[std::size_t(wAt)];
            const auto it = std::find_if(sides.begin(), sides.end(), [&](const SkinSide& s) { return s.Texel == texel; });
            if (it == sides.end())
                sides.push_back({texel, targetSkin});
            else if (texelOf(it->TargetSkin) != texelOf(targetSkin))
                return false;
        }
        for (std::size_t i = 0; i < fanOfV.size(); ++i) {
            if (cornerOf(triangles[fanOfV[i]], w) >= 0) continue;
            const uint32_t texel = texelsOfV[i];
            if (std::none_of(sides.begin(), sides.end(), [&](const SkinSide& s) { return s.Texel == texel; })) return false;
        }
        return true;
    }

    // Gathers v's live fan into fanOfV, the texel of v's corner in each into
    // texelsOfV (every target's seam check reads them), and v's neighbours
    // with the triangles each shares with v. Returns how many edges of v lie
    // on a border, or -1 when v may not go: on a non-manifold edge, where
    // borders meet, or in a triangle with a repeated corner.
    int readFan(uint32_t v)
    {
        gatherFan(v, fanOfV);
        neighbours.clear();
        texelsOfV.clear();
        if (fanOfV.empty()) return -1;
        for (uint32_t t : fanOfV) {
            if (hasRepeatedCorner(triangles[t])) return -1;
            texelsOfV.push_back(texelOf(triangles[t].SkinIndex[std::size_t(cornerOf(triangles[t], v))]));
            for (uint32_t x : triangles[t].VertIndex) {
                if (x == v) continue;
                const auto it = std::find_if(neighbours.begin(), neighbours.end(), [x](const Neighbour& n) { return n.Vertex == x; });
                if (it == neighbours.end())
                    neighbours.push_back({x, 1});
                else
                    ++it->Triangles;
            }
        }
        int borderEdges = 0;
        for (const Neighbour& n : neighbours) {
            if (n.Triangles > 2) return -1;
            borderEdges += n.Triangles == 1 ? 1 : 0;
        }
        return borderEdges == 0 || borderEdges == 2 ? borderEdges : -1;
    }

    // The worst frame first, the mean over frames after it: what shows is the
    // pose a collapse spoils most, and a sum lets many frames where a
    // collapse costs nothing hide the one where it costs much.
    double rankOf(const double* errors) const
    {
        const std::size_t frames = errorFrames.size();
        double sum = 0;
        double worst = 0;
        for (std::size_t k = 0; k < frames; ++k) {
            sum += errors[k];
            worst = std::max(worst, errors[k]);
        }
        return worst + sum / double(frames);
    }

    // v's planes at w's position, frame by frame, into errors.
    void planeErrors(uint32_t v, uint32_t w, double* errors) const
    {
        const std::size_t frames = errorFrames.size();
        const Quadric* q = &quadrics[std::size_t(v) * frames];
        const std::array<float, 3>* atW = &errorPositions[std::size_t(w) * frames];
        for (std::size_t k = 0; k < frames; ++k) errors[k] = q[k].ErrorAt(widen(atW[k]));
    }

    // The planes v gathered say how far w lies from the surface removed so
    // far; they cannot see v standing off the triangles that replace its fan,
    // which is what makes a peak or a ridge go. So each new triangle adds v's
    // squared distance from its plane times its area, the same measure as the
    // planes', to errors. Uses fanOfV as readFan left it.
    // Stops early once the rank of the errors so far exceeds giveUpAbove: every
    // term added is at least 0 and rounding is monotone, so the whole cost
    // would have exceeded it too. Returns false when it stopped early.
    bool addNewFanErrors(uint32_t v, uint32_t w, double* errors, double giveUpAbove) const
    {
        const std::size_t frames = errorFrames.size();
        const std::array<float, 3>* atW = &errorPositions[std::size_t(w) * frames];
        const std::array<float, 3>* atV = &errorPositions[std::size_t(v) * frames];
        for (uint32_t t : fanOfV) {
            const MDLTriangle& tri = triangles[t];
            if (cornerOf(tri, w) >= 0) continue;
            const int j = cornerOf(tri, v);
            const std::array<float, 3>* atA = &errorPositions[std::size_t(tri.VertIndex[std::size_t((j + 1) % 3)]) * frames];
            const std::array<float, 3>* atB = &errorPositions[std::size_t(tri.VertIndex[std::size_t((j + 2) % 3)]) * frames];
            for (std::size_t k = 0; k < frames; ++k) {
                const std::array<double, 3> pw = widen(atW[k]);
                const auto normal = cross(sub(widen(atA[k]), pw), sub(widen(atB[k]), pw));
                const double twiceArea = std::sqrt(dot(normal, normal));
                if (twiceArea == 0) continue;  // flat in this frame: no plane; the flip checks refuse it anyway
                const double offset = dot(normal, sub(widen(atV[k]), pw));
                errors[k] += offset * offset / (2.0 * twiceArea);
            }
            if (giveUpAbove < std::numeric_limits<double>::infinity() && rankOf(errors) > giveUpAbove) return false;
        }
        return true;
    }

    // The targets of v in order of cost, by the rules that need only v's fan:
    // along the border only when v lies on one, along the seam only when v
    // lies on one. With cheapestOnly, only the first is sure to be in its
    // place with its cost: the rest may hold a lower bound.
    void candidatesOf(uint32_t v, std::vector<Candidate>& out, bool cheapestOnly)
    {
        out.clear();
        const int borderEdges = readFan(v);
        if (borderEdges < 0) return;
        // Each candidate's plane errors stay in the scratch until its whole
        // cost adds the new fan's part to them: the planes are read once.
        const std::size_t frames = errorFrames.size();
        if (candidateErrors.size() < neighbours.size() * frames) candidateErrors.resize(neighbours.size() * frames);
        for (const Neighbour& n : neighbours) {
            if (borderEdges != 0 && n.Triangles != 1) continue;
            if (!mapSkinSides(n.Vertex, sides)) continue;
            const auto errorsAt = uint32_t(out.size() * frames);
            planeErrors(v, n.Vertex, &candidateErrors[errorsAt]);
            out.push_back({rankOf(&candidateErrors[errorsAt]), n.Vertex, errorsAt});
        }
        const auto cheaper = [](const Candidate& a, const Candidate& b) {
            return a.Cost != b.Cost ? a.Cost < b.Cost : a.Target < b.Target;
        };
        // The planes' part is a lower bound of the whole cost (the new fan
        // only adds to each frame's error). The new fan's part, which costs
        // most, is worked out in order of that bound and only while a bound
        // may still beat the cheapest whole cost found: the first candidate
        // is then the same as with every cost whole.
        std::sort(out.begin(), out.end(), cheaper);
        double cheapest = std::numeric_limits<double>::infinity();
        for (Candidate& candidate : out) {
            if (cheapestOnly && candidate.Cost > cheapest) break;
            double* errors = &candidateErrors[candidate.Errors];
            // A cost given up on stays above the cheapest: it cannot come first.
            addNewFanErrors(v, candidate.Target, errors, cheapestOnly ? cheapest : std::numeric_limits<double>::infinity());
            candidate.Cost = rankOf(errors);
            cheapest = std::min(cheapest, candidate.Cost);
        }
        std::sort(out.begin(), out.end(), cheaper);
    }

    void schedule(uint32_t v)
    {
        ++version[v];
        waiting[v] = 0;
        candidatesOf(v, candidates, true);
        if (!candidates.empty()) queue.push({candidates[0].Cost, v, candidates[0].Target, version[v]});
    }

    // The rules that need w's fan and every frame: the collapse joins no two
    // fans apart from along the edge (link condition), makes no triangle that
    // already exists, and no triangle of v's fan turns over or flattens in any
    // frame. Uses fanOfV as candidatesOf left it.
    bool allowed(uint32_t v, uint32_t w)
    {
        fans.Prune(w, [&](uint32_t t) { return live(t, w); });
        gatherFan(w, fanOfW);
        for (const Neighbour& n : neighbours) {
            if (n.Vertex == w) continue;
            const bool sharedWithW = std::any_of(fanOfW.begin(), fanOfW.end(), [&](uint32_t t) { return cornerOf(triangles[t], n.Vertex) >= 0; });
            if (!sharedWithW) continue;
            // A common neighbour is fine only as the third corner of a removed triangle.
            const bool opposite = std::any_of(fanOfV.begin(), fanOfV.end(), [&](uint32_t t) {
                return cornerOf(triangles[t], w) >= 0 && cornerOf(triangles[t], n.Vertex) >= 0;
            });
            if (!opposite) return false;
        }
        const std::array<double, 3> scale{unitScale[0], unitScale[1], unitScale[2]};
        for (uint32_t t : fanOfV) {
            const MDLTriangle& tri = triangles[t];
            if (cornerOf(tri, w) >= 0) continue;
            const int j = cornerOf(tri, v);
            const uint32_t a = tri.VertIndex[std::size_t((j + 1) % 3)];
            const uint32_t b = tri.VertIndex[std::size_t((j + 2) % 3)];
            for (uint32_t s : fanOfW)
                if (cornerOf(triangles[s], a) >= 0 && cornerOf(triangles[s], b) >= 0) return false;
            // Differences of 16-bit coordinates through the axis scales into
            // the unit box; the offset cancels, the angles are the world's.
            const Packed* pv = &positions[std::size_t(v) * frameCount];
            const Packed* pw = &positions[std::size_t(w) * frameCount];
            const Packed* pa = &positions[std::size_t(a) * frameCount];
            const Packed* pb = &positions[std::size_t(b) * frameCount];
            // Triangle t as it came in: vertices never move, so its normal in
            // any frame is at hand. Checking against it too keeps small turns,
            // each allowed, from adding up to a triangle facing backwards.
            const Packed* o0 = &positions[std::size_t(originalCorners[3 * std::size_t(t)]) * frameCount];
            const Packed* o1 = &positions[std::size_t(originalCorners[3 * std::size_t(t) + 1]) * frameCount];
            const Packed* o2 = &positions[std::size_t(originalCorners[3 * std::size_t(t) + 2]) * frameCount];
            for (uint32_t f = 0; f < frameCount; ++f) {
                // The difference of two 16-bit coordinates is exact in an int:
                // one conversion each, the same double as converting both.
                const auto diff = [&](const Packed& p, const Packed& q) {
                    return std::array<double, 3>{double(int(p[0]) - int(q[0])) * scale[0], double(int(p[1]) - int(q[1])) * scale[1],
                                                 double(int(p[2]) - int(q[2])) * scale[2]};
                };
                const auto ab = diff(pb[f], pa[f]);
                const auto before = cross(ab, diff(pv[f], pa[f]));
                const double beforeLength2 = dot(before, before);
                if (beforeLength2 == 0) continue;  // flat in this frame already: nothing to keep
                const auto after = cross(ab, diff(pw[f], pa[f]));
                const double agreement = dot(before, after);
                if (agreement <= 0) return false;
                if (agreement * agreement < kMinNormalCosine * kMinNormalCosine * beforeLength2 * dot(after, after)) return false;
                if (dot(cross(diff(o1[f], o0[f]), diff(o2[f], o0[f])), after) < 0) return false;
            }
        }
        return true;
    }

    // Takes the cheapest allowed collapse of v, or queues v again when a
    // cheaper collapse of another vertex may now come first. v's fan has not
    // changed since it was queued (its version says so): the queued target is
    // still the cheapest by the fan's rules, and only the rest need asking.
    void tryCollapse(const Entry& entry)
    {
        const uint32_t v = entry.Vertex;
        if (readFan(v) >= 0 && allowed(v, entry.Target)) {
            collapse(v, entry.Target);
            return;
        }
        candidatesOf(v, candidates, false);
        for (const Candidate& candidate : candidates) {
            if (candidate.Target == entry.Target) continue;
            if (!queue.empty() && candidate.Cost > queue.top().Cost) {
                queue.push({candidate.Cost, v, candidate.Target, version[v]});
                return;
            }
            if (!allowed(v, candidate.Target)) continue;
            collapse(v, candidate.Target);
            return;
        }
        // Nothing allowed: v waits until a collapse nearby changes its fan or
        // the fan of a neighbour.
        waiting[v] = 1;
    }

    void collapse(uint32_t v, uint32_t w)
    {
        const bool mapped = mapSkinSides(w, sides);
        assert(mapped);
        (void)mapped;
        touched.clear();
        touched.push_back(w);
        for (uint32_t t : fanOfV) {
            MDLTriangle& tri = triangles[t];
            for (uint32_t x : tri.VertIndex)
                if (x != v) touched.push_back(x);
            if (cornerOf(tri, w) >= 0) {
                triangleRemoved[t] = 1;
                --liveTriangles;
                continue;
            }
            const auto j = std::size_t(cornerOf(tri, v));
            const uint32_t texel = texelOf(tri.SkinIndex[j]);
            tri.VertIndex[j] = w;  // in v's place: the winding stays
            tri.SkinIndex[j] = std::find_if(sides.begin(), sides.end(), [&](const SkinSide& s) { return s.Texel == texel; })->TargetSkin;
            fans.Append(w, t);
        }
        for (std::size_t k = 0; k < errorFrames.size(); ++k) quadricOf(w, k).Add(quadricOf(v, k));

        // The fans that changed (w's and those of v's neighbours) change their
        // costs. w's other neighbours keep theirs; only the ones waiting for a
        // change nearby may now find a collapse into w allowed.
        gatherFan(w, fanOfW);
        for (uint32_t t : fanOfW)
            for (uint32_t x : triangles[t].VertIndex)
                if (waiting[x]) touched.push_back(x);
        std::sort(touched.begin(), touched.end());
        touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
        for (uint32_t x : touched) schedule(x);
    }

    std::vector<MDLTriangle>& triangles;
    std::vector<SkinVert>& skinVerts;
    const uint32_t vertexCount;
    const uint32_t frameCount;
    FanIndex fans;
    std::vector<uint8_t> triangleRemoved;
    std::vector<uint32_t> version;  // bumped whenever a vertex's costs are worked out again
    std::vector<uint8_t> waiting;   // queued no more: every collapse it had was refused
    int64_t liveTriangles = 0;
    std::vector<uint32_t> originalCorners;
    std::vector<uint32_t> originalSkinCorners;

    std::unique_ptr<Packed[]> positions;  // vertex-major: [v * frameCount + f]
    std::array<double, 3> unitScale{};
    std::array<double, 3> unitOffset{};
    std::vector<uint32_t> errorFrames;
    std::vector<Quadric> quadrics;  // vertex-major: [v * errorFrames.size() + k]
    // The chosen frames' positions in the unit box, beside each other: the
    // costs of one collapse then read three cache lines, not one per frame.
    std::vector<std::array<float, 3>> errorPositions;
    std::priority_queue<Entry> queue;

    // Scratch, allocated once: nothing allocates per collapse once they have grown.
    std::vector<uint32_t> fanOfV;
    std::vector<uint32_t> texelsOfV;  // beside fanOfV
    std::vector<uint32_t> fanOfW;
    std::vector<Neighbour> neighbours;
    std::vector<SkinSide> sides;
    std::vector<Candidate> candidates;
    std::vector<double> candidateErrors;  // one run of chosen frames per candidate of one vertex
    std::vector<uint32_t> touched;
};

// Only a model whose lists agree with each other is reduced; the loader
// checks this for files, but a model put together in memory may not.
bool canReduce(const TMDLModel& model)
{
    if (model.Frames.empty()) return false;
    const std::size_t vertexCount = model.Frames[0].Items.size();
    if (vertexCount >= std::numeric_limits<uint32_t>::max() / 4) return false;
    for (const TMDLFrame& frame : model.Frames)
        if (frame.Items.size() != vertexCount || frame.Count != int32_t(vertexCount)) return false;
    if (model.Header.NumVerts != int32_t(vertexCount) || model.Triangles.Items.size() != std::size_t(model.Triangles.Count) ||
        model.SkinVerts.Items.size() != std::size_t(model.SkinVerts.Count))
        return false;
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (int j = 0; j < 3; ++j)
            if (tri.VertIndex[std::size_t(j)] >= vertexCount || tri.SkinIndex[std::size_t(j)] >= model.SkinVerts.Items.size()) return false;
    return true;
}

}  // namespace

QuadricResult ReduceQuadric(TMDLModel& model, int64_t targetTriangles, const std::function<void(const std::string&)>& progress,
                            const QuadricOptions& options)
{
    QuadricResult result;
    result.TrianglesBefore = int32_t(model.Triangles.Items.size());
    result.TrianglesAfter = result.TrianglesBefore;
    const int64_t target = std::max<int64_t>(targetTriangles, 0);
    if (result.TrianglesBefore <= target) {
        result.BudgetMet = true;
        return result;
    }
    if (!canReduce(model)) {
        result.StoppedBecause = "the model's indices or counts do not agree with its lists";
        return result;
    }
    {
        Collapser collapser(model, options);
        collapser.Run(target, progress);
        collapser.Compact(model);
    }
    result.TrianglesAfter = model.Triangles.Count;
    result.BudgetMet = result.TrianglesAfter <= target;
    if (!result.BudgetMet)
        result.StoppedBecause = "every remaining collapse would cross a seam or a border, turn over or flatten a triangle "
                                "in some frame, or join surfaces that are apart";
    return result;
}
