// The collapses of least error over every frame (ReduceQuadric) beside the
// peers a modder would pick instead, each run to the collapses' triangle
// count and its triangles then used in every frame: meshoptimizer 0.18
// (Debian's, linked here) on frame 0; and meshoptimizer 1.3 (npm's
// WebAssembly build, run by node through bench/peer/simplify.mjs) once given
// ten more frames' positions as attributes and once on frame 0 alone. Prints
// quality at the same triangle count (the measure's largest per-frame RMS,
// and texture deviation in texels), the other methods at the same budgets,
// and speed and memory end to end on the largest benchmark model.
// Run by hand: quadric_bench [runs], 0 for quality alone; quadric_bench tune
// prints the npm peer with poses at several attribute weights and flags;
// quadric_bench write FILE writes the speed table's model to FILE;
// quadric_bench corpus DIR compares every model under DIR (bench/CorpusBench.h).

#include <meshoptimizer.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <variant>
#include <vector>

#include "bench/CorpusBench.h"
#include "bench/NpmPeer.h"
#include "model/formats/MDL5.h"
#include "pipeline/BestReduction.h"
#include "measure/Measure.h"
#include "measure/TriangleGrid.h"
#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"
#include "model/Geometry.h"
#include "model/ByteIO.h"
#include "model/MDLClass.h"
#include "model/NormalTable.h"
#include "reduce/Quadric.h"
#include "reduce/Reduce.h"
#include "tests/support/AnimatedModels.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? NAN : values[values.size() / 2];
}

double worst(const std::vector<double>& values)
{
    return values.empty() ? NAN : *std::max_element(values.begin(), values.end());
}

// The builder's torus carries header bytes that scale each axis differently;
// a real model's scale is the same on every axis.
TMDLModel uniformTorus(int width, int height, int frames)
{
    TMDLModel model = MakeTorus(width, height, frames);
    SetPositionTransform(model, {1.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 0.0f});
    return model;
}

// ---- the models

struct Sample {
    std::string Name;
    // What the peers, the written passes and the measure of their results
    // take: the model itself, or the MDL5 copy of another format's view.
    TMDLModel Model;
    // A model of another format: the collapses run on its own view and are
    // measured there, as kelvane-cli reduces it.
    std::optional<TAnyModel> Real;
};

// Any format's view as an MDL5 model, which every method here and the measure
// take: the positions of every frame packed under one scale over the
// animation's box (16 bits over it; Quake MDL and MD2 frames hold 8), the
// triangles as they are, texture coordinates rounded to whole texels and
// clamped at 0 (MDL5 holds no negative or fractional ones). Parts (MD3
// surfaces) are not kept apart: each real MD3 file here holds one surface.
Sample meshSample(std::string name, const AnimatedMesh& mesh)
{
    const WorldBox box = AnimationBox(mesh);
    const double extent = std::max({box.Max[0] - box.Min[0], box.Max[1] - box.Min[1], box.Max[2] - box.Min[2], 1e-9});
    const auto scale = float(extent / 65535.0);
    const bool tableNormals = mesh.NormalCode == NormalCoding::Table162 && !mesh.Normals.empty();
    std::vector<std::vector<FrameVert>> frames(mesh.FrameCount);
    for (uint32_t f = 0; f < mesh.FrameCount; ++f)
        for (uint32_t v = 0; v < mesh.VertexCount; ++v) {
            const WorldPoint world = mesh.World(v, f);
            std::array<uint16_t, 3> packed{};
            for (std::size_t a = 0; a < 3; ++a)
                packed[a] = uint16_t(std::clamp<long>(std::lround((world[a] - float(box.Min[a])) / scale), 0, 65535));
            const uint16_t normal = tableNormals ? mesh.Normals[mesh.At(v, f)] : 0;
            frames[f].push_back(Vert(packed[0], packed[1], packed[2], uint8_t(std::min<uint16_t>(normal, kNormalCount - 1))));
        }
    std::vector<MDLTriangle> triangles;
    for (const MeshTriangle& tri : mesh.Triangles)
        triangles.push_back(Tri(tri.Vertex[0], tri.Vertex[1], tri.Vertex[2], tri.TexCoord[0], tri.TexCoord[1], tri.TexCoord[2]));
    std::vector<SkinVert> skinVerts;
    for (const auto& [u, v] : mesh.TexCoords)
        skinVerts.push_back({uint16_t(std::clamp<long>(std::lround(u), 0, 65535)), uint16_t(std::clamp<long>(std::lround(v), 0, 65535)), 0});
    TMDLModel model = MakeModel(std::move(frames), std::move(triangles), std::move(skinVerts),
                                {MakeSkin(0, std::max(mesh.SkinWidth, 1), std::max(mesh.SkinHeight, 1))});
    SetPositionTransform(model, {scale, scale, scale}, {float(box.Min[0]), float(box.Min[1]), float(box.Min[2])});
    return {std::move(name), std::move(model), std::nullopt};
}

// A real model from the shared folder beside the project, of any format,
// skipped with a line when it is absent or refused. MDL5 models are used as
// they are; any other format keeps its own model for the collapses and gives
// the rest the MDL5 copy of its view.
void addSharedModel(std::vector<Sample>& list, const char* name)
{
    const std::string path = SharedModel(name);
    if (path.empty()) {
        std::printf("(%s not found beside the project: skipped)\n", name);
        return;
    }
    TAnyModel model;
    if (!model.LoadFromFile(path)) {
        std::printf("(%s refused: skipped)\n", name);
        return;
    }
    if (const TMDLModel* mdl5 = model.MDL5()) {
        list.push_back({name, *mdl5, std::nullopt});
        return;
    }
    Sample sample = meshSample(name, model.Mesh());
    sample.Real = std::move(model);
    list.push_back(std::move(sample));
}

std::vector<Sample> samples()
{
    std::vector<Sample> list;
    list.push_back({"bending tube", MakeBendingTube(32, 16, 24), std::nullopt});
    list.push_back({"walker", MakeWalker(40, 2), std::nullopt});
    list.push_back({"touching parts", MakeTouchingParts(20, 16), std::nullopt});
    list.push_back({"waving disc", MakeWavingDisc(14, 40, 24), std::nullopt});
    list.push_back({"torus 48x32", uniformTorus(48, 32, 30), std::nullopt});
    for (const char* name : {"earth.mdl", "minigun.mdl", "tekmechbot.mdl", "faerie.md2", "penguin_head.md3", "penguin_upper.md3",
                             "penguin_lower.md3"})
        addSharedModel(list, name);
    return list;
}

// ---- the Debian peer (linked) and the written passes

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
    KeepTriangles(model, std::move(triangles));
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

// ---- the tables

struct Figures {
    bool Ran = false;
    int32_t Triangles = 0;
    double Rms = NAN;     // the largest per-frame RMS, as a share of the frame's box diagonal
    double Texels = NAN;  // the measure's texture deviation (the largest per-frame RMS, texels), when asked for
};

// Positions and texture coordinates are all the measure and the collapses read.
constexpr MeshOptions kGeometry{.VertexMajor = false, .Normals = false, .Skin = false};

Figures figuresOf(const AnimatedMesh& original, const AnimatedMesh& reduced, bool withTexture)
{
    Figures figures;
    figures.Ran = true;
    figures.Triangles = int32_t(reduced.Triangles.size());
    const auto measured = MeasureDeviation(original, reduced);
    if (const auto* reason = std::get_if<std::string>(&measured))
        std::fprintf(stderr, "cannot measure: %s\n", reason->c_str());
    else {
        const DeviationSummary& summary = std::get<DeviationSummary>(measured);
        figures.Rms = summary.Rms;
        if (withTexture && summary.TextureMeasured) figures.Texels = summary.TextureRms;
    }
    return figures;
}

Figures figuresOf(const TMDLModel& original, const TMDLModel& reduced, bool withTexture)
{
    return figuresOf(MeshOf(original, kGeometry), MeshOf(reduced, kGeometry), withTexture);
}

// The collapses to budget on the sample's own model: a model of another
// format reduced through its own view and measured there, as kelvane-cli
// does it (onCopy: on the MDL5 copy of that view instead, as the peers are),
// every way on a small model as kelvane-cli does; given options, that one way.
Figures oursFigures(const Sample& sample, int64_t budget, const std::optional<QuadricOptions>& options, bool withTexture,
                    bool onCopy = false, bool* budgetMet = nullptr)
{
    MeshOptions vertexMajor = kGeometry;
    vertexMajor.VertexMajor = true;
    MeshSurvivors survivors;
    const auto reduce = [&](const AnimatedMesh& view) {
        return options ? ReduceQuadric(view, budget, survivors, nullptr, *options) : ReduceBest(view, budget, survivors).Result;
    };
    QuadricResult result;
    Figures figures;
    if (!sample.Real || onCopy) {
        TMDLModel ours = sample.Model;
        result = reduce(MeshOf(ours, vertexMajor));
        if (result.TrianglesAfter != result.TrianglesBefore) KeepSurvivors(ours, survivors);
        figures = figuresOf(sample.Model, ours, withTexture);
    } else {
        result = reduce(sample.Real->Mesh(vertexMajor));
        TAnyModel ours = *sample.Real;
        ours.Keep(survivors);
        figures = figuresOf(sample.Real->Mesh(kGeometry), ours.Mesh(kGeometry), withTexture);
    }
    if (budgetMet) *budgetMet = result.BudgetMet;
    return figures;
}

// The npm peer's figures, or none when node failed.
Figures npmFigures(const TMDLModel& model, int32_t target, const NpmSetup& setup, const ScratchDir& scratch)
{
    TMDLModel peer = model;
    if (!NpmPeerReduce(peer, target, setup, scratch)) {
        std::fprintf(stderr, "the npm peer failed on a model\n");
        return {};
    }
    return figuresOf(model, peer, true);
}

constexpr double kRatios[] = {0.5, 0.25, 0.1};

struct Row {
    std::string Model;
    double Ratio = 0;
    bool BudgetMet = true;
    Figures Ours, Debian, Poses, FrameZero;  // at the collapses' triangle count
    Figures SeamsKept, Passes, EveryFrame;   // beside: RMS alone
    Figures PosesSeamsKept;                  // beside, with texture
    Figures OursOnCopy;                      // another format's: ours on the MDL5 copy the peers take
};

std::vector<Row> qualityRows(const std::vector<Sample>& list, bool withNpm, const NpmSetup& setup, const ScratchDir& scratch)
{
    NpmSetup frameZeroSetup = setup;
    frameZeroSetup.PoseFrames = 0;
    NpmSetup seamsSetup = setup;
    seamsSetup.KeepSeams = true;
    std::vector<Row> rows;
    for (double ratio : kRatios)
        for (const Sample& sample : list) {
            const TMDLModel& model = sample.Model;
            Row row;
            row.Model = sample.Name;
            row.Ratio = ratio;
            const auto budget = int64_t(std::floor(ratio * model.Header.NumTris));
            // Ours first: every peer is then asked for exactly its triangle count.
            row.Ours = oursFigures(sample, budget, std::nullopt, true, false, &row.BudgetMet);
            const int32_t target = row.Ours.Triangles;
            if (sample.Real) row.OursOnCopy = oursFigures(sample, budget, std::nullopt, true, true);
            TMDLModel debian = model;
            peerReduce(debian, target);
            row.Debian = figuresOf(model, debian, true);
            if (withNpm) {
                row.Poses = npmFigures(model, target, setup, scratch);
                row.FrameZero = npmFigures(model, target, frameZeroSetup, scratch);
                row.PosesSeamsKept = npmFigures(model, target, seamsSetup, scratch);
            }
            TMDLModel seamsKept = model;
            peerReduce(seamsKept, target, true);
            row.SeamsKept = figuresOf(model, seamsKept, false);
            TMDLModel passes = model;
            passesReduce(passes, budget);
            row.Passes = figuresOf(model, passes, false);
            QuadricOptions allFrames;
            allFrames.ErrorFrames = 0;
            row.EveryFrame = oursFigures(sample, budget, allFrames, false);
            rows.push_back(std::move(row));
        }
    return rows;
}

std::string cell(const Figures& f, const char* format, double value)
{
    if (!f.Ran || std::isnan(value)) return "-";
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Ours over a peer, for the rows where both have a figure.
std::vector<double> oursOver(const std::vector<Row>& rows, double ratio, Figures Row::*peer, double Figures::*figure)
{
    std::vector<double> ratios;
    for (const Row& row : rows) {
        const double ours = row.Ours.*figure, theirs = (row.*peer).*figure;
        if (row.Ratio == ratio && (row.*peer).Ran && !std::isnan(ours) && theirs > 0) ratios.push_back(ours / theirs);
    }
    return ratios;
}

void printQuality(const std::vector<Row>& rows, const NpmSetup& setup)
{
    std::printf("Quality at the collapses' triangle count (* their budget missed): largest per-frame RMS as a share of the\n"
                "frame's box diagonal, and texture deviation in texels (worst of 8 frames; local stand-in for the measure's).\n"
                "0.18: Debian's meshopt_simplify on frame 0, seams ignored, first texture coordinate; poses: meshoptimizer 1.3\n"
                "given %d more frames as attributes (weight %g, flags '%s'), welded, texture picked per corner afterwards;\n"
                "f0: meshoptimizer 1.3 the same way on frame 0 alone\n",
                setup.PoseFrames, setup.Weight, setup.Flags.c_str());
    std::printf("%-17s %5s %6s | %8s | %8s %5s | %8s %5s %5s | %8s %5s %5s | %6s %6s %6s %6s\n", "model", "ratio", "tris", "ours",
                "0.18", "q/D", "poses", "tris", "q/P", "f0", "tris", "q/F", "tex q", "0.18", "poses", "f0");
    for (double ratio : kRatios) {
        int missed = 0, models = 0;
        for (const Row& row : rows) {
            if (row.Ratio != ratio) continue;
            ++models;
            missed += row.BudgetMet ? 0 : 1;
            const auto over = [&](const Figures& peer) {
                return peer.Ran && peer.Rms > 0 ? cell(peer, "%.2f", row.Ours.Rms / peer.Rms) : std::string("-");
            };
            std::printf("%-17s %5.2f %5d%c | %8s | %8s %5s | %8s %5s %5s | %8s %5s %5s | %6s %6s %6s %6s\n", row.Model.c_str(), ratio,
                        row.Ours.Triangles, row.BudgetMet ? ' ' : '*', cell(row.Ours, "%.5f", row.Ours.Rms).c_str(),
                        cell(row.Debian, "%.5f", row.Debian.Rms).c_str(), over(row.Debian).c_str(),
                        cell(row.Poses, "%.5f", row.Poses.Rms).c_str(), cell(row.Poses, "%.0f", double(row.Poses.Triangles)).c_str(),
                        over(row.Poses).c_str(), cell(row.FrameZero, "%.5f", row.FrameZero.Rms).c_str(),
                        cell(row.FrameZero, "%.0f", double(row.FrameZero.Triangles)).c_str(), over(row.FrameZero).c_str(),
                        cell(row.Ours, "%.2f", row.Ours.Texels).c_str(), cell(row.Debian, "%.2f", row.Debian.Texels).c_str(),
                        cell(row.Poses, "%.2f", row.Poses.Texels).c_str(), cell(row.FrameZero, "%.2f", row.FrameZero.Texels).c_str());
        }
        const auto summary = [&](const char* name, Figures Row::*peer) {
            const std::vector<double> rms = oursOver(rows, ratio, peer, &Figures::Rms);
            const std::vector<double> texels = oursOver(rows, ratio, peer, &Figures::Texels);
            std::printf("  ours / %-6s RMS median %.2f, worst %.2f; texels median %.2f, worst %.2f\n", name, median(rms), worst(rms),
                        median(texels), worst(texels));
        };
        std::printf("ratio %.2f: %d of %d budgets missed\n", ratio, missed, models);
        summary("poses", &Row::Poses);
        summary("f0", &Row::FrameZero);
        summary("0.18", &Row::Debian);
        std::printf("\n");
    }
}

void printBeside(const std::vector<Row>& rows)
{
    std::printf("Beside, at the same budgets (RMS and texels as above): 0.18 and poses given one vertex per pair of vertex\n"
                "and skin vertex, so that they keep the seams; the written passes' budget mode (the triangles they keep);\n"
                "the collapses weighing every frame's error\n");
    std::printf("%-17s %5s | %8s %5s | %8s %5s %5s %6s | %6s %8s %5s | %10s\n", "model", "ratio", "0.18 s", "q/s", "poses s", "tris",
                "q/Ps", "texels", "passes", "RMS", "q/w", "all frames");
    for (double ratio : kRatios) {
        for (const Row& row : rows) {
            if (row.Ratio != ratio) continue;
            const Figures& poses = row.PosesSeamsKept;
            std::printf("%-17s %5.2f | %8.5f %5.2f | %8s %5s %5s %6s | %6d %8.5f %5.2f | %10.5f\n", row.Model.c_str(), ratio,
                        row.SeamsKept.Rms, row.Ours.Rms / row.SeamsKept.Rms, cell(poses, "%.5f", poses.Rms).c_str(),
                        cell(poses, "%.0f", double(poses.Triangles)).c_str(), cell(poses, "%.2f", row.Ours.Rms / poses.Rms).c_str(),
                        cell(poses, "%.2f", poses.Texels).c_str(), row.Passes.Triangles, row.Passes.Rms, row.Ours.Rms / row.Passes.Rms,
                        row.EveryFrame.Rms);
        }
        const std::vector<double> seams = oursOver(rows, ratio, &Row::SeamsKept, &Figures::Rms);
        const std::vector<double> posesSeams = oursOver(rows, ratio, &Row::PosesSeamsKept, &Figures::Rms);
        const std::vector<double> posesTexels = oursOver(rows, ratio, &Row::PosesSeamsKept, &Figures::Texels);
        const std::vector<double> passes = oursOver(rows, ratio, &Row::Passes, &Figures::Rms);
        std::printf("ratio %.2f: ours / seam-keeping 0.18 median %.2f, worst %.2f; ours / seam-keeping poses median %.2f, worst %.2f\n"
                    "  (texels median %.2f, worst %.2f); ours / passes median %.2f\n\n",
                    ratio, median(seams), worst(seams), median(posesSeams), worst(posesSeams), median(posesTexels), worst(posesTexels),
                    median(passes));
    }
    std::printf("The collapses on another format's own view (as above) and on the MDL5 copy of it that the peers take:\n");
    for (const Row& row : rows)
        if (row.OursOnCopy.Ran)
            std::printf("%-18s %5.2f | view %8.5f (%d), texels %6.2f | copy %8.5f (%d), texels %6.2f\n", row.Model.c_str(), row.Ratio,
                        row.Ours.Rms, row.Ours.Triangles, row.Ours.Texels, row.OursOnCopy.Rms, row.OursOnCopy.Triangles,
                        row.OursOnCopy.Texels);
    std::printf("\n");
}

// The npm peer with poses at several weights and flags on three models, to
// choose its setup: ours over the peer's RMS (higher: a better peer).
void tuneTable(const std::vector<Sample>& list, const ScratchDir& scratch)
{
    std::vector<const Sample*> chosen;
    for (const Sample& sample : list)
        if (sample.Name == "walker" || sample.Name == "waving disc" || sample.Name == "minigun.mdl") chosen.push_back(&sample);
    std::vector<std::pair<int32_t, double>> ours;  // per model and ratio: triangles, RMS
    for (const Sample* sample : chosen)
        for (double ratio : kRatios) {
            TMDLModel reduced = sample->Model;
            ReduceQuadric(reduced, int64_t(std::floor(ratio * sample->Model.Header.NumTris)));
            ours.push_back({reduced.Header.NumTris, figuresOf(sample->Model, reduced, false).Rms});
        }
    std::printf("ours / peer with poses, RMS; models");
    for (const Sample* sample : chosen) std::printf(" %s", sample->Name.c_str());
    std::printf(" at ratios 0.5, 0.25, 0.1; then the median and the geometric mean\n");
    // Prune removes small separate parts and Regularize evens triangle
    // shapes, said to help under deformation: each at a few weights.
    const std::pair<const char*, double> setups[] = {{"", 0.5},          {"", 1},           {"", 2},           {"", 4},
                                                     {"", 8},            {"", 16},          {"", 32},          {"", 64},
                                                     {"Regularize", 1},  {"Regularize", 4}, {"Regularize", 16},
                                                     {"Prune", 4},       {"Prune", 16}};
    for (const auto& [flags, weight] : setups) {
        NpmSetup setup;
        setup.Weight = weight;
        setup.Flags = flags;
        std::vector<double> ratios;
        std::printf("weight %4.1f %-10s", weight, flags);
        std::size_t at = 0;
        for (const Sample* sample : chosen)
            for (std::size_t r = 0; r < std::size(kRatios); ++r, ++at) {
                TMDLModel peer = sample->Model;
                if (!NpmPeerReduce(peer, ours[at].first, setup, scratch)) return;
                ratios.push_back(ours[at].second / figuresOf(sample->Model, peer, false).Rms);
                std::printf(" %5.2f", ratios.back());
            }
        double logSum = 0;
        for (double r : ratios) logSum += std::log(r);
        std::printf(" | %5.2f %5.2f\n", median(ratios), std::exp(logSum / double(ratios.size())));
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
    // The command itself, as a user runs it: load, reduce, the report over
    // its spread frames, save.
    auto command = [&] {
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, 1);
        ::execl(KELVANE_CLI, KELVANE_CLI, "reduce", "--ratio", "0.5", file.c_str(), "-o", out.c_str(), static_cast<char*>(nullptr));
        std::_Exit(1);
    };
    std::vector<double> oursSeconds, peerSeconds, commandSeconds, timeRatios, commandRatios;
    long oursPeak = 0, peerPeak = 0, commandPeak = 0;
    for (int i = 0; i < runs; ++i) {
        // Alternating them keeps all under the same load of the machine.
        const Timing peer = inChild([&] { loadReduceSave(true); });
        const Timing ours = inChild([&] { loadReduceSave(false); });
        const Timing cli = inChild(command);
        peerSeconds.push_back(peer.Seconds);
        oursSeconds.push_back(ours.Seconds);
        commandSeconds.push_back(cli.Seconds);
        timeRatios.push_back(ours.Seconds / peer.Seconds);
        commandRatios.push_back(cli.Seconds / peer.Seconds);
        oursPeak = std::max(oursPeak, ours.PeakKiB);
        peerPeak = std::max(peerPeak, peer.PeakKiB);
        commandPeak = std::max(commandPeak, cli.PeakKiB);
    }
    std::printf("Speed: load, reduce to half, save; 65,536 vertices, 131,072 triangles, 200 frames, %.1f MB\n", fileBytes / 1e6);
    std::printf("peer (frame 0):   median %7.1f ms, peak %6.1f MB (%.2f x the file)\n", median(peerSeconds) * 1e3,
                double(peerPeak) * 1024 / 1e6, double(peerPeak) * 1024 / fileBytes);
    std::printf("quadric:          median %7.1f ms, peak %6.1f MB (%.2f x the file)\n", median(oursSeconds) * 1e3,
                double(oursPeak) * 1024 / 1e6, double(oursPeak) * 1024 / fileBytes);
    std::printf("kelvane-cli reduce --ratio 0.5: median %7.1f ms, peak %6.1f MB (%.2f x the file)\n", median(commandSeconds) * 1e3,
                double(commandPeak) * 1024 / 1e6, double(commandPeak) * 1024 / fileBytes);
    std::printf("time ratio:       median %.2f, the command %.2f (of %d runs)\n", median(timeRatios), median(commandRatios), runs);
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
    // quadric_bench 0 prints the quality tables alone; quadric_bench -1 the wide
    // fans alone; quadric_bench tune the npm peer's setups.
    if (argc > 1 && std::strcmp(argv[1], "corpus") == 0) return RunCorpusBench(argc, argv);
    const bool tune = argc > 1 && std::strcmp(argv[1], "tune") == 0;
    const int asked = argc > 1 && !tune ? std::atoi(argv[1]) : 5;
    if (asked < -1) {  // one open fan of -asked triangles, for a profiler
        TMDLModel fan = wideFan(-asked);
        ReduceQuadric(fan, fan.Header.NumTris / 2);
        return 0;
    }
    if (argc > 2 && std::strcmp(argv[1], "write") == 0) {  // the speed table's model, for a profiler
        uniformTorus(256, 256, 200).SaveToFile(argv[2]);
        return 0;
    }
    if (asked < 0) {
        wideFanTable(1);
        return 0;
    }
    const int runs = std::max(0, asked);
    const std::vector<Sample> list = samples();
    const std::string npmMissing = NpmPeerMissing();
    if (!npmMissing.empty()) std::printf("(meshoptimizer 1.3 rows skipped: %s)\n", npmMissing.c_str());
    const ScratchDir scratch;
    if (tune) {
        if (npmMissing.empty()) tuneTable(list, scratch);
        return 0;
    }
    const NpmSetup setup;
    const std::vector<Row> rows = qualityRows(list, npmMissing.empty(), setup, scratch);
    printQuality(rows, setup);
    printBeside(rows);
    if (runs > 0) {
        wideFanTable(runs);
        speedTable(runs);
    }
    return 0;
}
