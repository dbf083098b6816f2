// Drawing the face: the two off-screen passes, their outlined composition,
// labels, plugs, cables, scope, icons and the help overlay, in layer order.
#include <cmath>
#include "midi/midi.h"
#include "scene/scene.h"
#include "synth/synth.h"
#include "ui/ui.h"

static const Color CLEAR_GREY = {245, 245, 245, 255};
static const Color TRANSPARENT = {0, 0, 0, 0};
static const Color UNTINTED = {255, 255, 255, 255};
static const Color INK = {0, 0, 0, 255};
static const Color CABLE_YELLOW = {247, 232, 69, 255};  // F7E845
static const Color HELP_TINT = {69, 135, 71, 170};
static const Color HELP_BOX = {204, 204, 204, 255};
static const char HELP_BANNER[] = "Help Mode: Hover over a control to learn more about it.";

static const Rectangle WHOLE = {0, 0, 1e9f, 1e9f};

// Copies the part of a render texture inside area (window pixels) to the same
// place in the window, upright: render textures are stored bottom-up. Where a
// target is fully transparent a copy leaves the window exactly as it was, so a
// layer that is mostly empty is copied only where it has something.
static void drawTarget(const RenderTexture2D &target, Rectangle area)
{
    float w = (float)target.texture.width, h = (float)target.texture.height;
    float x0 = fmaxf(0, floorf(area.x)), y0 = fmaxf(0, floorf(area.y));
    float x1 = fminf(w, ceilf(area.x + area.width)), y1 = fminf(h, ceilf(area.y + area.height));
    if (x1 <= x0 || y1 <= y0) return;
    Rectangle src = {x0, h - y1, x1 - x0, -(y1 - y0)};
    DrawTextureRec(target.texture, src, Vector2{x0, y0}, UNTINTED);
}

// Copies a render texture, then its outlines on top through the edge shader.
static void drawTargetOutlined(const RenderTexture2D &target, Rectangle area)
{
    drawTarget(target, area);
    BeginShaderMode(outlineShader);
    drawTarget(target, area);
    EndShaderMode();
}

// Grows a screen rectangle to hold a model's box placed at a world position.
// The edge shader darkens one pixel beyond a shape, so keep a margin.
static void growByModel(Rectangle *r, bool *any, int model, Vector3 at, float scale)
{
    const BoundingBox &b = sceneModelBounds[model];
    for (int i = 0; i < 8; i++) {
        Vector3 corner = {at.x + scale * ((i & 1) ? b.max.x : b.min.x), at.y + scale * ((i & 2) ? b.max.y : b.min.y),
                          at.z + scale * ((i & 4) ? b.max.z : b.min.z)};
        Vector2 p = GetWorldToScreen(corner, sceneCamera);
        Rectangle q = {p.x - 4, p.y - 4, 8, 8};
        if (!*any) {
            *r = q;
            *any = true;
            continue;
        }
        float x1 = fmaxf(r->x + r->width, q.x + q.width), y1 = fmaxf(r->y + r->height, q.y + q.height);
        r->x = fminf(r->x, q.x);
        r->y = fminf(r->y, q.y);
        r->width = x1 - r->x;
        r->height = y1 - r->y;
    }
}

// The window area the plug layer can cover this frame; false when it is empty.
static bool plugArea(Rectangle *area)
{
    bool any = false;
    const InputState *in = inputState();
    if (in->draggedJack >= 0) {
        growByModel(area, &any, MODEL_PLUG, in->dragCable.fromPos, 1);
        growByModel(area, &any, MODEL_PLUG, in->dragCable.toPos, 1);
    }
    const Cable *cables = cableTable();
    for (int s = 0; s < cableCapacity(); s++) {
        if (!cables[s].inUse) continue;
        growByModel(area, &any, MODEL_PLUG_INSERTED, cables[s].fromPos, 1);
        growByModel(area, &any, MODEL_PLUG_INSERTED, cables[s].toPos, 1);
    }
    return any;
}

static void drawIcon(const Texture2D &tex, Vector2 pos)
{
    DrawTextureRec(tex, Rectangle{0, 0, (float)tex.width, (float)tex.height}, pos, UNTINTED);
}

void drawFrame()
{
    const Control *controls = controlTable();

    // The face into sceneTarget.
    BeginTextureMode(sceneTarget);
    ClearBackground(CLEAR_GREY);
    drawBackground();
    BeginMode3D(sceneCamera);
    drawFaceplate();
    drawPlugs();
    for (int id = 1; id < CONTROL_COUNT; id++) drawControl(controls[id]);
    EndMode3D();
    EndTextureMode();

    // The plugs alone into plugTarget, so they can be laid over the labels.
    BeginTextureMode(plugTarget);
    BeginMode3D(sceneCamera);
    ClearBackground(TRANSPARENT);
    drawPlugs();
    EndMode3D();
    EndTextureMode();

    BeginDrawing();
    ClearBackground(CLEAR_GREY);
    drawTargetOutlined(sceneTarget, WHOLE);
    drawScope();
    drawLabels();
    Rectangle plugs;
    if (plugArea(&plugs)) drawTargetOutlined(plugTarget, plugs);
    drawCables();
    drawIcon(sceneTextures[TEX_LOGO], logoPos);
    drawIcon(sceneTextures[TEX_HELP], helpIconPos);
    drawIcon(sceneTextures[TEX_MIDI], midiIconPos);
    if (inputState()->helpMode) drawHelpOverlay();
    EndDrawing();
}

void drawLabels()
{
    const Control *controls = controlTable();
    for (int id = 1; id < CONTROL_COUNT; id++)
        if (controls[id].kind != ControlKind::Key) DrawTextEx(labelFont, controls[id].name, controls[id].labelPos, 13, 1, INK);
    if (!smallLayout)
        for (int p = 0; p < PANEL_COUNT; p++) DrawTextEx(labelFont, panelTable[p].name, panelTable[p].labelPos, 13, 1, INK);
    const char *device = midiDeviceName();
    if (device) DrawTextEx(labelFont, device, Vector2{92, (float)(GetScreenHeight() - 18)}, 13, 1, INK);
}

void drawBackground()
{
    const Texture2D &bg = sceneTextures[TEX_BACKGROUND];
    DrawTexturePro(bg, Rectangle{0, 0, (float)bg.width, (float)bg.height},
                   Rectangle{0, 0, (float)GetScreenWidth(), (float)GetScreenHeight()}, Vector2{0, 0}, 0, UNTINTED);
}

void drawFaceplate()
{
    const float *hsv = panelTable[0].hsv;
    Color face = ColorFromHSV(hsv[0], hsv[1], hsv[2]);
    DrawCube(faceplateCenter, faceplateSize.x, 1.0f, faceplateSize.z, face);
    for (int p = 0; p < PANEL_COUNT; p++)
        DrawCubeWires(panelTable[p].position, panelTable[p].size.x - 0.2f, 1.06f, panelTable[p].size.z - 0.2f, INK);
}

void drawControl(const Control &c)
{
    switch (c.kind) {
    case ControlKind::Knob: drawKnob(c); break;
    case ControlKind::Jack: drawJack(c); break;
    case ControlKind::Key: drawKey(c); break;
    default: break;
    }
}

void drawKnob(const Control &c)
{
    // +135 degrees at 0, rest at 0.5, -135 at 1: raising the value turns it clockwise.
    float angle = (c.value - 0.5f) * 2.0f * -135.0f;
    DrawModelEx(sceneModels[c.variant], c.position, Vector3{0, 1, 0}, angle, Vector3{1, 1, 1}, UNTINTED);
}

void drawJack(const Control &c)
{
    DrawModelEx(sceneModels[MODEL_JACK], c.position, Vector3{0, 1, 0}, 0, Vector3{1, 1, 1}, UNTINTED);
}

void drawKey(const Control &c)
{
    int held = inputState()->heldKey;
    bool isHeld = held > 0 && &controlTable()[held] == &c;
    DrawModelEx(sceneModels[c.variant], c.position, Vector3{1, 0, 0}, isHeld ? 8.0f : 0.0f, Vector3{0.5f, 0.5f, 0.5f},
                UNTINTED);
    if (c.variant != MODEL_KEY_BLACK && !isHeld) {
        Vector3 size = {c.bounds.max.x - c.bounds.min.x, c.bounds.max.y - c.bounds.min.y, c.bounds.max.z - c.bounds.min.z};
        Vector3 centre = {(c.bounds.min.x + c.bounds.max.x) * 0.5f, (c.bounds.min.y + c.bounds.max.y) * 0.5f,
                          (c.bounds.min.z + c.bounds.max.z) * 0.5f};
        DrawCubeWires(centre, size.x, size.y, size.z, INK);
    }
}

void drawPlugs()
{
    const InputState *in = inputState();
    if (in->draggedJack >= 0) {
        DrawModelEx(sceneModels[MODEL_PLUG], in->dragCable.fromPos, Vector3{0, 1, 0}, 0, Vector3{1, 1, 1}, UNTINTED);
        DrawModelEx(sceneModels[MODEL_PLUG], in->dragCable.toPos, Vector3{0, 1, 0}, 0, Vector3{1, 1, 1}, UNTINTED);
    }
    const Cable *cables = cableTable();
    for (int s = 0; s < cableCapacity(); s++) {
        if (!cables[s].inUse) continue;
        DrawModelEx(sceneModels[MODEL_PLUG_INSERTED], cables[s].fromPos, Vector3{0, 1, 0}, 0, Vector3{1, 1, 1}, UNTINTED);
        DrawModelEx(sceneModels[MODEL_PLUG_INSERTED], cables[s].toPos, Vector3{0, 1, 0}, 0, Vector3{1, 1, 1}, UNTINTED);
    }
}

// One cable: a black border stroke, then the yellow fill along the same curve.
static void drawCable(const Cable &c)
{
    DrawSplineCatmullRom(c.spline, 4, 14, INK);
    DrawSplineCatmullRom(c.spline, 4, 10, CABLE_YELLOW);
}

void drawCables()
{
    const InputState *in = inputState();
    if (in->draggedJack >= 0) drawCable(in->dragCable);
    const Cable *cables = cableTable();
    for (int s = 0; s < cableCapacity(); s++)
        if (cables[s].inUse) drawCable(cables[s]);
}

void drawScope()
{
    int x0 = (GetScreenWidth() - 400) / 2;
    DrawRectangle(x0 - 1, 19, 402, 102, Color{200, 200, 200, 255});
    DrawLine(x0, 70, x0 + 400, 70, Color{255, 255, 255, 255});
    // Oldest sample at the left; the ring may advance while we read, which only
    // mixes a few newer samples into the oldest end of the trace.
    int oldest = scopeOldestIndex();
    int prevY = (int)(70.0f - 150.0f * scopeSample(oldest % SCOPE_SIZE));
    for (int k = 0; k < SCOPE_SIZE - 1; k++) {
        int y = (int)(70.0f - 150.0f * scopeSample((oldest + k + 1) % SCOPE_SIZE));
        DrawLine(x0 + 1 + k, prevY, x0 + 2 + k, y, INK);
        prevY = y;
    }
    DrawRectangleLines(x0 - 1, 19, 402, 102, Color{130, 130, 130, 255});
}

void drawHelpOverlay()
{
    int w = GetScreenWidth(), h = GetScreenHeight();
    DrawRectangle(0, 0, w, h, HELP_TINT);
    Vector2 banner = MeasureTextEx(titleFont, HELP_BANNER, 20, 1);
    DrawTextEx(titleFont, HELP_BANNER, Vector2{w / 2.0f - banner.x / 2.0f, (float)(h - 64)}, 20, 1, INK);

    int hit = pickControl();
    Vector2 tip = GetMousePosition();
    tip.x += 20;
    tip.y += 20;
    if (hit != -1) {
        // The hovered control shows through the tint in its own colours.
        const Control &c = controlTable()[hit];
        BeginTextureMode(plugTarget);
        BeginMode3D(sceneCamera);
        ClearBackground(TRANSPARENT);
        drawControl(c);
        EndMode3D();
        EndTextureMode();
        Rectangle area;
        bool any = false;
        float scale = c.kind == ControlKind::Key ? 0.5f : 1.0f;
        growByModel(&area, &any, c.kind == ControlKind::Jack ? MODEL_JACK : c.variant, c.position, scale);
        // A knob turns inside its box's circle; a dipped key leans out of its box.
        area = Rectangle{area.x - 24, area.y - 24, area.width + 48, area.height + 48};
        drawTarget(plugTarget, area);
        int boxHeight = drawTooltip(controlHelp[hit], tip.x, tip.y);
        tip.y += boxHeight + 10;
        drawTooltip(kindHelp[(int)c.kind], tip.x, tip.y);
    } else {
        DrawRectangle((int)tip.x, (int)tip.y, 40, 24, HELP_BOX);
        DrawTextEx(labelFont, "???", Vector2{tip.x + 10, tip.y + 10}, 13, 1, INK);
    }
}

int drawTooltip(const HelpEntry &entry, float x, float y)
{
    if (x + 200 > GetScreenWidth()) x = (float)(GetScreenWidth() - 200);
    int boxHeight = (int)(MeasureTextEx(labelFont, entry.text, 13, 1).y + 40);
    DrawRectangle((int)x, (int)y, 200, boxHeight, HELP_BOX);
    DrawTextEx(labelFont, entry.title, Vector2{x + 10, y + 10}, 13, 1, INK);
    DrawLine((int)(x + 10), (int)(y + 20), (int)(x + 190), (int)(y + 20), INK);
    DrawTextEx(labelFont, entry.text, Vector2{x + 10, y + 30}, 13, 1, INK);
    return boxHeight;
}
