#include "tests/support/ShapeModels.h"

#include <cmath>

#include "tests/support/ModelBuilder.h"

TMDLModel MakePlate(uint16_t width, uint16_t height, int cells, const std::vector<uint16_t>& frameZ)
{
    const auto at = [cells](int i, int j) { return uint32_t(j * (cells + 1) + i); };
    std::vector<std::vector<FrameVert>> frames;
    for (uint16_t z : frameZ) {
        std::vector<FrameVert>& pose = frames.emplace_back();
        for (int j = 0; j <= cells; ++j)
            for (int i = 0; i <= cells; ++i)
                pose.push_back(Vert(uint16_t(i * width / cells), uint16_t(j * height / cells), z));
    }
    std::vector<MDLTriangle> triangles;
    for (int j = 0; j < cells; ++j) {
        for (int i = 0; i < cells; ++i) {
            triangles.push_back(Tri(at(i, j), at(i + 1, j), at(i, j + 1)));
            triangles.push_back(Tri(at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)));
        }
    }
    std::vector<SkinVert> skinVerts(frames.empty() ? 0 : frames[0].size());
    TMDLModel model = MakeModel(std::move(frames), std::move(triangles), std::move(skinVerts));
    SetPositionTransform(model, {1, 1, 1}, {0, 0, 0});
    return model;
}

TMDLModel MakeSphere(int divisions, double radius)
{
    using Point = std::array<double, 3>;
    const Point axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    std::vector<FrameVert> pose;
    std::vector<MDLTriangle> triangles;
    // Each face has vertices of its own: seams do not change a distance.
    for (int face = 0; face < 8; ++face) {
        const Point& a = axes[face & 1];
        const Point& b = axes[2 + ((face >> 1) & 1)];
        const Point& c = axes[4 + ((face >> 2) & 1)];
        const auto first = uint32_t(pose.size());
        for (int j = 0; j <= divisions; ++j) {
            for (int i = 0; i + j <= divisions; ++i) {
                const double k = divisions - i - j;
                Point p;
                for (int axis = 0; axis < 3; ++axis) p[axis] = (a[axis] * k + b[axis] * i + c[axis] * j) / divisions;
                const double length = std::hypot(p[0], p[1], p[2]);
                pose.push_back(Vert(uint16_t(std::lround(32768 + radius * p[0] / length)),
                                    uint16_t(std::lround(32768 + radius * p[1] / length)),
                                    uint16_t(std::lround(32768 + radius * p[2] / length))));
            }
        }
        // Row j starts after the rows below it, which hold divisions + 1, divisions, ... vertices.
        const auto at = [first, divisions](int i, int j) { return first + uint32_t(j * (divisions + 1) - j * (j - 1) / 2 + i); };
        for (int j = 0; j < divisions; ++j) {
            for (int i = 0; i + j < divisions; ++i) {
                triangles.push_back(Tri(at(i, j), at(i + 1, j), at(i, j + 1)));
                if (i + j + 1 < divisions) triangles.push_back(Tri(at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)));
            }
        }
    }
    std::vector<SkinVert> skinVerts(pose.size());
    TMDLModel model = MakeModel({std::move(pose)}, std::move(triangles), std::move(skinVerts));
    SetPositionTransform(model, {1, 1, 1}, {0, 0, 0});
    return model;
}
