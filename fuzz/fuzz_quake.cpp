// Loads any bytes as a Quake MDL model; what it accepts must write back the
// bytes it was read from, give a consistent view, and, keeping every other
// triangle, save a model that loads again and writes itself back unchanged.
// A refusal is a normal outcome; a crash, a read outside a buffer or
// undefined behaviour is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "model/QuakeMDL.h"
#include "tests/support/QuakeModels.h"

namespace {

void require(bool condition)
{
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    TQuakeModel model;
    bool summaryWritten = false;
    model.LogLines = [&summaryWritten](const std::string& line) { summaryWritten = line.rfind("MODEL INFO: ", 0) == 0; };
    const bool accepted = model.LoadFromBytes({data, size});
    // Every load that reads a header ends with the summary line.
    require(summaryWritten);
    if (!accepted) return 0;
    const std::vector<uint8_t> saved = model.SaveToBytes();
    require(saved.size() == size && std::equal(saved.begin(), saved.end(), data));

    const AnimatedMesh mesh = MeshOf(model);
    require(mesh.IsConsistent());
    std::vector<uint32_t> kept;
    for (uint32_t t = 0; t < mesh.Triangles.size(); t += 2) kept.push_back(t);
    KeepSurvivors(model, KeepTriangles(mesh, kept));
    model.LogLines = nullptr;
    const std::vector<uint8_t> reduced = model.SaveToBytes();
    TQuakeModel reloaded;
    require(reloaded.LoadFromBytes(reduced));
    require(reloaded.SaveToBytes() == reduced);
    require(reloaded.Triangles.size() == kept.size() && reloaded.Frames.size() == mesh.FrameCount);
    require(MeshOf(reloaded).IsConsistent());
    return 0;
}
