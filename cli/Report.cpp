#include "cli/Report.h"

#include <algorithm>

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
    std::vector<uint32_t> fanSize(vertexCount, 0);
    std::vector<std::vector<uint32_t>> neighbours(vertexCount);
    for (const MDLTriangle& tri : model.Triangles.Items) {
        for (int j = 0; j < 3; ++j) {
            const uint32_t v = tri.VertIndex[std::size_t(j)];
            if (v >= vertexCount) return 0;  // only for accepted models
            if (std::find(tri.VertIndex.begin(), tri.VertIndex.begin() + j, v) != tri.VertIndex.begin() + j) continue;
            ++fanSize[v];
            for (uint32_t other : tri.VertIndex)
                if (other != v) neighbours[v].push_back(other);
        }
    }
    int64_t closed = 0;
    for (std::size_t v = 0; v < vertexCount; ++v) {
        auto& list = neighbours[v];
        if (fanSize[v] < 3 || list.size() % 2 != 0) continue;
        std::sort(list.begin(), list.end());
        bool paired = true;
        for (std::size_t k = 0; k + 1 < list.size() && paired; k += 2) paired = list[k] == list[k + 1];
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

std::vector<std::string> DetailLines(const nlohmann::json& details)
{
    std::vector<std::string> lines;
    lines.push_back("  skins: " + std::to_string(details["skins"].size()));
    int number = 1;
    for (const auto& skin : details["skins"])
        lines.push_back("    #" + std::to_string(number++) + ": type " + skin["type"].dump() + " (" + skin["bits"].dump() + "-bit), " +
                        skin["width"].dump() + " x " + skin["height"].dump() + ", " + skin["bytes"].dump() + " bytes");
    std::string frames = "  frames: " + std::to_string(details["frames"].size());
    for (std::size_t f = 0; f < details["frames"].size(); ++f)
        frames += (f == 0 ? ": " : ", ") + details["frames"][f].get<std::string>();
    lines.push_back(frames);
    lines.push_back("  vertices in closed fans: " + details["closedFanVertices"].dump() + " of " + details["vertices"].dump());
    lines.push_back("  unused skin vertices: " + details["unusedSkinVertices"].dump() + " of " + details["skinVertices"].dump());
    return lines;
}
