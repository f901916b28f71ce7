#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "model/AnyModel.h"
#include "model/SkinFiles.h"
#include "tests/support/MD3Builder.h"
#include "tests/support/Pictures.h"
#include "tests/support/TestFiles.h"

namespace {

// A picture of one colour, w x h, in the given kind.
std::vector<uint8_t> plainPicture(PictureKind kind, int width, int height, uint8_t red)
{
    std::vector<uint8_t> rgba;
    for (int i = 0; i < width * height; ++i) rgba.insert(rgba.end(), {red, 40, 50, 255});
    return EncodePicture(kind, width, height, rgba);
}

void writeUnder(const ScratchDir& dir, const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(dir.File(path)).parent_path());
    WriteFile(dir.File(path), bytes);
}

}  // namespace

TEST(Skins, NamedPathsAreFoundBesideUpTheDataTreeUnderAnyKindAndCase)
{
    // A game's data tree in a private folder:
    //   base/models/players/p/   upper.md3 (the model), beside.tga
    //   base/models/shared/      tree.pcx, swap.png, Case.TGA, broken.tga (no picture), fallback.bmp
    ScratchDir dir;
    const std::string model = dir.File("base/models/players/p/upper.md3");
    writeUnder(dir, "base/models/players/p/beside.tga", plainPicture(PictureKind::TGA, 4, 4, 10));
    writeUnder(dir, "base/models/shared/tree.pcx", plainPicture(PictureKind::PCX8, 8, 2, 20));
    writeUnder(dir, "base/models/shared/swap.png", plainPicture(PictureKind::PNG, 2, 8, 30));
    writeUnder(dir, "base/models/shared/Case.TGA", plainPicture(PictureKind::TGARunLengths, 16, 16, 40));
    writeUnder(dir, "base/models/shared/broken.tga", {1, 2, 3});
    writeUnder(dir, "base/models/shared/fallback.bmp", plainPicture(PictureKind::BMP, 3, 3, 50));

    struct Row {
        std::vector<std::string> Names;  // one slot's names, best first
        std::string Found;               // where, under dir; "" for nowhere
        int Red;
        std::string Warning;             // a part of the one warning line; "" for none
    };
    const std::vector<Row> rows = {
        {{"C:\\q3\\textures\\beside.tga"}, "base/models/players/p/beside.tga", 10, ""},
        {{"models/shared/tree.pcx"}, "base/models/shared/tree.pcx", 20, ""},
        {{"models/shared/tree.tga"}, "base/models/shared/tree.pcx", 20, ""},  // the other kind's extension
        {{"models/shared/swap"}, "base/models/shared/swap.png", 30, ""},      // no extension at all
        {{"MODELS/shared/case.tga"}, "base/models/shared/case.tga", 40, ""},   // case does not count; the path as looked up
        {{"models/shared/broken.tga", "models/shared/fallback.tga"}, "base/models/shared/fallback.bmp", 50,
         "broken.tga: not a picture of a kind read here"},
        {{"models/elsewhere/gone.tga"}, "", 0, "no skin \"models/elsewhere/gone.tga\" found"},
    };
    for (const Row& row : rows) {
        const FoundSkins found = FindSkins({SkinSlot{"", row.Names}}, model, FileSkinLookup());
        ASSERT_EQ(found.Skins.size(), 1u);
        EXPECT_EQ(found.Paths[0], row.Found.empty() ? "" : dir.File(row.Found)) << row.Names.front();
        EXPECT_EQ(found.Skins[0].Width > 0 ? found.Skins[0].Pixels[0] : 0, row.Red) << row.Names.front();
        ASSERT_EQ(found.Warnings.size(), row.Warning.empty() ? 0u : 1u) << row.Names.front();
        if (!row.Warning.empty()) {
            EXPECT_NE(found.Warnings[0].find(row.Warning), std::string::npos) << found.Warnings[0];
        }
    }
    // The walk up stops at the model's own folders: a model elsewhere finds nothing of this tree.
    const FoundSkins outside = FindSkins({SkinSlot{"", {"models/shared/tree.pcx"}}}, dir.File("other/upper.md3"), FileSkinLookup());
    EXPECT_EQ(outside.Skins[0].Width, 0);
}

TEST(Skins, SkinFileGivesEachSurfaceItsPictureBeforeTheShaders)
{
    ScratchDir dir;
    TAnyModel model;
    ASSERT_TRUE(model.LoadFromBytes(MakeTwoSurfaceMD3("models/p/shader_left.tga", "models/p/missing.tga").SaveToBytes()));
    writeUnder(dir, "models/p/red.tga", plainPicture(PictureKind::TGA, 4, 2, 200));
    writeUnder(dir, "models/p/shader_left.tga", plainPicture(PictureKind::TGA, 2, 2, 99));
    const std::string skinFile = "\"tag_head\",\r\nLEFT , models\\p\\red.tga\r\nno comma here\nright,models/p/absent.tga\n";
    writeUnder(dir, "models/p/upper_default.skin", std::vector<uint8_t>(skinFile.begin(), skinFile.end()));
    EXPECT_EQ(ParseSkinFile(skinFile),
              (std::vector<std::pair<std::string, std::string>>{{"LEFT", "models/p/red.tga"}, {"right", "models/p/absent.tga"}}));

    // "upper_lod1" is a level of detail of "upper": the same .skin file.
    EXPECT_EQ(SkinFileCandidates("m/head_1.md3"), (std::vector<std::string>{"m/head_1_default.skin", "m/head_default.skin"}));
    const FoundSkins found = FindSkins(model.SkinNames(), dir.File("models/p/upper_lod1.md3"), FileSkinLookup());
    ASSERT_EQ(found.Skins.size(), 2u);
    EXPECT_EQ(found.Paths[0], dir.File("models/p/red.tga"));  // the .skin file's, not the shader's
    EXPECT_EQ(found.Skins[0].Width, 4);
    EXPECT_EQ(found.Skins[1].Width, 0);
    ASSERT_EQ(found.Warnings.size(), 1u);
    EXPECT_NE(found.Warnings[0].find("\"models/p/absent.tga\" found for surface \"right\""), std::string::npos) << found.Warnings[0];
}
