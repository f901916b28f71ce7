#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "model/formats/MDL5.h"
#include "measure/Measure.h"
#include "measure/TriangleGrid.h"
#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"
#include "reduce/Reduce.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/ShapeModels.h"
#include "tests/support/TestFiles.h"

namespace {

DeviationSummary measured(const TMDLModel& original, const TMDLModel& other, const MeasureOptions& options = {})
{
    auto result = MeasureDeviation(original, other, options);
    if (auto* problem = std::get_if<std::string>(&result)) ADD_FAILURE() << *problem;
    return std::holds_alternative<DeviationSummary>(result) ? std::get<DeviationSummary>(result) : DeviationSummary{};
}

TMDLModel reduced(TMDLModel model, int passes)
{
    for (int pass = 0; pass < passes; ++pass) model.Reduce(NormalLimitForLevel(kMaxLevel), kUVLimitTexels);
    return model;
}

}  // namespace

TEST(TriangleGrid, FindsTheNearestOfEveryTriangle)
{
    //   C          points at each corner's, each edge's and the inside's region,
    //   |\         above and beside the plane; and a triangle without area,
    //   A-B        which counts as its edges
    const WorldTriangle tri{{0, 0, 0}, {4, 0, 0}, {0, 4, 0}};
    const struct {
        WorldPoint Point;
        double Distance2;
    } rows[] = {
        {{-1, -1, 0}, 2}, {{6, -1, 2}, 9}, {{-3, 5, 0}, 10},  // corners A, B, C
        {{2, -3, 0}, 9},  {{-2, 2, 1}, 5}, {{3, 3, 0}, 2},    // edges AB, CA, BC
        {{1, 1, 5}, 25},  {{1, 1, -2}, 4},                    // inside, above and below
    };
    for (const auto& row : rows) EXPECT_DOUBLE_EQ(PointTriangleDistance2(row.Point, tri), row.Distance2);
    const WorldTriangle line{{0, 0, 0}, {2, 0, 0}, {4, 0, 0}};
    EXPECT_DOUBLE_EQ(PointTriangleDistance2({1, 3, 0}, line), 9);
    EXPECT_DOUBLE_EQ(PointTriangleDistance2({7, 4, 0}, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}), 36 + 9 + 1);

    // The grid must answer as a search of every triangle would, near the
    // surface and far from it, in units of any size; over many triangles,
    // which it lists by clusters, also in a later frame that scatters the
    // clusters the first one formed.
    const struct {
        int Width, Height, Points;
        double Unit;
        bool Scatter;
    } grids[] = {{24, 12, 3000, 1, false}, {24, 12, 3000, 1e-4, false}, {256, 160, 150, 1, false}, {256, 160, 150, 1, true}};
    for (const auto& setup : grids) {
        const TMDLModel torus = MakeTorus(setup.Width, setup.Height, 1);
        const double unit = setup.Unit;
        std::vector<WorldPoint> points;
        for (const FrameVert& v : torus.Frames[0].Items) points.push_back({v.X * unit, v.Y * unit, v.Z * unit});
        std::vector<std::array<uint32_t, 3>> corners;
        for (const MDLTriangle& t : torus.Triangles.Items) corners.push_back(t.VertIndex);
        TriangleGrid grid;
        grid.Build(points, corners);
        if (setup.Scatter) {
            for (std::size_t v = 0; v < points.size(); ++v) points[v] = points[(v * 7919) % points.size()];
            grid.Build(points, corners);
        }
        std::vector<WorldTriangle> triangles;
        for (const std::array<uint32_t, 3>& t : corners) triangles.push_back({points[t[0]], points[t[1]], points[t[2]]});
        std::mt19937 random(7);
        std::uniform_real_distribution<double> coordinate(-10000 * unit, 75000 * unit);
        std::uniform_real_distribution<double> nudge(-300 * unit, 300 * unit);
        uint32_t hint = 0;
        std::vector<uint32_t> within;
        for (int i = 0; i < setup.Points; ++i) {
            // Points anywhere, and points just off a triangle's corner, where cells are skipped most.
            const WorldTriangle& near = triangles[std::size_t(random()) % triangles.size()];
            const WorldPoint point = i % 2 ? WorldPoint{coordinate(random), coordinate(random), coordinate(random)}
                                           : WorldPoint{near.A[0] + nudge(random), near.A[1] + nudge(random), near.A[2] + nudge(random)};
            std::vector<double> distances;
            for (const WorldTriangle& t : triangles) distances.push_back(PointTriangleDistance2(point, t));
            const double best = *std::min_element(distances.begin(), distances.end());
            ASSERT_EQ(grid.Nearest2(point, hint), best) << setup.Width << " unit " << unit << ", point " << i;
            // The weights name the nearest point itself: inside the triangle, at that distance.
            const std::array<double, 3> weights = grid.NearestWeights(point, hint);
            const WorldTriangle& nearest = triangles[hint];
            double distance2 = 0;
            for (int axis = 0; axis < 3; ++axis) {
                const double at = weights[0] * nearest.A[axis] + weights[1] * nearest.B[axis] + weights[2] * nearest.C[axis];
                distance2 += (point[axis] - at) * (point[axis] - at);
            }
            EXPECT_NEAR(std::sqrt(distance2), std::sqrt(best), 1e-6 * unit) << i;
            EXPECT_GE(std::min({weights[0], weights[1], weights[2]}), -1e-12) << i;
            // Every triangle within a reach, and no other.
            const double reach2 = best * 1.2 + 1e3 * unit * unit;
            grid.Within(point, reach2, within);
            std::sort(within.begin(), within.end());
            std::vector<uint32_t> expected;
            for (uint32_t t = 0; t < distances.size(); ++t)
                if (distances[t] <= reach2) expected.push_back(t);
            EXPECT_EQ(within, expected) << i;
        }
    }
}

TEST(Measure, ShiftOfOneFrameShowsInThatFrameAlone)
{
    // A plate lifted off its plane by 250 units in frame 2: every point moves
    // exactly that far. Unequal axis scales catch a missing world transform.
    TMDLModel original = MakePlate(1000, 1000, 4, {100, 100, 100, 100});
    TMDLModel shifted = MakePlate(1000, 1000, 4, {100, 100, 350, 100});
    SetPositionTransform(original, {0.5f, 2.0f, 3.0f}, {-7, 11, 13});
    SetPositionTransform(shifted, {0.5f, 2.0f, 3.0f}, {-7, 11, 13});
    const double diagonal = std::hypot(500.0, 2000.0);
    const DeviationSummary summary = measured(original, shifted);
    ASSERT_EQ(summary.Frames.size(), 4u);
    for (const FrameDeviation& frame : summary.Frames) {
        const double expected = frame.Frame == 2 ? 750.0 / diagonal : 0.0;
        EXPECT_NEAR(frame.Hausdorff, expected, 1e-12) << frame.Frame;
        EXPECT_NEAR(frame.Rms, expected, 1e-12) << frame.Frame;
        EXPECT_EQ(frame.Name, "frame" + std::to_string(frame.Frame));
    }
    EXPECT_EQ(summary.HausdorffFrame, 2);
    EXPECT_EQ(summary.RmsFrame, 2);
    EXPECT_NEAR(summary.MeanRms, 750.0 / diagonal / 4, 1e-12);
    EXPECT_EQ(summary.OriginalTriangles, 32);

    // Frame 2 grown three times across: the same lift is a third of its own
    // box's diagonal, whatever frame 0's box.
    for (TMDLModel* model : {&original, &shifted})
        for (FrameVert& v : model->Frames[2].Items) v.X *= 3, v.Y *= 3;
    EXPECT_NEAR(measured(original, shifted).Frames[2].Hausdorff, 750.0 / (3 * diagonal), 1e-12);

    TMDLModel torus = MakeTorus(16, 8, 3);
    SetPositionTransform(torus, {1, 1, 1}, {0, 0, 0});
    for (const FrameDeviation& frame : measured(torus, torus).Frames) {
        EXPECT_LT(frame.Hausdorff, 1e-12);
        EXPECT_LT(frame.Rms, 1e-12);
    }
}

TEST(Measure, TextureShiftAndShapeMoveShowEachInTheirOwnFigures)
{
    // A plate 1000 x 1000 whose skin coordinates are its x and y in tenths:
    // moving every coordinate by (3, 4) texels leaves the surface in place,
    // lifting the surface by 250 keeps every point's coordinate.
    AnimatedMesh plate = MeshOf(MakePlate(1000, 1000, 4, {100, 100}));
    plate.SkinWidth = plate.SkinHeight = 100;
    for (uint32_t v = 0; v < plate.VertexCount; ++v) {
        const PackedPosition& p = plate.Positions[plate.At(v, 0)];
        plate.TexCoords[v] = {float(p[0]) / 10, float(p[1]) / 10};
    }
    AnimatedMesh shifted = plate;
    for (auto& uv : shifted.TexCoords) uv = {uv[0] + 3, uv[1] + 4};
    AnimatedMesh lifted = plate;
    for (PackedPosition& p : lifted.Positions) p[2] = uint16_t(p[2] + 250);

    const auto summaryOf = [](const AnimatedMesh& original, const AnimatedMesh& other) {
        const auto result = MeasureDeviation(original, other);
        EXPECT_TRUE(std::holds_alternative<DeviationSummary>(result));
        return std::holds_alternative<DeviationSummary>(result) ? std::get<DeviationSummary>(result) : DeviationSummary{};
    };
    const DeviationSummary texture = summaryOf(plate, shifted);
    ASSERT_TRUE(texture.TextureMeasured);
    EXPECT_LT(texture.Hausdorff, 1e-12);
    EXPECT_NEAR(texture.TextureRms, 5, 1e-4);
    EXPECT_NEAR(texture.TextureLargest, 5, 1e-4);
    for (const FrameDeviation& frame : texture.Frames) EXPECT_NEAR(frame.TextureRms, 5, 1e-4);

    const DeviationSummary shape = summaryOf(plate, lifted);
    EXPECT_NEAR(shape.Rms, 250 / (1000 * std::sqrt(2.0)), 1e-9);
    EXPECT_LT(shape.TextureLargest, 1e-4);

    // Half the skin's size in other units is the same texture: measured in the first model's texels.
    AnimatedMesh halfUnits = plate;
    halfUnits.SkinWidth = halfUnits.SkinHeight = 50;
    for (auto& uv : halfUnits.TexCoords) uv = {uv[0] / 2, uv[1] / 2};
    EXPECT_LT(summaryOf(plate, halfUnits).TextureLargest, 1e-4);

    // Without texture coordinates on either side only the surface is measured.
    AnimatedMesh bare = plate;
    bare.TexCoords.clear();
    EXPECT_FALSE(summaryOf(plate, bare).TextureMeasured);
}

TEST(Measure, HalfASquareIsHalfTheSideAway)
{
    // +----+----+   the right half is missing: its far edge lies half the side
    // |  kept |  |   away, and its points spread uniformly from 0 to that; the
    // +----+----+   pooled RMS is sqrt(1/48) of the side
    const TMDLModel square = MakePlate(1000, 1000, 2, {0});
    const TMDLModel half = MakePlate(500, 1000, 1, {0});
    const DeviationSummary summary = measured(square, half);
    const double diagonal = 1000 * std::sqrt(2.0);
    EXPECT_NEAR(summary.Hausdorff, 500 / diagonal, 1e-12);
    EXPECT_NEAR(summary.Rms, 1000 * std::sqrt(1.0 / 48) / diagonal, 0.01 * summary.Rms);
}

TEST(Measure, OctahedronInsideSphereIsFurthestAtFaceCentres)
{
    // The sphere's vertex over each face centre stands r(1 - 1/sqrt 3) off the
    // face; the box of both is the cube of side 2r.
    const double radius = 20000;
    const TMDLModel sphere = MakeSphere(12, radius);
    const TMDLModel octahedron = MakeSphere(1, radius);
    const DeviationSummary forward = measured(sphere, octahedron);
    const double diagonal = 2 * radius * std::sqrt(3.0);
    EXPECT_NEAR(forward.Hausdorff, radius * (1 - 1 / std::sqrt(3.0)) / diagonal, 1e-4);

    // Swapped, the same pairs of surfaces are measured with other samples.
    const DeviationSummary backward = measured(octahedron, sphere);
    EXPECT_NEAR(backward.Hausdorff, forward.Hausdorff, 1e-4);
    EXPECT_NEAR(backward.Rms, forward.Rms, 0.01 * forward.Rms);
}

TEST(Measure, OneSeedRepeatsExactlyAndAnotherWithinOnePercent)
{
    std::vector<std::pair<TMDLModel, TMDLModel>> pairs;
    const TMDLModel torus = MakeTorus(40, 20, 6);
    pairs.emplace_back(torus, reduced(torus, 3));
    if (const std::string file = SharedModel("minigun.mdl"); !file.empty()) {
        TMDLModel minigun;
        ASSERT_TRUE(minigun.LoadFromFile(file));
        pairs.emplace_back(minigun, reduced(minigun, 2));
    } else {
        std::cout << "minigun.mdl not found beside the project: measuring the torus alone\n";
    }
    for (const auto& [original, other] : pairs) {
        ASSERT_LT(other.Triangles.Count, original.Triangles.Count);
        // The same seed repeats bit for bit, on one thread or several.
        MeasureOptions oneThread;
        oneThread.Threads = 1;
        const DeviationSummary first = measured(original, other);
        const DeviationSummary again = measured(original, other, oneThread);
        ASSERT_EQ(first.Frames.size(), again.Frames.size());
        for (std::size_t f = 0; f < first.Frames.size(); ++f) {
            EXPECT_EQ(first.Frames[f].Hausdorff, again.Frames[f].Hausdorff);
            EXPECT_EQ(first.Frames[f].Rms, again.Frames[f].Rms);
            EXPECT_EQ(first.Frames[f].TextureRms, again.Frames[f].TextureRms);
        }
        EXPECT_GT(first.Rms, 0);
        for (uint64_t seed : {2u, 99u}) {
            MeasureOptions options;
            options.Seed = seed;
            const DeviationSummary otherSeed = measured(original, other, options);
            EXPECT_NEAR(otherSeed.Rms, first.Rms, 0.01 * first.Rms) << "seed " << seed;
        }
        // A frame measures the same whichever frames are measured with it.
        const int last = int(original.Frames.size()) - 1;
        const DeviationSummary ends = measured(original, other, {.Frames = SpreadFrames(last + 1, 2)});
        ASSERT_EQ(ends.Frames.size(), 2u);
        EXPECT_EQ(ends.Frames[1].Frame, last);
        EXPECT_EQ(ends.Frames[1].Rms, first.Frames.back().Rms);
    }
}

TEST(Measure, RefusesWhatItCannotCompareWithAReason)
{
    const TMDLModel plate = MakePlate(100, 100, 1, {0, 0});
    TMDLModel noTriangles = plate;
    noTriangles.Triangles.Items.clear();
    noTriangles.Triangles.Count = 0;
    TMDLModel badIndex = plate;
    badIndex.Triangles.Items[1].VertIndex[2] = 4;
    const TMDLModel point = MakePlate(0, 0, 1, {0, 0});      // every vertex at one place
    const TMDLModel line = MakePlate(100, 0, 1, {0, 0});     // a box, but no area
    const struct {
        const TMDLModel& Original;
        const TMDLModel& Other;
        std::vector<int> Frames;
        const char* Reason;
    } rows[] = {
        {plate, MakePlate(100, 100, 1, {0}), {}, "the first model has 2 frames and the second 1"},
        {plate, noTriangles, {}, "the second model has no triangles"},
        {badIndex, plate, {}, "triangle 1 of the first model names vertex 4, but it has 4 vertices"},
        {point, plate, {}, "frame 0 of the first model has a box of no size"},
        {plate, line, {}, "frame 0 of the second model has no area to sample"},
        {plate, plate, {0, 2}, "frame 2 is not among the models' 2 frames"},
    };
    for (const auto& row : rows) {
        const auto result = MeasureDeviation(row.Original, row.Other, {.Frames = row.Frames});
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << row.Reason;
        EXPECT_EQ(std::get<std::string>(result), row.Reason);
    }
}

TEST(Measure, SpreadFramesKeepsTheFirstAndLast)
{
    EXPECT_EQ(SpreadFrames(120, 5), (std::vector<int>{0, 30, 60, 89, 119}));
    EXPECT_EQ(SpreadFrames(8, 2), (std::vector<int>{0, 7}));
    EXPECT_EQ(SpreadFrames(3, 10), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(SpreadFrames(8, 1), (std::vector<int>{0}));
    EXPECT_TRUE(SpreadFrames(0, 4).empty());
}
