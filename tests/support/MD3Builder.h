#pragma once
// MD3 models built in memory for tests and fuzz seeds.

#include <string>

#include "model/formats/MD3.h"

// surfaceCount surfaces, surface s a strip of 4 + s vertices and 2 + s
// triangles with one shader; frameCount frames, each moving every vertex a
// little; tagCount tags per frame. Sections in the usual order, no gaps.
TMD3Model MakeMD3Model(int surfaceCount, int frameCount, int tagCount);

// Two squares side by side in the plane x = 0, facing +X, one frame, z from
// -1 to 1: surface "left" at y from -2 to 0 with shader leftShader, surface
// "right" at y from 0 to 2 with rightShader; texture coordinates 0 to 1 over each.
TMD3Model MakeTwoSurfaceMD3(const std::string& leftShader, const std::string& rightShader);

// Puts the file's sections in the order surfaces, tags, frames and each
// surface's in the order vertices, texture coordinates, triangles, shaders,
// with a few bytes of its own before, between and after them.
void ScrambleMD3Layout(TMD3Model& model);
