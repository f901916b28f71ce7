#include "bench/CorpusBench.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "bench/NpmPeer.h"
#include "pipeline/BestReduction.h"
#include "measure/Measure.h"
#include "model/AnimatedMesh.h"
#include "model/AnyModel.h"
#include "tests/support/TestFiles.h"

namespace fs = std::filesystem;

namespace {

struct CorpusOptions {
    fs::path Folder;
    int Runs = 1;
    std::string CsvFile;
    std::vector<double> Ratios{0.5, 0.25, 0.1, 0.05};
    std::vector<std::string> Only;
    unsigned Threads = std::max(1u, std::thread::hardware_concurrency());
    int Samples = 0;
};

// One side's deviation from the input over every frame.
struct Deviation {
    int32_t Triangles = 0;
    bool BudgetMet = false;
    double Rms = NAN;         // the largest per-frame RMS, as a share of the frame's box diagonal
    double TextureRms = NAN;  // the largest per-frame texture RMS, texels
    double TextureLargest = NAN;
    double Seconds = NAN;     // ours: ReduceBest in process; the peer: its node process
};

struct CorpusRow {
    std::string Model;  // the path under the folder
    std::string Format;
    int64_t Vertices = 0, Triangles = 0, Frames = 0;
    double Ratio = 0;
    int64_t Budget = 0;
    Deviation Ours, Peer;
    bool PeerRan = false;
    std::string Way, Relaxed, Stopped;  // ours: the way kept, the rules relaxed, why it stopped short
};

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        if (comma > start) items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

// False with a line on stderr for a usage error.
bool parseOptions(int argc, char** argv, CorpusOptions& options)
{
    bool haveFolder = false, haveRuns = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = i + 1 < argc;
        if (arg == "--csv" && valued)
            options.CsvFile = argv[++i];
        else if (arg == "--ratios" && valued) {
            options.Ratios.clear();
            for (const std::string& r : splitList(argv[++i])) options.Ratios.push_back(std::atof(r.c_str()));
        } else if (arg == "--only" && valued)
            options.Only = splitList(argv[++i]);
        else if (arg == "--threads" && valued)
            options.Threads = unsigned(std::max(1, std::atoi(argv[++i])));
        else if (arg == "--samples" && valued)
            options.Samples = std::max(0, std::atoi(argv[++i]));
        else if (!haveFolder && arg.rfind("--", 0) != 0) {
            options.Folder = arg;
            haveFolder = true;
        } else if (!haveRuns && arg.rfind("--", 0) != 0) {
            options.Runs = std::max(1, std::atoi(arg.c_str()));
            haveRuns = true;
        } else {
            std::fprintf(stderr, "quadric_bench corpus: unexpected argument %s\n", arg.c_str());
            return false;
        }
    }
    for (double ratio : options.Ratios)
        if (!(ratio > 0 && ratio <= 1)) {
            std::fprintf(stderr, "quadric_bench corpus: a ratio must lie in (0, 1]\n");
            return false;
        }
    if (!haveFolder) std::fprintf(stderr, "usage: quadric_bench corpus DIR [runs] [--csv FILE] [--ratios LIST] [--only TEXTS]\n");
    return haveFolder;
}

// Every file under folder whose name ends as a model's does, in path order.
std::vector<fs::path> modelFiles(const CorpusOptions& options)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(options.Folder)) {
        if (!entry.is_regular_file()) continue;
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (extension != ".mdl" && extension != ".md2" && extension != ".md3") continue;
        const std::string relative = fs::relative(entry.path(), options.Folder).string();
        const bool wanted = options.Only.empty() || std::any_of(options.Only.begin(), options.Only.end(), [&](const std::string& text) {
                                return relative.find(text) != std::string::npos;
                            });
        if (wanted) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

constexpr MeshOptions kMeasured{.VertexMajor = false, .Normals = false, .Skin = false, .Names = false};
constexpr MeshOptions kCollapsed{.VertexMajor = true, .Normals = false, .Skin = false, .Names = false};

void measureInto(Deviation& side, const AnimatedMesh& original, const AnimatedMesh& reduced, const CorpusOptions& options)
{
    side.Triangles = int32_t(reduced.Triangles.size());
    MeasureOptions measure;
    measure.SamplesPerSide = options.Samples;
    const auto measured = MeasureDeviation(original, reduced, measure);
    if (const auto* summary = std::get_if<DeviationSummary>(&measured)) {
        side.Rms = summary->Rms;
        if (summary->TextureMeasured) {
            side.TextureRms = summary->TextureRms;
            side.TextureLargest = summary->TextureLargest;
        }
    } else
        std::fprintf(stderr, "  cannot measure: %s\n", std::get<std::string>(measured).c_str());
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? NAN : values[values.size() / 2];
}

// One model at one ratio: ours as kelvane-cli reduces it, then the peer asked
// for our triangle count (and again for the budget when ours missed it, to
// say whether the peer meets it), each measured against the model as loaded.
CorpusRow reduceAtRatio(const TAnyModel& model, const AnimatedMesh& collapsed, const AnimatedMesh& measured, CorpusRow row,
                        const CorpusOptions& options, bool withPeer, const ScratchDir& scratch)
{
    std::vector<double> oursSeconds, peerSeconds;
    MeshSurvivors survivors;
    auto start = std::chrono::steady_clock::now();
    const BestReduction best = ReduceBest(collapsed, row.Budget, survivors, nullptr, options.Threads);
    oursSeconds.push_back(secondsSince(start));
    row.Ours.BudgetMet = best.Result.BudgetMet;
    row.Way = best.Way;
    row.Relaxed = best.Result.RelaxedRules;
    row.Stopped = best.Result.StoppedBecause;
    TAnyModel ours = model;
    if (best.Result.TrianglesAfter != best.Result.TrianglesBefore) ours.Keep(survivors);
    measureInto(row.Ours, measured, ours.Mesh(kMeasured), options);

    const NpmSetup setup;
    if (withPeer) {
        double seconds = 0;
        const auto kept = NpmPeerTriangles(collapsed, row.Ours.Triangles, setup, scratch, &seconds);
        row.PeerRan = kept.has_value();
        if (kept) {
            peerSeconds.push_back(seconds);
            measureInto(row.Peer, measured, KeptView(measured, SurvivorsOfTriangles(measured, *kept)), options);
            row.Peer.BudgetMet = row.Peer.Triangles <= row.Budget;
            if (!row.Ours.BudgetMet) {
                const auto atBudget = NpmPeerTriangles(collapsed, row.Budget, setup, scratch);
                row.Peer.BudgetMet = atBudget && int64_t(atBudget->size()) <= row.Budget;
            }
        }
    }
    // Further timed runs, the two sides taking turns under the same load.
    for (int run = 1; run < options.Runs; ++run) {
        MeshSurvivors again;
        start = std::chrono::steady_clock::now();
        ReduceBest(collapsed, row.Budget, again, nullptr, options.Threads);
        oursSeconds.push_back(secondsSince(start));
        double seconds = 0;
        if (row.PeerRan && NpmPeerTriangles(collapsed, row.Ours.Triangles, setup, scratch, &seconds)) peerSeconds.push_back(seconds);
    }
    row.Ours.Seconds = median(oursSeconds);
    row.Peer.Seconds = median(peerSeconds);
    return row;
}

// Ours over the peer, each held above a floor so that two exact results (0
// and 0) compare as equal and a near-exact one does not blow the ratio up.
double over(double ours, double peer, double floor)
{
    return std::max(ours, floor) / std::max(peer, floor);
}

constexpr double kRmsFloor = 1e-6;     // of the diagonal: far below a pixel
constexpr double kTexelFloor = 0.01;   // texels

struct Spread {
    double Median = NAN, P90 = NAN, Worst = NAN;
    std::string WorstModel;
};

Spread spreadOf(std::vector<std::pair<double, std::string>> values)
{
    Spread spread;
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    spread.Median = values[values.size() / 2].first;
    spread.P90 = values[std::size_t(std::ceil(0.9 * double(values.size()))) - 1].first;
    spread.Worst = values.back().first;
    spread.WorstModel = values.back().second;
    return spread;
}

void printRatio(const std::vector<CorpusRow>& rows, double ratio, int leftOut, unsigned threads)
{
    std::vector<std::pair<double, std::string>> rms, texture;
    std::vector<std::string> oursMissed, peerMissed;
    double oursSeconds = 0, peerSeconds = 0;
    int models = 0;
    for (const CorpusRow& row : rows) {
        if (row.Ratio != ratio) continue;
        ++models;
        oursSeconds += row.Ours.Seconds;
        char text[256];
        if (!row.Ours.BudgetMet) {
            std::snprintf(text, sizeof text, "%s %d/%lld", row.Model.c_str(), row.Ours.Triangles, static_cast<long long>(row.Budget));
            oursMissed.push_back(text);
        }
        if (!row.PeerRan) continue;
        peerSeconds += row.Peer.Seconds;
        if (!row.Peer.BudgetMet) peerMissed.push_back(row.Model);
        if (!std::isnan(row.Ours.Rms) && !std::isnan(row.Peer.Rms)) rms.push_back({over(row.Ours.Rms, row.Peer.Rms, kRmsFloor), row.Model});
        if (!std::isnan(row.Ours.TextureRms) && !std::isnan(row.Peer.TextureRms))
            texture.push_back({over(row.Ours.TextureRms, row.Peer.TextureRms, kTexelFloor), row.Model});
    }
    const Spread r = spreadOf(rms), t = spreadOf(texture);
    int above = 0;
    for (const auto& [value, name] : rms) above += value > 1.1 ? 1 : 0;
    std::printf("ratio %.2f: %d models (%d left out: fewer than one triangle to keep)\n", ratio, models, leftOut);
    std::printf("  %-26s %6s %6s %6s  %s\n", "ours / peer", "median", "p90", "worst", "worst model");
    std::printf("  %-26s %6.2f %6.2f %6.2f  %s (%d above 1.1)\n", "worst-frame RMS", r.Median, r.P90, r.Worst, r.WorstModel.c_str(), above);
    std::printf("  %-26s %6.2f %6.2f %6.2f  %s\n", "texture RMS", t.Median, t.P90, t.Worst, t.WorstModel.c_str());
    const auto list = [](const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
        return text;
    };
    std::printf("  budgets missed: ours %zu%s%s; peer %zu%s%s\n", oursMissed.size(), oursMissed.empty() ? "" : ": ", list(oursMissed).c_str(),
                peerMissed.size(), peerMissed.empty() ? "" : ": ", list(peerMissed).c_str());
    std::printf("  time: ours %.1f s (ReduceBest in process, %u threads), peer %.1f s (node, whole process): %.2f x\n\n", oursSeconds,
                threads, peerSeconds, oursSeconds / peerSeconds);
}

// Text for a CSV field: quoted, its quotes doubled.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

void writeCsv(const std::vector<CorpusRow>& rows, const std::string& file)
{
    std::ofstream out(file);
    out << "model,format,vertices,triangles,frames,ratio,budget,ours_tris,ours_met,ours_rms,ours_tex_rms,ours_tex_largest,ours_s,"
           "peer_tris,peer_met,peer_rms,peer_tex_rms,peer_tex_largest,peer_s,rms_ratio,tex_ratio,way,relaxed,stopped\n";
    for (const CorpusRow& row : rows) {
        char figures[512];
        std::snprintf(figures, sizeof figures, "%lld,%lld,%lld,%.2f,%lld,%d,%d,%.6g,%.6g,%.6g,%.4f,%d,%d,%.6g,%.6g,%.6g,%.4f,%.4f,%.4f",
                      static_cast<long long>(row.Vertices), static_cast<long long>(row.Triangles), static_cast<long long>(row.Frames),
                      row.Ratio, static_cast<long long>(row.Budget), row.Ours.Triangles, row.Ours.BudgetMet ? 1 : 0, row.Ours.Rms,
                      row.Ours.TextureRms, row.Ours.TextureLargest, row.Ours.Seconds, row.Peer.Triangles, row.Peer.BudgetMet ? 1 : 0,
                      row.Peer.Rms, row.Peer.TextureRms, row.Peer.TextureLargest, row.Peer.Seconds,
                      over(row.Ours.Rms, row.Peer.Rms, kRmsFloor), over(row.Ours.TextureRms, row.Peer.TextureRms, kTexelFloor));
        out << quoted(row.Model) << ',' << row.Format << ',' << figures << ',' << quoted(row.Way) << ',' << quoted(row.Relaxed) << ','
            << quoted(row.Stopped) << '\n';
    }
    if (!out) std::fprintf(stderr, "quadric_bench corpus: cannot write %s\n", file.c_str());
}

}  // namespace

int RunCorpusBench(int argc, char** argv)
{
    CorpusOptions options;
    if (!parseOptions(argc, argv, options)) return 2;
    const std::string npmMissing = NpmPeerMissing();
    if (!npmMissing.empty()) std::printf("(the poses peer is left out: %s)\n", npmMissing.c_str());
    const std::vector<fs::path> files = modelFiles(options);
    const ScratchDir scratch;
    std::vector<CorpusRow> rows;
    std::map<double, int> leftOut;
    std::map<std::string, int> formats;
    for (std::size_t n = 0; n < files.size(); ++n) {
        const std::string name = fs::relative(files[n], options.Folder).string();
        TAnyModel model;
        try {
            if (!model.LoadFromFile(files[n].string())) {
                std::fprintf(stderr, "[%zu/%zu] %s: refused, left out\n", n + 1, files.size(), name.c_str());
                continue;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "[%zu/%zu] %s: %s, left out\n", n + 1, files.size(), name.c_str(), e.what());
            continue;
        }
        ++formats[model.FormatName()];
        const AnimatedMesh collapsed = model.Mesh(kCollapsed);
        const AnimatedMesh measured = model.Mesh(kMeasured);
        CorpusRow base;
        base.Model = name;
        base.Format = model.FormatName();
        const TAnyModel::RecordCounts counts = model.Counts();
        base.Vertices = counts.Vertices;
        base.Triangles = counts.Triangles;
        base.Frames = counts.Frames;
        for (double ratio : options.Ratios) {
            base.Ratio = ratio;
            // The budget kelvane-cli reduce --ratio works out.
            base.Budget = int64_t(std::floor(ratio * double(std::max<int64_t>(counts.Triangles, 0))));
            if (base.Budget < 1) {
                ++leftOut[ratio];
                continue;
            }
            rows.push_back(reduceAtRatio(model, collapsed, measured, base, options, npmMissing.empty(), scratch));
            const CorpusRow& row = rows.back();
            std::fprintf(stderr, "[%zu/%zu] %s %.2f: ours %d%s %.5f %.2f texels %.2f s | peer %d %.5f %.2f texels %.2f s\n", n + 1,
                         files.size(), name.c_str(), ratio, row.Ours.Triangles, row.Ours.BudgetMet ? "" : "*", row.Ours.Rms,
                         row.Ours.TextureRms, row.Ours.Seconds, row.Peer.Triangles, row.Peer.Rms, row.Peer.TextureRms, row.Peer.Seconds);
        }
    }
    std::printf("Corpus %s: ", options.Folder.string().c_str());
    for (const auto& [format, count] : formats) std::printf("%d %s ", count, format.c_str());
    std::printf("models. Ours: ReduceBest as kelvane-cli reduce --ratio R; peer: meshoptimizer 1.3 given 10 more frames\n"
                "(weight 16, welded), asked for our triangle count; both measured over every frame against the model as loaded.\n\n");
    for (double ratio : options.Ratios) printRatio(rows, ratio, leftOut[ratio], options.Threads);
    if (!options.CsvFile.empty()) writeCsv(rows, options.CsvFile);
    return 0;
}
