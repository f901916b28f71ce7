#include "tests/support/ReferenceReduce.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "model/MDLClass.h"
#include "model/NormalTable.h"
#include "reduce/Progress.h"
#include "reduce/Vector.h"

namespace {

void progress(TMDLModel& model, int32_t index, int32_t count, int phase)
{
    if (ProgressDraw() == 0) model.ShowProgress(ProgressText(index, count, phase));
}

// Phase 2, record by record: each skin vertex no triangle uses is deleted
// and every index above it lowered. Returns how many went.
int32_t deleteUnusedSkinVerts(TMDLModel& model)
{
    int32_t skinVerticesCut = 0;
    const int32_t skinCount = model.SkinVerts.Count;
    for (int32_t s = 0; s < skinCount; ++s) model.SkinVerts.Items[s].Used = 0;
    for (const MDLTriangle& tri : model.Triangles.Items)
        for (uint32_t index : tri.SkinIndex) model.SkinVerts.Items[index].Used = 1;
    int32_t s = 0;
    while (model.SkinVerts.Count > s) {
        progress(model, s, model.SkinVerts.Count, 2);
        if (model.SkinVerts.Items[s].Used != 0) {
            ++s;
            continue;
        }
        model.SkinVerts.DeleteSkinVert(s);
        const int32_t count = model.Triangles.Count;
        for (int32_t t = 0; t < count; ++t)
            for (uint32_t& index : model.Triangles.Items[t].SkinIndex)
                if (index > uint32_t(s)) --index;
        ++skinVerticesCut;
    }
    return skinVerticesCut;
}

// The counts lowered by what was cut, not recounted, and the two lines.
void lowerCountsAndLog(TMDLModel& model, int32_t verticesCut, int32_t facesCut, int32_t skinVerticesCut)
{
    model.Header.NumVerts -= verticesCut;
    model.Header.NumTris -= facesCut;
    model.Header.NumSkinVerts -= skinVerticesCut;
    model.Log("CUT: " + std::to_string(verticesCut) + "Vertices, " + std::to_string(facesCut) + "Faces, " +
              std::to_string(skinVerticesCut) + "Skin Vertices.");
    model.Log("MODEL INFO: " + std::to_string(model.Header.NumVerts) + "Vertices, " + std::to_string(model.Header.NumTris) +
              "Faces, " + std::to_string(model.Header.NumSkinVerts) + "Skin Vertices.");
}

}  // namespace

void ReferenceReduce(TMDLModel& model, float NormalLimit, float UVLimit)
{
    int32_t verticesCut = 0;
    int32_t facesCut = 0;
    auto& tris = model.Triangles;
    auto& skins = model.SkinVerts;

    // Phase 1; a model without frames has no vertices to walk.
    int32_t v = 0;
    while (!model.Frames.empty() && model.Frames[0].Count > v) {
        progress(model, v, model.Frames[0].Count, 1);
        std::vector<int32_t> fan;
        std::vector<int32_t> neighbours;
        std::vector<int32_t> candidates;
        uint16_t refU = 0;
        uint16_t refV = 0;
        double spread = 0.0;

        const int32_t triCount = tris.Count;
        for (int32_t t = 0; t < triCount; ++t) {
            const MDLTriangle& tri = tris.Items[t];
            if (tri.VertIndex[0] != uint32_t(v) && tri.VertIndex[1] != uint32_t(v) && tri.VertIndex[2] != uint32_t(v)) continue;
            for (int j = 0; j < 3; ++j) {
                const SkinVert& skin = skins.Items[tri.SkinIndex[j]];
                if (refU == 0 && refV == 0) {
                    refU = skin.U;
                    refV = skin.V;
                } else {
                    const double d = Distance2D(refU, refV, skin.U, skin.V);
                    if (d > spread) spread = d;
                }
            }
            if (spread > double(UVLimit)) {
                fan.clear();
                break;
            }
            for (int j = 0; j < 3; ++j)
                if (tri.VertIndex[j] != uint32_t(v)) neighbours.push_back(int32_t(tri.VertIndex[j]));
            fan.push_back(t);
        }
        if (fan.size() < 3 || neighbours.size() % 2 != 0) {
            ++v;
            continue;
        }
        std::sort(neighbours.begin(), neighbours.end());
        for (std::size_t k = 0; k + 2 <= neighbours.size(); k += 2) {
            if (neighbours[k] != neighbours[k + 1]) {
                candidates.clear();
                break;
            }
            candidates.push_back(neighbours[k]);
        }
        if (candidates.empty()) {
            ++v;
            continue;
        }

        double targetDistance = 2147483647.0;
        int32_t target = -1;
        const std::size_t candidateCount = candidates.size();
        for (std::size_t c = 0; c < candidateCount; ++c) {
            const int32_t w = candidates[c];
            const FrameVert& pv = model.Frames[0].Items[v];
            const FrameVert& pw = model.Frames[0].Items[w];
            Vec3 normalV;
            Vec3 normalW;
            Vec3FromArray(NormalTable[pw.NormalIndex], normalW);
            Vec3FromArray(NormalTable[pv.NormalIndex], normalV);
            if (std::fabs(DotProduct(normalV, normalW)) < double(NormalLimit)) {
                candidates.clear();
                break;
            }
            Vec3 posV;
            Vec3 posW;
            SetVec3(posV, float(pv.X), float(pv.Y), float(pv.Z));
            SetVec3(posW, float(pw.X), float(pw.Y), float(pw.Z));
            const double d = Distance3D(posV, posW);
            if (d < targetDistance) {
                target = w;
                targetDistance = d;
            }
        }
        if (candidates.empty()) {
            ++v;
            continue;
        }

        uint32_t targetSkin = 0;
        const std::size_t fanLength = fan.size();
        for (std::size_t p = 0; p < fanLength; ++p) {
            const MDLTriangle& tri = tris.Items[fan[p]];
            for (int j = 0; j < 3; ++j) {
                if (tri.VertIndex[j] != uint32_t(target)) continue;
                targetSkin = tri.SkinIndex[j];
                tris.DeleteTriangle(fan[p]);
                for (std::size_t q = p; q < fanLength; ++q)
                    if (fan[q] > fan[p]) --fan[q];
                fan[p] = -1;
                ++facesCut;
                break;
            }
        }
        for (int32_t t : fan) {
            if (t == -1) continue;
            MDLTriangle& tri = tris.Items[t];
            for (int j = 0; j < 3; ++j) {
                if (tri.VertIndex[j] != uint32_t(v)) continue;
                tri.VertIndex[j] = uint32_t(target);
                tri.SkinIndex[j] = targetSkin;
            }
        }
        for (TMDLFrame& frame : model.Frames) frame.DeleteVertex(v);
        const int32_t count = tris.Count;
        for (int32_t t = 0; t < count; ++t)
            for (uint32_t& index : tris.Items[t].VertIndex)
                if (index > uint32_t(v)) --index;
        ++verticesCut;
    }

    const int32_t skinVerticesCut = deleteUnusedSkinVerts(model);

    lowerCountsAndLog(model, verticesCut, facesCut, skinVerticesCut);
}
