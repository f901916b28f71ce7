#include "cli/Commands.h"

#include <iostream>
#include <system_error>

#include "cli/Deviation.h"
#include "model/AnyModel.h"

void Complain(const std::string& message)
{
    std::cout.flush();
    std::cerr << "kelvane-cli: " << message << '\n';
}

ExitStatus LoadModelFile(TAnyModel& model, const std::string& file, std::vector<std::string>& problems)
{
    std::vector<std::string> lines;
    model.LogLines = [&lines](const std::string& line) { lines.push_back(line); };
    try {
        if (model.LoadFromFile(file)) return kAccepted;
    } catch (const std::system_error& error) {  // the message names the file
        problems = {error.what()};
        return kFileError;
    } catch (const std::bad_alloc&) {
        problems = {NotEnoughMemoryFor(file)};
        return kFileError;
    }
    problems = ErrorLines(lines);
    return kRefused;
}

std::string StatusName(ExitStatus status)
{
    switch (status) {
    case kAccepted: return "accepted";
    case kRefused: return "refused";
    case kFileError: return "error";
    case kBudgetMissed: return "over budget";
    default: return "usage";
    }
}

nlohmann::json CountsJson(const ModelCounts& counts)
{
    return {{"vertices", counts.Vertices}, {"triangles", counts.Triangles}, {"skinVertices", counts.SkinVertices}};
}

void PrintJson(nlohmann::json files, int status)
{
    nlohmann::json document = nlohmann::json::object();
    document["files"] = std::move(files);
    document["status"] = status;
    std::cout << DumpJson(document) << '\n';
}

