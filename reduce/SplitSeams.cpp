#include "reduce/SplitSeams.h"

#include <algorithm>
#include <numeric>
#include <utility>

PlaceGroups GroupSamePlaces(const AnimatedMesh& mesh, const std::vector<uint8_t>& listed)
{
    const uint32_t vertexCount = mesh.VertexCount;
    const auto partOf = [&](uint32_t v) { return mesh.VertexPart.empty() ? 0 : mesh.VertexPart[v]; };
    PlaceGroups groups;
    groups.GroupOf.assign(vertexCount, kNone);
    std::vector<std::pair<uint64_t, uint32_t>> keyed;  // (hash of every frame's position, vertex)
    for (uint32_t v = 0; v < vertexCount; ++v) {
        if (!listed[v]) continue;
        uint64_t hash = 1469598103934665603ull ^ partOf(v);
        for (uint32_t f = 0; f < mesh.FrameCount; ++f) {
            const PackedPosition& p = mesh.Positions[mesh.At(v, f)];
            hash = (hash ^ (uint64_t(p[0]) | uint64_t(p[1]) << 16 | uint64_t(p[2]) << 32)) * 1099511628211ull;
        }
        keyed.push_back({hash, v});
    }
    std::sort(keyed.begin(), keyed.end());
    const auto samePlace = [&](uint32_t a, uint32_t b) {
        if (partOf(a) != partOf(b)) return false;
        for (uint32_t f = 0; f < mesh.FrameCount; ++f)
            if (mesh.Positions[mesh.At(a, f)] != mesh.Positions[mesh.At(b, f)]) return false;
        return true;
    };
    std::vector<uint32_t>& groupOf = groups.GroupOf;
    std::vector<uint32_t>& members = groups.Members;
    for (std::size_t first = 0; first < keyed.size();) {
        std::size_t end = first + 1;
        while (end < keyed.size() && keyed[end].first == keyed[first].first) ++end;
        // Within a run of equal hashes, each vertex not yet grouped starts
        // a group of those after it at the same place (a collision splits).
        for (std::size_t i = first; i < end; ++i) {
            const uint32_t lead = keyed[i].second;
            if (groupOf[lead] != kNone || end - first < 2) continue;
            const auto start = uint32_t(members.size());
            members.push_back(lead);
            for (std::size_t k = i + 1; k < end; ++k)
                if (groupOf[keyed[k].second] == kNone && samePlace(lead, keyed[k].second)) members.push_back(keyed[k].second);
            if (members.size() - start < 2) {
                members.resize(start);
                continue;
            }
            const auto id = uint32_t(groups.Start.size());
            groups.Start.push_back(start);
            for (uint32_t k = start; k < members.size(); ++k) groupOf[members[k]] = id;
        }
        first = end;
    }
    groups.Start.push_back(uint32_t(members.size()));
    return groups;
}

void ListSurvivors(const AnimatedMesh& mesh, const std::vector<MeshTriangle>& live, std::vector<uint32_t>&& source, MeshSurvivors& out)
{
    std::vector<uint8_t> usedBefore(mesh.VertexCount, 0);
    std::vector<uint8_t> usedAfter(mesh.VertexCount, 0);
    const std::size_t texCount = mesh.TexCoords.size();
    std::vector<uint8_t> texBefore(texCount, 0);
    std::vector<uint8_t> texAfter(texCount, 0);
    for (const MeshTriangle& tri : mesh.Triangles) {
        for (uint32_t v : tri.Vertex) usedBefore[v] = 1;
        for (uint32_t s : tri.TexCoord) texBefore[s] = 1;
    }
    for (const MeshTriangle& tri : live) {
        for (uint32_t v : tri.Vertex) usedAfter[v] = 1;
        for (uint32_t s : tri.TexCoord) texAfter[s] = 1;
    }
    // Vertices no triangle used in the input stay: they are not ours to drop.
    const auto renumber = [](const std::vector<uint8_t>& before, const std::vector<uint8_t>& after, std::vector<uint32_t>& kept,
                             std::vector<uint32_t>& number) {
        number.assign(before.size(), kNone);
        kept.clear();
        for (uint32_t i = 0; i < before.size(); ++i) {
            if (before[i] && !after[i]) continue;
            number[i] = uint32_t(kept.size());
            kept.push_back(i);
        }
    };
    std::vector<uint32_t> vertexNumber;
    renumber(usedBefore, usedAfter, out.Vertices, vertexNumber);
    for (uint32_t v = 0; v < mesh.VertexTexCoords.size(); ++v)
        for (uint32_t s : mesh.VertexTexCoords[v]) {
            texBefore[s] = 1;
            if (vertexNumber[v] != kNone) texAfter[s] = 1;
        }
    std::vector<uint32_t> texNumber;
    renumber(texBefore, texAfter, out.TexCoords, texNumber);
    out.Triangles.clear();
    out.Triangles.reserve(live.size());
    for (MeshTriangle tri : live) {
        for (uint32_t& v : tri.Vertex) v = vertexNumber[v];
        for (uint32_t& s : tri.TexCoord) s = texNumber[s];
        out.Triangles.push_back(tri);
    }
    out.TriangleSource = std::move(source);
}

bool WeldSplitSeams(const AnimatedMesh& mesh, WeldedView& out)
{
    // 1. coordinates one per vertex, each its own, and corners that use them
    if (mesh.VertexTexCoords.empty()) return false;
    out.OwnerOf.assign(mesh.TexCoords.size(), kNone);
    for (uint32_t v = 0; v < mesh.VertexCount; ++v) {
        const auto [front, back] = mesh.VertexTexCoords[v];
        if (front != back || out.OwnerOf[front] != kNone) return false;
        out.OwnerOf[front] = v;
    }
    for (const MeshTriangle& tri : mesh.Triangles)
        for (std::size_t j = 0; j < 3; ++j)
            if (tri.TexCoord[j] != mesh.VertexTexCoords[tri.Vertex[j]][0]) return false;

    // 2. the border vertices, by the edges that only one triangle holds
    std::vector<uint64_t> edges;
    edges.reserve(mesh.Triangles.size() * 3);
    for (const MeshTriangle& tri : mesh.Triangles)
        for (std::size_t j = 0; j < 3; ++j) {
            const uint32_t a = tri.Vertex[j], b = tri.Vertex[(j + 1) % 3];
            edges.push_back(uint64_t(std::min(a, b)) << 32 | std::max(a, b));
        }
    std::sort(edges.begin(), edges.end());
    std::vector<uint8_t> onBorder(mesh.VertexCount, 0);
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t end = i + 1;
        while (end < edges.size() && edges[end] == edges[i]) ++end;
        if (end - i == 1) onBorder[edges[i] >> 32] = onBorder[uint32_t(edges[i])] = 1;
        i = end;
    }

    // 3. each place's sides onto its first, where their coordinates all differ
    const PlaceGroups places = GroupSamePlaces(mesh, onBorder);
    std::vector<uint32_t> lead(mesh.VertexCount);
    std::iota(lead.begin(), lead.end(), 0u);
    bool welded = false;
    for (uint32_t g = 0; g < places.Count(); ++g) {
        const std::span<const uint32_t> members = places.Of(g);
        bool distinct = true;
        for (std::size_t i = 0; i < members.size() && distinct; ++i)
            for (std::size_t k = i + 1; k < members.size() && distinct; ++k)
                distinct = mesh.TexCoords[mesh.VertexTexCoords[members[i]][0]] != mesh.TexCoords[mesh.VertexTexCoords[members[k]][0]];
        if (!distinct) continue;
        for (uint32_t v : members) lead[v] = members[0];
        welded = true;
    }
    if (!welded) return false;

    // 4. the welded view
    AnimatedMesh& w = out.Mesh;
    std::vector<uint32_t> number(mesh.VertexCount, kNone);
    std::vector<uint32_t> leads;
    for (uint32_t v = 0; v < mesh.VertexCount; ++v)
        if (lead[v] == v) {
            number[v] = uint32_t(leads.size());
            leads.push_back(v);
        }
    w.VertexCount = uint32_t(leads.size());
    w.FrameCount = mesh.FrameCount;
    w.VertexMajor = mesh.VertexMajor;
    w.Positions.resize(std::size_t(w.VertexCount) * w.FrameCount);
    for (uint32_t i = 0; i < w.VertexCount; ++i)
        for (uint32_t f = 0; f < w.FrameCount; ++f) w.Positions[w.At(i, f)] = mesh.Positions[mesh.At(leads[i], f)];
    w.Transforms = mesh.Transforms;
    w.FrameNames = mesh.FrameNames;
    w.Triangles = mesh.Triangles;
    for (MeshTriangle& tri : w.Triangles)
        for (uint32_t& v : tri.Vertex) v = number[lead[v]];
    w.TexCoords = mesh.TexCoords;
    w.SkinWidth = mesh.SkinWidth;
    w.SkinHeight = mesh.SkinHeight;
    if (!mesh.VertexPart.empty())
        for (uint32_t v : leads) w.VertexPart.push_back(mesh.VertexPart[v]);
    return true;
}

void UnweldSurvivors(const AnimatedMesh& mesh, const WeldedView& welded, MeshSurvivors&& fromWelded, MeshSurvivors& out)
{
    std::vector<MeshTriangle> live = std::move(fromWelded.Triangles);
    for (MeshTriangle& tri : live)
        for (std::size_t j = 0; j < 3; ++j) {
            tri.TexCoord[j] = fromWelded.TexCoords[tri.TexCoord[j]];
            tri.Vertex[j] = welded.OwnerOf[tri.TexCoord[j]];
        }
    ListSurvivors(mesh, live, std::move(fromWelded.TriangleSource), out);
}
