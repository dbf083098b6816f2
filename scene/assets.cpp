// Graphics assets: the eight images, the thirteen models, the two fonts that
// live inside the program, the off-screen layers and the outline shader.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <unistd.h>
#include "scene/scene.h"
#include "panel/constants.h"

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

// File names inside the artwork folder.
static const char *const textureFiles[TEXTURE_COUNT] = {
    "knob.png", "knob2.png", "jack.png", "plug.png", "background.png", "help.png", "midi.png", "mirl.png",
};

struct ModelSource {
    const char *file;
    int slot;
    int texture;
};

// Knob, attenuator and key files carry one material of their own (slot 1);
// jack and plug meshes have none and use raylib's default (slot 0).
static const ModelSource modelSources[MODEL_COUNT] = {
    {"knob.glb", 1, TEX_KNOB},
    {"knob.glb", 1, TEX_KNOB_ALT},
    {"atten.glb", 1, TEX_KNOB},
    {"jack.glb", 0, TEX_JACK},
    {"plug.glb", 0, TEX_PLUG},
    {"plug-inserted.glb", 0, TEX_PLUG},
    {"key-black.glb", 1, TEX_KNOB},
    {"key-c.glb", 1, TEX_KNOB},
    {"key-d.glb", 1, TEX_KNOB},
    {"key-e.glb", 1, TEX_KNOB},
    {"key-g.glb", 1, TEX_KNOB},
    {"key-a.glb", 1, TEX_KNOB},
    {"key-end.glb", 1, TEX_KNOB},
};

static const char *const shaderFile = "sobel.fs";

// Every file the face needs, each once: the images, the model files and the
// shader. The second knob style repeats the knob file, so its place in this
// list goes to the shader.
static const int SCENE_FILE_COUNT = (int)TEXTURE_COUNT + (int)MODEL_COUNT;
static const char *sceneFile(int i)
{
    if (i < TEXTURE_COUNT) return textureFiles[i];
    i -= TEXTURE_COUNT;
    return i == MODEL_KNOB_ALT ? shaderFile : modelSources[i].file;
}

// The artwork folder in use, ending in '/': the working directory's graphics/
// unless start-up found the installed copy instead.
static char graphicsDir[4096] = "graphics/";
static char pathBuffer[4096 + 64];

// Joins a file name to a folder in the shared path buffer.
static const char *joinPath(const char *dir, const char *file)
{
    std::snprintf(pathBuffer, sizeof pathBuffer, "%s%s", dir, file);
    return pathBuffer;
}

static const char *graphicsPath(const char *file) { return joinPath(graphicsDir, file); }

// Counts the files of the face that cannot be read from dir.
static int countMissing(const char *dir)
{
    int missing = 0;
    for (int i = 0; i < SCENE_FILE_COUNT; i++) missing += access(joinPath(dir, sceneFile(i)), R_OK) != 0;
    return missing;
}

// The installed artwork: share/mirl/graphics/ beside the bin/ folder that holds the program.
static void installedGraphicsDir(char *out, size_t size)
{
    char exe[4000];   // leaves room for the folder names added below
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    exe[n > 0 ? n : 0] = '\0';
    char *slash = std::strrchr(exe, '/');   // drop the program's name ...
    if (slash) *slash = '\0';
    slash = std::strrchr(exe, '/');         // ... and its bin/ folder
    if (slash) *slash = '\0';
    std::snprintf(out, size, "%s/share/mirl/graphics/", exe);
}

int reportMissingSceneFiles()
{
    if (countMissing("graphics/") == 0) return 0;
    char installed[sizeof graphicsDir];
    installedGraphicsDir(installed, sizeof installed);
    if (countMissing(installed) == 0) {
        std::snprintf(graphicsDir, sizeof graphicsDir, "%s", installed);
        return 0;
    }
    // Neither place is complete: one line for each file that is in neither,
    // naming both places. When every file is in one place or the other, the
    // installed copy is the one to mend, so its gaps are named instead.
    int missing = 0;
    for (int pass = 0; pass < 2 && missing == 0; pass++)
        for (int i = 0; i < SCENE_FILE_COUNT; i++) {
            const char *file = sceneFile(i);
            char here[256];
            std::snprintf(here, sizeof here, "graphics/%s", file);
            if (access(joinPath(installed, file), R_OK) == 0) continue;
            bool inHere = access(here, R_OK) == 0;
            if (pass == 0 && inHere) continue;
            missing++;
            if (pass == 0)
                std::fprintf(stderr, "Mirl: cannot read \"%s\" nor \"%s%s\"; start Mirl from the folder that holds graphics/ or install it\n",
                             here, installed, file);
            else
                std::fprintf(stderr, "Mirl: cannot read \"%s%s\"; start Mirl from the folder that holds graphics/ or install it\n",
                             installed, file);
        }
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

Font loadLabelFont() { return embeddedFont(LABEL_FONT_SIZE, labelAtlasPacked, labelAtlasPackedSize, 128, labelRecs, labelGlyphs); }

Font loadTitleFont() { return embeddedFont(TITLE_FONT_SIZE, titleAtlasPacked, titleAtlasPackedSize, 256, titleRecs, titleGlyphs); }

void loadSceneAssets()
{
    keepGraphicsDriverLoaded();
    int width = GetScreenWidth(), height = GetScreenHeight();
    for (int i = 0; i < TEXTURE_COUNT; i++) sceneTextures[i] = LoadTexture(graphicsPath(textureFiles[i]));
    for (int i = 0; i < MODEL_COUNT; i++) {
        sceneModels[i] = loadModelTextured(graphicsPath(modelSources[i].file), modelSources[i].slot, modelSources[i].texture);
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
    outlineShader = LoadShader(nullptr, graphicsPath(shaderFile));
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
