#include "model/Skins.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <variant>

#include "model/Image.h"

namespace {

std::string trimmed(std::string_view text)
{
    const auto isPadding = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '"'; };
    while (!text.empty() && isPadding(text.front())) text.remove_prefix(1);
    while (!text.empty() && isPadding(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::string lowered(std::string text)
{
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The folder part of a path ("" for none; "/" for a file at the root).
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string joined(const std::string& folder, const std::string& rest)
{
    if (folder.empty()) return rest;
    return folder.back() == '/' ? folder + rest : folder + "/" + rest;
}

// The folder, then each folder above it, up to the root of an absolute path
// or the first folder of a relative one (then "", where lookups start).
std::vector<std::string> foldersUpFrom(std::string folder)
{
    std::vector<std::string> folders;
    for (;;) {
        folders.push_back(folder);
        if (folder.empty() || folder == "/") return folders;
        folder = folderOf(folder);
    }
}

// A named path's parts: '\' taken for '/', a drive letter, empty and "."
// parts left out, so "C:\q2\models\x.pcx" and "/models/x.pcx" name alike.
std::vector<std::string> partsOf(const std::string& named)
{
    std::string path = named;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) path.erase(0, 2);
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start && path.compare(start, end - start, ".") != 0) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// A file name as named, then with each other picture kind's extension.
std::vector<std::string> withExtensions(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string own = stem.size() == name.size() ? "" : lowered(name.substr(stem.size()));
    std::vector<std::string> names = {name};
    for (std::string_view extension : kSkinImageExtensions)
        if (extension != own) names.push_back(stem + std::string(extension));
    return names;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseSkinFile(std::string_view text)
{
    std::vector<std::pair<std::string, std::string>> entries;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t comma = line.find(',');
        if (comma == std::string_view::npos) continue;
        std::string surface = trimmed(line.substr(0, comma)), path = trimmed(line.substr(comma + 1));
        std::replace(path.begin(), path.end(), '\\', '/');
        if (!surface.empty() && !path.empty()) entries.emplace_back(std::move(surface), std::move(path));
    }
    return entries;
}

std::vector<std::string> SkinFileCandidates(const std::string& modelPath)
{
    const std::string folder = folderOf(modelPath);
    std::string stem = modelPath.substr(folder.empty() ? 0 : folder.size() + (folder == "/" ? 0 : 1));
    if (const std::size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.erase(dot);
    std::vector<std::string> files = {joined(folder, stem + "_default.skin")};
    // "head_1", "head_2": the game's levels of detail of "head", skinned
    // alike; "head_lod1": the levels reduce --lods writes.
    const std::size_t underscore = stem.rfind('_');
    std::size_t digits = underscore == std::string::npos ? stem.size() : underscore + 1;
    if (stem.compare(digits, 3, "lod") == 0) digits += 3;
    if (underscore != std::string::npos && underscore > 0 && digits < stem.size() &&
        std::all_of(stem.begin() + std::ptrdiff_t(digits), stem.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        files.push_back(joined(folder, stem.substr(0, underscore) + "_default.skin"));
    return files;
}

std::vector<std::string> SkinCandidates(const std::string& modelPath, const std::string& named)
{
    const std::vector<std::string> parts = partsOf(named);
    if (parts.empty()) return {};
    std::vector<std::string> candidates;
    std::set<std::string> seen;
    const auto add = [&](const std::string& folder, const std::string& trail) {
        for (const std::string& name : withExtensions(trail))
            if (seen.insert(joined(folder, name)).second) candidates.push_back(joined(folder, name));
    };
    // The trailing folders with the file name, longest first: the whole
    // named path is the likeliest to name the one file meant.
    std::vector<std::string> trails;
    std::string trail = parts.back();
    for (std::size_t first = parts.size() - 1; first-- > 0;) trails.insert(trails.begin(), trail = parts[first] + "/" + trail);
    const std::vector<std::string> folders = foldersUpFrom(folderOf(modelPath));
    add(folders.front(), parts.back());
    for (const std::string& folder : folders)
        for (const std::string& each : trails) add(folder, each);
    return candidates;
}

const MeshSkin* FoundSkins::First() const
{
    for (const MeshSkin& skin : Skins)
        if (skin.Width > 0) return &skin;
    return nullptr;
}

FoundSkins FindSkins(std::vector<SkinSlot> slots, const std::string& modelPath, const SkinLookup& lookup)
{
    if (slots.empty()) return {};  // a model that holds its skins, or names none
    // 1. a .skin file beside the model puts its paths first, surface by surface
    for (const std::string& file : SkinFileCandidates(modelPath)) {
        const std::optional<std::vector<uint8_t>> bytes = lookup(file);
        if (!bytes) continue;
        const auto entries = ParseSkinFile(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        for (SkinSlot& slot : slots)
            for (const auto& [surface, path] : entries)
                if (!slot.Part.empty() && lowered(surface) == lowered(slot.Part)) slot.Names.insert(slot.Names.begin(), path);
        break;
    }

    // 2. each slot's names in order, each at its candidates in order
    FoundSkins found;
    found.Skins.resize(slots.size());
    found.Paths.resize(slots.size());
    std::set<std::string> said;
    const auto say = [&](const std::string& line) {
        if (said.insert(line).second) found.Warnings.push_back(line);
    };
    std::vector<std::pair<std::string, std::vector<std::string>>> missing;  // a name, and the surfaces that miss it
    for (std::size_t k = 0; k < slots.size(); ++k) {
        for (const std::string& name : slots[k].Names) {
            for (const std::string& path : SkinCandidates(modelPath, name)) {
                const std::optional<std::vector<uint8_t>> bytes = lookup(path);
                if (!bytes) continue;
                auto decoded = DecodeImage(*bytes);
                if (auto* skin = std::get_if<MeshSkin>(&decoded)) {
                    found.Skins[k] = std::move(*skin);
                    found.Paths[k] = path;
                    break;
                }
                say(path + ": " + std::get<std::string>(decoded) + "; looking further");
            }
            if (!found.Paths[k].empty()) break;
        }
        if (!found.Paths[k].empty() || slots[k].Names.empty()) continue;
        // Said once per name, however many surfaces miss it: the one a
        // game would draw (a .skin file's, or the first of the model's).
        const std::string& name = slots[k].Names.front();
        auto entry = std::find_if(missing.begin(), missing.end(), [&](const auto& m) { return m.first == name; });
        if (entry == missing.end()) entry = missing.insert(missing.end(), {name, {}});
        if (!slots[k].Part.empty()) entry->second.push_back("\"" + slots[k].Part + "\"");
    }
    for (const auto& [name, parts] : missing) {
        std::string surfaces;
        for (const std::string& part : parts) surfaces += (surfaces.empty() ? "" : ", ") + part;
        say("no skin \"" + name + "\" found" + (parts.empty() ? "" : " for surface" + std::string(parts.size() > 1 ? "s " : " ") + surfaces) +
            " beside the model or under the folders above it; drawn untextured");
    }
    return found;
}

void PutSkins(AnimatedMesh& mesh, const FoundSkins& found)
{
    if (mesh.Skins.size() < found.Skins.size()) mesh.Skins.resize(found.Skins.size());
    for (std::size_t k = 0; k < found.Skins.size(); ++k)
        if (found.Skins[k].Width > 0) mesh.Skins[k] = found.Skins[k];
}

void PutSkinEverywhere(AnimatedMesh& mesh, MeshSkin skin)
{
    mesh.Skins.assign(1, std::move(skin));
    mesh.TriangleSkin.clear();
}

void UseFoundSkinTexels(AnimatedMesh& mesh, const FoundSkins& found)
{
    const MeshSkin* first = found.First();
    if (!mesh.SkinSizeNominal || !first || mesh.SkinWidth <= 0 || mesh.SkinHeight <= 0) return;
    const double scaleU = double(first->Width) / mesh.SkinWidth, scaleV = double(first->Height) / mesh.SkinHeight;
    for (auto& uv : mesh.TexCoords) uv = {float(uv[0] * scaleU), float(uv[1] * scaleV)};
    mesh.SkinWidth = first->Width;
    mesh.SkinHeight = first->Height;
    mesh.SkinSizeNominal = false;
}
