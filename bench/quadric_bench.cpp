// The collapses of least error over every frame (ReduceQuadric) beside the
// peer a modder would pick instead, meshoptimizer's meshopt_simplify run on
// frame 0 and applied to every frame, and beside the level-climbing passes.
// Prints two tables: quality at the same triangle count, judged by the
// measure's largest per-frame RMS, and speed and memory end to end on the
// largest benchmark model. Run by hand: quadric_bench [runs], 0 for quality alone.

#include <meshoptimizer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <variant>
#include <vector>

#include "measure/Measure.h"
#include "model/Geometry.h"
#include "model/MDLClass.h"
#include "model/MDLFile.h"
#include "reduce/Quadric.h"
#include "reduce/Reduce.h"
#include "tests/support/AnimatedModels.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

extern char** environ;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The builder's torus carries header bytes that scale each axis differently;
// a real model's scale is the same on every axis.
TMDLModel uniformTorus(int width, int height, int frames)
{
    TMDLModel model = MakeTorus(width, height, frames);
    SetPositionTransform(model, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f});
    return model;
}

// Keeps the given triangles and the vertices and skin vertices they use,
// in every frame, in their order.
void keepTriangles(TMDLModel& model, std::vector<MDLTriangle> triangles)
{
    std::vector<uint32_t> vertexNumber(model.Frames[0].Items.size(), UINT32_MAX);
    std::vector<uint32_t> skinNumber(model.SkinVerts.Items.size(), UINT32_MAX);
    for (const MDLTriangle& tri : triangles) {
        for (uint32_t v : tri.VertIndex) vertexNumber[v] = 0;
        for (uint32_t s : tri.SkinIndex) skinNumber[s] = 0;
    }
    const auto renumber = [](std::vector<uint32_t>& number) {
        std::vector<uint32_t> kept;
        for (uint32_t i = 0; i < number.size(); ++i)
            if (number[i] == 0) {
                number[i] = uint32_t(kept.size());
                kept.push_back(i);
            }
        return kept;
    };
    const std::vector<uint32_t> keptVertices = renumber(vertexNumber);
    const std::vector<uint32_t> keptSkins = renumber(skinNumber);
    for (MDLTriangle& tri : triangles) {
        for (uint32_t& v : tri.VertIndex) v = vertexNumber[v];
        for (uint32_t& s : tri.SkinIndex) s = skinNumber[s];
    }
    for (TMDLFrame& frame : model.Frames) {
        std::vector<FrameVert> items;
        items.reserve(keptVertices.size());
        for (uint32_t v : keptVertices) items.push_back(frame.Items[v]);
        frame.Items = std::move(items);
        frame.Count = int32_t(keptVertices.size());
    }
    std::vector<SkinVert> skins;
    for (uint32_t s : keptSkins) skins.push_back(model.SkinVerts.Items[s]);
    model.SkinVerts.Items = std::move(skins);
    model.SkinVerts.Count = int32_t(keptSkins.size());
    model.Triangles.Items = std::move(triangles);
    model.Triangles.Count = int32_t(model.Triangles.Items.size());
    model.Header.NumVerts = int32_t(keptVertices.size());
    model.Header.NumTris = model.Triangles.Count;
    model.Header.NumSkinVerts = model.SkinVerts.Count;
}

// The peer: meshopt_simplify on frame 0's world positions, its triangles then
// used in every frame. Given the model's vertices, it sees no texture seams
// and each corner takes the first skin vertex its vertex had; given one
// vertex per pair of vertex and skin vertex (withSeams), as an exporter
// writes them, it keeps the seams as the collapses do.
void peerReduce(TMDLModel& model, int64_t targetTriangles, bool withSeams = false)
{
    const PositionTransform transform = PositionTransformOf(model.Header);
    const auto& pose = model.Frames[0].Items;
    // Each peer vertex: the model's vertex and skin vertex it stands for.
    std::vector<std::pair<uint32_t, uint32_t>> peerVertices;
    std::map<std::pair<uint32_t, uint32_t>, unsigned int> numberOf;
    std::vector<unsigned int> indices;
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (int j = 0; j < 3; ++j) {
            const uint32_t v = tri.VertIndex[std::size_t(j)];
            const std::pair<uint32_t, uint32_t> key{v, withSeams ? tri.SkinIndex[std::size_t(j)] : 0};
            auto [it, added] = numberOf.try_emplace(key, unsigned(peerVertices.size()));
            if (added) peerVertices.push_back({v, tri.SkinIndex[std::size_t(j)]});
            indices.push_back(it->second);
        }
    std::vector<float> positions;
    positions.reserve(peerVertices.size() * 3);
    for (const auto& [v, skin] : peerVertices)
        for (double c : transform.Apply(pose[v])) positions.push_back(float(c));
    std::vector<unsigned int> result(indices.size());
    const std::size_t count = meshopt_simplify(result.data(), indices.data(), indices.size(), positions.data(), peerVertices.size(),
                                               3 * sizeof(float), std::size_t(targetTriangles) * 3, 1.0f);
    std::vector<MDLTriangle> triangles;
    for (std::size_t i = 0; i < count; i += 3) {
        const auto& a = peerVertices[result[i]];
        const auto& b = peerVertices[result[i + 1]];
        const auto& c = peerVertices[result[i + 2]];
        triangles.push_back(Tri(a.first, b.first, c.first, a.second, b.second, c.second));
    }
    keepTriangles(model, std::move(triangles));
}

// The written pass's budget mode: passes at level 0, 1... until the budget is met.
void passesReduce(TMDLModel& model, int64_t budget)
{
    model.LogLines = nullptr;
    int level = kMinLevel;
    while (model.Header.NumTris > budget) {
        const int32_t before = model.Header.NumTris;
        const int32_t verticesBefore = model.Header.NumVerts;
        model.Reduce(NormalLimitForLevel(level), kUVLimitTexels);
        if (model.Header.NumTris != before || model.Header.NumVerts != verticesBefore) continue;
        if (level == kMaxLevel) break;
        ++level;
    }
}

struct Quality {
    double Rms = 0;          // the largest per-frame RMS
    double FrameZeroRms = 0;
};

Quality quality(const TMDLModel& original, const TMDLModel& reduced)
{
    const auto measured = MeasureDeviation(original, reduced);
    if (const auto* reason = std::get_if<std::string>(&measured)) {
        std::fprintf(stderr, "cannot measure: %s\n", reason->c_str());
        return {NAN, NAN};
    }
    const DeviationSummary& summary = std::get<DeviationSummary>(measured);
    return {summary.Rms, summary.Frames.empty() ? NAN : summary.Frames[0].Rms};
}

struct Sample {
    std::string Name;
    TMDLModel Model;
};

std::vector<Sample> samples()
{
    std::vector<Sample> list;
    list.push_back({"bending tube", MakeBendingTube(32, 16, 24)});
    list.push_back({"walker", MakeWalker(40, 2)});
    list.push_back({"touching parts", MakeTouchingParts(20, 16)});
    list.push_back({"waving disc", MakeWavingDisc(14, 40, 24)});
    list.push_back({"torus 48x32", uniformTorus(48, 32, 30)});
    for (const char* name : {"earth.mdl", "minigun.mdl"}) {
        const std::string path = SharedModel(name);
        if (path.empty()) {
            std::printf("(%s not found beside the project: skipped)\n", name);
            continue;
        }
        Sample sample{name, TMDLModel()};
        if (sample.Model.LoadFromFile(path)) list.push_back(std::move(sample));
    }
    return list;
}

void qualityTable()
{
    std::printf("Quality: largest per-frame RMS as a share of the frame's box diagonal, at the same triangle count\n");
    std::printf("(peer: meshopt_simplify on frame 0; peer f0: its RMS in frame 0; seams: the peer given a vertex per skin vertex)\n");
    std::printf("%-16s %5s %6s | %9s %9s %6s | %9s %8s | %9s %6s | %6s %9s | %9s\n", "model", "ratio", "tris", "quadric", "peer", "q/p",
                "peer f0", "growth", "seams", "q/s", "passes", "pass RMS", "all frames");
    for (double ratio : {0.5, 0.25}) {
        std::vector<double> ratios, seamRatios, passRatios;
        for (const Sample& sample : samples()) {
            const TMDLModel& model = sample.Model;
            const auto budget = int64_t(std::floor(ratio * model.Header.NumTris));
            TMDLModel ours = model;
            ReduceQuadric(ours, budget);
            TMDLModel everyFrame = model;
            QuadricOptions allFrames;
            allFrames.ErrorFrames = 0;
            ReduceQuadric(everyFrame, budget, nullptr, allFrames);
            TMDLModel peer = model;
            peerReduce(peer, ours.Header.NumTris);
            TMDLModel seamPeer = model;
            peerReduce(seamPeer, ours.Header.NumTris, true);
            TMDLModel passes = model;
            passesReduce(passes, budget);
            const Quality q = quality(model, ours);
            const Quality p = quality(model, peer);
            const Quality w = quality(model, passes);
            const Quality a = quality(model, everyFrame);
            const Quality s = quality(model, seamPeer);
            ratios.push_back(q.Rms / p.Rms);
            seamRatios.push_back(q.Rms / s.Rms);
            passRatios.push_back(q.Rms / w.Rms);
            // Growth: the peer's largest frame RMS over its frame 0 RMS, where frame 0 is not exact.
            const std::string growth = p.FrameZeroRms > 1e-6 ? std::to_string(p.Rms / p.FrameZeroRms).substr(0, 6) + "x" : "-";
            std::printf("%-16s %5.2f %6d | %9.5f %9.5f %6.2f | %9.5f %8s | %9.5f %6.2f | %6d %9.5f | %9.5f\n", sample.Name.c_str(), ratio,
                        ours.Header.NumTris, q.Rms, p.Rms, q.Rms / p.Rms, p.FrameZeroRms, growth.c_str(), s.Rms, q.Rms / s.Rms,
                        passes.Header.NumTris, w.Rms, a.Rms);
        }
        std::printf("ratio %.2f: quadric / peer RMS median %.2f, worst %.2f; quadric / seam-keeping peer median %.2f, worst %.2f; "
                    "quadric / passes median %.2f\n\n",
                    ratio, median(ratios), *std::max_element(ratios.begin(), ratios.end()), median(seamRatios),
                    *std::max_element(seamRatios.begin(), seamRatios.end()), median(passRatios));
    }
}

struct Timing {
    double Seconds = 0;
    long PeakKiB = 0;
};

// Runs work in a child process, so that its peak memory is its own.
template <class Work>
Timing inChild(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        work();
        std::_Exit(0);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a timed run failed\n");
        std::exit(1);
    }
    return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

void speedTable(int runs)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kelvane-quadric-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "torus-256-200.mdl").string();
    const std::string out = (dir / "out.mdl").string();
    // The child processes fork from here: build the model in a child too, so
    // that this process stays small and every child's peak is its own work.
    inChild([&] { uniformTorus(256, 256, 200).SaveToFile(file); });
    const auto fileBytes = double(std::filesystem::file_size(file));
    ReadWholeFile(file);  // into the page cache

    auto loadReduceSave = [&](bool peer) {
        TMDLModel model;
        if (!model.LoadFromFile(file)) std::_Exit(1);
        const int64_t budget = model.Header.NumTris / 2;
        if (peer)
            peerReduce(model, budget);
        else
            ReduceQuadric(model, budget);
        model.SaveToFile(out);
    };
    std::vector<double> oursSeconds, peerSeconds, timeRatios;
    long oursPeak = 0, peerPeak = 0;
    for (int i = 0; i < runs; ++i) {
        // Alternating the two keeps both under the same load of the machine.
        const Timing peer = inChild([&] { loadReduceSave(true); });
        const Timing ours = inChild([&] { loadReduceSave(false); });
        peerSeconds.push_back(peer.Seconds);
        oursSeconds.push_back(ours.Seconds);
        timeRatios.push_back(ours.Seconds / peer.Seconds);
        oursPeak = std::max(oursPeak, ours.PeakKiB);
        peerPeak = std::max(peerPeak, peer.PeakKiB);
    }
    std::printf("Speed: load, reduce to half, save; 65,536 vertices, 131,072 triangles, 200 frames, %.1f MB\n", fileBytes / 1e6);
    std::printf("peer (frame 0):   median %7.1f ms, peak %6.1f MB (%.2f x the file)\n", median(peerSeconds) * 1e3,
                double(peerPeak) * 1024 / 1e6, double(peerPeak) * 1024 / fileBytes);
    std::printf("quadric:          median %7.1f ms, peak %6.1f MB (%.2f x the file)\n", median(oursSeconds) * 1e3,
                double(oursPeak) * 1024 / 1e6, double(oursPeak) * 1024 / fileBytes);
    std::printf("time ratio:       median %.2f (of %d runs)\n", median(timeRatios), runs);
    std::filesystem::remove_all(dir);

    // A typical model: a few thousand triangles, 200 frames, in memory.
    const TMDLModel walker = MakeWalker(200, 2);
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        TMDLModel copy = walker;
        const auto start = std::chrono::steady_clock::now();
        ReduceQuadric(copy, walker.Header.NumTris / 2);
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("walker, %d vertices, %d triangles, 200 frames, to half: median %.1f ms\n", walker.Header.NumVerts,
                walker.Header.NumTris, median(seconds) * 1e3);
}

// A disc of triangles around one centre vertex, its rim an open border: the
// centre's fan holds every triangle. Four frames, the disc tilting.
TMDLModel wideFan(int triangles)
{
    std::vector<std::vector<FrameVert>> frames(4);
    std::vector<SkinVert> skins;
    std::vector<MDLTriangle> tris;
    for (int f = 0; f < 4; ++f) {
        const double tilt = 0.1 * f;
        frames[std::size_t(f)].push_back(Vert(32768, 32768, 32768));
        for (int i = 0; i < triangles; ++i) {
            const double angle = 2 * M_PI * i / triangles;
            const double x = std::cos(angle), y = std::sin(angle);
            frames[std::size_t(f)].push_back(Vert(uint16_t(32768 + 30000 * x), uint16_t(32768 + 30000 * y * std::cos(tilt)),
                                                  uint16_t(32768 + 30000 * y * std::sin(tilt))));
        }
    }
    skins.push_back(SkinVert{128, 128, 0});
    for (int i = 0; i < triangles; ++i) {
        const double angle = 2 * M_PI * i / triangles;
        skins.push_back(SkinVert{uint16_t(128 + 120 * std::cos(angle)), uint16_t(128 + 120 * std::sin(angle)), 0});
        tris.push_back(Tri(0, uint32_t(1 + i), uint32_t(1 + (i + 1) % triangles)));
    }
    TMDLModel model = MakeModel(std::move(frames), std::move(tris), std::move(skins), {MakeSkin(0, 256, 256)});
    SetPositionTransform(model, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f});
    return model;
}

// A closed cylinder of sides x 4 triangles: its two caps are fans around a
// centre vertex. Four frames, the cylinder stretching.
TMDLModel cappedCylinder(int sides)
{
    std::vector<std::vector<FrameVert>> frames(4);
    std::vector<SkinVert> skins;
    std::vector<MDLTriangle> tris;
    for (int f = 0; f < 4; ++f) {
        const double half = 12000 + 2000 * f;
        auto& frame = frames[std::size_t(f)];
        frame.push_back(Vert(32768, 32768, uint16_t(32768 - half)));
        frame.push_back(Vert(32768, 32768, uint16_t(32768 + half)));
        for (int ring = 0; ring < 2; ++ring)
            for (int i = 0; i < sides; ++i) {
                const double angle = 2 * M_PI * i / sides;
                frame.push_back(Vert(uint16_t(32768 + 20000 * std::cos(angle)), uint16_t(32768 + 20000 * std::sin(angle)),
                                     uint16_t(ring == 0 ? 32768 - half : 32768 + half)));
            }
    }
    for (int v = 0; v < 2 + 2 * sides; ++v) skins.push_back(SkinVert{uint16_t(v % 256), uint16_t(v / 256 % 256), 0});
    const auto rim = [&](int ring, int i) { return uint32_t(2 + ring * sides + (i % sides)); };
    for (int i = 0; i < sides; ++i) {
        tris.push_back(Tri(0, rim(0, i + 1), rim(0, i)));
        tris.push_back(Tri(1, rim(1, i), rim(1, i + 1)));
        tris.push_back(Tri(rim(0, i), rim(0, i + 1), rim(1, i + 1)));
        tris.push_back(Tri(rim(0, i), rim(1, i + 1), rim(1, i)));
    }
    TMDLModel model = MakeModel(std::move(frames), std::move(tris), std::move(skins), {MakeSkin(0, 256, 256)});
    SetPositionTransform(model, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f});
    return model;
}

// Vertices of many triangles: the cost of a reduction to half should grow
// like n log n whatever the fan's size.
void wideFanTable(int runs)
{
    std::printf("Wide fans: reduce to half, median of %d runs\n", runs);
    const auto time = [&](const char* what, int size, const TMDLModel& model) {
        std::vector<double> seconds;
        int32_t after = 0;
        for (int i = 0; i < runs; ++i) {
            TMDLModel copy = model;
            const auto start = std::chrono::steady_clock::now();
            ReduceQuadric(copy, model.Header.NumTris / 2);
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            after = copy.Header.NumTris;
        }
        std::printf("%-22s %6d: %7d -> %7d triangles, %8.1f ms\n", what, size, model.Header.NumTris, after, median(seconds) * 1e3);
    };
    for (int triangles : {2000, 8000, 60000}) time("open fan, triangles", triangles, wideFan(triangles));
    for (int sides : {512, 2048, 8192}) time("capped cylinder, sides", sides, cappedCylinder(sides));
}

}  // namespace

int main(int argc, char** argv)
{
    // quadric_bench 0 prints the quality table alone; quadric_bench -1 the wide fans alone.
    const int asked = argc > 1 ? std::atoi(argv[1]) : 5;
    if (asked < -1) {  // one open fan of -asked triangles, for a profiler
        TMDLModel fan = wideFan(-asked);
        ReduceQuadric(fan, fan.Header.NumTris / 2);
        return 0;
    }
    if (asked < 0) {
        wideFanTable(1);
        return 0;
    }
    const int runs = std::max(0, asked);
    qualityTable();
    if (runs > 0) {
        wideFanTable(runs);
        speedTable(runs);
    }
    return 0;
}
