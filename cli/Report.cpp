#include "cli/Report.h"

#include <algorithm>
#include <string>

#include "model/AnyModel.h"
#include "model/Details.h"

namespace {

// Names as a person reads them: bytes that are not printable ASCII as '?'.
std::string printable(const std::string& text)
{
    std::string shown = text;
    for (char& c : shown)
        if (c < ' ' || c > '~') c = '?';
    return shown;
}

std::string upToZero(const char* text, std::size_t size)
{
    return std::string(text, std::find(text, text + size, '\0'));
}

// What only the format has, as a JSON object.
nlohmann::json formatSection(const TMDLModel& model)
{
    nlohmann::json skins = nlohmann::json::array();
    for (const TMDLSkin5& skin : model.Skins)
        skins.push_back({{"type", skin.SkinType}, {"bits", 8 * SkinBytesPerPixel(skin.SkinType)}, {"bytes", skin.PixelSize}});
    return {{"skinRecords", skins}, {"trailingBytes", model.TrailingBytes}};
}

nlohmann::json formatSection(const TQuakeModel& model)
{
    const auto groups = [](const auto& entries) { return std::count_if(entries.begin(), entries.end(), [](const auto& e) { return e.Type != 0; }); };
    const auto seam = std::count_if(model.SkinVerts.begin(), model.SkinVerts.end(), [](const QuakeSkinVert& sv) { return sv.OnSeam != 0; });
    return {{"skinGroups", groups(model.Skins)}, {"frameGroups", groups(model.FrameEntries)}, {"seamVertices", seam}};
}

nlohmann::json formatSection(const TMD2Model& model)
{
    nlohmann::json names = nlohmann::json::array();
    for (const auto& name : model.SkinNames) names.push_back(upToZero(name.data(), name.size()));
    return {{"skinNames", names}, {"glCommandWords", model.GLCommands.size()}};
}

nlohmann::json formatSection(const TMD3Model& model)
{
    nlohmann::json surfaces = nlohmann::json::array();
    for (const TMD3Surface& surface : model.Surfaces) {
        nlohmann::json shaders = nlohmann::json::array();
        for (const MD3Shader& shader : surface.Shaders) shaders.push_back(upToZero(shader.Name.data(), shader.Name.size()));
        surfaces.push_back({{"name", upToZero(surface.Name.data(), surface.Name.size())}, {"shaders", shaders},
                            {"vertices", surface.NumVerts}, {"triangles", surface.NumTriangles}});
    }
    nlohmann::json tags = nlohmann::json::array();
    const std::size_t tagCount = model.Frames.empty() ? 0 : model.Tags.size() / model.Frames.size();
    for (std::size_t t = 0; t < tagCount; ++t) tags.push_back(upToZero(model.Tags[t].Name.data(), model.Tags[t].Name.size()));
    return {{"surfaces", surfaces}, {"tags", tags}};
}

nlohmann::json formatSection(const TMDL7Model& model)
{
    nlohmann::json groups = nlohmann::json::array();
    for (const MDL7Group& group : model.Groups)
        groups.push_back({{"name", upToZero(group.Name.data(), group.Name.size())}, {"vertices", group.MainVertices.Count()},
                          {"triangles", group.Triangles.Count()}, {"frames", group.Frames.size()}, {"skins", group.Skins.size()}});
    return {{"groups", groups}, {"bones", model.Bones.Count()}, {"deformers", model.Deformers.size()},
            {"entityLumpBytes", model.EntityLump.size()}, {"editorLumpBytes", model.EditorLump.size()}};
}

// A value of the format's section as text: numbers and names as they are,
// lists joined by commas.
std::string asText(const nlohmann::json& value)
{
    if (value.is_string()) return printable(value.get<std::string>());
    if (!value.is_array()) return value.dump();
    std::string text;
    for (const nlohmann::json& item : value) text += (text.empty() ? "" : ", ") + asText(item);
    return text;
}

}  // namespace

nlohmann::json DetailsJson(const TAnyModel& model)
{
    const ModelDetails details = DescribeModel(model);
    nlohmann::json skins = nlohmann::json::array();
    for (const SkinDetails& skin : details.Skins)
        skins.push_back({{"kind", skin.Kind}, {"width", skin.Width}, {"height", skin.Height}, {"name", skin.Name}});
    return {{"format", details.Format},
            {"vertices", details.Vertices},
            {"triangles", details.Triangles},
            {"textureCoordinates", details.TexCoords},
            {"skins", skins},
            {"frames", details.Frames},
            {"closedFanVertices", details.ClosedFanVertices},
            {"unusedTextureCoordinates", details.UnusedTexCoords},
            {"formatDetails", model.Visit([](const auto& held) { return formatSection(held); })}};
}

void WriteDetailLines(std::ostream& out, const TAnyModel& model)
{
    // Written from the details as found: the names of a million frames are
    // not held once more as JSON.
    const ModelDetails details = DescribeModel(model);
    out << "  format: " << details.Format << '\n';
    out << "  skins: " << details.Skins.size() << '\n';
    int number = 1;
    for (const SkinDetails& skin : details.Skins) {
        out << "    #" << number++ << ": " << skin.Kind;
        if (skin.Width != 0 || skin.Height != 0) out << ", " << skin.Width << " x " << skin.Height;
        if (!skin.Name.empty()) out << ", \"" << printable(skin.Name) << '"';
        out << '\n';
    }
    out << "  frames: " << details.Frames.size();
    for (std::size_t f = 0; f < details.Frames.size(); ++f) out << (f == 0 ? ": " : ", ") << printable(details.Frames[f]);
    out << "\n  vertices in closed fans: " << details.ClosedFanVertices << " of " << details.Vertices << '\n';
    out << "  unused texture coordinates: " << details.UnusedTexCoords << " of " << details.TexCoords << '\n';
    const nlohmann::json section = model.Visit([](const auto& held) { return formatSection(held); });
    for (const auto& [key, value] : section.items())
        if (value.is_array() && !value.empty() && value.front().is_object()) {
            out << "  " << key << ": " << value.size() << '\n';
            for (std::size_t i = 0; i < value.size(); ++i) {
                std::string fields;
                for (const auto& [field, item] : value[i].items()) fields += (fields.empty() ? "" : ", ") + field + " " + asText(item);
                out << "    #" << i + 1 << ": " << fields << '\n';
            }
        } else {
            out << "  " << key << ": " << (value.is_array() && value.empty() ? "none" : asText(value)) << '\n';
        }
}
