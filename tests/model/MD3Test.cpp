#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "model/formats/MD3.h"
#include "model/ByteIO.h"
#include "tests/support/AllocationWatch.h"
#include "tests/support/MD3Builder.h"
#include "tests/support/TestFiles.h"

namespace {

struct LoadResult {
    bool Accepted = false;
    std::vector<std::string> Lines;
};

LoadResult load(TMD3Model& model, std::span<const uint8_t> bytes)
{
    LoadResult result;
    model.LogLines = [&result](const std::string& line) { result.Lines.push_back(line); };
    result.Accepted = model.LoadFromBytes(bytes);
    model.LogLines = nullptr;
    return result;
}

template <class Record>
bool sameBytes(const std::vector<Record>& a, const std::vector<Record>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Record)) == 0);
}

void putI32(std::vector<uint8_t>& bytes, std::size_t offset, int32_t value)
{
    std::memcpy(bytes.data() + offset, &value, 4);  // the test host is little-endian
}

}  // namespace

TEST(MD3Reader, RoundTripsBuiltAndRealModelsByteForByte)
{
    TMD3Model scrambled = MakeMD3Model(3, 2, 2);
    ScrambleMD3Layout(scrambled);
    for (const TMD3Model& original : {MakeMD3Model(3, 2, 2), scrambled, MakeMD3Model(0, 0, 0), MakeMD3Model(2, 0, 0)}) {
        const std::vector<uint8_t> bytes = original.SaveToBytes();
        TMD3Model copy;
        const LoadResult result = load(copy, bytes);
        EXPECT_TRUE(result.Accepted);
        EXPECT_EQ(result.Lines, std::vector<std::string>{original.ModelInfoLine()});
        EXPECT_EQ(copy.SaveToBytes(), bytes);
        EXPECT_EQ(copy.GapBytes, original.GapBytes);
    }
    EXPECT_GT(scrambled.Header.OfsFrames, scrambled.Header.OfsSurfaces);

    for (const char* name : {"penguin_head.md3", "penguin_upper.md3", "penguin_lower.md3"}) {
        const std::string path = SharedModel(name);
        if (path.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
        TMD3Model model;
        ASSERT_TRUE(model.LoadFromBytes(ReadWholeFile(path))) << name;
        EXPECT_EQ(model.SaveToBytes(), ReadWholeFile(path)) << name;
        EXPECT_EQ(model.Frames.size(), 200u);
        EXPECT_TRUE(MeshOf(model).IsConsistent());
    }
}

TEST(MD3Reader, RefusesEveryTruncationWithAnErrorLine)
{
    TMD3Model model = MakeMD3Model(2, 2, 1);
    ScrambleMD3Layout(model);
    const std::vector<uint8_t> whole = model.SaveToBytes();
    for (std::size_t length = 0; length < whole.size(); ++length) {
        // Each cut in a buffer of its own exact size, so that a sanitizer sees any overrun.
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(length));
        TMD3Model copy;
        const LoadResult result = load(copy, cut);
        EXPECT_FALSE(result.Accepted) << "cut at " << length;
        ASSERT_EQ(result.Lines.size(), 2u) << "cut at " << length;
        EXPECT_EQ(result.Lines.front().rfind("ERROR:", 0), 0u) << result.Lines.front();
        EXPECT_EQ(result.Lines.back().rfind("MODEL INFO: ", 0), 0u);
    }
}

TEST(MD3Reader, RefusesHostileCountsAndOffsetsBeforeAllocatingAndKeepsTheHeldModel)
{
    const TMD3Model source = MakeMD3Model(2, 2, 1);
    const std::vector<uint8_t> good = source.SaveToBytes();
    const auto first = std::size_t(source.Header.OfsSurfaces);
    const auto second = first + std::size_t(source.Surfaces[0].OfsEnd);
    const auto size = int32_t(good.size());
    struct Case {
        std::size_t At;
        int32_t Value;
        std::string Line;
    };
    const std::vector<Case> cases = {
        {4, 14, "ERROR:Unsupported MD3 version 14.(This only supports IDP3 version 15.)"},
        {76, -1, "ERROR:The header gives a negative number of frames (-1)."},
        {76, 2000000000, "ERROR:The 2000000000 frames of the file at offset 108 run past its end."},
        {80, 2000000000, "ERROR:The 4000000000 tags of the file at offset 220 run past its end."},
        {84, 2000000000, "ERROR:The 2000000000 surfaces of the file at offset 444 run past its end."},
        {92, -8, "ERROR:The 2 frames of the file at offset -8 start outside it."},
        {96, 108, "ERROR:The tags of the file overlap its frames."},
        {104, size + 1, "ERROR:The header places the end of the file at " + std::to_string(size + 1) + ", but the file has " +
                            std::to_string(size) + " bytes."},
        {first + 72, 3, "ERROR:Surface #1 has 3 frames, the model 2."},
        {first + 80, 2000000000, "ERROR:The 2000000000 texture coordinates of surface #1 at offset 200 run past its end."},
        {first + 84, 2000000000, "ERROR:The 2000000000 triangles of surface #1 at offset 108 run past its end."},
        {first + 88, 0, "ERROR:The triangles of surface #1 overlap its head."},
        {first + 104, 0, "ERROR:The head of surface #1 places its end at 0, inside the head."},
        {second + 104, 1 << 30, "ERROR:The file ends before the end of surface #2."},
        {first + 108, 4, "ERROR:Triangle #1 of surface #1 refers to vertex 4, beyond its 4 vertices."},
    };
    TMD3Model model;
    ASSERT_TRUE(load(model, good).Accepted);
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        putI32(bytes, c.At, c.Value);
        LargestAllocation = 0;
        const LoadResult result = load(model, bytes);
        EXPECT_LT(LargestAllocation.load(), 4096u) << c.Line;
        EXPECT_FALSE(result.Accepted) << c.Line;
        ASSERT_EQ(result.Lines.size(), 2u) << c.Line;
        EXPECT_EQ(result.Lines[0], c.Line);
        EXPECT_EQ(result.Lines[1].rfind("MODEL INFO: ", 0), 0u);
    }
    EXPECT_EQ(model.SaveToBytes(), good);
}

TEST(MD3View, ConcatenatesSurfacesInExactSixtyFourthsWithZUp)
{
    TMD3Model model = MakeMD3Model(2, 2, 1);
    model.Surfaces[1].Vertices[5 + 0] = {{{-32768, 32767, 64}}, 0x1234};  // frame 1, vertex 0
    const AnimatedMesh mesh = MeshOf(model);
    const AnimatedMesh byVertex = MeshOf(model, {.VertexMajor = true, .Normals = true, .Skin = true});
    ASSERT_TRUE(mesh.IsConsistent());
    ASSERT_EQ(mesh.VertexCount, 9u);
    EXPECT_EQ(mesh.VertexPart, (std::vector<uint32_t>{0, 0, 0, 0, 1, 1, 1, 1, 1}));
    EXPECT_EQ(mesh.Triangles[2].Vertex, (std::array<uint32_t, 3>{4, 5, 6}));  // surface 1's first
    EXPECT_EQ(mesh.Triangles[2].TexCoord, mesh.Triangles[2].Vertex);
    EXPECT_EQ(mesh.VertexTexCoords[4], (std::array<uint32_t, 2>{4, 4}));
    EXPECT_EQ(mesh.TriangleBack, std::vector<uint8_t>(mesh.Triangles.size(), 0));
    // The extremes of int16, and 64 units straight up.
    EXPECT_EQ(mesh.World(4, 1), (WorldPoint{-512.0, 32767.0 / 64, 1.0}));
    EXPECT_EQ(mesh.Normals[mesh.At(4, 1)], 0x1234);
    EXPECT_EQ(mesh.NormalCode, NormalCoding::LatLong);
    const std::array<float, 2> texels{0.0f, (0.25f + 0.125f) * 256};
    EXPECT_EQ(mesh.TexCoords[4], texels);
    EXPECT_EQ(mesh.FrameNames, (std::vector<std::string>{"frame0", "frame1"}));
    EXPECT_TRUE(std::all_of(mesh.Skins.begin(), mesh.Skins.end(), [](const MeshSkin& skin) { return skin.Width == 0; }));
    for (uint32_t v = 0; v < mesh.VertexCount; ++v)
        for (uint32_t f = 0; f < 2; ++f) EXPECT_EQ(byVertex.World(v, f), mesh.World(v, f));
}

TEST(MD3Reduce, KeepsSurvivorsOfEachSurfaceWithTheirBytesAndConsistentOffsets)
{
    TMD3Model model = MakeMD3Model(2, 3, 2);
    ScrambleMD3Layout(model);
    const TMD3Model before = model;
    // Surface 0 keeps 0, 2, 3 and the triangle over them; surface 1 keeps 5, 6, 8 (its 1, 2, 4) and no triangle.
    MeshSurvivors survivors;
    survivors.Vertices = {0, 2, 3, 5, 6, 8};
    survivors.TexCoords = survivors.Vertices;
    survivors.Triangles = {{{0, 1, 2}, {0, 1, 2}}};
    survivors.TriangleSource = {1};
    KeepSurvivors(model, survivors);

    const std::vector<uint8_t> bytes = model.SaveToBytes();
    TMD3Model reloaded;
    ASSERT_TRUE(load(reloaded, bytes).Accepted);
    EXPECT_EQ(reloaded.SaveToBytes(), bytes);
    EXPECT_EQ(reloaded.Header.OfsEnd, int32_t(bytes.size()));
    EXPECT_TRUE(sameBytes(reloaded.Frames, before.Frames));
    EXPECT_TRUE(sameBytes(reloaded.Tags, before.Tags));
    EXPECT_EQ(reloaded.GapBytes, before.GapBytes);
    const std::vector<std::vector<uint32_t>> kept = {{0, 2, 3}, {1, 2, 4}};
    for (std::size_t s = 0; s < 2; ++s) {
        const TMD3Surface& out = reloaded.Surfaces[s];
        const TMD3Surface& in = before.Surfaces[s];
        ASSERT_EQ(out.NumVerts, 3);
        EXPECT_TRUE(sameBytes(out.Shaders, in.Shaders));
        EXPECT_EQ(out.GapBytes, in.GapBytes);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(std::memcmp(&out.TexCoords[i], &in.TexCoords[kept[s][i]], sizeof(MD3TexCoord)), 0);
            for (std::size_t f = 0; f < 3; ++f)
                EXPECT_EQ(std::memcmp(&out.Vertices[f * 3 + i], &in.Vertices[f * std::size_t(in.NumVerts) + kept[s][i]], sizeof(MD3Vertex)), 0);
        }
    }
    ASSERT_EQ(reloaded.Surfaces[0].Triangles.size(), 1u);
    EXPECT_EQ(reloaded.Surfaces[0].Triangles[0].Vertex, (std::array<int32_t, 3>{0, 1, 2}));
    EXPECT_TRUE(reloaded.Surfaces[1].Triangles.empty());
    const AnimatedMesh mesh = MeshOf(reloaded);
    EXPECT_EQ(mesh.VertexCount, 6u);
    EXPECT_TRUE(mesh.IsConsistent());
}
