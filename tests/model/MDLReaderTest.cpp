#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <random>
#include <cstdlib>
#include <cstring>
#include <new>

#include "model/MDLClass.h"
#include "model/ByteIO.h"
#include "tests/support/AllocationWatch.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

namespace {
std::atomic<std::size_t>& largestAllocation = LargestAllocation;
}

namespace {

const std::string kUnsupported = "ERROR:Unsupported MDL format.(This only supports MDL5,8or16or24or32bit Skin with NO MIPMAP.)";

struct LoadResult {
    bool Accepted = false;
    std::vector<std::string> Lines;
};

LoadResult load(TMDLModel& model, std::span<const uint8_t> bytes)
{
    LoadResult result;
    CaptureLog(model, result.Lines);
    result.Accepted = model.LoadFromBytes(bytes);
    model.LogLines = nullptr;
    return result;
}

LoadResult load(std::span<const uint8_t> bytes)
{
    TMDLModel model;
    return load(model, bytes);
}

void putI32(std::vector<uint8_t>& bytes, std::size_t offset, int32_t value)
{
    std::memcpy(bytes.data() + offset, &value, 4);  // the test host is little-endian
}

void appendI32(std::vector<uint8_t>& bytes, int32_t value)
{
    bytes.resize(bytes.size() + 4);
    putI32(bytes, bytes.size() - 4, value);
}

// An 84-byte header with the given identifier and counts.
std::vector<uint8_t> header(const char* ident, int32_t skins, int32_t verts, int32_t tris, int32_t frames, int32_t skinVerts)
{
    std::vector<uint8_t> bytes(84, 0);
    std::memcpy(bytes.data(), ident, 4);
    for (std::size_t i = 4; i < 48; ++i) bytes[i] = uint8_t(i);
    putI32(bytes, 48, skins);
    putI32(bytes, 60, verts);
    putI32(bytes, 64, tris);
    putI32(bytes, 68, frames);
    putI32(bytes, 72, skinVerts);
    return bytes;
}

// A model with something in every section, for cutting and damaging.
TMDLModel fullModel()
{
    TMDLModel model = MakeOctahedron();
    model.Skins = {MakeSkin(4, 4, 2), MakeSkin(0, 3, 3)};
    model.Header.NumSkins = 2;
    return model;
}

}  // namespace

TEST(MDLReader, RoundTripsModelsBuiltInMemory)
{
    std::vector<TMDLModel> models = MakeSampleModels(20);
    models.push_back(fullModel());

    for (const TMDLModel& original : models) {
        const std::vector<uint8_t> bytes = original.SaveToBytes();
        TMDLModel copy;
        const LoadResult result = load(copy, bytes);
        EXPECT_TRUE(result.Accepted);
        EXPECT_EQ(result.Lines, std::vector<std::string>{original.ModelInfoLine()});
        EXPECT_EQ(copy.SaveToBytes(), bytes);
        for (const SkinVert& skin : copy.SkinVerts.Items) EXPECT_EQ(skin.Used, 0);
        EXPECT_TRUE(IsConsistent(copy));
    }
}

TEST(MDLReader, RoundTripsAndReducesModelsWithEverySkinType)
{
    // Bytes per pixel are spelled out here rather than taken from the reader's
    // table: a wrong entry there must show as a model read out of step.
    for (auto [type, bytesPerPixel] : {std::pair{0, 1}, std::pair{2, 2}, std::pair{3, 2}, std::pair{4, 3}, std::pair{5, 4}}) {
        TMDLModel model = MakeTorus(8, 6, 2);
        model.Skins.clear();
        // 3 x 5 and 1 x 1 give an odd number of bytes at 8 and 24 bits.
        for (auto [width, height] : {std::pair{3, 5}, std::pair{1, 1}, std::pair{4, 2}}) {
            TMDLSkin5& skin = model.Skins.emplace_back();
            skin.SkinType = type;
            skin.Width = width;
            skin.Height = height;
            skin.PixelSize = bytesPerPixel * width * height;
            for (int i = 0; i < skin.PixelSize; ++i) skin.Pixels.push_back(uint8_t(i * 13 + type));
        }
        model.Header.NumSkins = 3;
        const std::vector<uint8_t> bytes = model.SaveToBytes();
        TMDLModel copy;
        ASSERT_TRUE(load(copy, bytes).Accepted) << "type " << type;
        EXPECT_EQ(copy.SaveToBytes(), bytes) << "type " << type;
        model.Reduce(0.0f, 100.0f);
        copy.Reduce(0.0f, 100.0f);
        EXPECT_EQ(copy.SaveToBytes(), model.SaveToBytes()) << "type " << type;
        EXPECT_LT(copy.Header.NumTris, 96) << "type " << type;  // the pass did take something
    }
}

TEST(MDLReader, RoundTripsRealModelsByteForByte)
{
    for (const char* name : {"minigun.mdl", "earth.mdl"}) {
        const std::string path = SharedModel(name);
        if (path.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
        TMDLModel model;
        std::vector<std::string> lines;
        CaptureLog(model, lines);
        ASSERT_TRUE(model.LoadFromFile(path)) << name;
        ASSERT_EQ(lines.size(), 1u);
        ScratchDir dir;
        model.SaveToFile(dir.File(name));
        EXPECT_EQ(ReadWholeFile(dir.File(name)), ReadWholeFile(path)) << name;
    }
}

TEST(MDLReader, ReadsEmptyAndFrameOnlyModels)
{
    // All counts zero: a complete, empty model of 84 bytes.
    const std::vector<uint8_t> empty = header("MDL5", 0, 0, 0, 0, 0);
    TMDLModel model;
    LoadResult result = load(model, empty);
    EXPECT_TRUE(result.Accepted);
    EXPECT_EQ(result.Lines, std::vector<std::string>{"MODEL INFO: 0Vertices, 0Faces, 0Skin Vertices."});
    EXPECT_EQ(model.SaveToBytes(), empty);

    // Two frames of no vertices are two 36-byte heads.
    std::vector<uint8_t> frames = header("MDL5", 0, 0, 0, 2, 0);
    for (int i = 0; i < 72; ++i) frames.push_back(uint8_t(i));
    result = load(model, frames);
    EXPECT_TRUE(result.Accepted);
    EXPECT_EQ(model.Frames.size(), 2u);
    EXPECT_EQ(model.SaveToBytes(), frames);

    // Negative counts are absent sections; bytes after the last frame are ignored.
    std::vector<uint8_t> negative = header("MDL5", -1, -7, -3, 0, -2);
    negative.push_back(0xEE);
    result = load(model, negative);
    EXPECT_TRUE(result.Accepted);
    EXPECT_EQ(result.Lines.back(), "MODEL INFO: -7Vertices, -3Faces, -2Skin Vertices.");
    EXPECT_EQ(model.SaveToBytes(), std::vector<uint8_t>(negative.begin(), negative.end() - 1));
}

TEST(MDLReader, RefusesForeignIdentifiersAndKeepsThePreviousLists)
{
    for (const char* ident : {"MDL7", "mdl5", "MDL\0", "IDPO"}) {
        TMDLModel model = fullModel();
        const auto before = model.SaveToBytes();
        const LoadResult result = load(model, header(ident, 1, 12, 34, 0, 56));
        EXPECT_FALSE(result.Accepted) << ident;
        EXPECT_EQ(result.Lines, (std::vector<std::string>{kUnsupported, "MODEL INFO: 12Vertices, 34Faces, 56Skin Vertices."}));
        EXPECT_EQ(model.Triangles.Count, 8);
        EXPECT_EQ(model.Frames.size(), 2u);
        EXPECT_EQ(model.Header.NumVerts, 12);
    }
}

TEST(MDLReader, RejectedSkinGoesOnReadingRightAfterItsHead)
{
    // Two skins, the second of type 12: refused, the first held as read.
    std::vector<uint8_t> bytes = header("MDL5", 2, 0, 0, 0, 0);
    for (int32_t v : {0, 2, 2}) appendI32(bytes, v);
    for (uint8_t p : {1, 2, 3, 4}) bytes.push_back(p);
    for (int32_t v : {12, 8, 8}) appendI32(bytes, v);
    TMDLModel model;
    LoadResult result = load(model, bytes);
    EXPECT_FALSE(result.Accepted);
    EXPECT_EQ(result.Lines, (std::vector<std::string>{
                                "ERROR:Skin #2 is unsurpported format.(This only supports MDL5,8or16or24or32bit Skin with NO MIPMAP.)",
                                "MODEL INFO: 0Vertices, 0Faces, 0Skin Vertices."}));
    ASSERT_EQ(model.Skins.size(), 2u);
    EXPECT_EQ(model.Skins[0].Pixels, (std::vector<uint8_t>{1, 2, 3, 4}));

    // Type 1, and type 5 of height 0, are rejected too; the skin vertex after
    // them comes from the bytes right behind their heads.
    bytes = header("MDL5", 2, 0, 0, 0, 1);
    for (int32_t v : {1, 4, 4, 5, 4, 0}) appendI32(bytes, v);
    for (uint8_t b : {9, 0, 8, 0}) bytes.push_back(b);
    result = load(model, bytes);
    EXPECT_FALSE(result.Accepted);
    ASSERT_EQ(result.Lines.size(), 3u);
    EXPECT_EQ(result.Lines[1].rfind("ERROR:Skin #2 is unsurpported", 0), 0u);
    ASSERT_EQ(model.SkinVerts.Count, 1);
    EXPECT_EQ(model.SkinVerts.Items[0].U, 9);
    EXPECT_EQ(model.SkinVerts.Items[0].V, 8);
}

TEST(MDLReader, RefusesEveryTruncationWithAnErrorLine)
{
    const std::vector<uint8_t> whole = fullModel().SaveToBytes();
    for (std::size_t length = 0; length < whole.size(); ++length) {
        // Each cut in a buffer of its own exact size, so that a sanitizer sees any overrun.
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(length));
        const LoadResult result = load(cut);
        EXPECT_FALSE(result.Accepted) << "cut at " << length;
        ASSERT_GE(result.Lines.size(), 2u) << "cut at " << length;
        EXPECT_EQ(result.Lines.front().rfind("ERROR:", 0), 0u) << result.Lines.front();
        EXPECT_EQ(result.Lines.back().rfind("MODEL INFO: ", 0), 0u);
    }
    EXPECT_TRUE(load(whole).Accepted);
}

TEST(MDLReader, RefusesImpossibleCountsBeforeAllocating)
{
    struct Case {
        const char* What;
        std::vector<uint8_t> Bytes;
        const char* Line;
    };
    std::vector<Case> cases = {
        {"vertices", header("MDL5", 0, 2000000000, 0, 1, 0), "ERROR:The frame vertex list of 2000000000 records is too large."},
        {"frames", header("MDL5", 0, 100, 0, 2000000000, 0), "ERROR:The file ends before its 2000000000 frames of 100 vertices."},
        {"triangles", header("MDL5", 0, 0, 100000000, 0, 0), "ERROR:The file ends before its 100000000 triangle records."},
        {"skin vertices", header("MDL5", 0, 0, 0, 0, 2147483647), "ERROR:The skin vertex list of 2147483647 records is too large."},
        {"skins", header("MDL5", 2000000000, 0, 0, 0, 0), "ERROR:The skin list of 2000000000 records is too large."},
        {"negative vertices", header("MDL5", 0, -5, 0, 1, 0), "ERROR:The header gives 1 frame but a negative vertex count (-5)."},
    };
    // A skin whose pixels would need more than the file holds, one of negative
    // size and one whose size does not fit in 32 bits.
    for (auto [w, h, line] : {std::tuple{1000, 1000, "ERROR:The file ends inside the pixels of Skin #1."},
                              std::tuple{-3, 4, "ERROR:Skin #1 has a pixel size that is negative or does not fit in 32 bits."},
                              std::tuple{65536, 65536, "ERROR:Skin #1 has a pixel size that is negative or does not fit in 32 bits."},
                              std::tuple{INT32_MIN, INT32_MIN, "ERROR:Skin #1 has a pixel size that is negative or does not fit in 32 bits."}}) {
        Case skin{"skin", header("MDL5", 1, 0, 0, 0, 0), line};
        for (int32_t v : {5, w, h}) appendI32(skin.Bytes, v);
        cases.push_back(skin);
    }
    for (Case& c : cases) {
        c.Bytes.resize(std::max<std::size_t>(c.Bytes.size(), 100), 0);
        largestAllocation = 0;
        const LoadResult result = load(c.Bytes);
        EXPECT_LT(largestAllocation.load(), 4096u) << c.What;
        EXPECT_FALSE(result.Accepted) << c.What;
        ASSERT_EQ(result.Lines.size(), 2u) << c.What;
        EXPECT_EQ(result.Lines[0], c.Line);
        EXPECT_EQ(result.Lines[1].rfind("MODEL INFO: ", 0), 0u);
    }
}

TEST(MDLReader, RefusesIndicesOutsideTheirListsOnceForEachKind)
{
    TMDLModel model = MakeOctahedron();
    model.Triangles.Items[2].VertIndex[1] = 6;    // one past the vertices
    model.Triangles.Items[5].VertIndex[0] = 900;  // a second fault of the same kind
    model.Triangles.Items[3].SkinIndex[2] = 6;    // one past the skin vertices
    model.Frames[1].Items[4].NormalIndex = 162;   // one past the normal table
    const LoadResult result = load(model.SaveToBytes());
    EXPECT_FALSE(result.Accepted);
    EXPECT_EQ(result.Lines, (std::vector<std::string>{
                                "ERROR:Triangle #3 refers to vertex 6, beyond the 6 vertices of the model.",
                                "ERROR:Triangle #4 refers to skin vertex 6, beyond the 6 skin vertices of the model.",
                                "ERROR:Vertex #5 of frame #2 has normal index 162, beyond the 162 normals of the table.",
                                "MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices."}));

    // The highest valid values are accepted.
    TMDLModel edge = MakeOctahedron();
    edge.Triangles.Items[0].VertIndex[0] = 5;
    edge.Triangles.Items[0].SkinIndex[0] = 5;
    edge.Frames[0].Items[0].NormalIndex = 161;
    EXPECT_TRUE(load(edge.SaveToBytes()).Accepted);
}

TEST(MDLReader, LoadReplacesTheListsOfThePreviousModel)
{
    TMDLModel model = fullModel();
    std::vector<uint8_t> bare = header("MDL5", 0, 0, 0, 0, 0);
    EXPECT_TRUE(load(model, bare).Accepted);
    EXPECT_TRUE(model.Skins.empty());
    EXPECT_EQ(model.SkinVerts.Count, 0);
    EXPECT_EQ(model.Triangles.Count, 0);
    EXPECT_TRUE(model.Frames.empty());
    EXPECT_EQ(model.SaveToBytes(), bare);
}

TEST(MDLWriter, WritesTheLow16BitsOfLargeIndices)
{
    TMDLModel model = MakeOctahedron();
    model.Triangles.Items[0].VertIndex = {65536 + 3, 2, 4};
    model.Triangles.Items[0].SkinIndex = {0x12345, 1, 2};
    const std::vector<uint8_t> bytes = model.SaveToBytes();
    const std::size_t firstTriangle = 84 + 6 * 4;
    EXPECT_EQ(bytes[firstTriangle], 3);
    EXPECT_EQ(bytes[firstTriangle + 1], 0);
    EXPECT_EQ(bytes[firstTriangle + 6], 0x45);
    EXPECT_EQ(bytes[firstTriangle + 7], 0x23);
}

TEST(MDLModel, DeletionsShiftLaterRecordsAndIgnoreIndicesOutside)
{
    TMDLSkinVerts skins;
    skins.Items = {{10, 20, 0}, {30, 40, 1}};
    skins.Count = 2;
    skins.DeleteSkinVert(-1);
    skins.DeleteSkinVert(2);
    EXPECT_EQ(skins.Count, 2);
    skins.DeleteSkinVert(0);
    ASSERT_EQ(skins.Count, 1);
    ASSERT_EQ(skins.Items.size(), 1u);
    EXPECT_EQ(skins.Items[0].U, 30);
    EXPECT_EQ(skins.Items[0].V, 40);
    EXPECT_EQ(skins.Items[0].Used, 1);

    TMDLModel model = MakeOctahedron();
    model.Triangles.DeleteTriangle(model.Triangles.Count);
    EXPECT_EQ(model.Triangles.Count, 8);
    model.Triangles.DeleteTriangle(7);
    EXPECT_EQ(model.Triangles.Count, 7);
    EXPECT_EQ(model.Triangles.Items.back().VertIndex, (std::array<uint32_t, 3>{3, 1, 5}));

    TMDLFrame& frame = model.Frames[0];
    frame.DeleteVertex(2);
    ASSERT_EQ(frame.Count, 5);
    const std::vector<uint16_t> xs = {frame.Items[0].X, frame.Items[1].X, frame.Items[2].X, frame.Items[3].X, frame.Items[4].X};
    EXPECT_EQ(xs, (std::vector<uint16_t>{200, 0, 100, 100, 100}));
    EXPECT_EQ(frame.Items[2].Y, 0);  // former vertex 3
    EXPECT_EQ(model.Frames[1].Count, 6);
    EXPECT_EQ(model.Header.NumVerts, 6);

    TMDLFrame emptyFrame;
    emptyFrame.DeleteVertex(0);
    EXPECT_EQ(emptyFrame.Count, 0);
}

TEST(MDLReader, RealModelsCutOrDamagedAreRefusedWithoutOverreachingTheirSize)
{
#ifdef KELVANE_SANITIZED
    const std::size_t cutStep = 13;  // the sanitizers make every load several times slower
#else
    const std::size_t cutStep = 1;
#endif
    for (const char* name : {"minigun.mdl", "earth.mdl"}) {
        const std::string path = SharedModel(name);
        if (path.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
        const std::vector<uint8_t> whole = ReadWholeFile(path);
        double slowestSeconds = 0;
        std::size_t largest = 0;
        auto timedLoad = [&](std::span<const uint8_t> bytes) {
            largestAllocation = 0;
            const auto start = std::chrono::steady_clock::now();
            LoadResult result = load(bytes);
            slowestSeconds = std::max(slowestSeconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            largest = std::max(largest, largestAllocation.load());
            EXPECT_EQ(result.Lines.back().rfind("MODEL INFO: ", 0), 0u);
            return result;
        };

        // 1. every truncation is refused with an ERROR: line first
        for (std::size_t length = 0; length < whole.size(); length += cutStep) {
            const LoadResult result = timedLoad(std::span(whole.data(), length));
            ASSERT_FALSE(result.Accepted) << name << " cut at " << length;
            ASSERT_EQ(result.Lines.front().rfind("ERROR:", 0), 0u) << name << " cut at " << length;
        }

        // 2. random damage to the header and the first records of each section
        TMDLModel model;
        ASSERT_TRUE(model.LoadFromBytes(whole));
        std::vector<std::size_t> sectionStarts = {0, kDiskHeaderSize};
        std::size_t offset = kDiskHeaderSize;
        for (const TMDLSkin5& skin : model.Skins) offset += kDiskSkinHeadSize + skin.Pixels.size();
        sectionStarts.push_back(offset);
        offset += model.SkinVerts.Items.size() * kDiskSkinVertSize;
        sectionStarts.push_back(offset);
        offset += model.Triangles.Items.size() * kDiskTriangleSize;
        sectionStarts.push_back(offset);
        std::mt19937 random(20261207);
        std::vector<uint8_t> damaged = whole;
        int refused = 0;
        for (int round = 0; round < 3000; ++round) {
            damaged = whole;
            const int changes = 1 + int(random() % 4);
            for (int c = 0; c < changes; ++c) {
                const std::size_t start = sectionStarts[random() % sectionStarts.size()];
                const std::size_t at = std::min(whole.size() - 1, start + random() % 64);
                damaged[at] = uint8_t(random());
            }
            const LoadResult result = timedLoad(damaged);
            if (!result.Accepted) {
                ++refused;
                EXPECT_EQ(result.Lines.front().rfind("ERROR:", 0), 0u) << name << " round " << round;
            }
        }
        // Triangles take 24 bytes in memory for 12 on disk: no list may need more than that.
        EXPECT_LE(largest, 2 * whole.size()) << name;
        std::cout << name << ": " << whole.size() / cutStep << " cuts and 3000 damaged copies (" << refused
                  << " refused); slowest load " << slowestSeconds * 1e3 << " ms; largest allocation " << largest << " bytes for a file of "
                  << whole.size() << "\n";
    }
}

TEST(SmallVector, KeepsItsElementsInPlaceAndOnTheHeapThroughCopiesMovesAndEdits)
{
    // Growing past the lone element, even by one of its own.
    SmallVector<int> grown;
    grown.push_back(7);
    for (int i = 0; i < 4; ++i) grown.push_back(grown[0] + i);
    EXPECT_EQ(std::vector<int>(grown.begin(), grown.end()), (std::vector<int>{7, 7, 8, 9, 10}));
    grown.erase(grown.begin() + 1, grown.begin() + 3);
    EXPECT_EQ(std::vector<int>(grown.begin(), grown.end()), (std::vector<int>{7, 9, 10}));
    grown.resize(1);
    grown.shrink_to_fit();
    EXPECT_EQ(grown.size(), 1u);
    EXPECT_EQ(grown[0], 7);

    // A lone element and a list each copied and moved: every copy owns its
    // elements, and what was moved from is empty and usable.
    for (const std::vector<int>& list : {std::vector<int>{5}, std::vector<int>{1, 2, 3}}) {
        SmallVector<int> original = list;
        SmallVector<int> copy = original;
        copy[0] = 99;
        EXPECT_EQ(original[0], list[0]);
        SmallVector<int> moved = std::move(original);
        EXPECT_TRUE(original.empty());
        original.push_back(4);
        EXPECT_EQ(std::vector<int>(moved.begin(), moved.end()), list);
        EXPECT_EQ(original[0], 4);
        moved = copy;
        EXPECT_EQ(moved, copy);
        EXPECT_NE(moved.data(), copy.data());
    }

    // Frames in a model's list move and copy with their vertices.
    TMDLModel model;
    model.Frames.resize(3);
    model.Frames[1].Items = {FrameVert{1, 2, 3, 4, 0}};
    const TMDLModel copied = model;
    model.Frames.resize(2000);
    model.Frames[1].Items[0].X = 8;
    EXPECT_EQ(copied.Frames[1].Items[0].X, 1);
    EXPECT_EQ(copied.Frames[1].Items[0].NormalIndex, 4);
}
