#include "tests/support/TestFiles.h"

#include <fstream>
#include <random>
#include <stdexcept>

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
