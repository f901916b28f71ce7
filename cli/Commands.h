#pragma once
// The tool's commands beyond info and reduce, one file each: each adds its
// words to the tool and hands back what runs it once they are parsed.

#include <functional>

namespace CLI {
class App;
}

struct Command {
    CLI::App* Words = nullptr;       // the sub-command, parsed() once named
    std::function<int()> Run;        // returns the exit status
};

// kelvane-cli render (cli/RenderCommand.cpp): a model's frame, a pair or a sheet as a PNG.
Command AddRenderCommand(CLI::App& tool);

// kelvane-cli compare ORIGINAL OTHER: the deviation of every frame (cli/CompareCommand.cpp).
Command AddCompareCommand(CLI::App& tool);
