#include "model/Details.h"

#include <algorithm>
#include <type_traits>

#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"

namespace {

std::string upToZero(const char* text, std::size_t size)
{
    return std::string(text, std::find(text, text + size, '\0'));
}

std::vector<SkinDetails> skinsOf(const TMDLModel& model)
{
    static const char* const kinds[] = {"8-bit indices", "", "16-bit 5-6-5 pixels", "16-bit 4-4-4-4 pixels", "24-bit pixels", "32-bit pixels"};
    std::vector<SkinDetails> skins;
    for (const TMDLSkin5& skin : model.Skins) {
        const bool known = skin.SkinType >= 0 && skin.SkinType <= 5 && skin.SkinType != 1;
        skins.push_back({known ? kinds[skin.SkinType] : "type " + std::to_string(skin.SkinType), skin.Width, skin.Height, ""});
    }
    return skins;
}

std::vector<SkinDetails> skinsOf(const TQuakeModel& model)
{
    std::vector<SkinDetails> skins;
    for (const QuakeSkin& skin : model.Skins)
        skins.push_back({skin.Type == 0 ? "8-bit indices" : "group of " + std::to_string(skin.PictureCount) + " 8-bit pictures",
                         model.Header.SkinWidth, model.Header.SkinHeight, ""});
    return skins;
}

std::vector<SkinDetails> skinsOf(const TMD2Model& model)
{
    std::vector<SkinDetails> skins;
    for (const auto& name : model.SkinNames)
        skins.push_back({"file", model.Header.SkinWidth, model.Header.SkinHeight, upToZero(name.data(), name.size())});
    return skins;
}

std::vector<SkinDetails> skinsOf(const TMD3Model& model)
{
    std::vector<SkinDetails> skins;
    for (const TMD3Surface& surface : model.Surfaces)
        for (const MD3Shader& shader : surface.Shaders) skins.push_back({"file", 0, 0, upToZero(shader.Name.data(), shader.Name.size())});
    return skins;
}

std::vector<SkinDetails> skinsOf(const TMDL7Model& model)
{
    std::vector<SkinDetails> skins;
    for (const MDL7Group& group : model.Groups)
        for (const MDL7Skin& skin : group.Skins) {
            static const char* const kinds[] = {"8-bit indices", "reference", "16-bit 5-6-5 pixels", "16-bit 4-4-4-4 pixels",
                                                "24-bit pixels", "32-bit pixels", "DDS", "file"};
            SkinDetails details{skin.Kind() < 8 ? kinds[skin.Kind()] : "kind " + std::to_string(skin.Kind()), skin.Width, skin.Height,
                                upToZero(reinterpret_cast<const char*>(skin.HeadRest.data()), skin.HeadRest.size())};
            if (skin.Kind() == 1 && !skin.Material.empty()) details.Kind = "material";
            if (skin.Kind() == 7) {
                details.Name = upToZero(reinterpret_cast<const char*>(skin.Data.data()), skin.Data.size());
                details.Width = details.Height = 0;
            }
            skins.push_back(details);
        }
    return skins;
}

// Each frame's name up to its first zero byte, read from the frame heads
// alone: a model of many frames is not viewed whole for its names.
template <class Format>
std::vector<std::string> frameNamesOf(const Format& model)
{
    std::vector<std::string> names;
    names.reserve(model.Frames.size());
    for (const auto& frame : model.Frames) names.push_back(upToZero(frame.Name.data(), frame.Name.size()));
    return names;
}

// MDL7's frames stand in its groups (the first group that has frame f names it).
std::vector<std::string> frameNamesOf(const TMDL7Model& model)
{
    return MeshOf(model, {.Normals = false, .Skin = false, .Names = true}).FrameNames;
}

// Vertices whose triangles close around them: at least three triangles, and
// every neighbour met an even number of times. Each vertex's neighbours, up
// to two per triangle, in one flat array behind an offset table.
int64_t closedFanVertices(const AnimatedMesh& mesh)
{
    const std::size_t vertexCount = mesh.VertexCount;
    std::vector<uint32_t> fanSize(vertexCount, 0);
    auto corners = [&](auto visit) {
        for (const MeshTriangle& tri : mesh.Triangles)
            for (std::size_t j = 0; j < 3; ++j) {
                const uint32_t v = tri.Vertex[j];
                // A vertex named twice in one triangle counts once there.
                if (std::find(tri.Vertex.begin(), tri.Vertex.begin() + std::ptrdiff_t(j), v) == tri.Vertex.begin() + std::ptrdiff_t(j)) visit(v, tri);
            }
    };
    // A model accepted without frames may name vertices it does not have.
    for (const MeshTriangle& tri : mesh.Triangles)
        for (uint32_t v : tri.Vertex)
            if (v >= vertexCount) return 0;
    corners([&](uint32_t v, const MeshTriangle&) { ++fanSize[v]; });
    std::vector<std::size_t> start(vertexCount + 1, 0);
    for (std::size_t v = 0; v < vertexCount; ++v) start[v + 1] = start[v] + 2 * std::size_t(fanSize[v]);
    std::vector<uint32_t> neighbours(start[vertexCount]);
    std::vector<std::size_t> filled(start.begin(), start.end() - 1);
    corners([&](uint32_t v, const MeshTriangle& tri) {
        // A triangle that names v twice gives fewer than two others.
        for (uint32_t other : tri.Vertex)
            if (other != v) neighbours[filled[v]++] = other;
    });
    int64_t closed = 0;
    for (std::size_t v = 0; v < vertexCount; ++v) {
        if (fanSize[v] < 3 || (filled[v] - start[v]) % 2 != 0) continue;
        const auto first = neighbours.begin() + std::ptrdiff_t(start[v]);
        const auto last = neighbours.begin() + std::ptrdiff_t(filled[v]);
        std::sort(first, last);
        bool paired = true;
        for (auto k = first; k + 1 < last && paired; k += 2) paired = *k == *(k + 1);
        closed += paired ? 1 : 0;
    }
    return closed;
}

int64_t unusedTexCoords(const AnimatedMesh& mesh, int64_t records)
{
    // Where coordinates belong to vertices (Quake MDL, MD3), a record is used
    // with its vertex; elsewhere by a corner.
    const bool byVertex = !mesh.VertexTexCoords.empty();
    std::vector<uint8_t> used(std::size_t(std::max<int64_t>(records, 0)), 0);
    for (const MeshTriangle& tri : mesh.Triangles)
        for (std::size_t j = 0; j < 3; ++j) {
            const uint32_t record = byVertex ? tri.Vertex[j] : tri.TexCoord[j];
            if (record < used.size()) used[record] = 1;
        }
    return int64_t(std::count(used.begin(), used.end(), uint8_t(0)));
}

}  // namespace

ModelDetails DescribeModel(const TAnyModel& model)
{
    ModelDetails details;
    details.Format = model.FormatName();
    const TAnyModel::RecordCounts counts = model.Counts();
    details.Vertices = counts.Vertices;
    details.Triangles = counts.Triangles;
    details.TexCoords = counts.TexCoords;
    details.Skins = model.Visit([](const auto& held) { return skinsOf(held); });
    details.Frames = model.Visit([](const auto& held) { return frameNamesOf(held); });
    // Triangles are the same in every frame: a view of the first alone.
    const std::vector<int> first = {0};
    const AnimatedMesh mesh = model.Mesh({.Normals = false, .Skin = false, .Names = false, .Frames = &first});
    details.ClosedFanVertices = closedFanVertices(mesh);
    details.UnusedTexCoords = unusedTexCoords(mesh, counts.TexCoords);
    return details;
}
