#include <gtest/gtest.h>

#include "model/AnyModel.h"
#include "model/MDLFile.h"
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
                                "ERROR:Unsupported model format.(This reads MDL5, Quake MDL (IDPO), MD2 (IDP2) and MD3 (IDP3) models.)"});
    EXPECT_EQ(model.Format(), ModelFormat::MD3);
    EXPECT_EQ(FormatOf(std::vector<uint8_t>{'I', 'D', 'P', '3'}), ModelFormat::MD3);
}
