#pragma once
// Split seams: border vertices at one place in every frame, the two (or
// more) sides of one seam, as formats whose texture coordinates belong to
// vertices (MD3) make them and as any model may have them. Found here,
// welded into one vertex where asked, and the survivors of a collapsed view
// listed in the records of the view it came from.

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "model/AnimatedMesh.h"

// No vertex, group, side or record: the collapses' tables use it alike.
inline constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();

// Groups of the listed vertices (listed[v] != 0) that stand at the same
// place in every frame, within one part: GroupOf[v] is v's group or kNone,
// and group g's members are Members[Start[g] .. Start[g + 1]), ascending.
struct PlaceGroups {
    std::vector<uint32_t> GroupOf;
    std::vector<uint32_t> Start;
    std::vector<uint32_t> Members;

    uint32_t Count() const { return Start.empty() ? 0 : uint32_t(Start.size() - 1); }
    std::span<const uint32_t> Of(uint32_t group) const
    {
        return std::span<const uint32_t>(Members).subspan(Start[group], Start[group + 1] - Start[group]);
    }
};

// The listed vertices (listed[v] != 0) grouped by place; a group has two
// members at least.
PlaceGroups GroupSamePlaces(const AnimatedMesh& mesh, const std::vector<uint8_t>& listed);

// The records that survive when live (corners in mesh's numbering) are the
// triangles left, source[i] being where live[i] came from: vertices and
// texture coordinates no triangle uses any more go, those no triangle used
// in the input stay; coordinates that belong to vertices go and stay with them.
void ListSurvivors(const AnimatedMesh& mesh, const std::vector<MeshTriangle>& live, std::vector<uint32_t>&& source, MeshSurvivors& out);

// A view whose texture coordinates belong to vertices one each (MD3) splits
// every texture seam into records of its own: border vertices at one place
// in every frame, each with its own coordinate. Welded into one vertex whose
// corners choose among those coordinates, as MDL5's and MD2's corners do, a
// seam is no border any more: it shortens along itself, and where three
// charts meet, the place may go once seams may be crossed, at its texture's
// cost, where the records alone would stay locked or open a crack. Sides that
// share a coordinate (split for their normals) stay apart: a corner moved
// between them would change its shading.
struct WeldedView {
    AnimatedMesh Mesh;              // positions, triangles and coordinates only
    std::vector<uint32_t> OwnerOf;  // for each texture coordinate: the view's vertex that holds it
};

// Welds mesh's split seams into out; false (out unusable) when mesh's
// coordinates are not one per vertex, each its own, or no seam welds.
bool WeldSplitSeams(const AnimatedMesh& mesh, WeldedView& out);

// The welded view's survivors in the view's own records: each corner is the
// vertex that holds the coordinate it shows.
void UnweldSurvivors(const AnimatedMesh& mesh, const WeldedView& welded, MeshSurvivors&& fromWelded, MeshSurvivors& out);
