// Writes the models the page's tests, its benchmark and the README's picture
// use, all built here: web_models FOLDER [--large]. --large adds large.mdl,
// about 100 MB, for the memory check of the benchmark.
// web_models --reduce FILE OUT BUDGET... writes OUT.1, OUT.2...: any format
// reduced natively as kelvane-cli reduce --target-tris does, each from the last.

#include <cstdio>
#include <string>
#include <vector>

#include "pipeline/BestReduction.h"
#include "model/AnyModel.h"
#include "model/ByteIO.h"
#include "tests/support/AnimatedModels.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

int main(int argc, char** argv)
{
    if (TAnyModel model; argc > 4 && std::string(argv[1]) == "--reduce") {
        if (!model.LoadFromFile(argv[2])) return 1;
        for (int i = 4; i < argc; ++i) {
            MeshSurvivors survivors;
            const QuadricResult outcome =
                ReduceBest(model.Mesh({.VertexMajor = true, .Normals = false, .Skin = false}), std::stoll(argv[i]), survivors).Result;
            if (outcome.TrianglesAfter != outcome.TrianglesBefore) model.Keep(survivors);
            WriteFile(std::string(argv[3]) + "." + std::to_string(i - 3), model.SaveToBytes());
        }
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: web_models FOLDER [--large] | --reduce FILE OUT BUDGET...\n");
        return 2;
    }
    const std::string folder = argv[1];
    auto write = [&](const std::string& name, const TMDLModel& model) { WriteFile(folder + "/" + name, model.SaveToBytes()); };
    write("walker.mdl", MakeWalker(24, 2));
    write("tube.mdl", MakeBendingTube(20, 12, 16));
    write("parts.mdl", MakeTouchingParts(10, 6));
    // Awkward cases of real meshes: open borders, seams, doubled triangles.
    for (uint32_t seed : {3u, 17u, 40u}) write("random" + std::to_string(seed) + ".mdl", MakeRandomModel(seed));
    // Long enough to reduce that a person (or a test) can cancel it.
    write("slow.mdl", MakeTorus(320, 200, 12));
    // A file cut inside its triangles: refused with ERROR: lines.
    std::vector<uint8_t> cut = MakeTorus(8, 6, 2).SaveToBytes();
    cut.resize(cut.size() / 2);
    WriteFile(folder + "/damaged.mdl", cut);
    // 65,536 vertices in 190 frames: 8 bytes each make 99.6 MB of frames.
    if (argc > 2 && std::string(argv[2]) == "--large") write("large.mdl", MakeTorus(256, 256, 190));
    return 0;
}
