#pragma once
// stb_image behind two calls, for model/Image.cpp: the library's code is
// compiled in model/StbImage.cpp alone, under flags of its own.

#include <cstdint>
#include <span>
#include <string>

#include "model/AnimatedMesh.h"

// The size a picture's header gives, or stb_image's reason why it reads none.
struct StbHeader {
    int Width = 0;
    int Height = 0;
    std::string Error;
};
StbHeader StbReadHeader(std::span<const uint8_t> bytes);

// The picture as RGBA, or stb_image's reason. PastEnd: the decoder asked
// for bytes past the end (from memory it would have read zeros there and
// taken a picture cut short for a whole one); its decoders never do for a
// whole picture.
struct StbPicture {
    MeshSkin Picture;
    bool PastEnd = false;
    std::string Error;
};
StbPicture StbDecode(std::span<const uint8_t> bytes);
