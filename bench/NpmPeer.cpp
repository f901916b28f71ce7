#include "bench/NpmPeer.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <numeric>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "measure/Measure.h"
#include "model/ByteIO.h"
#include "model/formats/MDL5.h"
#include "tests/support/ModelBuilder.h"
#include "tests/support/TestFiles.h"

extern char** environ;

namespace {

const std::filesystem::path kPeerFolder = KELVANE_PEER_DIR;

void appendU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(value >> shift));
}

void appendF32(std::vector<uint8_t>& bytes, float value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    appendU32(bytes, bits);
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, bool showOutput)
{
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!showOutput) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string NpmPeerMissing()
{
    if (RunProgram({"node", "--version"}, false) != 0) return "node is not installed";
    if (!std::filesystem::exists(kPeerFolder / "node_modules/meshoptimizer/package.json"))
        return "meshoptimizer is not in " + (kPeerFolder / "node_modules").string() + " (make bench runs npm ci there)";
    return "";
}

std::optional<std::vector<MeshTriangle>> NpmPeerTriangles(const AnimatedMesh& mesh, int64_t targetTriangles, const NpmSetup& setup,
                                                          const ScratchDir& scratch, double* seconds)
{
    assert(mesh.VertexMajor);  // a vertex's frames side by side: the welding compares them as one run
    const uint32_t frameCount = mesh.FrameCount;

    // 1. the peer's vertices, numbered in the order of the first corner that
    // uses them. Welded: vertices with the same packed position in every
    // frame are one, whatever their texture coordinates. Seams kept: one per
    // pair of vertex and texture coordinate, as an exporter writes them.
    std::vector<uint32_t> groupOf(mesh.VertexCount);  // welded: the first vertex, in path order, of one's group
    if (!setup.KeepSeams) {
        const auto path = [&](uint32_t v) { return mesh.Positions.begin() + std::ptrdiff_t(mesh.At(v, 0)); };
        std::vector<uint32_t> byPath(mesh.VertexCount);
        std::iota(byPath.begin(), byPath.end(), 0u);
        std::stable_sort(byPath.begin(), byPath.end(), [&](uint32_t a, uint32_t b) {
            return std::lexicographical_compare(path(a), path(a) + frameCount, path(b), path(b) + frameCount);
        });
        for (std::size_t i = 0; i < byPath.size(); ++i)
            groupOf[byPath[i]] = i > 0 && std::equal(path(byPath[i]), path(byPath[i]) + frameCount, path(byPath[i - 1]))
                                     ? groupOf[byPath[i - 1]]
                                     : byPath[i];
    }
    std::map<std::pair<uint32_t, uint32_t>, uint32_t> numberOf;
    std::vector<std::array<uint32_t, 2>> peerVertices;  // the vertex and texture coordinate each stands for
    std::vector<uint32_t> cornerVertices;               // the peer's vertex at each corner
    for (const MeshTriangle& tri : mesh.Triangles)
        for (std::size_t k = 0; k < 3; ++k) {
            const std::pair<uint32_t, uint32_t> key =
                setup.KeepSeams ? std::pair{tri.Vertex[k], tri.TexCoord[k]} : std::pair{groupOf[tri.Vertex[k]], 0u};
            const auto [it, added] = numberOf.try_emplace(key, uint32_t(peerVertices.size()));
            if (added) peerVertices.push_back({tri.Vertex[k], tri.TexCoord[k]});
            cornerVertices.push_back(it->second);
        }

    // 2. the file: frame 0's positions, further frames' as attributes, the corners.
    std::vector<int> poseFrames;
    if (setup.PoseFrames > 0)
        for (int f : SpreadFrames(int(frameCount), setup.PoseFrames + 1))
            if (f != 0) poseFrames.push_back(f);
    const auto vertexCount = uint32_t(peerVertices.size());
    std::vector<uint8_t> bytes{'K', 'Q', 'B', 'P'};
    appendU32(bytes, 1);
    appendU32(bytes, vertexCount);
    appendU32(bytes, uint32_t(mesh.Triangles.size() * 3));
    appendU32(bytes, uint32_t(poseFrames.size() * 3));
    appendU32(bytes, uint32_t(targetTriangles * 3));
    for (const auto& [v, texCoord] : peerVertices)
        for (double c : mesh.World(v, 0)) appendF32(bytes, float(c));
    for (const auto& [v, texCoord] : peerVertices)
        for (int f : poseFrames)
            for (double c : mesh.World(v, uint32_t(f))) appendF32(bytes, float(c));
    for (uint32_t corner : cornerVertices) appendU32(bytes, corner);
    const std::string meshFile = scratch.File("peer-mesh.bin");
    const std::string indexFile = scratch.File("peer-indices.bin");
    WriteFile(meshFile, bytes);
    std::filesystem::remove(indexFile);
    char weight[32];
    std::snprintf(weight, sizeof weight, "%g", setup.Weight);
    const auto started = std::chrono::steady_clock::now();
    const int status =
        RunProgram({"node", (kPeerFolder / "simplify.mjs").string(), meshFile, indexFile, "--weight", weight, "--flags", setup.Flags}, true);
    if (seconds) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (status != 0) return std::nullopt;
    const std::vector<uint8_t> kept = ReadWholeFile(indexFile);
    if (kept.size() % 12 != 0) return std::nullopt;

    // 3. texture coordinates: kept with the seams; welded, each peer vertex's
    // choices are the (vertex, texture coordinate) pairs of the corners that used it.
    std::vector<std::vector<std::array<uint32_t, 2>>> choices(vertexCount);
    for (std::size_t i = 0; i < cornerVertices.size(); ++i) {
        auto& list = choices[cornerVertices[i]];
        const MeshTriangle& tri = mesh.Triangles[i / 3];
        const std::array<uint32_t, 2> pair{tri.Vertex[i % 3], tri.TexCoord[i % 3]};
        if (setup.KeepSeams ? list.empty() : std::find(list.begin(), list.end(), pair) == list.end()) list.push_back(pair);
    }
    const auto texelDistance = [&](uint32_t a, uint32_t b) {
        return std::hypot(mesh.TexCoords[a][0] - mesh.TexCoords[b][0], mesh.TexCoords[a][1] - mesh.TexCoords[b][1]);
    };
    std::vector<MeshTriangle> triangles;
    for (std::size_t i = 0; i < kept.size(); i += 12) {
        std::array<uint32_t, 3> corner{};
        for (std::size_t k = 0; k < 3; ++k) {
            std::memcpy(&corner[k], &kept[i + 4 * k], 4);  // both sides little-endian
            if (corner[k] >= vertexCount) return std::nullopt;
        }
        // Of every choice for the three corners, the one of shortest
        // perimeter in the skin: a triangle that crossed a seam keeps the
        // texture of one side where one side has the three, instead of
        // spreading over the skin between the two (first found on a tie).
        const auto& ca = choices[corner[0]];
        const auto& cb = choices[corner[1]];
        const auto& cc = choices[corner[2]];
        double shortest = INFINITY;
        std::array<std::array<uint32_t, 2>, 3> best{ca[0], cb[0], cc[0]};
        for (const auto& a : ca)
            for (const auto& b : cb)
                for (const auto& c : cc) {
                    const double perimeter = texelDistance(a[1], b[1]) + texelDistance(b[1], c[1]) + texelDistance(c[1], a[1]);
                    if (perimeter < shortest) {
                        shortest = perimeter;
                        best = {a, b, c};
                    }
                }
        triangles.push_back({{best[0][0], best[1][0], best[2][0]}, {best[0][1], best[1][1], best[2][1]}});
    }
    return triangles;
}

bool NpmPeerReduce(TMDLModel& model, int64_t targetTriangles, const NpmSetup& setup, const ScratchDir& scratch)
{
    MeshOptions viewOptions;
    viewOptions.VertexMajor = true;
    viewOptions.Normals = false;
    viewOptions.Skin = false;
    const std::optional<std::vector<MeshTriangle>> kept = NpmPeerTriangles(MeshOf(model, viewOptions), targetTriangles, setup, scratch);
    if (!kept) return false;
    std::vector<MDLTriangle> triangles;
    for (const MeshTriangle& tri : *kept)
        triangles.push_back(Tri(tri.Vertex[0], tri.Vertex[1], tri.Vertex[2], tri.TexCoord[0], tri.TexCoord[1], tri.TexCoord[2]));
    KeepTriangles(model, std::move(triangles));
    return true;
}

void KeepTriangles(TMDLModel& model, std::vector<MDLTriangle> triangles)
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

MeshSurvivors SurvivorsOfTriangles(const AnimatedMesh& mesh, const std::vector<MeshTriangle>& triangles)
{
    std::vector<uint32_t> vertexNumber(mesh.VertexCount, UINT32_MAX);
    std::vector<uint32_t> texNumber(mesh.TexCoords.size(), UINT32_MAX);
    for (const MeshTriangle& tri : triangles)
        for (std::size_t k = 0; k < 3; ++k) {
            vertexNumber[tri.Vertex[k]] = 0;
            texNumber[tri.TexCoord[k]] = 0;
        }
    MeshSurvivors survivors;
    for (uint32_t v = 0; v < vertexNumber.size(); ++v)
        if (vertexNumber[v] == 0) {
            vertexNumber[v] = uint32_t(survivors.Vertices.size());
            survivors.Vertices.push_back(v);
        }
    for (uint32_t t = 0; t < texNumber.size(); ++t)
        if (texNumber[t] == 0) {
            texNumber[t] = uint32_t(survivors.TexCoords.size());
            survivors.TexCoords.push_back(t);
        }
    for (uint32_t i = 0; i < triangles.size(); ++i) {
        MeshTriangle tri = triangles[i];
        for (std::size_t k = 0; k < 3; ++k) {
            tri.Vertex[k] = vertexNumber[tri.Vertex[k]];
            tri.TexCoord[k] = texNumber[tri.TexCoord[k]];
        }
        survivors.Triangles.push_back(tri);
        survivors.TriangleSource.push_back(i);
    }
    return survivors;
}
