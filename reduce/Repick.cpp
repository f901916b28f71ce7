#include "reduce/Repick.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <queue>
#include <span>
#include <utility>

#include "model/AnimatedMesh.h"
#include "model/Geometry.h"
#include "reduce/FanIndex.h"

namespace {

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

// A fan's triangle may turn at most this far from where the collapses left
// it (the cosine of about 87 degrees), as a collapse may.
constexpr double kLeastTurnCosine = 0.05;

// The frames whose errors are weighed, spread evenly over the animation:
// every candidate is first weighed over a few of them, the best over all.
constexpr uint32_t kErrorFrames = 32;
constexpr uint32_t kFirstLookFrames = 8;

// The looks cost some hundreds of point-to-triangle tests per kept vertex,
// candidate and weighed frame: a model of more input triangles times weighed
// frames than this is left as the collapses made it.
constexpr std::size_t kLargestWork = std::size_t(1) << 19;

// Candidates looked at again over every weighed frame.
constexpr std::size_t kFinalists = 2;

// Passes over every kept vertex: a place that changes hands changes its
// neighbours' fans, so a second look may find more.
constexpr int kPasses = 3;

using Point = WorldPoint;

double gap2(const Point& a, const Point& b)
{
    const Point d = Minus(a, b);
    return Dot(d, d);
}


// Lists of numbers per index, in one block: items of i are
// Items[Start[i] .. Start[i + 1]).
struct Lists {
    std::vector<uint32_t> Start;
    std::vector<uint32_t> Items;

    // From pairs (index, item), indices below count.
    void Fill(std::size_t count, const std::vector<std::pair<uint32_t, uint32_t>>& pairs)
    {
        Start.assign(count + 1, 0);
        for (const auto& [index, item] : pairs) ++Start[index + 1];
        for (std::size_t i = 0; i < count; ++i) Start[i + 1] += Start[i];
        Items.resize(pairs.size());
        std::vector<uint32_t> next(Start.begin(), Start.end() - 1);
        for (const auto& [index, item] : pairs) Items[next[index]++] = item;
    }
    std::span<const uint32_t> Of(uint32_t i) const { return std::span<const uint32_t>(Items).subspan(Start[i], Start[i + 1] - Start[i]); }
};

class Repicker {
public:
    Repicker(const AnimatedMesh& mesh, std::vector<MeshTriangle>& live, const std::vector<uint32_t>& source)
        : mesh(mesh), live(live), source(source), inputFans(mesh.Triangles, mesh.VertexCount, 1, 1), liveFans(live, mesh.VertexCount, 1, 1)
    {
        const uint32_t count = std::min(mesh.FrameCount, kErrorFrames);
        for (uint32_t k = 0; k < count; ++k)
            errorFrames.push_back(count == 1 ? 0 : uint32_t(std::lround(double(k) * (mesh.FrameCount - 1) / double(count - 1))));
        for (uint32_t k = 0; k < count; ++k) everyFrame.push_back(k);
        const uint32_t few = std::min(count, kFirstLookFrames);
        for (uint32_t k = 0; k < few; ++k) firstLook.push_back(few == 1 ? 0 : uint32_t(std::lround(double(k) * (count - 1) / double(few - 1))));
        at.resize(errorFrames.size() * std::size_t(mesh.VertexCount));
        for (std::size_t f = 0; f < errorFrames.size(); ++f)
            for (uint32_t v = 0; v < mesh.VertexCount; ++v) at[f * mesh.VertexCount + v] = mesh.World(v, errorFrames[f]);
        findPlainVertices();
        formPatches();
        findWeights();
    }

    int Run()
    {
        int changed = 0;
        // A place is looked at again only when its fan or a neighbour's changed.
        std::vector<uint8_t> due(mesh.VertexCount, 0);
        for (uint32_t v = 0; v < mesh.VertexCount; ++v) due[v] = placeOf[v] != kNone;
        for (int pass = 0; pass < kPasses; ++pass) {
            std::vector<uint8_t> next(mesh.VertexCount, 0);
            int changedNow = 0;
            for (uint32_t place = 0; place < mesh.VertexCount; ++place) {
                if (!due[place] || !plain[holder[place]] || !tryPlace(place)) continue;
                ++changedNow;
                for (const uint32_t t : liveFans.Of(place))
                    for (const uint32_t u : live[t].Vertex) next[placeOf[u]] = 1;
            }
            changed += changedNow;
            if (changedNow == 0) break;
            due.swap(next);
        }
        return changed;
    }

private:
    // Plain: inside the surface (each input edge at it has two triangles), one texture coordinate.
    void findPlainVertices()
    {
        const uint32_t vertexCount = mesh.VertexCount;
        plain.assign(vertexCount, 1);
        ownTexCoord.assign(vertexCount, kNone);
        std::vector<uint8_t> used(vertexCount, 0);
        std::vector<uint64_t> edges;
        const bool vertexOwned = !mesh.VertexTexCoords.empty();
        for (uint32_t t = 0; t < mesh.Triangles.size(); ++t) {
            const MeshTriangle& tri = mesh.Triangles[t];
            const bool repeated = tri.Vertex[0] == tri.Vertex[1] || tri.Vertex[1] == tri.Vertex[2] || tri.Vertex[0] == tri.Vertex[2];
            for (std::size_t j = 0; j < 3; ++j) {
                const uint32_t v = tri.Vertex[j];
                used[v] = 1;
                if (repeated) plain[v] = 0;
                const uint32_t a = std::min(v, tri.Vertex[(j + 1) % 3]), b = std::max(v, tri.Vertex[(j + 1) % 3]);
                edges.push_back(uint64_t(a) << 32 | b);
                const uint32_t coordinate = vertexOwned ? mesh.VertexTexCoords[v][0] : tri.TexCoord[j];
                if (vertexOwned && mesh.VertexTexCoords[v][0] != mesh.VertexTexCoords[v][1]) plain[v] = 0;
                if (ownTexCoord[v] == kNone) ownTexCoord[v] = coordinate;
                else if (ownTexCoord[v] != coordinate) plain[v] = 0;
            }
        }
        std::sort(edges.begin(), edges.end());
        for (std::size_t i = 0; i < edges.size();) {
            std::size_t end = i;
            while (end < edges.size() && edges[end] == edges[i]) ++end;
            if (end - i != 2) plain[uint32_t(edges[i] >> 32)] = plain[uint32_t(edges[i])] = 0;
            i = end;
        }
        for (uint32_t v = 0; v < vertexCount; ++v)
            if (!used[v]) plain[v] = 0;
    }

    // Each removed vertex joins the patch of the kept vertex nearest along the
    // input's edges (in frame 0), through removed vertices only.
    void formPatches()
    {
        const uint32_t vertexCount = mesh.VertexCount;
        std::vector<uint8_t> kept(vertexCount, 0);
        for (const MeshTriangle& tri : live)
            for (const uint32_t v : tri.Vertex) kept[v] = 1;
        std::vector<uint32_t> owner(vertexCount, kNone);
        std::vector<double> reach(vertexCount, std::numeric_limits<double>::infinity());
        using Step = std::pair<double, uint32_t>;
        std::priority_queue<Step, std::vector<Step>, std::greater<Step>> queue;
        for (uint32_t v = 0; v < vertexCount; ++v)
            if (kept[v]) {
                owner[v] = v;
                reach[v] = 0;
                queue.emplace(0.0, v);
            }
        while (!queue.empty()) {
            const auto [distance, v] = queue.top();
            queue.pop();
            if (distance > reach[v]) continue;
            for (const uint32_t t : inputFans.Of(v))
                for (const uint32_t n : mesh.Triangles[t].Vertex) {
                    if (kept[n]) continue;
                    const double further = distance + std::sqrt(gap2(point(0, v), point(0, n)));
                    if (further < reach[n]) {
                        reach[n] = further;
                        owner[n] = owner[v];
                        queue.emplace(further, n);
                    }
                }
        }
        std::vector<std::pair<uint32_t, uint32_t>> memberPairs;
        for (uint32_t v = 0; v < vertexCount; ++v)
            if (owner[v] != kNone) memberPairs.emplace_back(owner[v], v);
        members.Fill(vertexCount, memberPairs);
        holder.resize(vertexCount);
        placeOf.assign(vertexCount, kNone);
        for (uint32_t v = 0; v < vertexCount; ++v) {
            holder[v] = v;
            if (kept[v]) placeOf[v] = v;
        }
    }

    // Triangles in the weighed frames, with a ball about each centre that
    // holds it, to pass over far ones cheaply; nearer ones first. A frame's
    // corners and balls are worked out when first asked for.
    struct Nearby {
        std::vector<std::array<uint32_t, 3>> Triangles;
        std::vector<std::array<Point, 3>> Corners;  // [frame * Triangles.size() + i]
        std::vector<std::array<double, 4>> Balls;
    };

    // The triangles (corners as vertices), those nearest centre (in frame 0) first.
    Nearby nearby(std::vector<std::array<uint32_t, 3>> triangles, uint32_t centre) const
    {
        const auto away = [&](const std::array<uint32_t, 3>& t) {
            return gap2(point(0, centre), point(0, t[0])) + gap2(point(0, centre), point(0, t[1])) + gap2(point(0, centre), point(0, t[2]));
        };
        std::sort(triangles.begin(), triangles.end(), [&](const auto& a, const auto& b) { return away(a) < away(b); });
        Nearby result;
        result.Triangles = std::move(triangles);
        result.Corners.resize(errorFrames.size() * result.Triangles.size());
        result.Balls.resize(result.Corners.size());
        return result;
    }

    void fill(Nearby& near, std::size_t f) const
    {
        const std::size_t count = near.Triangles.size();
        for (std::size_t i = 0; i < count; ++i) {
            const std::array<uint32_t, 3>& t = near.Triangles[i];
            near.Corners[f * count + i] = {point(f, t[0]), point(f, t[1]), point(f, t[2])};
            near.Balls[f * count + i] = ballAbout(near.Corners[f * count + i]);
        }
    }

    // A ball about a triangle's centre that holds it: centre and radius.
    static std::array<double, 4> ballAbout(const std::array<Point, 3>& corners)
    {
        const auto& [a, b, c] = corners;
        const Point middle{(a[0] + b[0] + c[0]) / 3, (a[1] + b[1] + c[1]) / 3, (a[2] + b[2] + c[2]) / 3};
        const double radius = std::sqrt(std::max({gap2(a, middle), gap2(b, middle), gap2(c, middle)}));
        return {middle[0], middle[1], middle[2], radius * (1 + 1e-9)};
    }

    // Whether anything in ball may lie within reach of p.
    static bool inReach(const Point& p, const std::array<double, 4>& ball, double reach)
    {
        const double within = ball[3] + reach;
        return gap2(p, {ball[0], ball[1], ball[2]}) < within * within;
    }

    // The squared distance from p to the nearest of near's triangles in frame f.
    static double nearest2(const Nearby& near, std::size_t f, const Point& p)
    {
        double nearest = std::numeric_limits<double>::infinity();
        double reach = nearest;  // the square root of nearest
        const std::size_t count = near.Triangles.size();
        for (std::size_t i = f * count; i < (f + 1) * count; ++i) {
            if (!inReach(p, near.Balls[i], reach)) continue;
            const double found = PointTriangleDistance2(p, {near.Corners[i][0], near.Corners[i][1], near.Corners[i][2]});
            if (found < nearest) {
                nearest = found;
                reach = std::sqrt(found);
            }
        }
        return nearest;
    }

    // What the error about a place needs beside the vertex tried there: the
    // patches of the place and of its fan's rim, their vertices (with their
    // share of the input's area) and the input's triangles about them, and in
    // each weighed frame how near each vertex lies to the live triangles about
    // the rim that do not move. Frames are worked out when first asked for.
    struct Region {
        std::vector<uint32_t> Vertices;
        Nearby Under;
        Nearby Others;
        std::vector<double> Fixed;  // [frame * Vertices.size() + i]
        std::vector<uint8_t> Ready;  // per frame
    };

    Region regionOf(uint32_t place) const
    {
        Region region;
        const uint32_t v = holder[place];
        std::vector<uint32_t> places{place};
        for (const uint32_t t : liveFans.Of(place))
            for (const uint32_t u : live[t].Vertex)
                if (u != v) places.push_back(placeOf[u]);
        std::sort(places.begin(), places.end());
        places.erase(std::unique(places.begin(), places.end()), places.end());
        std::vector<uint32_t> others, under;
        for (const uint32_t p : places) {
            const std::span<const uint32_t> patch = members.Of(p);
            region.Vertices.insert(region.Vertices.end(), patch.begin(), patch.end());
            if (p == place) continue;
            for (const uint32_t t : liveFans.Of(p))
                if (std::find(live[t].Vertex.begin(), live[t].Vertex.end(), v) == live[t].Vertex.end()) others.push_back(t);
        }
        for (const uint32_t m : region.Vertices) {
            const std::span<const uint32_t> fan = inputFans.Of(m);
            under.insert(under.end(), fan.begin(), fan.end());
        }
        const auto cornersOf = [](std::vector<uint32_t>& list, const std::vector<MeshTriangle>& triangles) {
            std::sort(list.begin(), list.end());
            list.erase(std::unique(list.begin(), list.end()), list.end());
            std::vector<std::array<uint32_t, 3>> corners;
            for (const uint32_t t : list) corners.push_back(triangles[t].Vertex);
            return corners;
        };
        region.Under = nearby(cornersOf(under, mesh.Triangles), v);
        region.Others = nearby(cornersOf(others, live), v);
        region.Fixed.resize(errorFrames.size() * region.Vertices.size());
        region.Ready.assign(errorFrames.size(), 0);
        return region;
    }

    void prepare(Region& region, std::size_t f) const
    {
        if (region.Ready[f]) return;
        region.Ready[f] = 1;
        fill(region.Under, f);
        fill(region.Others, f);
        for (std::size_t i = 0; i < region.Vertices.size(); ++i)
            region.Fixed[f * region.Vertices.size() + i] = nearest2(region.Others, f, point(f, region.Vertices[i]));
    }

    // Vertex v in the f-th weighed frame.
    const Point& point(std::size_t f, uint32_t v) const { return at[f * mesh.VertexCount + v]; }

    // The error about a place when vertex candidate holds it, over the
    // weighed frames listed: the region's vertices (weighed by their share of
    // the input's area) against the live triangles, and points of the fan's
    // triangles (by area; the centre alone for a first look, or halfway from
    // it to each corner too) against the input's triangles under the region;
    // the worst frame's plus the mean.
    double placeError(uint32_t spot, uint32_t candidate, Region& region, const std::vector<uint32_t>& frames, bool centres) const
    {
        static constexpr std::array<std::array<double, 3>, 4> kSamples{
            {{1.0 / 3, 1.0 / 3, 1.0 / 3}, {2.0 / 3, 1.0 / 6, 1.0 / 6}, {1.0 / 6, 2.0 / 3, 1.0 / 6}, {1.0 / 6, 1.0 / 6, 2.0 / 3}}};
        const std::size_t samples = centres ? 1 : kSamples.size();
        const uint32_t v = holder[spot];
        double worst = 0, sum = 0;
        std::vector<std::array<Point, 3>> fan;
        std::vector<std::array<double, 4>> fanBalls;
        for (const uint32_t f : frames) {
            prepare(region, f);
            fan.clear();
            fanBalls.clear();
            for (const uint32_t t : liveFans.Of(spot)) {
                std::array<Point, 3> corners;
                for (std::size_t j = 0; j < 3; ++j) corners[j] = point(f, live[t].Vertex[j] == v ? candidate : live[t].Vertex[j]);
                fan.push_back(corners);
                fanBalls.push_back(ballAbout(corners));
            }
            double error = 0;
            for (std::size_t i = 0; i < region.Vertices.size(); ++i) {
                const Point& p = point(f, region.Vertices[i]);
                double nearest = region.Fixed[f * region.Vertices.size() + i];
                const double reach = std::sqrt(nearest);
                for (std::size_t k = 0; k < fan.size(); ++k)
                    if (inReach(p, fanBalls[k], reach)) nearest = std::min(nearest, PointTriangleDistance2(p, {fan[k][0], fan[k][1], fan[k][2]}));
                error += weight[region.Vertices[i]] * nearest;
            }
            for (const auto& c : fan) {
                const Point normal = Cross(Minus(c[1], c[0]), Minus(c[2], c[0]));
                const double share = 0.5 * std::sqrt(Dot(normal, normal)) / double(samples);
                for (std::size_t k = 0; k < samples; ++k) {
                    const std::array<double, 3>& w = kSamples[k];
                    const Point p{w[0] * c[0][0] + w[1] * c[1][0] + w[2] * c[2][0], w[0] * c[0][1] + w[1] * c[1][1] + w[2] * c[2][1],
                                  w[0] * c[0][2] + w[1] * c[1][2] + w[2] * c[2][2]};
                    error += share * nearest2(region.Under, f, p);
                }
            }
            worst = std::max(worst, error);
            sum += error;
        }
        return worst + sum / double(frames.size());
    }

    // Whether the fan of place, with vertex at there, turns no triangle over in any frame.
    bool keepsFacing(uint32_t place, uint32_t at) const
    {
        const uint32_t v = holder[place];
        for (uint32_t frame = 0; frame < mesh.FrameCount; ++frame) {
            const Point moved = mesh.World(at, frame);
            for (const uint32_t t : liveFans.Of(place)) {
                const MeshTriangle& tri = live[t];
                std::array<Point, 3> before, after;
                for (std::size_t j = 0; j < 3; ++j) {
                    before[j] = mesh.World(tri.Vertex[j], frame);
                    after[j] = tri.Vertex[j] == v ? moved : before[j];
                }
                const Point was = Cross(Minus(before[1], before[0]), Minus(before[2], before[0]));
                if (Dot(was, was) == 0) continue;  // flat in this frame already: nothing to keep
                const Point now = Cross(Minus(after[1], after[0]), Minus(after[2], after[0]));
                const double agree = Dot(was, now);
                if (!(agree > 0) || agree * agree < kLeastTurnCosine * kLeastTurnCosine * Dot(was, was) * Dot(now, now)) return false;
                // Nor against the input's triangle it came from, so that turns, each allowed, do not add up.
                const MeshTriangle& input = mesh.Triangles[source[t]];
                const Point a = mesh.World(input.Vertex[0], frame);
                if (Dot(Cross(Minus(mesh.World(input.Vertex[1], frame), a), Minus(mesh.World(input.Vertex[2], frame), a)), now) < 0) return false;
            }
        }
        return true;
    }

    // Whether the live fan of place is a whole disc of corners that show its vertex's own coordinate.
    bool fanIsPlain(uint32_t place) const
    {
        const uint32_t v = holder[place];
        std::vector<uint32_t> rim;
        for (const uint32_t t : liveFans.Of(place)) {
            const MeshTriangle& tri = live[t];
            for (std::size_t j = 0; j < 3; ++j) {
                if (tri.Vertex[j] == v) {
                    if (tri.TexCoord[j] != ownTexCoord[v]) return false;
                } else {
                    rim.push_back(tri.Vertex[j]);
                }
            }
        }
        std::sort(rim.begin(), rim.end());
        for (std::size_t i = 0; i < rim.size(); i += 2)
            if (i + 1 >= rim.size() || rim[i] != rim[i + 1] || (i + 2 < rim.size() && rim[i + 2] == rim[i])) return false;
        return !rim.empty();
    }

    // The coordinate a corner of live triangle t takes at vertex v.
    uint32_t cornerTexCoord(uint32_t t, uint32_t v) const
    {
        if (mesh.VertexTexCoords.empty()) return ownTexCoord[v];
        return mesh.VertexTexCoords[v][mesh.TriangleBack.empty() ? 0 : mesh.TriangleBack[source[t]]];
    }

    // Looks for a better holder of place: every candidate over a few frames
    // spread over the animation, its fan seen by its centres, then the best
    // few over every weighed frame, more finely.
    int tryPlace(uint32_t place)
    {
        const uint32_t v = holder[place];
        const std::span<const uint32_t> patch = members.Of(place);
        if (std::none_of(patch.begin(), patch.end(), [&](uint32_t m) { return m != v && plain[m]; }) || !fanIsPlain(place)) return 0;
        Region region = regionOf(place);
        const double now = placeError(place, v, region, firstLook, true);
        std::vector<std::pair<double, uint32_t>> better;
        for (const uint32_t m : patch)
            if (m != v && plain[m])
                if (const double error = placeError(place, m, region, firstLook, true); error < now * (1 - 1e-9)) better.emplace_back(error, m);
        if (better.empty()) return 0;
        std::sort(better.begin(), better.end());
        better.resize(std::min(better.size(), kFinalists));
        double best = placeError(place, v, region, everyFrame, false);
        uint32_t chosen = v;
        for (const auto& [error, m] : better) {
            const double whole = placeError(place, m, region, everyFrame, false);
            if (whole < best * (1 - 1e-9) && keepsFacing(place, m)) {
                best = whole;
                chosen = m;
            }
        }
        if (chosen == v) return 0;
        for (const uint32_t t : liveFans.Of(place))
            for (std::size_t j = 0; j < 3; ++j)
                if (live[t].Vertex[j] == v) {
                    live[t].Vertex[j] = chosen;
                    live[t].TexCoord[j] = cornerTexCoord(t, chosen);
                }
        holder[place] = chosen;
        placeOf[v] = kNone;
        placeOf[chosen] = place;
        return 1;
    }

    // Each vertex's share of the input's area in frame 0.
    void findWeights()
    {
        weight.assign(mesh.VertexCount, 0);
        for (const MeshTriangle& tri : mesh.Triangles) {
            const Point &a = point(0, tri.Vertex[0]), &b = point(0, tri.Vertex[1]), &c = point(0, tri.Vertex[2]);
            const Point normal = Cross(Minus(b, a), Minus(c, a));
            const double share = std::sqrt(Dot(normal, normal)) / 6;
            for (const uint32_t v : tri.Vertex) weight[v] += share;
        }
    }

    const AnimatedMesh& mesh;
    std::vector<MeshTriangle>& live;
    const std::vector<uint32_t>& source;
    std::vector<uint32_t> errorFrames;  // the model's frames whose errors are weighed
    std::vector<uint32_t> everyFrame;  // indices of errorFrames: all of them
    std::vector<uint32_t> firstLook;  // and those of the first look
    std::vector<Point> at;  // [f * VertexCount + v]: vertex v in errorFrames[f]
    std::vector<uint8_t> plain;
    std::vector<uint32_t> ownTexCoord;
    std::vector<uint32_t> holder;  // the vertex that holds each kept vertex's place now
    std::vector<uint32_t> placeOf;  // the place a vertex holds, or kNone
    std::vector<double> weight;
    FanIndex inputFans;  // the input's triangles by vertex
    FanIndex liveFans;   // the live triangles by vertex: by place, since a place's fan stays its own
    Lists members;       // each place's patch
};

}  // namespace

int RepickVertices(const AnimatedMesh& mesh, std::vector<MeshTriangle>& live, const std::vector<uint32_t>& source)
{
    if (live.empty() || source.size() != live.size() || mesh.FrameCount == 0 ||
        mesh.Triangles.size() * std::min(mesh.FrameCount, kErrorFrames) > kLargestWork || !mesh.IsConsistent())
        return 0;
    return Repicker(mesh, live, source).Run();
}
