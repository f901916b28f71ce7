#include "model/SkinFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "model/AnyModel.h"
#include "model/ByteIO.h"

namespace {

namespace fs = std::filesystem;

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Paths matched regardless of case, with each folder listed once.
class CaseFolding {
public:
    // The path itself when it is there, else the one whose parts differ from
    // it only in case, part by part from the first; nothing when none is.
    std::optional<fs::path> Resolve(const fs::path& wanted)
    {
        std::error_code error;
        const fs::path path = wanted.lexically_normal();
        if (fs::exists(path, error)) return path;
        fs::path at = path.root_path();
        for (const fs::path& part : path.relative_path()) {
            fs::path next = at / part;
            if (!fs::exists(next, error)) {
                const std::vector<std::string>& names = listing(at.empty() ? fs::path(".") : at);
                const auto match = std::find_if(names.begin(), names.end(), [&](const std::string& name) { return sameIgnoringCase(name, part.string()); });
                if (match == names.end()) return std::nullopt;
                next = at / *match;
            }
            at = std::move(next);
        }
        return at;
    }

private:
    const std::vector<std::string>& listing(const fs::path& folder)
    {
        auto [entry, added] = listings.try_emplace(folder.string());
        if (!added) return entry->second;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
            entry->second.push_back(it->path().filename().string());
        return entry->second;
    }

    std::map<std::string, std::vector<std::string>> listings;
};

}  // namespace

SkinLookup FileSkinLookup()
{
    auto folding = std::make_shared<CaseFolding>();
    return [folding](const std::string& wanted) -> std::optional<std::vector<uint8_t>> {
        const std::optional<fs::path> path = folding->Resolve(wanted);
        std::error_code error;
        if (!path || !fs::is_regular_file(*path, error)) return std::nullopt;
        if (const uintmax_t size = fs::file_size(*path, error); error || size > kMaxSkinFileBytes) return std::nullopt;
        try {
            return ReadWholeFile(path->string());
        } catch (const FileError&) {  // there, but not readable: as good as not there
            return std::nullopt;
        }
    };
}

FoundSkins FindSkinFiles(const TAnyModel& model, const std::string& modelFile)
{
    std::error_code error;
    fs::path path = fs::absolute(modelFile, error);
    if (error) path = modelFile;
    return FindSkins(model.SkinNames(), path.lexically_normal().generic_string(), FileSkinLookup());
}
