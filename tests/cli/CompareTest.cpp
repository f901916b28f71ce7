#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/Deviation.h"
#include "pipeline/ReportLines.h"
#include "model/MDLClass.h"
#include "reduce/Reduce.h"
#include "tests/support/MD3Builder.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/Pictures.h"
#include "tests/support/ShapeModels.h"
#include "tests/support/TestFiles.h"

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

}  // namespace

TEST(CompareCli, PrintsEveryFrameAndTheSummaryOrOneJsonDocument)
{
    ScratchDir dir;
    TMDLModel original = MakeTorus(16, 8, 3);
    SetPositionTransform(original, {0.01f, 0.01f, 0.01f}, {0, 0, 0});
    // Bytes that are not UTF-8 in a name must still give a valid document.
    original.Frames[2].Name = {'r', 'u', 'n', char(0xFF), char(0xC3), 0};
    TMDLModel reduced = original;
    reduced.Reduce(NormalLimitForLevel(3), kUVLimitTexels);
    ASSERT_LT(reduced.Triangles.Count, original.Triangles.Count);
    WriteFile(dir.File("a.mdl"), original.SaveToBytes());
    WriteFile(dir.File("b.mdl"), reduced.SaveToBytes());

    CliRun run = RunCli({"compare", dir.File("a.mdl"), dir.File("b.mdl")}, dir);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> lines = linesOf(run.Out);
    ASSERT_EQ(lines.size(), 4u) << run.Out;
    EXPECT_EQ(lines[0].rfind("frame 0 frame0: Hausdorff ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[2].rfind("frame 2 run??: Hausdorff ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind("DEVIATION: Hausdorff ", 0), 0u) << lines[3];
    EXPECT_NE(lines[3].find("; 256 -> " + std::to_string(reduced.Triangles.Count) + " triangles"), std::string::npos);
    // Some frames alone measure as they do among all of them.
    run = RunCli({"compare", dir.File("a.mdl"), dir.File("b.mdl"), "--frames", "2"}, dir);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(linesOf(run.Out)[0], lines[0]);
    EXPECT_EQ(linesOf(run.Out)[1], lines[2]);

    run = RunCli({"compare", dir.File("a.mdl"), dir.File("b.mdl"), "--json", "--frames", "2", "--samples", "500", "--seed", "3"}, dir);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const nlohmann::json document = nlohmann::json::parse(run.Out);
    ASSERT_EQ(document["frames"].size(), 2u);
    EXPECT_EQ(document["frames"][1]["frame"], 2);
    EXPECT_EQ(document["frames"][1]["name"], "run\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_GT(document["rms"].get<double>(), 0);
    EXPECT_LE(document["rms"].get<double>(), document["hausdorff"].get<double>());
    EXPECT_EQ(document["triangles"], nlohmann::json({256, reduced.Triangles.Count}));
    for (const char* key : {"hausdorffFrame", "rmsFrame", "meanRms"}) EXPECT_TRUE(document.contains(key)) << key;

    // reduce --measure adds the same summary; without it nothing changes.
    const std::vector<std::string> reduce = {"reduce", "--level", "3", dir.File("a.mdl"), "-o", dir.File("c.mdl")};
    run = RunCli(reduce, dir);
    EXPECT_EQ(run.Out.find("DEVIATION"), std::string::npos);
    std::vector<std::string> measured = reduce;
    measured.push_back("--measure");
    run = RunCli(measured, dir);
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(linesOf(run.Out).back().rfind("DEVIATION: Hausdorff ", 0), 0u) << run.Out;
    measured.push_back("--json");
    run = RunCli(measured, dir);
    const nlohmann::json report = nlohmann::json::parse(run.Out);
    EXPECT_EQ(report["files"][0]["deviation"]["triangles"], nlohmann::json({256, reduced.Triangles.Count}));
}

TEST(CompareCli, RefusalsAndFileErrorsNameTheFilesAlsoAsJson)
{
    ScratchDir dir;
    WriteFile(dir.File("three.mdl"), MakeTorus(8, 6, 3).SaveToBytes());
    WriteFile(dir.File("two.mdl"), MakeTorus(8, 6, 2).SaveToBytes());
    std::vector<uint8_t> bad = MakeTorus(8, 6, 3).SaveToBytes();
    bad[3] = '9';
    WriteFile(dir.File("bad.mdl"), bad);
    const struct {
        std::string Other;
        int Status;
        std::string Said;
    } rows[] = {
        {dir.File("two.mdl"), 1, "cannot compare \"" + dir.File("three.mdl") + "\" with \"" + dir.File("two.mdl") + "\": the first model has 3 frames and the second 2"},
        {dir.File("bad.mdl"), 1, "\"" + dir.File("bad.mdl") + "\" is refused: ERROR:Unsupported model format."},
        {dir.File("missing.mdl"), 3, dir.File("missing.mdl")},
    };
    for (const auto& row : rows) {
        const CliRun run = RunCli({"compare", dir.File("three.mdl"), row.Other}, dir);
        EXPECT_EQ(run.Status, row.Status) << row.Other;
        EXPECT_EQ(run.Err.rfind("kelvane-cli: ", 0), 0u) << run.Err;
        EXPECT_NE(run.Err.find(row.Said), std::string::npos) << run.Err;
        EXPECT_TRUE(run.Out.empty());
        // With --json the reason is the document too.
        const CliRun json = RunCli({"compare", "--json", dir.File("three.mdl"), row.Other}, dir);
        const nlohmann::json document = nlohmann::json::parse(json.Out);
        EXPECT_EQ(document["status"], row.Status);
        EXPECT_NE(document["reason"].get<std::string>().find(row.Said), std::string::npos) << json.Out;
    }
    EXPECT_EQ(RunCli({"compare", dir.File("three.mdl")}, dir).Status, 2);
    EXPECT_EQ(RunCli({"compare", dir.File("three.mdl"), dir.File("three.mdl"), "--frames", "0"}, dir).Status, 2);
}

TEST(CompareCli, FiguresOfEverySizePrintWhole)
{
    // A position scale of 1e30 gave a figure cut off after 31 digits, without its decimals and "%".
    const struct {
        double Fraction;
        std::string Text;
    } rows[] = {{0.012345, "1.2345%"}, {9999.9999, "999999.9900%"}, {1.2289258928265704e28, "1.2289e+30%"}, {1e306, "1.0000e+308%"}};
    for (const auto& row : rows)
        EXPECT_EQ(FrameDeviationLine({3, "run", row.Fraction, row.Fraction}, false), "frame 3 run: Hausdorff " + row.Text + ", RMS " + row.Text);
    // Texels too: a texture coordinate of 1e30 must not cut the line.
    EXPECT_EQ(FrameDeviationLine({3, "run", 0, 0, 12.5, 1.2289e30}, true),
              "frame 3 run: Hausdorff 0.0000%, RMS 0.0000%, texture RMS 12.50, largest 1.2289e+30 texels");
}

TEST(CompareCli, CountsTexelsOfTheSkinFoundWhereTheFileGivesNoSize)
{
    // Two MD3 copies of one shape, the second's texture moved an eighth of
    // the skin sideways: 32 texels of MD3's nominal 256, 64 of a 512-wide skin.
    ScratchDir dir;
    const TMD3Model original = MakeTwoSurfaceMD3("skins/wide.tga", "skins/wide.tga");
    TMD3Model moved = original;
    for (TMD3Surface& surface : moved.Surfaces)
        for (MD3TexCoord& tc : surface.TexCoords) tc.S += 0.125f;
    WriteFile(dir.File("a.md3"), original.SaveToBytes());
    WriteFile(dir.File("b.md3"), moved.SaveToBytes());
    const auto textureRms = [&] {
        const CliRun run = RunCli({"compare", dir.File("a.md3"), dir.File("b.md3"), "--json"}, dir);
        EXPECT_EQ(run.Status, 0) << run.Err;
        return nlohmann::json::parse(run.Out).at("textureRms").get<double>();
    };
    const double nominal = textureRms();
    EXPECT_NEAR(nominal, 32, 2);
    WriteFile(dir.File("wide.tga"), EncodePicture(PictureKind::TGA, 512, 64, std::vector<uint8_t>(512 * 64 * 4, 90)));
    EXPECT_DOUBLE_EQ(textureRms(), 2 * nominal);
}
