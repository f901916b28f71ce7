#include "cli/Commands.h"

#include <iostream>
#include <system_error>

#include "model/MDLClass.h"

void Complain(const std::string& message)
{
    std::cout.flush();
    std::cerr << "kelvane-cli: " << message << '\n';
}

ExitStatus LoadModelFile(TMDLModel& model, const std::string& file, std::vector<std::string>& errors)
{
    std::vector<std::string> lines;
    model.LogLines = [&lines](const std::string& line) { lines.push_back(line); };
    try {
        if (model.LoadFromFile(file)) return kAccepted;
    } catch (const std::system_error& error) {  // the message names the file
        Complain(error.what());
        return kFileError;
    }
    errors = ErrorLines(lines);
    return kRefused;
}
