// Preview pictures of the artwork: each model alone on the faceplate colour,
// and the whole face drawn the way the program draws it, outline pass
// included, in the current window's size.
#include <string>
#include "raylib.h"
#include "raymath.h"
#include "rlgl.h"
#include "scene/scene.h"
#include "tests/assets/preview.h"

namespace {

const Color FACE = {170, 198, 153, 255};

Camera3D faceCamera()
{
    Camera3D cam = {};
    cam.position = {0, 22, 14.4f};
    cam.target = {0, 0, 0};
    cam.up = {0, 1, 0};
    cam.fovy = 45;
    cam.projection = CAMERA_PERSPECTIVE;
    return cam;
}

bool saveTarget(const RenderTexture2D &t, const std::string &path)
{
    Image im = LoadImageFromTexture(t.texture);
    ImageFlipVertical(&im);
    bool ok = ExportImage(im, path.c_str());
    UnloadImage(im);
    return ok;
}

// The outline copy over the plain copy, as the window composition does it.
void composeWithOutline(const RenderTexture2D &from, RenderTexture2D &to)
{
    Rectangle src = {0, 0, (float)from.texture.width, -(float)from.texture.height};
    BeginTextureMode(to);
    ClearBackground({245, 245, 245, 255});
    DrawTextureRec(from.texture, src, {0, 0}, WHITE);
    BeginShaderMode(outlineShader);
    DrawTextureRec(from.texture, src, {0, 0}, WHITE);
    EndShaderMode();
    EndTextureMode();
}

// A close look at one model: a camera at the face's angle, much nearer.
void modelShot(int id, float scale, RenderTexture2D &scene, RenderTexture2D &out, const std::string &path, bool *ok)
{
    Camera3D cam = faceCamera();
    float near = id >= MODEL_KEY_BLACK ? 3.5f : 10;
    cam.position = {0, 22 / near, 14.4f / near};
    cam.target = {0, 0.3f, id >= MODEL_KEY_BLACK ? 1.4f : 0};
    cam.position.z += cam.target.z;
    BeginTextureMode(scene);
    ClearBackground(FACE);
    BeginMode3D(cam);
    float angle = 0;
    if (id <= MODEL_ATTENUATOR) angle = 40;   // a little turned, to see the pointer move
    Vector3 at = {0, id >= MODEL_KEY_BLACK ? 1.0f : 0, 0};
    if (id >= MODEL_KEY_BLACK) {
        // the key with its neighbours' places marked: a white key each side
        DrawModelEx(sceneModels[id], at, {1, 0, 0}, 0, {scale, scale, scale}, WHITE);
    } else {
        DrawModelEx(sceneModels[id], at, {0, 1, 0}, angle, {scale, scale, scale}, WHITE);
    }
    EndMode3D();
    EndTextureMode();
    composeWithOutline(scene, out);
    *ok = saveTarget(out, path) && *ok;
}

// Two patched cables' plugs and one pulled plug hovering (inside 3D mode).
void drawPreviewPlugs()
{
    Control *table = controlTable();
    for (int id : {13, 15, 19, 17}) {
        const Panel &pn = panelTable[table[id].panel];
        Vector3 at = Vector3Add(table[id].position, {pn.position.x, 0, pn.position.z});
        DrawModelEx(sceneModels[MODEL_PLUG_INSERTED], at, {0, 1, 0}, 0, {1, 1, 1}, WHITE);
    }
    DrawModelEx(sceneModels[MODEL_PLUG], {6.5f, 0.8f, -3.6f}, {0, 1, 0}, 0, {1, 1, 1}, WHITE);
}

void drawFace(const Camera3D &cam)
{
    resetPanel();
    Control *table = controlTable();
    DrawTexturePro(sceneTextures[TEX_BACKGROUND],
                   {0, 0, (float)sceneTextures[TEX_BACKGROUND].width, (float)sceneTextures[TEX_BACKGROUND].height},
                   {0, 0, (float)GetScreenWidth(), (float)GetScreenHeight()}, {0, 0}, 0, WHITE);
    BeginMode3D(cam);
    DrawCube({0, -0.5f, -0.875f}, 16.5f, 1, 14.75f, FACE);
    for (int p = 0; p < PANEL_COUNT; p++) {
        const Panel &pn = panelTable[p];
        DrawCubeWires(pn.position, pn.size.x - 0.2f, 1.06f, pn.size.z - 0.2f, BLACK);
    }
    drawPreviewPlugs();
    for (int i = 1; i < CONTROL_COUNT; i++) {
        Control c = table[i];
        c.position.x += panelTable[c.panel].position.x;
        c.position.z += panelTable[c.panel].position.z;
        if (c.kind == ControlKind::Knob) {
            float angle = (c.defaultValue - 0.5f) * 2 * -135;
            DrawModelEx(sceneModels[c.variant], c.position, {0, 1, 0}, angle, {1, 1, 1}, WHITE);
        } else if (c.kind == ControlKind::Jack) {
            DrawModelEx(sceneModels[MODEL_JACK], c.position, {0, 1, 0}, 0, {1, 1, 1}, WHITE);
        } else if (c.kind == ControlKind::Key) {
            bool held = i == 31;   // one key shown held
            DrawModelEx(sceneModels[c.variant], c.position, {1, 0, 0}, held ? 8 : 0, {0.5f, 0.5f, 0.5f}, WHITE);
            if (c.variant != MODEL_KEY_BLACK && !held) {
                BoundingBox b = GetModelBoundingBox(sceneModels[c.variant]);
                b = {Vector3Add(Vector3Scale(b.min, 0.5f), c.position), Vector3Add(Vector3Scale(b.max, 0.5f), c.position)};
                Vector3 size = Vector3Subtract(b.max, b.min);
                DrawCubeWires(Vector3Scale(Vector3Add(b.min, b.max), 0.5f), size.x, size.y, size.z, BLACK);
            }
        }
    }
    EndMode3D();
}

void drawFaceLabels(const Camera3D &cam)
{
    Control *table = controlTable();
    for (int i = 1; i < CONTROL_COUNT; i++) {
        Control c = table[i];
        if (c.kind == ControlKind::Key) continue;
        c.position.x += panelTable[c.panel].position.x;
        c.position.z += panelTable[c.panel].position.z;
        BoundingBox b = GetModelBoundingBox(sceneModels[c.kind == ControlKind::Knob ? c.variant : MODEL_JACK]);
        if (c.kind == ControlKind::Jack) b = {Vector3Scale(b.min, 1.6f), Vector3Scale(b.max, 1.6f)};
        Vector3 anchor = {c.position.x + (b.min.x + b.max.x) / 2, c.position.y + b.min.y, c.position.z + b.max.z};
        Vector2 at = GetWorldToScreen(anchor, cam);
        Vector2 size = MeasureTextEx(labelFont, c.name, 13, 1);
        DrawTextEx(labelFont, c.name, {at.x - size.x / 2, at.y + 4}, 13, 1, BLACK);
    }
    if (GetScreenHeight() > 600)
        for (int p = 0; p < PANEL_COUNT; p++) {
            const Panel &pn = panelTable[p];
            Vector3 corner = {pn.position.x - pn.size.x / 2 + 0.1f, pn.position.y + pn.size.y / 2,
                              pn.position.z + pn.size.z / 2 - 0.1f};
            Vector2 at = GetWorldToScreen(corner, cam);
            DrawTextEx(labelFont, pn.name, {at.x + 6, at.y - 14}, 13, 1, BLACK);
        }
    DrawTextEx(labelFont, "Midi Through Port-0", {92, (float)GetScreenHeight() - 18}, 13, 1, BLACK);
}

}  // namespace

bool writePreviewShots(const std::string &dir)
{
    const char *names[MODEL_COUNT] = {"knob", "knob2", "atten", "jack", "plug", "plug-inserted", "key-black",
                                      "key-c", "key-d", "key-e", "key-g", "key-a", "key-end"};
    bool ok = true;
    RenderTexture2D scene = LoadRenderTexture(300, 300), out = LoadRenderTexture(300, 300);
    for (int i = 0; i < MODEL_COUNT; i++)
        modelShot(i, i >= MODEL_KEY_BLACK ? 0.5f : 1, scene, out, dir + "/model-" + names[i] + ".png", &ok);
    UnloadRenderTexture(scene);
    UnloadRenderTexture(out);

    int w = GetScreenWidth(), h = GetScreenHeight();
    Camera3D cam = faceCamera();
    RenderTexture2D face = LoadRenderTexture(w, h), window = LoadRenderTexture(w, h);
    BeginTextureMode(face);
    ClearBackground({245, 245, 245, 255});
    drawFace(cam);
    EndTextureMode();
    RenderTexture2D plugs = LoadRenderTexture(w, h);
    BeginTextureMode(plugs);
    BeginMode3D(cam);
    ClearBackground({0, 0, 0, 0});
    drawPreviewPlugs();
    EndMode3D();
    EndTextureMode();
    composeWithOutline(face, window);
    BeginTextureMode(window);
    drawFaceLabels(cam);
    // The plug layer over the labels, with its own outline, as the window gets it.
    Rectangle src = {0, 0, (float)w, -(float)h};
    DrawTextureRec(plugs.texture, src, {0, 0}, WHITE);
    BeginShaderMode(outlineShader);
    DrawTextureRec(plugs.texture, src, {0, 0}, WHITE);
    EndShaderMode();
    bool small = h <= 600;
    Vector2 logoAt = small ? Vector2{82, 302} : Vector2{112, 410};
    const Texture2D &logo = sceneTextures[TEX_LOGO];
    DrawTextureRec(logo, {0, 0, (float)logo.width, (float)logo.height}, logoAt, WHITE);
    DrawTexture(sceneTextures[TEX_HELP], 8, h - 38, WHITE);
    DrawTexture(sceneTextures[TEX_MIDI], 48, h - 38, WHITE);
    EndTextureMode();
    ok = saveTarget(window, dir + "/face-" + std::to_string(h) + ".png") && ok;
    UnloadRenderTexture(face);
    UnloadRenderTexture(window);
    UnloadRenderTexture(plugs);
    return ok;
}
