// The face's pictures, painted pixel by pixel from shape functions. Every
// pixel averages 4 x 4 sub-samples, so edges come out smooth, and no random
// numbers are used, so every run gives the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include "raylib.h"
#include "assetgen.h"

namespace {

struct Rgba {
    float r, g, b, a;
};

Rgba mix(Rgba a, Rgba b, float t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t}; }
Rgba rgb(int r, int g, int b, float a = 1) { return {r / 255.f, g / 255.f, b / 255.f, a}; }
Rgba scale(Rgba c, float k) { return {c.r * k, c.g * k, c.b * k, c.a}; }
// Paints b over a with b's alpha.
Rgba over(Rgba a, Rgba b, float cover = 1)
{
    float t = b.a * cover;
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (1 - a.a) * t};
}
float clamp01(float x) { return x < 0 ? 0 : x > 1 ? 1 : x; }
float smooth(float e0, float e1, float x)
{
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
using Shader2 = std::function<Rgba(float x, float y)>;

// Renders a w x h image whose pixel (i, j) covers [i, i+1) x [j, j+1).
Image render(int w, int h, const Shader2 &f, int ss = 4)
{
    Image im = GenImageColor(w, h, BLANK);
    Color *px = (Color *)im.data;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) {
            float r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < ss; sy++)
                for (int sx = 0; sx < ss; sx++) {
                    Rgba c = f(i + (sx + 0.5f) / ss, j + (sy + 0.5f) / ss);
                    r += c.r * c.a;
                    g += c.g * c.a;
                    b += c.b * c.a;
                    a += c.a;
                }
            float n = (float)(ss * ss);
            Color &o = px[j * w + i];
            o.a = (unsigned char)std::lround(clamp01(a / n) * 255);
            if (a > 0) {
                o.r = (unsigned char)std::lround(clamp01(r / a) * 255);
                o.g = (unsigned char)std::lround(clamp01(g / a) * 255);
                o.b = (unsigned char)std::lround(clamp01(b / a) * 255);
            }
        }
    return im;
}

bool save(Image im, const std::string &path)
{
    bool ok = ExportImage(im, path.c_str());
    UnloadImage(im);
    if (!ok) std::fprintf(stderr, "mirl-assetgen: cannot write %s\n", path.c_str());
    return ok;
}

// ---- knob skins -----------------------------------------------------------
// Layout shared with models.cpp: top view disc centred (96, 96) radius 92
// (the skirt's edge), body edge at 0.77, cap edge at 0.68 of that radius;
// right column x 192..256: rows 0..48 the skirt's rim, rows 48..192 the grip;
// bottom strip y 192..256 plain white for the keys.

struct KnobLook {
    Rgba skirt, body, cap, capRing, pointer, skirtMark, grip, gripDark;
    bool metalCap;
};

Rgba knobPixel(const KnobLook &k, float x, float y)
{
    if (y >= 192) return rgb(255, 255, 255);
    if (x >= 192) {
        if (y < 48) return mix(k.skirt, scale(k.skirt, 0.8f), (y - 4) / 40);
        // the grip: vertical ridges, one per model segment across the column
        float t = (x - 196) / 56;
        float ridge = 0.5f + 0.5f * std::cos(t * 2 * PI);
        return mix(k.gripDark, k.grip, ridge);
    }
    float dx = x - 96, dy = y - 96;
    float r = std::sqrt(dx * dx + dy * dy) / 92;   // 0 centre .. 1 skirt edge
    Rgba c;
    if (r > 0.77f) {
        // skirt top: a soft ring with a fine turned finish
        c = scale(k.skirt, 0.95f + 0.05f * std::sin(r * 180));
        // index mark on the skirt
        float d = std::fabs(dx);
        if (dy < 0 && d < 2.6f && r > 0.80f && r < 0.97f) c = over(c, k.skirtMark, smooth(2.6f, 1.6f, d));
    } else if (r > 0.66f) {
        // the chamfer round the cap; the pointer runs on across it
        c = r > 0.70f ? mix(k.body, k.capRing, smooth(0.70f, 0.76f, r)) : k.capRing;
        if (dy < 0 && r < 0.75f) c = over(c, k.pointer, smooth(3.2f, 2.0f, std::fabs(dx)));
    } else {
        // cap: brushed in circles, a little darker at the dish's centre
        float rings = k.metalCap ? 0.06f * std::sin(r * 420) + 0.04f * std::sin(r * 97 + 1.3f) : 0.015f * std::sin(r * 300);
        float dish = 0.9f + 0.1f * smooth(0, 0.66f, r);
        c = scale(k.cap, dish + rings);
        // engraved pointer from near the centre to the cap's edge
        float d = std::fabs(dx);
        if (dy < 0 && r > 0.12f) c = over(c, k.pointer, smooth(3.2f, 2.0f, d));
    }
    return c;
}

Image knobSkin(const KnobLook &k)
{
    return render(256, 256, [&](float x, float y) { return knobPixel(k, x, y); });
}

// ---- jack and plug --------------------------------------------------------

Image jackSkin()
{
    // Top view, 0.6 world units across 64 pixels: nut, threaded bushing, hole.
    return render(64, 64, [](float x, float y) {
        float dx = x - 32, dy = y - 32;
        float r = std::sqrt(dx * dx + dy * dy) / 32 * 0.30f;   // world radius
        if (r < 0.10f) return rgb(18, 18, 20);
        if (r < 0.125f) return mix(rgb(30, 30, 32), rgb(120, 122, 126), smooth(0.10f, 0.125f, r));
        if (r < 0.21f) {
            float thread = 0.5f + 0.5f * std::sin(r * 420);
            return mix(rgb(172, 174, 180), rgb(200, 202, 207), thread);
        }
        // nut: satin steel with a faint sheen across
        float sheen = 0.5f + 0.5f * std::cos((dx - dy) / 14);
        return mix(rgb(188, 190, 196), rgb(222, 224, 228), sheen * 0.6f);
    });
}

Image plugSkin()
{
    // Top view, 0.6 world units across 64 pixels: black sleeve with a yellow
    // boot where the cable leaves; a white corner for the metal tip.
    return render(64, 64, [](float x, float y) {
        if (x >= 56 && y >= 56) return rgb(255, 255, 255);
        float dx = x - 32, dy = y - 32;
        float r = std::sqrt(dx * dx + dy * dy) / 32 * 0.30f;
        if (r < 0.17f) {
            float t = r / 0.17f;
            return mix(rgb(250, 236, 80), rgb(226, 208, 58), t * t);
        }
        if (r < 0.225f) return rgb(66, 66, 72);
        return rgb(58, 58, 64);
    });
}

// ---- background -----------------------------------------------------------

// Signed distance (in picture widths) from the faceplate's silhouette as the
// fixed camera sees it, the same in every window size: the picture is
// stretched over the window, and the face's projection scales with it.
float slabDistance(float u, float v)
{
    static const float outline[6][2] = {{0.1768f, 0.2296f}, {0.8232f, 0.2296f}, {0.9381f, 0.7888f},
                                        {0.9225f, 0.8066f}, {0.0775f, 0.8066f}, {0.0619f, 0.7888f}};
    float d = -1;
    for (int i = 0; i < 6; i++) {
        const float *a = outline[i], *b = outline[(i + 1) % 6];
        float ex = b[0] - a[0], ey = b[1] - a[1], l = std::sqrt(ex * ex + ey * ey);
        d = std::fmax(d, ((u - a[0]) * ey - (v - a[1]) * ex) / l);
    }
    return d;
}

Image background()
{
    // A pale warm-grey desk under a soft top light, with the instrument's
    // soft shadow falling forward and a little right. No fine detail: the
    // outline pass would trace it.
    return render(400, 400, [](float x, float y) {
        float u = x / 400, v = y / 400;
        Rgba top = rgb(238, 237, 232), bottom = rgb(208, 206, 199);
        Rgba c = mix(top, bottom, smooth(0, 1, v));
        float dx = u - 0.5f, dy = v - 0.45f;
        float vign = 1 - 0.10f * smooth(0.2f, 0.75f, std::sqrt(dx * dx + dy * dy));
        float shade = 1 - 0.30f * (1 - smooth(-0.01f, 0.07f, slabDistance(u - 0.008f, v - 0.02f)));
        return scale(c, vign * shade);
    }, 2);
}

// ---- icons ----------------------------------------------------------------

Rgba iconBase(float x, float y, float &inside)
{
    float dx = x - 16, dy = y - 16;
    float r = std::sqrt(dx * dx + dy * dy);
    inside = r < 15 ? 1 : 0;
    if (r >= 15) return {0, 0, 0, 0};
    if (r >= 13.5f) return rgb(40, 44, 40);
    float t = (y - 2) / 28;
    return mix(rgb(92, 112, 84), rgb(58, 74, 52), t);
}

float segDist(float px, float py, float ax, float ay, float bx, float by)
{
    float vx = bx - ax, vy = by - ay, wx = px - ax, wy = py - ay;
    float t = clamp01((wx * vx + wy * vy) / (vx * vx + vy * vy));
    float dx = wx - vx * t, dy = wy - vy * t;
    return std::sqrt(dx * dx + dy * dy);
}

Image helpIcon()
{
    return render(32, 32, [](float x, float y) {
        float in;
        Rgba c = iconBase(x, y, in);
        if (!in) return c;
        // a question mark: an arc, a short stem, a dot
        float dx = x - 16, dy = y - 12.5f;
        float r = std::sqrt(dx * dx + dy * dy);
        float a = std::atan2(dy, dx);
        bool arc = std::fabs(r - 4.6f) < 1.6f && (a < 0.9f || a > 2.6f);
        if (a > 0.3f && a < 2.6f && dy > 0 && dx < -1) arc = false;
        bool stem = segDist(x, y, 17.8f, 16.2f, 16, 19) < 1.6f;
        bool dot = (x - 16) * (x - 16) + (y - 23.5f) * (y - 23.5f) < 3.2f;
        if (arc || stem || dot) return rgb(250, 248, 236);
        return c;
    });
}

Image midiIcon()
{
    return render(32, 32, [](float x, float y) {
        float in;
        Rgba c = iconBase(x, y, in);
        if (!in) return c;
        float dx = x - 16, dy = y - 16;
        float r = std::sqrt(dx * dx + dy * dy);
        // the round five-pin socket, seen from the front
        if (r < 10.5f && r > 9.2f) return rgb(250, 248, 236);
        if (r < 9.2f) c = rgb(30, 34, 30);
        for (int k = 0; k < 5; k++) {
            float a = PI + k * PI / 4;   // pins on the upper half circle
            float px = 16 + 5.6f * std::cos(a), py = 16.8f + 5.6f * std::sin(a);
            if ((x - px) * (x - px) + (y - py) * (y - py) < 1.9f) return rgb(250, 248, 236);
        }
        // the key notch at the bottom
        if (std::fabs(dx) < 1.4f && y > 23.5f && y < 26.2f) return rgb(250, 248, 236);
        return c;
    });
}

// ---- product picture ------------------------------------------------------

// Coverage of one line of text at pixel (x, y), from glyphs rasterised by raylib.
struct TextStamp {
    GlyphInfo *glyphs = nullptr;
    int count = 0, size = 0;
    std::vector<uint8_t> cov;   // w x h coverage
    int w = 0, h = 0;
};

TextStamp stamp(const std::string &ttf, int size, const char *text, int tracking)
{
    TextStamp s;
    int bytes = 0;
    unsigned char *data = LoadFileData(ttf.c_str(), &bytes);
    if (!data) return s;
    s.glyphs = LoadFontData(data, bytes, size, nullptr, 95, FONT_DEFAULT, &s.count);
    UnloadFileData(data);
    if (!s.glyphs) return s;
    int width = 0;
    for (const char *p = text; *p; p++) width += s.glyphs[*p - 32].advanceX + tracking;
    s.w = width + 4;
    s.h = size + 2;
    s.cov.assign((size_t)s.w * s.h, 0);
    int pen = 1;
    for (const char *p = text; *p; p++) {
        const GlyphInfo &g = s.glyphs[*p - 32];
        const uint8_t *src = (const uint8_t *)g.image.data;
        for (int j = 0; j < g.image.height && src; j++)
            for (int i = 0; i < g.image.width; i++) {
                int X = pen + g.offsetX + i, Y = g.offsetY + j;
                if (X < 0 || Y < 0 || X >= s.w || Y >= s.h) continue;
                uint8_t &d = s.cov[(size_t)Y * s.w + X];
                int v = d + src[j * g.image.width + i];
                d = (uint8_t)(v > 255 ? 255 : v);
            }
        pen += g.advanceX + tracking;
    }
    UnloadFontData(s.glyphs, s.count);
    return s;
}

float stampAt(const TextStamp &s, float x, float y)
{
    int X = (int)std::floor(x), Y = (int)std::floor(y);
    if (X < 0 || Y < 0 || X >= s.w || Y >= s.h) return 0;
    return s.cov[(size_t)Y * s.w + X] / 255.f;
}

Image logo(const std::string &fontDir)
{
    // The name in heavy letters with a wave drawn through a small badge, and a
    // line of small capitals under it. 236 x 40, transparent around.
    TextStamp name = stamp(fontDir + "/DejaVuSans-Bold.ttf", 30, "MIRL", 2);
    TextStamp sub = stamp(fontDir + "/DejaVuSans-Bold.ttf", 9, "POLYPHONIC SYNTHESIZER", 1);
    const int W = 236, H = 40;
    Image im = GenImageColor(W, H, BLANK);
    Color *px = (Color *)im.data;
    for (int j = 0; j < H; j++)
        for (int i = 0; i < W; i++) {
            float x = i + 0.5f, y = j + 0.5f;
            Rgba c = {0, 0, 0, 0};
            // badge: a dark rounded square with a folded wave
            float bx = x - 19, by = y - 20;
            float qx = std::fmax(std::fabs(bx) - 11, 0.f), qy = std::fmax(std::fabs(by) - 11, 0.f);
            float bd = std::sqrt(qx * qx + qy * qy) - 6;
            if (bd < 0.5f) {
                Rgba fill = rgb(38, 48, 36);
                c = over(c, fill, clamp01(0.5f - bd));
                // the wave: a sine folded back at its peaks
                float s = 1.6f * std::sin((x - 8) / 22 * 2 * PI);
                float folded = s > 1 ? 2 - s : (s < -1 ? -2 - s : s);
                float wy = 20 - 7.5f * folded;
                float d = std::fabs(y - wy);
                if (x > 8 && x < 30) c = over(c, rgb(247, 232, 69), clamp01(2.1f - d) * clamp01(0.5f - bd));
            }
            // name and line under it, in the faceplate's dark ink
            float n = stampAt(name, x - 44, y - 1);
            if (n > 0) c = over(c, rgb(32, 40, 30), n);
            float t = stampAt(sub, x - 46, y - 29);
            if (t > 0) c = over(c, rgb(52, 64, 48), t);
            Color &o = px[j * W + i];
            o = {(unsigned char)std::lround(clamp01(c.r) * 255), (unsigned char)std::lround(clamp01(c.g) * 255),
                 (unsigned char)std::lround(clamp01(c.b) * 255), (unsigned char)std::lround(clamp01(c.a) * 255)};
            if (o.a == 0) o = {0, 0, 0, 0};
        }
    return im;
}

Image appIcon()
{
    // The logo's badge at desktop-icon size: a dark rounded square with the
    // folded wave across it, drawn in the logo's own units (the badge spans
    // -17..17) scaled up. 256 x 256, transparent around.
    const float k = 7.2f;
    // The wave as 441 points from x -11 to 11: a sine folded back at its peaks.
    static float waveY[441];
    for (int i = 0; i < 441; i++) {
        float s = 1.6f * std::sin(i / 20.f / 22 * 2 * PI);
        waveY[i] = -7.5f * (s > 1 ? 2 - s : (s < -1 ? -2 - s : s));
    }
    return render(256, 256, [&](float x, float y) {
        float bx = (x - 128) / k, by = (y - 128) / k;
        float qx = std::fmax(std::fabs(bx) - 11, 0.f), qy = std::fmax(std::fabs(by) - 11, 0.f);
        if (std::sqrt(qx * qx + qy * qy) > 6) return Rgba{0, 0, 0, 0};
        // The stroke: within 1.2 units of the nearest wave point, round at its ends.
        int centre = (int)std::lround((bx + 11) * 20);
        for (int i = std::max(centre - 30, 0); i <= std::min(centre + 30, 440); i++) {
            float dx = bx - (i / 20.f - 11), dy = by - waveY[i];
            if (dx * dx + dy * dy < 1.2f * 1.2f) return rgb(247, 232, 69);
        }
        return rgb(38, 48, 36);
    });
}

}  // namespace

bool writeImages(const std::string &dir, const std::string &fontDir)
{
    // Style 0: black knob with a turned-aluminium cap and a white index line.
    KnobLook black = {rgb(44, 45, 48), rgb(36, 37, 40), rgb(198, 200, 204), rgb(128, 130, 134),
                      rgb(24, 24, 26), rgb(245, 245, 240), rgb(56, 57, 61), rgb(36, 37, 40), true};
    // Style 1: cream knob with a black index line.
    KnobLook cream = {rgb(228, 222, 204), rgb(222, 216, 198), rgb(236, 231, 214), rgb(246, 242, 230),
                      rgb(28, 28, 30), rgb(28, 28, 30), rgb(230, 224, 206), rgb(208, 202, 184), false};
    bool ok = save(knobSkin(black), dir + "/knob.png");
    ok = save(knobSkin(cream), dir + "/knob2.png") && ok;
    ok = save(jackSkin(), dir + "/jack.png") && ok;
    ok = save(plugSkin(), dir + "/plug.png") && ok;
    ok = save(background(), dir + "/background.png") && ok;
    ok = save(helpIcon(), dir + "/help.png") && ok;
    ok = save(midiIcon(), dir + "/midi.png") && ok;
    ok = save(logo(fontDir), dir + "/mirl.png") && ok;
    // Not drawn on the face: the picture the desktop shows for the program.
    ok = save(appIcon(), dir + "/mirl-icon.png") && ok;
    return ok;
}
