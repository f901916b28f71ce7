// kelvane-cli: the model container and the reduction pass from the command line.
//
// Exit status: 0 every file accepted, 1 a file refused, 2 usage error,
// 3 a file could not be read or written. Several files give the worst of them.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "model/MDLClass.h"
#include "reduce/Reduce.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "0.0.0"
#endif

namespace {

enum ExitStatus : int { kAccepted = 0, kRefused = 1, kUsage = 2, kFileError = 3 };

// A model whose container lines go to standard output as they are written.
TMDLModel printingModel()
{
    TMDLModel model;
    model.LogLines = [](const std::string& line) { std::cout << line << '\n'; };
    return model;
}

void reportFileError(const std::system_error& error)
{
    std::cout.flush();
    std::cerr << "kelvane-cli: " << error.what() << '\n';
}

int runInfo(const std::vector<std::string>& files)
{
    int status = kAccepted;
    for (const std::string& file : files) {
        TMDLModel model = printingModel();
        try {
            status = std::max<int>(status, model.LoadFromFile(file) ? kAccepted : kRefused);
        } catch (const std::system_error& error) {
            reportFileError(error);
            status = kFileError;
        }
    }
    return status;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec);
}

int runReduce(const std::string& input, const std::string& output, int level, int passes)
{
    if (sameFile(input, output)) {
        std::cerr << "kelvane-cli: the output \"" << output << "\" is the input file; choose another name\n";
        return kUsage;
    }
    TMDLModel model = printingModel();
    try {
        // A refused model is not written at all.
        if (!model.LoadFromFile(input)) return kRefused;
        for (int pass = 0; pass < passes; ++pass) model.Reduce(NormalLimitForLevel(level), kUVLimitTexels);
        std::cout.flush();
        model.SaveToFile(output);
    } catch (const std::system_error& error) {
        reportFileError(error);
        return kFileError;
    }
    return kAccepted;
}

}  // namespace

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    CLI::App app{"Kelvane reduces the polygon count of animated MDL5 models.\n"
                 "Every animation frame loses the same vertices.",
                 "kelvane-cli"};
    app.set_version_flag("--version", std::string("kelvane-cli ") + KELVANE_VERSION);
    app.require_subcommand(1);
    app.footer("Exit status: 0 accepted, 1 a model was refused, 2 usage error, 3 a file could not be read or written.");

    std::vector<std::string> infoFiles;
    CLI::App* info = app.add_subcommand("info", "Load each model and print its summary line, or why it is refused.");
    info->add_option("FILE", infoFiles, "MDL5 model files")->required();

    std::string input;
    std::string output;
    int level = 0;
    int passes = 1;
    CLI::App* reduce = app.add_subcommand("reduce", "Reduce a model in one or more passes and save the result.");
    reduce->add_option("INPUT", input, "the MDL5 model to reduce")->required();
    reduce->add_option("-o,--output", output, "where to save the reduced model")->required();
    reduce->add_option("--level", level,
                       "0 to 10: how different the normals of a vertex and its neighbours may be;\n"
                       "0 removes only vertices in flat, evenly lit areas, 10 ignores normals")
        ->check(CLI::Range(kMinLevel, kMaxLevel))
        ->capture_default_str();
    reduce->add_option("--passes", passes, "how many passes to run; each works on the result of the one before")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version exit with 0; every mistake in the words with 2.
        return app.exit(error) == 0 ? kAccepted : kUsage;
    }

    if (info->parsed()) return runInfo(infoFiles);
    return runReduce(input, output, level, passes);
}
