// Loads any bytes as MD3. What it accepts must save to the same bytes and
// give a consistent view; a subset of its vertices, chosen from the input,
// with the triangles over them, must then survive KeepSurvivors, a save and a
// reload with their positions unchanged. The collapses with split seams
// welded must give survivors whose corners each show their vertex's own
// coordinate, and which save and load again. A refusal is a normal outcome; a
// crash, a read outside a buffer or undefined behaviour is a finding.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzChecks.h"
#include "model/formats/MD3.h"
#include "reduce/Quadric.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    TMD3Model model;
    if (!loadsAndWritesBack(model, data, size)) return 0;

    const AnimatedMesh mesh = MeshOf(model, {.VertexMajor = size % 2 == 1, .Normals = true, .Skin = true});
    require(mesh.IsConsistent());

    // 1. keep about two vertices in three, picked by a hash that the input's size moves
    MeshSurvivors survivors;
    std::vector<uint32_t> renumbered(mesh.VertexCount, UINT32_MAX);
    for (uint32_t v = 0; v < mesh.VertexCount; ++v) {
        if ((uint32_t(v * 2654435761u + size) >> 7) % 3 == 0) continue;
        renumbered[v] = uint32_t(survivors.Vertices.size());
        survivors.Vertices.push_back(v);
    }
    survivors.TexCoords = survivors.Vertices;
    for (uint32_t t = 0; t < mesh.Triangles.size(); ++t) {
        MeshTriangle out;
        bool kept = true;
        for (std::size_t j = 0; j < 3; ++j) {
            out.Vertex[j] = out.TexCoord[j] = renumbered[mesh.Triangles[t].Vertex[j]];
            kept = kept && out.Vertex[j] != UINT32_MAX;
        }
        if (!kept) continue;
        survivors.Triangles.push_back(out);
        survivors.TriangleSource.push_back(t);
    }

    // 2. the collapses, split seams welded, to a share of the triangles the size picks
    // passing twice the budget on the way, and started afresh from there as records
    TMD3Model collapsed = model;
    MeshSurvivors welded, passed;
    const auto budget = int64_t(mesh.Triangles.size() * (size % 7) / 7);
    const QuadricResult result = ReduceQuadric(mesh, budget, welded, nullptr, {.WeldSplitSeams = true, .CrossSeamsFromStart = size % 3 == 0},
                                               {2 * budget, &passed});
    require(KeptView(mesh, welded).IsConsistent() && welded.Triangles.size() == std::size_t(result.TrianglesAfter));
    MeshSurvivors afresh;
    if (!passed.Triangles.empty()) {
        require(std::includes(passed.Vertices.begin(), passed.Vertices.end(), welded.Vertices.begin(), welded.Vertices.end()));
        MeshSurvivors fromPassed;
        ReduceQuadric(KeptView(mesh, passed), budget, fromPassed);
        afresh = ChainedSurvivors(passed, std::move(fromPassed));
    }
    // Places handed over after the collapses: still records of the input, each corner with its vertex's coordinate.
    MeshSurvivors handed = welded;
    RepickSurvivors(mesh, handed);
    require(handed.Triangles.size() == welded.Triangles.size());
    for (const MeshSurvivors* kept : {&welded, &passed, &afresh, &handed}) {
        require(kept->Triangles.empty() || KeptView(mesh, *kept).IsConsistent());
        for (const MeshTriangle& tri : kept->Triangles)
            for (std::size_t j = 0; j < 3; ++j) require(kept->TexCoords[tri.TexCoord[j]] == mesh.VertexTexCoords[kept->Vertices[tri.Vertex[j]]][0]);
    }
    KeepSurvivors(collapsed, welded);
    reloadedUnchanged<TMD3Model>(collapsed.SaveToBytes());

    // 3. the reduced model saves, loads again and holds just the survivors
    KeepSurvivors(model, survivors);
    const std::vector<uint8_t> reduced = model.SaveToBytes();
    require(reduced.size() <= size);
    const auto reloaded = reloadedUnchanged<TMD3Model>(reduced);
    const AnimatedMesh after = MeshOf(reloaded);
    require(after.IsConsistent() && after.VertexCount == survivors.Vertices.size() && after.Triangles.size() == survivors.Triangles.size());
    for (uint32_t k = 0; k < after.VertexCount; ++k)
        for (uint32_t f = 0; f < after.FrameCount; ++f)
            require(after.Positions[after.At(k, f)] == mesh.Positions[mesh.At(survivors.Vertices[k], f)] &&
                    after.VertexPart[k] == mesh.VertexPart[survivors.Vertices[k]]);
    return 0;
}
