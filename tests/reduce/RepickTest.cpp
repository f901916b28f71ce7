#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "model/AnimatedMesh.h"
#include "reduce/Repick.h"

namespace {

// A 5 x 5 grid in the plane, one skin vertex per vertex, two frames; the
// middle vertex (12) stands a unit out of the plane. In the second frame it
// may slide far past its neighbours, and its corners on the right may show
// a second skin vertex (a seam through it).
AnimatedMesh bumpGrid(bool slides, bool seam)
{
    AnimatedMesh mesh;
    mesh.VertexCount = 25;
    mesh.FrameCount = 2;
    mesh.VertexMajor = true;
    mesh.Transforms.assign(2, FrameTransform{{1e-3f, 1e-3f, 1e-3f}, {-10.0f, -10.0f, -10.0f}});
    mesh.SkinWidth = mesh.SkinHeight = 64;
    for (int v = 0; v < 25; ++v) {
        mesh.TexCoords.push_back({float(v % 5) * 10, float(v / 5) * 10});
        for (int frame = 0; frame < 2; ++frame) {
            std::array<double, 3> p{double(v % 5), double(v / 5), v == 12 ? 1.0 : 0.0};
            if (v == 12 && slides && frame == 1) p[1] = -6;
            mesh.Positions.push_back({uint16_t((p[0] + 10) * 1000), uint16_t((p[1] + 10) * 1000), uint16_t((p[2] + 10) * 1000)});
        }
    }
    mesh.TexCoords.push_back({25, 25});  // 12's other side of the seam
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            const uint32_t a = y * 5 + x;
            for (const std::array<uint32_t, 3> corners : {std::array{a, a + 1, a + 6}, std::array{a, a + 6, a + 5}}) {
                MeshTriangle tri{corners, corners};
                for (uint32_t& k : tri.TexCoord)
                    if (k == 12 && seam && x >= 2) k = 25;
                mesh.Triangles.push_back(tri);
            }
        }
    return mesh;
}

TEST(RepickVertices, HandsAPlaceToTheVertexThatFollowsTheInputUnlessARuleForbids)
{
    // The collapses' result: 12 went to 7, whose fan then spans the bump.
    struct Case {
        const char* Name;
        bool Slides, Seam, Handed;
    };
    for (const Case& c : {Case{"the bump's vertex takes the place", false, false, true},
                          Case{"not where a triangle would turn over in a frame", true, false, false},
                          Case{"not a vertex on a texture seam", false, true, false}}) {
        SCOPED_TRACE(c.Name);
        const AnimatedMesh mesh = bumpGrid(c.Slides, c.Seam);
        std::vector<MeshTriangle> live;
        std::vector<uint32_t> source;
        for (uint32_t t = 0; t < mesh.Triangles.size(); ++t) {
            MeshTriangle tri = mesh.Triangles[t];
            const auto& v = tri.Vertex;
            if (std::count(v.begin(), v.end(), 7u) + std::count(v.begin(), v.end(), 12u) == 2) continue;
            for (std::size_t j = 0; j < 3; ++j)
                if (tri.Vertex[j] == 12) tri.Vertex[j] = tri.TexCoord[j] = 7;
            live.push_back(tri);
            source.push_back(t);
        }
        const std::vector<MeshTriangle> before = live;
        EXPECT_EQ(RepickVertices(mesh, live, source), c.Handed ? 1 : 0);
        ASSERT_EQ(live.size(), before.size());
        for (std::size_t i = 0; i < live.size(); ++i)
            for (std::size_t j = 0; j < 3; ++j) {
                // Only 7's corners change, to 12 with 12's own skin vertex.
                const bool handed = c.Handed && before[i].Vertex[j] == 7;
                EXPECT_EQ(live[i].Vertex[j], handed ? 12u : before[i].Vertex[j]);
                EXPECT_EQ(live[i].TexCoord[j], handed ? 12u : before[i].TexCoord[j]);
            }
    }
}

}  // namespace
