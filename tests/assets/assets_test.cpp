// The face's artwork as the program loads it: models that fit their places,
// textures on the right slots, the compiled-in fonts, the outline shader,
// the missing-file report, and generators that reproduce what is committed.
// Runs in a real raylib window on a private X server.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>
#include "raylib.h"
#include "raymath.h"
#include "rlgl.h"
#include "scene/scene.h"
#include "tests/support/desktop.h"
#include "tests/assets/preview.h"

extern const int labelAtlasPackedSize, titleAtlasPackedSize;
extern const unsigned char labelAtlasPacked[], titleAtlasPacked[];
extern Rectangle labelRecs[95], titleRecs[95];
extern GlyphInfo labelGlyphs[95], titleGlyphs[95];

namespace fs = std::filesystem;

namespace {

desk::Display display;
int windowSide = 800;

// One window for the whole binary; its side comes from MIRL_TEST_SIDE so the
// test can rerun itself in the small window.
class Window : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (const char *side = std::getenv("MIRL_TEST_SIDE")) windowSide = std::atoi(side);
        // The program finds graphics/ in the folder it was started from.
        if (chdir(desk::sourceDir().c_str()) != 0) std::abort();
        display = desk::startDisplay(1024, 1024);
        setenv("DISPLAY", display.name().c_str(), 1);
        SetTraceLogLevel(LOG_WARNING);
        SetConfigFlags(FLAG_WINDOW_HIDDEN);
        InitWindow(windowSide, windowSide, "assets test");
        loadSceneAssets();
    }
    void TearDown() override
    {
        unloadSceneAssets();
        // The window stays open until the process ends: closing it unloads
        // the GL driver, which would leave its own allocations looking leaked.
        desk::stopDisplay(display);
    }
};
const auto *env = ::testing::AddGlobalTestEnvironment(new Window);

BoundingBox scaled(BoundingBox b, float k) { return {Vector3Scale(b.min, k), Vector3Scale(b.max, k)}; }
BoundingBox moved(BoundingBox b, Vector3 p) { return {Vector3Add(b.min, p), Vector3Add(b.max, p)}; }

// Where a control stands on the face, and its hit box, as the layout makes them.
BoundingBox placedBox(const Control &c)
{
    Vector3 p = c.position;
    p.x += panelTable[c.panel].position.x;
    p.z += panelTable[c.panel].position.z;
    BoundingBox b;
    if (c.kind == ControlKind::Knob) b = GetModelBoundingBox(sceneModels[c.variant]);
    else if (c.kind == ControlKind::Key) b = scaled(GetModelBoundingBox(sceneModels[c.variant]), 0.5f);
    else b = scaled(GetModelBoundingBox(sceneModels[MODEL_JACK]), 1.6f);
    return moved(b, p);
}

}  // namespace

TEST(Assets, ModelsHaveTheirSlotsAndFitTheFace)
{
    const int slot[MODEL_COUNT] = {1, 1, 1, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1};
    const int tex[MODEL_COUNT] = {TEX_KNOB, TEX_KNOB_ALT, TEX_KNOB, TEX_JACK, TEX_PLUG, TEX_PLUG, TEX_KNOB,
                                  TEX_KNOB, TEX_KNOB, TEX_KNOB, TEX_KNOB, TEX_KNOB, TEX_KNOB};
    for (int i = 0; i < MODEL_COUNT; i++) {
        const Model &m = sceneModels[i];
        SCOPED_TRACE(i);
        ASSERT_GE(m.meshCount, 1);
        EXPECT_EQ(m.materialCount, slot[i] + 1);
        EXPECT_NE(sceneTextures[tex[i]].id, 0u);
        EXPECT_EQ(m.materials[slot[i]].maps[MATERIAL_MAP_ALBEDO].texture.id, sceneTextures[tex[i]].id);
        BoundingBox b = GetModelBoundingBox(m);
        Vector3 size = Vector3Subtract(b.max, b.min);
        EXPECT_GT(size.x, 0.2f);
        EXPECT_GT(size.y, 0.1f);
        EXPECT_GT(size.z, 0.2f);
    }
    BoundingBox k0 = GetModelBoundingBox(sceneModels[MODEL_KNOB]), k1 = GetModelBoundingBox(sceneModels[MODEL_KNOB_ALT]);
    EXPECT_EQ(std::memcmp(&k0, &k1, sizeof k0), 0);
    // Knobs: 1.2 to 1.4 across, standing on the face, round about their axis.
    EXPECT_NEAR(k0.max.x - k0.min.x, 1.32f, 0.08f);
    EXPECT_NEAR(k0.min.x + k0.max.x, 0, 0.01f);
    EXPECT_NEAR(k0.min.z + k0.max.z, 0, 0.01f);
    EXPECT_NEAR(k0.min.y, 0, 0.001f);
    // Both skins paint the pointer towards -z (the top of the knob's disc in
    // the picture), so a knob at rest points away from the player.
    for (const char *skin : {"graphics/knob.png", "graphics/knob2.png"}) {
        Image im = LoadImage(skin);
        Color away = GetImageColor(im, 96, 56), near = GetImageColor(im, 96, 136), side = GetImageColor(im, 56, 96);
        EXPECT_LT(away.r + 100, near.r) << skin;
        EXPECT_LT(away.r + 100, side.r) << skin;
        UnloadImage(im);
    }
    BoundingBox at = GetModelBoundingBox(sceneModels[MODEL_ATTENUATOR]);
    EXPECT_LT(at.max.x - at.min.x, k0.max.x - k0.min.x);
    // Jack: small and centred on its origin, since its hit box scales about it.
    BoundingBox j = GetModelBoundingBox(sceneModels[MODEL_JACK]);
    EXPECT_NEAR(j.max.x - j.min.x, 0.6f, 0.06f);
    EXPECT_NEAR(j.min.x + j.max.x, 0, 0.01f);
    EXPECT_NEAR(j.min.z + j.max.z, 0, 0.06f);
    // Keys at half size: white keys fill 0.95 of their unit, sit on the face
    // (drawn at y 1), and end inside the keyboard panel.
    for (int id = MODEL_KEY_BLACK; id <= MODEL_KEY_END; id++) {
        BoundingBox k = scaled(GetModelBoundingBox(sceneModels[id]), 0.5f);
        SCOPED_TRACE(id);
        float width = k.max.x - k.min.x;
        EXPECT_NEAR(width, id == MODEL_KEY_BLACK ? 0.55f : 0.95f, 0.01f);
        EXPECT_NEAR(k.min.y + 1, 0.05f, 0.05f);
        EXPECT_NEAR(k.min.z, 0, 0.001f);
        EXPECT_LT(2.75f + k.max.z, 6.25f);
    }
}

TEST(Assets, TextureGoesOnlyOnASlotTheModelHas)
{
    // A jack has only raylib's default slot: asking for slot 1 must not write
    // past the model's materials (AddressSanitizer watches), and a file that
    // did not load gets no texture either.
    Model jack = loadModelTextured("graphics/jack.glb", 1, TEX_KNOB);
    EXPECT_EQ(jack.materialCount, 1);
    EXPECT_NE(jack.materials[0].maps[MATERIAL_MAP_ALBEDO].texture.id, sceneTextures[TEX_KNOB].id);
    UnloadModel(jack);
    Model none = loadModelTextured("graphics/no-such-model.glb", 1, TEX_KNOB);
    for (int i = 0; i < none.materialCount; i++)
        EXPECT_NE(none.materials[i].maps[MATERIAL_MAP_ALBEDO].texture.id, sceneTextures[TEX_KNOB].id);
    UnloadModel(none);
}

TEST(Assets, ControlsDoNotCollideAndKeysLeaveRoomForBlackKeys)
{
    resetPanel();
    Control *table = controlTable();
    for (int a = 1; a < CONTROL_COUNT; a++)
        for (int b = a + 1; b < CONTROL_COUNT; b++) {
            if (table[a].kind == ControlKind::Key || table[b].kind == ControlKind::Key) continue;
            EXPECT_FALSE(CheckCollisionBoxes(placedBox(table[a]), placedBox(table[b])))
                << table[a].name << " (" << a << ") touches " << table[b].name << " (" << b << ")";
        }
    // No white key has geometry under a black key's place on the keyboard.
    for (int bk = 1; bk < CONTROL_COUNT; bk++) {
        if (table[bk].kind != ControlKind::Key || table[bk].variant != MODEL_KEY_BLACK) continue;
        BoundingBox black = placedBox(table[bk]);
        for (int wk = 1; wk < CONTROL_COUNT; wk++) {
            const Control &w = table[wk];
            if (w.kind != ControlKind::Key || w.variant == MODEL_KEY_BLACK) continue;
            const Mesh &mesh = sceneModels[w.variant].meshes[0];
            for (int v = 0; v < mesh.vertexCount; v++) {
                float x = w.position.x + 0.5f * mesh.vertices[3 * v];
                float z = w.position.z + panelTable[w.panel].position.z + 0.5f * mesh.vertices[3 * v + 2];
                bool under = x > black.min.x + 0.001f && x < black.max.x - 0.001f && z < black.max.z - 0.001f;
                EXPECT_FALSE(under) << w.name << " (" << wk << ") reaches under " << table[bk].name;
                if (under) break;
            }
        }
    }
}

TEST(Assets, RenderTargetsMatchTheWindow)
{
    EXPECT_EQ(sceneTarget.texture.width, windowSide);
    EXPECT_EQ(sceneTarget.texture.height, windowSide);
    EXPECT_EQ(plugTarget.texture.width, windowSide);
    EXPECT_EQ(plugTarget.texture.height, windowSide);
    EXPECT_NE(sceneTarget.id, plugTarget.id);
    if (windowSide != 800) return;
    // The same in the small window: run this test again in a 600 window.
    std::string out = desk::tempDir("assets-small") + "/out.txt";
    desk::Process p = desk::spawn({fs::read_symlink("/proc/self/exe").string(),
                                   "--gtest_filter=Assets.RenderTargetsMatchTheWindow"},
                                  {"MIRL_TEST_SIDE=600"}, desk::sourceDir(), out);
    ASSERT_TRUE(desk::waitExit(p, 60));
    EXPECT_EQ(p.exitCode, 0) << desk::readFile(out);
}

TEST(Assets, EmbeddedFontsHoldTheirAtlasesAndTables)
{
    struct Case {
        const Font &font;
        int base, height, packedSize, unpacked;
        const unsigned char *packed;
        Rectangle *recs;
        GlyphInfo *glyphs;
    } cases[2] = {
        {labelFont, 13, 128, labelAtlasPackedSize, 65536, labelAtlasPacked, labelRecs, labelGlyphs},
        {titleFont, 20, 256, titleAtlasPackedSize, 131072, titleAtlasPacked, titleRecs, titleGlyphs},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.base);
        EXPECT_EQ(c.font.baseSize, c.base);
        EXPECT_EQ(c.font.glyphCount, 95);
        EXPECT_EQ(c.font.glyphPadding, 4);
        EXPECT_EQ(c.font.recs, c.recs);
        EXPECT_EQ(c.font.glyphs, c.glyphs);
        EXPECT_EQ(c.font.texture.width, 256);
        EXPECT_EQ(c.font.texture.height, c.height);
        EXPECT_EQ(c.font.texture.format, PIXELFORMAT_UNCOMPRESSED_GRAY_ALPHA);
        int size = 0;
        unsigned char *pixels = DecompressData(c.packed, c.packedSize, &size);
        ASSERT_EQ(size, c.unpacked);
        EXPECT_EQ(c.recs[0].x, 4);
        EXPECT_EQ(c.recs[0].y, 4);
        for (int i = 0; i < 95; i++) {
            const Rectangle &r = c.recs[i];
            EXPECT_EQ(c.glyphs[i].value, 32 + i);
            EXPECT_EQ(c.glyphs[i].image.data, nullptr);
            EXPECT_GE(r.x, 4);
            EXPECT_GE(r.y, 4);
            EXPECT_LE(r.x + r.width, 256 - 4);
            EXPECT_LE(r.y + r.height, c.height - 4);
            EXPECT_GT(c.glyphs[i].advanceX, 0);
            // The glyph's padding ring is clear, so no neighbour bleeds in.
            for (int x = (int)r.x - 4; x < r.x + r.width + 4; x++)
                for (int y : {(int)r.y - 4, (int)(r.y + r.height + 3)})
                    EXPECT_EQ(pixels[(y * 256 + x) * 2 + 1], 0) << i;
        }
        // Visible ink: a pixel font has hard pixels only.
        int ink = 0, soft = 0;
        for (int p = 0; p < size / 2; p++) {
            ink += pixels[2 * p + 1] == 255;
            soft += pixels[2 * p + 1] != 0 && pixels[2 * p + 1] != 255;
        }
        EXPECT_GT(ink, 600);
        EXPECT_EQ(soft, 0);
        MemFree(pixels);
    }
    Vector2 label = MeasureTextEx(labelFont, "Resonance", 13, 1);
    EXPECT_GT(label.x, 50);
    EXPECT_LT(label.x, 80);
    EXPECT_EQ(label.y, 13);
    Vector2 narrow = MeasureTextEx(labelFont, "iiii", 13, 1), wide = MeasureTextEx(labelFont, "MMMM", 13, 1);
    EXPECT_LT(narrow.x * 2, wide.x);   // proportional, not fixed-width
    Vector2 title = MeasureTextEx(titleFont, "Oscillator Detune Knob", 20, 1);
    EXPECT_GT(title.x, 180);
    EXPECT_LT(title.x, 300);
}

TEST(Assets, OutlinePassDarkensEdgesOnly)
{
    ASSERT_NE(outlineShader.id, rlGetShaderIdDefault());
    EXPECT_GT(outlineShader.id, 0u);
    // A pale picture with a mid-grey block: the outline copy over the plain
    // copy must darken the block's rim and leave both flat areas alone.
    RenderTexture2D picture = LoadRenderTexture(200, 200), plain = LoadRenderTexture(200, 200),
                    outlined = LoadRenderTexture(200, 200);
    BeginTextureMode(picture);
    ClearBackground({245, 245, 245, 255});
    DrawRectangle(60, 60, 80, 80, {150, 170, 140, 255});
    EndTextureMode();
    Rectangle src = {0, 0, 200, -200};
    for (RenderTexture2D *t : {&plain, &outlined}) {
        BeginTextureMode(*t);
        ClearBackground(BLACK);
        DrawTextureRec(picture.texture, src, {0, 0}, WHITE);
        if (t == &outlined) {
            BeginShaderMode(outlineShader);
            DrawTextureRec(picture.texture, src, {0, 0}, WHITE);
            EndShaderMode();
        }
        EndTextureMode();
    }
    Image a = LoadImageFromTexture(plain.texture), b = LoadImageFromTexture(outlined.texture);
    auto at = [](Image &im, int x, int y) { return GetImageColor(im, x, y); };
    auto same = [&](int x, int y) {
        Color p = at(a, x, y), q = at(b, x, y);
        return p.r == q.r && p.g == q.g && p.b == q.b;
    };
    EXPECT_TRUE(same(20, 20));     // flat background
    EXPECT_TRUE(same(100, 100));   // flat inside the block
    EXPECT_TRUE(same(180, 100));
    int darker = 0;
    for (int y = 70; y < 130; y++)
        for (int x : {59, 60, 139, 140})
            darker += at(b, x, y).g + 40 < at(a, x, y).g;
    EXPECT_GT(darker, 100);
    UnloadImage(a);
    UnloadImage(b);
    UnloadRenderTexture(picture);
    UnloadRenderTexture(plain);
    UnloadRenderTexture(outlined);
}

TEST(Assets, PreviewShotsForAPersonToLookAt)
{
    // Not a check: pictures of every model and of the whole face, as drawn on
    // the faceplate, for whoever changes the generators.
    std::string dir = std::string(MIRL_BINARY_DIR) + "/asset-shots";
    fs::create_directories(dir);
    EXPECT_TRUE(writePreviewShots(dir));
}

TEST(Assets, UnloadReleasesOnlyTheAtlases)
{
    std::vector<Rectangle> recs(labelRecs, labelRecs + 95);
    std::vector<GlyphInfo> glyphs(titleGlyphs, titleGlyphs + 95);
    unloadSceneAssets();   // under AddressSanitizer a free of a static table aborts here
    EXPECT_EQ(labelFont.glyphs, nullptr);
    EXPECT_EQ(titleFont.recs, nullptr);
    EXPECT_EQ(std::memcmp(recs.data(), labelRecs, sizeof labelRecs), 0);
    EXPECT_EQ(std::memcmp(glyphs.data(), titleGlyphs, sizeof titleGlyphs), 0);
    // Everything comes back on a fresh load (the later tests use it).
    loadSceneAssets();
    EXPECT_GT(labelFont.texture.id, 0u);
}

TEST(Assets, MissingGraphicsStopTheProgramWithANamedList)
{
    std::string dir = desk::tempDir("assets-missing");
    desk::Process p = desk::spawn({desk::mirlPath()}, {display.env()}, dir, dir + "/out.txt");
    ASSERT_TRUE(desk::waitExit(p, 30));
    EXPECT_EQ(p.exitCode, 1);
    std::string out = desk::readFile(dir + "/out.txt");
    for (const char *name : {"graphics/knob.png", "graphics/mirl.png", "graphics/knob.glb", "graphics/key-end.glb",
                             "graphics/plug-inserted.glb", "graphics/sobel.fs"})
        EXPECT_NE(out.find(name), std::string::npos) << name << "\n" << out;
    EXPECT_NE(out.find("folder that holds graphics/"), std::string::npos);
    // One unreadable file among present ones is named alone.
    fs::create_directories(dir + "/graphics");
    for (const auto &e : fs::directory_iterator(desk::sourceDir() + "/graphics"))
        fs::copy_file(e.path(), dir + "/graphics/" + e.path().filename().string());
    fs::remove(dir + "/graphics/key-d.glb");
    desk::Process q = desk::spawn({desk::mirlPath()}, {display.env()}, dir, dir + "/out2.txt");
    ASSERT_TRUE(desk::waitExit(q, 30));
    EXPECT_EQ(q.exitCode, 1);
    std::string out2 = desk::readFile(dir + "/out2.txt");
    EXPECT_NE(out2.find("graphics/key-d.glb"), std::string::npos) << out2;
    EXPECT_EQ(out2.find("graphics/key-c.glb"), std::string::npos) << out2;
    fs::remove_all(dir);
}

TEST(Assets, GeneratorsReproduceTheCommittedFiles)
{
    std::string tool = std::string(MIRL_BINARY_DIR) + "/tools/assetgen/mirl-assetgen";
    std::string out = desk::tempDir("assets-regen");
    ASSERT_EQ(desk::run({tool, out}), 0);
    std::string src = desk::sourceDir();
    int files = 0;
    for (const auto &e : fs::directory_iterator(out + "/graphics")) {
        std::string name = e.path().filename().string();
        EXPECT_EQ(desk::readFile(e.path().string()), desk::readFile(src + "/graphics/" + name)) << name;
        files++;
    }
    EXPECT_EQ(files, 21);
    EXPECT_EQ(desk::readFile(out + "/scene/font_data.cpp"), desk::readFile(src + "/scene/font_data.cpp"));
    fs::remove_all(out);
}
