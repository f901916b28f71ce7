// The collapser proper: a queue of half-edge collapses v -> w in order of
// least cost, the rules that refuse one, and perform, which makes one and
// looks again at the fans it changed. What it weighs a collapse with is
// built elsewhere: the frames and their unit box once (reduce/FrameTables.h),
// the planes and texture sides of the live surface at each fresh start
// (reduce/SurfaceQuadrics.h).
//
// The rules, and where each is asked:
//  1. v's fan is manifold, its triangles have three corners, and at most
//     one border passes through v                                ReadFan (reduce/LiveFan.h)
//  2. v and w belong to one part                                 evaluate
//  3. an open border only shortens along itself (a split seam's
//     end, inside a whole surface, may go inward)                evaluate  (relaxable, level 2)
//  4. a border vertex never goes inward onto another border      evaluate
//  5. the sides of a split seam collapse together, along their
//     own border edges, so that no crack opens                   readMembers, evaluate  (relaxable, level 2)
//  6. a texture seam only shortens along itself                  planSides  (relaxable, level 1)
//  7. no piece of surface loses its last triangle                emptiesAPiece (reduce/SurfacePieces.h)
//  8. no two fans join apart from along the edge (link)          allowed
//  9. no triangle is made twice                                  allowed
// 10. no triangle turns over or flattens in any frame, nor
//     turns away from its input self                             allowed
// Rules 1 to 7 need only the fans read and cost little: every candidate
// meets them before its cost is worked out. Rules 8 to 10 read other fans
// and every frame: a candidate meets them only when it is the cheapest left
// and about to be taken.
//
// When every collapse left is refused and the budget is not met, every
// vertex is looked at again (a refusal may have gone with its neighbours'
// changes), once more with every target of a wide fan tried; then the rules
// relax, in this order: seams may be crossed (rule 6), their texture cost
// counted; then borders may move off their line and split seams open
// (rules 3 and 5), their shape cost counted. Still stuck after some
// progress, it starts afresh from the live triangles (their planes, borders
// and seams as they are now), as a further level of detail would. Asked to,
// seams may be crossed and open borders move off their line from the first
// collapse.
//
// The lists stay in place until the end: triangles are only marked removed, a
// fan index of triangles by vertex is kept in step with every collapse, and
// the survivors are listed once at the end.

#include "reduce/Collapser.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

#include "model/AnimatedMesh.h"
#include "reduce/FanIndex.h"
#include "reduce/FrameTables.h"
#include "reduce/LiveFan.h"
#include "reduce/Quadric.h"
#include "reduce/SurfacePieces.h"
#include "reduce/SurfaceQuadrics.h"

namespace {

// Texture slid by a distance weighs this much against the surface moved by
// as much. At 1 the collapses keep textures still at a visible price in shape
// (a sphere's poles, where its map stretches, stay dense while its equator
// thins); at 0.1 they still cost shape (RMS medians 0.02 to 0.05 above this one's
// against the poses peer in quadric_bench). At 0.001 a collapse across a seam,
// or along one that bends in the texture, still waits behind the many that
// cost neither, and the texture figure stays below the peer's on the median
// model; at 0 it is about the peer's, and the shapes are a little worse too
// (0.0 / 0.001 / 0.003 / 0.01: RMS medians at a quarter of the triangles
// 0.82 / 0.79 / 0.81 / 0.85).
constexpr double kTextureWeight = 0.001;
// A triangle whose normal turns further than about 87 degrees in some frame
// counts as folded over: a plain "dot > 0" lets slivers stand on edge.
constexpr double kMinNormalCosine = 0.05;
// A fan of up to this many triangles works out its costs again after every
// change; a larger one after its size over 4 changes (or when its entry comes
// up), so that the hub of a wide fan is not read whole after each of the
// collapses around it: that made reductions grow with the square of the fan.
constexpr uint32_t kEagerFan = 24;
// A wide fan works out the whole cost of this many targets per look, and
// tries as many, each costing the whole fan in every frame; the rest wait for
// the fan to change, or for the last look at every vertex before the rules
// relax, which tries every target. A hub whose slivers make nearly every
// target fold or cost much would otherwise work through them all after each
// change around it: the square of the fan's size.
constexpr uint32_t kTriesPerLook = 4;

// Where each side of a vertex goes at its target, and what that costs.
struct SidePlan {
    std::vector<uint32_t> Targets;  // beside FanScratch::Sides
    double Texture = 0;
    uint32_t Needs = kRelaxNone;
};

struct Candidate {
    double Cost = 0;           // a lower bound until Whole
    uint32_t Target = 0;
    uint32_t Errors = 0;       // where its frame errors start in Look::Errors
    uint32_t Members = kNone;  // where the split seam's other targets start in Look::MemberTargets; kNone: v alone
    uint32_t Needs = kRelaxNone;
    double Texture = 0;
    bool Whole = false;
};

// One look at a vertex v: the fans read (v's, then the other live sides of
// its split seam), the candidates worked out from them and their errors.
// Each step gets it as an argument and fills or reads the parts it names;
// a new look (readMembers) overwrites the last. Made once per reduction,
// so nothing allocates per collapse once the vectors have grown.
struct Look {
    std::vector<FanScratch> Fans = std::vector<FanScratch>(2);  // the first Members are read
    uint32_t Members = 0;                                       // 0: v may not go
    bool MembersFollow = true;  // the twins may follow v along their own border edges
    std::vector<uint32_t> MemberTargets;  // per candidate, from Candidate::Members: the twins' targets
    std::vector<Candidate> Candidates;
    std::vector<double> Errors;  // one run of chosen frames per candidate
    SidePlan Plan;
    SlotTables Slots;
    std::vector<uint32_t> Touched;  // the vertices whose fans a collapse changed
};

class Collapser {
public:
    Collapser(const AnimatedMesh& mesh, const FrameTables& tables, const QuadricOptions& options)
        : mesh(mesh), vertexCount(mesh.VertexCount), frameCount(mesh.FrameCount), triangles(mesh.Triangles),
          vertexOwned(!mesh.VertexTexCoords.empty()), seamsFromStart(options.CrossSeamsFromStart),
          bordersFromStart(options.MoveBordersFromStart), newFanWeight(options.NewFanWeight), fans(mesh.Triangles, vertexCount, 1, 8),
          triangleRemoved(triangles.size(), 0), vertexDead(vertexCount, 0), version(vertexCount, 0),
          stale(vertexCount, 0), evaluatedFan(vertexCount, 0), tables(tables)
    {
        liveTriangles = int64_t(triangles.size());
        surface = BuildSurfaceQuadrics(mesh, tables, triangles, triangleRemoved, fans);
        pieces = FindSurfacePieces(triangles, vertexCount, surface.Seams);
    }

    int64_t LiveTriangles() const { return liveTriangles; }
    uint32_t Relaxations() const { return relaxationsUsed; }

    // Collapses in order of least cost until the budget is met. When the
    // queue runs dry, every vertex is looked at again while that still
    // collapses something, then the next relaxation is allowed.
    // On the way, when the live triangles first come to waypoint.Triangles
    // or fewer, their survivors go to waypoint.Survivors (in this view's numbering).
    void Run(int64_t target, const std::function<void(double)>& progress, const QuadricWaypoint& waypoint)
    {
        const int64_t toRemove = liveTriangles - target;
        int64_t lastShown = -1;
        uint64_t collapsesAtStart = 0;
        pendingWaypoint = waypoint;
        passWaypoint();
        Look look;
        look.Slots.OfNeighbour.assign(vertexCount, kNone);
        for (;;) {
            look.Slots.OfWedge.assign(surface.Wedges.size(), kNone);  // a fresh start makes new sides
            runLevels(target, toRemove, lastShown, progress, look);
            // Stuck: start afresh from what is left, as a further level of
            // detail would: planes of the triangles as they are now, borders
            // and seams as they are now. A greedy path that painted itself
            // into a corner often finds a way out from there.
            if (liveTriangles <= target || collapses == collapsesAtStart) return;
            collapsesAtStart = collapses;
            restart();
        }
    }

private:
    void runLevels(int64_t target, int64_t toRemove, int64_t& lastShown, const std::function<void(double)>& progress,
                   Look& look)
    {
        for (level = 0; level <= 2 && liveTriangles > target;) {
            const uint64_t collapsesBefore = collapses;
            for (uint32_t v = 0; v < vertexCount; ++v)
                if (!vertexDead[v]) schedule(v, look);
            while (liveTriangles > target && !queue.empty()) {
                const Entry entry = queue.top();
                queue.pop();
                if (vertexDead[entry.Vertex] || entry.Version != version[entry.Vertex]) continue;  // a fresher entry is queued
                tryCollapse(entry, look);
                passWaypoint();
                if (progress) {
                    const int64_t percent = (toRemove - (liveTriangles - target)) * 100 / std::max<int64_t>(toRemove, 1);
                    if (percent / 10 != lastShown) {
                        lastShown = percent / 10;
                        progress(double(percent) / 100);
                    }
                }
            }
            if (collapses != collapsesBefore) continue;
            // Nothing collapsed: once more with every target of wide fans
            // tried, then with the next relaxation.
            if (thorough) {
                thorough = false;
                ++level;
            } else {
                thorough = true;
            }
        }
    }

    void passWaypoint()
    {
        if (!pendingWaypoint.Survivors || liveTriangles > pendingWaypoint.Triangles) return;
        Survivors(*pendingWaypoint.Survivors);
        if (pendingWaypoint.Relaxations) *pendingWaypoint.Relaxations = relaxationsUsed;
        pendingWaypoint = {};
    }

    // The state a fresh reduction of the live triangles would start from.
    void restart()
    {
        fans = FanIndex(triangles, vertexCount, 1, 8);
        queue = {};
        thorough = false;
        surface = BuildSurfaceQuadrics(mesh, tables, triangles, triangleRemoved, fans);
    }

public:
    // The records that stay (see ListSurvivors); the live triangles keep their order.
    void Survivors(MeshSurvivors& out) const
    {
        std::vector<MeshTriangle> live;
        std::vector<uint32_t> source;
        live.reserve(std::size_t(liveTriangles));
        source.reserve(std::size_t(liveTriangles));
        for (uint32_t t = 0; t < triangles.size(); ++t) {
            if (triangleRemoved[t]) continue;
            live.push_back(triangles[t]);
            source.push_back(t);
        }
        ListSurvivors(mesh, live, std::move(source), out);
    }

private:
    struct Entry {
        double Cost = 0;
        uint32_t Vertex = 0;
        uint32_t Target = 0;  // the cheapest target when queued
        uint32_t Version = 0;
        // The least cost first; the lowest vertex among equals, for the same
        // result on every machine.
        bool operator<(const Entry& other) const { return Cost != other.Cost ? Cost > other.Cost : Vertex > other.Vertex; }
    };

    uint32_t partOf(uint32_t v) const { return mesh.VertexPart.empty() ? 0 : mesh.VertexPart[v]; }
    bool live(uint32_t t, uint32_t v) const { return !triangleRemoved[t] && CornerOf(triangles[t], v) >= 0; }
    uint32_t allowedNeeds() const { return (level >= 1 || seamsFromStart ? kRelaxSeams : 0u) | (level >= 2 ? kRelaxBorders : 0u); }

    // True when taking v to its target, with its members to theirs, would
    // leave some piece of surface without a triangle.
    bool emptiesAPiece(const Look& look, const Neighbour& edge, uint32_t memberStart) const
    {
        const FanScratch& s = look.Fans[0];
        const uint32_t members = look.Members;
        const auto removedFrom = [&](uint32_t piece) {
            uint32_t removed = pieces.Of[s.Vertex] == piece ? edge.Triangles : 0;
            for (uint32_t i = 1; memberStart != kNone && i < members; ++i) {
                const uint32_t target = look.MemberTargets[memberStart + i - 1];
                if (target != kNone && pieces.Of[look.Fans[i].Vertex] == piece)
                    removed += NeighbourOf(look.Fans[i], target)->Triangles;
            }
            return removed;
        };
        if (removedFrom(pieces.Of[s.Vertex]) >= pieces.Triangles[pieces.Of[s.Vertex]]) return true;
        for (uint32_t i = 1; memberStart != kNone && i < members; ++i)
            if (removedFrom(pieces.Of[look.Fans[i].Vertex]) >= pieces.Triangles[pieces.Of[look.Fans[i].Vertex]]) return true;
        return false;
    }

    Quadric& quadricOf(uint32_t v, std::size_t k) { return surface.Planes[std::size_t(v) * tables.ErrorFrames.size() + k]; }

    // v's live fan into s (see ReadFan); false when v may not go.
    bool readFan(uint32_t v, FanScratch& s, SlotTables& slots) const
    {
        return ReadFan(v, triangles, triangleRemoved, vertexDead, fans, surface.CornerWedge, s, slots);
    }

    double textureError(uint32_t side, uint32_t w, uint32_t target) const
    {
        const Wedge& to = surface.Wedges[target];
        return kTextureWeight * surface.TextureQuadrics[side].ErrorAt(tables.FrameZeroAt(w), to.U, to.V);
    }

    // Where each side of s's vertex goes when it collapses into w along edge:
    // the side of w that a triangle on the edge shows it beside (along the
    // seam), or, with no such triangle, across the seam: w's side of least
    // texture error (or, where coordinates belong to vertices, w's own for
    // the facing).
    void planSides(const FanScratch& s, uint32_t w, const Neighbour& edge, SidePlan& plan) const
    {
        const uint32_t v = s.Vertex;
        const std::vector<Wedge>& wedges = surface.Wedges;
        const std::vector<uint32_t>& wedgeStart = surface.WedgeStart;
        const std::vector<uint32_t>& cornerWedge = surface.CornerWedge;
        plan.Targets.assign(s.Sides.size(), kNone);
        plan.Texture = 0;
        plan.Needs = kRelaxNone;
        for (std::size_t i = 0; i < s.Sides.size(); ++i) {
            const uint32_t side = s.Sides[i];
            const Wedge& from = wedges[side];
            uint32_t target = kNone;
            double cost = std::numeric_limits<double>::infinity();
            int found = 0;
            for (uint32_t e = 0; e < std::min<uint32_t>(edge.Triangles, 2); ++e) {
                const uint32_t t = edge.Shared[e];
                const MeshTriangle& tri = triangles[t];
                const Wedge& at = wedges[cornerWedge[3 * std::size_t(t) + std::size_t(CornerOf(tri, v))]];
                if (at.U != from.U || at.V != from.V) continue;
                const uint32_t beside =
                    vertexOwned ? wedgeStart[w] + (side - wedgeStart[v]) : cornerWedge[3 * std::size_t(t) + std::size_t(CornerOf(tri, w))];
                const double error = textureError(side, w, beside);
                // Two triangles that disagree: the seam ends at w; either side
                // of it takes texture from across.
                if (found > 0 && (wedges[beside].U != wedges[target].U || wedges[beside].V != wedges[target].V)) plan.Needs |= kRelaxSeams;
                // The first one found stands even at an infinite or NaN
                // error (coordinates of a damaged file): a side must take some target.
                if (target == kNone || error < cost) {
                    cost = error;
                    target = beside;
                }
                ++found;
            }
            if (found == 0) {
                plan.Needs |= kRelaxSeams;
                if (vertexOwned) {
                    target = wedgeStart[w] + (side - wedgeStart[v]);
                    cost = textureError(side, w, target);
                } else {
                    for (uint32_t candidate = wedgeStart[w]; candidate < wedgeStart[w + 1]; ++candidate) {
                        const double error = textureError(side, w, candidate);
                        if (target == kNone || error < cost) {
                            cost = error;
                            target = candidate;
                        }
                    }
                }
            }
            plan.Targets[i] = target;
            plan.Texture += cost;
        }
    }

    // The worst frame first, the mean over frames after it: what shows is the
    // pose a collapse spoils most, and a sum lets many frames where a
    // collapse costs nothing hide the one where it costs much.
    double rankOf(const double* errors) const
    {
        const std::size_t frames = tables.ErrorFrames.size();
        double sum = 0;
        double worst = 0;
        for (std::size_t k = 0; k < frames; ++k) {
            sum += errors[k];
            worst = std::max(worst, errors[k]);
        }
        return worst + sum / double(frames);
    }

    // v's planes at w's position, frame by frame, added to errors.
    void addPlaneErrors(uint32_t v, uint32_t w, double* errors) const
    {
        const std::size_t frames = tables.ErrorFrames.size();
        const Quadric* q = &surface.Planes[std::size_t(v) * frames];
        for (std::size_t k = 0; k < frames; ++k) errors[k] += q[k].ErrorAt(tables.ErrorUnitAt(w, k));
    }

    // The planes v gathered say how far w lies from the surface removed so
    // far; they cannot see v standing off the triangles that replace its fan,
    // which is what makes a peak or a ridge go. So each new triangle adds v's
    // squared distance from its plane times its area (times newFanWeight) to
    // errors. Stops early once the rank of the errors so far plus
    // extra exceeds giveUpAbove: every term added is at least 0 and rounding
    // is monotone, so the whole cost would have exceeded it too. Returns false
    // when it stopped early.
    bool addNewFanErrors(const FanScratch& s, uint32_t w, double* errors, double extra, double giveUpAbove) const
    {
        const uint32_t v = s.Vertex;
        const std::size_t frames = tables.ErrorFrames.size();
        const PackedPosition* atW = tables.ErrorRowOf(w);
        const PackedPosition* atV = tables.ErrorRowOf(v);
        for (uint32_t t : s.Fan) {
            const MeshTriangle& tri = triangles[t];
            if (CornerOf(tri, w) >= 0) continue;
            const int j = CornerOf(tri, v);
            const PackedPosition* atA = tables.ErrorRowOf(tri.Vertex[std::size_t((j + 1) % 3)]);
            const PackedPosition* atB = tables.ErrorRowOf(tri.Vertex[std::size_t((j + 2) % 3)]);
            for (std::size_t k = 0; k < frames; ++k) {
                // Differences of packed positions: the offset cancels.
                const Vec3& scale = tables.UnitScale[tables.ErrorFrames[k]];
                const auto fromW = [&](const PackedPosition& p) {
                    const PackedPosition& pw = tables.ErrorPosition(atW, k);
                    return Vec3{(int(p[0]) - int(pw[0])) * scale[0], (int(p[1]) - int(pw[1])) * scale[1], (int(p[2]) - int(pw[2])) * scale[2]};
                };
                const auto normal = Cross(fromW(tables.ErrorPosition(atA, k)), fromW(tables.ErrorPosition(atB, k)));
                const double twiceArea = std::sqrt(Dot(normal, normal));
                if (twiceArea == 0) continue;  // flat in this frame: no plane; the flip checks refuse it anyway
                const double offset = Dot(normal, fromW(tables.ErrorPosition(atV, k)));
                errors[k] += newFanWeight * offset * offset / (2.0 * twiceArea);
            }
            if (giveUpAbove < std::numeric_limits<double>::infinity() && rankOf(errors) + extra > giveUpAbove) return false;
        }
        return true;
    }

    // Does a border edge of twin lie on one of v's (ends at the same places)?
    bool twinnedWith(const FanScratch& twin, const FanScratch& v) const
    {
        for (const Neighbour& a : twin.Neighbours) {
            if (a.Triangles != 1 || surface.Seams.GroupOf[a.Vertex] == kNone) continue;
            for (const Neighbour& b : v.Neighbours)
                if (b.Triangles == 1 && surface.Seams.GroupOf[b.Vertex] == surface.Seams.GroupOf[a.Vertex]) return true;
        }
        return false;
    }

    // Reads v and the other live sides of its split seam into look.Fans;
    // returns how many were read (0: v may not go), as look.Members too. A
    // twin that may not go keeps the others from going with v (they then
    // need borders relaxed).
    uint32_t readMembers(uint32_t v, Look& look) const
    {
        std::vector<FanScratch>& scratch = look.Fans;
        look.Members = 0;
        if (!readFan(v, scratch[0], look.Slots)) return 0;
        look.MembersFollow = true;
        look.Members = 1;
        if (surface.Seams.GroupOf[v] == kNone || scratch[0].BorderEdges != 2) return 1;
        uint32_t count = 1;
        for (uint32_t twin : surface.Seams.Of(surface.Seams.GroupOf[v])) {
            if (twin == v || vertexDead[twin]) continue;
            // Twins joined by an edge are no split seam to close together,
            // whether or not the twin may go: one of them could be the
            // target, or share a triangle that the first collapse changes.
            for (uint32_t i = 0; i < count; ++i)
                if (NeighbourOf(scratch[i], twin)) look.MembersFollow = false;
            if (count == scratch.size()) scratch.resize(count + 1);
            FanScratch& s = scratch[count];
            if (!readFan(twin, s, look.Slots)) {
                if (twinnedWith(s, scratch[0])) look.MembersFollow = false;
                continue;
            }
            ++count;
        }
        look.Members = count;
        return count;
    }

    // Is s's vertex where a split seam ends, its two border edges running to
    // the two sides of one place? Such a vertex is no outline: the surface
    // is whole there, and taking it inward only moves where the seam ends,
    // at the texture's cost.
    bool isSlitEnd(const FanScratch& s) const
    {
        if (surface.Seams.GroupOf[s.Vertex] != kNone) return false;
        std::array<uint32_t, 2> ends{kNone, kNone};
        std::size_t found = 0;
        for (const Neighbour& n : s.Neighbours)
            if (n.Triangles == 1 && found < 2) ends[found++] = n.Vertex;
        return found == 2 && surface.Seams.GroupOf[ends[0]] != kNone && surface.Seams.GroupOf[ends[0]] == surface.Seams.GroupOf[ends[1]];
    }

    // The candidate v -> edge.Vertex by the rules that need only the fans
    // read (look.Fans[0 .. look.Members)): its needs, plan and plane errors
    // (a lower bound of its cost) into errors; the twins' targets, when they
    // follow, appended to look.MemberTargets. False when refused at this level.
    bool evaluate(const Neighbour& edge, Look& look, Candidate& out, double* errors) const
    {
        const std::vector<FanScratch>& scratch = look.Fans;
        const uint32_t members = look.Members;
        std::vector<uint32_t>& memberTargets = look.MemberTargets;
        SidePlan& plan = look.Plan;
        const FanScratch& s = scratch[0];
        const uint32_t v = s.Vertex;
        const uint32_t w = edge.Vertex;
        if (partOf(v) != partOf(w)) return false;
        uint32_t needs = kRelaxNone;
        if (s.BorderEdges == 2 && edge.Triangles != 1) {
            if (surface.OnBorder[w]) return false;  // would pinch the surface at w
            if (!bordersFromStart && !isSlitEnd(s)) needs |= kRelaxBorders;
        }
        out.Members = kNone;
        if (members > 1) {
            // A twin that shares a border edge with v (the other side of a
            // seam through v) follows along its own border edge to a twin of
            // w; one that only shares v's place stays.
            bool follow = look.MembersFollow && needs == kRelaxNone;
            const std::vector<uint32_t>& seamOf = surface.Seams.GroupOf;
            const auto start = uint32_t(memberTargets.size());
            for (uint32_t i = 1; follow && i < members; ++i) {
                uint32_t target = kNone;
                if (twinnedWith(scratch[i], scratch[0])) {
                    for (const Neighbour& n : scratch[i].Neighbours)
                        if (n.Triangles == 1 && seamOf[w] != kNone && seamOf[n.Vertex] == seamOf[w]) target = n.Vertex;
                    if (target == kNone) follow = false;  // the seam would open
                }
                memberTargets.push_back(target);
            }
            if (follow) {
                out.Members = start;
            } else {
                memberTargets.resize(start);
                needs |= kRelaxBorders;
            }
        }
        if (needs & ~allowedNeeds()) return false;
        if (emptiesAPiece(look, edge, out.Members)) return false;
        double texture = 0;
        planSides(s, w, edge, plan);
        needs |= plan.Needs;
        texture += plan.Texture;
        std::fill(errors, errors + tables.ErrorFrames.size(), 0.0);
        addPlaneErrors(v, w, errors);
        if (out.Members != kNone)
            for (uint32_t i = 1; i < members; ++i) {
                const uint32_t target = memberTargets[out.Members + i - 1];
                if (target == kNone) continue;
                planSides(scratch[i], target, *NeighbourOf(scratch[i], target), plan);
                needs |= plan.Needs;
                texture += plan.Texture;
                addPlaneErrors(scratch[i].Vertex, target, errors);
            }
        if (needs & ~allowedNeeds()) return false;
        out.Target = w;
        out.Needs = needs;
        out.Texture = texture;
        out.Cost = rankOf(errors) + texture;
        out.Whole = false;
        return true;
    }

    // Adds the new fans' part to a candidate's cost (see addNewFanErrors).
    void completeCost(Candidate& c, Look& look, double giveUpAbove) const
    {
        double* errors = &look.Errors[c.Errors];
        bool whole = addNewFanErrors(look.Fans[0], c.Target, errors, c.Texture, giveUpAbove);
        if (c.Members != kNone)
            for (uint32_t i = 1; whole && i < look.Members; ++i)
                if (const uint32_t target = look.MemberTargets[c.Members + i - 1]; target != kNone)
                    whole = addNewFanErrors(look.Fans[i], target, errors, c.Texture, giveUpAbove);
        c.Cost = rankOf(errors) + c.Texture;
        c.Whole = whole;
    }

    // Asked by candidatesOf and tryCollapse after readMembers.
    bool isWide(const Look& look) const { return !thorough && look.Fans[0].Fan.size() > kEagerFan; }

    static bool cheaper(const Candidate& a, const Candidate& b) { return a.Cost != b.Cost ? a.Cost < b.Cost : a.Target < b.Target; }

    // A new look at v: the targets of v with the lower bounds of their
    // costs into look.Candidates, cheapest first; with cheapestOnly, the
    // first is whole and truly the cheapest. Returns how many fans were read
    // (0: v may not go).
    uint32_t candidatesOf(uint32_t v, bool cheapestOnly, Look& look) const
    {
        std::vector<Candidate>& candidates = look.Candidates;
        candidates.clear();
        look.MemberTargets.clear();
        const uint32_t members = readMembers(v, look);
        if (members == 0) return 0;
        const std::size_t frames = tables.ErrorFrames.size();
        const std::size_t need = look.Fans[0].Neighbours.size() * frames;
        if (look.Errors.size() < need) look.Errors.resize(need);
        for (const Neighbour& n : look.Fans[0].Neighbours) {
            Candidate c;
            c.Errors = uint32_t(candidates.size() * frames);
            if (evaluate(n, look, c, &look.Errors[c.Errors])) candidates.push_back(c);
        }
        std::sort(candidates.begin(), candidates.end(), cheaper);
        if (!cheapestOnly) return members;
        // The planes' part is a lower bound of the whole cost (the new fans
        // only add to each frame's error). The new fans' part, which costs
        // most, is worked out in order of that bound and only while a bound
        // may still beat the cheapest whole cost found: the first candidate
        // is then the same as with every cost whole.
        std::size_t best = candidates.size();
        const bool wide = isWide(look);
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            Candidate& c = candidates[i];
            if (best < candidates.size() && !cheaper(c, candidates[best])) break;
            if (wide && i == kTriesPerLook) break;  // the cheapest of the first few stands for the fan
            completeCost(c, look, best < candidates.size() ? candidates[best].Cost : std::numeric_limits<double>::infinity());
            if (c.Whole && (best == candidates.size() || cheaper(c, candidates[best]))) best = i;
        }
        if (best < candidates.size()) std::swap(candidates[0], candidates[best]);
        return members;
    }

    // Works out v's costs afresh and queues its cheapest collapse.
    void schedule(uint32_t v, Look& look)
    {
        ++version[v];
        stale[v] = 0;
        candidatesOf(v, true, look);
        evaluatedFan[v] = uint32_t(look.Fans[0].Fan.size());
        const std::vector<Candidate>& candidates = look.Candidates;
        if (!candidates.empty() && candidates[0].Whole) queue.push({candidates[0].Cost, v, candidates[0].Target, version[v]});
    }

    // A fan changed: small fans look again at once, large ones once enough
    // has changed or when their entry comes up.
    void fanChanged(uint32_t x, Look& look)
    {
        if (vertexDead[x]) return;
        ++stale[x];
        if (fans.Of(x).size() <= kEagerFan || stale[x] * 4 >= evaluatedFan[x]) schedule(x, look);
    }

    // Is there a live triangle with both a and b? Reads the smaller fan.
    bool edgeExists(uint32_t a, uint32_t b) const
    {
        const uint32_t by = fans.Of(a).size() <= fans.Of(b).size() ? a : b;
        const uint32_t other = by == a ? b : a;
        for (uint32_t t : fans.Of(by))
            if (live(t, by) && CornerOf(triangles[t], other) >= 0) return true;
        return false;
    }

    bool triangleExists(uint32_t a, uint32_t b, uint32_t c) const
    {
        uint32_t by = a;
        if (fans.Of(b).size() < fans.Of(by).size()) by = b;
        if (fans.Of(c).size() < fans.Of(by).size()) by = c;
        for (uint32_t t : fans.Of(by))
            if (!triangleRemoved[t] && CornerOf(triangles[t], a) >= 0 && CornerOf(triangles[t], b) >= 0 && CornerOf(triangles[t], c) >= 0)
                return true;
        return false;
    }

    // The rules that need the neighbours' fans and every frame: the collapse
    // joins no two fans apart from along the edge (link condition), makes no
    // triangle that already exists, and no triangle of v's fan turns over or
    // flattens in any frame. Reads only v's fan and, for each question, the
    // smallest fan that answers it: never the whole of a wide w.
    bool allowed(const FanScratch& s, uint32_t w) const
    {
        const uint32_t v = s.Vertex;
        const Neighbour* edge = NeighbourOf(s, w);
        assert(edge);
        for (const Neighbour& n : s.Neighbours) {
            if (n.Vertex == w || !edgeExists(n.Vertex, w)) continue;
            // A common neighbour is fine only as the third corner of a removed triangle.
            bool opposite = false;
            for (uint32_t e = 0; e < std::min<uint32_t>(edge->Triangles, 2); ++e)
                opposite = opposite || CornerOf(triangles[edge->Shared[e]], n.Vertex) >= 0;
            if (!opposite) return false;
        }
        const PackedPosition* pv = tables.RowOf(v);
        const PackedPosition* pw = tables.RowOf(w);
        for (uint32_t t : s.Fan) {
            const MeshTriangle& tri = triangles[t];
            if (CornerOf(tri, w) >= 0) continue;
            const int j = CornerOf(tri, v);
            const uint32_t a = tri.Vertex[std::size_t((j + 1) % 3)];
            const uint32_t b = tri.Vertex[std::size_t((j + 2) % 3)];
            if (triangleExists(w, a, b)) return false;
            const PackedPosition* pa = tables.RowOf(a);
            const PackedPosition* pb = tables.RowOf(b);
            // Triangle t as it came in: vertices never move, so its normal in
            // any frame is at hand. Checking against it too keeps small turns,
            // each allowed, from adding up to a triangle facing backwards.
            const PackedPosition* o0 = tables.RowOf(mesh.Triangles[t].Vertex[0]);
            const PackedPosition* o1 = tables.RowOf(mesh.Triangles[t].Vertex[1]);
            const PackedPosition* o2 = tables.RowOf(mesh.Triangles[t].Vertex[2]);
            for (uint32_t f = 0; f < frameCount; ++f) {
                // Differences of 16-bit coordinates through the frame's axis
                // scales into the unit box; the offset cancels, the angles are
                // the world's. The difference of two 16-bit coordinates is
                // exact in an int: one conversion each.
                const Vec3& scale = tables.UnitScale[f];
                const std::size_t at = std::size_t(f) * tables.FrameStride;
                const auto diff = [&](const PackedPosition* p, const PackedPosition* q) {
                    return Vec3{double(int(p[at][0]) - int(q[at][0])) * scale[0], double(int(p[at][1]) - int(q[at][1])) * scale[1],
                                double(int(p[at][2]) - int(q[at][2])) * scale[2]};
                };
                const auto ab = diff(pb, pa);
                const auto before = Cross(ab, diff(pv, pa));
                const double beforeLength2 = Dot(before, before);
                if (beforeLength2 == 0) continue;  // flat in this frame already: nothing to keep
                const auto after = Cross(ab, diff(pw, pa));
                const double agreement = Dot(before, after);
                if (agreement <= 0) return false;
                if (agreement * agreement < kMinNormalCosine * kMinNormalCosine * beforeLength2 * Dot(after, after)) return false;
                if (Dot(Cross(diff(o1, o0), diff(o2, o0)), after) < 0) return false;
            }
        }
        return true;
    }

    // allowed for v and for each twin that follows it.
    bool allowedAll(const Candidate& c, const Look& look) const
    {
        if (!allowed(look.Fans[0], c.Target)) return false;
        if (c.Members != kNone)
            for (uint32_t i = 1; i < look.Members; ++i)
                if (const uint32_t target = look.MemberTargets[c.Members + i - 1]; target != kNone && !allowed(look.Fans[i], target))
                    return false;
        return true;
    }

    // Takes the cheapest allowed collapse of v, or queues v again when a
    // cheaper collapse of another vertex may now come first. Costs are made
    // whole lazily, in order of their bounds, so that a wide fan works out
    // only the ones it needs.
    void tryCollapse(const Entry& entry, Look& look)
    {
        const uint32_t v = entry.Vertex;
        if (stale[v] > 0) {  // its fan changed since it was costed
            schedule(v, look);
            return;
        }
        // v's fan has not changed since it was queued (its version says so):
        // the queued target is still its cheapest, and only the rules that
        // need other fans and every frame are left to ask.
        if (readMembers(v, look) == 0) return;
        if (const Neighbour* edge = NeighbourOf(look.Fans[0], entry.Target)) {
            look.MemberTargets.clear();
            if (look.Errors.size() < tables.ErrorFrames.size()) look.Errors.resize(tables.ErrorFrames.size());
            Candidate queued;
            if (evaluate(*edge, look, queued, look.Errors.data()) && allowedAll(queued, look)) {
                perform(queued, look);
                return;
            }
        }
        candidatesOf(v, false, look);
        std::vector<Candidate>& candidates = look.Candidates;
        const bool wide = isWide(look);
        uint32_t tries = 0;
        uint32_t completed = 0;
        const auto dearer = [](const Candidate& a, const Candidate& b) { return cheaper(b, a); };
        std::make_heap(candidates.begin(), candidates.end(), dearer);
        while (!candidates.empty()) {
            std::pop_heap(candidates.begin(), candidates.end(), dearer);
            Candidate& c = candidates.back();
            if (!c.Whole) {
                if (wide && ++completed > kTriesPerLook) break;
                completeCost(c, look, std::numeric_limits<double>::infinity());
                std::push_heap(candidates.begin(), candidates.end(), dearer);
                continue;
            }
            if (!queue.empty() && c.Cost > queue.top().Cost) {
                queue.push({c.Cost, v, c.Target, version[v]});
                return;
            }
            if (allowedAll(c, look)) {
                perform(c, look);
                return;
            }
            candidates.pop_back();
            if (wide && ++tries == kTriesPerLook) break;
        }
        // Nothing allowed: v waits until its fan changes enough, or the next look at every vertex.
    }

    // Collapses v (and the twins that follow it) as c says, then looks
    // again at every vertex whose fan changed. c is a copy: those looks
    // overwrite look's candidates.
    void perform(const Candidate c, Look& look)
    {
        // Crossing seams from the start is the way asked for, not a rule given up.
        relaxationsUsed |= c.Needs & ~(seamsFromStart ? uint32_t(kRelaxSeams) : 0u);
        ++collapses;
        std::vector<uint32_t> touched = std::move(look.Touched);  // its room, handed back below
        touched.clear();
        collapseOne(look.Fans[0], c.Target, look.Plan, look.Slots, touched);
        if (c.Members != kNone)
            for (uint32_t i = 1; i < look.Members; ++i)
                if (const uint32_t target = look.MemberTargets[c.Members + i - 1]; target != kNone)
                    collapseOne(look.Fans[i], target, look.Plan, look.Slots, touched);
        std::sort(touched.begin(), touched.end());
        touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
        // The sides of a split seam cost together: a change on one side changes the other's costs.
        const std::size_t direct = touched.size();
        for (std::size_t i = 0; i < direct; ++i)
            if (surface.Seams.GroupOf[touched[i]] != kNone)
                for (uint32_t twin : surface.Seams.Of(surface.Seams.GroupOf[touched[i]]))
                    if (twin != touched[i]) touched.push_back(twin);
        std::sort(touched.begin(), touched.end());
        touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
        for (uint32_t x : touched) fanChanged(x, look);
        look.Touched = std::move(touched);
    }

    // Takes s's vertex v to w: v's triangles on the edge go, the others
    // take w in v's corner and the side planned for it; w gathers v's
    // quadrics. The vertices whose fans changed are added to touched.
    void collapseOne(const FanScratch& s, uint32_t w, SidePlan& plan, SlotTables& slots, std::vector<uint32_t>& touched)
    {
        const uint32_t v = s.Vertex;
        planSides(s, w, *NeighbourOf(s, w), plan);
        for (std::size_t i = 0; i < s.Sides.size(); ++i) slots.OfWedge[s.Sides[i]] = uint32_t(i);
        for (const Neighbour& n : s.Neighbours) touched.push_back(n.Vertex);
        for (uint32_t t : s.Fan) {
            MeshTriangle& tri = triangles[t];
            if (CornerOf(tri, w) >= 0) {
                triangleRemoved[t] = 1;
                --liveTriangles;
                --pieces.Triangles[pieces.Of[v]];
                continue;
            }
            const auto j = std::size_t(CornerOf(tri, v));
            const uint32_t target = plan.Targets[slots.OfWedge[surface.CornerWedge[3 * std::size_t(t) + j]]];
            tri.Vertex[j] = w;  // in v's place: the winding stays
            tri.TexCoord[j] = surface.Wedges[target].TexCoord;
            surface.CornerWedge[3 * std::size_t(t) + j] = target;
            fans.AppendPruning(w, t, [&](uint32_t u) { return live(u, w); });
        }
        for (std::size_t i = 0; i < s.Sides.size(); ++i) {
            slots.OfWedge[s.Sides[i]] = kNone;
            surface.TextureQuadrics[plan.Targets[i]].Add(surface.TextureQuadrics[s.Sides[i]]);
        }
        for (std::size_t k = 0; k < tables.ErrorFrames.size(); ++k) quadricOf(w, k).Add(quadricOf(v, k));
        if (s.BorderEdges > 0) surface.OnBorder[w] = 1;
        vertexDead[v] = 1;
    }

    const AnimatedMesh& mesh;
    const uint32_t vertexCount;
    const uint32_t frameCount;
    std::vector<MeshTriangle> triangles;  // the view's, changed in place by the collapses
    const bool vertexOwned;               // texture coordinates belong to vertices
    const bool seamsFromStart;            // seams may be crossed, at their texture cost, from the first collapse
    const bool bordersFromStart;          // open borders may move off their line from the first collapse
    const double newFanWeight;            // see QuadricOptions::NewFanWeight
    FanIndex fans;
    std::vector<uint8_t> triangleRemoved;
    std::vector<uint8_t> vertexDead;
    std::vector<uint32_t> version;        // bumped whenever a vertex's costs are worked out again
    std::vector<uint32_t> stale;          // fan changes since its costs were worked out
    std::vector<uint32_t> evaluatedFan;   // its fan's size then
    int64_t liveTriangles = 0;
    QuadricWaypoint pendingWaypoint;  // not passed yet
    int level = 0;
    bool thorough = false;  // wide fans try every target
    uint32_t relaxationsUsed = kRelaxNone;
    uint64_t collapses = 0;

    const FrameTables& tables;  // built once, before the first collapse
    SurfaceQuadrics surface;    // built again at each fresh start
    SurfacePieces pieces;       // found once: a collapse joins no pieces

    std::priority_queue<Entry> queue;
};

}  // namespace

uint32_t CollapseToBudget(const AnimatedMesh& view, const FrameTables& tables, int64_t target, const QuadricOptions& options,
                          const std::function<void(double)>& progress, const QuadricWaypoint& waypoint,
                          MeshSurvivors& survivors)
{
    Collapser collapser(view, tables, options);
    collapser.Run(target, progress, waypoint);
    collapser.Survivors(survivors);
    return collapser.Relaxations();
}
