#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "model/MDLClass.h"
#include "model/ByteIO.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

// The file names in a folder, to see that no temporary file stays behind.
std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs action, expecting the file layer's error with this code, naming the file.
template <class Action>
void expectFileError(Action action, int code, const std::string& fileName)
{
    try {
        action();
        ADD_FAILURE() << "no error for " << fileName;
    } catch (const FileError& error) {
        EXPECT_EQ(error.code().value(), code) << error.what();
        EXPECT_EQ(error.FileName(), fileName);
        EXPECT_NE(std::string(error.what()).find(fileName), std::string::npos) << error.what();
    }
}

}  // namespace

TEST(MDLFile, LoadReportsMissingFilesAndFoldersWithTheirNames)
{
    ScratchDir dir;
    TMDLModel model;
    std::vector<std::string> lines;
    CaptureLog(model, lines);
    expectFileError([&] { model.LoadFromFile(dir.File("missing.mdl")); }, ENOENT, dir.File("missing.mdl"));
    expectFileError([&] { model.LoadFromFile(dir.path.string()); }, EISDIR, dir.path.string());
    EXPECT_TRUE(lines.empty());  // a file error writes no summary line
}

TEST(MDLFile, LoadsAReadOnlyFile)
{
    ScratchDir dir;
    const std::string file = dir.File("readonly.mdl");
    WriteFile(file, MakeOctahedron().SaveToBytes());
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    TMDLModel model;
    EXPECT_TRUE(model.LoadFromFile(file));
    EXPECT_EQ(::access(file.c_str(), F_OK), 0);
}

TEST(MDLFile, LoadRefusesAnUnreadableFile)
{
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reading";
    ScratchDir dir;
    const std::string file = dir.File("secret.mdl");
    WriteFile(file, MakeOctahedron().SaveToBytes());
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    TMDLModel model;
    expectFileError([&] { model.LoadFromFile(file); }, EACCES, file);
}

TEST(MDLFile, SaveReplacesAnExistingFileAndLeavesNothingElse)
{
    ScratchDir dir;
    const std::string file = dir.File("out.mdl");
    WriteFile(file, std::vector<uint8_t>(5000, 0xAA));
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const TMDLModel model = MakeTorus(4, 4, 2);
    model.SaveToFile(file);
    EXPECT_EQ(ReadWholeFile(file), model.SaveToBytes());
    EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"out.mdl"});
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(MDLFile, FailedSaveLeavesTheTargetAsItWasAndNoTemporaryFile)
{
    ScratchDir dir;
    const TMDLModel model = MakeOctahedron();

    // A folder that does not exist: nothing can be created there.
    const std::string nowhere = dir.File("no-such-folder/out.mdl");
    expectFileError([&] { model.SaveToFile(nowhere); }, ENOENT, nowhere);

    // A folder standing where the file should go cannot be replaced.
    fs::create_directory(dir.path / "taken.mdl");
    WriteFile(dir.File("taken.mdl/keep"), {1, 2, 3});
    expectFileError([&] { model.SaveToFile(dir.File("taken.mdl")); }, EISDIR, dir.File("taken.mdl"));
    EXPECT_EQ(ReadWholeFile(dir.File("taken.mdl/keep")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"taken.mdl"});
}

TEST(MDLFile, SaveThroughALinkReplacesTheFileItPointsTo)
{
    ScratchDir dir;
    WriteFile(dir.File("real.mdl"), {0});
    fs::create_symlink("real.mdl", dir.path / "link.mdl");
    const TMDLModel model = MakeOctahedron();
    model.SaveToFile(dir.File("link.mdl"));
    EXPECT_TRUE(fs::is_symlink(dir.path / "link.mdl"));
    EXPECT_EQ(ReadWholeFile(dir.File("real.mdl")), model.SaveToBytes());
}
