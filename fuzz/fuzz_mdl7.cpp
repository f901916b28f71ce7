// Loads any bytes as MDL7. What it accepts must save to the same bytes and
// give a consistent view; the collapses to a share of its triangles that the
// input's size picks must give survivors that KeepSurvivors turns into a
// model that saves, loads again unchanged, and holds the survivors' main
// vertices byte for byte, in every group and frame. A refusal is a normal
// outcome; a crash, a read outside a buffer or undefined behaviour is a finding.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/FuzzChecks.h"
#include "model/formats/MDL7.h"
#include "reduce/Quadric.h"

namespace {

// Frames hold only the vertices they move, so a small file may ask for a
// view of many vertices in many poses: past this many the view is not built,
// as the fuzzer's memory limit would end the run rather than find a fault.
constexpr uint64_t kMostViewEntries = uint64_t(1) << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    TMDL7Model model;
    if (!loadsAndWritesBack(model, data, size)) return 0;
    reloadedUnchanged<TMDL7Model>(model.SaveToBytes());
    const MDL7Bases bases = BasesOf(model);
    if (uint64_t(bases.Vertices.back()) * model.PoseCount() > kMostViewEntries) return 0;

    const AnimatedMesh mesh = MeshOf(model, {.VertexMajor = size % 2 == 1, .Normals = true, .Skin = true});
    require(mesh.IsConsistent() && mesh.FrameCount == model.PoseCount());

    // The collapses to a share of the triangles the size picks, kept as records.
    MeshSurvivors survivors;
    const auto budget = int64_t(mesh.Triangles.size() * (size % 5) / 5);
    ReduceQuadric(mesh, budget, survivors);
    const TMDL7Model before = model;
    KeepSurvivors(model, survivors);
    const std::vector<uint8_t> reduced = model.SaveToBytes();
    require(reduced.size() <= size);
    const auto reloaded = reloadedUnchanged<TMDL7Model>(reduced);
    const AnimatedMesh after = MeshOf(reloaded);
    require(after.IsConsistent() && after.VertexCount == survivors.Vertices.size() && after.Triangles.size() == survivors.Triangles.size() &&
            after.FrameCount == mesh.FrameCount && reloaded.Groups.size() == before.Groups.size());
    const MDL7Bases keptBases = BasesOf(reloaded);
    for (uint32_t k = 0; k < after.VertexCount; ++k) {
        const uint32_t v = survivors.Vertices[k];
        const std::size_t g = mesh.VertexPart[v];
        const std::size_t local = k - keptBases.Vertices[g];
        const MDL7Records& out = reloaded.Groups[g].MainVertices;
        require(after.VertexPart[k] == g && std::memcmp(out[local], before.Groups[g].MainVertices[v - bases.Vertices[g]], out.RecordSize) == 0);
    }
    return 0;
}
