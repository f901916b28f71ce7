#pragma once
// What a person wants to know of a model before reducing it, the same for
// every format: its counts, skins (kind, size, name), frames, how many
// vertices lie inside closed fans and how many texture coordinates no
// triangle uses. What only one format has is told by the front ends from
// that format's own records.

#include <cstdint>
#include <string>
#include <vector>

class TAnyModel;

struct SkinDetails {
    std::string Kind;  // "24-bit pixels", "8-bit indices", "file", "material"...
    int32_t Width = 0;  // 0 when the file gives no size (a skin named, not held)
    int32_t Height = 0;
    std::string Name;   // the file named, or the skin's own name; "" for none
};

struct ModelDetails {
    std::string Format;
    int64_t Vertices = 0;
    int64_t Triangles = 0;
    int64_t TexCoords = 0;  // as the file counts them (TAnyModel::Counts)
    std::vector<SkinDetails> Skins;
    std::vector<std::string> Frames;  // each name up to its first zero byte
    // Vertices with at least three triangles whose other corners pair up, as
    // the written pass asks before it looks at texels and normals.
    int64_t ClosedFanVertices = 0;
    // Texture coordinates no triangle uses (where coordinates belong to
    // vertices, those of vertices no triangle uses).
    int64_t UnusedTexCoords = 0;
};

// The details of an accepted model. Throws std::bad_alloc.
ModelDetails DescribeModel(const TAnyModel& model);
