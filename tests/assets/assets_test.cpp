// The face's artwork as the program loads it, in a real raylib window on a
// private X server, and the generators that reproduce what is committed.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include "raylib.h"
#include "rlgl.h"
#include "scene/scene.h"
#include "tools/harness/desktop.h"

namespace fs = std::filesystem;

namespace {

desk::Display display;

// One hidden window for the whole binary.
struct Window : ::testing::Environment {
    void SetUp() override
    {
        if (chdir(desk::sourceDir().c_str()) != 0) std::abort();   // graphics/ is found from here
        display = desk::startDisplay(1024, 1024);
        setenv("DISPLAY", display.name().c_str(), 1), SetTraceLogLevel(LOG_WARNING), SetConfigFlags(FLAG_WINDOW_HIDDEN);
        InitWindow(800, 800, "assets test"), loadSceneAssets();
    }
    // The window stays open until the process ends: closing it unloads the
    // GL driver, which would leave its own allocations looking leaked.
    void TearDown() override { desk::stopDisplay(display); }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Window);

}  // namespace

TEST(Assets, ShaderLoadsAndOnlyTheFontAtlasesAreFreed)
{
    // A slot the model lacks gets no texture (AddressSanitizer watches the write).
    Model jack = loadModelTextured("graphics/jack.glb", 1, TEX_KNOB);
    EXPECT_EQ(jack.materialCount, 1);
    UnloadModel(jack);
    // raylib falls back to its own shader when ours fails to compile or link.
    EXPECT_TRUE(outlineShader.id > 0 && outlineShader.id != rlGetShaderIdDefault());
    // Only the atlases go: the tables are program data, and freeing them aborts.
    unloadSceneAssets();
    EXPECT_TRUE(labelFont.glyphs == nullptr && titleFont.recs == nullptr);
    loadSceneAssets();  // the later tests draw with them
}

TEST(Assets, OutlinePassDarkensEdgesOnly)
{
    // A pale picture with a mid-grey block, and a copy with the outline pass
    // drawn over it: the block's rim darkens, flat areas stay as they were.
    RenderTexture2D pic = LoadRenderTexture(200, 200), lined = LoadRenderTexture(200, 200);
    BeginTextureMode(pic), ClearBackground({245, 245, 245, 255}), DrawRectangle(60, 60, 80, 80, {150, 170, 140, 255});
    EndTextureMode(), BeginTextureMode(lined), DrawTextureRec(pic.texture, {0, 0, 200, 200}, {0, 0}, WHITE);
    BeginShaderMode(outlineShader), DrawTextureRec(pic.texture, {0, 0, 200, 200}, {0, 0}, WHITE), EndShaderMode(), EndTextureMode();
    Image a = LoadImageFromTexture(pic.texture), b = LoadImageFromTexture(lined.texture);
    for (Vector2 p : {Vector2{20, 20}, Vector2{100, 100}, Vector2{180, 100}})
        EXPECT_EQ(ColorToInt(GetImageColor(a, p.x, p.y)) | 0xff, ColorToInt(GetImageColor(b, p.x, p.y)) | 0xff) << p.x << "," << p.y;
    int darker = 0;
    for (int y = 70; y < 130; y++)
        for (int x : {59, 60, 139, 140}) darker += GetImageColor(b, x, y).g + 40 < GetImageColor(a, x, y).g;
    EXPECT_GT(darker, 100);
    UnloadImage(a), UnloadImage(b), UnloadRenderTexture(pic), UnloadRenderTexture(lined);
}

TEST(Assets, MissingGraphicsStopTheProgramWithANamedList)
{
    std::string dir = desk::tempDir("assets-missing");
    desk::Process p = desk::spawn({desk::mirlPath()}, {display.env()}, dir, dir + "/out.txt");
    ASSERT_TRUE(desk::waitExit(p, 30) && p.exitCode == 1) << p.exitCode;
    std::string out = desk::readFile(dir + "/out.txt"), installed = fs::path(desk::mirlPath()).parent_path().parent_path().string();
    for (const char *name : {"graphics/knob.png", "graphics/mirl.png", "graphics/knob.glb", "graphics/key-end.glb",
                             "graphics/plug-inserted.glb", "graphics/sobel.fs", "folder that holds graphics/"})
        EXPECT_NE(out.find(name), std::string::npos) << name << "\n" << out;
    // Both places are named: here, and the installed folder beside the program.
    EXPECT_NE(out.find("\"graphics/key-a.glb\" nor \"" + installed + "/share/mirl/graphics/key-a.glb\""), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 21) << "one line for each of the 21 files";
    fs::remove_all(dir);
}

TEST(Assets, GeneratorsReproduceTheCommittedFiles)
{
    std::string out = desk::tempDir("assets-regen"), src = desk::sourceDir();
    ASSERT_EQ(desk::run({std::string(MIRL_BINARY_DIR) + "/tools/assetgen/mirl-assetgen", out}), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(out + "/graphics"), fs::directory_iterator()), 22);
    for (const auto &e : fs::directory_iterator(out + "/graphics"))
        EXPECT_EQ(desk::readFile(e.path().string()), desk::readFile(src + "/graphics/" + e.path().filename().string()))
            << e.path().filename();
    EXPECT_EQ(desk::readFile(out + "/scene/font_data.cpp"), desk::readFile(src + "/scene/font_data.cpp"));
    fs::remove_all(out);
}
