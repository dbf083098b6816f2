// Graphics assets: the eight images, the thirteen models, the two fonts that
// live inside the program, the off-screen layers and the outline shader.
#include <cstdio>
#include <initializer_list>
#include <unistd.h>
#include "scene/scene.h"

Texture2D sceneTextures[TEXTURE_COUNT];
Model sceneModels[MODEL_COUNT];
BoundingBox sceneModelBounds[MODEL_COUNT];
Font labelFont, titleFont;
RenderTexture2D sceneTarget, plugTarget, baseTarget, faceTarget, hoverTarget, helpTarget;
Shader outlineShader;

// The compiled-in fonts (scene/font_data.cpp, made by tools/assetgen).
extern const int labelAtlasPackedSize, titleAtlasPackedSize;
extern const unsigned char labelAtlasPacked[], titleAtlasPacked[];
extern Rectangle labelRecs[95], titleRecs[95];
extern GlyphInfo labelGlyphs[95], titleGlyphs[95];

static const char *const texturePaths[TEXTURE_COUNT] = {
    "graphics/knob.png", "graphics/knob2.png", "graphics/jack.png", "graphics/plug.png",
    "graphics/background.png", "graphics/help.png", "graphics/midi.png", "graphics/mirl.png",
};

struct ModelSource {
    const char *path;
    int slot;
    int texture;
};

// Knob, attenuator and key files carry one material of their own (slot 1);
// jack and plug meshes have none and use raylib's default (slot 0).
static const ModelSource modelSources[MODEL_COUNT] = {
    {"graphics/knob.glb", 1, TEX_KNOB},
    {"graphics/knob.glb", 1, TEX_KNOB_ALT},
    {"graphics/atten.glb", 1, TEX_KNOB},
    {"graphics/jack.glb", 0, TEX_JACK},
    {"graphics/plug.glb", 0, TEX_PLUG},
    {"graphics/plug-inserted.glb", 0, TEX_PLUG},
    {"graphics/key-black.glb", 1, TEX_KNOB},
    {"graphics/key-c.glb", 1, TEX_KNOB},
    {"graphics/key-d.glb", 1, TEX_KNOB},
    {"graphics/key-e.glb", 1, TEX_KNOB},
    {"graphics/key-g.glb", 1, TEX_KNOB},
    {"graphics/key-a.glb", 1, TEX_KNOB},
    {"graphics/key-end.glb", 1, TEX_KNOB},
};

static const char *const shaderPath = "graphics/sobel.fs";

static int reportIfMissing(const char *path)
{
    if (access(path, R_OK) == 0) return 0;
    std::fprintf(stderr, "Mirl: cannot read \"%s\"; start Mirl from the folder that holds graphics/\n", path);
    return 1;
}

int reportMissingSceneFiles()
{
    int missing = 0;
    for (const char *path : texturePaths) missing += reportIfMissing(path);
    for (int i = 0; i < MODEL_COUNT; i++) {
        // The knob file serves both knob styles; name it once.
        if (i == MODEL_KNOB_ALT) continue;
        missing += reportIfMissing(modelSources[i].path);
    }
    missing += reportIfMissing(shaderPath);
    return missing;
}

Model loadModelTextured(const char *path, int materialSlot, int textureId)
{
    Model model = LoadModel(path);
    // A file that failed to load, or has fewer materials, gets no texture.
    if (materialSlot >= 0 && materialSlot < model.materialCount && model.materials != nullptr)
        SetMaterialTexture(&model.materials[materialSlot], MATERIAL_MAP_ALBEDO, sceneTextures[textureId]);
    return model;
}

// Wraps one compiled-in font: unpack the atlas, upload it, point at the tables.
static Font embeddedFont(int baseSize, const unsigned char *packed, int packedSize, int atlasHeight,
                         Rectangle *recs, GlyphInfo *glyphs)
{
    Font font = {};
    font.baseSize = baseSize;
    font.glyphCount = 95;
    font.glyphPadding = 4;
    int size = 0;
    unsigned char *pixels = DecompressData(packed, packedSize, &size);
    Image atlas = {pixels, 256, atlasHeight, 1, PIXELFORMAT_UNCOMPRESSED_GRAY_ALPHA};
    font.texture = LoadTextureFromImage(atlas);
    UnloadImage(atlas);
    font.recs = recs;
    font.glyphs = glyphs;
    return font;
}

Font loadLabelFont() { return embeddedFont(13, labelAtlasPacked, labelAtlasPackedSize, 128, labelRecs, labelGlyphs); }

Font loadTitleFont() { return embeddedFont(20, titleAtlasPacked, titleAtlasPackedSize, 256, titleRecs, titleGlyphs); }

void loadSceneAssets()
{
    keepGraphicsDriverLoaded();
    int width = GetScreenWidth(), height = GetScreenHeight();
    for (int i = 0; i < TEXTURE_COUNT; i++) sceneTextures[i] = LoadTexture(texturePaths[i]);
    for (int i = 0; i < MODEL_COUNT; i++) {
        sceneModels[i] = loadModelTextured(modelSources[i].path, modelSources[i].slot, modelSources[i].texture);
        sceneModelBounds[i] = GetModelBoundingBox(sceneModels[i]);
    }
    labelFont = loadLabelFont();
    SetTextureFilter(labelFont.texture, TEXTURE_FILTER_POINT);
    titleFont = loadTitleFont();
    SetTextureFilter(titleFont.texture, TEXTURE_FILTER_POINT);
    // Render textures repeat by default; clamped, the outline pass reads the
    // edge row itself beyond the window's edge instead of the opposite edge.
    for (RenderTexture2D *t : {&sceneTarget, &plugTarget, &baseTarget, &faceTarget, &hoverTarget, &helpTarget}) {
        *t = LoadRenderTexture(width, height);
        SetTextureWrap(t->texture, TEXTURE_WRAP_CLAMP);
    }
    outlineShader = LoadShader(nullptr, shaderPath);
}

// Lets go of one compiled-in font: only its atlas texture is released; the
// tables are program data and must never reach the allocator.
static void unloadEmbeddedFont(Font &font)
{
    font.glyphs = nullptr;
    font.recs = nullptr;
    UnloadFont(font);
    font = Font{};
}

void unloadSceneAssets()
{
    for (int i = 0; i < MODEL_COUNT; i++) UnloadModel(sceneModels[i]);
    for (int i = 0; i < TEXTURE_COUNT; i++) UnloadTexture(sceneTextures[i]);
    for (RenderTexture2D t : {sceneTarget, plugTarget, baseTarget, faceTarget, hoverTarget, helpTarget}) UnloadRenderTexture(t);
    UnloadShader(outlineShader);
    unloadEmbeddedFont(labelFont);
    unloadEmbeddedFont(titleFont);
}
