#pragma once
// Where a model's skins are found. A model names them (TAnyModel::SkinNames:
// MD2 paths, MD3 shader names per surface); a player model's part is skinned
// by a .skin file beside it ("upper_default.skin" for "upper.md3": a surface
// name and a path per line). Each named path is looked for beside the model,
// then under each folder above it by its trailing folders (a game's data
// tree: "models/players/sarge/default.tga" under whichever folder holds
// "models/"), each also with its extension swapped for another picture kind.
//
// Nothing here opens a file: every look goes through a SkinLookup the caller
// gives, a file system's (model/SkinFiles.h) for the command line and the
// window, the files dropped on it for the page. Paths use '/'.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/AnimatedMesh.h"

// The bytes of the file at path, or nothing when there is none (or it
// cannot be read).
using SkinLookup = std::function<std::optional<std::vector<uint8_t>>(const std::string& path)>;

// The entries of a .skin file: surface name and path, in file order. Lines
// without a comma and tag lines (an empty path) are left out; spaces and
// quotes around either part are dropped, and '\' becomes '/'.
std::vector<std::pair<std::string, std::string>> ParseSkinFile(std::string_view text);

// The .skin files that may skin a model at modelPath, best first: the part's
// "NAME_default.skin" beside it; for a level of detail "NAME_1.md3" (the
// game's) or "NAME_lod1.md3" (reduce --lods) also "NAME_default.skin", which
// the game uses for every level.
std::vector<std::string> SkinFileCandidates(const std::string& modelPath);

// The paths to try for a skin the model names (named: as the file gives it,
// '\' or '/', a drive letter or a leading '/' ignored), best first, each
// once: its file name beside the model; then, under each folder that holds
// the model (nearest first), its trailing folders and file name, longest
// first (at least one folder). Each path is tried as named and then with each
// other extension of kSkinImageExtensions (or each, for a name without one).
// A relative modelPath has only the folders its path names above it.
std::vector<std::string> SkinCandidates(const std::string& modelPath, const std::string& named);

struct FoundSkins {
    std::vector<MeshSkin> Skins;        // one per slot named; Width 0: none found
    std::vector<std::string> Paths;     // where each was found, as looked up; "" for none
    std::vector<std::string> Warnings;  // a line per skin not found or not readable, each said once

    // The first skin found, or nullptr.
    const MeshSkin* First() const;
};

// The skins of the slots a model at modelPath names (TAnyModel::SkinNames):
// a .skin file's path for a slot's part first, when one is found beside the
// model, then the slot's own names; for each name, the first candidate that
// is there and decodes. A picture that is there but does not decode is said
// and the next one tried. Never throws for content.
FoundSkins FindSkins(std::vector<SkinSlot> slots, const std::string& modelPath, const SkinLookup& lookup);

// Puts the skins found into a view built with MeshOptions::Skin, slot by
// slot; slots with none found stay as they were (drawn untextured).
void PutSkins(AnimatedMesh& mesh, const FoundSkins& found);
// One picture for every triangle, whatever the model names or holds.
void PutSkinEverywhere(AnimatedMesh& mesh, MeshSkin skin);
// For a view whose texels are of a nominal size (SkinSizeNominal): the size of
// the first skin found, its texture coordinates scaled to it, so that the
// measure counts texels of the skin drawn. Other views stay as they are.
void UseFoundSkinTexels(AnimatedMesh& mesh, const FoundSkins& found);
