#include "model/AnyModel.h"

#include <cstring>

#include "model/ByteIO.h"

std::optional<ModelFormat> FormatOf(std::span<const uint8_t> Bytes)
{
    if (Bytes.size() < 4) return std::nullopt;
    const auto is = [&](const char* magic) { return std::memcmp(Bytes.data(), magic, 4) == 0; };
    if (is("MDL5")) return ModelFormat::MDL5;
    if (is("IDPO")) return ModelFormat::QuakeMDL;
    if (is("IDP2")) return ModelFormat::MD2;
    if (is("IDP3")) return ModelFormat::MD3;
    if (is("MDL7")) return ModelFormat::MDL7;
    return std::nullopt;
}

std::string FormatName(ModelFormat Format)
{
    switch (Format) {
    case ModelFormat::MDL5: return "MDL5";
    case ModelFormat::QuakeMDL: return "Quake MDL";
    case ModelFormat::MD2: return "MD2";
    case ModelFormat::MD3: return "MD3";
    case ModelFormat::MDL7: return "MDL7";
    }
    return "";
}

bool TAnyModel::LoadFromBytes(std::span<const uint8_t> Bytes)
{
    const std::optional<ModelFormat> format = FormatOf(Bytes);
    // Each reader logs through its own target, pointed at ours for the load.
    auto loadAs = [&](auto model) {
        model.LogLines = LogLines;
        const bool accepted = model.LoadFromBytes(Bytes);
        Held = std::move(model);
        return accepted;
    };
    if (!format) {
        if (LogLines) LogLines("ERROR:Unsupported model format.(This reads MDL5, MDL7, Quake MDL (IDPO), MD2 (IDP2) and MD3 (IDP3) models.)");
        return false;
    }
    switch (*format) {
    case ModelFormat::MDL5: return loadAs(TMDLModel());
    case ModelFormat::QuakeMDL: return loadAs(TQuakeModel());
    case ModelFormat::MD2: return loadAs(TMD2Model());
    case ModelFormat::MD3: return loadAs(TMD3Model());
    case ModelFormat::MDL7: return loadAs(TMDL7Model());
    }
    return false;
}

bool TAnyModel::LoadFromFile(const std::string& FileName)
{
    // MDL5 reads straight from the file, so that a large model is not held
    // twice while it loads (the file's bytes beside its records); the other
    // readers take the bytes. Anything but a regular file that opens and
    // holds a magic goes the second way, which reads it once and says why
    // it cannot.
    if (FormatOf(ReadFileStart(FileName, 4)) == ModelFormat::MDL5) {
        TMDLModel model;
        model.LogLines = LogLines;
        const bool accepted = model.LoadFromFile(FileName);
        Held = std::move(model);
        return accepted;
    }
    return LoadFromBytes(ReadWholeFile(FileName));
}

std::vector<uint8_t> TAnyModel::SaveToBytes() const
{
    return std::visit([](const auto& model) { return model.SaveToBytes(); }, Held);
}

void TAnyModel::SaveToFile(const std::string& FileName) const
{
    std::visit([&FileName](const auto& model) { WriteFileAtomically(FileName, [&model](ByteWriter& out) { model.WriteTo(out); }); },
               Held);
}

ModelFormat TAnyModel::Format() const
{
    return ModelFormat(Held.index());
}

TAnyModel::RecordCounts TAnyModel::Counts() const
{
    switch (Format()) {
    case ModelFormat::MDL5: {
        const TMDLModel& model = std::get<TMDLModel>(Held);
        return {model.Header.NumVerts, model.Header.NumTris, model.Header.NumSkinVerts, int64_t(model.Frames.size())};
    }
    case ModelFormat::QuakeMDL: {
        const TQuakeModel& model = std::get<TQuakeModel>(Held);
        return {model.Header.NumVerts, model.Header.NumTris, int64_t(model.SkinVerts.size()), int64_t(model.Frames.size())};
    }
    case ModelFormat::MD2: {
        const TMD2Model& model = std::get<TMD2Model>(Held);
        return {model.Header.NumVertices, model.Header.NumTris, model.Header.NumTexCoords, int64_t(model.Frames.size())};
    }
    case ModelFormat::MDL7: {
        const TMDL7Model& model = std::get<TMDL7Model>(Held);
        RecordCounts counts;
        for (const MDL7Group& group : model.Groups) {
            counts.Vertices += int64_t(group.MainVertices.Count());
            counts.Triangles += int64_t(group.Triangles.Count());
            counts.TexCoords += int64_t(group.TexCoords.Count());
        }
        counts.Frames = model.PoseCount();
        return counts;
    }
    case ModelFormat::MD3: break;
    }
    const TMD3Model& model = std::get<TMD3Model>(Held);
    RecordCounts counts;
    for (const TMD3Surface& surface : model.Surfaces) {
        counts.Vertices += surface.NumVerts;
        counts.Triangles += surface.NumTriangles;
        counts.TexCoords += int64_t(surface.TexCoords.size());
    }
    counts.Frames = int64_t(model.Frames.size());
    return counts;
}

std::string TAnyModel::FormatName() const
{
    return ::FormatName(Format());
}

AnimatedMesh TAnyModel::Mesh(const MeshOptions& Options) const
{
    return std::visit([&Options](const auto& model) { return MeshOf(model, Options); }, Held);
}

std::vector<SkinSlot> TAnyModel::SkinNames() const
{
    // Each format says what it names; a format added to Held (MDL7, whose
    // skins may be files named by the model) answers through its own SkinNamesOf.
    return std::visit([](const auto& model) { return SkinNamesOf(model); }, Held);
}

void TAnyModel::Keep(const MeshSurvivors& Survivors)
{
    std::visit([&Survivors](auto& model) { KeepSurvivors(model, Survivors); }, Held);
}

std::string TAnyModel::ModelInfoLine() const
{
    return std::visit([](const auto& model) { return model.ModelInfoLine(); }, Held);
}

TMDLModel* TAnyModel::MDL5()
{
    TMDLModel* model = std::get_if<TMDLModel>(&Held);
    if (model) model->LogLines = LogLines;
    return model;
}

const TMDLModel* TAnyModel::MDL5() const
{
    return std::get_if<TMDLModel>(&Held);
}
