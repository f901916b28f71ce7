#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>

#include "model/MDLClass.h"
#include "model/ByteIO.h"
#include "reduce/Reduce.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

TEST(Cli, InfoPrintsTheContainerLinesAndTheWorstStatus)
{
    ScratchDir dir;
    const TMDLModel good = MakeOctahedron();
    WriteFile(dir.File("good.mdl"), good.SaveToBytes());
    std::vector<uint8_t> bad = good.SaveToBytes();
    bad[3] = '9';
    WriteFile(dir.File("bad.mdl"), bad);

    CliRun run = RunCli({"info", dir.File("good.mdl")}, dir);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices.\n");

    // With several files each line starts with its file's name.
    run = RunCli({"info", dir.File("good.mdl"), dir.File("bad.mdl")}, dir);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, dir.File("good.mdl") + ": MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices.\n" + dir.File("bad.mdl") +
                           ": ERROR:Unsupported model format.(This reads MDL5, MDL7, Quake MDL (IDPO), MD2 (IDP2) and MD3 (IDP3) models.)\n");

    run = RunCli({"info", dir.File("missing.mdl"), dir.File("bad.mdl")}, dir);
    EXPECT_EQ(run.Status, 3);
    EXPECT_NE(run.Err.find(dir.File("missing.mdl")), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("No such file"), std::string::npos) << run.Err;
}

TEST(Cli, UsageMistakesGiveStatusTwoAndHelpGivesZero)
{
    ScratchDir dir;
    WriteFile(dir.File("in.mdl"), MakeOctahedron().SaveToBytes());
    EXPECT_EQ(RunCli({}, dir).Status, 2);
    EXPECT_EQ(RunCli({"info"}, dir).Status, 2);
    EXPECT_EQ(RunCli({"reduce", dir.File("in.mdl")}, dir).Status, 2);
    EXPECT_EQ(RunCli({"reduce", "--level", "11", dir.File("in.mdl"), "-o", dir.File("out.mdl")}, dir).Status, 2);
    EXPECT_EQ(RunCli({"reduce", "--passes", "-1", dir.File("in.mdl"), "-o", dir.File("out.mdl")}, dir).Status, 2);
    EXPECT_EQ(RunCli({"reduce", dir.File("in.mdl"), "-o", dir.File("in.mdl")}, dir).Status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.mdl")));

    const CliRun help = RunCli({"--help"}, dir);
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("reduce"), std::string::npos);
    const CliRun version = RunCli({"--version"}, dir);
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("kelvane-cli ", 0), 0u);
}

TEST(Cli, OptionValuesOutsideTheirRangeSayTheRangeInPlainNumbers)
{
    ScratchDir dir;
    WriteFile(dir.File("in.mdl"), MakeOctahedron().SaveToBytes());
    const struct {
        const char* Command;
        std::vector<std::string> Words;
        const char* Message;
    } cases[] = {
        {"reduce", {"--ratio", "nan"}, "nan is not a number above 0 and at most 1"},
        {"reduce", {"--ratio", "inf"}, "inf is not a number above 0 and at most 1"},
        {"reduce", {"--ratio", "0"}, "0 is not a number above 0 and at most 1"},
        {"reduce", {"--ratio", "1.5"}, "1.5 is not a number above 0 and at most 1"},
        {"reduce", {"--target-tris", "0"}, "0 is not a whole number from 1 to 2147483647"},
        {"reduce", {"--target-tris", "-4"}, "-4 is not a whole number from 1 to 2147483647"},
        {"reduce", {"--passes", "-1"}, "-1 is not a whole number from 0 to 2147483647"},
        {"reduce", {"-j", "0"}, "0 is not a whole number from 1 to 2147483647"},
        {"reduce", {"--level", "11"}, "11 is not a whole number from 0 to 10"},
        {"reduce", {"--level", "abc"}, "\"abc\" is not a number"},
        {"reduce", {"--passes", "2.5"}, "\"2.5\" is not a whole number"},
        {"reduce", {"--level", "99999999999999999999"}, "99999999999999999999 is not a whole number from 0 to 10"},
        {"render", {"--yaw", "nan"}, "nan is not a number from -360 to 360"},
        {"render", {"--zoom", "0"}, "0 is not a number from 0.01 to 100"},
        {"render", {"--frame", "-1"}, "-1 is not a whole number from 0 to 2147483647"},
        {"compare", {"--frames", "0"}, "0 is not a whole number from 1 to 2147483647"},
        {"compare", {"--samples", "abc"}, "\"abc\" is not a number"},
    };
    for (const auto& c : cases) {
        const std::string command = c.Command;
        std::vector<std::string> args = {command, dir.File("in.mdl")};
        if (command == "compare") args.push_back(dir.File("in.mdl"));
        else args.insert(args.end(), {"-o", dir.File("out.mdl")});
        args.insert(args.end(), c.Words.begin(), c.Words.end());
        const CliRun run = RunCli(args, dir);
        EXPECT_EQ(run.Status, 2) << c.Words[0] << " " << c.Words[1];
        EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.mdl")));
}

TEST(Cli, ReduceWritesWhatTheContainerWouldAndNothingForARefusal)
{
    ScratchDir dir;
    const TMDLModel model = MakeTorus(10, 6, 3);
    std::vector<uint8_t> input = model.SaveToBytes();
    input.push_back(0x55);  // bytes after the last frame are not carried
    WriteFile(dir.File("in.mdl"), input);

    CliRun run = RunCli({"reduce", "--passes", "0", dir.File("in.mdl"), "-o", dir.File("copy.mdl")}, dir);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadWholeFile(dir.File("copy.mdl")), model.SaveToBytes());

    run = RunCli({"reduce", "--level", "7", "--passes", "2", dir.File("in.mdl"), "-o", dir.File("out.mdl")}, dir);
    EXPECT_EQ(run.Status, 0) << run.Err;
    TMDLModel expected = model;
    std::vector<std::string> lines{expected.ModelInfoLine()};
    CaptureLog(expected, lines);
    for (int pass = 0; pass < 2; ++pass) expected.Reduce(NormalLimitForLevel(7), kUVLimitTexels);
    std::string printed;
    for (const std::string& line : lines) printed += line + "\n";
    EXPECT_EQ(run.Out, printed);
    EXPECT_EQ(ReadWholeFile(dir.File("out.mdl")), expected.SaveToBytes());

    input[0] = 'X';
    WriteFile(dir.File("refused.mdl"), input);
    run = RunCli({"reduce", dir.File("refused.mdl"), "-o", dir.File("never.mdl")}, dir);
    EXPECT_EQ(run.Status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("never.mdl")));

    // A file error is one line naming the file and the reason.
    run = RunCli({"reduce", dir.File("in.mdl"), "-o", dir.File("no-folder/out.mdl")}, dir);
    EXPECT_EQ(run.Status, 3);
    EXPECT_EQ(run.Err, "kelvane-cli: Cannot create a file to save \"" + dir.File("no-folder/out.mdl") + "\": No such file or directory\n");
}

TEST(Cli, InfoOfAHostileFileCostsNoMoreThanAFewTimesItsSize)
{
#ifdef KELVANE_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#endif
    // 300 KB of triangles under a header that claims 268 million vertices
    // and no frames: the vertex count is backed by no bytes.
    std::vector<MDLTriangle> triangles;
    for (uint32_t t = 0; t < 25000; ++t) triangles.push_back(Tri(t % 60000, (t + 1) % 60000, (t + 2) % 60000, 0, 0, 0));
    TMDLModel model = MakeModel({}, triangles, {SkinVert{}});
    model.Header.NumVerts = 268435668;
    model.Header.NumFrames = -1;
    ScratchDir dir;
    WriteFile(dir.File("hostile.mdl"), model.SaveToBytes());
    for (const char* option : {"--details", "--json", "--"}) {  // plain info builds the details too
        const CliRun run = RunCli({"info", option, dir.File("hostile.mdl")}, dir, 256 * 1024);
        EXPECT_EQ(run.Status, 0) << option << run.Err;
        EXPECT_NE(run.Out.find("268435668"), std::string::npos) << run.Out;
    }
}

TEST(Cli, JsonStaysAValidDocumentForNamesThatAreNotUtf8)
{
    ScratchDir dir;
    const std::string latin1 = dir.File("lat\xe9n.mdl");
    WriteFile(latin1, MakeOctahedron().SaveToBytes());
    for (const std::vector<std::string>& args : {std::vector<std::string>{"info", "--json", latin1},
                                                 std::vector<std::string>{"reduce", "--json", latin1, "-o", dir.File("out\xff.mdl")}}) {
        const CliRun run = RunCli(args, dir);
        EXPECT_EQ(run.Status, 0) << args[0] << run.Err;
        const nlohmann::json report = nlohmann::json::parse(run.Out, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << run.Out;
        EXPECT_EQ(report["files"][0]["path"], dir.File("lat\xef\xbf\xbdn.mdl"));  // U+FFFD in place of the byte
    }
}

TEST(Cli, InfoAndReduceWarnOfBytesAfterTheModelEvenWhenQuiet)
{
    ScratchDir dir;
    // A frame count of -1 reads as no frames: the three frames of 60 vertices follow unread.
    TMDLModel model = MakeTorus(10, 6, 3);
    WriteFile(dir.File("whole.mdl"), model.SaveToBytes());
    model.Header.NumFrames = -1;
    WriteFile(dir.File("in.mdl"), model.SaveToBytes());
    const uint64_t frameBytes = 3 * (kDiskFrameHeadSize + 60 * kDiskFrameVertSize);
    for (const std::string file : {"in.mdl", "whole.mdl"})
        for (const std::vector<std::string>& words : {std::vector<std::string>{"info", "--json"}, {"reduce", "-q", "--json", "-o", dir.File("o.mdl")}}) {
            std::vector<std::string> args = words;
            args.push_back(dir.File(file));
            const CliRun run = RunCli(args, dir);
            const uint64_t trailing = file == "in.mdl" ? frameBytes : 0;
            EXPECT_EQ(run.Err, trailing == 0 ? "" : "kelvane-cli: warning: " + dir.File(file) + ": " + std::to_string(trailing) +
                                                        " bytes after the last triangle are not part of the model\n");
            EXPECT_EQ(nlohmann::json::parse(run.Out)["files"][0]["trailingBytes"], trailing) << words[0];
        }
}

TEST(Cli, MemoryGoesToTheModelAndItsLackIsAFileErrorNamingWhatDidNotFit)
{
#ifdef KELVANE_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limits allow";
#endif
    // 200,000 one-vertex frames: 8.8 MB of file, 21 MB of model; info used to take 60 MB.
    ScratchDir dir;
    const std::string big = dir.File("big.mdl"), torus = dir.File("torus.mdl"), png = dir.File("out.png");
    WriteFile(big, MakeModel(std::vector<std::vector<FrameVert>>(200000, {Vert(1, 2, 3)}), {Tri(0, 0, 0)}, {SkinVert{}}).SaveToBytes());
    WriteFile(torus, MakeTorus(12, 8, 2).SaveToBytes());
    const struct {
        std::vector<std::string> Words;
        uint64_t LimitMiB;
        std::string Printed, Unfit;  // no Unfit: it fits
    } rows[] = {
        {{"info", big}, 40, "1Vertices, 1Faces", ""},
        {{"info", "--details", big}, 40, "1Vertices, 1Faces", ""},
        {{"info", big, torus}, 16, "MODEL INFO: 96Vertices", big},  // the next file still goes
        {{"reduce", big, "-o", dir.File("out.mdl")}, 16, "", big},
        {{"compare", torus, big}, 16, "", big},
        {{"render", big, "-o", png}, 16, "", big},
        {{"render", torus, "--compare", torus, "--size", "4096x4096", "-o", png}, 100, "", png},  // 128 MB of pixels
    };
    for (const auto& row : rows) {
        const CliRun run = RunCli(row.Words, dir, row.LimitMiB * 1024);
        EXPECT_EQ(run.Status, row.Unfit.empty() ? 0 : 3) << row.Words[0] << run.Err;
        EXPECT_NE(run.Out.find(row.Printed), std::string::npos) << run.Out;
        EXPECT_EQ(run.Err, row.Unfit.empty() ? "" : "kelvane-cli: Not enough memory for \"" + row.Unfit + "\"\n");
    }
    EXPECT_FALSE(std::filesystem::exists(png));
}
