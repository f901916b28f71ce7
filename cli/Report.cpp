#include "cli/Report.h"

#include <algorithm>

#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"
#include "model/MDLClass.h"

namespace {

std::string frameName(const TMDLFrame& frame)
{
    std::string name;
    for (char c : frame.Name) {
        if (c == '\0') break;
        name += (c >= ' ' && c <= '~') ? c : '?';
    }
    return name;
}

// Vertices whose triangles close around them: at least three triangles, and
// every neighbour met an even number of times, as the reduction pass asks
// before it looks at texels and normals.
int64_t closedFanVertices(const TMDLModel& model)
{
    // Sized from the vertices the frames hold, not the header's count: without
    // frames that count is backed by no bytes, and a small file may claim
    // hundreds of millions. The pass, too, sees no vertices without frames.
    const std::size_t vertexCount = model.Frames.empty() ? 0 : model.Frames[0].Items.size();
    // Each vertex's neighbours, up to two per triangle it is in, in one flat
    // array behind an offset table: no list per vertex.
    std::vector<uint32_t> fanSize(vertexCount, 0);
    auto corners = [&](auto visit) {
        for (const MDLTriangle& tri : model.Triangles.Items)
            for (int j = 0; j < 3; ++j) {
                const uint32_t v = tri.VertIndex[std::size_t(j)];
                // A vertex named twice in one triangle counts once there.
                if (std::find(tri.VertIndex.begin(), tri.VertIndex.begin() + j, v) == tri.VertIndex.begin() + j) visit(v, tri);
            }
    };
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (uint32_t v : tri.VertIndex)
            if (v >= vertexCount) return 0;  // only for accepted models
    corners([&](uint32_t v, const MDLTriangle&) { ++fanSize[v]; });
    std::vector<std::size_t> start(vertexCount + 1, 0);
    for (std::size_t v = 0; v < vertexCount; ++v) start[v + 1] = start[v] + 2 * std::size_t(fanSize[v]);
    std::vector<uint32_t> neighbours(start[vertexCount]);
    std::vector<std::size_t> filled(start.begin(), start.end() - 1);
    corners([&](uint32_t v, const MDLTriangle& tri) {
        // A triangle that names v twice gives fewer than two others.
        for (uint32_t other : tri.VertIndex)
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

int64_t unusedSkinVertices(const TMDLModel& model)
{
    std::vector<uint8_t> used(model.SkinVerts.Items.size(), 0);
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (uint32_t s : tri.SkinIndex)
            if (s < used.size()) used[s] = 1;
    return std::count(used.begin(), used.end(), uint8_t(0));
}

}  // namespace

nlohmann::json ModelDetails(const TMDLModel& model)
{
    nlohmann::json skins = nlohmann::json::array();
    for (const TMDLSkin5& skin : model.Skins)
        skins.push_back({{"type", skin.SkinType}, {"bits", 8 * SkinBytesPerPixel(skin.SkinType)}, {"width", skin.Width},
                         {"height", skin.Height}, {"bytes", skin.PixelSize}});
    nlohmann::json names = nlohmann::json::array();
    for (const TMDLFrame& frame : model.Frames) names.push_back(frameName(frame));
    return {{"vertices", model.Header.NumVerts},
            {"triangles", model.Header.NumTris},
            {"skinVertices", model.Header.NumSkinVerts},
            {"skins", skins},
            {"frames", names},
            {"closedFanVertices", closedFanVertices(model)},
            {"unusedSkinVertices", unusedSkinVertices(model)}};
}

void WriteDetailLines(std::ostream& out, const TMDLModel& model)
{
    out << "  skins: " << model.Skins.size() << '\n';
    int number = 1;
    for (const TMDLSkin5& skin : model.Skins)
        out << "    #" << number++ << ": type " << skin.SkinType << " (" << 8 * SkinBytesPerPixel(skin.SkinType) << "-bit), " << skin.Width
            << " x " << skin.Height << ", " << skin.PixelSize << " bytes\n";
    out << "  frames: " << model.Frames.size();
    for (std::size_t f = 0; f < model.Frames.size(); ++f) out << (f == 0 ? ": " : ", ") << frameName(model.Frames[f]);
    out << "\n  vertices in closed fans: " << closedFanVertices(model) << " of " << model.Header.NumVerts << '\n';
    out << "  unused skin vertices: " << unusedSkinVertices(model) << " of " << model.Header.NumSkinVerts << '\n';
}

nlohmann::json ModelDetails(const TAnyModel& model)
{
    if (const TMDLModel* mdl5 = model.MDL5()) {
        nlohmann::json details = ModelDetails(*mdl5);
        details["format"] = model.FormatName();
        return details;
    }
    // Other formats: what their common view tells, every frame's name included.
    const AnimatedMesh mesh = model.Mesh({.VertexMajor = false, .Normals = false, .Skin = false});
    const TAnyModel::RecordCounts counts = model.Counts();
    return {{"format", model.FormatName()},         {"vertices", counts.Vertices},
            {"triangles", counts.Triangles},         {"textureCoordinates", counts.TexCoords},
            {"frames", mesh.FrameNames}};
}

void WriteDetailLines(std::ostream& out, const TAnyModel& model)
{
    // MDL5's lines stay as they always were; other formats name themselves.
    if (const TMDLModel* mdl5 = model.MDL5()) {
        WriteDetailLines(out, *mdl5);
        return;
    }
    out << "  format: " << model.FormatName() << '\n';
    const AnimatedMesh mesh = model.Mesh({.VertexMajor = false, .Normals = false, .Skin = false});
    out << "  frames: " << mesh.FrameCount;
    for (std::size_t f = 0; f < mesh.FrameNames.size(); ++f) out << (f == 0 ? ": " : ", ") << mesh.FrameNames[f];
    out << "\n  texture coordinates: " << model.Counts().TexCoords << '\n';
}
