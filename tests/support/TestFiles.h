#pragma once
// Helpers for tests that touch real files: a scratch folder removed at the
// end, the real models beside the project, and log capture.

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
