// Loads the bytes after a two-byte prefix; when the model is accepted, runs one
// to three passes at the level the prefix chooses, or, when the second byte's
// top bit is set, the collapses to a budget the first byte chooses (crossing
// seams from the start when its next bit is set too); then saves
// to memory and loads the result again. The result must be accepted, with
// header counts equal to the list sizes, every index in range, and no count
// larger than before; the collapses' result must also be a subset of the input.
// The result is then measured against the model as loaded, with few samples:
// a reason not to measure is fine, a deviation must be finite.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cmath>
#include <variant>

#include "model/formats/MDL5.h"
#include "fuzz/FuzzChecks.h"
#include "measure/Measure.h"
#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"
#include "reduce/Quadric.h"
#include "reduce/Reduce.h"

namespace {

void requireConsistent(const TMDLModel& model)
{
    // A count of zero or less stands for an empty list.
    const MDL5Header& h = model.Header;
    require(std::max(h.NumSkinVerts, 0) == model.SkinVerts.Count && std::size_t(model.SkinVerts.Count) == model.SkinVerts.Items.size());
    require(std::max(h.NumTris, 0) == model.Triangles.Count && std::size_t(model.Triangles.Count) == model.Triangles.Items.size());
    require(std::size_t(std::max(h.NumFrames, 0)) == model.Frames.size());
    for (const TMDLFrame& frame : model.Frames) require(frame.Count == h.NumVerts && std::size_t(frame.Count) == frame.Items.size());
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (int j = 0; j < 3; ++j)
            require(tri.VertIndex[j] < uint32_t(std::max(h.NumVerts, 0)) && tri.SkinIndex[j] < uint32_t(std::max(h.NumSkinVerts, 0)));
}

// Every vertex of reduced is one of original, in order, the same in every
// frame; every skin vertex likewise.
void requireSubset(const TMDLModel& original, const TMDLModel& reduced)
{
    std::size_t next = 0;
    const std::size_t vertexCount = original.Frames.empty() ? 0 : original.Frames[0].Items.size();
    for (std::size_t v = 0; !reduced.Frames.empty() && v < reduced.Frames[0].Items.size(); ++v, ++next) {
        const auto same = [&](std::size_t o) {
            for (std::size_t f = 0; f < reduced.Frames.size(); ++f)
                if (std::memcmp(&original.Frames[f].Items[o], &reduced.Frames[f].Items[v], sizeof(FrameVert)) != 0) return false;
            return true;
        };
        while (next < vertexCount && !same(next)) ++next;
        require(next < vertexCount);
    }
    next = 0;
    for (const SkinVert& skin : reduced.SkinVerts.Items) {
        while (next < original.SkinVerts.Items.size() && (original.SkinVerts.Items[next].U != skin.U || original.SkinVerts.Items[next].V != skin.V)) ++next;
        require(next++ < original.SkinVerts.Items.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const int level = data[0] % (kMaxLevel + 1);
    const int passes = 1 + data[1] % 3;
    TMDLModel model;
    if (!model.LoadFromBytes({data + 2, size - 2})) return 0;
    const MDL5Header before = model.Header;
    const TMDLModel loaded = model;
    if (data[1] & 0x80) {
        const int64_t budget = int64_t(std::max(model.Header.NumTris, 0)) * data[0] / 255;
        const QuadricResult result = ReduceQuadric(model, budget, nullptr,
                                                   {.CrossSeamsFromStart = (data[1] & 0x40) != 0, .MoveBordersFromStart = (data[1] & 0x10) != 0});
        requireConsistent(model);
        require(result.BudgetMet ? model.Header.NumTris <= budget : !result.StoppedBecause.empty());
        requireSubset(loaded, model);
        if (data[1] & 0x20) {
            // The same collapses on the view, then places handed over: still a view of the input's records.
            const AnimatedMesh mesh = MeshOf(loaded, MeshOptions{.VertexMajor = true, .Normals = false, .Skin = false});
            MeshSurvivors survivors;
            ReduceQuadric(mesh, budget, survivors);
            const std::size_t kept = survivors.Triangles.size();
            RepickSurvivors(mesh, survivors);
            require(survivors.Triangles.size() == kept && (kept == 0 || KeptView(mesh, survivors).IsConsistent()));
        }
    } else {
        for (int pass = 0; pass < passes; ++pass) {
            model.Reduce(NormalLimitForLevel(level), kUVLimitTexels);
            requireConsistent(model);
        }
    }
    require(model.Header.NumVerts <= before.NumVerts);
    require(model.Header.NumTris <= before.NumTris);
    require(model.Header.NumSkinVerts <= before.NumSkinVerts);

    const std::vector<uint8_t> saved = model.SaveToBytes();
    TMDLModel reloaded;
    require(reloaded.LoadFromBytes(saved));
    requireConsistent(reloaded);
    require(reloaded.SaveToBytes() == saved);

    MeasureOptions options;
    options.SamplesPerSide = 64;
    options.Threads = 1;
    const auto measured = MeasureDeviation(loaded, model, options);
    if (const auto* summary = std::get_if<DeviationSummary>(&measured)) {
        require(std::isfinite(summary->Hausdorff) && std::isfinite(summary->Rms) && summary->Rms >= 0);
        require(summary->Rms <= summary->Hausdorff * (1 + 1e-9));  // a mean of squares never passes their largest
    }
    return 0;
}
