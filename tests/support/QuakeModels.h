#pragma once
// Quake MDL and MD2 models built in memory for tests and fuzz seeds, and the
// survivors of keeping some triangles of any view.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/formats/MD2.h"
#include "model/formats/QuakeMDL.h"

// Seed 0: five vertices, two of them on the seam, and four triangles, two
// facing back; a single 8 x 4 skin, then a group of two; a single frame, a
// group of two and another single frame, frame f moved along x by f:
//
//   2 (0,0,20) ---- 3 (10,5,20)     front: 0 1 2, 1 3 2     z up
//   |  \         /  |               back:  0 2 4, 2 3 4
//   |    4 (5,10,10)|               on the seam: 0 and 2
//   |  /         \  |               scale (0.5, 0.5, 0.25), translate (-1, -2, -3)
//   0 (0,0,0) ----- 1 (10,0,0)
//
// Other seeds: random models of 0 to 40 vertices with every kind of entry.
// Header counts always equal the lists.
TQuakeModel MakeQuakeModel(uint32_t seed = 0);

// The Quake model of the same seed as MD2: texture coordinates are the
// view's (seed 0: 0-4 the vertices', 5 and 6 the back ones of vertices 0 and
// 2), frame f (of four for seed 0) is scaled by (0.5 (f + 1), 0.5, 0.25) and
// moved by (f, -2, -3); seed 0 has two skin names; some seeds pad their
// frames; GL commands built from the triangles.
TMD2Model MakeMD2Model(uint32_t seed = 0);

// Writes the sections in reverse order with bytes between them and after
// them, pads every frame with four bytes, and points the empty skin section
// at offset 0 and the end offset past the file, as odd writers do.
void SetOddLayout(TMD2Model& model);

// The survivors of keeping the listed triangles (ascending) of mesh: the
// vertices and texture coordinates they use, renumbered.
MeshSurvivors KeepTriangles(const AnimatedMesh& mesh, const std::vector<uint32_t>& triangles);

// What a load gave: its result and its log lines.
struct LoadResult {
    bool Accepted = false;
    std::vector<std::string> Lines;
};

template <class Model>
LoadResult LoadLogged(Model& model, std::span<const uint8_t> bytes)
{
    LoadResult result;
    model.LogLines = [&result](const std::string& line) { result.Lines.push_back(line); };
    result.Accepted = model.LoadFromBytes(bytes);
    model.LogLines = nullptr;
    return result;
}

// Loads whole cut at every length, each cut in a buffer of its own exact size
// so that a sanitizer sees any overrun. Returns "" when every cut is refused
// with an "ERROR:" line and then the summary line, else the first that is not.
template <class Model>
std::string FirstCutNotRefused(const std::vector<uint8_t>& whole)
{
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + std::ptrdiff_t(length));
        Model model;
        const LoadResult result = LoadLogged(model, cut);
        if (result.Accepted || result.Lines.size() != 2 || result.Lines[0].rfind("ERROR:", 0) != 0 ||
            result.Lines[1].rfind("MODEL INFO: ", 0) != 0)
            return "cut at " + std::to_string(length) + ": " + (result.Lines.empty() ? "no line" : result.Lines[0]);
    }
    return "";
}
