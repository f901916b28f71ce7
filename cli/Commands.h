#pragma once
// The tool's commands, one file each: each adds its words to the tool and
// hands back what runs it once they are parsed; and what they share.

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

#include "cli/Batch.h"

namespace CLI {
class App;
}
class TAnyModel;

struct Command {
    CLI::App* Words = nullptr;       // the sub-command, parsed() once named
    std::function<int()> Run;        // returns the exit status
};

// kelvane-cli info (cli/InfoCommand.cpp): each model's summary, or why it is refused.
Command AddInfoCommand(CLI::App& tool);

// kelvane-cli reduce (cli/ReduceCommand.cpp): models reduced and saved.
Command AddReduceCommand(CLI::App& tool);

// kelvane-cli render (cli/RenderCommand.cpp): a model's frame, a pair or a sheet as a PNG.
Command AddRenderCommand(CLI::App& tool);

// kelvane-cli compare ORIGINAL OTHER: the deviation of every frame (cli/CompareCommand.cpp).
Command AddCompareCommand(CLI::App& tool);

// One line on standard error, "kelvane-cli: " and message, after what standard
// output holds so far, so that the two read in order.
void Complain(const std::string& message);

// Loads file into model for a command. Returns kAccepted; or kRefused or
// kFileError, having said why on standard error ("\"hero.mdl\" is refused:
// ERROR:..." and any further ERROR: lines after the file's name, or the
// file error's message, which names the file), and gives that first line in
// reason for a JSON document.
ExitStatus LoadForCommand(TAnyModel& model, const std::string& file, std::string& reason);

// How a file's exit status reads in the JSON documents: "accepted", "refused",
// "error", "over budget" or "usage".
std::string StatusName(ExitStatus status);
// {"vertices", "triangles", "textureCoordinates"}: the keys info --details gives them.
nlohmann::json CountsJson(const ModelCounts& counts);
// One JSON document on standard output: {"files": files, "status": status}.
// File names are bytes, not always UTF-8: a byte that is not is replaced
// rather than ending the run.
void PrintJson(nlohmann::json files, int status);
