#pragma once
// The strongest peer of the collapses: npm's meshoptimizer 1.3, its
// WebAssembly build run by node through bench/peer/simplify.mjs, given frame
// 0's positions and further frames' as attributes. Shared by quadric_bench's
// tables and its corpus mode.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/MDLClass.h"

class ScratchDir;

// How the npm peer is run. The chosen setup is the one quadric_bench tune
// found best for the peer (see bench/README.md).
struct NpmSetup {
    int PoseFrames = 10;  // further frames, spread over the animation, given as attributes; 0: frame 0 alone
    double Weight = 16;   // of each attribute coordinate, in the simplifier's units
    std::string Flags;    // the simplifier's flags, comma-separated
    // Welded vertices (false) let it collapse across texture seams, as a
    // modder who gives it positions alone would; one vertex per pair of
    // vertex and texture coordinate (true) makes it keep them.
    bool KeepSeams = false;
};

// Runs a program found on PATH with its output to /dev/null unless shown;
// returns its exit status, or -1 when it could not be started or was killed.
int RunProgram(const std::vector<std::string>& args, bool showOutput);

// Why the npm peer cannot run here, or "" when it can.
std::string NpmPeerMissing();

// The peer's triangles for a vertex-major view, in its numbering: node run on
// frame 0's positions and, as attributes, those of setup.PoseFrames further
// frames. Welded (see NpmSetup), each corner takes one of the texture
// coordinates its vertex had. None when node failed. seconds, when given,
// receives the wall time of the node process alone (start-up included).
std::optional<std::vector<MeshTriangle>> NpmPeerTriangles(const AnimatedMesh& mesh, int64_t targetTriangles, const NpmSetup& setup,
                                                          const ScratchDir& scratch, double* seconds = nullptr);

// The same on an MDL5 model in place, its triangles then used in every
// frame. False when node failed; model is then as it was.
bool NpmPeerReduce(TMDLModel& model, int64_t targetTriangles, const NpmSetup& setup, const ScratchDir& scratch);

// Keeps the given triangles and the vertices and skin vertices they use,
// in every frame, in their order.
void KeepTriangles(TMDLModel& model, std::vector<MDLTriangle> triangles);

// What survives when a view keeps only the given triangles (in its
// numbering): the vertices and texture coordinates they use. Each triangle's
// source is its own index, so that KeptView takes no other field from it.
MeshSurvivors SurvivorsOfTriangles(const AnimatedMesh& mesh, const std::vector<MeshTriangle>& triangles);
