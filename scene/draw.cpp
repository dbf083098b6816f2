// Frame drawing: placeholder until the face is drawn.
#include "scene/scene.h"

void drawFrame()
{
    BeginDrawing();
    ClearBackground(Color{245, 245, 245, 255});
    EndDrawing();
}
