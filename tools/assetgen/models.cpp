// The face's 3D parts as glTF binaries: knobs, jack, plugs and keys.
// raylib draws them unlit, so the light is baked into vertex colours here
// (the texture is multiplied by them). Knobs turn, so their shading depends
// only on how steep a surface is, never on its direction around the axis.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "assetgen.h"

namespace {

struct Vtx {
    float p[3], n[3], uv[2];
    uint8_t c[4];
};

struct Mesh {
    std::vector<Vtx> v;
    std::vector<uint16_t> idx;
};

struct V3 {
    float x, y, z;
};
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 norm(V3 a)
{
    float l = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return l > 0 ? V3{a.x / l, a.y / l, a.z / l} : V3{0, 1, 0};
}
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

const float PI = 3.14159265358979f;

// Light for the parts that never turn: from above, a little left and behind.
const V3 LIGHT = norm({-0.45f, 1.0f, -0.35f});

struct Rgb {
    float r, g, b;
};

uint8_t byte(float v) { return (uint8_t)(v <= 0 ? 0 : v >= 1 ? 255 : std::lround(v * 255)); }

uint16_t addVertex(Mesh &m, V3 p, V3 n, float u, float v, Rgb c)
{
    Vtx x = {{p.x, p.y, p.z}, {n.x, n.y, n.z}, {u, v}, {byte(c.r), byte(c.g), byte(c.b), 255}};
    m.v.push_back(x);
    return (uint16_t)(m.v.size() - 1);
}

// Shade for a fixed part: ambient plus Lambert plus a little rim of sky.
Rgb litColour(Rgb base, V3 n, float ao = 1)
{
    float d = std::fmax(0.f, dot(n, LIGHT));
    float k = (0.52f + 0.55f * d + 0.08f * n.y) * ao;
    return {base.r * k, base.g * k, base.b * k};
}

// Shade for a turning part: a function of the surface's steepness only.
Rgb turnColour(Rgb base, V3 n, float ao = 1)
{
    float k = (0.74f + 0.28f * std::fmax(0.f, n.y)) * ao;
    return {base.r * k, base.g * k, base.b * k};
}

// ---- surfaces of revolution ----------------------------------------------

struct Ring {
    float r, y;
};

enum UvMode { UV_PLANAR, UV_STRIP };

struct LatheStyle {
    UvMode mode;
    float planarRadius;          // world radius that maps to the disc's edge
    float discU, discV, discR;   // disc centre and radius in texture space
    float stripU0, stripU1, stripV0, stripV1;
    bool turning;                // shade for a turning part
    Rgb base;
    float aoBottom;              // darkening at the band's lower ring
};

// One band between two rings, flat along the profile, smooth around the axis.
void band(Mesh &m, Ring a, Ring b, int seg, const LatheStyle &s)
{
    float dr = b.r - a.r, dy = b.y - a.y;
    // Profile normal points outward/upward: rotate the profile direction.
    float nr = dy, ny = -dr;
    float l = std::sqrt(nr * nr + ny * ny);
    if (l == 0) return;
    nr /= l;
    ny /= l;
    for (int i = 0; i < seg; i++) {
        uint16_t q[4];
        for (int k = 0; k < 4; k++) {
            int step = i + (k == 1 || k == 2 ? 1 : 0);
            const Ring &ring = (k < 2) ? a : b;
            float t = 2 * PI * step / seg;
            float cs = std::cos(t), sn = std::sin(t);
            V3 p = {ring.r * sn, ring.y, -ring.r * cs};
            V3 n = norm({nr * sn, ny, -nr * cs});
            float u, v;
            if (s.mode == UV_PLANAR) {
                u = s.discU + p.x / s.planarRadius * s.discR;
                v = s.discV + p.z / s.planarRadius * s.discR;
            } else {
                u = (k == 1 || k == 2) ? s.stripU1 : s.stripU0;
                v = (k < 2) ? s.stripV1 : s.stripV0;
            }
            float ao = (k < 2) ? s.aoBottom : 1.0f;
            Rgb c = s.turning ? turnColour(s.base, n, ao) : litColour(s.base, n, ao);
            q[k] = addVertex(m, p, n, u, v, c);
        }
        // a0 a1 b1 b0, counter-clockwise seen from outside
        m.idx.insert(m.idx.end(), {q[0], q[3], q[2], q[0], q[2], q[1]});
    }
}

// A whole profile from the outer bottom to the centre top.
void lathe(Mesh &m, const std::vector<Ring> &prof, int seg, const std::vector<LatheStyle> &styles)
{
    for (size_t i = 0; i + 1 < prof.size(); i++) band(m, prof[i], prof[i + 1], seg, styles[i]);
}

// ---- boxes and prisms for the keys ---------------------------------------

// A quad with a given colour per corner, normal from its winding.
void quad(Mesh &m, V3 a, V3 b, V3 c, V3 d, Rgb ca, Rgb cb, Rgb cc, Rgb cd, float u, float v)
{
    V3 n = norm(cross(b - a, c - a));
    uint16_t i0 = addVertex(m, a, n, u, v, ca), i1 = addVertex(m, b, n, u, v, cb);
    uint16_t i2 = addVertex(m, c, n, u, v, cc), i3 = addVertex(m, d, n, u, v, cd);
    m.idx.insert(m.idx.end(), {i0, i1, i2, i0, i2, i3});
}

void litQuad(Mesh &m, V3 a, V3 b, V3 c, V3 d, Rgb base, float u, float v, float aoA = 1, float aoB = 1,
             float aoC = 1, float aoD = 1)
{
    V3 n = norm(cross(b - a, c - a));
    quad(m, a, b, c, d, litColour(base, n, aoA), litColour(base, n, aoB), litColour(base, n, aoC),
         litColour(base, n, aoD), u, v);
}

// Axis-aligned block from (x0, y0, z0) to (x1, y1, z1), bottom left open.
// aoBack darkens the top towards its back edge (the shade under the black keys).
void block(Mesh &m, float x0, float x1, float y0, float y1, float z0, float z1, Rgb top, Rgb side, float u, float v,
           bool front, bool back, float aoBack)
{
    // top
    litQuad(m, {x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}, top, u, v, aoBack, 1, 1, aoBack);
    // front (+z) and back (-z)
    if (front) litQuad(m, {x0, y1, z1}, {x0, y0, z1}, {x1, y0, z1}, {x1, y1, z1}, side, u, v, 1, 0.7f, 0.7f, 1);
    if (back) litQuad(m, {x1, y1, z0}, {x1, y0, z0}, {x0, y0, z0}, {x0, y1, z0}, side, u, v, 1, 0.7f, 0.7f, 1);
    // left (-x) and right (+x)
    litQuad(m, {x0, y1, z0}, {x0, y0, z0}, {x0, y0, z1}, {x0, y1, z1}, side, u, v, 1, 0.7f, 0.7f, 1);
    litQuad(m, {x1, y1, z1}, {x1, y0, z1}, {x1, y0, z0}, {x1, y1, z0}, side, u, v, 1, 0.7f, 0.7f, 1);
}

// ---- glTF binary writer ---------------------------------------------------

void pad4(std::vector<uint8_t> &b, uint8_t fill)
{
    while (b.size() % 4) b.push_back(fill);
}

template <typename T> void put(std::vector<uint8_t> &b, const T &x)
{
    const uint8_t *p = (const uint8_t *)&x;
    b.insert(b.end(), p, p + sizeof(T));
}

// withMaterial: one plain material (raylib's slot 1); otherwise the mesh has
// none and raylib draws it with its default material (slot 0).
bool writeGlb(const std::string &path, const Mesh &m, bool withMaterial)
{
    size_t nv = m.v.size(), ni = m.idx.size();
    std::vector<uint8_t> bin;
    float lo[3] = {1e9f, 1e9f, 1e9f}, hi[3] = {-1e9f, -1e9f, -1e9f};
    for (const Vtx &v : m.v)
        for (int k = 0; k < 3; k++) {
            lo[k] = std::fmin(lo[k], v.p[k]);
            hi[k] = std::fmax(hi[k], v.p[k]);
        }
    size_t offPos = bin.size();
    for (const Vtx &v : m.v) put(bin, v.p);
    size_t offNrm = bin.size();
    for (const Vtx &v : m.v) put(bin, v.n);
    size_t offUv = bin.size();
    for (const Vtx &v : m.v) put(bin, v.uv);
    size_t offCol = bin.size();
    for (const Vtx &v : m.v) put(bin, v.c);
    size_t offIdx = bin.size();
    for (uint16_t i : m.idx) put(bin, i);
    pad4(bin, 0);

    char json[4096];
    int n = std::snprintf(json, sizeof json,
        "{\"asset\":{\"version\":\"2.0\",\"generator\":\"mirl-assetgen\"},\"scene\":0,"
        "\"scenes\":[{\"nodes\":[0]}],\"nodes\":[{\"mesh\":0}],"
        "\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"NORMAL\":1,\"TEXCOORD_0\":2,\"COLOR_0\":3},"
        "\"indices\":4%s}]}],"
        "%s"
        "\"accessors\":["
        "{\"bufferView\":0,\"componentType\":5126,\"count\":%zu,\"type\":\"VEC3\","
        "\"min\":[%.6g,%.6g,%.6g],\"max\":[%.6g,%.6g,%.6g]},"
        "{\"bufferView\":1,\"componentType\":5126,\"count\":%zu,\"type\":\"VEC3\"},"
        "{\"bufferView\":2,\"componentType\":5126,\"count\":%zu,\"type\":\"VEC2\"},"
        "{\"bufferView\":3,\"componentType\":5121,\"normalized\":true,\"count\":%zu,\"type\":\"VEC4\"},"
        "{\"bufferView\":4,\"componentType\":5123,\"count\":%zu,\"type\":\"SCALAR\"}],"
        "\"bufferViews\":["
        "{\"buffer\":0,\"byteOffset\":%zu,\"byteLength\":%zu,\"target\":34962},"
        "{\"buffer\":0,\"byteOffset\":%zu,\"byteLength\":%zu,\"target\":34962},"
        "{\"buffer\":0,\"byteOffset\":%zu,\"byteLength\":%zu,\"target\":34962},"
        "{\"buffer\":0,\"byteOffset\":%zu,\"byteLength\":%zu,\"target\":34962},"
        "{\"buffer\":0,\"byteOffset\":%zu,\"byteLength\":%zu,\"target\":34963}],"
        "\"buffers\":[{\"byteLength\":%zu}]}",
        withMaterial ? ",\"material\":0" : "",
        withMaterial ? "\"materials\":[{\"name\":\"skin\",\"pbrMetallicRoughness\":{\"baseColorFactor\":[1,1,1,1],"
                       "\"metallicFactor\":0,\"roughnessFactor\":1}}]," : "",
        nv, lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], nv, nv, nv, ni,
        offPos, nv * 12, offNrm, nv * 12, offUv, nv * 8, offCol, nv * 4, offIdx, ni * 2, bin.size());
    if (n <= 0 || n >= (int)sizeof json) return false;
    std::vector<uint8_t> js(json, json + n);
    pad4(js, ' ');

    std::vector<uint8_t> out;
    put(out, (uint32_t)0x46546C67);  // "glTF"
    put(out, (uint32_t)2);
    put(out, (uint32_t)(12 + 8 + js.size() + 8 + bin.size()));
    put(out, (uint32_t)js.size());
    put(out, (uint32_t)0x4E4F534A);  // "JSON"
    out.insert(out.end(), js.begin(), js.end());
    put(out, (uint32_t)bin.size());
    put(out, (uint32_t)0x004E4942);  // "BIN\0"
    out.insert(out.end(), bin.begin(), bin.end());

    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

// ---- the parts ------------------------------------------------------------

// Texture layout shared with paint.cpp (knob skins): the top view of the knob
// is a disc centred at (96, 96) of radius 92 in a 256 x 256 image; the right
// column (192..256) holds the side grip, its top quarter the skirt's edge;
// the bottom strip (y 192..256) is plain white, for the keys.
const float DISC_U = 96 / 256.f, DISC_V = 96 / 256.f, DISC_R = 92 / 256.f;
const float WHITE_U = 128 / 256.f, WHITE_V = 224 / 256.f;

// A knob of skirt radius rs and height h; both knob sizes share proportions
// so they share the painted disc.
Mesh knob(float rs, float h, int seg)
{
    float rb = rs * 0.77f, rc = rs * 0.68f;   // body and cap radius
    Rgb w = {1, 1, 1};
    LatheStyle top = {UV_PLANAR, rs, DISC_U, DISC_V, DISC_R, 0, 0, 0, 0, true, w, 1};
    LatheStyle skirtSide = {UV_STRIP, rs, 0, 0, 0, 200 / 256.f, 248 / 256.f, 4 / 256.f, 40 / 256.f, true, w, 0.8f};
    LatheStyle bodySide = {UV_STRIP, rs, 0, 0, 0, 196 / 256.f, 252 / 256.f, 56 / 256.f, 188 / 256.f, true, w, 0.72f};
    LatheStyle topAo = top;
    topAo.aoBottom = 0.85f;
    std::vector<Ring> prof = {
        {rs, 0.0f},              // skirt foot
        {rs, h * 0.14f},         // skirt edge
        {rs * 0.95f, h * 0.20f}, // skirt bevel
        {rb * 1.02f, h * 0.24f}, // skirt top, rising to the body
        {rb, h * 0.26f},         // body foot
        {rb * 0.97f, h * 0.90f}, // body top
        {rc * 1.04f, h},         // chamfer to the cap
        {rc * 0.75f, h * 0.985f},// shallow dish
        {0.0f, h * 0.975f},
    };
    std::vector<LatheStyle> st = {skirtSide, top, top, topAo, bodySide, top, top, top};
    Mesh m;
    lathe(m, prof, seg, st);
    return m;
}

Mesh jack()
{
    // Hex nut (radius 0.3 across corners) around a threaded bushing with a dark hole.
    Mesh m;
    Rgb nutCol = {0.86f, 0.87f, 0.89f};
    const float rn = 0.30f, hn = 0.10f;
    auto uvOf = [](V3 p, float &u, float &v) {
        u = 0.5f + p.x / 0.6f;
        v = 0.5f + p.z / 0.6f;
    };
    for (int i = 0; i < 6; i++) {
        float a0 = i * PI / 3, a1 = a0 + PI / 3;
        V3 p0 = {rn * std::cos(a0), 0, rn * std::sin(a0)}, p1 = {rn * std::cos(a1), 0, rn * std::sin(a1)};
        V3 t0 = {p0.x, hn, p0.z}, t1 = {p1.x, hn, p1.z};
        V3 n = norm(cross(t1 - t0, p0 - t0));
        float u0, v0, u1, v1;
        uvOf(p0, u0, v0);
        uvOf(p1, u1, v1);
        Rgb c = litColour(nutCol, n);
        Rgb cd = litColour(nutCol, n, 0.75f);
        uint16_t a = addVertex(m, t0, n, u0, v0, c), b = addVertex(m, p0, n, u0, v0, cd);
        uint16_t d = addVertex(m, p1, n, u1, v1, cd), e = addVertex(m, t1, n, u1, v1, c);
        m.idx.insert(m.idx.end(), {a, d, b, a, e, d});
        // top face of the nut as a fan segment to the bushing
        V3 up = {0, 1, 0};
        float cu, cv;
        V3 centre = {0, hn, 0};
        uvOf(centre, cu, cv);
        uint16_t c0 = addVertex(m, centre, up, cu, cv, litColour(nutCol, up));
        uint16_t c1 = addVertex(m, t0, up, u0, v0, litColour(nutCol, up));
        uint16_t c2 = addVertex(m, t1, up, u1, v1, litColour(nutCol, up));
        m.idx.insert(m.idx.end(), {c0, c2, c1});
    }
    // Bushing and hole, painted by the texture; the lathe gives them height.
    Rgb w = {1, 1, 1};
    LatheStyle s = {UV_PLANAR, 0.30f, 0.5f, 0.5f, 0.5f, 0, 0, 0, 0, false, w, 0.9f};
    LatheStyle dark = s;
    dark.base = {0.25f, 0.25f, 0.27f};
    std::vector<Ring> prof = {
        {0.21f, hn}, {0.21f, 0.19f}, {0.19f, 0.21f}, {0.115f, 0.21f}, {0.10f, 0.16f}, {0.0f, 0.16f}};
    lathe(m, prof, 32, {s, s, s, dark, dark});
    return m;
}

// A patch plug: ribbed sleeve with a cable boot on top. inserted: it sits on a
// jack; otherwise its tip hangs below it.
Mesh plug(bool inserted)
{
    Mesh m;
    Rgb w = {1, 1, 1};
    float y0 = inserted ? 0.21f : 0.0f;
    LatheStyle top = {UV_PLANAR, 0.30f, 0.5f, 0.5f, 0.5f, 0, 0, 0, 0, false, w, 1};
    LatheStyle side = top;
    side.aoBottom = 0.8f;
    // collar, a straight grip with two shallow grooves, shoulder, cable boot
    std::vector<Ring> prof = {
        {0.25f, y0}, {0.27f, y0 + 0.03f}, {0.27f, y0 + 0.16f}, {0.255f, y0 + 0.175f},
        {0.27f, y0 + 0.19f}, {0.27f, y0 + 0.30f}, {0.255f, y0 + 0.315f}, {0.27f, y0 + 0.33f},
        {0.27f, y0 + 0.42f}, {0.22f, y0 + 0.47f}, {0.16f, y0 + 0.49f}, {0.15f, y0 + 0.60f},
        {0.12f, y0 + 0.63f}, {0.0f, y0 + 0.635f},
    };
    std::vector<LatheStyle> st(prof.size() - 1, side);
    lathe(m, prof, 32, st);
    if (!inserted) {
        // Metal tip below the sleeve: shaft, ring, ball point.
        LatheStyle metal = {UV_PLANAR, 0.30f, 60 / 64.f, 60 / 64.f, 0.0001f, 0, 0, 0, 0, false, {0.85f, 0.85f, 0.86f}, 1};
        LatheStyle ring = metal;
        ring.base = {0.2f, 0.2f, 0.2f};
        std::vector<Ring> tip = {
            {0.0f, -0.36f}, {0.05f, -0.34f}, {0.065f, -0.30f}, {0.05f, -0.26f}, {0.06f, -0.22f},
            {0.06f, -0.2f}, {0.06f, -0.18f}, {0.075f, -0.03f}, {0.12f, -0.03f}, {0.12f, 0.0f}, {0.25f, 0.0f}};
        // The tip's profile runs from the point up to the sleeve's underside.
        for (size_t i = 0; i + 1 < tip.size(); i++) {
            const LatheStyle &s = (i == 4 || i == 5) ? ring : metal;
            band(m, tip[i], tip[i + 1], 24, s);
        }
    }
    return m;
}

// Keys, at full size (drawn at half): origin at the back top edge so a held
// key tilts about its hinge. White keys 1.9 wide and 6.4 deep, notched where
// black keys (1.1 wide, 4.0 deep, standing 0.5 higher) sit.
const float KEY_W = 1.9f, KEY_L = 6.4f, KEY_H = 1.9f, BLACK_W = 1.1f, BLACK_L = 4.0f;

Mesh whiteKey(float notchL, float notchR)
{
    Mesh m;
    Rgb ivory = {0.97f, 0.96f, 0.92f}, side = {0.86f, 0.85f, 0.81f};
    float h = KEY_W / 2;
    float xl = notchL < 0 ? notchL : -h, xr = notchR > 0 ? notchR : h;
    // narrow neck between the black keys, open towards the front block
    block(m, xl, xr, -KEY_H, 0, 0, BLACK_L, ivory, side, WHITE_U, WHITE_V, false, true, 0.9f);
    // front block with a small lip on the top front edge
    float lip = 0.12f;
    block(m, -h, h, -KEY_H, 0, BLACK_L, KEY_L - lip, ivory, side, WHITE_U, WHITE_V, false, false, 1);
    // the cheeks of the front block that face the black keys
    if (xl > -h)
        litQuad(m, {xl, 0, BLACK_L}, {xl, -KEY_H, BLACK_L}, {-h, -KEY_H, BLACK_L}, {-h, 0, BLACK_L}, side, WHITE_U,
                WHITE_V, 0.8f, 0.6f, 0.6f, 0.8f);
    if (xr < h)
        litQuad(m, {h, 0, BLACK_L}, {h, -KEY_H, BLACK_L}, {xr, -KEY_H, BLACK_L}, {xr, 0, BLACK_L}, side, WHITE_U,
                WHITE_V, 0.8f, 0.6f, 0.6f, 0.8f);
    // rounded-off front: a bevel and the front face
    V3 a = {-h, 0, KEY_L - lip}, b = {h, 0, KEY_L - lip};
    V3 c = {h, -lip, KEY_L}, d = {-h, -lip, KEY_L};
    litQuad(m, a, d, c, b, ivory, WHITE_U, WHITE_V);
    litQuad(m, d, {-h, -KEY_H, KEY_L}, {h, -KEY_H, KEY_L}, c, side, WHITE_U, WHITE_V, 1, 0.75f, 0.75f, 1);
    litQuad(m, {-h, 0, KEY_L - lip}, {-h, -KEY_H, KEY_L - lip}, {-h, -KEY_H, KEY_L}, {-h, -lip, KEY_L}, side,
            WHITE_U, WHITE_V);
    litQuad(m, {h, -lip, KEY_L}, {h, -KEY_H, KEY_L}, {h, -KEY_H, KEY_L - lip}, {h, 0, KEY_L - lip}, side, WHITE_U,
            WHITE_V);
    return m;
}

// A flat convex polygon, counter-clockwise seen from outside.
void poly(Mesh &m, const std::vector<V3> &p, Rgb base, const std::vector<float> &ao)
{
    V3 n = norm(cross(p[1] - p[0], p[2] - p[0]));
    std::vector<uint16_t> id;
    for (size_t i = 0; i < p.size(); i++) id.push_back(addVertex(m, p[i], n, WHITE_U, WHITE_V, litColour(base, n, ao[i])));
    for (size_t i = 1; i + 1 < p.size(); i++) m.idx.insert(m.idx.end(), {id[0], id[i], id[i + 1]});
}

Mesh blackKey()
{
    Mesh m;
    Rgb top = {0.17f, 0.17f, 0.19f}, side = {0.11f, 0.11f, 0.12f}, gloss = {0.40f, 0.40f, 0.44f};
    float hb = BLACK_W / 2, ht = hb * 0.8f, y1 = 0.5f, yb = -KEY_H, zf = BLACK_L, zt = BLACK_L - 0.4f, yf = y1 - 0.4f;
    // The top is narrower and shorter than the foot; a glossy bevel at the front.
    poly(m, {{-ht, y1, 0}, {-ht, y1, zt}, {ht, y1, zt}, {ht, y1, 0}}, top, {0.8f, 1.15f, 1.15f, 0.8f});
    poly(m, {{-ht, y1, zt}, {-hb, yf, zf}, {hb, yf, zf}, {ht, y1, zt}}, gloss, {1, 1, 1, 1});
    poly(m, {{-hb, yf, zf}, {-hb, yb, zf}, {hb, yb, zf}, {hb, yf, zf}}, side, {1, 0.6f, 0.6f, 1});
    poly(m, {{-ht, y1, 0}, {-hb, yb, 0}, {-hb, yb, zf}, {-hb, yf, zf}, {-ht, y1, zt}}, side, {1.2f, 0.6f, 0.6f, 1, 1.2f});
    poly(m, {{ht, y1, zt}, {hb, yf, zf}, {hb, yb, zf}, {hb, yb, 0}, {ht, y1, 0}}, side, {1.2f, 1, 0.6f, 0.6f, 1.2f});
    poly(m, {{ht, y1, 0}, {hb, yb, 0}, {-hb, yb, 0}, {-ht, y1, 0}}, side, {1, 0.6f, 0.6f, 1});
    return m;
}

}  // namespace

bool writeModels(const std::string &dir)
{
    // Notch edges (full size) follow the black keys' places on the keyboard:
    // a black key 0.35 right of C, 0.65 right of D, 0.35 right of F, midway
    // between G and A, 0.35 left of B; each notch leaves 0.05 of clearance.
    const float n = BLACK_W / 2 + 0.1f;   // half a black key plus clearance, full size
    bool ok = true;
    ok = writeGlb(dir + "/knob.glb", knob(0.66f, 0.72f, 64), true) && ok;
    ok = writeGlb(dir + "/atten.glb", knob(0.46f, 0.5f, 48), true) && ok;
    ok = writeGlb(dir + "/jack.glb", jack(), false) && ok;
    ok = writeGlb(dir + "/plug.glb", plug(false), false) && ok;
    ok = writeGlb(dir + "/plug-inserted.glb", plug(true), false) && ok;
    ok = writeGlb(dir + "/key-black.glb", blackKey(), true) && ok;
    ok = writeGlb(dir + "/key-c.glb", whiteKey(0, 0.7f - n), true) && ok;
    ok = writeGlb(dir + "/key-d.glb", whiteKey(-1.3f + n, 1.3f - n), true) && ok;
    ok = writeGlb(dir + "/key-e.glb", whiteKey(-0.7f + n, 0), true) && ok;
    ok = writeGlb(dir + "/key-g.glb", whiteKey(-1.3f + n, 1.0f - n), true) && ok;
    ok = writeGlb(dir + "/key-a.glb", whiteKey(-1.0f + n, 1.3f - n), true) && ok;
    ok = writeGlb(dir + "/key-end.glb", whiteKey(0, 0), true) && ok;
    return ok;
}
