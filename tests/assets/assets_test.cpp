// The face's artwork as the program loads it, in a real raylib window on a
// private X server, and the generators that reproduce what is committed.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include "raylib.h"
#include "raymath.h"
#include "rlgl.h"
#include "scene/scene.h"
#include "tools/harness/desktop.h"

extern const int labelAtlasPackedSize, titleAtlasPackedSize;
extern const unsigned char labelAtlasPacked[], titleAtlasPacked[];

namespace fs = std::filesystem;

namespace {

desk::Display display;
int windowSide = 800;

// One window for the whole binary, 800 across unless MIRL_TEST_SIDE says otherwise.
class Window : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (const char *side = std::getenv("MIRL_TEST_SIDE")) windowSide = std::atoi(side);
        if (chdir(desk::sourceDir().c_str()) != 0) std::abort();   // graphics/ is found from here
        display = desk::startDisplay(1024, 1024);
        setenv("DISPLAY", display.name().c_str(), 1);
        SetTraceLogLevel(LOG_WARNING);
        SetConfigFlags(FLAG_WINDOW_HIDDEN);
        InitWindow(windowSide, windowSide, "assets test");
        loadSceneAssets();
    }
    // The window stays open until the process ends: closing it unloads the
    // GL driver, which would leave its own allocations looking leaked.
    void TearDown() override { desk::stopDisplay(display); }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Window);

// Where a control stands on the face with its hit box, as the layout makes them.
BoundingBox placedBox(const Control &c)
{
    float k = c.kind == ControlKind::Key ? 0.5f : c.kind == ControlKind::Knob ? 1 : 1.6f;
    BoundingBox b = GetModelBoundingBox(sceneModels[c.kind == ControlKind::Jack ? MODEL_JACK : c.variant]);
    Vector3 p = Vector3Add(c.position, {panelTable[c.panel].position.x, 0, panelTable[c.panel].position.z});
    return {Vector3Add(Vector3Scale(b.min, k), p), Vector3Add(Vector3Scale(b.max, k), p)};
}

}  // namespace

TEST(Assets, ModelsTexturesTargetsAndShaderLoad)
{
    // Per model: the material slot its texture goes on, that texture, and its
    // width across the face (keys are drawn at half this size).
    const struct { int slot, tex; float width; } models[MODEL_COUNT] = {
        {1, TEX_KNOB, 1.32f}, {1, TEX_KNOB_ALT, 1.32f}, {1, TEX_KNOB, 0.92f}, {0, TEX_JACK, 0.6f},
        {0, TEX_PLUG, 0.54f}, {0, TEX_PLUG, 0.54f}, {1, TEX_KNOB, 1.1f}, {1, TEX_KNOB, 1.9f},
        {1, TEX_KNOB, 1.9f}, {1, TEX_KNOB, 1.9f}, {1, TEX_KNOB, 1.9f}, {1, TEX_KNOB, 1.9f}, {1, TEX_KNOB, 1.9f}};
    for (int i = 0; i < MODEL_COUNT; i++) {
        SCOPED_TRACE(i);
        const Model &m = sceneModels[i];
        EXPECT_EQ(m.materialCount, models[i].slot + 1);
        EXPECT_EQ(m.materials[models[i].slot].maps[MATERIAL_MAP_ALBEDO].texture.id, sceneTextures[models[i].tex].id);
        BoundingBox b = GetModelBoundingBox(m);
        Vector3 size = Vector3Subtract(b.max, b.min);
        EXPECT_NEAR(size.x, models[i].width, 0.06f);
        EXPECT_TRUE(size.y > 0.1f && size.z > 0.2f) << size.y << " deep " << size.z;
        EXPECT_NEAR(b.min.x + b.max.x, 0, 0.01f);   // centred: hit boxes scale about the origin
    }
    BoundingBox k0 = GetModelBoundingBox(sceneModels[MODEL_KNOB]), k1 = GetModelBoundingBox(sceneModels[MODEL_KNOB_ALT]);
    EXPECT_EQ(std::memcmp(&k0, &k1, sizeof k0), 0);
    // Placed on the face, no two controls touch (keys are checked by width).
    resetPanel();
    const Control *table = controlTable();
    for (int a = 1; a < CONTROL_COUNT; a++)
        for (int b = a + 1; b < CONTROL_COUNT && table[a].kind != ControlKind::Key; b++)
            EXPECT_FALSE(table[b].kind != ControlKind::Key &&
                         CheckCollisionBoxes(placedBox(table[a]), placedBox(table[b])))
                    << table[a].name << " touches " << table[b].name;
    // A slot the model lacks gets no texture (AddressSanitizer watches the write).
    Model jack = loadModelTextured("graphics/jack.glb", 1, TEX_KNOB);
    EXPECT_EQ(jack.materialCount, 1);
    UnloadModel(jack);
    for (const RenderTexture2D &t : {sceneTarget, plugTarget})
        EXPECT_TRUE(t.texture.width == windowSide && t.texture.height == windowSide) << t.texture.width;
    EXPECT_NE(sceneTarget.id, plugTarget.id);
    // raylib falls back to its own shader when ours fails to compile or link.
    EXPECT_TRUE(outlineShader.id > 0 && outlineShader.id != rlGetShaderIdDefault());
    if (windowSide != 800) return;   // else all of this again in the small window
    std::string out = desk::tempDir("assets-small") + "/out.txt";
    desk::Process p = desk::spawn({fs::read_symlink("/proc/self/exe").string(),
                                   "--gtest_filter=Assets.ModelsTexturesTargetsAndShaderLoad"},
                                  {"MIRL_TEST_SIDE=600"}, desk::sourceDir(), out);
    ASSERT_TRUE(desk::waitExit(p, 60));
    EXPECT_EQ(p.exitCode, 0) << desk::readFile(out);
}

TEST(Assets, EmbeddedFontsAndTheirRelease)
{
    const struct { const Font &font; int base, height, packedSize, unpacked; const unsigned char *packed; } fonts[2] = {
        {labelFont, 13, 128, labelAtlasPackedSize, 65536, labelAtlasPacked},
        {titleFont, 20, 256, titleAtlasPackedSize, 131072, titleAtlasPacked}};
    for (const auto &c : fonts) {
        SCOPED_TRACE(c.base);
        EXPECT_TRUE(c.font.baseSize == c.base && c.font.glyphCount == 95);
        EXPECT_TRUE(c.font.texture.width == 256 && c.font.texture.height == c.height) << c.font.texture.height;
        EXPECT_EQ(c.font.texture.format, PIXELFORMAT_UNCOMPRESSED_GRAY_ALPHA);
        int size = 0;
        MemFree(DecompressData(c.packed, c.packedSize, &size));
        EXPECT_EQ(size, c.unpacked);
        for (int i = 0; i < 95; i++) {
            const Rectangle &r = c.font.recs[i];
            EXPECT_EQ(c.font.glyphs[i].value, 32 + i);
            EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.width <= 256 && r.y + r.height <= c.height) << i;
        }
    }
    EXPECT_NEAR(MeasureTextEx(labelFont, "Resonance", 13, 1).x, 65, 15);
    EXPECT_LT(MeasureTextEx(labelFont, "iiii", 13, 1).x * 2, MeasureTextEx(labelFont, "MMMM", 13, 1).x);
    EXPECT_NEAR(MeasureTextEx(titleFont, "Oscillator Detune Knob", 20, 1).x, 240, 60);
    // Only the atlases go: the tables are program data, and freeing them aborts.
    unloadSceneAssets();
    EXPECT_TRUE(labelFont.glyphs == nullptr && titleFont.recs == nullptr);
    loadSceneAssets();   // the later tests draw with them
}

TEST(Assets, OutlinePassDarkensEdgesOnly)
{
    // A pale picture with a mid-grey block, and a copy with the outline pass
    // drawn over it: the block's rim darkens, flat areas stay as they were.
    RenderTexture2D pic = LoadRenderTexture(200, 200), lined = LoadRenderTexture(200, 200);
    BeginTextureMode(pic);
    ClearBackground({245, 245, 245, 255});
    DrawRectangle(60, 60, 80, 80, {150, 170, 140, 255});
    EndTextureMode();
    BeginTextureMode(lined);
    DrawTextureRec(pic.texture, {0, 0, 200, 200}, {0, 0}, WHITE);
    BeginShaderMode(outlineShader);
    DrawTextureRec(pic.texture, {0, 0, 200, 200}, {0, 0}, WHITE);
    EndShaderMode();
    EndTextureMode();
    Image a = LoadImageFromTexture(pic.texture), b = LoadImageFromTexture(lined.texture);
    auto rgb = [](Image &im, int x, int y) { return ColorToInt(GetImageColor(im, x, y)) | 0xff; };
    for (Vector2 p : {Vector2{20, 20}, Vector2{100, 100}, Vector2{180, 100}})
        EXPECT_EQ(rgb(a, p.x, p.y), rgb(b, p.x, p.y)) << p.x << "," << p.y;
    int darker = 0;
    for (int y = 70; y < 130; y++)
        for (int x : {59, 60, 139, 140}) darker += GetImageColor(b, x, y).g + 40 < GetImageColor(a, x, y).g;
    EXPECT_GT(darker, 100);
    UnloadImage(a);
    UnloadImage(b);
    UnloadRenderTexture(pic);
    UnloadRenderTexture(lined);
}

TEST(Assets, MissingGraphicsStopTheProgramWithANamedList)
{
    std::string dir = desk::tempDir("assets-missing");
    desk::Process p = desk::spawn({desk::mirlPath()}, {display.env()}, dir, dir + "/out.txt");
    ASSERT_TRUE(desk::waitExit(p, 30));
    EXPECT_EQ(p.exitCode, 1);
    std::string out = desk::readFile(dir + "/out.txt");
    for (const char *name : {"graphics/knob.png", "graphics/mirl.png", "graphics/knob.glb", "graphics/key-end.glb",
                             "graphics/plug-inserted.glb", "graphics/sobel.fs", "folder that holds graphics/"})
        EXPECT_NE(out.find(name), std::string::npos) << name << "\n" << out;
    // Both places are named: here, and the installed folder beside the program.
    std::string installed = fs::path(desk::mirlPath()).parent_path().parent_path().string() + "/share/mirl/graphics/";
    EXPECT_NE(out.find("\"graphics/key-a.glb\" nor \"" + installed + "key-a.glb\""), std::string::npos) << out;
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
