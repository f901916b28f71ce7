// One reduction pass on closed, animated surfaces, beside a memcpy of the same
// frame data: the pass should cost a small multiple of moving the frames once.

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>

#include "model/MDLClass.h"
#include "reduce/Reduce.h"
#include "tests/support/ModelBuilder.h"

namespace {

// Models are built once per size and copied before each pass.
const TMDLModel& torus(int side, int frames)
{
    static std::map<std::pair<int, int>, TMDLModel> models;
    auto [it, added] = models.try_emplace({side, frames});
    if (added) it->second = MakeTorus(side, side, frames);
    return it->second;
}

std::size_t frameBytes(const TMDLModel& model)
{
    std::size_t bytes = 0;
    for (const TMDLFrame& frame : model.Frames) bytes += frame.Items.size() * sizeof(FrameVert);
    return bytes;
}

void BM_Reduce(benchmark::State& state)
{
    const TMDLModel& original = torus(int(state.range(0)), int(state.range(1)));
    const int level = int(state.range(2));
    for (auto _ : state) {
        state.PauseTiming();
        TMDLModel model = original;
        state.ResumeTiming();
        model.Reduce(NormalLimitForLevel(level), kUVLimitTexels);
        benchmark::DoNotOptimize(model.Header.NumVerts);
        state.PauseTiming();
        state.counters["removed"] = double(original.Header.NumVerts - model.Header.NumVerts);
        { TMDLModel release = std::move(model); }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * original.Header.NumVerts);
}

// Copying every frame of the model once, into memory already touched.
void BM_MemcpyFrames(benchmark::State& state)
{
    const TMDLModel& original = torus(int(state.range(0)), int(state.range(1)));
    std::vector<std::vector<FrameVert>> copies;
    for (const TMDLFrame& frame : original.Frames) copies.emplace_back(frame.Items.begin(), frame.Items.end());
    for (auto _ : state) {
        for (std::size_t f = 0; f < copies.size(); ++f)
            std::memcpy(copies[f].data(), original.Frames[f].Items.data(), copies[f].size() * sizeof(FrameVert));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frameBytes(original)));
}

void BM_LoadFromBytes(benchmark::State& state)
{
    const std::vector<uint8_t> bytes = torus(int(state.range(0)), int(state.range(1))).SaveToBytes();
    for (auto _ : state) {
        TMDLModel model;
        benchmark::DoNotOptimize(model.LoadFromBytes(bytes));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

}  // namespace

BENCHMARK(BM_MemcpyFrames)->Args({256, 200})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Reduce)
    ->ArgNames({"side", "frames", "level"})
    ->Args({256, 200, 10})
    ->Args({64, 1, 10})
    ->Args({128, 1, 10})
    ->Args({256, 1, 10})
    ->Args({64, 200, 10})
    ->Args({128, 200, 10})
    ->Args({256, 200, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_LoadFromBytes)->Args({256, 200})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
