// kelvane-cli info: each model's summary line, or why it is refused, and
// with --details what a modder wants to know before reducing it.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Batch.h"
#include "cli/Commands.h"
#include "cli/Report.h"
#include "model/AnyModel.h"

namespace {

struct InfoOptions {
    std::vector<std::string> Files;
    bool Details = false;
    bool Json = false;
};

// One file for info: its lines, the details when asked for, and its entry
// in files with --json. Plain lines are printed as the container writes
// them, and details only built when asked for: a file of a million frames
// costs no more than its model.
ExitStatus infoOfFile(const std::string& file, const InfoOptions& options, bool several, nlohmann::json& files)
{
    TAnyModel model;
    std::vector<std::string> lines;
    model.LogLines = [&](const std::string& line) {
        if (options.Json || options.Details) lines.push_back(line);
        else std::cout << (several ? file + ": " : "") << line << '\n';
    };
    nlohmann::json entry = {{"path", file}};
    ExitStatus status = kAccepted;
    try {
        status = model.LoadFromFile(file) ? kAccepted : kRefused;
    } catch (const std::system_error& error) {
        status = kFileError;
        entry["message"] = error.what();
        Complain(error.what());
    }
    // Said even with --json, where standard output holds only the document.
    const TMDLModel* mdl5 = model.MDL5();
    if (const std::string warning = mdl5 ? TrailingBytesWarning(*mdl5) : ""; status == kAccepted && !warning.empty())
        Complain("warning: " + file + ": " + warning);
    if (options.Json) {
        entry["status"] = StatusName(status);
        entry["lines"] = lines;
        entry["errors"] = ErrorLines(lines);
        if (status == kAccepted) {
            entry["details"] = DetailsJson(model);
            entry["trailingBytes"] = mdl5 ? mdl5->TrailingBytes : 0;
        }
        files.push_back(std::move(entry));
    } else if (options.Details && status != kFileError) {
        std::cout << file << ":\n";
        for (const std::string& line : lines) std::cout << "  " << line << '\n';
        if (status == kAccepted) WriteDetailLines(std::cout, model);
        std::cout << "  refused: " << (status == kRefused ? "yes, for the ERROR lines above" : "no") << '\n';
    }
    return status;
}

int runInfo(const InfoOptions& options)
{
    int status = kAccepted;
    nlohmann::json files = nlohmann::json::array();
    // With several files each line says whose it is, as reduce does.
    const bool several = options.Files.size() > 1;
    for (const std::string& file : options.Files) {
        ExitStatus fileStatus = kFileError;
        try {
            fileStatus = infoOfFile(file, options, several, files);
        } catch (const std::bad_alloc&) {  // one file too large: the others still go
            Complain(NotEnoughMemoryFor(file));
            if (options.Json) files.push_back({{"path", file}, {"status", StatusName(kFileError)}, {"message", NotEnoughMemoryFor(file)}});
        }
        status = std::max<int>(status, fileStatus);
    }
    if (options.Json) PrintJson(std::move(files), status);
    return status;
}

}  // namespace

Command AddInfoCommand(CLI::App& tool)
{
    auto options = std::make_shared<InfoOptions>();
    CLI::App* command = tool.add_subcommand("info", "Print each model's summary line, or why it is refused.");
    command->add_option("FILE", options->Files, "model files (MDL5, MDL7, Quake MDL, MD2, MD3)")->required();
    command->add_flag("--details", options->Details, "also skins, frames, closed fans and unused skin vertices");
    command->add_flag("--json", options->Json, "one JSON document instead of lines");
    return {command, [options] { return runInfo(*options); }};
}
