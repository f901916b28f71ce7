// The whole command on the largest model the format allows, beside a plain
// copy of the same file: `kelvane-cli reduce --level 10 --passes 1` (load,
// pass, save) against `cp`, both with the file in the page cache, and the
// command's peak memory against the file's size; and a million passes on a
// small model, most of which change nothing; and the peak memory of info
// and a budget on a file of a million small frames. Run by hand: cli_bench [runs].

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "model/ByteIO.h"
#include "tests/support/ModelBuilder.h"

extern char** environ;

namespace {

struct Timing {
    double Seconds = 0;
    long PeakKiB = 0;
};

// Runs a program with its output sent away and returns its time and peak memory.
Timing run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        std::exit(1);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(1);
    }
    return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

// Runs make in a child and waits for it. A spawned command's peak memory
// counts the peak of this process (the child begins as a copy of it), so
// every model is made, saved and read in a child, never here.
template <class Make>
void inChild(const Make& make)
{
    if (const pid_t maker = ::fork(); maker == 0) {
        make();
        std::_Exit(0);
    } else {
        ::waitpid(maker, nullptr, 0);
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kelvane-cli-bench";
    std::filesystem::create_directories(dir);
    const std::string model = (dir / "torus-256-200.mdl").string();
    inChild([&] {
        MakeTorus(256, 256, 200).SaveToFile(model);
        ReadWholeFile(model);  // into the page cache
    });
    const auto fileBytes = double(std::filesystem::file_size(model));

    std::vector<double> copyTimes;
    std::vector<double> reduceTimes;
    std::vector<double> ratios;
    long peakKiB = 0;
    for (int i = 0; i < runs; ++i) {
        // Alternating the two keeps both under the same load of the machine.
        const Timing copy = run({"cp", model, (dir / "copy.mdl").string()});
        const Timing reduce = run({KELVANE_CLI, "reduce", "--level", "10", "--passes", "1", model, "-o", (dir / "out.mdl").string()});
        copyTimes.push_back(copy.Seconds);
        reduceTimes.push_back(reduce.Seconds);
        ratios.push_back(reduce.Seconds / copy.Seconds);
        peakKiB = std::max(peakKiB, reduce.PeakKiB);
    }
    // A million passes on a small model: after the first pass that removes
    // nothing, the rest only repeat its lines, so this is mostly printing.
    const std::string small = (dir / "torus-64-8.mdl").string();
    inChild([&] { MakeTorus(64, 64, 8).SaveToFile(small); });
    std::vector<double> millionTimes;
    for (int i = 0; i < runs; ++i)
        millionTimes.push_back(run({KELVANE_CLI, "reduce", "--level", "10", "--passes", "1000000", small, "-o", (dir / "small.mdl").string()}).Seconds);

    // A file of a million frames of one vertex (44 bytes each): what info and a
    // budget's reduce hold against the file, the frame heads most of it.
    const std::string manyFrames = (dir / "million-frames.mdl").string();
    inChild([&] {
        std::vector<std::vector<FrameVert>> frames(1'000'000, {Vert(0, 0, 0)});
        MakeModel(std::move(frames), {Tri(0, 0, 0, 0, 0, 0)}, {SkinVert{0, 0, 0}}).SaveToFile(manyFrames);
    });
    const auto manyBytes = double(std::filesystem::file_size(manyFrames));
    const long infoKiB = run({KELVANE_CLI, "info", manyFrames}).PeakKiB;
    const long budgetKiB = run({KELVANE_CLI, "reduce", "--target-tris", "1", manyFrames, "-o", (dir / "million-out.mdl").string()}).PeakKiB;

    std::printf("model: 65536 vertices, 131072 triangles, 200 frames, %.1f MB\n", fileBytes / 1e6);
    std::printf("cp:                median %.1f ms\n", median(copyTimes) * 1e3);
    std::printf("kelvane-cli reduce: median %.1f ms\n", median(reduceTimes) * 1e3);
    std::printf("time ratio:        median %.2f (of %d runs)\n", median(ratios), runs);
    std::printf("1,000,000 passes:  median %.1f ms, 4096 vertices, 8 frames\n", median(millionTimes) * 1e3);
    std::printf("peak memory:       %.1f MB, %.2f times the file\n", double(peakKiB) * 1024 / 1e6, double(peakKiB) * 1024 / fileBytes);
    std::printf("a million frames (%.1f MB): info peak %.1f MB (%.2f times), reduce --target-tris 1 peak %.1f MB (%.2f times)\n",
                manyBytes / 1e6, double(infoKiB) * 1024 / 1e6, double(infoKiB) * 1024 / manyBytes, double(budgetKiB) * 1024 / 1e6,
                double(budgetKiB) * 1024 / manyBytes);
    std::filesystem::remove_all(dir);
    return 0;
}
