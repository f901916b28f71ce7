#include "tests/support/TestFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

ScratchDir::ScratchDir()
{
    std::random_device random;
    path = std::filesystem::temp_directory_path() / ("kelvane-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path);
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
}

std::string SharedModel(const std::string& name)
{
#ifdef KELVANE_SHARED_MODELS
    const std::filesystem::path file = std::filesystem::path(KELVANE_SHARED_MODELS) / name;
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec)) return file.string();
#endif
    (void)name;
    return {};
}

void WriteFile(const std::string& fileName, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(fileName, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write test file " + fileName);
}

void CaptureLog(TMDLModel& model, std::vector<std::string>& lines)
{
    model.LogLines = [&lines](const std::string& line) { lines.push_back(line); };
}

namespace {

std::string quoted(const std::string& word)
{
    std::string result = "'";
    for (char c : word) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& args, const ScratchDir& dir, uint64_t memoryLimitKiB)
{
    std::string command = memoryLimitKiB > 0 ? "ulimit -v " + std::to_string(memoryLimitKiB) + "; exec " : "";
    command += quoted(KELVANE_CLI);
    for (const std::string& arg : args) command += " " + quoted(arg);
    command += " 2>" + quoted(dir.File("stderr.txt")) + " </dev/null";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) run.Out.append(chunk, n);
    const int status = ::pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(dir.File("stderr.txt"));
    std::stringstream text;
    text << err.rdbuf();
    run.Err = text.str();
    std::filesystem::remove(dir.File("stderr.txt"));
    return run;
}

std::string MountTmpfs(const std::filesystem::path& folder, const char* options)
{
    if (::geteuid() != 0) return "not running as root";
    static const bool privateNamespace =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!privateNamespace) return std::string("no private mount namespace: ") + std::strerror(errno);
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options) != 0) return std::string("mount failed: ") + std::strerror(errno);
    return {};
}

std::string RemountReadOnly(const std::filesystem::path& folder)
{
    if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return std::strerror(errno);
    return {};
}

Mount::~Mount()
{
    ::umount2(folder.c_str(), MNT_DETACH);
}
