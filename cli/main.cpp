// kelvane-cli: the core from the command line, for one model or whole folders
// of them. The entry alone: each command's words and run are in a file of its
// own (cli/InfoCommand.cpp, ReduceCommand.cpp, RenderCommand.cpp,
// CompareCommand.cpp).
//
// Exit status: 0 every file accepted, 1 a file refused, 2 usage error,
// 3 a file could not be read or written or did not fit in memory, 4 a budget
// was not met (the file is still written). Several files give the worst of
// them: 3, then 1, then 4.

#include <CLI/CLI.hpp>

#include <iostream>
#include <new>
#include <vector>

#include "cli/Commands.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "0.0.0"
#endif

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    CLI::App app{"Kelvane reduces the polygon count of animated models (MDL5, MDL7, Quake MDL, MD2, MD3);\n"
                 "every animation frame loses the same vertices.",
                 "kelvane-cli"};
    app.set_version_flag("--version", std::string("kelvane-cli ") + KELVANE_VERSION);
    app.require_subcommand(1);
    app.footer("Exit status: 0 accepted, 1 a model was refused, 2 usage error, 3 a file could not be read\n"
               "or written or did not fit in memory, 4 a budget was not met (the file is still written);\n"
               "for several files the worst of them: 3, then 1, then 4. See 'kelvane-cli reduce --help'.");
    const std::vector<Command> commands = {AddInfoCommand(app), AddReduceCommand(app), AddRenderCommand(app), AddCompareCommand(app)};
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version exit with 0; every mistake in the words with 2.
        return app.exit(error) == 0 ? kAccepted : kUsage;
    }
    // Each command says which file did not fit in memory; this is for what none foresaw.
    try {
        for (const Command& command : commands)
            if (command.Words->parsed()) return command.Run();
        return kUsage;  // require_subcommand(1) lets no other way through
    } catch (const std::bad_alloc&) {
        Complain("Not enough memory");
        return kFileError;
    }
}
