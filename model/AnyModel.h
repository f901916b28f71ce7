#pragma once
// One model of any format this program reads, chosen by the file's first four
// bytes. Front ends that do not care which format they hold load, view, keep
// survivors and save through this class; the written pass and the window's
// other commands stay with the MDL5 model, reached through MDL5().

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "model/AnimatedMesh.h"
#include "model/formats/MD2.h"
#include "model/formats/MD3.h"
#include "model/MDLClass.h"
#include "model/formats/MDL5.h"
#include "model/formats/MDL7.h"
#include "model/formats/QuakeMDL.h"

enum class ModelFormat { MDL5, QuakeMDL, MD2, MD3, MDL7 };

// The format named by the first four bytes ("MDL5", "IDPO", "IDP2", "IDP3", "MDL7"),
// or none for anything else, a shorter buffer included.
std::optional<ModelFormat> FormatOf(std::span<const uint8_t> Bytes);
// "MDL5", "Quake MDL", "MD2", "MD3" or "MDL7".
std::string FormatName(ModelFormat Format);

class TAnyModel {
public:
    LogTarget LogLines;

    TAnyModel() = default;
    // Holds model, an MDL5 model loaded or built elsewhere.
    explicit TAnyModel(TMDLModel&& model) : Held(std::move(model)) {}

    // Loads Bytes with the reader their first four bytes name, replacing the
    // held model, with that reader's lines and result. Bytes of no known
    // format log one "ERROR:" line and keep the held model.
    bool LoadFromBytes(std::span<const uint8_t> Bytes);
    // The same from a whole file. Throws FileError when it cannot be read.
    bool LoadFromFile(const std::string& FileName);
    std::vector<uint8_t> SaveToBytes() const;
    // Writes through a temporary file that replaces FileName only once it is
    // complete on disk. Throws FileError.
    void SaveToFile(const std::string& FileName) const;

    // The counts a person reads of a model: vertices, triangles and texture
    // coordinates (MDL5's skin vertices; one per vertex in Quake MDL and MD3),
    // MD3's summed over its surfaces and MDL7's over its groups; and its frames.
    struct RecordCounts {
        int64_t Vertices = 0;
        int64_t Triangles = 0;
        int64_t TexCoords = 0;
        int64_t Frames = 0;  // as many as a view of every frame holds
    };
    RecordCounts Counts() const;

    ModelFormat Format() const;
    std::string FormatName() const;
    AnimatedMesh Mesh(const MeshOptions& Options = {}) const;
    // The skins the model names without holding them, a slot for each of the
    // view's skins (none for formats that hold theirs): model/Skins.h finds them.
    std::vector<SkinSlot> SkinNames() const;
    void Keep(const MeshSurvivors& Survivors);
    std::string ModelInfoLine() const;

    // The held MDL5 model, or nullptr when another format is held. Its log
    // goes to LogLines as it stands when this is called.
    TMDLModel* MDL5();
    const TMDLModel* MDL5() const;
    // Calls visitor with the held model as its own format's class, for what
    // only that format has (details a front end tells of it).
    template <class Visitor>
    decltype(auto) Visit(Visitor&& visitor) const
    {
        return std::visit(std::forward<Visitor>(visitor), Held);
    }

private:
    // The alternatives follow ModelFormat's order, so that index() is the format.
    std::variant<TMDLModel, TQuakeModel, TMD2Model, TMD3Model, TMDL7Model> Held;
};
