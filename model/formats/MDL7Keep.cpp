// What a reduction keeps of an MDL7 model: a subset of its records, the
// kept ones byte for byte but for the indices that name other records.

#include <algorithm>
#include <cassert>

#include "model/formats/MDL7.h"

namespace {

constexpr uint32_t kGone = UINT32_MAX;

// The group whose run of bases holds index (bases ascend; the last entry is the total).
std::size_t groupOf(const std::vector<uint32_t>& bases, uint32_t index)
{
    return std::size_t(std::upper_bound(bases.begin(), bases.end() - 1, index) - bases.begin()) - 1;
}

// Where each kept record of a list goes: its new index, or kGone.
struct Renumbering {
    std::vector<uint32_t> Kept;    // old indices, ascending
    std::vector<uint32_t> Number;  // one per old record
    explicit Renumbering(std::size_t count) : Number(count, kGone) {}
    void Keep(uint32_t old)
    {
        Number[old] = uint32_t(Kept.size());
        Kept.push_back(old);
    }
};

// Renumbers a group's kept triangles, copied from their sources in survivors'
// order; corners name the output's vertices and texture coordinates.
void renumberTriangles(MDL7Group& group, const std::vector<uint32_t>& sources, const std::vector<const MeshTriangle*>& corners,
                       const Renumbering& texCoords)
{
    const bool secondSet = group.Triangles.RecordSize >= mdl7::kTriangleSecondTexAt + 6;
    MDL7Records out{group.Triangles.RecordSize, {}};
    out.Bytes.resize(sources.size() * out.RecordSize);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        uint8_t* tri = out[i];
        std::copy_n(group.Triangles[sources[i]], out.RecordSize, tri);
        for (std::size_t j = 0; j < 3; ++j) {
            mdl7::PutU16(tri + 2 * j, uint16_t(corners[i]->Vertex[j]));
            mdl7::PutU16(tri + mdl7::kTriangleTexAt + 2 * j, uint16_t(corners[i]->TexCoord[j]));
            if (!secondSet) continue;
            const uint16_t second = mdl7::U16At(tri + mdl7::kTriangleSecondTexAt + 2 * j);
            if (second != kMDL7None) mdl7::PutU16(tri + mdl7::kTriangleSecondTexAt + 2 * j, uint16_t(texCoords.Number[second]));
        }
    }
    group.Triangles = std::move(out);
}

// Keeps each frame's vertices of kept main vertices, renumbered: the order
// of the old indices is kept, so a sorted frame stays sorted.
void keepFrameVertices(MDL7Group& group, const Renumbering& vertices)
{
    for (MDL7Frame& frame : group.Frames) {
        std::vector<uint32_t> kept;
        for (uint32_t k = 0; k < frame.Vertices.Count(); ++k)
            if (vertices.Number[mdl7::U16At(frame.Vertices[k] + mdl7::kVertexBoneAt)] != kGone) kept.push_back(k);
        frame.Vertices.KeepOnly(kept);
        for (std::size_t k = 0; k < frame.Vertices.Count(); ++k) {
            uint8_t* index = frame.Vertices[k] + mdl7::kVertexBoneAt;
            mdl7::PutU16(index, uint16_t(vertices.Number[mdl7::U16At(index)]));
        }
    }
}

// Keeps the weights of kept vertices, renumbered, and works out again the
// most weights any vertex of a group with deformers has.
void keepWeights(TMDL7Model& model, const std::vector<Renumbering>& vertices)
{
    std::vector<std::vector<uint32_t>> perVertex(model.Groups.size());
    for (MDL7Deformer& d : model.Deformers) {
        const auto g = std::size_t(d.Group);  // checked by the loader
        perVertex[g].resize(vertices[g].Kept.size(), 0);
        for (MDL7Element& element : d.Elements) {
            std::vector<MDL7Weight> kept;
            for (const MDL7Weight& weight : element.Weights)
                if (const uint32_t number = vertices[g].Number[std::size_t(weight.Vertex)]; number != kGone) {
                    kept.push_back({int32_t(number), weight.Weight});
                    ++perVertex[g][number];
                }
            element.Weights = std::move(kept);
        }
    }
    for (std::size_t g = 0; g < model.Groups.size(); ++g) {
        if (perVertex[g].empty()) continue;  // no deformer: the head keeps its value
        const uint32_t most = *std::max_element(perVertex[g].begin(), perVertex[g].end());
        model.Groups[g].MostWeights = int8_t(std::min<uint32_t>(most, 127));
    }
}

}  // namespace

void KeepSurvivors(TMDL7Model& model, const MeshSurvivors& survivors)
{
    const MDL7Bases bases = BasesOf(model);
    const std::size_t groups = model.Groups.size();
    // 1. each group's kept main vertices, in its own numbering
    std::vector<Renumbering> vertices, texCoords;
    for (const MDL7Group& g : model.Groups) {
        vertices.emplace_back(g.MainVertices.Count());
        texCoords.emplace_back(g.TexCoords.Count());
    }
    for (uint32_t v : survivors.Vertices) {
        const std::size_t g = groupOf(bases.Vertices, v);
        vertices[g].Keep(v - bases.Vertices[g]);
    }

    // 2. each group's kept triangles, by the triangle they come from; corners
    // of two groups cannot be written and are dropped (no collapse merges parts)
    std::vector<std::vector<uint32_t>> sources(groups);
    std::vector<std::vector<const MeshTriangle*>> corners(groups);
    std::vector<MeshTriangle> local(survivors.Triangles.size());
    for (std::size_t i = 0; i < survivors.Triangles.size(); ++i) {
        const std::size_t g = groupOf(bases.Triangles, survivors.TriangleSource[i]);
        bool oneGroup = true;
        for (std::size_t j = 0; j < 3; ++j) {
            const uint32_t v = survivors.Vertices[survivors.Triangles[i].Vertex[j]];
            oneGroup = oneGroup && v >= bases.Vertices[g] && v < bases.Vertices[g + 1];
            local[i].Vertex[j] = oneGroup ? vertices[g].Number[v - bases.Vertices[g]] : 0;
        }
        assert(oneGroup);
        if (!oneGroup) continue;
        sources[g].push_back(survivors.TriangleSource[i] - bases.Triangles[g]);
        corners[g].push_back(&local[i]);
    }

    // 3. texture coordinates: the survivors' (not the one shared by corners
    // that name none), and those a kept triangle's second set names
    for (uint32_t s : survivors.TexCoords) {
        if (s >= bases.TexCoords.back()) continue;
        const std::size_t g = groupOf(bases.TexCoords, s);
        texCoords[g].Keep(s - bases.TexCoords[g]);
    }
    for (std::size_t g = 0; g < groups; ++g) {
        const MDL7Records& triangles = model.Groups[g].Triangles;
        if (triangles.RecordSize < mdl7::kTriangleSecondTexAt + 6) continue;
        std::vector<uint8_t> named(texCoords[g].Number.size(), 0);
        for (uint32_t t : sources[g])
            for (std::size_t j = 0; j < 3; ++j)
                if (const uint16_t s = mdl7::U16At(triangles[t] + mdl7::kTriangleSecondTexAt + 2 * j); s != kMDL7None) named[s] = 1;
        // Merged into the survivors' list, still ascending.
        Renumbering merged(named.size());
        for (uint32_t s : texCoords[g].Kept) named[s] = 1;
        for (uint32_t s = 0; s < named.size(); ++s)
            if (named[s]) merged.Keep(s);
        texCoords[g] = std::move(merged);
    }
    for (std::size_t i = 0; i < survivors.Triangles.size(); ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            const uint32_t s = survivors.TexCoords[survivors.Triangles[i].TexCoord[j]];
            const std::size_t g = groupOf(bases.Triangles, survivors.TriangleSource[i]);
            const bool own = s >= bases.TexCoords[g] && s < bases.TexCoords[g + 1];
            assert(own || s >= bases.TexCoords.back());  // another group's coordinate: never in the view
            local[i].TexCoord[j] = own ? texCoords[g].Number[s - bases.TexCoords[g]] : kMDL7None;
        }

    // 4. the records, group by group
    for (std::size_t g = 0; g < groups; ++g) {
        MDL7Group& group = model.Groups[g];
        renumberTriangles(group, sources[g], corners[g], texCoords[g]);
        keepFrameVertices(group, vertices[g]);
        group.MainVertices.KeepOnly(vertices[g].Kept);
        group.TexCoords.KeepOnly(texCoords[g].Kept);
    }
    keepWeights(model, vertices);

    // 5. the editor lump may name vertices by their old numbers: an editor
    // could misread it, while the engine does without it
    if (!model.EditorLump.empty()) {
        model.Log("WARNING:The editor lump (" + std::to_string(model.EditorLump.size()) +
                  " bytes) is left out of the reduced model: it may name vertices that are gone.");
        model.EditorLump.clear();
    }
    model.PlaceSizes();
}
