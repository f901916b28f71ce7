#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <numeric>
#include <set>
#include <utility>

#include "model/formats/MDL5.h"
#include "model/AnimatedMesh.h"
#include "model/Geometry.h"
#include "model/MDLClass.h"
#include "reduce/Quadric.h"
#include "tests/support/AnimatedModels.h"
#include "tests/support/ModelBuilder.h"

namespace {

TMDLModel reducedTo(const TMDLModel& model, double ratio, QuadricResult* result = nullptr, int64_t* target = nullptr,
                    const QuadricOptions& options = {})
{
    TMDLModel copy = model;
    const auto budget = int64_t(std::floor(ratio * model.Header.NumTris));
    const QuadricResult outcome = ReduceQuadric(copy, budget, nullptr, options);
    if (result) *result = outcome;
    if (target) *target = budget;
    return copy;
}

bool sameVertex(const TMDLModel& a, std::size_t va, const TMDLModel& b, std::size_t vb)
{
    for (std::size_t f = 0; f < a.Frames.size(); ++f)
        if (std::memcmp(&a.Frames[f].Items[va], &b.Frames[f].Items[vb], sizeof(FrameVert)) != 0) return false;
    return true;
}

// For each vertex of reduced, the vertex of original it is, matched in order
// in every frame; empty when reduced is not such a subset. The same for skin
// vertices in skins.
std::vector<uint32_t> subsetMap(const TMDLModel& original, const TMDLModel& reduced, std::vector<uint32_t>& skins)
{
    std::vector<uint32_t> map;
    std::size_t next = 0;
    for (std::size_t v = 0; v < reduced.Frames[0].Items.size(); ++v) {
        while (next < original.Frames[0].Items.size() && !sameVertex(original, next, reduced, v)) ++next;
        if (next == original.Frames[0].Items.size()) return {};
        map.push_back(uint32_t(next++));
    }
    skins.clear();
    next = 0;
    for (const SkinVert& skin : reduced.SkinVerts.Items) {
        const auto& from = original.SkinVerts.Items;
        while (next < from.size() && (from[next].U != skin.U || from[next].V != skin.V)) ++next;
        if (next == from.size()) return {};
        skins.push_back(uint32_t(next++));
    }
    return map;
}

using Point = std::array<double, 3>;
Point normalOf(const TMDLModel& model, const MDLTriangle& tri, int frame)
{
    const PositionTransform transform = PositionTransformOf(model.Header);
    const auto& pose = model.Frames[std::size_t(frame)].Items;
    const WorldPoint a = transform.Apply(pose[tri.VertIndex[0]]);
    const WorldPoint b = transform.Apply(pose[tri.VertIndex[1]]);
    const WorldPoint c = transform.Apply(pose[tri.VertIndex[2]]);
    const Point ab{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const Point ac{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    return {ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2], ab[0] * ac[1] - ab[1] * ac[0]};
}

// The vertices of model on an edge that one triangle alone uses.
std::set<uint32_t> borderVertices(const TMDLModel& model)
{
    std::map<std::pair<uint32_t, uint32_t>, int> uses;
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (std::size_t j = 0; j < 3; ++j) {
            const uint32_t a = tri.VertIndex[j], b = tri.VertIndex[(j + 1) % 3];
            if (a != b) ++uses[{std::min(a, b), std::max(a, b)}];
        }
    std::set<uint32_t> border;
    for (const auto& [edge, count] : uses)
        if (count == 1) border.insert({edge.first, edge.second});
    return border;
}

// Everything a reduction must keep, for a model of clean surfaces: a subset of
// the input with its frame heads and skins, the budget met to within two
// triangles or a reason, every corner with a skin vertex its vertex had, no
// triangle twice, and in every frame no triangle flat or facing against the
// input surface around its corners (a test that means something only while
// triangles are small against the curvature: checkFacing).
void expectSound(const TMDLModel& original, const TMDLModel& reduced, const QuadricResult& result, int64_t target,
                 bool cleanSurface, bool checkFacing, const std::string& what)
{
    ASSERT_TRUE(IsConsistent(reduced)) << what;
    if (original.Frames.empty()) {  // triangles without vertices: nothing to collapse
        EXPECT_EQ(reduced.Triangles.Count, original.Triangles.Count) << what;
        return;
    }
    std::vector<uint32_t> skinMap;
    const std::vector<uint32_t> vertexMap = subsetMap(original, reduced, skinMap);
    ASSERT_FALSE(vertexMap.empty() && !reduced.Frames[0].Items.empty()) << what << ": not a subset of the input";
    ASSERT_EQ(reduced.Frames.size(), original.Frames.size()) << what;
    for (std::size_t f = 0; f < original.Frames.size(); ++f) {
        EXPECT_EQ(reduced.Frames[f].Name, original.Frames[f].Name) << what;
        EXPECT_EQ(std::memcmp(&reduced.Frames[f].BBoxMin, &original.Frames[f].BBoxMin, sizeof(FrameVert)), 0) << what;
    }
    EXPECT_EQ(reduced.Skins.size(), original.Skins.size()) << what;
    // A vertex the input's triangles used and the output's do not has gone.
    std::vector<uint8_t> usedBefore(original.Frames[0].Items.size(), 0), usedAfter(reduced.Frames[0].Items.size(), 0);
    for (const MDLTriangle& tri : original.Triangles.Items)
        for (uint32_t v : tri.VertIndex) usedBefore[v] = 1;
    for (const MDLTriangle& tri : reduced.Triangles.Items)
        for (uint32_t v : tri.VertIndex) usedAfter[v] = 1;
    for (std::size_t v = 0; v < usedAfter.size(); ++v) EXPECT_TRUE(usedAfter[v] || !usedBefore[vertexMap[v]]) << what << ": vertex " << v << " kept unused";
    EXPECT_EQ(result.TrianglesAfter, reduced.Header.NumTris) << what;
    if (result.BudgetMet) {
        EXPECT_LE(reduced.Header.NumTris, target) << what;
        EXPECT_GE(reduced.Header.NumTris, target - 2) << what;
    } else {
        EXPECT_GT(reduced.Header.NumTris, target) << what;
        EXPECT_FALSE(result.StoppedBecause.empty()) << what;
    }

    // Skin vertices are told apart by their texels: equal ones are interchangeable.
    const auto texel = [](const TMDLModel& model, uint32_t s) {
        return uint32_t(model.SkinVerts.Items[s].U) << 16 | model.SkinVerts.Items[s].V;
    };
    std::set<std::pair<uint32_t, uint32_t>> inputCorners;
    for (const MDLTriangle& tri : original.Triangles.Items)
        for (int j = 0; j < 3; ++j) inputCorners.insert({tri.VertIndex[std::size_t(j)], texel(original, tri.SkinIndex[std::size_t(j)])});
    for (const MDLTriangle& tri : reduced.Triangles.Items)
        for (int j = 0; j < 3; ++j)
            EXPECT_TRUE(inputCorners.count({vertexMap[tri.VertIndex[std::size_t(j)]], texel(reduced, tri.SkinIndex[std::size_t(j)])}))
                << what << ": a corner took a skin vertex its vertex never had";
    // No piece of surface goes whole: vertices are joined by triangles, and
    // by a place they share in every frame (the two faces of a wing, the two
    // sides of a seam, which may close over an island between them).
    std::vector<uint32_t> piece(usedBefore.size());
    std::iota(piece.begin(), piece.end(), 0u);
    const std::function<uint32_t(uint32_t)> root = [&](uint32_t v) { return piece[v] == v ? v : piece[v] = root(piece[v]); };
    for (const MDLTriangle& tri : original.Triangles.Items)
        for (int j = 0; j < 2; ++j) piece[root(tri.VertIndex[std::size_t(j)])] = root(tri.VertIndex[std::size_t(j) + 1]);
    std::map<std::vector<uint16_t>, uint32_t> places;
    for (uint32_t v = 0; v < piece.size(); ++v) {
        std::vector<uint16_t> place;
        for (const TMDLFrame& frame : original.Frames) place.insert(place.end(), {frame.Items[v].X, frame.Items[v].Y, frame.Items[v].Z});
        if (const auto [at, fresh] = places.try_emplace(place, v); !fresh) piece[root(v)] = root(at->second);
    }
    std::set<uint32_t> piecesBefore, piecesAfter;
    for (const MDLTriangle& tri : original.Triangles.Items) piecesBefore.insert(root(tri.VertIndex[0]));
    for (const MDLTriangle& tri : reduced.Triangles.Items) piecesAfter.insert(root(vertexMap[tri.VertIndex[0]]));
    EXPECT_EQ(piecesAfter.size(), piecesBefore.size()) << what << ": a piece of surface went whole";
    if (!cleanSurface) return;

    std::set<std::array<uint32_t, 3>> seen;
    for (const MDLTriangle& tri : reduced.Triangles.Items) {
        std::array<uint32_t, 3> corners = tri.VertIndex;
        std::sort(corners.begin(), corners.end());
        EXPECT_TRUE(seen.insert(corners).second) << what << ": a triangle twice";
    }
    for (int f = 0; f < int(original.Frames.size()); ++f) {
        for (const MDLTriangle& tri : reduced.Triangles.Items) {
            const Point n = normalOf(reduced, tri, f);
            EXPECT_GT(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 0.0) << what << ": a triangle flat in frame " << f;
        }
        if (!checkFacing) continue;
        std::vector<Point> inputNormals(original.Frames[0].Items.size(), Point{0, 0, 0});
        for (const MDLTriangle& tri : original.Triangles.Items) {
            const Point n = normalOf(original, tri, f);
            for (uint32_t v : tri.VertIndex)
                for (int a = 0; a < 3; ++a) inputNormals[v][std::size_t(a)] += n[std::size_t(a)];
        }
        for (const MDLTriangle& tri : reduced.Triangles.Items) {
            const Point n = normalOf(reduced, tri, f);
            Point around{0, 0, 0};
            for (uint32_t v : tri.VertIndex)
                for (std::size_t a = 0; a < 3; ++a) around[a] += inputNormals[vertexMap[v]][a];
            const double cosine = (n[0] * around[0] + n[1] * around[1] + n[2] * around[2]) /
                                  std::sqrt((n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) * (around[0] * around[0] + around[1] * around[1] + around[2] * around[2]));
            // A turned-over triangle faces about opposite; a coarse one across a
            // bend may lean past a right angle to its corners' normals.
            EXPECT_GT(cosine, -0.5) << what << ": a triangle turned over in frame " << f;
        }
    }
}

struct Sample {
    std::string Name;
    TMDLModel Model;
    bool CleanSurface;
};

std::vector<Sample> samples()
{
    std::vector<Sample> list;
    list.push_back({"bending tube", MakeBendingTube(14, 8, 4), true});
    list.push_back({"walker", MakeWalker(12), true});
    list.push_back({"touching parts", MakeTouchingParts(7, 3), true});
    list.push_back({"waving disc", MakeWavingDisc(5, 14, 6), true});
    TMDLModel torus = MakeTorus(12, 9, 3);
    SetPositionTransform(torus, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f});  // the builder's scales each axis differently
    list.push_back({"torus", std::move(torus), true});
    list.push_back({"octahedron", MakeOctahedron(), true});
    for (uint32_t seed = 1; seed <= 40; ++seed) list.push_back({"random " + std::to_string(seed), MakeRandomModel(seed), false});
    return list;
}

TEST(ReduceQuadric, KeepsEveryRuleAtEveryBudget)
{
    // Errors from frame 0 alone leave the flip checks of the other frames to
    // keep the animation whole: the rules must hold whatever the errors.
    QuadricOptions frameZeroErrors;
    frameZeroErrors.ErrorFrames = 1;
    frameZeroErrors.EveryFrameUpTo = 0;
    for (const Sample& sample : samples()) {
        for (double ratio : {0.75, 0.5, 0.25, 0.02}) {
            for (const QuadricOptions& options : {QuadricOptions{}, frameZeroErrors}) {
                QuadricResult result;
                int64_t target = 0;
                const TMDLModel reduced = reducedTo(sample.Model, ratio, &result, &target, options);
                // The clean surfaces always have collapses left at these budgets.
                EXPECT_TRUE(result.BudgetMet || !sample.CleanSurface || ratio < 0.5) << sample.Name << " at " << ratio;
                // Facing is a fair test only while triangles stay small against
                // the bends; with frame 0's errors alone, less far.
                const double facingFrom = options.ErrorFrames == 1 ? 0.5 : 0.25;
                const std::string what = sample.Name + " at " + std::to_string(ratio) + " with " + std::to_string(options.ErrorFrames) + " error frames";
                expectSound(sample.Model, reduced, result, target, sample.CleanSurface, ratio >= facingFrom && sample.Name != "octahedron", what);
                // The shapes reach these budgets under the strict rules (the
                // random models that relax at 0.75 stopped short without).
                if (sample.CleanSurface && ratio >= 0.25) {
                    EXPECT_EQ(result.Relaxations, kRelaxNone) << what;
                }
            }
        }
    }
}

TEST(ReduceQuadric, BendingTubeKeepsItsBend)
{
    // Straight in frame 0, bent by 90 degrees in the last: a method that looks
    // at frame 0 alone sees the middle rings in a straight line and takes them.
    const TMDLModel tube = MakeBendingTube(16, 8, 3);
    const TMDLModel reduced = reducedTo(tube, 0.25);
    const double limit = 0.06;  // the tube is 2 long, 0.3 thick
    EXPECT_LT(MaxVertexDistance(tube, reduced, 2), limit);

    // Still in fifteen frames and bent in one: weighed by the mean alone, the
    // one pose counts a sixteenth and is smeared (0.062 against 0.044).
    TMDLModel bentOnce = MakeBendingTube(16, 8, 2);
    const TMDLFrame still = bentOnce.Frames[0];
    bentOnce.Frames.insert(bentOnce.Frames.begin(), 14, still);
    bentOnce.Header.NumFrames = 16;
    EXPECT_LT(MaxVertexDistance(bentOnce, reducedTo(bentOnce, 0.2), 15), 0.053);

    // The same reduction decided on frame 0 alone, then shown in the bent
    // frame, leaves the bend far off: the limit above tells the two apart.
    TMDLModel straight = tube;
    for (TMDLFrame& frame : straight.Frames) frame.Items = tube.Frames[0].Items;
    TMDLModel decidedOnFrameZero = reducedTo(straight, 0.25);
    std::vector<uint32_t> skins;
    const std::vector<uint32_t> kept = subsetMap(straight, decidedOnFrameZero, skins);
    ASSERT_FALSE(kept.empty());
    for (std::size_t k = 0; k < kept.size(); ++k) decidedOnFrameZero.Frames[2].Items[k] = tube.Frames[2].Items[kept[k]];
    EXPECT_GT(MaxVertexDistance(tube, decidedOnFrameZero, 2), 3 * limit);
}

TEST(ReduceQuadric, AWalkAcrossTheSceneLeavesTheBendWeighed)
{
    // Straight in frame 0, carried ever further along x in the next eighteen
    // frames (up to 13 lengths away), bent in the last: where only some frames
    // are weighed, the walk must not crowd the bend out of them.
    const TMDLModel tube = MakeBendingTube(16, 8, 2);
    TMDLModel walked = tube;
    walked.Frames.assign(20, tube.Frames[0]);
    walked.Frames[19] = tube.Frames[1];
    walked.Header.NumFrames = 20;
    for (int f = 0; f < 20; ++f)
        for (FrameVert& vert : walked.Frames[std::size_t(f)].Items)
            vert = Vert(uint16_t(vert.X / 16 + (f < 19 ? f * 3000 : 0)), uint16_t(vert.Y / 16), uint16_t(vert.Z / 16), vert.NormalIndex);
    const PositionTransform packed = PositionTransformOf(tube.Header);
    SetPositionTransform(walked, {packed.Scale[0] * 16, packed.Scale[1] * 16, packed.Scale[2] * 16}, packed.Offset);
    const QuadricOptions someFrames{.EveryFrameUpTo = 0};
    EXPECT_LT(MaxVertexDistance(walked, reducedTo(walked, 0.25, nullptr, nullptr, someFrames), 19), 0.06);
    // The weighed frames read the same from either layout of the view.
    MeshSurvivors byVertex, byFrame;
    ReduceQuadric(MeshOf(walked, {.VertexMajor = true, .Normals = false, .Skin = false}), 60, byVertex, nullptr, someFrames);
    ReduceQuadric(MeshOf(walked, {.VertexMajor = false, .Normals = false, .Skin = false}), 60, byFrame, nullptr, someFrames);
    EXPECT_EQ(byVertex.Vertices, byFrame.Vertices);
}

TEST(ReduceQuadric, PartsThatTouchInOneFrameStayApart)
{
    const int side = 9;
    const TMDLModel parts = MakeTouchingParts(side, 3);
    std::vector<uint32_t> skins;
    const TMDLModel reduced = reducedTo(parts, 0.2);
    const std::vector<uint32_t> kept = subsetMap(parts, reduced, skins);
    const auto firstPart = [&](uint32_t v) { return kept[v] < uint32_t(side * side); };
    for (const MDLTriangle& tri : reduced.Triangles.Items)
        EXPECT_TRUE(firstPart(tri.VertIndex[0]) == firstPart(tri.VertIndex[1]) && firstPart(tri.VertIndex[0]) == firstPart(tri.VertIndex[2]));
    for (int f = 0; f < 3; ++f) EXPECT_LT(MaxVertexDistance(parts, reduced, f), 0.03) << "frame " << f;
}

TEST(ReduceQuadric, SeamCornersKeepTheirSideOfTheTexture)
{
    // The tubes' skins wrap once around: a triangle spanning more than half the
    // 256-texel width has taken texels from across the seam.
    for (const TMDLModel& model : {MakeBendingTube(14, 8, 3), MakeWalker(8)}) {
        const TMDLModel reduced = reducedTo(model, 0.25);
        for (const MDLTriangle& tri : reduced.Triangles.Items) {
            int low = 65535, high = 0;
            for (uint32_t s : tri.SkinIndex) {
                low = std::min<int>(low, reduced.SkinVerts.Items[s].U);
                high = std::max<int>(high, reduced.SkinVerts.Items[s].U);
            }
            EXPECT_LT(high - low, 128);
        }
    }
}

TEST(ReduceQuadric, BorderKeepsItsOutline)
{
    const int rings = 6, sectors = 24;
    const TMDLModel disc = MakeWavingDisc(rings, sectors, 4);
    const TMDLModel reduced = reducedTo(disc, 0.3);
    std::vector<uint32_t> skins;
    const std::vector<uint32_t> kept = subsetMap(disc, reduced, skins);
    // Every edge of the outline joins two vertices of the outer ring, and the
    // outer ring keeps enough of them to stay round.
    std::map<std::pair<uint32_t, uint32_t>, int> edges;
    for (const MDLTriangle& tri : reduced.Triangles.Items)
        for (int j = 0; j < 3; ++j) {
            const uint32_t a = tri.VertIndex[std::size_t(j)], b = tri.VertIndex[std::size_t((j + 1) % 3)];
            ++edges[{std::min(a, b), std::max(a, b)}];
        }
    const uint32_t firstOuter = 1 + uint32_t((rings - 1) * sectors);
    int outline = 0;
    for (const auto& [edge, uses] : edges) {
        if (uses != 1) continue;
        ++outline;
        EXPECT_GE(kept[edge.first], firstOuter);
        EXPECT_GE(kept[edge.second], firstOuter);
    }
    EXPECT_GE(outline, sectors / 2);
    for (int f = 0; f < 4; ++f) EXPECT_LT(MaxVertexDistance(disc, reduced, f), 0.05) << "frame " << f;

    // Over the random models, at half their triangles where that is reached
    // without moving a border: every border vertex of an output was one of its input.
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const TMDLModel model = MakeRandomModel(seed);
        QuadricResult result;
        const TMDLModel half = reducedTo(model, 0.5, &result);
        if (model.Frames.empty() || !result.BudgetMet || (result.Relaxations & kRelaxBorders)) continue;
        const std::vector<uint32_t> map = subsetMap(model, half, skins);
        const std::set<uint32_t> inputBorder = borderVertices(model);
        for (uint32_t v : borderVertices(half)) EXPECT_TRUE(inputBorder.count(map[v])) << "random " << seed << ", vertex " << map[v];
    }
}

// A sheet of rows x (2 half + 1) vertices, x from -half to half, whose right
// half folds about the line x = 0 in frame 1. Its texture is two charts, the
// left half's and the right half's, meeting along x = 0: as one vertex per
// point with two texture coordinates (an attribute seam), or, split, as two
// vertices at each point (as exporters write seams). wiggle moves the right
// chart's seam texels sideways on every other row: a seam that bends in the
// texture. Coordinates may instead belong to vertices (vertexOwned), a
// triangle facing back taking the vertex's second; parts label the halves.
AnimatedMesh foldingSheet(int rows, int half, bool split, float wiggle, bool vertexOwned = false, bool parts = false, int splitRows = 1 << 30)
{
    AnimatedMesh mesh;
    mesh.FrameCount = 2;
    mesh.VertexMajor = true;
    mesh.Transforms.assign(2, FrameTransform{{1e-4f, 1e-4f, 1e-4f}, {-2.0f, -2.0f, -2.0f}});
    mesh.FrameNames = {"flat", "folded"};
    mesh.SkinWidth = mesh.SkinHeight = 256;
    std::vector<std::array<double, 3>> points;  // frame 0
    std::vector<int> sideOf;                    // -1 left, 1 right, 0 on the seam
    std::map<std::pair<int, int>, uint32_t> left, right;
    for (int r = 0; r < rows; ++r)
        for (int c = -half; c <= half; ++c)
            for (int copy = 0; copy < (c == 0 && split && r < splitRows ? 2 : 1); ++copy) {
                const auto v = uint32_t(points.size());
                const bool splitHere = split && r < splitRows;
                points.push_back({double(c) / half, double(r) / (rows - 1) * 2 - 1, 0});
                sideOf.push_back(c < 0 || (c == 0 && splitHere && copy == 0) ? -1 : c > 0 || splitHere ? 1 : 0);
                if (c <= 0 && copy == 0) left[{r, c}] = v;
                if (c > 0 || (c == 0 && (copy == 1 || !splitHere))) right[{r, c}] = v;
            }
    mesh.VertexCount = uint32_t(points.size());
    for (uint32_t v = 0; v < mesh.VertexCount; ++v)
        for (int f = 0; f < 2; ++f) {
            std::array<double, 3> p = points[v];
            if (f == 1 && p[0] > 0) p = {p[0] * std::cos(0.8), p[1], p[0] * std::sin(0.8)};
            mesh.Positions.push_back({uint16_t(std::lround((p[0] + 2) * 1e4)), uint16_t(std::lround((p[1] + 2) * 1e4)), uint16_t(std::lround((p[2] + 2) * 1e4))});
        }
    // One chart per half; the right one lies elsewhere in the skin.
    const auto texel = [&](int r, int c, bool rightChart) {
        const float v = float(r) / float(rows - 1) * 120;
        if (!rightChart) return std::array<float, 2>{float(c + half) / float(half) * 60, v};
        return std::array<float, 2>{130 + float(c) / float(half) * 60 + (c == 0 && r % 2 ? wiggle : 0), v + 130};
    };
    const auto texOf = [&](int r, int c, bool rightChart) {
        mesh.TexCoords.push_back(texel(r, c, rightChart));
        return uint32_t(mesh.TexCoords.size() - 1);
    };
    std::map<std::pair<int, int>, uint32_t> leftTex, rightTex;
    for (int r = 0; r < rows; ++r)
        for (int c = -half; c <= half; ++c) {
            if (c <= 0) leftTex[{r, c}] = texOf(r, c, false);
            if (c >= 0) rightTex[{r, c}] = texOf(r, c, true);
        }
    for (int r = 0; r + 1 < rows; ++r)
        for (int c = -half; c < half; ++c) {
            auto& vs = c < 0 ? left : right;
            auto& ts = c < 0 ? leftTex : rightTex;
            const auto corner = [&](int dr, int dc) { return std::pair{vs[{r + dr, c + dc}], ts[{r + dr, c + dc}]}; };
            for (const auto& tri : {std::array{corner(0, 0), corner(1, 1), corner(0, 1)}, std::array{corner(0, 0), corner(1, 0), corner(1, 1)}})
                mesh.Triangles.push_back({{tri[0].first, tri[1].first, tri[2].first}, {tri[0].second, tri[1].second, tri[2].second}});
        }
    if (vertexOwned) {
        // Each vertex's own coordinate, and a second one for back-facing triangles.
        mesh.VertexTexCoords.assign(mesh.VertexCount, {0, 0});
        for (const MeshTriangle& tri : mesh.Triangles)
            for (int j = 0; j < 3; ++j) mesh.VertexTexCoords[tri.Vertex[std::size_t(j)]][0] = tri.TexCoord[std::size_t(j)];
        for (auto& own : mesh.VertexTexCoords) {
            mesh.TexCoords.push_back({mesh.TexCoords[own[0]][0] + 1, mesh.TexCoords[own[0]][1]});
            own[1] = uint32_t(mesh.TexCoords.size() - 1);
        }
        for (std::size_t t = 0; t < mesh.Triangles.size(); ++t) {
            mesh.TriangleBack.push_back(uint8_t(t % 3 == 0));
            for (int j = 0; j < 3; ++j) {
                const uint32_t v = mesh.Triangles[t].Vertex[std::size_t(j)];
                mesh.Triangles[t].TexCoord[std::size_t(j)] = mesh.VertexTexCoords[v][mesh.TriangleBack[t]];
            }
        }
    }
    if (parts)
        for (uint32_t v = 0; v < mesh.VertexCount; ++v) mesh.VertexPart.push_back(sideOf[v] < 0 ? 0 : 1);
    return mesh;
}

// The seam edges (both ends at x = 0) of one side of the output, as pairs of
// packed positions in frame f.
std::set<std::pair<PackedPosition, PackedPosition>> seamEdges(const AnimatedMesh& mesh, const MeshSurvivors& kept, bool rightSide, uint32_t f)
{
    std::set<std::pair<PackedPosition, PackedPosition>> edges;
    const auto at = [&](uint32_t k) { return mesh.Positions[mesh.At(kept.Vertices[k], f)]; };
    const auto onSeam = [&](uint32_t k) { return mesh.Positions[mesh.At(kept.Vertices[k], 0)][0] == 20000; };
    for (const MeshTriangle& tri : kept.Triangles) {
        const bool right = std::any_of(tri.Vertex.begin(), tri.Vertex.end(), [&](uint32_t k) { return mesh.Positions[mesh.At(kept.Vertices[k], 0)][0] > 20000; });
        if (right != rightSide) continue;
        for (int j = 0; j < 3; ++j) {
            const uint32_t a = tri.Vertex[std::size_t(j)], b = tri.Vertex[std::size_t((j + 1) % 3)];
            if (onSeam(a) && onSeam(b)) edges.insert(std::minmax(at(a), at(b)));
        }
    }
    return edges;
}

TEST(ReduceQuadric, SeamsGoWhereTheTextureAllowsAndSplitSeamsStayClosed)
{
    // Before, a split seam was two borders, each kept on its line by its
    // border planes and neither shortened with the other: the seam stayed
    // whole. Now a seam straight in the texture shortens with both sides
    // together; one that zigzags in the texture keeps its vertices. Open
    // borders free to move from the start leave a split seam closed too.
    const int rows = 9;
    for (const auto& [split, bordersFree] : {std::pair{true, false}, {true, true}, {false, false}, {false, true}}) {
        std::map<float, std::size_t> seamEdgesLeft;
        for (const float wiggle : {0.0f, 12.0f}) {
            const AnimatedMesh mesh = foldingSheet(rows, 3, split, wiggle);
            MeshSurvivors kept;
            const auto budget = int64_t(mesh.Triangles.size() * 3 / 10);
            const QuadricResult result = ReduceQuadric(mesh, budget, kept, nullptr, {.MoveBordersFromStart = bordersFree});
            const std::string what = std::string(split ? "split" : "attribute") + " seam, wiggle " + std::to_string(wiggle) +
                                     (bordersFree ? ", borders free" : "");
            EXPECT_TRUE(result.BudgetMet) << what;
            EXPECT_EQ(result.Relaxations, kRelaxNone) << what;
            for (uint32_t f = 0; f < 2; ++f) EXPECT_EQ(seamEdges(mesh, kept, false, f), seamEdges(mesh, kept, true, f)) << what << ", frame " << f;
            seamEdgesLeft[wiggle] = seamEdges(mesh, kept, false, 0).size();
        }
        EXPECT_LT(seamEdgesLeft[0.0f], std::size_t(rows - 1)) << split << bordersFree;
        EXPECT_EQ(seamEdgesLeft[12.0f], std::size_t(rows - 1)) << split << bordersFree;
    }
}

TEST(ReduceQuadric, WhereASplitSeamEndsTheSurfaceMayCloseWithoutRelaxingARule)
{
    // The seam is split in its lower rows only: its end is no outline, so it
    // may go inward at the texture's cost. Held to the border rule it stayed,
    // and with it the seam's length in both halves.
    const int rows = 9;
    const AnimatedMesh mesh = foldingSheet(rows, 3, true, 0.0f, false, false, 5);
    MeshSurvivors kept;
    const QuadricResult result = ReduceQuadric(mesh, int64_t(mesh.Triangles.size() / 5), kept);
    EXPECT_TRUE(result.BudgetMet);
    EXPECT_EQ(result.Relaxations, kRelaxNone);
    const auto slitEnd = PackedPosition{20000, uint16_t(std::lround((5.0 / (rows - 1) * 2 + 1) * 1e4)), 20000};
    EXPECT_TRUE(std::none_of(kept.Vertices.begin(), kept.Vertices.end(), [&](uint32_t v) { return mesh.Positions[mesh.At(v, 0)] == slitEnd; }));
}

TEST(ReduceQuadric, KeepsTheViewsPartsAndVertexTextureCoordinates)
{
    // Every corner that moved went to a vertex of its own part, and where
    // coordinates belong to vertices it took its new vertex's own for its facing.
    const AnimatedMesh mesh = foldingSheet(7, 3, false, 0.0f, true, true);
    ASSERT_TRUE(mesh.IsConsistent());
    MeshSurvivors kept;
    ReduceQuadric(mesh, int64_t(mesh.Triangles.size() / 4), kept);
    ASSERT_LT(kept.Triangles.size(), mesh.Triangles.size() / 2);
    for (std::size_t i = 0; i < kept.Triangles.size(); ++i) {
        const uint32_t t = kept.TriangleSource[i];
        for (std::size_t j = 0; j < 3; ++j) {
            const uint32_t v = kept.Vertices[kept.Triangles[i].Vertex[j]];
            EXPECT_EQ(mesh.VertexPart[v], mesh.VertexPart[mesh.Triangles[t].Vertex[j]]);
            EXPECT_EQ(kept.TexCoords[kept.Triangles[i].TexCoord[j]], mesh.VertexTexCoords[v][mesh.TriangleBack[t]]);
        }
    }
}

TEST(ReduceQuadric, ReachesAtLeastWhatAChainOfLevelsReaches)
{
    // A collapse refused early may be allowed once its neighbours changed:
    // these stopped well above 17 before, where a chain got further.
    TMDLModel model = MakeRandomModel(15);
    QuadricResult result = ReduceQuadric(model, 17);
    EXPECT_TRUE(result.BudgetMet);
    EXPECT_FALSE(result.RelaxedRules.empty());
    // Greedy paths differ: a chain still ends lower on two models (seed 25:
    // 20 against 15; seed 13: 12 against 6, since the new fan weighs more),
    // known gaps, on none other.
    int behind = 0;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const TMDLModel original = MakeRandomModel(seed);
        const auto share = [&](double ratio) { return int64_t(std::floor(ratio * original.Header.NumTris)); };
        TMDLModel direct = original;
        TMDLModel chain = original;
        ReduceQuadric(direct, share(0.1));
        for (double ratio : {0.5, 0.25, 0.1}) ReduceQuadric(chain, share(ratio));
        behind += direct.Header.NumTris > std::max<int64_t>(chain.Header.NumTris, share(0.1)) ? 1 : 0;
    }
    EXPECT_LE(behind, 2);
}

TEST(ReduceQuadric, SaysWhyWhenItStopsAboveTheBudget)
{
    // The octahedron ends as a tetrahedron: any further collapse would fold it flat.
    TMDLModel octahedron = MakeOctahedron();
    const QuadricResult result = ReduceQuadric(octahedron, 0);
    EXPECT_FALSE(result.BudgetMet);
    EXPECT_EQ(result.TrianglesAfter, 4);
    EXPECT_FALSE(result.StoppedBecause.empty());

    //     2      Four triangles around 0. Collapsing a ring vertex flattens a
    //   3 0 1    triangle in frame 0; 0 into 2 or 4 turns one over in frame 2,
    //     4      where 1 lies left of 0; 0 into 3 turns one over in frame 3,
    // where 0 stands above and outside edge 1-2. 0 into 1 stands 0-2-3 on edge
    // in frame 1, where 0 lies a hair inside edge 2-3 and above it: refused too.
    const auto at = [](double x, double y, double z) {
        const auto pack = [](double c) { return uint16_t(std::lround(30000 + 10000 * c)); };
        return Vert(pack(x), pack(y), pack(z));
    };
    std::vector<std::vector<FrameVert>> poses;
    for (const FrameVert& centre : {at(0, 0, 0), at(-0.498, 0.498, 0.2), at(-0.5, 0, 0), at(0.6, 0.6, 1)})
        poses.push_back({centre, at(1, 0, 0), at(0, 1, 0), at(-1, 0, 0), at(0, -1, 0)});
    poses[2][1] = at(-0.3, 0, 0);
    TMDLModel fan = MakeModel(poses, {Tri(0, 1, 2), Tri(0, 2, 3), Tri(0, 3, 4), Tri(0, 4, 1)},
                              {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}});
    SetPositionTransform(fan, {1e-4f, 1e-4f, 1e-4f}, {-3, -3, -3});
    // Only a last-resort move of the border (1 into 0) gets below four; a way
    // that frees the borders from the start makes it without giving up a rule.
    TMDLModel freed = fan;
    const QuadricResult sliver = ReduceQuadric(fan, 2);
    EXPECT_TRUE(!sliver.BudgetMet || (sliver.Relaxations & kRelaxBorders));
    const QuadricResult bordersFree = ReduceQuadric(freed, 2, nullptr, {.MoveBordersFromStart = true});
    EXPECT_TRUE(bordersFree.BudgetMet && bordersFree.Relaxations == kRelaxNone);
    EXPECT_EQ(fan.Frames[0].Items[0].X, at(0, 0, 0).X);

    // A budget already met, or a model with an index past its list, is left as it is.
    TMDLModel untouched = MakeOctahedron();
    EXPECT_TRUE(ReduceQuadric(untouched, 8).BudgetMet);
    TMDLModel broken = MakeOctahedron();
    broken.Triangles.Items[3].VertIndex[1] = 6;
    const QuadricResult refused = ReduceQuadric(broken, 2);
    EXPECT_FALSE(refused.BudgetMet);
    for (TMDLModel* model : {&untouched, &broken}) {
        EXPECT_EQ(model->Triangles.Count, 8);
        EXPECT_EQ(model->Frames[0].Items.size(), 6u);
    }
}

// A flat square of (2 half + 1)^2 points whose triangles belong to three
// charts (x < 0; x > 0 below y = 0; x > 0 above), each point written once
// per chart that meets it, each record holding its own one coordinate, as
// MD3 writes seams. The charts meet at the centre.
AnimatedMesh threeCharts(int half)
{
    AnimatedMesh mesh;
    mesh.FrameCount = 1;
    mesh.Transforms.assign(1, FrameTransform{{1e-3f, 1e-3f, 1e-3f}, {-10.0f, -10.0f, -10.0f}});
    mesh.FrameNames = {"flat"};
    mesh.SkinWidth = mesh.SkinHeight = 256;
    std::map<std::array<int, 3>, uint32_t> records;  // (x, y, chart)
    const auto record = [&](int x, int y, int chart) {
        const auto [at, added] = records.try_emplace({x, y, chart}, mesh.VertexCount);
        if (added) {
            ++mesh.VertexCount;
            mesh.Positions.push_back({uint16_t(10000 + 1000 * x), uint16_t(10000 + 1000 * y), 10000});
            mesh.TexCoords.push_back({float(chart * 80 + 5 * (x + half)), float(5 * (y + half))});
            mesh.VertexTexCoords.push_back({at->second, at->second});
        }
        return at->second;
    };
    for (int y = -half; y < half; ++y)
        for (int x = -half; x < half; ++x)
            for (const auto& tri : {std::array{0, 0, 1, 0, 1, 1}, std::array{0, 0, 1, 1, 0, 1}}) {
                const int chart = x < 0 ? 0 : y < 0 ? 1 : 2;
                MeshTriangle t;
                for (std::size_t j = 0; j < 3; ++j) t.Vertex[j] = t.TexCoord[j] = record(x + tri[2 * j], y + tri[2 * j + 1], chart);
                mesh.Triangles.push_back(t);
            }
    mesh.TriangleBack.assign(mesh.Triangles.size(), 0);
    return mesh;
}

TEST(ReduceQuadric, WeldedSplitSeamsLetWhereChartsMeetGoAndCornersKeepTheirVerticesCoordinates)
{
    // Welded, the seams' sides collapse as one vertex, and with seams crossed
    // from the start the place where three charts meet may go; unwelded again,
    // every corner names the record that holds the coordinate it shows. As
    // records, the three sides of the centre could only stay.
    const AnimatedMesh mesh = threeCharts(3);
    ASSERT_TRUE(mesh.IsConsistent());
    const auto keepsCentre = [&](const MeshSurvivors& kept) {
        return std::any_of(kept.Vertices.begin(), kept.Vertices.end(), [&](uint32_t v) { return mesh.Positions[v] == PackedPosition{10000, 10000, 10000}; });
    };
    for (const bool welded : {false, true}) {
        MeshSurvivors kept;
        const QuadricResult result = ReduceQuadric(mesh, 6, kept, nullptr, {.WeldSplitSeams = welded, .CrossSeamsFromStart = welded});
        EXPECT_TRUE(result.BudgetMet && result.Relaxations == kRelaxNone) << welded;
        EXPECT_EQ(keepsCentre(kept), !welded);
        ASSERT_TRUE(KeptView(mesh, kept).IsConsistent()) << welded;
        // Closed: an edge between places with one triangle runs from rim to rim.
        std::map<std::pair<PackedPosition, PackedPosition>, int> edges;
        for (const MeshTriangle& tri : kept.Triangles)
            for (std::size_t j = 0; j < 3; ++j) {
                EXPECT_EQ(kept.TexCoords[tri.TexCoord[j]], mesh.VertexTexCoords[kept.Vertices[tri.Vertex[j]]][0]) << welded;
                ++edges[std::minmax(mesh.Positions[kept.Vertices[tri.Vertex[j]]], mesh.Positions[kept.Vertices[tri.Vertex[(j + 1) % 3]]])];
            }
        const auto onRim = [](const PackedPosition& p) { return p[0] == 7000 || p[0] == 13000 || p[1] == 7000 || p[1] == 13000; };
        for (const auto& [edge, count] : edges) EXPECT_TRUE(count == 2 || (count == 1 && onRim(edge.first) && onRim(edge.second))) << welded;
    }
}

TEST(ReduceQuadric, AWaypointTakesTheSurvivorsOnTheWayAndChangesNothingElse)
{
    // Split seams kept as records and welded (the waypoint then unwelded too).
    const AnimatedMesh mesh = threeCharts(3);
    for (const bool welded : {false, true}) {
        const QuadricOptions options{.WeldSplitSeams = welded, .CrossSeamsFromStart = welded};
        MeshSurvivors plain, passing, passed;
        ReduceQuadric(mesh, 6, plain, nullptr, options);
        uint32_t relaxations = ~0u;
        ReduceQuadric(mesh, 6, passing, nullptr, options, {24, &passed, &relaxations});
        EXPECT_EQ(passing.Vertices, plain.Vertices) << welded;
        EXPECT_EQ(passing.TriangleSource, plain.TriangleSource) << welded;
        ASSERT_TRUE(KeptView(mesh, passed).IsConsistent()) << welded;
        EXPECT_LE(passed.Triangles.size(), 24u) << welded;
        EXPECT_GT(passed.Triangles.size(), plain.Triangles.size()) << welded;
        // Collapses only take vertices away: those left at the end were there on the way.
        EXPECT_TRUE(std::includes(passed.Vertices.begin(), passed.Vertices.end(), plain.Vertices.begin(), plain.Vertices.end()));
        for (const MeshTriangle& tri : passed.Triangles)
            for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(passed.TexCoords[tri.TexCoord[j]], passed.Vertices[tri.Vertex[j]]) << welded;
        EXPECT_EQ(relaxations, uint32_t(kRelaxNone)) << welded;
    }
}

}  // namespace
