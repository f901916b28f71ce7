#include <gtest/gtest.h>

#include <cstring>

#include "model/ByteIO.h"
#include "model/formats/QuakeMDL.h"
#include "tests/support/AllocationWatch.h"
#include "tests/support/QuakeModels.h"
#include "tests/support/TestFiles.h"

namespace {

LoadResult load(std::span<const uint8_t> bytes)
{
    TQuakeModel model;
    return LoadLogged(model, bytes);
}

void putI32(std::vector<uint8_t>& bytes, std::size_t offset, int32_t value)
{
    std::memcpy(bytes.data() + offset, &value, 4);  // the test host is little-endian
}

// Where the fixture's fields stand: the header, a single 8 x 4 skin, a group
// of two, five skin vertices, four triangles, a single frame (five vertices),
// then the frame group.
constexpr std::size_t kNumSkins = 48, kSkinWidth = 52, kNumVerts = 60, kNumTris = 64, kNumFrames = 68;
constexpr std::size_t kSkinGroupCount = 84 + 36 + 4;
constexpr std::size_t kTriangles = 84 + 36 + 80 + 60;
constexpr std::size_t kFrameGroupCount = kTriangles + 64 + 48 + 4;
constexpr std::size_t kFirstFrameVerts = kTriangles + 64 + 4 + 24;

}  // namespace

TEST(QuakeMDL, RoundTripsBuiltAndRealModelsByteForByte)
{
    for (uint32_t seed = 0; seed < 40; ++seed) {
        const std::vector<uint8_t> bytes = MakeQuakeModel(seed).SaveToBytes();
        TQuakeModel copy;
        const LoadResult result = LoadLogged(copy, bytes);
        ASSERT_TRUE(result.Accepted) << "seed " << seed << ": " << result.Lines.front();
        EXPECT_EQ(result.Lines, std::vector<std::string>{copy.ModelInfoLine()});
        EXPECT_EQ(copy.SaveToBytes(), bytes) << "seed " << seed;
    }
    // Bytes after the last frame come back, and are counted apart.
    std::vector<uint8_t> trailing = MakeQuakeModel().SaveToBytes();
    trailing.insert(trailing.end(), {9, 8, 7});
    TQuakeModel model;
    ASSERT_TRUE(model.LoadFromBytes(trailing));
    EXPECT_EQ(model.TrailingBytes.size(), 3u);
    EXPECT_EQ(model.SaveToBytes(), trailing);

    const std::string path = SharedModel("tekmechbot.mdl");
    if (path.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
    const std::vector<uint8_t> real = ReadWholeFile(path);
    const LoadResult result = LoadLogged(model, real);
    ASSERT_TRUE(result.Accepted);
    EXPECT_EQ(result.Lines, std::vector<std::string>{"MODEL INFO: 910Vertices, 1748Faces, 910Skin Vertices."});
    EXPECT_EQ(model.SaveToBytes(), real);
}

TEST(QuakeMDL, RefusesEveryTruncationWithAnErrorLine)
{
    const std::vector<uint8_t> whole = MakeQuakeModel().SaveToBytes();
    EXPECT_EQ(FirstCutNotRefused<TQuakeModel>(whole), "");
}

TEST(QuakeMDL, RefusesHostileCountsAndIndicesWithoutLargeAllocations)
{
    const std::vector<uint8_t> fixture = MakeQuakeModel().SaveToBytes();
    struct Case {
        std::size_t Offset;
        int32_t Value;
        const char* Line;
    };
    const Case cases[] = {
        {0, 0x4F504449 + 1, "ERROR:Unsupported Quake MDL format.(This only supports IDPO version 6.)"},
        {4, 7, "ERROR:Unsupported Quake MDL format.(This only supports IDPO version 6.)"},
        {kNumSkins, 2000000000, "ERROR:The file ends before its 2000000000 skins."},
        {kSkinWidth, 1 << 30, "ERROR:The skins' size of 1073741824 x 4 texels is empty or does not fit in 32 bits."},
        {kSkinWidth, 0, "ERROR:The skins' size of 0 x 4 texels is empty or does not fit in 32 bits."},
        {kNumVerts, 2000000000, "ERROR:The file ends before its 2000000000 skin vertex records."},
        {kNumVerts, -5, "ERROR:The header gives a negative vertex count (-5)."},
        {kNumTris, 100000000, "ERROR:The file ends before its 100000000 triangle records."},
        {kNumFrames, 2000000000, "ERROR:The file ends before its 2000000000 frames."},
        {kNumFrames, 0, "ERROR:The header gives 5 vertices but no frames to hold them."},
        {8, 0x7FC00000, "ERROR:The header's position scale (x) is not a finite number."},
        {28, int32_t(0xFF800000u), "ERROR:The header's position offset (z) is not a finite number."},
        {kSkinGroupCount, 1000000000, "ERROR:The file ends inside Skin #2."},
        {kSkinGroupCount, -1, "ERROR:Skin #2 is a group of -1 pictures."},
        {kFrameGroupCount, 1000000000, "ERROR:The file ends inside frame entry #2."},
        {kFrameGroupCount, -2, "ERROR:Frame entry #2 is a group of -2 frames."},
        {kTriangles + 16 + 8, 5, "ERROR:Triangle #2 refers to vertex 5, outside the 5 vertices of the model."},
        {kTriangles + 4, -1, "ERROR:Triangle #1 refers to vertex -1, outside the 5 vertices of the model."},
        // Vertex 2's bytes: x, y, z, then its normal index becomes 162.
        {kFirstFrameVerts + 4, int32_t(0xA2000000u), "ERROR:Vertex #2 of frame #1 has normal index 162, beyond the 162 normals of the table."},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = fixture;
        putI32(bytes, c.Offset, c.Value);
        LargestAllocation = 0;
        const LoadResult result = load(bytes);
        EXPECT_LT(LargestAllocation.load(), 4096u) << c.Line;
        EXPECT_FALSE(result.Accepted) << c.Line;
        ASSERT_EQ(result.Lines.size(), 2u) << c.Line;
        EXPECT_EQ(result.Lines[0], c.Line);
        EXPECT_EQ(result.Lines[1].rfind("MODEL INFO: ", 0), 0u);
    }
}

TEST(QuakeMDL, ViewGivesEveryFrameAndBackCoordinatesOnTheSeam)
{
    const TQuakeModel model = MakeQuakeModel();
    const AnimatedMesh mesh = MeshOf(model);
    ASSERT_TRUE(mesh.IsConsistent());
    EXPECT_EQ(mesh.FrameCount, 4u);  // a single frame, a group of two, a single frame
    EXPECT_EQ(mesh.FrameNames, (std::vector<std::string>{"frame0", "frame1", "frame2", "frame3"}));

    // Front coordinates at the vertices' own index, then the two seam vertices'
    // back ones, half the 8-texel skin further.
    ASSERT_EQ(mesh.TexCoords.size(), 7u);
    EXPECT_EQ(mesh.TexCoords[5], (std::array<float, 2>{0 + 4, 0}));
    EXPECT_EQ(mesh.TexCoords[6], (std::array<float, 2>{2 + 4, 2}));
    EXPECT_EQ(mesh.VertexTexCoords[0], (std::array<uint32_t, 2>{0, 5}));
    EXPECT_EQ(mesh.VertexTexCoords[1], (std::array<uint32_t, 2>{1, 1}));
    EXPECT_EQ(mesh.TriangleBack, (std::vector<uint8_t>{0, 0, 1, 1}));
    EXPECT_EQ(mesh.Triangles[0].TexCoord, (std::array<uint32_t, 3>{0, 1, 2}));  // front: own coordinates
    EXPECT_EQ(mesh.Triangles[2].TexCoord, (std::array<uint32_t, 3>{5, 6, 4}));  // back: seam vertices move
    EXPECT_EQ(mesh.Triangles[3].TexCoord, (std::array<uint32_t, 3>{6, 3, 4}));

    // Frame 2 (inside the group) stands 2 packed units further along x; z is up.
    const WorldPoint top = mesh.World(3, 2);
    EXPECT_EQ(top, (WorldPoint{(10 + 2) * 0.5 - 1, 5 * 0.5 - 2, 20 * 0.25 - 3}));
    EXPECT_GT(mesh.World(2, 0)[2], mesh.World(0, 0)[2]);
    EXPECT_EQ(mesh.Normals[mesh.At(1, 1)], 13 + 1);

    ASSERT_EQ(mesh.Skins.size(), 1u);
    EXPECT_EQ(mesh.Skins[0].Type, MeshSkin::Kind::Indexed8);
    EXPECT_EQ(mesh.Skins[0].Pixels, std::vector<uint8_t>(model.SkinPixels.begin(), model.SkinPixels.begin() + 32));
    EXPECT_EQ(MeshOf(model, {true, false, false}).Positions[3 * 4 + 2], mesh.Positions[mesh.At(3, 2)]);  // vertex-major
}

TEST(QuakeMDL, KeepingSurvivorsKeepsRecordBytesAndReloads)
{
    TQuakeModel model = MakeQuakeModel();
    const TQuakeModel before = model;
    // Keep the back triangles 0 2 4 and 2 3 4: vertex 1 goes.
    KeepSurvivors(model, KeepTriangles(MeshOf(model), {2, 3}));
    ASSERT_EQ(model.Header.NumVerts, 4);
    ASSERT_EQ(model.Header.NumTris, 2);
    const std::vector<uint32_t> kept = {0, 2, 3, 4};
    for (std::size_t f = 0; f < model.Frames.size(); ++f)
        for (std::size_t k = 0; k < kept.size(); ++k)
            EXPECT_EQ(std::memcmp(&model.FrameVerts[f * 4 + k], &before.FrameVerts[f * 5 + kept[k]], 4), 0) << f << " " << k;
    EXPECT_EQ(model.SkinVerts[1].OnSeam, before.SkinVerts[2].OnSeam);
    EXPECT_EQ(model.Triangles[0].Vertex, (std::array<int32_t, 3>{0, 1, 3}));
    EXPECT_EQ(model.Triangles[1].FacesFront, 0);

    const std::vector<uint8_t> saved = model.SaveToBytes();
    TQuakeModel reloaded;
    ASSERT_TRUE(LoadLogged(reloaded, saved).Accepted);
    EXPECT_EQ(reloaded.SaveToBytes(), saved);
    ASSERT_EQ(reloaded.FrameEntries.size(), before.FrameEntries.size());
    for (std::size_t e = 0; e < before.FrameEntries.size(); ++e) {  // a group's bounds as read, the upper apart from the lower
        if (before.FrameEntries[e].Type == 0) continue;
        for (const auto bounds : {&QuakeFrameEntry::BoundsMin, &QuakeFrameEntry::BoundsMax})
            EXPECT_EQ(std::memcmp(&(reloaded.FrameEntries[e].*bounds), &(before.FrameEntries[e].*bounds), kTriVertexSize), 0) << e;
    }
    // Skins and frame heads are untouched: the part before the skin vertices is the same.
    const std::vector<uint8_t> original = before.SaveToBytes();
    EXPECT_TRUE(std::equal(original.begin() + 84, original.begin() + 200, saved.begin() + 84));
    const AnimatedMesh view = MeshOf(reloaded);
    EXPECT_TRUE(view.IsConsistent());
    EXPECT_EQ(view.Triangles[0].TexCoord, (std::array<uint32_t, 3>{4, 5, 3}));  // seam vertices 0 and 1 now

}
