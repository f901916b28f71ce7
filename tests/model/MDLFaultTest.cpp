// Saving onto file systems that fail: full, read-only, unwritable. As root the
// test mounts small file systems of its own in a private mount namespace, so
// nothing outside this process sees them and they vanish with it.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "model/MDLClass.h"
#include "model/ByteIO.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

// Saving model to target fails with code, names the file, removes its
// temporary file and leaves the old target byte for byte.
void expectFailedSaveKeepsTarget(const TMDLModel& model, const fs::path& target, int code)
{
    const std::vector<uint8_t> before = ReadWholeFile(target.string());
    try {
        model.SaveToFile(target.string());
        ADD_FAILURE() << "the save into " << target << " did not fail";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), code) << error.what();
        EXPECT_NE(std::string(error.what()).find(target.string()), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadWholeFile(target.string()), before);
    EXPECT_EQ(namesIn(target.parent_path()), std::vector<std::string>{target.filename().string()});
}

}  // namespace

TEST(MDLFault, SaveOntoAFullFileSystemKeepsTheOldFile)
{
    ScratchDir dir;
    const fs::path folder = dir.path / "small";
    fs::create_directory(folder);
    if (const std::string why = MountTmpfs(folder, "size=64k"); !why.empty()) GTEST_SKIP() << why;
    Mount mounted(folder);
    WriteFile((folder / "model.mdl").string(), MakeOctahedron().SaveToBytes());
    const TMDLModel large = MakeTorus(40, 40, 6);  // about 100 KB
    expectFailedSaveKeepsTarget(large, folder / "model.mdl", ENOSPC);
}

TEST(MDLFault, SaveIntoAReadOnlyFileSystemKeepsTheOldFile)
{
    ScratchDir dir;
    const fs::path folder = dir.path / "readonly";
    fs::create_directory(folder);
    if (const std::string why = MountTmpfs(folder, "size=1m"); !why.empty()) GTEST_SKIP() << why;
    Mount mounted(folder);
    WriteFile((folder / "model.mdl").string(), MakeOctahedron().SaveToBytes());
    ASSERT_EQ(RemountReadOnly(folder), "");
    expectFailedSaveKeepsTarget(MakeTorus(4, 4, 1), folder / "model.mdl", EROFS);
}

TEST(MDLFault, SaveIntoAFolderWithoutWritePermissionKeepsTheOldFile)
{
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop writing";
    ScratchDir dir;
    const fs::path folder = dir.path / "locked";
    fs::create_directory(folder);
    WriteFile((folder / "model.mdl").string(), MakeOctahedron().SaveToBytes());
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    expectFailedSaveKeepsTarget(MakeTorus(4, 4, 1), folder / "model.mdl", EACCES);
    ::chmod(folder.c_str(), 0755);
}
