// Writes the seed corpus: small valid models from the project's own builders,
// MDL5 ones also with the two-byte prefix that fuzz_reduce reads first, and
// Quake MDL, MD2, MD3 and MDL7 ones for their own targets.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/MD3Builder.h"
#include "tests/support/MDL7Builder.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/Pictures.h"
#include "tests/support/QuakeModels.h"

namespace {

void write(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const std::filesystem::path load = std::filesystem::path(argv[1]) / "load";
    const std::filesystem::path reduce = std::filesystem::path(argv[1]) / "reduce";
    const std::filesystem::path md3 = std::filesystem::path(argv[1]) / "md3";
    std::filesystem::create_directories(load);
    std::filesystem::create_directories(reduce);
    std::filesystem::create_directories(md3);
    const std::filesystem::path quake = std::filesystem::path(argv[1]) / "quake";
    const std::filesystem::path md2 = std::filesystem::path(argv[1]) / "md2";
    std::filesystem::create_directories(quake);
    std::filesystem::create_directories(md2);
    const std::filesystem::path mdl7 = std::filesystem::path(argv[1]) / "mdl7";
    std::filesystem::create_directories(mdl7);

    const std::vector<TMDLModel> models = MakeSampleModels(24);

    for (std::size_t i = 0; i < models.size(); ++i) {
        const std::vector<uint8_t> bytes = models[i].SaveToBytes();
        write(load / ("model-" + std::to_string(i) + ".mdl"), bytes);
        std::vector<uint8_t> prefixed = {uint8_t(i % 11), uint8_t(i % 3)};
        prefixed.insert(prefixed.end(), bytes.begin(), bytes.end());
        write(reduce / ("model-" + std::to_string(i) + ".in"), prefixed);
        // The same model for the collapses, to a budget of a fifth to all of its triangles.
        prefixed[0] = uint8_t(51 + i * 37 % 205);
        prefixed[1] = 0x80;
        write(reduce / ("collapse-" + std::to_string(i) + ".in"), prefixed);
    }
    // Surfaces, frames and tags per frame; every other one with its sections
    // out of the usual order and bytes between them.
    const std::vector<std::array<int, 3>> shapes = {{1, 1, 0}, {2, 3, 1}, {3, 2, 2}, {0, 0, 0}, {2, 0, 0}, {1, 4, 3}};
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        TMD3Model model = MakeMD3Model(shapes[i][0], shapes[i][1], shapes[i][2]);
        if (i % 2 == 1) ScrambleMD3Layout(model);
        write(md3 / ("model-" + std::to_string(i) + ".md3"), model.SaveToBytes());
    }
    // Seed 0 of each builder is the hand-made model; the others are random.
    constexpr uint32_t kOtherSeeds = 24;
    for (uint32_t seed = 0; seed <= kOtherSeeds; ++seed) {
        write(quake / ("model-" + std::to_string(seed) + ".mdl"), MakeQuakeModel(seed).SaveToBytes());
        write(md2 / ("model-" + std::to_string(seed) + ".md2"), MakeMD2Model(seed).SaveToBytes());
    }
    // A small picture of every kind, gradients with alpha, one with a side
    // wider than a PCX run and lines of an odd width.
    const std::filesystem::path image = std::filesystem::path(argv[1]) / "image";
    std::filesystem::create_directories(image);
    int pictures = 0;
    for (const auto& [width, height] : {std::pair{5, 3}, std::pair{70, 2}}) {
        std::vector<uint8_t> rgba;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) rgba.insert(rgba.end(), {uint8_t(x * 3), uint8_t(y * 60), uint8_t(x < 40 ? 200 : 10), uint8_t(255 - x)});
        for (PictureKind kind : {PictureKind::TGA, PictureKind::TGARunLengths, PictureKind::PCX8, PictureKind::PCX24, PictureKind::PNG,
                                 PictureKind::JPEG, PictureKind::BMP})
            write(image / ("picture-" + std::to_string(pictures++)), EncodePicture(kind, width, height, rgba));
    }
    TMD2Model odd = MakeMD2Model();
    SetOddLayout(odd);
    write(md2 / "odd-layout.md2", odd.SaveToBytes());
    // Small MDL7 models of each kind: frames, bones with deformers, the
    // compact variant, every skin kind with the lumps.
    const std::vector<MDL7Shape> mdl7Shapes = {{.Groups = 2, .Side = 3, .Frames = 2},
                                               {.Side = 3, .Frames = 2, .Bones = 2, .Deformer = true},
                                               {.Side = 3, .Frames = 1, .Compact = true},
                                               {.Side = 2, .EverySkin = true, .EditorBytes = 4},
                                               {.Groups = 0}};
    for (std::size_t i = 0; i < mdl7Shapes.size(); ++i)
        write(mdl7 / ("model-" + std::to_string(i) + ".mdl"), MakeMDL7Model(mdl7Shapes[i]).SaveToBytes());
    std::printf("%zu MDL5, %u Quake MDL, %u MD2, %zu MD3, %zu MDL7 and %d picture seeds in %s\n", models.size(), kOtherSeeds + 1,
                kOtherSeeds + 2, shapes.size(), mdl7Shapes.size(), pictures, argv[1]);
    return 0;
}
