#pragma once
// Skins looked for in the file system: the SkinLookup of the command line and
// the window, and the search for a model read from a file.

#include <cstdint>
#include <string>

#include "model/Skins.h"

class TAnyModel;

// Files larger than this are passed over: no picture of kMaxSkinPixels takes as much.
inline constexpr uintmax_t kMaxSkinFileBytes = uintmax_t(128) << 20;

// Looks paths up in the file system: the bytes of the regular file at a
// path, or nothing. A path that is not there is matched, folder by folder,
// to names that differ from it only in case (a model made where case does
// not count names "Skin.TGA" for "skin.tga"); the folders' listings are kept
// for the lookup's later calls. Never throws.
SkinLookup FileSkinLookup();

// The skins a model read from modelFile names, found through FindSkins from
// the model's absolute path with FileSkinLookup.
FoundSkins FindSkinFiles(const TAnyModel& model, const std::string& modelFile);
