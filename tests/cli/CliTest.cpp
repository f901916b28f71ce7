#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "model/MDLClass.h"
#include "model/MDLFile.h"
#include "reduce/Reduce.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

namespace {

struct CliRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

std::string quoted(const std::string& word)
{
    std::string result = "'";
    for (char c : word) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

std::string readText(const std::string& fileName)
{
    std::ifstream in(fileName);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs kelvane-cli with these arguments, standard error kept apart.
CliRun cli(const std::vector<std::string>& args, const ScratchDir& dir)
{
    std::string command = quoted(KELVANE_CLI);
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " 2>" + quoted(dir.File("stderr.txt")) + " </dev/null";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.Out.append(chunk, n);
    const int status = ::pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.Err = readText(dir.File("stderr.txt"));
    return run;
}

}  // namespace

TEST(Cli, InfoPrintsTheContainerLinesAndTheWorstStatus)
{
    ScratchDir dir;
    const TMDLModel good = MakeOctahedron();
    WriteFile(dir.File("good.mdl"), good.SaveToBytes());
    std::vector<uint8_t> bad = good.SaveToBytes();
    bad[3] = '7';
    WriteFile(dir.File("bad.mdl"), bad);

    CliRun run = cli({"info", dir.File("good.mdl")}, dir);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, "MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices.\n");

    run = cli({"info", dir.File("good.mdl"), dir.File("bad.mdl")}, dir);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices.\n"
                       "ERROR:Unsupported MDL format.(This only supports MDL5,8or16or24or32bit Skin with NO MIPMAP.)\n"
                       "MODEL INFO: 6Vertices, 8Faces, 6Skin Vertices.\n");

    run = cli({"info", dir.File("missing.mdl"), dir.File("bad.mdl")}, dir);
    EXPECT_EQ(run.Status, 3);
    EXPECT_NE(run.Err.find(dir.File("missing.mdl")), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("No such file"), std::string::npos) << run.Err;
}

TEST(Cli, UsageMistakesGiveStatusTwoAndHelpGivesZero)
{
    ScratchDir dir;
    WriteFile(dir.File("in.mdl"), MakeOctahedron().SaveToBytes());
    EXPECT_EQ(cli({}, dir).Status, 2);
    EXPECT_EQ(cli({"info"}, dir).Status, 2);
    EXPECT_EQ(cli({"reduce", dir.File("in.mdl")}, dir).Status, 2);
    EXPECT_EQ(cli({"reduce", "--level", "11", dir.File("in.mdl"), "-o", dir.File("out.mdl")}, dir).Status, 2);
    EXPECT_EQ(cli({"reduce", "--passes", "-1", dir.File("in.mdl"), "-o", dir.File("out.mdl")}, dir).Status, 2);
    EXPECT_EQ(cli({"reduce", dir.File("in.mdl"), "-o", dir.File("in.mdl")}, dir).Status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.mdl")));

    const CliRun help = cli({"--help"}, dir);
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("reduce"), std::string::npos);
    const CliRun version = cli({"--version"}, dir);
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("kelvane-cli ", 0), 0u);
}

TEST(Cli, ReduceWritesWhatTheContainerWouldAndNothingForARefusal)
{
    ScratchDir dir;
    const TMDLModel model = MakeTorus(10, 6, 3);
    std::vector<uint8_t> input = model.SaveToBytes();
    input.push_back(0x55);  // bytes after the last frame are not carried
    WriteFile(dir.File("in.mdl"), input);

    CliRun run = cli({"reduce", "--passes", "0", dir.File("in.mdl"), "-o", dir.File("copy.mdl")}, dir);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadWholeFile(dir.File("copy.mdl")), model.SaveToBytes());

    run = cli({"reduce", "--level", "7", "--passes", "2", dir.File("in.mdl"), "-o", dir.File("out.mdl")}, dir);
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
    run = cli({"reduce", dir.File("refused.mdl"), "-o", dir.File("never.mdl")}, dir);
    EXPECT_EQ(run.Status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("never.mdl")));

    // A file error is one line naming the file and the reason.
    run = cli({"reduce", dir.File("in.mdl"), "-o", dir.File("no-folder/out.mdl")}, dir);
    EXPECT_EQ(run.Status, 3);
    EXPECT_EQ(run.Err, "kelvane-cli: Cannot create a file to save \"" + dir.File("no-folder/out.mdl") + "\": No such file or directory\n");
}
