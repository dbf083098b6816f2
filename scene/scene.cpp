// The scene: placeholder until the assets and the face drawing land.
#include "scene/scene.h"

int reportMissingSceneFiles() { return 0; }
void loadSceneAssets() {}
void unloadSceneAssets() {}
void layoutScene() {}

void drawFrame()
{
    BeginDrawing();
    ClearBackground(Color{245, 245, 245, 255});
    EndDrawing();
}
