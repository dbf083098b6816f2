// Graphics assets: placeholder until the artwork lands.
#include "scene/scene.h"

Texture2D sceneTextures[TEXTURE_COUNT];
Model sceneModels[MODEL_COUNT];
Font labelFont, titleFont;
RenderTexture2D sceneTarget, plugTarget;
Shader outlineShader;

int reportMissingSceneFiles() { return 0; }
void loadSceneAssets() {}
void unloadSceneAssets() {}
Model loadModelTextured(const char *, int, int) { return Model{}; }
Font loadLabelFont() { return Font{}; }
Font loadTitleFont() { return Font{}; }
