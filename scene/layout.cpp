// Scene layout: one pass at start-up that places the face in the world and
// on the screen. Every control gets its world position, its hit box and the
// screen spot of its label; every panel gets the spot of its heading; the
// faceplate slab gets its box; the icons and the logo get their corners.
#include "scene/scene.h"
#include "panel/constants.h"
#include "raymath.h"

// Hit boxes of keys shrink with the half-size key models; jack boxes grow
// well past the small socket so a plug is easy to grab.
static const Vector3 KEY_BOX_SCALE = {0.5f, 0.5f, 0.5f};
static const Vector3 JACK_BOX_SCALE = {1.6f, 1.6f, 1.6f};

// The model-space box of a control, before it is moved to its place.
static BoundingBox modelBox(const Control &c)
{
    if (c.kind == ControlKind::Knob) return GetModelBoundingBox(sceneModels[c.variant]);
    if (c.kind == ControlKind::Key) {
        BoundingBox b = GetModelBoundingBox(sceneModels[c.variant]);
        return BoundingBox{Vector3Multiply(b.min, KEY_BOX_SCALE), Vector3Multiply(b.max, KEY_BOX_SCALE)};
    }
    // Scaled about the model's origin, not about the box centre.
    BoundingBox b = GetModelBoundingBox(sceneModels[MODEL_JACK]);
    return BoundingBox{Vector3Multiply(b.min, JACK_BOX_SCALE), Vector3Multiply(b.max, JACK_BOX_SCALE)};
}

void layoutSceneSized(int width, int height)
{
    smallLayout = isSmallLayout(height);
    helpIconPos = Vector2{8.0f, (float)(height - 38)};
    midiIconPos = Vector2{48.0f, (float)(height - 38)};

    sceneCamera = Camera3D{};
    sceneCamera.position = Vector3{0.0f, 22.0f, 14.4f};
    sceneCamera.target = Vector3{0.0f, 0.0f, 0.0f};
    sceneCamera.up = Vector3{0.0f, 1.0f, 0.0f};
    sceneCamera.fovy = 45.0f;
    sceneCamera.projection = CAMERA_PERSPECTIVE;

    Control *controls = controlTable();
    for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++) {
        Control &c = controls[id];
        const Panel &p = panelTable[c.panel];
        c.position.x += p.position.x;
        c.position.z += p.position.z;
        c.value = c.defaultValue;

        BoundingBox b = modelBox(c);
        c.bounds = BoundingBox{Vector3Add(b.min, c.position), Vector3Add(b.max, c.position)};

        // The label hangs centred under the front edge of the box.
        Vector3 anchor = {(c.bounds.min.x + c.bounds.max.x) / 2.0f, c.bounds.min.y, c.bounds.max.z};
        c.labelPos = GetWorldToScreenEx(anchor, sceneCamera, width, height);
        Vector2 size = MeasureTextEx(labelFont, c.name, LABEL_FONT_SIZE, TEXT_SPACING);
        c.labelPos.x -= size.x / 2.0f;
        c.labelPos.y += 4.0f;
    }

    // The faceplate spans every panel and always takes in the origin.
    Vector3 lo = {0.0f, 0.0f, 0.0f};
    Vector3 hi = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < PANEL_COUNT; i++) {
        Panel &p = panelTable[i];
        Vector3 corner = {p.position.x - p.size.x / 2.0f + 0.1f, p.position.y + p.size.y / 2.0f,
                          p.position.z + p.size.z / 2.0f - 0.1f};
        p.labelPos = GetWorldToScreenEx(corner, sceneCamera, width, height);
        p.labelPos.x += 6.0f;
        p.labelPos.y -= 14.0f;

        Vector3 half = Vector3Scale(p.size, 0.5f);
        lo = Vector3Min(lo, Vector3Subtract(p.position, half));
        hi = Vector3Max(hi, Vector3Add(p.position, half));
    }

    logoPos = smallLayout ? Vector2{82.0f, 302.0f} : Vector2{112.0f, 410.0f};
    faceplateCenter = Vector3Scale(Vector3Add(lo, hi), 0.5f);
    faceplateSize = Vector3Subtract(hi, lo);
    faceplateSize.x += 0.5f;
    faceplateSize.z += 0.5f;
}

void layoutScene() { layoutSceneSized(GetScreenWidth(), GetScreenHeight()); }
