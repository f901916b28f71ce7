#include "model/MDLClass.h"

#include <algorithm>

namespace {

// The shared rule of the three deletion operations: drop record Index, keep
// the order of the rest; an index outside the list changes nothing.
template <class Records>
void deleteRecord(Records& items, int32_t& count, int32_t index)
{
    if (index < 0 || index >= count) return;
    items.erase(items.begin() + index);
    count = int32_t(items.size());
}

}  // namespace

int SkinBytesPerPixel(int32_t SkinType)
{
    switch (SkinType) {
    case 0: return 1;
    case 2:
    case 3: return 2;
    case 4: return 3;
    case 5: return 4;
    default: return 0;
    }
}

bool MDL5Header::HasMDL5Ident() const
{
    return Ident == std::array<char, 4>{'M', 'D', 'L', '5'};
}

// ---- element classes ----

void TMDLSkinVerts::DeleteSkinVert(int32_t Index)
{
    deleteRecord(Items, Count, Index);
}

void TMDLTriangles::DeleteTriangle(int32_t Index)
{
    deleteRecord(Items, Count, Index);
}

void TMDLFrame::DeleteVertex(int32_t Index)
{
    deleteRecord(Items, Count, Index);
}

// ---- TMDLModel ----

void TMDLModel::Log(const std::string& Text) const
{
    if (LogLines) LogLines(Text);
}

void TMDLModel::ShowProgress(const std::string& Text) const
{
    if (ProgressBar) ProgressBar(Text);
}

std::string TMDLModel::ModelInfoLine() const
{
    return "MODEL INFO: " + std::to_string(Header.NumVerts) + "Vertices, " + std::to_string(Header.NumTris) +
           "Faces, " + std::to_string(Header.NumSkinVerts) + "Skin Vertices.";
}
