#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "model/formats/MD2.h"
#include "model/ByteIO.h"
#include "tests/support/AllocationWatch.h"
#include "tests/support/QuakeModels.h"
#include "tests/support/TestFiles.h"

namespace {

LoadResult load(std::span<const uint8_t> bytes)
{
    TMD2Model model;
    return LoadLogged(model, bytes);
}

// A triangle as the game draws it: three (vertex, s bits, t bits) corners,
// turned to the smallest of its three turns, which keep the winding.
using DrawnTriangle = std::array<std::array<int32_t, 3>, 3>;

DrawnTriangle turned(DrawnTriangle tri)
{
    DrawnTriangle best = tri;
    for (int turn = 0; turn < 2; ++turn) {
        std::rotate(tri.begin(), tri.begin() + 1, tri.end());
        best = std::min(best, tri);
    }
    return best;
}

// Every triangle a GL command list draws, sorted.
std::vector<DrawnTriangle> drawnBy(const std::vector<int32_t>& words)
{
    std::vector<DrawnTriangle> drawn;
    for (std::size_t at = 0; at < words.size() && words[at] != 0;) {
        const int32_t count = words[at++];
        std::vector<std::array<int32_t, 3>> v;
        for (int32_t k = 0; k < std::abs(count); ++k, at += 3) v.push_back({words[at + 2], words[at], words[at + 1]});
        for (std::size_t i = 0; i + 2 < v.size(); ++i) {
            if (count < 0)
                drawn.push_back(turned({v[0], v[i + 1], v[i + 2]}));
            else
                drawn.push_back(turned(i % 2 ? DrawnTriangle{v[i + 1], v[i], v[i + 2]} : DrawnTriangle{v[i], v[i + 1], v[i + 2]}));
        }
    }
    std::sort(drawn.begin(), drawn.end());
    return drawn;
}

// The triangle list as it should be drawn: corners in list order, texture
// coordinates at texel centres.
std::vector<DrawnTriangle> listed(const TMD2Model& model)
{
    std::vector<DrawnTriangle> out;
    for (const MD2Triangle& tri : model.Triangles) {
        DrawnTriangle d;
        for (std::size_t j = 0; j < 3; ++j) {
            const MD2TexCoord tc = model.TexCoords[tri.TexCoord[j]];
            d[j] = {tri.Vertex[j], std::bit_cast<int32_t>(float((tc.S + 0.5) / model.Header.SkinWidth)),
                    std::bit_cast<int32_t>(float((tc.T + 0.5) / model.Header.SkinHeight))};
        }
        out.push_back(turned(d));
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<uint32_t> everyOther(std::size_t count)
{
    std::vector<uint32_t> kept;
    for (uint32_t t = 0; t < count; t += 2) kept.push_back(t);
    return kept;
}

}  // namespace

TEST(MD2, RoundTripsBuiltOddAndRealModelsByteForByte)
{
    std::vector<TMD2Model> models;
    for (uint32_t seed = 0; seed < 40; ++seed) models.push_back(MakeMD2Model(seed));
    for (uint32_t seed : {0u, 7u}) {
        models.push_back(MakeMD2Model(seed));
        SetOddLayout(models.back());
    }
    for (const TMD2Model& original : models) {
        const std::vector<uint8_t> bytes = original.SaveToBytes();
        TMD2Model copy;
        const LoadResult result = LoadLogged(copy, bytes);
        ASSERT_TRUE(result.Accepted) << result.Lines.front();
        EXPECT_EQ(result.Lines, std::vector<std::string>{copy.ModelInfoLine()});
        EXPECT_EQ(copy.SaveToBytes(), bytes);
    }
    // The odd layout: sections in reverse, the empty skins at 0, the end past the file.
    TMD2Model oddCopy;
    ASSERT_TRUE(oddCopy.LoadFromBytes(models.back().SaveToBytes()));
    const MD2Header& odd = oddCopy.Header;
    EXPECT_LT(odd.OfsGLCommands, odd.OfsFrames);
    EXPECT_LT(odd.OfsTris, odd.OfsTexCoords);
    EXPECT_EQ(odd.OfsSkins, 0);
    EXPECT_EQ(std::size_t(odd.OfsEnd), models.back().SaveToBytes().size() + 4);

    const std::string path = SharedModel("faerie.md2");
    if (path.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
    const std::vector<uint8_t> real = ReadWholeFile(path);
    TMD2Model model;
    const LoadResult result = LoadLogged(model, real);
    ASSERT_TRUE(result.Accepted);
    EXPECT_EQ(result.Lines, std::vector<std::string>{"MODEL INFO: 366Vertices, 654Faces, 487Skin Vertices."});
    EXPECT_EQ(model.SaveToBytes(), real);
}

TEST(MD2, RefusesEveryTruncationWithAnErrorLine)
{
    const std::vector<uint8_t> whole = MakeMD2Model().SaveToBytes();
    EXPECT_EQ(FirstCutNotRefused<TMD2Model>(whole), "");
}

TEST(MD2, RefusesHostileCountsOffsetsAndIndicesWithoutLargeAllocations)
{
    // The fixture: header, 2 skin names at 68, 7 texture coordinates at 196,
    // 4 triangles at 224, 4 frames of 60 bytes at 272, 27 GL words at 512.
    const std::vector<uint8_t> fixture = MakeMD2Model().SaveToBytes();
    ASSERT_EQ(fixture.size(), 512u + 27 * 4);
    struct Case {
        std::size_t Offset;
        int64_t Value;
        std::size_t Width;
        const char* Line;
    };
    const Case cases[] = {
        {4, 9, 4, "ERROR:Unsupported MD2 format.(This only supports IDP2 version 8.)"},
        {16, 59, 4, "ERROR:The frame size of 59 bytes is less than the 60 bytes of a frame of 5 vertices."},
        {16, 2000000000, 4, "ERROR:The file ends before its 4 frame records."},
        {24, 2000000000, 4, "ERROR:The frame size of 60 bytes is less than the 8000000040 bytes of a frame of 2000000000 vertices."},
        {28, -1, 4, "ERROR:The header gives a negative texture coordinate count (-1)."},
        {32, 100000000, 4, "ERROR:The file ends before its 100000000 triangle records."},
        {36, 1000000000, 4, "ERROR:The file ends before its 1000000000 GL command word records."},
        {40, 2000000000, 4, "ERROR:The file ends before its 2000000000 frame records."},
        {40, 0, 4, "ERROR:The header gives 5 vertices but no frames to hold them."},
        {52, 10, 4, "ERROR:The 4 triangle records at offset 10 overlap the header."},
        {52, -100, 4, "ERROR:The 4 triangle records at offset -100 overlap the header."},
        {52, 2147483600, 4, "ERROR:The file ends before its 4 triangle records."},
        {52, 200, 4, "ERROR:The texture coordinate records and the triangle records overlap in the file."},
        {224 + 12 + 2, 5, 2, "ERROR:Triangle #2 refers to vertex 5, beyond the 5 vertices of the model."},
        {224 + 6, 7, 2, "ERROR:Triangle #1 refers to texture coordinate 7, beyond the 7 texture coordinates of the model."},
        {272 + 60 + 4, 0x7FC00000, 4, "ERROR:Frame #2's position scale (y) is not a finite number."},
        {272 + 3 * 60 + 12, 0x7F800000, 4, "ERROR:Frame #4's position offset (x) is not a finite number."},
        {272 + 60 + 40 + 3, 162, 1, "ERROR:Vertex #1 of frame #2 has normal index 162, beyond the 162 normals of the table."},
        {512 + 3 * 4, 5, 4, "ERROR:GL command word #4 refers to vertex 5, beyond the 5 vertices of the model."},
        {512 + 26 * 4, 4, 4, "ERROR:The GL command list runs past its 27 words without an end."},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = fixture;
        for (std::size_t b = 0; b < c.Width; ++b) bytes[c.Offset + b] = uint8_t(uint64_t(c.Value) >> (8 * b));
        LargestAllocation = 0;
        const LoadResult result = load(bytes);
        EXPECT_LT(LargestAllocation.load(), 4096u) << c.Line;
        EXPECT_FALSE(result.Accepted) << c.Line;
        ASSERT_EQ(result.Lines.size(), 2u) << c.Line;
        EXPECT_EQ(result.Lines[0], c.Line);
        EXPECT_EQ(result.Lines[1].rfind("MODEL INFO: ", 0), 0u);
    }
}

TEST(MD2, ViewGivesEachFrameItsOwnTransform)
{
    const TMD2Model model = MakeMD2Model();
    const AnimatedMesh mesh = MeshOf(model);
    ASSERT_TRUE(mesh.IsConsistent());
    EXPECT_EQ(mesh.FrameNames, (std::vector<std::string>{"frame0", "frame1", "frame2", "frame3"}));
    // Frame 2 stands 2 packed units further along x, scaled by 1.5 and moved by 2; z is up.
    EXPECT_EQ(mesh.World(1, 2), (WorldPoint{(10 + 2) * 1.5 + 2, 0 * 0.5 - 2, 0 * 0.25 - 3}));
    EXPECT_EQ(mesh.World(1, 0), (WorldPoint{10 * 0.5 + 0, -2, -3}));
    EXPECT_GT(mesh.World(2, 1)[2], mesh.World(0, 1)[2]);
    // Corners choose texture coordinates freely: the back triangles' own.
    EXPECT_TRUE(mesh.VertexTexCoords.empty());
    EXPECT_EQ(mesh.Triangles[2].TexCoord, (std::array<uint32_t, 3>{5, 6, 4}));
    EXPECT_EQ(mesh.TexCoords[6], (std::array<float, 2>{2 + 4, 2}));
    EXPECT_EQ(mesh.SkinWidth, 8);
    EXPECT_TRUE(mesh.Skins.empty());  // the file names its skins only
}

TEST(MD2, KeepingSurvivorsKeepsRecordBytesAndRebuildsTheGLCommands)
{
    // Keep the back triangles 0 2 4 and 2 3 4, in both layouts.
    for (const bool odd : {false, true}) {
        TMD2Model model = MakeMD2Model();
        if (odd) SetOddLayout(model);
        const TMD2Model before = model;
        KeepSurvivors(model, KeepTriangles(MeshOf(model), {2, 3}));
        EXPECT_EQ(model.Header.NumVertices, 4);
        EXPECT_EQ(model.Header.NumTexCoords, 4);  // 3, 4, 5 and 6
        EXPECT_EQ(model.Header.FrameSize, 40 + 4 * 4 + (odd ? 4 : 0));
        const std::vector<uint32_t> kept = {0, 2, 3, 4};
        for (std::size_t f = 0; f < model.Frames.size(); ++f)
            for (std::size_t k = 0; k < kept.size(); ++k)
                EXPECT_EQ(std::memcmp(&model.FrameVerts[f * 4 + k], &before.FrameVerts[f * 5 + kept[k]], 4), 0);
        EXPECT_EQ(model.TexCoords[2].S, before.TexCoords[5].S);
        for (std::size_t i = 0; i < 2; ++i)  // each kept corner's coordinate, by value
            for (std::size_t j = 0; j < 3; ++j)
                EXPECT_EQ(model.TexCoords[model.Triangles[i].TexCoord[j]].T, before.TexCoords[before.Triangles[2 + i].TexCoord[j]].T);

        const std::vector<uint8_t> saved = model.SaveToBytes();
        TMD2Model reloaded;
        ASSERT_TRUE(LoadLogged(reloaded, saved).Accepted);
        EXPECT_EQ(reloaded.SaveToBytes(), saved);
        EXPECT_EQ(reloaded.FramePadding, model.FramePadding);
        EXPECT_EQ(drawnBy(reloaded.GLCommands), listed(reloaded));
        EXPECT_EQ(drawnBy(reloaded.GLCommands).size(), 2u);
    }

    // A real model's own list draws what the rebuilt one draws; then a
    // reduction's list draws exactly the kept triangles.
    const std::string path = SharedModel("faerie.md2");
    if (path.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
    TMD2Model faerie;
    ASSERT_TRUE(faerie.LoadFromBytes(ReadWholeFile(path)));
    EXPECT_EQ(drawnBy(faerie.GLCommands), listed(faerie));
    EXPECT_EQ(drawnBy(BuildGLCommands(faerie)), listed(faerie));
    KeepSurvivors(faerie, KeepTriangles(MeshOf(faerie), everyOther(faerie.Triangles.size())));
    EXPECT_EQ(faerie.Header.NumTris, 327);
    EXPECT_EQ(drawnBy(faerie.GLCommands), listed(faerie));
    TMD2Model reloaded;
    EXPECT_TRUE(reloaded.LoadFromBytes(faerie.SaveToBytes()));
}

TEST(MD2, GLCommandsDrawARowOfQuadsAsOneStripWoundAsListed)
{
    //  0---2---4---6   listed as a strip runs: (0 1 2), (2 1 3), (2 3 4), (4 3 5)...
    //  | / | / | / |
    //  1---3---5---7
    TMD2Model row = MakeMD2Model();
    row.TexCoords.clear();
    row.Triangles.clear();
    for (int16_t v = 0; v < 8; ++v) row.TexCoords.push_back({int16_t(4 * v), int16_t(4 * (v % 2))});
    for (uint16_t a = 0; a < 6; a += 2)
        for (const std::array<uint16_t, 3> corners : {std::array<uint16_t, 3>{a, uint16_t(a + 1), uint16_t(a + 2)},
                                                      std::array<uint16_t, 3>{uint16_t(a + 2), uint16_t(a + 1), uint16_t(a + 3)}})
            row.Triangles.push_back({corners, corners});
    const std::vector<int32_t> words = BuildGLCommands(row);
    EXPECT_EQ(words.front(), 8);  // one strip of every corner, then the end
    EXPECT_EQ(words.size(), 1 + 8 * 3 + 1u);
    EXPECT_EQ(drawnBy(words), listed(row));
}
