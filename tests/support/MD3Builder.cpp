#include "tests/support/MD3Builder.h"

#include <algorithm>
#include <string>
#include <tuple>

namespace {

template <std::size_t N>
std::array<char, N> nameOf(const std::string& text)
{
    std::array<char, N> name{};
    std::copy_n(text.begin(), std::min(text.size(), N - 1), name.begin());
    return name;
}

MD3Piece gap(uint64_t size)
{
    return {MD3Section::Gap, size};
}

}  // namespace

TMD3Model MakeMD3Model(int surfaceCount, int frameCount, int tagCount)
{
    TMD3Model model;
    model.Header.Ident = {'I', 'D', 'P', '3'};
    model.Header.Version = kMD3Version;
    model.Header.Name = nameOf<64>("models/builder.md3");
    for (int f = 0; f < frameCount; ++f) {
        const float r = float(f);
        model.Frames.push_back({{-4, -5, -6 - r}, {7, 8, 9 + r}, {0, 0, r}, 12 + r, nameOf<16>("frame" + std::to_string(f))});
        for (int t = 0; t < tagCount; ++t)
            model.Tags.push_back({nameOf<64>("tag_" + std::to_string(t)), {float(t), r, 1}, {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}});
    }
    for (int s = 0; s < surfaceCount; ++s) {
        TMD3Surface& surface = model.Surfaces.emplace_back();
        surface.Ident = model.Header.Ident;
        surface.Name = nameOf<64>("surface" + std::to_string(s));
        surface.Shaders.push_back({nameOf<64>("textures/skin" + std::to_string(s)), s});
        const int count = 4 + s;
        for (int v = 0; v + 2 < count; ++v) surface.Triangles.push_back({{v, v + 1, v + 2}});
        for (int v = 0; v < count; ++v) surface.TexCoords.push_back({float(v) / 8, float(s) / 4 + 0.125f});
        for (int f = 0; f < frameCount; ++f)
            for (int v = 0; v < count; ++v)
                surface.Vertices.push_back({{{int16_t(v * 100 - 200 + f), int16_t(s * 50 - v * 30), int16_t(64 * v - 100 + 7 * f)}},
                                            uint16_t(v * 257 + s + f)});
    }
    model.PlaceSections();
    return model;
}

TMD3Model MakeTwoSurfaceMD3(const std::string& leftShader, const std::string& rightShader)
{
    TMD3Model model;
    model.Header.Ident = {'I', 'D', 'P', '3'};
    model.Header.Version = kMD3Version;
    model.Frames.push_back({{0, -2, -1}, {0, 2, 1}, {0, 0, 0}, 3, nameOf<16>("still")});
    for (const auto& [name, shader, left] : {std::tuple{"left", leftShader, -2}, std::tuple{"right", rightShader, 0}}) {
        TMD3Surface& surface = model.Surfaces.emplace_back();
        surface.Ident = model.Header.Ident;
        surface.Name = nameOf<64>(name);
        surface.Shaders.push_back({nameOf<64>(shader), 0});
        //  0---1   seen from +X: y grows to the right, z upwards
        //  | / |
        //  2---3
        surface.Triangles = {{{0, 2, 1}}, {{1, 2, 3}}};
        surface.TexCoords = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
        const auto at = [](int y, int z) { return MD3Vertex{{0, int16_t(64 * y), int16_t(64 * z)}, 0}; };
        surface.Vertices = {at(left, 1), at(left + 2, 1), at(left, -1), at(left + 2, -1)};  // normals point along +Z: lit alike
    }
    model.PlaceSections();
    return model;
}

void ScrambleMD3Layout(TMD3Model& model)
{
    using enum MD3Section;
    model.Layout = {{Header}, gap(3), {Surfaces}, gap(5), {Tags}, {Frames}, gap(7)};
    model.GapBytes.assign(15, 0xA5);
    for (TMD3Surface& s : model.Surfaces) {
        s.Layout = {{Header}, {Vertices}, gap(2), {TexCoords}, {Triangles}, {Shaders}, gap(4)};
        s.GapBytes = {1, 2, 3, 4, 5, 6};
    }
    model.PlaceSections();
}
