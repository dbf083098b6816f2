// The face as a user sees it: screenshots of the real program under Xvfb,
// driven with the real mouse, checked at known pixels.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include "tests/support/desktop.h"
#include "tests/support/face.h"

namespace {

const uint32_t PX_SCOPE_BOX = 0xC8C8C8, PX_SCOPE_FRAME = 0x828282, PX_WHITE = 0xFFFFFF, PX_BLACK = 0x000000;
const uint32_t PX_FACE = 0xAAC699, PX_YELLOW = 0xF7E845, PX_HELP_BOX = 0xCCCCCC;

struct Shot {
    std::vector<uint32_t> px;
    int w = 0, h = 0;
    uint32_t at(int x, int y) const { return (x < 0 || y < 0 || x >= w || y >= h) ? 0xFF000000u : px[y * w + x]; }
    int count(uint32_t colour, int x0, int y0, int x1, int y1) const
    {
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) n += at(x, y) == colour;
        return n;
    }
};

// Each channel within tol of the expected colour.
bool near(uint32_t got, uint32_t want, int tol = 3)
{
    for (int s = 0; s < 24; s += 8) {
        int a = (got >> s) & 0xFF, b = (want >> s) & 0xFF;
        if (std::abs(a - b) > tol) return false;
    }
    return true;
}

// The colour a pixel takes under the help tint (69, 135, 71 at alpha 170).
uint32_t tinted(uint32_t under)
{
    const int tint[3] = {69, 135, 71};
    uint32_t out = 0;
    for (int c = 0; c < 3; c++) {
        int u = (under >> (16 - 8 * c)) & 0xFF;
        int v = (int)std::lround((tint[c] * 170 + u * 85) / 255.0);
        out |= (uint32_t)v << (16 - 8 * c);
    }
    return out;
}

std::string hex(uint32_t c)
{
    char b[16];
    snprintf(b, sizeof b, "#%06X", c);
    return b;
}

// One running program on its own display, with helpers for the mouse.
struct Face {
    desk::Display display;
    desk::Mirl mirl;
    int side = 0;

    bool start(bool small)
    {
        display = desk::startDisplay(1280, 1024);
        if (display.number < 0) return false;
        mirl = desk::startMirl(display, {"PULSE_SERVER=unix:/nonexistent/native"}, small ? std::vector<std::string>{"-small"}
                                                                                    : std::vector<std::string>{});
        side = mirl.window.width;
        if (!mirl.ok) return false;
        // Wait for the first whole face before touching it.
        for (int i = 0; i < 100; i++) {
            std::vector<uint32_t> px = desk::screenshot(display, mirl.window);
            int x0 = (side - 400) / 2;
            if (!px.empty() && px[30 * side + x0 + 50] == 0xC8C8C8) break;
            desk::sleepFor(0.1);
        }
        desk::sleepFor(0.2);
        return true;
    }
    void stop()
    {
        if (mirl.ok) {
            EXPECT_EQ(desk::closeMirl(display, mirl), 0);
        }
        desk::stop(mirl.proc);
        desk::stopDisplay(display);
    }
    Shot shot(double settle = 0.25)
    {
        desk::sleepFor(settle);  // a few frames so the picture follows the input
        Shot s;
        s.px = desk::screenshot(display, mirl.window);
        s.w = mirl.window.width;
        s.h = mirl.window.height;
        return s;
    }
    void save(const Shot &s, const std::string &name)
    {
        const char *dir = std::getenv("MIRL_SHOTS");
        if (dir) desk::savePpm(std::string(dir) + "/" + name + ".ppm", s.px, s.w, s.h);
    }
    // Moves the pointer and returns the whole pixel it landed on.
    Vector2 move(Vector2 p)
    {
        Vector2 at = {std::round(p.x), std::round(p.y)};
        desk::mouseMove(display, mirl.window, (int)at.x, (int)at.y);
        return at;
    }
    void press(int button)
    {
        desk::mouseDown(display, button);
        desk::sleepFor(0.12);
    }
    void release(int button)
    {
        desk::mouseUp(display, button);
        desk::sleepFor(0.12);
    }
    void click(Vector2 p, int button = 1)
    {
        move(Vector2{p.x + 3, p.y});  // fresh motion, so the program sees the pointer arrive
        desk::sleepFor(0.05);
        move(p);
        desk::sleepFor(0.08);
        press(button);
        release(button);
    }
    // Drags from one point to another with the left button, in small steps.
    void drag(Vector2 from, Vector2 to)
    {
        move(Vector2{from.x + 3, from.y});
        desk::sleepFor(0.05);
        move(from);
        desk::sleepFor(0.15);
        press(1);
        for (int i = 1; i <= 8; i++) {
            move(Vector2{from.x + (to.x - from.x) * i / 8, from.y + (to.y - from.y) * i / 8});
            desk::sleepFor(0.03);
        }
        desk::sleepFor(0.08);
        release(1);
    }
    Vector2 at(int id) const { return face::controlScreen(id, side); }
};

int scopeLeft(int side) { return (side - 400) / 2; }

TEST(FaceDrawing, ScopeStripSitsAtItsPixelsInBothWindows)
{
    for (bool small : {false, true}) {
        Face f;
        ASSERT_TRUE(f.start(small));
        Shot s = f.shot();
        f.save(s, small ? "rest-600" : "rest-800");
        int x0 = scopeLeft(f.side);
        EXPECT_EQ(x0, small ? 100 : 200);
        // Box, frame and the silent trace lying on the zero line.
        EXPECT_EQ(hex(s.at(x0 + 50, 30)), hex(PX_SCOPE_BOX));
        EXPECT_EQ(hex(s.at(x0 + 300, 110)), hex(PX_SCOPE_BOX));
        EXPECT_EQ(hex(s.at(x0 - 1, 60)), hex(PX_SCOPE_FRAME));
        EXPECT_EQ(hex(s.at(x0 + 400, 60)), hex(PX_SCOPE_FRAME));
        EXPECT_EQ(hex(s.at(x0 + 200, 19)), hex(PX_SCOPE_FRAME));
        EXPECT_EQ(hex(s.at(x0 + 200, 120)), hex(PX_SCOPE_FRAME));
        EXPECT_EQ(hex(s.at(x0 - 2, 60)) == hex(PX_SCOPE_FRAME), false) << "the frame is one pixel wide";
        EXPECT_EQ(s.count(PX_BLACK, x0 + 1, 70, x0 + 400, 71), 399) << "the trace covers the zero line";
        EXPECT_EQ(hex(s.at(x0, 70)), hex(PX_WHITE)) << "the zero line shows left of the trace";
        // The faceplate's own colour on a bare stretch of the gain strip.
        Vector2 bare = face::toScreen(Vector3{4.5f, 0, 1.5f}, f.side);
        EXPECT_EQ(hex(s.at((int)bare.x, (int)bare.y)), hex(PX_FACE));
        f.stop();
    }
}

TEST(FaceDrawing, KnobTurnsWithItsValueAndResetRestoresThePicture)
{
    Face f;
    ASSERT_TRUE(f.start(false));
    Vector2 knob = f.at(4);  // Cutoff
    int x = (int)knob.x, y = (int)knob.y;
    Shot before = f.shot();
    // 120 pixels up: the value rises by 0.24. The pointer is hidden while a
    // knob turns, so the motion is relative.
    f.move(knob);
    desk::sleepFor(0.08);
    f.press(1);
    for (int i = 0; i < 6; i++) {
        desk::mouseMoveBy(f.display, 0, -20);
        desk::sleepFor(0.04);
    }
    f.release(1);
    Shot turned = f.shot();
    int changed = 0;
    for (int yy = y - 30; yy < y + 30; yy++)
        for (int xx = x - 30; xx < x + 30; xx++) changed += before.at(xx, yy) != turned.at(xx, yy);
    EXPECT_GT(changed, 40) << "the pointer of the knob has moved";
    f.click(knob, 3);  // right click: back to the default
    Shot reset = f.shot();
    int differ = 0;
    for (int yy = y - 30; yy < y + 30; yy++)
        for (int xx = x - 30; xx < x + 30; xx++) differ += before.at(xx, yy) != reset.at(xx, yy);
    EXPECT_EQ(differ, 0);
    f.stop();
}

TEST(FaceDrawing, PatchedCableShowsYellowWithBlackEdgesAndGoesWithItsPlugs)
{
    Face f;
    ASSERT_TRUE(f.start(false));
    Shot bare = f.shot();
    f.drag(f.at(JACK_LFO_OUT), f.at(17));
    Shot patched = f.shot();
    f.save(patched, "cable-800");
    Vector2 sp[4];
    face::cableSpline(face::worldPos(JACK_LFO_OUT), face::worldPos(17), f.side, sp);
    Vector2 mid = face::catmullRom(sp, 0.5f);
    Vector2 ahead = face::catmullRom(sp, 0.52f);
    Vector2 dir = {ahead.x - mid.x, ahead.y - mid.y};
    float len = std::sqrt(dir.x * dir.x + dir.y * dir.y);
    Vector2 normal = {-dir.y / len, dir.x / len};
    EXPECT_EQ(hex(patched.at((int)mid.x, (int)mid.y)), hex(PX_YELLOW));
    // Across the cable: yellow in the middle, black at both edges, the face beyond.
    for (int sign : {-1, 1}) {
        bool black = false;
        for (float d = 4; d <= 8; d += 0.5f)
            black |= patched.at((int)(mid.x + sign * normal.x * d), (int)(mid.y + sign * normal.y * d)) == PX_BLACK;
        EXPECT_TRUE(black) << "black border on side " << sign;
        EXPECT_EQ(hex(patched.at((int)(mid.x + sign * normal.x * 2), (int)(mid.y + sign * normal.y * 2))), hex(PX_YELLOW));
    }
    Vector2 jack = f.at(JACK_LFO_OUT);
    int plugPixels = 0;
    for (int yy = (int)jack.y - 40; yy < (int)jack.y + 10; yy++)
        for (int xx = (int)jack.x - 15; xx < (int)jack.x + 15; xx++)
            plugPixels += bare.at(xx, yy) != patched.at(xx, yy);
    EXPECT_GT(plugPixels, 30) << "a plug sits in the jack";

    f.click(jack, 3);  // right click pulls every cable at the jack
    Shot cleared = f.shot();
    EXPECT_EQ(cleared.count(PX_YELLOW, 0, 0, cleared.w, cleared.h), bare.count(PX_YELLOW, 0, 0, bare.w, bare.h))
        << "no cable left (the logo has yellow of its own)";
    int left = 0;
    for (int yy = 0; yy < cleared.h; yy++)
        for (int xx = 0; xx < cleared.w; xx++)
            if (yy < 19 || yy > 121) left += bare.at(xx, yy) != cleared.at(xx, yy);  // the scope may move
    EXPECT_EQ(left, 0) << "no plugs and no cable drawn after removal";
    f.stop();
}

TEST(FaceDrawing, HelpOverlayTintsEverythingAndPlacesItsBoxes)
{
    Face f;
    ASSERT_TRUE(f.start(false));
    int W = f.side, H = f.side;
    // A cable first, so the tint can be seen over it.
    f.drag(f.at(JACK_LFO_OUT), f.at(17));
    Shot plain = f.shot();
    Vector2 helpIcon = {8 + 16, (float)H - 38 + 16};
    f.click(helpIcon);
    Vector2 empty = f.move(Vector2{(float)W - 60, (float)H - 150});  // bare background right of the keys
    Shot help = f.shot();
    f.save(help, "help-empty-800");
    int x0 = scopeLeft(W);
    EXPECT_TRUE(near(help.at(x0 + 50, 30), tinted(PX_SCOPE_BOX))) << hex(help.at(x0 + 50, 30));
    Vector2 sp[4];
    face::cableSpline(face::worldPos(JACK_LFO_OUT), face::worldPos(17), W, sp);
    Vector2 mid = face::catmullRom(sp, 0.5f);
    EXPECT_TRUE(near(help.at((int)mid.x, (int)mid.y), tinted(PX_YELLOW))) << "the overlay lies over the cables";
    EXPECT_TRUE(near(help.at(10, 10), tinted(plain.at(10, 10))));
    EXPECT_TRUE(near(help.at(helpIcon.x, helpIcon.y), tinted(plain.at(helpIcon.x, helpIcon.y)))) << "and over the icons";
    // The banner: black text on the row band 64 pixels above the bottom, centred.
    EXPECT_GT(help.count(PX_BLACK, W / 2 - 150, H - 64, W / 2 + 150, H - 44), 100);
    EXPECT_EQ(help.count(PX_BLACK, W / 2 - 150, H - 90, W / 2 + 150, H - 66), 0);
    // "???" box over empty space, 40 x 24 at pointer + (20, 20), never moved.
    int tx = (int)empty.x + 20, ty = (int)empty.y + 20;
    EXPECT_EQ(hex(help.at(tx + 1, ty + 1)), hex(PX_HELP_BOX));
    EXPECT_EQ(hex(help.at(tx + 39, ty + 23)), hex(PX_HELP_BOX));
    EXPECT_NE(hex(help.at(tx + 40, ty + 1)), hex(PX_HELP_BOX));
    EXPECT_NE(hex(help.at(tx + 1, ty + 24)), hex(PX_HELP_BOX));
    EXPECT_GT(help.count(PX_BLACK, tx + 8, ty + 8, tx + 40, ty + 24), 5) << "the ??? text";

    // Over a key: two 53-pixel boxes, 10 apart, at pointer + (20, 20).
    Vector2 key = f.at(30);
    key = f.move(Vector2{key.x, key.y + 12});
    Shot overKey = f.shot();
    f.save(overKey, "help-key-800");
    tx = (int)key.x + 20;
    ty = (int)key.y + 20;
    EXPECT_EQ(hex(overKey.at(tx + 195, ty + 1)), hex(PX_HELP_BOX));
    EXPECT_EQ(hex(overKey.at(tx + 195, ty + 52)), hex(PX_HELP_BOX));
    EXPECT_NE(hex(overKey.at(tx + 195, ty + 54)), hex(PX_HELP_BOX)) << "gap between the boxes";
    EXPECT_NE(hex(overKey.at(tx + 195, ty + 62)), hex(PX_HELP_BOX));
    EXPECT_EQ(hex(overKey.at(tx + 195, ty + 63)), hex(PX_HELP_BOX));
    EXPECT_EQ(hex(overKey.at(tx + 195, ty + 115)), hex(PX_HELP_BOX));
    EXPECT_NE(hex(overKey.at(tx + 195, ty + 116)), hex(PX_HELP_BOX));
    EXPECT_NE(hex(overKey.at(tx - 1, ty + 5)), hex(PX_HELP_BOX));
    EXPECT_EQ(overKey.count(PX_BLACK, tx + 10, ty + 20, tx + 190, ty + 21), 180) << "the rule under the title";

    // Over the Gain knob at the right: both boxes pushed left to touch the right edge.
    Vector2 gain = f.move(f.at(20));
    Shot overGain = f.shot();
    f.save(overGain, "help-gain-800");
    ty = (int)gain.y + 20;
    ASSERT_GT(gain.x + 20 + 200, W);
    EXPECT_EQ(hex(overGain.at(W - 200, ty + 2)), hex(PX_HELP_BOX));
    EXPECT_EQ(hex(overGain.at(W - 1, ty + 2)), hex(PX_HELP_BOX));
    EXPECT_NE(hex(overGain.at(W - 201, ty + 2)), hex(PX_HELP_BOX));
    // The hovered knob shows through untinted.
    Vector2 g = f.at(20);
    int untinted = 0;
    for (int yy = (int)g.y - 8; yy < (int)g.y + 8; yy++)
        for (int xx = (int)g.x - 8; xx < (int)g.x + 8; xx++) untinted += overGain.at(xx, yy) == plain.at(xx, yy);
    EXPECT_GT(untinted, 100);

    // Any click ends help mode.
    f.click(empty);
    Shot after = f.shot();
    EXPECT_EQ(hex(after.at(x0 + 50, 30)), hex(PX_SCOPE_BOX));
    f.stop();
}

TEST(FaceDrawing, PanelHeadingsOnlyInTheLargeWindow)
{
    for (bool small : {false, true}) {
        Face f;
        ASSERT_TRUE(f.start(small));
        Shot s = f.shot();
        // The Envelope heading sits just inside its panel's front-left corner,
        // clear of any control label.
        Vector2 corner = face::toScreen(Vector3{2.5f - 5.5f + 0.1f, 0, -2 + 2 - 0.1f}, f.side);
        int lx = (int)corner.x + 6, ly = (int)corner.y - 14;
        int ink = s.count(PX_BLACK, lx, ly + 2, lx + 50, ly + 13);
        if (small) EXPECT_EQ(ink, 0);
        else EXPECT_GT(ink, 20);
        f.stop();
    }
}

TEST(FaceDrawing, LayersStackPlugOverLabelCableOverBothIconsOverCables)
{
    Face f;
    ASSERT_TRUE(f.start(false));
    int W = f.side;
    Shot bare = f.shot();
    // Pull a cable from the envelope output and hold its loose end so that the
    // cable's end lands on the MIDI icon.
    Vector2 icon = {48 + 16, (float)W - 38 + 16};
    Vector2 pointer = icon;
    for (int i = 0; i < 40; i++) {  // find where to hold the pointer
        Vector3 tp = face::tablePoint(pointer, W);
        Vector2 end = face::toScreen(Vector3{tp.x, tp.y + 0.8f + 1.45f, tp.z}, W);
        pointer.x += icon.x - end.x;
        pointer.y += icon.y - end.y;
    }
    Vector2 from = f.at(JACK_ENV_OUT);
    f.move(from);
    desk::sleepFor(0.08);
    f.press(1);
    for (int i = 1; i <= 8; i++) {
        f.move(Vector2{from.x + (pointer.x - from.x) * i / 8, from.y + (pointer.y - from.y) * i / 8});
        desk::sleepFor(0.03);
    }
    Shot pulling = f.shot(0.3);
    f.save(pulling, "pulling-800");
    // The icon is drawn above the cable that ends on it.
    int same = 0, total = 0;
    for (int yy = (int)icon.y - 10; yy < (int)icon.y + 10; yy++)
        for (int xx = (int)icon.x - 10; xx < (int)icon.x + 10; xx++) {
            total++;
            same += pulling.at(xx, yy) == bare.at(xx, yy);
        }
    EXPECT_EQ(same, total);
    EXPECT_GT(pulling.count(PX_YELLOW, (int)icon.x - 40, (int)icon.y - 40, (int)icon.x + 40, (int)icon.y + 40), 20)
        << "the cable reaches the icon";
    // The cable passes over the Rate label on its way.
    Vector2 rate = f.at(6);
    int inkCovered = 0;
    for (int yy = (int)rate.y + 10; yy < (int)rate.y + 45; yy++)
        for (int xx = (int)rate.x - 30; xx < (int)rate.x + 30; xx++)
            inkCovered += bare.at(xx, yy) == PX_BLACK && pulling.at(xx, yy) == PX_YELLOW;
    EXPECT_GT(inkCovered, 3) << "cables lie over labels";
    f.release(1);  // over empty table: no cable is made

    // A plug seated in the Cut input stands over the Res label just behind it.
    f.drag(f.at(JACK_LFO_OUT), f.at(17));
    Shot seated = f.shot();
    f.save(seated, "seated-800");
    Vector2 res = f.at(18), cut = f.at(17);
    int plugOverInk = 0;
    for (int yy = (int)res.y + 6; yy < (int)cut.y - 6; yy++)
        for (int xx = (int)res.x - 15; xx < (int)res.x + 15; xx++)
            plugOverInk += bare.at(xx, yy) == PX_BLACK && seated.at(xx, yy) != PX_BLACK && seated.at(xx, yy) != PX_YELLOW;
    EXPECT_GT(plugOverInk, 5) << "plugs lie over labels";
    f.stop();
}

}  // namespace
