#pragma once
// Quake MDL and MD2 models built in memory for tests and fuzz seeds, and the
// survivors of keeping some triangles of any view.

#include <cstdint>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/MD2.h"
#include "model/QuakeMDL.h"

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

// Seed 0: the same five vertices and four triangles; texture coordinates 0-4
// are the vertices', and the two back triangles use 5 and 6 at vertices 0
// and 2. Three frames, frame f scaled by (0.5 (f + 1), 0.5, 0.25) and moved
// by (f, -2, -3); two skin names; GL commands built from the triangles.
// Other seeds: random models of 0 to 40 vertices, some with padded frames.
TMD2Model MakeMD2Model(uint32_t seed = 0);

// Writes the sections in reverse order with bytes between them and after
// them, pads every frame with four bytes, and points the empty skin section
// at offset 0 and the end offset past the file, as odd writers do.
void SetOddLayout(TMD2Model& model);

// The survivors of keeping the listed triangles (ascending) of mesh: the
// vertices and texture coordinates they use, renumbered.
MeshSurvivors KeepTriangles(const AnimatedMesh& mesh, const std::vector<uint32_t>& triangles);
