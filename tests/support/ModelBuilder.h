#pragma once
// Models built in memory for tests, benchmarks and fuzz seeds.

#include <array>
#include <cstdint>
#include <vector>

#include "model/MDLClass.h"

// A triangle whose skin indices equal its vertex indices, or with its own.
MDLTriangle Tri(uint32_t a, uint32_t b, uint32_t c);
MDLTriangle Tri(uint32_t a, uint32_t b, uint32_t c, uint32_t sa, uint32_t sb, uint32_t sc);
FrameVert Vert(uint16_t x, uint16_t y, uint16_t z, uint8_t normalIndex = 5);
// A skin of the given type whose pixel bytes follow a pattern.
TMDLSkin5 MakeSkin(int32_t type, int32_t width, int32_t height);

// A model whose "MDL5" header counts equal its lists. Each frame gets a
// distinct name and head; frames must all have the same number of vertices.
TMDLModel MakeModel(std::vector<std::vector<FrameVert>> frames, std::vector<MDLTriangle> triangles,
                    std::vector<SkinVert> skinVerts, std::vector<TMDLSkin5> skins = {});

// Writes a position scale and offset into the header (offsets 8 and 20), so
// that world = packed * scale + offset; MakeModel leaves a pattern there.
void SetPositionTransform(TMDLModel& model, std::array<float, 3> scale, std::array<float, 3> offset);

// A closed, animated surface: a torus of width x height vertices and
// 2 x width x height triangles, with one skin vertex per vertex laid out in
// tiles of 32 x 32 texels' steps, so that most fans stay within 100 texels.
TMDLModel MakeTorus(int width, int height, int frameCount);

// A small model drawn from seed with the awkward cases of real meshes: open
// borders, UV seams, wide fans, skin vertices at (0, 0), unused skin vertices,
// degenerate and doubled triangles, equal distances, opposite normals, and
// sometimes no frames or no triangles. Always valid for loading.
TMDLModel MakeRandomModel(uint32_t seed);

// The octahedron of six vertices and eight triangles that the reduction's
// documentation walks through.
TMDLModel MakeOctahedron();

// A spread of valid models: the octahedron, a small torus, the octahedron with
// a skin of every supported type, randomModels random ones and an empty model.
std::vector<TMDLModel> MakeSampleModels(uint32_t randomModels);

// Every index within its list and the header counts equal to the lists.
bool IsConsistent(const TMDLModel& model);
