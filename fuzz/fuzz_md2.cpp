// Loads any bytes as an MD2 model; what it accepts must write back the bytes
// it was read from, give a consistent view, and, keeping every other
// triangle, save a model that loads again, writes itself back unchanged and
// whose rebuilt GL commands draw each kept triangle once.
// A refusal is a normal outcome; a crash, a read outside a buffer or
// undefined behaviour is a finding.

#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzChecks.h"
#include "model/formats/MD2.h"
#include "tests/support/QuakeModels.h"

namespace {

// The triangles a GL list draws, walked as the game walks it; the reader
// has checked that the list ends within itself.
std::size_t trianglesDrawn(const std::vector<int32_t>& words)
{
    std::size_t drawn = 0;
    for (std::size_t at = 0; at < words.size() && words[at] != 0;) {
        const int64_t count = words[at];
        const std::size_t vertices = std::size_t(count < 0 ? -count : count);
        drawn += vertices >= 2 ? vertices - 2 : 0;
        at += 1 + 3 * vertices;
    }
    return drawn;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    TMD2Model model;
    if (!loadsAndWritesBack(model, data, size)) return 0;

    const AnimatedMesh mesh = MeshOf(model);
    require(mesh.IsConsistent());
    std::vector<uint32_t> kept;
    for (uint32_t t = 0; t < mesh.Triangles.size(); t += 2) kept.push_back(t);
    const bool hadGLCommands = !model.GLCommands.empty();
    KeepSurvivors(model, KeepTriangles(mesh, kept));
    const auto reloaded = reloadedUnchanged<TMD2Model>(model.SaveToBytes());
    require(reloaded.Triangles.size() == kept.size());
    if (hadGLCommands) require(trianglesDrawn(reloaded.GLCommands) == kept.size());
    require(MeshOf(reloaded).IsConsistent());
    return 0;
}
