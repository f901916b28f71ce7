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

ExitStatus LoadForCommand(TAnyModel& model, const std::string& file, std::string& reason)
{
    std::vector<std::string> lines;
    model.LogLines = [&lines](const std::string& line) { lines.push_back(line); };
    try {
        if (model.LoadFromFile(file)) return kAccepted;
    } catch (const std::system_error& error) {  // the message names the file
        reason = error.what();
        Complain(reason);
        return kFileError;
    } catch (const std::bad_alloc&) {
        reason = NotEnoughMemoryFor(file);
        Complain(reason);
        return kFileError;
    }
    const std::vector<std::string> errors = ErrorLines(lines);
    reason = "\"" + file + "\" is refused: " + (errors.empty() ? std::string("not a model") : errors.front());
    Complain(reason);
    for (std::size_t i = 1; i < errors.size(); ++i) Complain(file + ": " + errors[i]);
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
    return {{"vertices", counts.Vertices}, {"triangles", counts.Triangles}, {"textureCoordinates", counts.SkinVertices}};
}

void PrintJson(nlohmann::json files, int status)
{
    nlohmann::json document = nlohmann::json::object();
    document["files"] = std::move(files);
    document["status"] = status;
    std::cout << DumpJson(document) << '\n';
}

