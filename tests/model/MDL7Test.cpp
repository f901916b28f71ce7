#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <variant>

#include "measure/Measure.h"
#include "model/ByteIO.h"
#include "model/formats/MDL7.h"
#include "reduce/Quadric.h"
#include "tests/support/AllocationWatch.h"
#include "tests/support/MDL7Builder.h"
#include "tests/support/QuakeModels.h"
#include "tests/support/TestFiles.h"

namespace {

std::size_t triangleCount(const TMDL7Model& model)
{
    std::size_t count = 0;
    for (const MDL7Group& g : model.Groups) count += g.Triangles.Count();
    return count;
}

// The model kept of model by a reduction to half its triangles, saved and loaded again.
TMDL7Model reducedToHalf(TMDL7Model model)
{
    const AnimatedMesh mesh = MeshOf(model, {.VertexMajor = true, .Normals = false, .Skin = false});
    MeshSurvivors survivors;
    ReduceQuadric(mesh, int64_t(mesh.Triangles.size() / 2), survivors);
    KeepSurvivors(model, survivors);
    TMDL7Model reloaded;
    EXPECT_TRUE(reloaded.LoadFromBytes(model.SaveToBytes()));
    return reloaded;
}

}  // namespace

TEST(MDL7Reader, SharedSamplesSaveTheirBytesAndReduceToHalfKeepingFramesAndGroups)
{
    struct Sample {
        const char* Name;
        std::size_t Groups, Frames, Bones;
    };
    for (const Sample& s : {Sample{"PhosphoricAcid_MDl7.mdl", 8, 0, 0}, Sample{"Sphere_DiffPinkBlueSpec_Alpha90.mdl", 1, 0, 0},
                            Sample{"mdl7-player.mdl", 1, 40, 17}, Sample{"mdl7-ball.mdl", 1, 1, 0}, Sample{"mdl7-earth.mdl", 1, 1, 0}}) {
        const std::string path = SharedModel(s.Name);
        if (path.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
        const std::vector<uint8_t> bytes = ReadWholeFile(path);
        TMDL7Model model;
        ASSERT_TRUE(model.LoadFromBytes(bytes)) << s.Name;
        EXPECT_EQ(model.SaveToBytes(), bytes) << s.Name;
        EXPECT_EQ(model.Groups.size(), s.Groups);
        EXPECT_EQ(model.Groups[0].Frames.size(), s.Frames);
        EXPECT_EQ(model.Bones.Count(), s.Bones);

        const std::size_t budget = triangleCount(model) / 2;
        const TMDL7Model half = reducedToHalf(model);
        EXPECT_LE(triangleCount(half), budget) << s.Name;
        EXPECT_GE(triangleCount(half) + 2, budget) << s.Name;
        ASSERT_EQ(half.Groups.size(), s.Groups);
        for (std::size_t g = 0; g < s.Groups; ++g) EXPECT_EQ(half.Groups[g].Frames.size(), model.Groups[g].Frames.size());
        EXPECT_EQ(half.Deformers.size(), model.Deformers.size());
    }
    // The compact file's group size leaves its 5-6-5 skin's pixels out, and so does its reduction's.
    TMDL7Model ball;
    ASSERT_TRUE(ball.LoadFromBytes(ReadWholeFile(SharedModel("mdl7-ball.mdl"))));
    const TMDL7Model halfBall = reducedToHalf(ball);
    EXPECT_EQ(uint64_t(halfBall.Groups[0].DataSize), halfBall.GroupSpan(0) - 256 * 256 * 2);
}

TEST(MDL7Reader, BuiltModelsOfEveryKindRoundTripAndEveryTruncationIsRefused)
{
    const std::vector<MDL7Shape> shapes = {{.Groups = 3, .Frames = 4},
                                           {.Frames = 5, .Bones = 3, .Deformer = true},
                                           {.Frames = 2, .Compact = true},
                                           {.Bones = 2, .Deformer = true, .EverySkin = true, .EditorBytes = 7},
                                           {.Groups = 0}};
    for (const MDL7Shape& shape : shapes) {
        const TMDL7Model original = MakeMDL7Model(shape);
        const std::vector<uint8_t> bytes = original.SaveToBytes();
        TMDL7Model copy;
        const LoadResult result = LoadLogged(copy, bytes);
        ASSERT_TRUE(result.Accepted) << result.Lines.front();
        EXPECT_EQ(result.Lines, std::vector<std::string>{original.ModelInfoLine()});
        EXPECT_EQ(copy.SaveToBytes(), bytes);
        EXPECT_TRUE(MeshOf(copy).IsConsistent());
        for (const MDL7Group& g : copy.Groups)
            EXPECT_EQ(g.SizeConvention, shape.Compact ? MDL7GroupSize::LessPixels : MDL7GroupSize::Whole);
    }
    EXPECT_EQ(FirstCutNotRefused<TMDL7Model>(MakeMDL7Model(shapes[3]).SaveToBytes()), "");
    EXPECT_EQ(FirstCutNotRefused<TMDL7Model>(MakeMDL7Model(shapes[1]).SaveToBytes()), "");
}

TEST(MDL7Reader, RefusesUnknownTypesAndHostileSizesNamingThemBeforeAllocating)
{
    const TMDL7Model source = MakeMDL7Model({.Frames = 1, .Bones = 2, .Deformer = true, .EverySkin = true});
    const std::vector<uint8_t> good = source.SaveToBytes();
    const std::size_t group = kMDL7HeaderSize + 2 * 36;
    const std::size_t skin = group + kMDL7GroupHeadSize;
    const std::size_t deformer = source.Header.DataSize - std::size_t(source.Deformers[0].DataSize);
    const MDL7Group& g = source.Groups[0];
    const std::size_t frameVertices = group + source.GroupSpan(0) - g.Frames[0].BoneMatrices.Bytes.size() - g.Frames[0].Vertices.Bytes.size();
    const std::size_t triangles = frameVertices - 24 - g.MainVertices.Bytes.size() - g.Triangles.Bytes.size();
    struct Case {
        std::size_t At;
        std::vector<uint8_t> Value;  // little-endian
        std::string Line;
    };
    const std::vector<Case> cases = {
        {skin, {0x09}, "ERROR:Skin #1 of group #1 has type 0x09, of kind 0x09, which this does not read."},
        {skin, {0x4E}, "ERROR:Skin #1 of group #1 has type 0x4E, with flag 0x40, which this does not read."},
        {skin, {0x8F}, "ERROR:Skin #1 of group #1 has type 0x8F, with flag 0x80, which this does not read."},
        {group, {2}, "ERROR:Group #1 has type 0x02; this reads groups of triangles (type 0x01) alone."},
        {deformer + 1, {1}, "ERROR:Deformer #1 has type 0x01; this reads bone deformers (type 0x00) alone."},
        {deformer + 4, {1}, "ERROR:Deformer #1 names group index 1, beyond the model's 1 groups."},
        {8, {0, 0x94, 0x35, 0x77}, "ERROR:The file ends before the 2000000000 bones of the model."},
        {group + 24, {0, 0x94, 0x35, 0x77}, "ERROR:The file ends before the 2000000000 skin heads of group #1."},
        {group + 40, {0, 0x94, 0x35, 0x77}, "ERROR:The file ends before the 2000000000 frame heads of group #1."},
        {skin + 4, {0, 0x94, 0x35, 0x77}, "ERROR:The file ends inside the pixels of Skin #1 of group #1."},
        {38, {4, 0}, "ERROR:The header gives triangle records of 4 bytes; they take at least 12."},
        {triangles, {64, 0}, "ERROR:Triangle #1 of group #1 refers to vertex 64, beyond its 16 main vertices."},
        {triangles + 6, {48, 0}, "ERROR:Triangle #1 of group #1 refers to texture coordinate 48, beyond its 16 texture coordinates."},
        {frameVertices + 12, {64, 0}, "ERROR:Vertex #1 of frame #1 of group #1 replaces main vertex 64, beyond its 16."},
        {16, {0xFF, 0xFF, 0xFF, 0x7F}, "ERROR:The header gives 2147483647 bytes of data and 0 of lumps, but the file has " +
                                           std::to_string(good.size()) + " bytes."},
    };
    TMDL7Model model;
    ASSERT_TRUE(LoadLogged(model, good).Accepted);
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        std::copy(c.Value.begin(), c.Value.end(), bytes.begin() + std::ptrdiff_t(c.At));
        LargestAllocation = 0;
        const LoadResult result = LoadLogged(model, bytes);
        EXPECT_LT(LargestAllocation.load(), 4096u) << c.Line;
        EXPECT_FALSE(result.Accepted) << c.Line;
        ASSERT_EQ(result.Lines.size(), 2u) << c.Line;
        EXPECT_EQ(result.Lines[0], c.Line);
    }
    EXPECT_EQ(model.SaveToBytes(), good);  // refusals keep the held model
}

TEST(MDL7View, PosesAreMainVerticesWithFrameVerticesMovedByBonesComposedWithTheirParents)
{
    // Column i of a grid is bound to bone i % 2; bone 1's matrix applies
    // first, then its parent bone 0's. Frame f turns bone b by 0.1 f (b + 1)
    // about z and moves it by (b, 0, f); it moves columns with (i + f) % 3 != 0.
    for (const bool deformer : {false, true}) {
        const TMDL7Model model = MakeMDL7Model({.Groups = 2, .Side = 3, .Frames = 3, .Bones = 2, .Deformer = deformer});
        const AnimatedMesh mesh = MeshOf(model);
        ASSERT_TRUE(mesh.IsConsistent());
        ASSERT_EQ(mesh.FrameCount, 3u);
        EXPECT_EQ(mesh.VertexPart, (std::vector<uint32_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
        const auto moved = [](std::array<double, 3> p, int bone, int f) {
            for (int b = bone; b >= 0; --b) {
                const double angle = double(0.1f * float(f * (b + 1))), c = std::cos(angle), s = std::sin(angle);
                p = {p[0] * c - p[1] * s + b, p[0] * s + p[1] * c, p[2] + f};
            }
            return p;
        };
        for (uint32_t v = 0; v < mesh.VertexCount; ++v)
            for (uint32_t f = 0; f < 3; ++f) {
                const int g = int(v / 9), i = int(v % 3), j = int(v % 9 / 3);
                const std::array<double, 3> p{10.0 * i + 100.0 * g, 10.0 * j, (i + int(f)) % 3 ? 4 * std::sin(0.9 * f + i) : 0.0};
                // Weights: three quarters its own bone, a quarter the other.
                const std::array<double, 3> own = moved(p, i % 2, int(f)), other = moved(p, (i + 1) % 2, int(f));
                const WorldPoint at = mesh.World(v, f);
                for (std::size_t a = 0; a < 3; ++a)
                    EXPECT_NEAR(at[a], deformer ? 0.75 * own[a] + 0.25 * other[a] : own[a], 2 * mesh.Transform(f).Scale[a]) << v << " " << f;
            }
    }
    // Without texture coordinates, corners share one and nothing measures the texture.
    TMDL7Model bare = MakeMDL7Model({.Side = 3});
    bare.Groups[0].TexCoords.Bytes.clear();
    for (std::size_t t = 0; t < bare.Groups[0].Triangles.Count(); ++t)
        for (std::size_t at = 6; at < 12; ++at) bare.Groups[0].Triangles[t][at] = 0xFF;
    const AnimatedMesh mesh = MeshOf(bare);
    EXPECT_TRUE(mesh.IsConsistent());
    EXPECT_EQ(mesh.TexCoords.size(), 1u);
    EXPECT_EQ(mesh.SkinWidth, 0);
}

TEST(MDL7Reduce, FrameVertexAnimatedGroupsReduceToHalfWithEveryFrameMeasured)
{
    const TMDL7Model model = MakeMDL7Model({.Groups = 3, .Side = 7, .Frames = 4});
    const TMDL7Model half = reducedToHalf(model);
    EXPECT_LE(triangleCount(half), triangleCount(model) / 2);
    for (const MDL7Group& g : half.Groups) EXPECT_EQ(g.Frames.size(), 4u);
    const auto measured = MeasureDeviation(MeshOf(model), MeshOf(half));
    ASSERT_TRUE(std::holds_alternative<DeviationSummary>(measured)) << std::get<std::string>(measured);
    const DeviationSummary& summary = std::get<DeviationSummary>(measured);
    EXPECT_EQ(summary.Frames.size(), 4u);
    EXPECT_TRUE(summary.TextureMeasured);
    EXPECT_LT(summary.Hausdorff, 0.05);
}

TEST(MDL7Reduce, KeepsFrameVerticesRenumberedInOrderWeightsOfKeptVerticesAndWorksOutSizes)
{
    for (const bool compact : {false, true}) {
        TMDL7Model model = MakeMDL7Model({.Groups = 2, .Frames = 3, .Bones = 2, .Deformer = true, .Compact = compact, .EditorBytes = 5});
        const TMDL7Model before = model;
        const AnimatedMesh mesh = MeshOf(model);
        std::vector<uint32_t> kept;
        for (uint32_t t = 0; t < mesh.Triangles.size(); t += 3) kept.push_back(t);
        const MeshSurvivors survivors = KeepTriangles(mesh, kept);
        LoadResult warned;
        model.LogLines = [&warned](const std::string& line) { warned.Lines.push_back(line); };
        KeepSurvivors(model, survivors);
        ASSERT_EQ(warned.Lines.size(), 1u);
        EXPECT_EQ(warned.Lines[0].rfind("WARNING:The editor lump (5 bytes)", 0), 0u);

        TMDL7Model reloaded;
        ASSERT_TRUE(reloaded.LoadFromBytes(model.SaveToBytes()));
        EXPECT_TRUE(reloaded.EditorLump.empty());
        EXPECT_EQ(reloaded.EntityLump, before.EntityLump);
        const MDL7Bases bases = BasesOf(before);
        for (std::size_t g = 0; g < 2; ++g) {
            const MDL7Group& in = before.Groups[g];
            const MDL7Group& out = reloaded.Groups[g];
            // The group's kept vertices in the output's order, by their old index.
            std::vector<uint32_t> old;
            for (uint32_t v : survivors.Vertices)
                if (v >= bases.Vertices[g] && v < bases.Vertices[g + 1]) old.push_back(v - bases.Vertices[g]);
            ASSERT_EQ(out.MainVertices.Count(), old.size());
            EXPECT_EQ(out.DataSize, int64_t(reloaded.GroupSpan(g)) - (compact ? int64_t(reloaded.GroupPixelBytes(g)) : 0));
            for (std::size_t f = 0; f < 3; ++f) {
                const MDL7Records& frame = out.Frames[f].Vertices;
                std::size_t expected = 0;
                for (std::size_t k = 0; k < in.Frames[f].Vertices.Count(); ++k)
                    expected += std::count(old.begin(), old.end(), mdl7::U16At(in.Frames[f].Vertices[k] + 12));
                ASSERT_EQ(frame.Count(), expected);
                for (std::size_t k = 0; k < frame.Count(); ++k) {
                    const uint16_t index = mdl7::U16At(frame[k] + 12);
                    ASSERT_LT(index, old.size());
                    EXPECT_TRUE(k == 0 || mdl7::U16At(frame[k - 1] + 12) < index);
                    // The same bytes as the frame vertex that replaced the old vertex, but for its index.
                    const MDL7Records& source = in.Frames[f].Vertices;
                    std::size_t s = 0;
                    while (s < source.Count() && mdl7::U16At(source[s] + 12) != old[index]) ++s;
                    ASSERT_LT(s, source.Count());
                    EXPECT_EQ(std::memcmp(frame[k], source[s], 12), 0);
                    EXPECT_EQ(std::memcmp(frame[k] + 14, source[s] + 14, frame.RecordSize - 14), 0);
                }
            }
            // Each bone keeps the weights of kept vertices; a vertex has two.
            const MDL7Deformer& d = reloaded.Deformers[g];
            std::size_t weights = 0;
            for (const MDL7Element& element : d.Elements) {
                weights += element.Weights.size();
                for (const MDL7Weight& weight : element.Weights) EXPECT_LT(std::size_t(weight.Vertex), old.size());
            }
            EXPECT_EQ(weights, 2 * old.size());
            EXPECT_EQ(std::size_t(d.DataSize), kMDL7DeformerHeadSize + d.Elements.size() * kMDL7ElementHeadSize + weights * kMDL7WeightSize);
            EXPECT_EQ(out.MostWeights, 2);
        }
    }
}
