#pragma once
// MD3 models built in memory for tests and fuzz seeds.

#include "model/formats/MD3.h"

// surfaceCount surfaces, surface s a strip of 4 + s vertices and 2 + s
// triangles with one shader; frameCount frames, each moving every vertex a
// little; tagCount tags per frame. Sections in the usual order, no gaps.
TMD3Model MakeMD3Model(int surfaceCount, int frameCount, int tagCount);

// Puts the file's sections in the order surfaces, tags, frames and each
// surface's in the order vertices, texture coordinates, triangles, shaders,
// with a few bytes of its own before, between and after them.
void ScrambleMD3Layout(TMD3Model& model);
