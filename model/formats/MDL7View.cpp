// The MDL7 model's format-neutral view: its groups as parts of one mesh, its
// poses worked out from main vertices, frame vertices and bone matrices.

#include <algorithm>
#include <cassert>
#include <cmath>

#include "model/formats/MDL7.h"
#include "model/NormalTable.h"
#include "model/SkinPixels.h"

namespace {

using Vec3 = std::array<double, 3>;
using Matrix = std::array<double, 16>;

constexpr Matrix kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
// The nominal skin that texture coordinates are measured in without a picture skin.
constexpr int kNominalSkinSize = 256;
// A normal index past the table: the renderer lights such a vertex by its faces.
constexpr uint16_t kNoNormal = 255;

struct Influence {
    uint32_t Bone = 0;
    double Weight = 0;
};

// The bones that move each vertex of the view and how much, in one flat
// array behind an offset table: its deformer weights scaled to sum to 1, or
// else its own bone alone; nothing for a vertex bound to no bone.
struct Rig {
    std::vector<uint32_t> Start;  // one per vertex, and the end
    std::vector<Influence> Influences;
};

Rig rigOf(const TMDL7Model& model, const MDL7Bases& bases)
{
    const uint32_t vertexCount = bases.Vertices.back();
    const std::size_t bones = model.Bones.Count();
    Rig rig;
    rig.Start.assign(std::size_t(vertexCount) + 1, 0);
    if (bones == 0) return rig;

    // 1. every vertex's deformer weights, counted and then placed; the loader
    // checked each group, vertex and bone index
    std::vector<uint32_t> weightStart(std::size_t(vertexCount) + 1, 0);
    for (const MDL7Deformer& d : model.Deformers)
        for (const MDL7Element& element : d.Elements)
            for (const MDL7Weight& weight : element.Weights) ++weightStart[bases.Vertices[std::size_t(d.Group)] + uint32_t(weight.Vertex) + 1];
    for (uint32_t v = 0; v < vertexCount; ++v) weightStart[v + 1] += weightStart[v];
    std::vector<Influence> weights(weightStart.back());
    std::vector<uint32_t> filled(weightStart.begin(), weightStart.end() - 1);
    for (const MDL7Deformer& d : model.Deformers)
        for (const MDL7Element& element : d.Elements)
            for (const MDL7Weight& weight : element.Weights)
                weights[filled[bases.Vertices[std::size_t(d.Group)] + uint32_t(weight.Vertex)]++] = {uint32_t(element.Bone), double(weight.Weight)};

    // 2. scaled to sum to 1: in the files seen a few vertices' weights sum
    // below 1, and one to 0; a vertex without a usable sum takes its own bone
    for (std::size_t g = 0; g < model.Groups.size(); ++g) {
        const MDL7Records& mains = model.Groups[g].MainVertices;
        for (uint32_t local = 0; local < mains.Count(); ++local) {
            const uint32_t v = bases.Vertices[g] + local;
            double sum = 0;
            for (uint32_t k = weightStart[v]; k < weightStart[v + 1]; ++k) sum += weights[k].Weight;
            if (sum > 0 && std::isfinite(sum)) {
                for (uint32_t k = weightStart[v]; k < weightStart[v + 1]; ++k)
                    rig.Influences.push_back({weights[k].Bone, weights[k].Weight / sum});
            } else if (const uint16_t own = mdl7::U16At(mains[local] + mdl7::kVertexBoneAt); own < bones) {
                rig.Influences.push_back({own, 1.0});
            }
            rig.Start[v + 1] = uint32_t(rig.Influences.size());
        }
    }
    return rig;
}

// The row vector times a times b: a first.
Matrix product(const Matrix& a, const Matrix& b)
{
    Matrix out{};
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c)
            out[4 * r + c] = a[4 * r] * b[c] + a[4 * r + 1] * b[4 + c] + a[4 * r + 2] * b[8 + c] + a[4 * r + 3] * b[12 + c];
    return out;
}

// Turns each bone's matrix, relative to its parent's, into one that takes
// the base pose to this pose: the bone's own first, then its parent's. A
// parent that names no bone, or a loop of parents, ends the chain.
void composeWithParents(const MDL7Records& bones, std::vector<Matrix>& matrices)
{
    enum : uint8_t { kOpen, kWalking, kDone };
    std::vector<uint8_t> state(matrices.size(), kOpen);
    std::vector<uint32_t> chain;
    for (uint32_t first = 0; first < matrices.size(); ++first) {
        // Up the parents to one already done (or none), then down again.
        uint32_t parent = first;
        while (parent < matrices.size() && state[parent] == kOpen) {
            state[parent] = kWalking;
            chain.push_back(parent);
            parent = mdl7::U16At(bones[parent]);
        }
        const bool rooted = parent < matrices.size() && state[parent] == kDone;
        for (auto b = chain.rbegin(); b != chain.rend(); ++b) {
            if (rooted || b != chain.rbegin()) matrices[*b] = product(matrices[*b], matrices[b == chain.rbegin() ? parent : *(b - 1)]);
            state[*b] = kDone;
        }
        chain.clear();
    }
}

// The bone matrices of pose f, by bone: those of every group's frame f
// (group 0's in the files seen), the identity for a bone without one, each
// composed with its parents'. Returns false when the pose has none, and
// nothing moves.
bool matricesOf(const TMDL7Model& model, uint32_t f, std::vector<Matrix>& matrices)
{
    matrices.assign(model.Bones.Count(), kIdentity);
    bool any = false;
    for (const MDL7Group& g : model.Groups) {
        if (f >= g.Frames.size()) continue;
        const MDL7Records& list = g.Frames[f].BoneMatrices;
        for (std::size_t k = 0; k < list.Count(); ++k) {
            const uint16_t bone = mdl7::U16At(list[k] + mdl7::kMatrixBoneAt);
            if (bone >= matrices.size()) continue;  // names no bone: moves nothing
            for (std::size_t i = 0; i < 16; ++i) matrices[bone][i] = mdl7::F32At(list[k] + 4 * i);
            any = true;
        }
    }
    if (any) composeWithParents(model.Bones, matrices);
    return any;
}

Vec3 positionOf(const uint8_t* vertex)
{
    return {mdl7::F32At(vertex), mdl7::F32At(vertex + 4), mdl7::F32At(vertex + 8)};
}

// A vertex's normal: three floats in 26-byte records, an index into the
// table in shorter ones; zero when it has none.
Vec3 normalOf(const uint8_t* vertex, std::size_t recordSize)
{
    if (recordSize >= mdl7::kVertexNormalAt + 12)
        return {mdl7::F32At(vertex + 14), mdl7::F32At(vertex + 18), mdl7::F32At(vertex + 22)};
    if (recordSize > mdl7::kVertexNormalAt && vertex[mdl7::kVertexNormalAt] < kNormalCount) {
        const auto& n = NormalTable[vertex[mdl7::kVertexNormalAt]];
        return {n[0], n[1], n[2]};
    }
    return {0, 0, 0};
}

// The entry of the 162-entry table nearest in direction to n.
uint16_t nearestNormal(const Vec3& n)
{
    if (!(std::isfinite(n[0]) && std::isfinite(n[1]) && std::isfinite(n[2])) || (n[0] == 0 && n[1] == 0 && n[2] == 0)) return kNoNormal;
    uint16_t best = 0;
    double bestDot = -2;
    for (uint16_t i = 0; i < kNormalCount; ++i) {
        const double dot = n[0] * NormalTable[i][0] + n[1] * NormalTable[i][1] + n[2] * NormalTable[i][2];
        if (dot > bestDot) bestDot = dot, best = i;
    }
    return best;
}

// The row vector (p, w) times m: translation with w = 1, a direction with w = 0.
Vec3 transformed(const Vec3& p, const Matrix& m, double w)
{
    Vec3 out;
    for (std::size_t j = 0; j < 3; ++j) out[j] = p[0] * m[j] + p[1] * m[4 + j] + p[2] * m[8 + j] + w * m[12 + j];
    return out;
}

// Every vertex's position (and normal, when asked) in pose f: each group's
// main vertices with its frame f's vertices in their place, then moved by
// their bones; a coordinate that is not finite stands at 0.
void pose(const TMDL7Model& model, const MDL7Bases& bases, const Rig& rig, uint32_t f, std::vector<Matrix>& matrices,
          std::vector<Vec3>& positions, std::vector<Vec3>* normals)
{
    for (std::size_t g = 0; g < model.Groups.size(); ++g) {
        const MDL7Group& group = model.Groups[g];
        const uint32_t base = bases.Vertices[g];
        for (uint32_t v = 0; v < group.MainVertices.Count(); ++v) {
            positions[base + v] = positionOf(group.MainVertices[v]);
            if (normals) (*normals)[base + v] = normalOf(group.MainVertices[v], group.MainVertices.RecordSize);
        }
        if (f >= group.Frames.size()) continue;  // a group of fewer frames stays in its base pose
        const MDL7Records& replaced = group.Frames[f].Vertices;
        for (std::size_t k = 0; k < replaced.Count(); ++k) {
            const uint32_t v = base + mdl7::U16At(replaced[k] + mdl7::kVertexBoneAt);  // checked by the loader
            positions[v] = positionOf(replaced[k]);
            if (normals) (*normals)[v] = normalOf(replaced[k], replaced.RecordSize);
        }
    }
    // Row vectors times the composed matrices: each takes a vertex from the
    // base pose straight to this pose, so no bind pose is undone.
    if (!rig.Influences.empty() && matricesOf(model, f, matrices)) {
        for (std::size_t v = 0; v + 1 < rig.Start.size(); ++v) {
            if (rig.Start[v] == rig.Start[v + 1]) continue;
            Vec3 p{0, 0, 0}, n{0, 0, 0};
            for (uint32_t k = rig.Start[v]; k < rig.Start[v + 1]; ++k) {
                const Influence& influence = rig.Influences[k];
                const Vec3 moved = transformed(positions[v], matrices[influence.Bone], 1.0);
                for (std::size_t a = 0; a < 3; ++a) p[a] += influence.Weight * moved[a];
                if (normals) {
                    const Vec3 turned = transformed((*normals)[v], matrices[influence.Bone], 0.0);
                    for (std::size_t a = 0; a < 3; ++a) n[a] += influence.Weight * turned[a];
                }
            }
            positions[v] = p;
            if (normals) (*normals)[v] = n;
        }
    }
    for (Vec3& p : positions)
        for (double& c : p)
            if (!std::isfinite(c)) c = 0;
}

// One transform for every pose: offset at the box's least corner, 65535
// steps over its extent on each axis (scale 1 on an axis of no extent).
FrameTransform transformOver(const Vec3& low, const Vec3& high)
{
    FrameTransform t;
    for (std::size_t a = 0; a < 3; ++a) {
        if (!(low[a] <= high[a])) continue;  // no vertices: the default transform
        const auto scale = float((high[a] - low[a]) / 65535.0);
        t.Scale[a] = scale > 0 && std::isfinite(scale) ? scale : 1.0f;
        t.Offset[a] = float(low[a]);
    }
    return t;
}

PackedPosition packed(const Vec3& p, const FrameTransform& t)
{
    PackedPosition out;
    for (std::size_t a = 0; a < 3; ++a) {
        const double step = std::round((p[a] - double(t.Offset[a])) / double(t.Scale[a]));
        out[a] = uint16_t(std::clamp(step, 0.0, 65535.0));
    }
    return out;
}

const MDL7Skin* firstPicture(const TMDL7Model& model)
{
    for (const MDL7Group& g : model.Groups)
        for (const MDL7Skin& skin : g.Skins)
            if (skin.IsPicture()) return &skin;
    return nullptr;
}

// Every skin of the model in one list, the list a triangle's material names
// (the editor writes them all into group 0; later groups' follow).
std::vector<const MDL7Skin*> skinList(const TMDL7Model& model)
{
    std::vector<const MDL7Skin*> skins;
    for (const MDL7Group& g : model.Groups)
        for (const MDL7Skin& skin : g.Skins) skins.push_back(&skin);
    return skins;
}

// A skin as drawn: its pixels; a material alone (no picture, no file named)
// as one texel of its diffuse colour; else none (an external file's picture
// is found by its name, SkinNamesOf).
MeshSkin drawnSkin(const MDL7Skin& skin)
{
    if (skin.IsPicture()) return DecodeSkinPixels(skin.Kind() & 0x7, skin.Width, skin.Height, skin.Data);
    MeshSkin colour;
    if (skin.Kind() == 7 || skin.Material.size() < 16) return colour;
    colour.Width = colour.Height = 1;
    colour.Pixels.resize(4);
    for (std::size_t c = 0; c < 4; ++c) {
        const float value = mdl7::F32At(skin.Material.data() + 4 * c);
        colour.Pixels[c] = uint8_t(std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) * 255.0f + 0.5f : 0.0f);
    }
    colour.Pixels[3] = 255;
    return colour;
}

// Texture coordinates in texels of the first picture skin, triangles and parts.
void addSurface(const TMDL7Model& model, const MDL7Bases& bases, const MeshOptions& options, AnimatedMesh& mesh)
{
    const MDL7Skin* picture = firstPicture(model);
    const uint32_t texCoordCount = bases.TexCoords.back();
    mesh.SkinWidth = picture ? picture->Width : kNominalSkinSize;
    mesh.SkinHeight = picture ? picture->Height : kNominalSkinSize;
    // Without coordinates there is no texture to measure or draw.
    if (texCoordCount == 0) mesh.SkinWidth = mesh.SkinHeight = 0;
    // Without a picture the coordinates' size is a stand-in, which a skin
    // found beside the model may set.
    mesh.SkinSizeNominal = !picture && texCoordCount > 0;
    const std::vector<const MDL7Skin*> skins = skinList(model);
    if (options.Skin)
        for (const MDL7Skin* skin : skins) mesh.Skins.push_back(drawnSkin(*skin));
    mesh.TexCoords.reserve(texCoordCount + 1);
    mesh.Triangles.reserve(bases.Triangles.back());
    mesh.VertexPart.reserve(mesh.VertexCount);
    bool namesNone = false;
    for (std::size_t g = 0; g < model.Groups.size(); ++g) {
        const MDL7Group& group = model.Groups[g];
        for (std::size_t k = 0; k < group.TexCoords.Count(); ++k) {
            const float u = float(double(mdl7::F32At(group.TexCoords[k])) * mesh.SkinWidth);
            const float v = float(double(mdl7::F32At(group.TexCoords[k] + 4)) * mesh.SkinHeight);
            mesh.TexCoords.push_back({std::isfinite(u) ? u : 0.0f, std::isfinite(v) ? v : 0.0f});
        }
        for (std::size_t t = 0; t < group.Triangles.Count(); ++t) {
            MeshTriangle tri;
            for (std::size_t j = 0; j < 3; ++j) {
                tri.Vertex[j] = bases.Vertices[g] + mdl7::U16At(group.Triangles[t] + 2 * j);
                const uint16_t s = mdl7::U16At(group.Triangles[t] + mdl7::kTriangleTexAt + 2 * j);
                namesNone = namesNone || s == kMDL7None;
                tri.TexCoord[j] = s == kMDL7None ? texCoordCount : bases.TexCoords[g] + s;
            }
            mesh.Triangles.push_back(tri);
            // A triangle names its skin in the one list (-1: none, drawn
            // untextured as a slot past the list); a 12-byte one has the first.
            if (options.Skin) {
                const int32_t material = group.Triangles.RecordSize >= 16 ? mdl7::I32At(group.Triangles[t] + 12) : 0;
                mesh.TriangleSkin.push_back(material >= 0 && std::size_t(material) < skins.size() ? uint32_t(material) : uint32_t(skins.size()));
            }
        }
        mesh.VertexPart.insert(mesh.VertexPart.end(), group.MainVertices.Count(), uint32_t(g));
    }
    // Corners that name no coordinate share one past the groups' lists.
    if (namesNone) mesh.TexCoords.push_back({0.0f, 0.0f});
}

}  // namespace

AnimatedMesh MeshOf(const TMDL7Model& model, const MeshOptions& options)
{
    AnimatedMesh mesh;
    const MDL7Bases bases = BasesOf(model);
    const uint32_t poses = model.PoseCount();
    const FrameSelection frames = SelectFrames(options, poses);
    mesh.FrameCount = frames.Count;
    mesh.VertexCount = bases.Vertices.back();
    mesh.VertexMajor = options.VertexMajor;
    mesh.NormalCode = NormalCoding::Table162;
    if (options.Names)
        for (uint32_t f = 0; f < frames.Count; ++f) {
            const auto named = std::find_if(model.Groups.begin(), model.Groups.end(), [&](const MDL7Group& g) { return frames[f] < g.Frames.size(); });
            const std::array<char, 16>* name = named == model.Groups.end() ? nullptr : &named->Frames[frames[f]].Name;
            mesh.FrameNames.push_back(name ? std::string(name->data(), std::find(name->begin(), name->end(), '\0')) : std::string());
        }
    addSurface(model, bases, options, mesh);

    // 1. the box of every pose, whichever are viewed: a pose is packed alike
    // in a view of it alone and in a view of them all
    const Rig rig = rigOf(model, bases);
    std::vector<Matrix> matrices;
    std::vector<Vec3> positions(mesh.VertexCount), normals;
    Vec3 low{INFINITY, INFINITY, INFINITY}, high{-INFINITY, -INFINITY, -INFINITY};
    for (uint32_t f = 0; f < poses; ++f) {
        pose(model, bases, rig, f, matrices, positions, nullptr);
        for (const Vec3& p : positions)
            for (std::size_t a = 0; a < 3; ++a) low[a] = std::min(low[a], p[a]), high[a] = std::max(high[a], p[a]);
    }
    const FrameTransform transform = transformOver(low, high);
    mesh.Transforms.assign(1, transform);

    // 2. the viewed poses, packed
    const std::size_t entries = std::size_t(mesh.VertexCount) * mesh.FrameCount;
    mesh.Positions.resize(entries);
    if (options.Normals) {
        mesh.Normals.resize(entries);
        normals.resize(mesh.VertexCount);
    }
    for (uint32_t f = 0; f < mesh.FrameCount; ++f) {
        pose(model, bases, rig, frames[f], matrices, positions, options.Normals ? &normals : nullptr);
        for (uint32_t v = 0; v < mesh.VertexCount; ++v) {
            mesh.Positions[mesh.At(v, f)] = packed(positions[v], transform);
            if (options.Normals) mesh.Normals[mesh.At(v, f)] = nearestNormal(normals[v]);
        }
    }
    assert(mesh.IsConsistent());
    return mesh;
}

std::vector<SkinSlot> SkinNamesOf(const TMDL7Model& model)
{
    // A slot per skin, as the view lists them; only a skin of an external
    // file names one to look for.
    std::vector<SkinSlot> slots;
    for (const MDL7Skin* skin : skinList(model)) {
        SkinSlot& slot = slots.emplace_back();
        const auto& head = skin->HeadRest;
        slot.Part.assign(head.begin(), std::find(head.begin(), head.end(), uint8_t(0)));
        if (skin->Kind() == 7) slot.Names.emplace_back(skin->Data.begin(), std::find(skin->Data.begin(), skin->Data.end(), uint8_t(0)));
    }
    return slots;
}
