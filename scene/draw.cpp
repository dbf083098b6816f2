// Drawing the face: the cached off-screen layers, when each is rendered again,
// and how they compose with the scope, the cables and the help overlay.
#include <cmath>
#include <cstring>
#include <initializer_list>
#include "midi/midi.h"
#include "scene/scene.h"
#include "rlgl.h"
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
// The window area drawing is clipped to now (scissor): what lies wholly
// outside it would put no pixel, so it is not drawn at all, which spares the
// renderer its triangles when a frame redraws a knob's box or a cable's path.
static Rectangle drawClip = WHOLE;
static bool clipping() { return drawClip.width < WHOLE.width; }

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

static bool overlaps(Rectangle a, Rectangle b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// Grows r to hold q; the first rectangle sets it.
static void growRect(Rectangle *r, bool *any, Rectangle q)
{
    if (!*any) {
        *r = q;
        *any = true;
        return;
    }
    float x1 = fmaxf(r->x + r->width, q.x + q.width), y1 = fmaxf(r->y + r->height, q.y + q.height);
    r->x = fminf(r->x, q.x);
    r->y = fminf(r->y, q.y);
    r->width = x1 - r->x;
    r->height = y1 - r->y;
}

// Grows a screen rectangle to hold a world point where it lands on screen.
// The edge shader darkens one pixel beyond a shape, so keep a margin.
static void growByPoint(Rectangle *r, bool *any, Vector3 world)
{
    Vector2 p = GetWorldToScreen(world, sceneCamera);
    growRect(r, any, Rectangle{p.x - 4, p.y - 4, 8, 8});
}

// Grows a screen rectangle to hold a model's box placed at a world position.
static void growByModel(Rectangle *r, bool *any, int model, Vector3 at, float scale)
{
    const BoundingBox &b = sceneModelBounds[model];
    for (int i = 0; i < 8; i++)
        growByPoint(r, any, Vector3{at.x + scale * ((i & 1) ? b.max.x : b.min.x), at.y + scale * ((i & 2) ? b.max.y : b.min.y),
                                    at.z + scale * ((i & 4) ? b.max.z : b.min.z)});
}

static void drawIcon(const Texture2D &tex, Vector2 pos)
{
    DrawTextureRec(tex, Rectangle{0, 0, (float)tex.width, (float)tex.height}, pos, UNTINTED);
}

// ---- the cached layers ----
//
// Rendering the 3D face costs far more than copying a picture of it, so the
// window is composed from off-screen layers, each rendered again only when what
// it shows has changed:
//
//   layer  holds                                        rendered again when
//   scene  background, faceplate, controls, all plugs   the window size, a control's value, the held
//                                                       keys, a cable, the ends of the cable being pulled
//   plugs  the plugs alone, to lay over the labels      the window size, a cable, the pulled cable
//   hover  the control under the pointer in help mode   help mode, the hovered control, a value, the held keys
//   base   window grey, scene, the scene's outlines     the scene
//   face   base, labels, outlined plugs, cables, icons  the base, the plugs, a cable, the pulled cable,
//                                                       the MIDI device's name
//   help   face under the help tint and banner          the face, help mode
//
// The window is then: face (help in help mode); inside the scope's area base,
// scope and again what lies over the scope (labels, plugs, cables, icons, the
// tint and banner), clipped to that area; in help mode the hover layer and the
// tooltips on top. A frame that only turns knobs or dips keys is composed from
// the scene layer straight into its rectangles (see drawFrame), and the base
// and face layers catch up when a later frame reads them.
//
// Nobody marks anything dirty: each frame captures the state the picture is
// drawn from (FrameState), compares it with the state each layer was last
// rendered from, part by part, and renders again the layers whose parts changed
// (layerRules). A layer is rendered again only inside the window area the
// change can reach (changedArea): a turned knob's or a dipped key's box turned
// any way, the plugs and curves of the cables that moved, before and after. A
// new window size or device name renders the whole layer. Every area is
// rendered from scratch (cleared, then every pass clipped to it), so the layer
// ends up as a whole render would leave it.

enum StatePart : unsigned {
    PART_SIZE = 1u << 0,     // window size
    PART_VALUES = 1u << 1,   // every control's value
    PART_HELD = 1u << 2,     // the keys held with the mouse and the computer keyboard
    PART_CABLES = 1u << 3,   // the patched cables
    PART_PULL = 1u << 4,     // the cable being pulled, its ends and curve
    PART_DEVICE = 1u << 5,   // the MIDI device's name
    PART_HELP = 1u << 6,     // help mode on or off
    PART_HOVER = 1u << 7,    // the control under the pointer, in help mode
    PART_POINTER = 1u << 8,  // the pointer, in help mode (the tooltips follow it)
    PART_SCOPE = 1u << 9,    // the scope trace's pixel rows
};

enum Layer { LAYER_SCENE, LAYER_PLUGS, LAYER_HOVER, LAYER_BASE, LAYER_FACE, LAYER_HELP, LAYER_COUNT };

// What each layer is drawn from: parts of the state and layers beneath it.
struct LayerRule {
    unsigned parts;
    int under[2];  // layers it copies, -1 when none
};

static const LayerRule layerRules[LAYER_COUNT] = {
    /* scene */ {PART_SIZE | PART_VALUES | PART_HELD | PART_CABLES | PART_PULL, {-1, -1}},
    /* plugs */ {PART_SIZE | PART_CABLES | PART_PULL, {-1, -1}},
    /* hover */ {PART_SIZE | PART_VALUES | PART_HELD | PART_HELP | PART_HOVER, {-1, -1}},
    /* base  */ {PART_SIZE, {LAYER_SCENE, -1}},
    /* face  */ {PART_SIZE | PART_CABLES | PART_PULL | PART_DEVICE, {LAYER_BASE, LAYER_PLUGS}},
    /* help  */ {PART_SIZE | PART_HELP, {LAYER_FACE, -1}},
};

// One cable as drawn; all four-byte fields, so memcmp sees no padding.
struct CableShape {
    int32_t inUse, from, to;
    Vector3 fromPos, toPos;
    Vector2 spline[4];
};

// Everything the window's picture is drawn from.
struct FrameState {
    int32_t width, height;
    float values[CONTROL_COUNT];
    uint64_t heldKeys;  // bit per control id: the key shows held
    CableShape cables[CABLE_SLOTS];
    CableShape pulled;  // inUse while a cable is being pulled
    const char *device;
    int32_t help, hover;
    Vector2 pointer;
    int16_t scopeY[SCOPE_SIZE];  // trace rows, oldest sample first
};

static FrameState current, drawn;           // this frame's state and the last drawn frame's
static unsigned layerValid;                 // bit per layer: its picture matches drawnLayer
static FrameState drawnLayer[LAYER_COUNT];  // the state each layer was last rendered from
static bool windowValid;                    // the window shows drawn

static CableShape shapeOf(const Cable &c, bool inUse)
{
    CableShape s = {};
    if (!inUse) return s;
    s = CableShape{1, c.from, c.to, c.fromPos, c.toPos, {c.spline[0], c.spline[1], c.spline[2], c.spline[3]}};
    return s;
}

// The trace row of one scope sample.
static int16_t scopeRow(float sample) { return (int16_t)(int)((float)SCOPE_MIDDLE - (float)SCOPE_GAIN * sample); }

static void captureState(FrameState *s)
{
    const InputState *in = inputState();
    s->width = GetScreenWidth();
    s->height = GetScreenHeight();
    const Control *controls = controlTable();
    for (int id = 0; id < CONTROL_COUNT; id++) s->values[id] = controls[id].value;
    s->heldKeys = 0;
    for (int id = KEY_FIRST; id <= KEY_LAST; id++)
        if (keyHeld(id)) s->heldKeys |= 1ull << id;
    const Cable *cables = cableTable();
    for (int i = 0; i < CABLE_SLOTS; i++) s->cables[i] = shapeOf(cables[i], cables[i].inUse);
    s->pulled = shapeOf(in->dragCable, in->draggedJack >= 0);
    s->device = midiDeviceName();
    s->help = in->helpMode;
    s->hover = in->helpMode ? pickControl() : -1;
    s->pointer = in->helpMode ? GetMousePosition() : Vector2{0, 0};
    // Oldest sample at the left; the ring may advance while we read, which only
    // mixes a few newer samples into the oldest end of the trace.
    int oldest = scopeOldestIndex();
    for (int k = 0; k < SCOPE_SIZE; k++) s->scopeY[k] = scopeRow(scopeSample((oldest + k) % SCOPE_SIZE));
}

#define SAME_FIELD(f) (std::memcmp(&a.f, &b.f, sizeof a.f) == 0)

// The parts in which two states differ.
static unsigned changedParts(const FrameState &a, const FrameState &b)
{
    unsigned parts = 0;
    if (!SAME_FIELD(width) || !SAME_FIELD(height)) parts |= PART_SIZE;
    if (!SAME_FIELD(values)) parts |= PART_VALUES;
    if (!SAME_FIELD(heldKeys)) parts |= PART_HELD;
    if (!SAME_FIELD(cables)) parts |= PART_CABLES;
    if (!SAME_FIELD(pulled)) parts |= PART_PULL;
    if (!SAME_FIELD(device)) parts |= PART_DEVICE;
    if (!SAME_FIELD(help)) parts |= PART_HELP;
    if (!SAME_FIELD(hover)) parts |= PART_HOVER;
    if (!SAME_FIELD(pointer)) parts |= PART_POINTER;
    if (!SAME_FIELD(scopeY)) parts |= PART_SCOPE;
    return parts;
}

// The parts a layer shows: its own and those of every layer it copies.
static unsigned layerParts(int layer)
{
    unsigned parts = layerRules[layer].parts;
    for (int under : layerRules[layer].under)
        if (under >= 0) parts |= layerParts(under);
    return parts;
}

// Whether a layer's picture still shows the current state.
static bool layerUpToDate(int layer)
{
    return (layerValid & (1u << layer)) && !(changedParts(drawnLayer[layer], current) & layerParts(layer));
}

// Grows r by where a control can be on screen in any pose: its model's box
// turned any way about its origin, and its hit box (a key's outline).
static void growByControl(Rectangle *r, bool *any, int id)
{
    const Control &c = controlTable()[id];
    const BoundingBox &b = sceneModelBounds[c.kind == ControlKind::Jack ? MODEL_JACK : c.variant];
    float scale = c.kind == ControlKind::Key ? 0.5f : 1.0f, reach = 0;
    for (float x : {b.min.x, b.max.x})
        for (float y : {b.min.y, b.max.y})
            for (float z : {b.min.z, b.max.z}) reach = fmaxf(reach, scale * sqrtf(x * x + y * y + z * z));
    for (int i = 0; i < 8; i++) {
        Vector3 p = {c.position.x + ((i & 1) ? reach : -reach), c.position.y + ((i & 2) ? reach : -reach),
                     c.position.z + ((i & 4) ? reach : -reach)};
        Vector3 q = {(i & 1) ? c.bounds.max.x : c.bounds.min.x, (i & 2) ? c.bounds.max.y : c.bounds.min.y,
                     (i & 4) ? c.bounds.max.z : c.bounds.min.z};
        growByPoint(r, any, p);
        growByPoint(r, any, q);
    }
}

// Whether any pose of a control can put a pixel inside the clip.
static bool controlMeetsClip(int id)
{
    if (!clipping()) return true;
    Rectangle r;
    bool any = false;
    growByControl(&r, &any, id);
    return overlaps(r, drawClip);
}

// Whole pixels, two more all round (an outline reaches one pixel beyond a
// shape), inside a window of the given size; false when nothing is left.
static bool pixelRect(Rectangle r, int width, int height, Rectangle *out)
{
    float x0 = fmaxf(0, floorf(r.x) - 2), y0 = fmaxf(0, floorf(r.y) - 2);
    float x1 = fminf((float)width, ceilf(r.x + r.width) + 2), y1 = fminf((float)height, ceilf(r.y + r.height) + 2);
    if (x1 <= x0 || y1 <= y0) return false;
    *out = Rectangle{x0, y0, x1 - x0, y1 - y0};
    return true;
}

static float areaOf(Rectangle r) { return r.width * r.height; }

static Rectangle unionOf(Rectangle a, Rectangle b)
{
    bool any = false;
    Rectangle u;
    growRect(&u, &any, a);
    growRect(&u, &any, b);
    return u;
}

// A few window rectangles that together hold everything that changed.
enum { DAMAGE_MAX = 8 };
struct Damage {
    Rectangle rects[DAMAGE_MAX];
    int count;
};

// Adds one changed area to d. Two rectangles become one where their union is
// no bigger than the two apart; when the list is full, the pair whose union
// adds the least is joined.
static void addDamage(Damage *d, Rectangle r, const FrameState &s)
{
    if (!pixelRect(r, s.width, s.height, &r)) return;
    if (d->count == DAMAGE_MAX) {
        int bi = 0, bj = 1;
        float best = 1e30f;
        for (int i = 0; i < d->count; i++)
            for (int j = i + 1; j < d->count; j++) {
                float extra = areaOf(unionOf(d->rects[i], d->rects[j])) - areaOf(d->rects[i]) - areaOf(d->rects[j]);
                if (extra < best) best = extra, bi = i, bj = j;
            }
        d->rects[bi] = unionOf(d->rects[bi], d->rects[bj]);
        d->rects[bj] = d->rects[--d->count];
    }
    d->rects[d->count++] = r;
    for (bool merged = true; merged;) {
        merged = false;
        for (int i = 0; i < d->count && !merged; i++)
            for (int j = i + 1; j < d->count && !merged; j++) {
                Rectangle u = unionOf(d->rects[i], d->rects[j]);
                if (areaOf(u) > areaOf(d->rects[i]) + areaOf(d->rects[j])) continue;
                d->rects[i] = u;
                d->rects[j] = d->rects[--d->count];
                merged = true;
            }
    }
}

static void addControl(Damage *d, int id, const FrameState &s)
{
    Rectangle r;
    bool any = false;
    growByControl(&r, &any, id);
    addDamage(d, r, s);
}

static void addModel(Damage *d, int model, Vector3 at, const FrameState &s)
{
    Rectangle r;
    bool any = false;
    growByModel(&r, &any, model, at, 1);
    addDamage(d, r, s);
}

// The cubic Bezier points of a cable's curve, the Catmull-Rom piece from
// spline[1] to spline[2] that raylib draws.
static void cableBezier(const Vector2 p[4], Vector2 bezier[4])
{
    bezier[0] = p[1];
    bezier[1] = Vector2{p[1].x + (p[2].x - p[0].x) / 6, p[1].y + (p[2].y - p[0].y) / 6};
    bezier[2] = Vector2{p[2].x - (p[3].x - p[1].x) / 6, p[2].y - (p[3].y - p[1].y) / 6};
    bezier[3] = p[2];
}

// A point of a cubic Bezier curve and its derivative at t.
static Vector2 bezierAt(const Vector2 b[4], float t, Vector2 *slope)
{
    float u = 1 - t;
    float w[4] = {u * u * u, 3 * u * u * t, 3 * u * t * t, t * t * t};
    float dw[4] = {-3 * u * u, 3 * u * u - 6 * u * t, 6 * u * t - 3 * t * t, 3 * t * t};
    Vector2 p = {0, 0}, dp = {0, 0};
    for (int i = 0; i < 4; i++) {
        p = Vector2{p.x + w[i] * b[i].x, p.y + w[i] * b[i].y};
        dp = Vector2{dp.x + dw[i] * b[i].x, dp.y + dw[i] * b[i].y};
    }
    *slope = dp;
    return p;
}

// Adds a cable's plugs and, for the layers that draw it, its curve. The curve
// from spline[1] to spline[2] is a cubic Bezier; each quarter of it stays
// inside the box of its own four Bezier points. raylib draws the curve as 24
// straight pieces, so every piece lies in one quarter; the border stroke
// reaches 7 pixels from the curve.
static void addCable(Damage *d, const CableShape &c, int plugModel, bool curve, const FrameState &s)
{
    if (!c.inUse) return;
    addModel(d, plugModel, c.fromPos, s);
    addModel(d, plugModel, c.toPos, s);
    if (!curve) return;
    Vector2 bezier[4];
    cableBezier(c.spline, bezier);
    const int PIECES = 4;
    for (int k = 0; k < PIECES; k++) {
        float t0 = (float)k / PIECES, t1 = (float)(k + 1) / PIECES, third = (t1 - t0) / 3;
        Vector2 d0, d1, a = bezierAt(bezier, t0, &d0), b = bezierAt(bezier, t1, &d1);
        Vector2 piece[4] = {a, {a.x + third * d0.x, a.y + third * d0.y}, {b.x - third * d1.x, b.y - third * d1.y}, b};
        Rectangle r;
        bool any = false;
        for (Vector2 q : piece) growRect(&r, &any, Rectangle{q.x - 12, q.y - 12, 24, 24});
        addDamage(d, r, s);
    }
}

// The window areas the plug layer covers in the current state: the pulled
// cable's plugs, then each patched cable's, each plug's box in whole pixels,
// with boxes that overlap joined, so that no pixel is in two of them (an
// outline laid twice would darken). Returns how many there are. Between the
// plugs the layer is clear, so copying it box by box lays the same pixels as
// copying it over one box around them all, at a fraction of the cost.
enum { PLUG_BOXES = 2 + 2 * CABLE_SLOTS };
static int plugAreas(Rectangle boxes[PLUG_BOXES])
{
    int n = 0;
    auto add = [&](int model, Vector3 at) {
        Rectangle r;
        bool any = false;
        growByModel(&r, &any, model, at, 1);
        float x0 = floorf(r.x), y0 = floorf(r.y);
        boxes[n++] = Rectangle{x0, y0, ceilf(r.x + r.width) - x0, ceilf(r.y + r.height) - y0};
    };
    if (current.pulled.inUse)
        for (Vector3 at : {current.pulled.fromPos, current.pulled.toPos}) add(MODEL_PLUG, at);
    for (const CableShape &c : current.cables)
        if (c.inUse)
            for (Vector3 at : {c.fromPos, c.toPos}) add(MODEL_PLUG_INSERTED, at);
    for (bool joined = true; joined;) {
        joined = false;
        for (int i = 0; i < n && !joined; i++)
            for (int j = i + 1; j < n && !joined; j++) {
                if (!overlaps(boxes[i], boxes[j])) continue;
                boxes[i] = unionOf(boxes[i], boxes[j]);
                boxes[j] = boxes[--n];
                joined = true;
            }
    }
    return n;
}

// Collects the window areas in which two states' pictures of the given parts
// can differ (with curves: pictures that show the cables' curves, not only
// their plugs); false when that is the whole window.
static bool collectChanges(const FrameState &a, const FrameState &b, unsigned parts, bool curves, Damage *d)
{
    if (parts & ~(PART_VALUES | PART_HELD | PART_CABLES | PART_PULL | PART_HOVER)) return false;
    if (parts & PART_VALUES)
        for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++)
            if (a.values[id] != b.values[id]) addControl(d, id, b);
    if (parts & PART_HELD)
        for (int key = KEY_FIRST; key <= KEY_LAST; key++)
            if ((a.heldKeys ^ b.heldKeys) >> key & 1) addControl(d, key, b);
    if (parts & PART_HOVER)
        for (int id : {a.hover, b.hover})
            if (id != -1) addControl(d, id, b);
    if (parts & PART_CABLES)
        for (int i = 0; i < CABLE_SLOTS; i++)
            if (std::memcmp(&a.cables[i], &b.cables[i], sizeof a.cables[i]) != 0) {
                addCable(d, a.cables[i], MODEL_PLUG_INSERTED, curves, b);
                addCable(d, b.cables[i], MODEL_PLUG_INSERTED, curves, b);
            }
    if (parts & PART_PULL) {
        addCable(d, a.pulled, MODEL_PLUG, curves, b);
        addCable(d, b.pulled, MODEL_PLUG, curves, b);
    }
    return true;
}

static void markDrawn(int layer)
{
    layerValid |= 1u << layer;
    drawnLayer[layer] = current;
}

// Copies a target's picture inside area to where we draw, replacing what was
// there, alpha included: a straight copy, so a layer composed off screen lands
// exactly as if it had been composed here.
static void copyTarget(const RenderTexture2D &target, Rectangle area)
{
    rlSetBlendFactors(RL_ONE, RL_ZERO, RL_FUNC_ADD);
    BeginBlendMode(BLEND_CUSTOM);
    drawTarget(target, area);
    EndBlendMode();
}

// Labels, plugs, cables and icons: what lies over the scene and the scope.
static void drawOverScene()
{
    drawLabels();
    Rectangle plugs[PLUG_BOXES];
    for (int i = 0, n = plugAreas(plugs); i < n; i++)
        if (overlaps(plugs[i], drawClip)) drawTargetOutlined(plugTarget, plugs[i]);
    drawCables();
    drawIcon(sceneTextures[TEX_LOGO], logoPos);
    drawIcon(sceneTextures[TEX_HELP], helpIconPos);
    drawIcon(sceneTextures[TEX_MIDI], midiIconPos);
}

// The window from the scene and plug layers, every pass in layer order.
static void composeFromScene()
{
    ClearBackground(CLEAR_GREY);
    drawTargetOutlined(sceneTarget, WHOLE);
    drawScope();
    drawOverScene();
    if (current.help) drawHelpOverlay();
}

static void clipTo(Rectangle r)
{
    drawClip = r;
    BeginScissorMode((int)r.x, (int)r.y, (int)r.width, (int)r.height);
}

static void endClip()
{
    drawClip = WHOLE;
    EndScissorMode();
}

// The scope's box, filled opaque under its trace.
static Rectangle scopeBox() { return Rectangle{(float)((current.width - SCOPE_SIZE) / 2 - 1), SCOPE_TOP, SCOPE_SIZE + 2, SCOPE_HEIGHT}; }

// The part of the window a state's scope strip covers: its box, and its trace
// wherever it swings, with a margin (a trace line reaches a pixel past its end
// rows).
static Rectangle scopeArea(const FrameState &s)
{
    float x0 = (float)((s.width - SCOPE_SIZE) / 2), top = SCOPE_TOP, bottom = SCOPE_TOP + SCOPE_HEIGHT;
    for (int16_t y : s.scopeY) top = fminf(top, y), bottom = fmaxf(bottom, y);
    return Rectangle{x0 - 3, top - 3, SCOPE_SIZE + 7, bottom - top + 7};
}

// The window inside area (whole pixels, inside the window) from the face
// layer: the scope's area is built again from the base, so what lies over the
// scope covers it as in composeFromScene. An area that is mostly the scope's
// (a held note's frames) is built from the base throughout: over the base,
// the labels and cables give the face's own pixels, and reading one layer
// rather than two keeps the frame one pass for the renderer (reading a second
// layer that it once drew into made it finish the pass so far and wait for
// its threads, every frame).
static void composeFromFace(Rectangle area)
{
    clipTo(area);
    Rectangle scope = scopeArea(current);
    float x0 = fmaxf(scope.x, area.x), y0 = fmaxf(scope.y, area.y);
    float x1 = fminf(scope.x + scope.width, area.x + area.width), y1 = fminf(scope.y + scope.height, area.y + area.height);
    bool meets = x1 > x0 && y1 > y0;
    if (meets && 2 * (x1 - x0) * (y1 - y0) >= areaOf(area))
        x0 = area.x, y0 = area.y, x1 = area.x + area.width, y1 = area.y + area.height;
    else
        copyTarget(current.help ? helpTarget : faceTarget, area);
    if (meets) {
        scope = Rectangle{x0, y0, x1 - x0, y1 - y0};
        clipTo(scope);
        // The scope's box is filled opaque: the base is needed only around it.
        Rectangle box = scopeBox();
        float bx1 = box.x + box.width, by1 = box.y + box.height;
        for (Rectangle ring : {Rectangle{x0, y0, x1 - x0, box.y - y0}, Rectangle{x0, by1, x1 - x0, y1 - by1},
                               Rectangle{x0, box.y, box.x - x0, box.height}, Rectangle{bx1, box.y, x1 - bx1, box.height}})
            if (ring.width > 0 && ring.height > 0) copyTarget(baseTarget, ring);
        drawScope();
        drawOverScene();
        if (current.help) drawHelpTint();
        clipTo(area);
    }
    if (current.help) drawHelpHover();
    endClip();
}

static RenderTexture2D &layerTarget(int layer)
{
    switch (layer) {
    case LAYER_SCENE: return sceneTarget;
    case LAYER_PLUGS: return plugTarget;
    case LAYER_HOVER: return hoverTarget;
    case LAYER_BASE: return baseTarget;
    case LAYER_FACE: return faceTarget;
    default: return helpTarget;
    }
}

// Every pass of one layer, from the current state.
static void drawLayer(int layer)
{
    switch (layer) {
    case LAYER_SCENE:
        ClearBackground(CLEAR_GREY);
        drawBackground();
        BeginMode3D(sceneCamera);
        drawFaceplate();
        drawPlugs();
        for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++)
            if (controlMeetsClip(id)) drawControl(controlTable()[id]);
        EndMode3D();
        break;
    case LAYER_PLUGS:  // the plugs alone, so they can be laid over the labels
        ClearBackground(TRANSPARENT);
        BeginMode3D(sceneCamera);
        drawPlugs();
        EndMode3D();
        break;
    case LAYER_HOVER:  // the hovered control alone, to show through the help tint in its own colours
        ClearBackground(TRANSPARENT);
        BeginMode3D(sceneCamera);
        if (current.hover != -1) drawControl(controlTable()[current.hover]);
        EndMode3D();
        break;
    case LAYER_BASE:
        ClearBackground(CLEAR_GREY);
        drawTargetOutlined(sceneTarget, WHOLE);
        break;
    case LAYER_FACE:
        copyTarget(baseTarget, WHOLE);
        drawOverScene();
        break;
    case LAYER_HELP:
        copyTarget(faceTarget, WHOLE);
        drawHelpTint();
        break;
    }
}

// Renders a layer from the current state inside the areas, or whole when areas is null.
static void renderLayer(int layer, const Damage *areas)
{
    BeginTextureMode(layerTarget(layer));
    if (!areas) drawLayer(layer);
    for (int i = 0; areas && i < areas->count; i++) {
        clipTo(areas->rects[i]);
        drawLayer(layer);
        endClip();
    }
    EndTextureMode();
    markDrawn(layer);
}

// ---- the window ----
//
// The window keeps what was presented last, and so does the back buffer while
// frames are presented part by part. Each frame redraws the back buffer only
// inside the rectangles whose picture changed and presents only those: one
// knob's box, the scope strip, a cable's curve before and after, the help
// boxes where they were and where they are. When the window system can copy
// part of the back buffer to the window, that is how a frame is presented;
// otherwise, or when most of the window changed, the buffers are swapped,
// after which the back buffer holds nothing we can count on and the next frame
// redraws all of it (presenting still only what changed).

static bool backValid;  // the back buffer shows drawn everywhere
static Damage unshown;  // what drawFrame changed that presentFrame has yet to show
static bool unshownWhole;

static Rectangle hoverArea(int id);
static Rectangle tooltipBox(const HelpEntry &entry, float x, float y);

// The window area the help boxes and the hovered control cover in a state in help mode.
static void addHelpHover(Damage *d, const FrameState &s)
{
    Vector2 tip = {s.pointer.x + 20, s.pointer.y + 20};
    if (s.hover == -1) {
        addDamage(d, Rectangle{floorf(tip.x), floorf(tip.y), 40, 24}, s);
        return;
    }
    addDamage(d, hoverArea(s.hover), s);
    const HelpEntry *entries[2] = {&controlHelp[s.hover], &kindHelp[(int)controlTable()[s.hover].kind]};
    for (const HelpEntry *e : entries) {
        Rectangle box = tooltipBox(*e, tip.x, tip.y);
        // A line longer than the box runs past its right edge.
        for (const char *text : {e->title, e->text})
            box.width = fmaxf(box.width, 10 + MeasureTextEx(labelFont, text, LABEL_FONT_SIZE, TEXT_SPACING).x + 4);
        addDamage(d, box, s);
        tip.y += box.height + 10;
    }
}

// The window areas in which the pictures of two states of the same window
// size can differ, given the parts in which they differ; false when that is
// the whole window.
static bool windowChanges(const FrameState &a, const FrameState &b, unsigned parts, Damage *d)
{
    if (parts & (PART_SIZE | PART_DEVICE | PART_HELP)) return false;
    collectChanges(a, b, parts & (PART_VALUES | PART_HELD | PART_CABLES | PART_PULL), true, d);
    if (b.help && (parts & (PART_HOVER | PART_POINTER))) addHelpHover(d, a), addHelpHover(d, b);
    if (parts & PART_SCOPE) addDamage(d, scopeArea(a), b), addDamage(d, scopeArea(b), b);
    return true;
}

bool frameChanged()
{
    if (!windowValid) return true;
    captureState(&current);
    return changedParts(drawn, current) != 0;
}

void invalidateFrame() { windowValid = false; }

void drawFrame()
{
    captureState(&current);
    unsigned moved = changedParts(drawn, current);
    Damage changes = {};
    bool whole = !windowValid || drawn.width != current.width || drawn.height != current.height ||
                 !windowChanges(drawn, current, moved, &changes);
    // A frame that turns knobs or dips keys and changes nothing else but the
    // scope is drawn from the scene layer straight into its rectangles: two
    // passes for the renderer (the scene inside the control's box, then the
    // window) rather than four, each waiting for the one before, through the
    // base and face layers. Those two catch up on the first frame that reads
    // them; the state they were last rendered from tells them where.
    bool direct = !whole && backValid && !current.help && (moved & (PART_VALUES | PART_HELD)) &&
                  !(moved & ~(PART_VALUES | PART_HELD | PART_SCOPE));
    for (int layer = 0; layer < LAYER_COUNT; layer++) {
        if (layer == LAYER_HOVER && (!current.help || current.hover == -1)) continue;  // not shown
        if (layer == LAYER_HELP && !current.help) continue;
        if (direct && (layer == LAYER_BASE || layer == LAYER_FACE)) continue;  // not read this frame
        if (layerUpToDate(layer)) continue;
        Damage areas = {};
        bool valid = layerValid & (1u << layer);
        unsigned parts = changedParts(drawnLayer[layer], current) & layerParts(layer);
        bool curves = layer == LAYER_FACE || layer == LAYER_HELP;
        bool part = valid && collectChanges(drawnLayer[layer], current, parts, curves, &areas) && areas.count > 0;
        renderLayer(layer, part ? &areas : nullptr);
    }
    Rectangle window = {0, 0, (float)current.width, (float)current.height};
    BeginDrawing();
    if (whole || !backValid) composeFromFace(window);
    else
        for (int i = 0; i < changes.count; i++) {
            if (direct) {
                clipTo(changes.rects[i]);
                composeFromScene();
                endClip();
            } else {
                composeFromFace(changes.rects[i]);
            }
        }
    EndDrawing();
    // What is still to be shown from earlier frames stays to be shown.
    unshownWhole = unshownWhole || whole;
    for (int i = 0; i < changes.count; i++) addDamage(&unshown, changes.rects[i], current);
    drawn = current;
    windowValid = backValid = true;
}

void presentFrame()
{
    static int part = -1;  // asked once: can the window system show part of the back buffer
    if (part < 0) part = canPresentPart();
    if (!unshownWhole && unshown.count == 0) return;  // nothing changed
    float shownArea = 0;
    for (int i = 0; i < unshown.count; i++) shownArea += areaOf(unshown.rects[i]);
    if (unshownWhole || !part || shownArea * 2 > (float)(drawn.width * drawn.height)) {
        SwapScreenBuffer();
        backValid = false;
    } else {
        for (int i = 0; i < unshown.count; i++) {
            const Rectangle &r = unshown.rects[i];
            presentPart((int)r.x, (int)r.y, (int)r.width, (int)r.height);
        }
    }
    unshown.count = 0;
    unshownWhole = false;
}

void drawFrameUncached()
{
    captureState(&current);
    renderLayer(LAYER_SCENE, nullptr);
    renderLayer(LAYER_PLUGS, nullptr);
    if (current.help && current.hover != -1) renderLayer(LAYER_HOVER, nullptr);
    BeginDrawing();
    composeFromScene();
    EndDrawing();
}

// One label, unless it lies wholly outside the clip: its measured box, with a
// font size to spare all round for glyphs that reach past it.
static void drawLabel(const char *text, Vector2 at)
{
    if (clipping()) {
        Vector2 size = MeasureTextEx(labelFont, text, LABEL_FONT_SIZE, TEXT_SPACING);
        const float m = LABEL_FONT_SIZE;
        if (!overlaps(Rectangle{at.x - m, at.y - m, size.x + 2 * m, size.y + 2 * m}, drawClip)) return;
    }
    DrawTextEx(labelFont, text, at, LABEL_FONT_SIZE, TEXT_SPACING, INK);
}

void drawLabels()
{
    const Control *controls = controlTable();
    for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++)
        if (controls[id].kind != ControlKind::Key) drawLabel(controls[id].name, controls[id].labelPos);
    if (!smallLayout)
        for (int p = 0; p < PANEL_COUNT; p++) drawLabel(panelTable[p].name, panelTable[p].labelPos);
    const char *device = midiDeviceName();
    if (device) DrawTextEx(labelFont, device, Vector2{92, (float)(GetScreenHeight() - 18)}, LABEL_FONT_SIZE, TEXT_SPACING, INK);
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
    const Control *table = controlTable();
    bool isHeld = &c >= table && &c < table + CONTROL_COUNT && keyHeld((int)(&c - table));
    DrawModelEx(sceneModels[c.variant], c.position, Vector3{1, 0, 0}, isHeld ? 8.0f : 0.0f, Vector3{0.5f, 0.5f, 0.5f},
                UNTINTED);
    if (c.variant != MODEL_KEY_BLACK && !isHeld) {
        Vector3 size = {c.bounds.max.x - c.bounds.min.x, c.bounds.max.y - c.bounds.min.y, c.bounds.max.z - c.bounds.min.z};
        Vector3 centre = {(c.bounds.min.x + c.bounds.max.x) * 0.5f, (c.bounds.min.y + c.bounds.max.y) * 0.5f,
                          (c.bounds.min.z + c.bounds.max.z) * 0.5f};
        DrawCubeWires(centre, size.x, size.y, size.z, INK);
    }
}

// One plug, unless its box lies wholly outside the clip: the renderer
// transforms every vertex of a model it is given, even where the scissor
// leaves none of its pixels (a plug costs about a tenth of a millisecond).
static void drawPlug(int model, Vector3 at)
{
    if (clipping()) {
        Rectangle r;
        bool any = false;
        growByModel(&r, &any, model, at, 1);
        if (!overlaps(r, drawClip)) return;
    }
    DrawModelEx(sceneModels[model], at, Vector3{0, 1, 0}, 0, Vector3{1, 1, 1}, UNTINTED);
}

void drawPlugs()
{
    const InputState *in = inputState();
    if (in->draggedJack >= 0) drawPlug(MODEL_PLUG, in->dragCable.fromPos), drawPlug(MODEL_PLUG, in->dragCable.toPos);
    const Cable *cables = cableTable();
    for (int s = 0; s < cableCapacity(); s++)
        if (cables[s].inUse) drawPlug(MODEL_PLUG_INSERTED, cables[s].fromPos), drawPlug(MODEL_PLUG_INSERTED, cables[s].toPos);
}

// One cable: a black border stroke, then the yellow fill along the same curve.
static void drawCable(const Cable &c)
{
    if (clipping()) {
        // The curve from spline[1] to spline[2] lies inside the box of its
        // Bezier points; the border stroke reaches 7 pixels from it.
        Vector2 bezier[4];
        cableBezier(c.spline, bezier);
        Rectangle r;
        bool any = false;
        for (Vector2 q : bezier) growRect(&r, &any, Rectangle{q.x - 12, q.y - 12, 24, 24});
        if (!overlaps(r, drawClip)) return;
    }
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
    int x0 = (current.width - SCOPE_SIZE) / 2;
    DrawRectangleRec(scopeBox(), Color{200, 200, 200, 255});
    DrawLine(x0, SCOPE_MIDDLE, x0 + SCOPE_SIZE, SCOPE_MIDDLE, Color{255, 255, 255, 255});
    for (int k = 0; k < SCOPE_SIZE - 1; k++) DrawLine(x0 + 1 + k, current.scopeY[k], x0 + 2 + k, current.scopeY[k + 1], INK);
    DrawRectangleLines(x0 - 1, SCOPE_TOP, SCOPE_SIZE + 2, SCOPE_HEIGHT, Color{130, 130, 130, 255});
}

void drawHelpOverlay()
{
    drawHelpTint();
    drawHelpHover();
}

void drawHelpTint()
{
    int w = GetScreenWidth(), h = GetScreenHeight();
    DrawRectangle(0, 0, w, h, HELP_TINT);
    Vector2 banner = MeasureTextEx(titleFont, HELP_BANNER, TITLE_FONT_SIZE, TEXT_SPACING);
    DrawTextEx(titleFont, HELP_BANNER, Vector2{w / 2.0f - banner.x / 2.0f, (float)(h - 64)}, TITLE_FONT_SIZE, TEXT_SPACING, INK);
}

// The area the hovered control is copied from its layer in: a knob turns
// inside its box's circle, and a dipped key leans out of its box.
static Rectangle hoverArea(int id)
{
    const Control &c = controlTable()[id];
    Rectangle area;
    bool any = false;
    float scale = c.kind == ControlKind::Key ? 0.5f : 1.0f;
    growByModel(&area, &any, c.kind == ControlKind::Jack ? MODEL_JACK : c.variant, c.position, scale);
    return Rectangle{area.x - 24, area.y - 24, area.width + 48, area.height + 48};
}

void drawHelpHover()
{
    int hit = current.hover;
    Vector2 tip = current.pointer;
    tip.x += 20;
    tip.y += 20;
    if (hit != -1) {
        // The hovered control shows through the tint in its own colours.
        const Control &c = controlTable()[hit];
        drawTarget(hoverTarget, hoverArea(hit));
        int boxHeight = drawTooltip(controlHelp[hit], tip.x, tip.y);
        tip.y += boxHeight + 10;
        drawTooltip(kindHelp[(int)c.kind], tip.x, tip.y);
    } else {
        DrawRectangle((int)tip.x, (int)tip.y, 40, 24, HELP_BOX);
        DrawTextEx(labelFont, "???", Vector2{tip.x + 10, tip.y + 10}, LABEL_FONT_SIZE, TEXT_SPACING, INK);
    }
}

// Where a help box for an entry at (x, y) lies: moved left to touch the
// window's right edge rather than cross it, as high as its text needs.
static Rectangle tooltipBox(const HelpEntry &entry, float x, float y)
{
    if (x + 200 > GetScreenWidth()) x = (float)(GetScreenWidth() - 200);
    int boxHeight = (int)(MeasureTextEx(labelFont, entry.text, LABEL_FONT_SIZE, TEXT_SPACING).y + 40);
    return Rectangle{x, y, 200, (float)boxHeight};
}

int drawTooltip(const HelpEntry &entry, float x, float y)
{
    Rectangle box = tooltipBox(entry, x, y);
    x = box.x;
    DrawRectangle((int)x, (int)y, 200, (int)box.height, HELP_BOX);
    DrawTextEx(labelFont, entry.title, Vector2{x + 10, y + 10}, LABEL_FONT_SIZE, TEXT_SPACING, INK);
    DrawLine((int)(x + 10), (int)(y + 20), (int)(x + 190), (int)(y + 20), INK);
    DrawTextEx(labelFont, entry.text, Vector2{x + 10, y + 30}, LABEL_FONT_SIZE, TEXT_SPACING, INK);
    return (int)box.height;
}
