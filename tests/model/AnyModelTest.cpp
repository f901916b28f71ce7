#include <gtest/gtest.h>

#include "model/AnyModel.h"
#include "model/ByteIO.h"
#include "tests/support/AnimatedModels.h"
#include "tests/support/MD3Builder.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/QuakeModels.h"
#include "tests/support/TestFiles.h"

TEST(AnyModel, ReadsEachFormatByItsMagicAndSavesItBack)
{
    const std::pair<ModelFormat, std::vector<uint8_t>> models[] = {
        {ModelFormat::MDL5, MakeOctahedron().SaveToBytes()},
        {ModelFormat::QuakeMDL, MakeQuakeModel().SaveToBytes()},
        {ModelFormat::MD2, MakeMD2Model().SaveToBytes()},
        {ModelFormat::MD3, MakeMD3Model(2, 3, 1).SaveToBytes()},
    };
    ScratchDir dir;
    TAnyModel model;
    for (const auto& [format, bytes] : models) {
        WriteFile(dir.File("in"), bytes);
        const LoadResult result = LoadLogged(model, ReadWholeFile(dir.File("in")));
        ASSERT_TRUE(result.Accepted) << FormatName(format);
        EXPECT_EQ(result.Lines, std::vector<std::string>{model.ModelInfoLine()});
        EXPECT_EQ(model.Format(), format);
        EXPECT_EQ(model.MDL5() != nullptr, format == ModelFormat::MDL5);
        EXPECT_TRUE(model.Mesh().IsConsistent());
        model.SaveToFile(dir.File("out"));
        EXPECT_EQ(ReadWholeFile(dir.File("out")), bytes) << model.FormatName();
    }
    // Bytes of no known format are refused with one line, and the held model stays.
    const std::vector<uint8_t> foreign = {'I', 'D', 'P', '4', 0, 0};
    EXPECT_EQ(FormatOf(foreign), std::nullopt);
    const LoadResult result = LoadLogged(model, foreign);
    EXPECT_FALSE(result.Accepted);
    EXPECT_EQ(result.Lines, std::vector<std::string>{
                                "ERROR:Unsupported model format.(This reads MDL5, MDL7, Quake MDL (IDPO), MD2 (IDP2) and MD3 (IDP3) models.)"});
    EXPECT_EQ(model.Format(), ModelFormat::MD3);
    EXPECT_EQ(FormatOf(std::vector<uint8_t>{'I', 'D', 'P', '3'}), ModelFormat::MD3);
}

TEST(AnyModel, AViewOfSomeFramesHoldsThoseFramesInTheirOrder)
{
    const std::vector<uint8_t> models[] = {MakeBendingTube(4, 4, 3).SaveToBytes(), MakeQuakeModel().SaveToBytes(),
                                           MakeMD2Model().SaveToBytes(), MakeMD3Model(2, 3, 1).SaveToBytes()};
    const std::vector<int> frames = {2, 0, 99, -1};  // those past the last are left out
    for (const auto& bytes : models) {
        TAnyModel model;
        ASSERT_TRUE(model.LoadFromBytes(bytes));
        const AnimatedMesh whole = model.Mesh();
        for (bool vertexMajor : {false, true}) {
            const AnimatedMesh part = model.Mesh({.VertexMajor = vertexMajor, .Frames = &frames});
            ASSERT_EQ(part.FrameCount, 2u) << model.FormatName();
            for (uint32_t f = 0; f < 2; ++f) {
                EXPECT_EQ(part.FrameNames[f], whole.FrameNames[uint32_t(frames[f])]) << model.FormatName();
                EXPECT_EQ(part.Transform(f).Offset, whole.Transform(uint32_t(frames[f])).Offset) << model.FormatName();
                for (uint32_t v = 0; v < part.VertexCount; ++v)
                    EXPECT_EQ(part.Positions[part.At(v, f)], whole.Positions[whole.At(v, uint32_t(frames[f]))]) << model.FormatName();
            }
        }
    }
}
