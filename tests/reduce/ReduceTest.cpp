#include <gtest/gtest.h>

#include "model/MDLClass.h"
#include "reduce/Progress.h"
#include "reduce/Reduce.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/ReferenceReduce.h"
#include "tests/support/TestFiles.h"

namespace {

// Everything a pass shows: the saved bytes, the log lines, the progress texts
// and where it leaves the generator.
struct Outcome {
    std::vector<uint8_t> Bytes;
    std::vector<std::string> Lines;
    std::vector<std::string> Progress;
    uint32_t SeedAfter = 0;
    bool operator==(const Outcome&) const = default;
};

enum class Pass { Fast, Reference };

Outcome reduce(TMDLModel model, Pass pass, int level, int passes, uint32_t seed, float uvLimit = 100.0f)
{
    Outcome outcome;
    CaptureLog(model, outcome.Lines);
    model.ProgressBar = [&outcome](const std::string& text) { outcome.Progress.push_back(text); };
    SetProgressSeed(seed);
    for (int p = 0; p < passes; ++p) {
        if (pass == Pass::Fast)
            model.Reduce(NormalLimitForLevel(level), uvLimit);
        else
            ReferenceReduce(model, NormalLimitForLevel(level), uvLimit);
        EXPECT_TRUE(IsConsistent(model));
        for (const SkinVert& skin : model.SkinVerts.Items) EXPECT_EQ(skin.Used, 1);
    }
    outcome.SeedAfter = ProgressSeed();
    outcome.Bytes = model.SaveToBytes();
    return outcome;
}

// Runs both passes from the same generator state and compares all they show.
void expectSameAsReference(const TMDLModel& model, int level, int passes, uint32_t seed, float uvLimit, const std::string& what)
{
    const Outcome fast = reduce(model, Pass::Fast, level, passes, seed, uvLimit);
    const Outcome reference = reduce(model, Pass::Reference, level, passes, seed, uvLimit);
    EXPECT_EQ(fast.Lines, reference.Lines) << what;
    EXPECT_EQ(fast.Progress, reference.Progress) << what;
    EXPECT_EQ(fast.SeedAfter, reference.SeedAfter) << what;
    EXPECT_TRUE(fast.Bytes == reference.Bytes) << what << ": saved bytes differ";
}

/* A fan of six triangles around vertex 0 whose outer vertices lie on the
   border, with vertex 4 the nearest:
       1---2
      / \ / \
     6---0---3
      \ / \ /
       5---4
*/
TMDLModel hexagonFan(std::vector<SkinVert> skins = {})
{
    std::vector<FrameVert> pose = {Vert(1000, 1000, 0), Vert(900, 1170, 0), Vert(1100, 1170, 0), Vert(1200, 1000, 0),
                                   Vert(1090, 850, 0),  Vert(900, 830, 0),  Vert(800, 1000, 0)};
    if (skins.empty())
        for (uint16_t i = 0; i < 7; ++i) skins.push_back(SkinVert{uint16_t(50 + i), uint16_t(60 + i), 0});
    return MakeModel({pose, pose, pose},
                     {Tri(0, 1, 2), Tri(0, 2, 3), Tri(0, 3, 4), Tri(0, 4, 5), Tri(0, 5, 6), Tri(0, 6, 1)}, skins);
}

}  // namespace

TEST(Reduce, CollapsesTheOctahedronAsDocumented)
{
    for (int level : {0, 4, 10}) {
        TMDLModel model = MakeOctahedron();
        std::vector<std::string> lines;
        CaptureLog(model, lines);
        model.Reduce(NormalLimitForLevel(level), 100.0f);
        EXPECT_EQ(lines, (std::vector<std::string>{"CUT: 3Vertices, 6Faces, 3Skin Vertices.",
                                                   "MODEL INFO: 3Vertices, 2Faces, 3Skin Vertices."}));
        for (const TMDLFrame& frame : model.Frames) {
            ASSERT_EQ(frame.Count, 3);
            const std::vector<std::array<uint16_t, 3>> kept = {{frame.Items[0].X, frame.Items[0].Y, frame.Items[0].Z},
                                                               {frame.Items[1].X, frame.Items[1].Y, frame.Items[1].Z},
                                                               {frame.Items[2].X, frame.Items[2].Y, frame.Items[2].Z}};
            EXPECT_EQ(kept, (std::vector<std::array<uint16_t, 3>>{{100, 0, 100}, {100, 100, 200}, {100, 100, 0}}));
        }
        ASSERT_EQ(model.Triangles.Count, 2);
        EXPECT_EQ(model.Triangles.Items[0].VertIndex, (std::array<uint32_t, 3>{0, 1, 2}));
        EXPECT_EQ(model.Triangles.Items[1].VertIndex, (std::array<uint32_t, 3>{1, 0, 2}));
        for (const MDLTriangle& tri : model.Triangles.Items) EXPECT_EQ(tri.SkinIndex, tri.VertIndex);
        ASSERT_EQ(model.SkinVerts.Count, 3);
        for (uint16_t i = 0; i < 3; ++i) EXPECT_EQ(model.SkinVerts.Items[i].U, 13 + i);

        lines.clear();
        const auto before = model.SaveToBytes();
        model.Reduce(NormalLimitForLevel(level), 100.0f);
        EXPECT_EQ(lines[0], "CUT: 0Vertices, 0Faces, 0Skin Vertices.");
        EXPECT_EQ(lines[1], "MODEL INFO: 3Vertices, 2Faces, 3Skin Vertices.");
        EXPECT_EQ(model.SaveToBytes(), before);
    }
}

TEST(Reduce, MergesCentreOfClosedFanIntoNearestNeighbour)
{
    TMDLModel model = hexagonFan();
    model.Reduce(0.0f, 100.0f);
    EXPECT_EQ(model.Header.NumVerts, 6);
    EXPECT_EQ(model.Triangles.Count, 4);
    // The triangles that held 0 and 4 are gone; the rest point at the former
    // vertex 4 (now 3), with the skin vertex of the last deleted triangle's corner.
    EXPECT_EQ(model.Triangles.Items[0].VertIndex, (std::array<uint32_t, 3>{3, 0, 1}));
    EXPECT_EQ(model.Triangles.Items[0].SkinIndex[0], 3u);
    EXPECT_EQ(model.Frames[2].Items[0].X, 900);  // every frame lost vertex 0
    EXPECT_TRUE(IsConsistent(model));
}

TEST(Reduce, KeepsFansThatAreOpenWideOrDisagreeing)
{
    // The texture spread: exactly 100 texels from the reference collapses,
    // a squared distance of 10001 keeps the vertex.
    auto withCorner = [](uint16_t u, uint16_t v) {
        std::vector<SkinVert> skins(7, SkinVert{500, 500, 0});
        skins[3] = SkinVert{u, v, 0};
        return hexagonFan(skins);
    };
    TMDLModel atLimit = withCorner(600, 500);
    atLimit.Reduce(0.0f, 100.0f);
    EXPECT_EQ(atLimit.Header.NumVerts, 6);
    TMDLModel pastLimit = withCorner(600, 501);
    pastLimit.Reduce(0.0f, 100.0f);
    EXPECT_EQ(pastLimit.Header.NumVerts, 7);

    // An open fan: without the last triangle vertex 0 lies on the border.
    TMDLModel open = hexagonFan();
    open.Triangles.DeleteTriangle(5);
    open.Header.NumTris = 5;
    open.Reduce(0.0f, 100.0f);
    EXPECT_EQ(open.Header.NumVerts, 7);

    // Level 0: normal 5 agrees with 5 and with its exact opposite 84; entry 0
    // falls short of unit length and never agrees, not even with itself.
    for (auto [own, others, collapses] : {std::tuple{5, 84, true}, std::tuple{5, 5, true}, std::tuple{0, 0, false}, std::tuple{5, 11, false}}) {
        TMDLModel model = hexagonFan();
        for (TMDLFrame& frame : model.Frames)
            for (int32_t v = 0; v < frame.Count; ++v) frame.Items[std::size_t(v)].NormalIndex = uint8_t(v == 0 ? own : others);
        model.Reduce(NormalLimitForLevel(0), 100.0f);
        EXPECT_EQ(model.Header.NumVerts, collapses ? 6 : 7) << own << " with " << others;
    }
}

TEST(Reduce, ModelWithoutFramesOnlyDropsUnusedSkinVertices)
{
    TMDLModel model = hexagonFan();
    model.Frames.clear();
    model.Header.NumFrames = 0;
    model.SkinVerts.Items.push_back(SkinVert{1, 1, 0});
    model.SkinVerts.Count = 8;
    model.Header.NumSkinVerts = 8;
    std::vector<std::string> lines;
    CaptureLog(model, lines);
    model.Reduce(0.0f, 100.0f);
    EXPECT_EQ(lines[0], "CUT: 0Vertices, 0Faces, 1Skin Vertices.");
    EXPECT_EQ(model.SkinVerts.Count, 7);
}

TEST(Reduce, FirstProgressOfTheProcessShowsZeroPercent)
{
    std::vector<std::string> texts;
    TMDLModel model = MakeTorus(8, 8, 1);
    model.ProgressBar = [&texts](const std::string& text) { texts.push_back(text); };
    SetProgressSeed(0);
    model.Reduce(0.0f, 100.0f);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "0% Complete(Phase1/2)");
}

TEST(Reduce, MatchesTheReferenceOnGeneratedModelsAtEveryLevel)
{
    for (uint32_t seed = 1; seed <= 250; ++seed) {
        const TMDLModel model = MakeRandomModel(seed);
        for (int level = 0; level <= 10; ++level)
            expectSameAsReference(model, level, 3, seed * 7919u + uint32_t(level), 100.0f,
                                  "model " + std::to_string(seed) + " level " + std::to_string(level));
        if (HasFailure()) return;  // one broken model says enough
    }
}

TEST(Reduce, MatchesTheReferenceWithOtherTexelLimits)
{
    for (uint32_t seed = 300; seed < 340; ++seed) {
        const TMDLModel model = MakeRandomModel(seed);
        for (float uvLimit : {0.0f, -0.0f, -1.0f, 1.0f, 20.5f, 49.99f, 1e9f})
            expectSameAsReference(model, 10, 2, seed, uvLimit, "model " + std::to_string(seed) + " limit " + std::to_string(uvLimit));
    }
}

TEST(Reduce, MatchesTheReferenceOnClosedSurfaces)
{
    for (auto [w, h] : {std::pair{8, 8}, std::pair{12, 5}, std::pair{40, 3}})
        for (int level : {0, 3, 7, 10}) expectSameAsReference(MakeTorus(w, h, 2), level, 4, 42, 100.0f, "torus " + std::to_string(w));
}

TEST(Reduce, RealModelsMatchTheReferenceAndStayWithinTheFormat)
{
    for (const char* name : {"minigun.mdl", "earth.mdl"}) {
        const std::string path = SharedModel(name);
        if (path.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
        TMDLModel model;
        ASSERT_TRUE(model.LoadFromFile(path));
        for (int level : {0, 5, 10}) {
            expectSameAsReference(model, level, 2, 0, 100.0f, std::string(name) + " level " + std::to_string(level));
            const Outcome fast = reduce(model, Pass::Fast, level, 2, 0);
            TMDLModel reloaded;
            EXPECT_TRUE(reloaded.LoadFromBytes(fast.Bytes)) << name;
            EXPECT_LE(reloaded.Header.NumVerts, model.Header.NumVerts);
            EXPECT_LE(reloaded.Header.NumSkinVerts, 65536);
        }
    }
}
