// Drawing one frame beside loading and saving the same model: a preview
// must cost a small share of what the tool spends on the file anyway.

#include <benchmark/benchmark.h>

#include <deque>
#include <filesystem>
#include <string>

#include "model/formats/MDL5.h"
#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"
#include "render/Render.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

namespace {

// The 256 x 256, 200-frame torus of reduce_bench, as a round torus: its
// builder packs -1.4..1.4 into 0..65535 on every axis.
const TMDLModel& bigTorus()
{
    static const TMDLModel model = [] {
        TMDLModel torus = MakeTorus(256, 256, 200);
        SetPositionTransform(torus, {2.8f / 65535.0f, 2.8f / 65535.0f, 2.8f / 65535.0f}, {-1.4f, -1.4f, -1.4f});
        return torus;
    }();
    return model;
}

// The view the renderer draws, made once per model as the window and the
// command line make it.
const AnimatedMesh& bigTorusMesh()
{
    static const AnimatedMesh mesh = MeshOf(bigTorus());
    return mesh;
}

// One picture of the view, the camera framed on the animation box found on the call.
void renderMesh(benchmark::State& state, const AnimatedMesh& mesh, int side)
{
    RenderOptions options;
    options.Width = options.Height = side;
    for (auto _ : state) {
        const RGBAImage image = RenderFrame(mesh, options);
        benchmark::DoNotOptimize(image.Pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * int64_t(mesh.Triangles.size()));
}

void BM_RenderBigModel(benchmark::State& state)
{
    renderMesh(state, bigTorusMesh(), int(state.range(0)));
}

// Making the view: once per model, not per picture.
void BM_MeshOfBigModel(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(MeshOf(bigTorus()).Positions.data());
    state.SetItemsProcessed(state.iterations() * int64_t(bigTorus().Frames.size()) * bigTorus().Header.NumVerts);
}

// The part of a picture that reads every frame: the box the camera is framed on.
void BM_AnimationBoxBigModel(benchmark::State& state)
{
    for (auto _ : state) benchmark::DoNotOptimize(AnimationBox(bigTorusMesh()).Max);
    state.SetItemsProcessed(state.iterations() * int64_t(bigTorus().Frames.size()) * bigTorus().Header.NumVerts);
}

// The picture alone, as a window that keeps the box while the model is open draws it.
void BM_RenderBigModelKnownBox(benchmark::State& state)
{
    const WorldBox view = AnimationBox(bigTorusMesh());
    RenderOptions options;
    options.Width = options.Height = int(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(RenderFrame(bigTorusMesh(), options, view).Pixels.data());
    state.SetItemsProcessed(state.iterations() * bigTorus().Triangles.Count);
}

// What the tool pays for the same model: read the file and write it back,
// through the page cache and the atomic writer (which flushes to disk).
void BM_LoadAndSaveBigModel(benchmark::State& state)
{
    const ScratchDir dir;
    const std::string input = dir.File("torus.mdl");
    bigTorus().SaveToFile(input);
    for (auto _ : state) {
        TMDLModel model;
        if (!model.LoadFromFile(input)) state.SkipWithError("the torus was refused");
        model.SaveToFile(dir.File("saved.mdl"));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(std::filesystem::file_size(input)));
}

}  // namespace

BENCHMARK(BM_RenderBigModel)->Arg(1024)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AnimationBoxBigModel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MeshOfBigModel)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RenderBigModelKnownBox)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadAndSaveBigModel)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // The real models beside the project, at 512 x 512, when they are there.
    static std::deque<AnimatedMesh> realModels;  // a deque: each stays where the benchmark points
    for (const char* name : {"earth.mdl", "minigun.mdl"}) {
        const std::string file = SharedModel(name);
        TMDLModel model;
        if (file.empty() || !model.LoadFromFile(file)) continue;
        const AnimatedMesh* mesh = &realModels.emplace_back(MeshOf(model));
        benchmark::RegisterBenchmark((std::string("BM_RenderRealModel/") + name + "/512").c_str(),
                                     [mesh](benchmark::State& state) { renderMesh(state, *mesh, 512); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
