// Loads any bytes as a Quake MDL model; what it accepts must write back the
// bytes it was read from, give a consistent view, and, keeping every other
// triangle, save a model that loads again and writes itself back unchanged.
// A refusal is a normal outcome; a crash, a read outside a buffer or
// undefined behaviour is a finding.

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzChecks.h"
#include "model/formats/QuakeMDL.h"
#include "tests/support/QuakeModels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    TQuakeModel model;
    if (!loadsAndWritesBack(model, data, size)) return 0;

    const AnimatedMesh mesh = MeshOf(model);
    require(mesh.IsConsistent());
    std::vector<uint32_t> kept;
    for (uint32_t t = 0; t < mesh.Triangles.size(); t += 2) kept.push_back(t);
    KeepSurvivors(model, KeepTriangles(mesh, kept));
    const auto reloaded = reloadedUnchanged<TQuakeModel>(model.SaveToBytes());
    require(reloaded.Triangles.size() == kept.size() && reloaded.Frames.size() == mesh.FrameCount);
    require(MeshOf(reloaded).IsConsistent());
    return 0;
}
