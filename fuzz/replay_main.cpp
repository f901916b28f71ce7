// Without libFuzzer, a fuzz target runs once over each file it is given, and
// over every file in each folder it is given: the seeds and the regression
// inputs become an ordinary test of every build.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "model/ByteIO.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.emplace_back(argv[i]);
        }
        for (const auto& file : files) {
            const std::vector<uint8_t> bytes = ReadWholeFile(file.string());
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
