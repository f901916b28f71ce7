#pragma once
// Helpers for tests that touch real files: a scratch folder removed at the
// end, the real models beside the project, and log capture.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "model/MDLClass.h"

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string File(const std::string& name) const { return (path / name).string(); }
    std::filesystem::path path;
};

// The path of a real model in the shared folder, or "" when it is absent.
std::string SharedModel(const std::string& name);

void WriteFile(const std::string& fileName, const std::vector<uint8_t>& bytes);

// Connects the model's log to a list of lines.
void CaptureLog(TMDLModel& model, std::vector<std::string>& lines);

// What a run of kelvane-cli gave: exit status, standard output and error.
struct CliRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};
// Runs kelvane-cli with these arguments and no input; dir holds its error text.
// A memory limit (in KiB of address space) makes an allocation past it fail.
CliRun RunCli(const std::vector<std::string>& args, const ScratchDir& dir, uint64_t memoryLimitKiB = 0);

// Mounts a tmpfs on folder in a private mount namespace of this process (its
// children share it; nothing outside sees it). Returns why not, or "".
std::string MountTmpfs(const std::filesystem::path& folder, const char* options);
// Makes a mounted tmpfs read-only. Returns why not, or "".
std::string RemountReadOnly(const std::filesystem::path& folder);

// Unmounts its folder when it goes.
class Mount {
public:
    explicit Mount(std::filesystem::path folder) : folder(std::move(folder)) {}
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

private:
    std::filesystem::path folder;
};
