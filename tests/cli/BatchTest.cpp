#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "cli/Batch.h"
#include "model/AnyModel.h"
#include "model/MDLClass.h"
#include "model/ByteIO.h"
#include "reduce/Progress.h"
#include "reduce/Quadric.h"
#include "reduce/Reduce.h"
#include "tests/support/AnimatedModels.h"
#include "tests/support/MD3Builder.h"
#include "tests/support/MDL7Builder.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/QuakeModels.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

// A folder of models: three good ones (one in a sub-folder, one with an
// upper-case extension) and one that is refused.
void writeModels(const fs::path& folder)
{
    fs::create_directories(folder / "sub");
    WriteFile((folder / "torus.mdl").string(), MakeTorus(12, 8, 3).SaveToBytes());
    WriteFile((folder / "sub" / "octa.MDL").string(), MakeOctahedron().SaveToBytes());
    WriteFile((folder / "sub" / "random.mdl").string(), MakeRandomModel(7).SaveToBytes());
    std::vector<uint8_t> refused = MakeOctahedron().SaveToBytes();
    refused.resize(100);  // cut short
    WriteFile((folder / "cut.mdl").string(), refused);
    WriteFile((folder / "notes.txt").string(), {'h', 'i'});
}

// The JSON report with the times taken out, which differ from run to run.
nlohmann::json withoutTimes(const std::string& text)
{
    nlohmann::json report = nlohmann::json::parse(text);
    for (auto& file : report["files"]) file.erase("seconds");
    return report;
}

}  // namespace

TEST(CliBatch, FolderRunEqualsSingleRunsAndDoesNotDependOnThreads)
{
    ScratchDir dir;
    writeModels(dir.path / "in");
    const CliRun one = RunCli({"reduce", "--level", "6", "--passes", "2", "-j", "1", "--json", dir.File("in"), "--out-dir", dir.File("j1")}, dir);
    const CliRun two = RunCli({"reduce", "--level", "6", "--passes", "2", "-j", "2", "--json", dir.File("in"), "--out-dir", dir.File("j2")}, dir);
    EXPECT_EQ(one.Status, 1);  // the cut file is refused; the others are written
    EXPECT_EQ(two.Status, 1);

    nlohmann::json first = withoutTimes(one.Out);
    nlohmann::json second = withoutTimes(two.Out);
    ASSERT_EQ(first["files"].size(), 4u);
    for (auto* report : {&first, &second})
        for (auto& file : (*report)["files"])
            if (file.contains("output")) file["output"] = fs::path(file["output"].get<std::string>()).filename().string();
    EXPECT_EQ(first, second);

    for (const char* name : {"torus.mdl", "sub/octa.MDL", "sub/random.mdl"}) {
        const CliRun single = RunCli({"reduce", "--level", "6", "--passes", "2", dir.File(std::string("in/") + name), "-o", dir.File("single.mdl")}, dir);
        EXPECT_EQ(single.Status, 0) << name << single.Err;
        EXPECT_EQ(ReadWholeFile(dir.File(std::string("j1/") + name)), ReadWholeFile(dir.File("single.mdl"))) << name;
        EXPECT_EQ(ReadWholeFile(dir.File(std::string("j2/") + name)), ReadWholeFile(dir.File("single.mdl"))) << name;
    }
    EXPECT_FALSE(fs::exists(dir.path / "j1" / "cut.mdl"));
    EXPECT_FALSE(fs::exists(dir.path / "j1" / "notes.txt"));
    const auto& cut = first["files"][0];
    EXPECT_EQ(cut["path"], dir.File("in/cut.mdl"));
    EXPECT_EQ(cut["status"], "refused");
    EXPECT_TRUE(cut["before"].is_null());  // no counts read from a refused file's bytes
    ASSERT_EQ(cut["errors"].size(), 1u);
    EXPECT_EQ(cut["errors"][0].get<std::string>().rfind("ERROR:", 0), 0u);
}

TEST(CliBatch, RealModelsGiveTheSameFilesInABatchAsAlone)
{
    const std::string minigun = SharedModel("minigun.mdl");
    if (minigun.empty()) GTEST_SKIP() << "the shared models folder is not beside the project";
    const fs::path shared = fs::path(minigun).parent_path();
    const std::vector<std::string> names = {"PhosphoricAcid_MDl7.mdl", "Sphere_DiffPinkBlueSpec_Alpha90.mdl", "earth.mdl", "faerie.md2",
                                            "mdl7-ball.mdl", "mdl7-earth.mdl", "mdl7-player.mdl", "minigun.mdl", "penguin_head.md3",
                                            "penguin_lower.md3", "penguin_upper.md3", "tekmechbot.mdl"};
    ScratchDir dir;
    // Every format in one batch; nothing removed gives each file back byte for byte.
    const CliRun same = RunCli({"reduce", "--ratio", "1", "-q", shared.string(), "--out-dir", dir.File("same")}, dir);
    ASSERT_EQ(same.Status, 0) << same.Err;
    const CliRun batch = RunCli({"reduce", "--ratio", "0.6", "-j", "2", "--json", shared.string(), "--out-dir", dir.File("out")}, dir);
    ASSERT_EQ(batch.Status, 0) << batch.Err;
    const nlohmann::json report = nlohmann::json::parse(batch.Out);
    ASSERT_EQ(report["files"].size(), names.size());  // the texts beside them are no models
    for (const std::string& name : names) {
        EXPECT_EQ(ReadWholeFile(dir.File("same/" + name)), ReadWholeFile((shared / name).string())) << name;
        const CliRun single = RunCli({"reduce", "--ratio", "0.6", (shared / name).string(), "-o", dir.File("single-" + name)}, dir);
        EXPECT_EQ(single.Status, 0) << single.Err;
        EXPECT_EQ(ReadWholeFile(dir.File("out/" + name)), ReadWholeFile(dir.File("single-" + name))) << name;
        TAnyModel reduced;
        EXPECT_TRUE(reduced.LoadFromFile(dir.File("single-" + name))) << name;
    }
}

TEST(CliBatch, LinesOfSeveralFilesCarryTheirNames)
{
    ScratchDir dir;
    writeModels(dir.path / "in");
    const CliRun run = RunCli({"reduce", dir.File("in/torus.mdl"), dir.File("in/sub/octa.MDL"), "--out-dir", dir.File("out")}, dir);
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");  // no progress bar when standard error is not a terminal
    EXPECT_EQ(run.Out.rfind(dir.File("in/torus.mdl") + ": MODEL INFO: 96Vertices, 192Faces, 96Skin Vertices.\n", 0), 0u) << run.Out;
    EXPECT_NE(run.Out.find(dir.File("in/sub/octa.MDL") + ": CUT: 3Vertices, 6Faces, 3Skin Vertices.\n"), std::string::npos) << run.Out;
    EXPECT_TRUE(fs::exists(dir.path / "out" / "octa.MDL"));

    const CliRun quiet = RunCli({"reduce", "-q", dir.File("in/torus.mdl"), "-o", dir.File("quiet.mdl")}, dir);
    EXPECT_EQ(quiet.Status, 0);
    EXPECT_EQ(quiet.Out, "");
    EXPECT_EQ(quiet.Err, "");

    // Quiet still says why a model was refused, and whose the reason is.
    const CliRun refused = RunCli({"reduce", "-q", dir.File("in/notes.txt"), "-o", dir.File("notes.mdl")}, dir);
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Out, "");
    EXPECT_EQ(refused.Err, dir.File("in/notes.txt") + ": ERROR:Unsupported model format.(This reads MDL5, MDL7, Quake MDL (IDPO), MD2 (IDP2) and MD3 (IDP3) models.)\n");
}

TEST(CliBatch, BudgetClimbsTheLevelsUntilItIsMetOrSaysWhyNot)
{
    ScratchDir dir;
    const TMDLModel model = MakeTorus(16, 12, 2);
    WriteFile(dir.File("in.mdl"), model.SaveToBytes());

    // The same rule by hand: a level goes up when a pass removes nothing.
    auto byHand = [&](int64_t budget, std::vector<int>& levels) {
        TMDLModel copy = model;
        int level = 0;
        while (copy.Header.NumTris > budget) {
            const MDL5Header before = copy.Header;
            copy.Reduce(NormalLimitForLevel(level), kUVLimitTexels);
            levels.push_back(level);
            const bool removed = before.NumVerts != copy.Header.NumVerts || before.NumTris != copy.Header.NumTris ||
                                 before.NumSkinVerts != copy.Header.NumSkinVerts;
            if (!removed && level == kMaxLevel) break;
            if (!removed) ++level;
        }
        return copy;
    };

    for (auto [option, value, budget] : {std::tuple{"--ratio", "0.5", int64_t(192)}, std::tuple{"--target-tris", "40", int64_t(40)},
                                          std::tuple{"--target-tris", "1", int64_t(1)}}) {
        std::vector<int> levels;
        const TMDLModel expected = byHand(budget, levels);
        const CliRun run = RunCli({"reduce", "--method", "passes", option, value, "--json", dir.File("in.mdl"), "-o", dir.File("out.mdl")}, dir);
        ASSERT_EQ(run.Status, expected.Header.NumTris <= budget ? 0 : 4) << run.Err;
        const nlohmann::json report = nlohmann::json::parse(run.Out);
        const auto& file = report["files"][0];
        EXPECT_EQ(file["levels"].get<std::vector<int>>(), levels) << option << " " << value;
        EXPECT_EQ(file["budget"]["triangles"], budget);
        EXPECT_EQ(file["budget"]["met"], expected.Header.NumTris <= budget);
        EXPECT_EQ(file["after"]["triangles"], expected.Header.NumTris);
        EXPECT_EQ(ReadWholeFile(dir.File("out.mdl")), expected.SaveToBytes());
    }

    // A budget that cannot be met says so after the levels it used.
    const CliRun run = RunCli({"reduce", "--method", "passes", "--target-tris", "1", dir.File("in.mdl"), "-o", dir.File("out.mdl")}, dir);
    EXPECT_NE(run.Out.find("over the budget of 1: a pass at level 10 removed nothing more."), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("levels 0, "), std::string::npos) << run.Out;
    EXPECT_EQ(RunCli({"reduce", "--ratio", "0", dir.File("in.mdl"), "-o", dir.File("x.mdl")}, dir).Status, 2);
    EXPECT_EQ(RunCli({"reduce", "--ratio", "0.5", "--level", "3", dir.File("in.mdl"), "-o", dir.File("x.mdl")}, dir).Status, 2);
}

TEST(CliBatch, BudgetsGoToTheCollapsesAndLevelsOfDetailNest)
{
    ScratchDir dir;
    const TMDLModel tube = MakeBendingTube(12, 8, 3);
    WriteFile(dir.File("tube.mdl"), tube.SaveToBytes());

    // A budget without --method is met exactly by the collapses, as the window's Apply would.
    const CliRun run = RunCli({"reduce", "--ratio", "0.5", "--json", dir.File("tube.mdl"), "-o", dir.File("half.mdl")}, dir);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const auto file = nlohmann::json::parse(run.Out)["files"][0];
    EXPECT_EQ(file["method"], "quadric");
    EXPECT_EQ(file["budget"]["triangles"], tube.Header.NumTris / 2);
    TMDLModel direct = tube;
    ReduceQuadric(direct, tube.Header.NumTris / 2);
    EXPECT_EQ(ReadWholeFile(dir.File("half.mdl")), direct.SaveToBytes());

    // Each level is a subset of the one before: every vertex of a level is one of
    // the level before, in order, in every frame.
    const CliRun lods = RunCli({"reduce", "--lods", "0.6,0.3,0.1", dir.File("tube.mdl"), "--out-dir", dir.File("lods")}, dir);
    ASSERT_EQ(lods.Status, 0) << lods.Err;
    EXPECT_FALSE(fs::exists(dir.File("lods/tube.mdl")));
    TMDLModel previous = tube;
    for (int n = 1; n <= 3; ++n) {
        TMDLModel level;
        ASSERT_TRUE(level.LoadFromFile(dir.File("lods/tube_lod" + std::to_string(n) + ".mdl")));
        EXPECT_LE(level.Header.NumTris, int32_t(std::vector<double>{0.6, 0.3, 0.1}[std::size_t(n - 1)] * tube.Header.NumTris));
        EXPECT_NE(lods.Out.find("tube_lod" + std::to_string(n) + ".mdl: " + std::to_string(level.Header.NumTris) + " triangles"),
                  std::string::npos) << lods.Out;
        std::size_t next = 0;
        for (std::size_t v = 0; v < level.Frames[0].Items.size(); ++v, ++next) {
            const auto same = [&](std::size_t p) {
                for (std::size_t f = 0; f < level.Frames.size(); ++f)
                    if (std::memcmp(&previous.Frames[f].Items[p], &level.Frames[f].Items[v], sizeof(FrameVert)) != 0) return false;
                return true;
            };
            while (next < previous.Frames[0].Items.size() && !same(next)) ++next;
            ASSERT_LT(next, previous.Frames[0].Items.size()) << "level " << n << " is not a subset of the one before";
        }
        previous = level;
    }

    for (const std::vector<std::string>& words : {std::vector<std::string>{"--method", "quadric"},  // no budget
                                                  {"--method", "passes", "--level", "3"},
                                                  {"--lods", "0.5,0.6"},  // levels must fall
                                                  {"--lods", "0.5", "-o", dir.File("x.mdl")}}) {
        std::vector<std::string> args = {"reduce", dir.File("tube.mdl"), "--out-dir", dir.File("usage")};
        args.insert(args.end(), words.begin(), words.end());
        EXPECT_EQ(RunCli(args, dir).Status, 2) << words[0] << " " << words[1];
    }
}

TEST(CliBatch, InputsAreOnlyReplacedInPlaceAndNeverLeftHalfWritten)
{
    ScratchDir dir;
    writeModels(dir.path / "in");
    const std::vector<uint8_t> original = ReadWholeFile(dir.File("in/torus.mdl"));

    // Writing over inputs needs --in-place.
    EXPECT_EQ(RunCli({"reduce", dir.File("in"), "--out-dir", dir.File("in")}, dir).Status, 2);
    EXPECT_EQ(RunCli({"reduce", dir.File("in/torus.mdl"), "-o", dir.File("in/torus.mdl")}, dir).Status, 2);
    EXPECT_EQ(RunCli({"reduce", "--in-place", dir.File("in/torus.mdl"), "-o", dir.File("x.mdl")}, dir).Status, 2);
    EXPECT_EQ(RunCli({"reduce", "--in-place", dir.File("in/torus.mdl"), dir.File("in")}, dir).Status, 2);  // named twice
    EXPECT_EQ(ReadWholeFile(dir.File("in/torus.mdl")), original);

    // In place, each file is replaced by its reduced copy.
    const CliRun run = RunCli({"reduce", "--in-place", "--level", "10", dir.File("in/torus.mdl")}, dir);
    EXPECT_EQ(run.Status, 0) << run.Err;
    TMDLModel reduced;
    ASSERT_TRUE(reduced.LoadFromBytes(original));
    reduced.Reduce(NormalLimitForLevel(10), kUVLimitTexels);
    EXPECT_EQ(ReadWholeFile(dir.File("in/torus.mdl")), reduced.SaveToBytes());
}

TEST(CliBatch, InPlaceInAnUnwritableFolderLeavesTheInputUntouched)
{
    ScratchDir dir;
    const fs::path folder = dir.path / "locked";
    fs::create_directory(folder);
    const std::vector<uint8_t> original = MakeTorus(10, 10, 2).SaveToBytes();
    std::unique_ptr<Mount> mounted;
    if (::geteuid() == 0) {
        if (const std::string why = MountTmpfs(folder, "size=1m"); !why.empty()) GTEST_SKIP() << why;
        mounted = std::make_unique<Mount>(folder);
        WriteFile((folder / "model.mdl").string(), original);
        ASSERT_EQ(RemountReadOnly(folder), "");
    } else {
        WriteFile((folder / "model.mdl").string(), original);
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    }
    const CliRun run = RunCli({"reduce", "--in-place", "--level", "10", (folder / "model.mdl").string()}, dir);
    EXPECT_EQ(run.Status, 3);
    EXPECT_NE(run.Err.find((folder / "model.mdl").string()), std::string::npos) << run.Err;
    EXPECT_EQ(ReadWholeFile((folder / "model.mdl").string()), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    ::chmod(folder.c_str(), 0755);
}

TEST(CliBatch, InfoDetailsDescribeTheModel)
{
    ScratchDir dir;
    TMDLModel model = MakeOctahedron();
    model.Skins = {MakeSkin(4, 4, 2)};
    model.Header.NumSkins = 1;
    model.SkinVerts.Items.push_back(SkinVert{1, 1, 0});  // used by no triangle
    model.SkinVerts.Count = 7;
    model.Header.NumSkinVerts = 7;
    WriteFile(dir.File("octa.mdl"), model.SaveToBytes());
    WriteFile(dir.File("bad.mdl"), {'M', 'D', 'L', '7'});

    const CliRun text = RunCli({"info", "--details", dir.File("octa.mdl")}, dir);
    EXPECT_EQ(text.Status, 0);
    EXPECT_NE(text.Out.find("    #1: 24-bit pixels, 4 x 2\n"), std::string::npos) << text.Out;
    EXPECT_NE(text.Out.find("  frames: 2: frame0, frame1\n"), std::string::npos) << text.Out;
    EXPECT_NE(text.Out.find("  vertices in closed fans: 6 of 6\n"), std::string::npos) << text.Out;
    EXPECT_NE(text.Out.find("  unused texture coordinates: 1 of 7\n"), std::string::npos) << text.Out;

    const CliRun json = RunCli({"info", "--json", dir.File("octa.mdl"), dir.File("bad.mdl")}, dir);
    EXPECT_EQ(json.Status, 1);
    const nlohmann::json report = nlohmann::json::parse(json.Out);
    EXPECT_EQ(report["files"][0]["details"]["closedFanVertices"], 6);
    EXPECT_EQ(report["files"][0]["details"]["formatDetails"]["skinRecords"][0]["bits"], 24);
    EXPECT_EQ(report["files"][1]["status"], "refused");
    EXPECT_EQ(report["files"][1]["errors"].size(), 1u);  // the identifier is refused before the short header
    EXPECT_FALSE(report["files"][1].contains("details"));

    // Every format gives the same keys, and reduce --json's counts are the
    // details' own, after null for a refused file.
    WriteFile(dir.File("q.mdl"), MakeQuakeModel().SaveToBytes());
    WriteFile(dir.File("m.md2"), MakeMD2Model().SaveToBytes());
    WriteFile(dir.File("m.md3"), MakeMD3Model(2, 2, 1).SaveToBytes());
    WriteFile(dir.File("m7.mdl"), MakeMDL7Model({.Groups = 2, .Side = 3, .Frames = 2}).SaveToBytes());
    const std::vector<std::string> files = {dir.File("octa.mdl"), dir.File("q.mdl"), dir.File("m.md2"), dir.File("m.md3"), dir.File("m7.mdl")};
    std::vector<std::string> words = {"info", "--json"};
    words.insert(words.end(), files.begin(), files.end());
    const nlohmann::json all = nlohmann::json::parse(RunCli(words, dir).Out);
    words = {"reduce", "--json", "--ratio", "0.5", "--out-dir", dir.File("half"), dir.File("bad.mdl")};
    words.insert(words.end(), files.begin(), files.end());
    const nlohmann::json reduced = nlohmann::json::parse(RunCli(words, dir).Out);
    const auto keysOf = [](const nlohmann::json& object) {
        std::vector<std::string> keys;
        for (const auto& item : object.items()) keys.push_back(item.key());
        return keys;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        const nlohmann::json& details = all["files"][i]["details"];
        EXPECT_EQ(keysOf(details), keysOf(all["files"][0]["details"])) << files[i];
        EXPECT_FALSE(details["skins"].empty() && details["formatDetails"].empty()) << files[i];
        const nlohmann::json& before = reduced["files"][i + 1]["before"];
        EXPECT_EQ(keysOf(before), keysOf(reduced["files"][i + 1]["after"])) << files[i];
        for (const std::string key : {"vertices", "triangles", "textureCoordinates"}) EXPECT_EQ(before[key], details[key]) << files[i] << key;
    }
    EXPECT_TRUE(reduced["files"][0].contains("after") && reduced["files"][0]["after"].is_null());
}

TEST(CliBatch, OutputFolderTroubleIsOneLineNamingTheFolder)
{
    ScratchDir dir;
    writeModels(dir.path / "in");
    WriteFile(dir.File("plain"), {'x'});
    CliRun run = RunCli({"reduce", dir.File("in/torus.mdl"), dir.File("in/sub/octa.MDL"), "--out-dir", dir.File("plain")}, dir);
    EXPECT_EQ(run.Status, 3);
    EXPECT_EQ(run.Err, "kelvane-cli: Cannot create the folder \"" + dir.File("plain") + "\": Not a directory\n");

    fs::create_directory(dir.path / "empty");
    run = RunCli({"reduce", dir.File("empty"), "--out-dir", dir.File("out")}, dir);
    EXPECT_EQ(run.Status, 2);
    EXPECT_NE(run.Err.find("\"" + dir.File("empty") + "\""), std::string::npos) << run.Err;
}

TEST(CliBatch, PassesAfterOneThatRemovesNothingAreReportedButNotRun)
{
    ScratchDir dir;
    const TMDLModel model = MakeTorus(16, 12, 2);
    WriteFile(dir.File("in.mdl"), model.SaveToBytes());

    // By hand: passes at level 10 until one removes nothing, which draws from
    // the progress generator like every pass that runs.
    TMDLModel expected = model;
    std::vector<std::string> lines{expected.ModelInfoLine()};
    CaptureLog(expected, lines);
    SetProgressSeed(0);
    for (int32_t before = -1; before != expected.Header.NumTris;) {
        before = expected.Header.NumTris;
        expected.Reduce(NormalLimitForLevel(10), kUVLimitTexels);
    }
    const uint32_t seedAfterPassesRun = ProgressSeed();
    ASSERT_GE(lines.size(), 5u);  // a pass removed something before one removed nothing
    const int passes = 50;
    const std::vector<std::string> unchanged(lines.end() - 2, lines.end());
    while (lines.size() < std::size_t(1 + 2 * passes)) lines.insert(lines.end(), unchanged.begin(), unchanged.end());

    ReducePlan plan;
    plan.Level = 10;
    plan.Passes = passes;
    SetProgressSeed(0);
    const JobResult result = RunJob({dir.File("in.mdl"), dir.File("out.mdl")}, plan, nullptr);
    EXPECT_EQ(result.Lines, lines);
    EXPECT_EQ(result.PassLevels, std::vector<int>(passes, 10));
    EXPECT_EQ(ProgressSeed(), seedAfterPassesRun);
    EXPECT_EQ(ReadWholeFile(dir.File("out.mdl")), expected.SaveToBytes());
}

TEST(CliBatch, BudgetIsTheWholeNumberBelowAndIsMetWithoutAnotherPass)
{
    ScratchDir dir;
    WriteFile(dir.File("octa.mdl"), MakeOctahedron().SaveToBytes());
    // The octahedron's eight triangles; one pass at level 0 leaves two, and no
    // pass at any level takes more.
    const std::vector<int> everyLevel = {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    const struct {
        const char* What;
        std::optional<int64_t> Target;
        std::optional<double> Ratio;
        int64_t Budget;
        std::vector<int> Levels;
    } cases[] = {
        {"0.2 of 8 is 1.6", std::nullopt, 0.2, 1, everyLevel},
        {"lands on the budget", 2, std::nullopt, 2, {0}},
        {"starts on the budget", 8, std::nullopt, 8, {}},
    };
    for (const auto& c : cases) {
        ReducePlan plan;
        plan.TargetTriangles = c.Target;
        plan.Ratio = c.Ratio;
        const JobResult result = RunJob({dir.File("octa.mdl"), dir.File("out.mdl")}, plan, nullptr);
        ASSERT_EQ(result.Status, kAccepted) << c.What;
        EXPECT_EQ(result.Budget, c.Budget) << c.What;
        EXPECT_EQ(result.PassLevels, c.Levels) << c.What;
        EXPECT_EQ(result.BudgetMet, result.After.Triangles <= c.Budget) << c.What;
    }
    EXPECT_EQ(ReadWholeFile(dir.File("out.mdl")), ReadWholeFile(dir.File("octa.mdl")));  // no pass ran last
}

TEST(CliBatch, InterruptRemovesTemporaryFilesAndKeepsFinishedOutputs)
{
    ScratchDir dir;
    const std::vector<uint8_t> model = MakeTorus(200, 100, 8).SaveToBytes();  // about 2 MB
    fs::create_directory(dir.path / "in");
    for (int i = 0; i < 24; ++i) WriteFile(dir.File("in/m" + std::to_string(i) + ".mdl"), model);
    // Each save makes this file and pauses between listing its temporary file and
    // creating it (model/ByteIO.cpp): the signal lands in that gap every time.
    std::string pause = "KELVANE_TEST_PAUSE_SAVES=" + dir.File("saving");
    std::vector<char*> environment = {pause.data()};
    for (char** variable = environ; *variable; ++variable) environment.push_back(*variable);
    environment.push_back(nullptr);

    for (auto [signal, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        const fs::path out = dir.path / ("out" + std::to_string(signal));
        const std::vector<std::string> words = {KELVANE_CLI, "reduce", "--passes", "0", "-j", "2", dir.File("in"), "--out-dir", out.string()};
        std::vector<char*> argv;
        for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, KELVANE_CLI, &actions, nullptr, argv.data(), environment.data()), 0);
        posix_spawn_file_actions_destroy(&actions);

        // Interrupted once an output is finished, as the next save pauses.
        std::error_code ec;
        int waited = 0;
        pid_t ended = 0;
        const std::function<bool()> awaited[] = {
            [&] { return std::any_of(fs::directory_iterator(out, ec), {}, [](auto& e) { return e.path().filename().string()[0] != '.'; }); },
            [&] { return fs::exists(dir.File("saving"), ec); }};
        for (const auto& done : awaited) {
            fs::remove(dir.File("saving"), ec);
            while (!done() && (ended = waitpid(pid, &waited, WNOHANG)) == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_EQ(ended, 0) << "the batch ended before it could be interrupted";
        ::kill(pid, signal);
        ASSERT_EQ(waitpid(pid, &waited, 0), pid);
        EXPECT_TRUE(WIFEXITED(waited) && WEXITSTATUS(waited) == status) << "signal " << signal << ", wait status " << waited;
        for (const auto& entry : fs::directory_iterator(out)) {
            EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
            EXPECT_TRUE(ReadWholeFile(entry.path().string()) == model) << entry.path() << " is not complete";
        }
    }
}

TEST(CliBatch, MissedBudgetIsSaidEvenWhenQuietAndHasItsOwnStatus)
{
    ScratchDir dir;
    // No closed torus is one triangle, nor three: these budgets are missed by either method.
    WriteFile(dir.File("torus.mdl"), MakeTorus(16, 12, 2).SaveToBytes());
    WriteFile(dir.File("one.mdl"), MakeModel({{Vert(0, 0, 0), Vert(9, 0, 0), Vert(0, 9, 0)}}, {Tri(0, 1, 2)}, {{}, {}, {}}).SaveToBytes());
    WriteFile(dir.File("cut.mdl"), {'M', 'D', 'L', '5'});
    for (const char* method : {"quadric", "passes"}) {
        const std::string out = dir.File(method + std::string(".mdl"));
        const CliRun run = RunCli({"reduce", "-q", "--method", method, "--target-tris", "1", dir.File("torus.mdl"), "-o", out}, dir);
        EXPECT_EQ(run.Status, 4) << method;
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find("over the budget of 1: "), std::string::npos) << run.Err;
        EXPECT_TRUE(fs::exists(out));  // the best the rules allow is still written
    }
    EXPECT_EQ(RunCli({"reduce", "-q", "--lods", "0.5,0.01", dir.File("torus.mdl"), "--out-dir", dir.File("lods")}, dir).Status, 4);

    // A met budget is better, a refused file worse; the JSON marks the file.
    std::vector<std::string> words = {"reduce", "--json", "--target-tris", "1", dir.File("torus.mdl"), dir.File("one.mdl"), "--out-dir", dir.File("out")};
    const nlohmann::json report = nlohmann::json::parse(RunCli(words, dir).Out);
    EXPECT_EQ(report["status"], 4);
    EXPECT_EQ(report["files"][0]["status"], "over budget");
    EXPECT_EQ(report["files"][1]["status"], "accepted");
    words.insert(words.begin() + 4, dir.File("cut.mdl"));
    EXPECT_EQ(RunCli(words, dir).Status, 1);
}

TEST(CliBatch, PassesAskedOfAnotherFormatAreAUsageErrorAndWriteNothing)
{
    ScratchDir dir;
    WriteFile(dir.File("quake.mdl"), MakeQuakeModel().SaveToBytes());
    WriteFile(dir.File("m.md2"), MakeMD2Model().SaveToBytes());
    for (const auto& [file, format] : {std::pair{"quake.mdl", "a Quake MDL"}, std::pair{"m.md2", "an MD2"}}) {
        const CliRun run = RunCli({"reduce", "--level", "3", dir.File(file), "-o", dir.File("low")}, dir);
        EXPECT_EQ(run.Status, 2) << file;  // the file is sound: the words asked what it cannot take
        EXPECT_NE(run.Err.find(": the reduction passes (--level, --passes, --method passes) work on MDL5 models only; this is " +
                               std::string(format) + " model"),
                  std::string::npos) << run.Err;
        EXPECT_EQ(run.Out.find("ERROR:"), std::string::npos) << run.Out;
        EXPECT_FALSE(fs::exists(dir.File("low")));
    }
    const nlohmann::json report = nlohmann::json::parse(RunCli({"reduce", "--json", "--level", "3", dir.File("m.md2"), "-o", dir.File("low")}, dir).Out);
    EXPECT_EQ(report["files"][0]["status"], "usage");
    EXPECT_TRUE(report["files"][0]["errors"].empty());
}
