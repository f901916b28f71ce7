#pragma once
// MDL7 models built in memory for tests and fuzz seeds.

#include <cstddef>

#include "model/formats/MDL7.h"

struct MDL7Shape {
    int Groups = 1;
    int Side = 4;           // each group a grid of Side x Side main vertices, two triangles a square
    int Frames = 0;         // frames of frame vertices: frame f moves the vertices of columns i with (i + f) % 3 != 0
    int Bones = 0;          // a chain of bones; every vertex bound to one, and group 0's frames carry their matrices
    bool Deformer = false;  // with bones: one deformer a group, two weights a vertex
    bool Compact = false;   // 12-byte triangles, 16-byte vertices, group sizes less their skins' pixels
    bool EverySkin = false; // group 0 holds a skin of every kind and flag; else one small picture
    std::size_t EditorBytes = 0;  // an editor lump of this many bytes, and then an entity lump of 3
};

// A model of that shape with every size worked out. Full records are 26-byte
// triangles (odd ones with a second set of coordinates) and vertices.
TMDL7Model MakeMDL7Model(const MDL7Shape& shape);
