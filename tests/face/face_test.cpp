// The face as a user sees it: screenshots of the real program under Xvfb,
// driven with the real mouse, checked at known pixels.
#include <gtest/gtest.h>
#include <algorithm>
#include "tests/face/driver.h"

namespace {

// The colour a pixel takes under the help tint (69, 135, 71 at alpha 170), within rounding.
bool tintedFrom(uint32_t got, uint32_t under)
{
    bool near = true;
    for (int c = 0, tint[3] = {71, 135, 69}; c < 3; c++)
        near &= std::abs((int)(got >> 8 * c & 0xFF) - (tint[c] * 170 + (int)(under >> 8 * c & 0xFF) * 85) / 255) <= 2;
    return near;
}

TEST(FaceDrawing, ScopeFaceAndHeadingsInBothWindows)
{
    for (bool small : {false, true}) {
        Face f(small);
        ASSERT_TRUE(f.mirl.ok);
        Shot s = f.shot();
        int x0 = (f.side - 400) / 2;
        EXPECT_TRUE(s.at(x0 + 50, 30) == PX_BOX && s.at(x0 + 300, 110) == PX_BOX);
        for (Vector2 p : {Vector2{x0 - 1.0f, 60}, {x0 + 400.0f, 60}, {x0 + 200.0f, 19}, {x0 + 200.0f, 120}})
            EXPECT_EQ(s.at(p.x, p.y), PX_FRAME) << p.x << "," << p.y;
        EXPECT_EQ(s.count(x0 + 1, 70, x0 + 400, 71, black), 399) << "the silent trace covers the zero line";
        EXPECT_EQ(s.at(x0, 70), PX_WHITE) << "the zero line shows left of the trace";
        Vector2 bare = face::toScreen(Vector3{4.5f, 0, 1.5f}, f.side);
        EXPECT_EQ(s.at(bare.x, bare.y), PX_FACE);
        // The Envelope heading, just inside its panel's front-left corner: 800 only.
        Vector2 corner = face::toScreen(Vector3{-2.9f, 0, -0.1f}, f.side);
        int ink = s.count((int)corner.x + 6, (int)corner.y - 12, (int)corner.x + 56, (int)corner.y - 1, black);
        EXPECT_TRUE(small ? ink == 0 : ink > 20) << ink;
        // The outline pass must not wrap round the picture: the top and bottom rows are as light as their neighbours.
        auto rowLight = [&](int y) {
            long sum = 0;
            for (int x = 0; x < f.side; x++) sum += (s.at(x, y) >> 16 & 0xFF) + (s.at(x, y) >> 8 & 0xFF) + (s.at(x, y) & 0xFF);
            return sum;
        };
        EXPECT_GE(rowLight(0) * 10, rowLight(1) * 9);
        EXPECT_GE(rowLight(f.side - 1) * 10, rowLight(f.side - 2) * 9);
    }
}

TEST(FaceDrawing, KnobTurnsClockwiseUpAndAHeldKeyDipsWithoutItsOutline)
{
    Face f;
    ASSERT_TRUE(f.mirl.ok);
    Vector2 knob = f.at(KNOB_CUTOFF);
    int x = (int)knob.x, y = (int)knob.y;
    // Dark pointer-line pixels on the knob's cap, left and right of the cap's centre.
    auto pointerSides = [&](const Shot &s) {
        std::pair<int, int> n = {0, 0};
        for (int dy = -10; dy <= 10; dy++)
            for (int dx = -10; dx <= 10; dx++) {
                uint32_t c = s.at(x + 4 + dx, y - 16 + dy);
                if (std::max({c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF}) < 0x60 && dx * dx + dy * dy <= 100) n.first += dx < -1, n.second += dx > 1;
            }
        return n;
    };
    Shot before = f.shot();
    EXPECT_LT(pointerSides(before).second, 5) << "at rest the pointer stands straight up";
    f.turn(knob, -120);
    auto [left, right] = pointerSides(f.shot());
    EXPECT_TRUE(right > 20 && left * 4 < right) << "dragged up, the pointer turns clockwise: " << left << " " << right;
    f.click(knob, 3);  // right click: back to the default
    EXPECT_EQ(f.shot().count(x - 30, y - 30, x + 30, y + 30, differ, &before), 0);

    // Key A held: its top face tips towards the player and the outline of its box goes.
    Vector2 key = f.at(KEY_FIRST + 9);
    auto lastWhiteRow = [&](const Shot &s) {
        int row = -1;
        for (int r = (int)key.y + 50; r < (int)key.y + 150; r++)
            if ((s.at(key.x, r) & 0xFF) > 0xE0 && (s.at(key.x, r) >> 16) > 0xE0) row = r;
        return row;
    };
    f.move(key), f.button(1, true);
    Shot held = f.shot();
    int kx = (int)key.x, ky = (int)key.y;
    f.button(1, false);
    EXPECT_GE(lastWhiteRow(held), lastWhiteRow(before) + 4) << "the front of the key goes down";
    EXPECT_GT(before.count(kx - 3, ky + 40, kx + 4, ky + 120, black), 5) << "the outline at rest";
    EXPECT_EQ(held.count(kx - 3, ky + 40, kx + 4, ky + 120, black), 0) << "no outline while held";
    EXPECT_EQ(f.shot().count(kx - 30, ky, kx + 30, ky + 150, differ, &before), 0) << "let go, the key is back";
}

// Cables lie over the plugs, the plugs over the labels and the icons over the
// cables; the help overlay lies over everything.
TEST(FaceDrawing, LayersCablesAndTheHelpOverlay)
{
    Face f;
    ASSERT_TRUE(f.mirl.ok);
    int W = f.side;
    Shot bare = f.shot();
    // Pull a cable from the envelope output and hold its loose end where the cable ends on the MIDI icon.
    Vector2 icon = {48 + 16, W - 38 + 16.0f}, pointer = icon;
    for (int i = 0; i < 40; i++) {
        Vector3 tp = face::tablePoint(pointer, W);
        Vector2 end = face::toScreen(Vector3{tp.x, tp.y + 0.8f + 1.45f, tp.z}, W);
        pointer = Vector2{pointer.x + icon.x - end.x, pointer.y + icon.y - end.y};
    }
    f.drag(f.at(JACK_ENV_OUT), pointer, false);
    Shot pulling = f.shot(0.3);
    int ix = (int)icon.x, iy = (int)icon.y;
    EXPECT_EQ(pulling.count(ix - 10, iy - 10, ix + 10, iy + 10, same, &bare), 400) << "the icon lies over the cable that ends on it";
    EXPECT_GT(pulling.count(ix - 40, iy - 40, ix + 40, iy + 40, [](uint32_t c, uint32_t) { return c == PX_YELLOW; }), 20);
    auto covered = [](uint32_t now, uint32_t before) { return before == PX_BLACK && now == PX_YELLOW; };
    int rx = (int)f.at(KNOB_LFO_RATE).x, ry = (int)f.at(KNOB_LFO_RATE).y;
    EXPECT_GT(pulling.count(rx - 30, ry + 10, rx + 30, ry + 45, covered, &bare), 3) << "the cable lies over the Rate label";
    f.button(1, false);  // over empty table: no cable

    f.drag(f.at(JACK_LFO_OUT), f.at(JACK_CUTOFF_IN));
    Shot plain = f.shot();
    // The plug seated in the Cut input stands over the Res label just behind it.
    Vector2 res = f.at(JACK_RES_IN), cut = f.at(JACK_CUTOFF_IN);
    auto plugOverInk = [](uint32_t now, uint32_t before) { return before == PX_BLACK && now != PX_BLACK && now != PX_YELLOW; };
    EXPECT_GT(plain.count((int)res.x - 15, (int)res.y + 6, (int)res.x + 15, (int)cut.y - 6, plugOverInk, &bare), 5);
    Vector2 sp[4];
    face::cableSpline(face::worldPos(JACK_LFO_OUT), face::worldPos(JACK_CUTOFF_IN), W, sp);
    Vector2 mid = face::catmullRom(sp, 0.5f), ahead = face::catmullRom(sp, 0.52f);
    float len = std::hypot(ahead.x - mid.x, ahead.y - mid.y);
    Vector2 n = {-(ahead.y - mid.y) / len, (ahead.x - mid.x) / len};
    EXPECT_EQ(plain.at(mid.x, mid.y), PX_YELLOW);
    for (int sign : {-1, 1}) {  // across the cable: yellow fill, then a black edge
        EXPECT_EQ(plain.at(mid.x + sign * n.x * 2, mid.y + sign * n.y * 2), PX_YELLOW);
        bool edge = false;
        for (float d = 4; d <= 8; d += 0.5f) edge |= plain.at(mid.x + sign * n.x * d, mid.y + sign * n.y * d) == PX_BLACK;
        EXPECT_TRUE(edge) << sign;
    }
    Vector2 jack = f.at(JACK_LFO_OUT);
    EXPECT_GT(plain.count((int)jack.x - 15, (int)jack.y - 40, (int)jack.x + 15, (int)jack.y + 10, differ, &bare), 30)
        << "a plug sits in the jack";

    Vector2 helpIcon = {24, W - 22.0f};
    f.click(helpIcon);
    Vector2 empty = f.move(Vector2{W - 60.0f, W - 150.0f});
    Shot help = f.shot();
    for (Vector2 p : {Vector2{(W - 400) / 2 + 50.0f, 30}, mid, helpIcon, Vector2{10, 10}})
        EXPECT_TRUE(tintedFrom(help.at(p.x, p.y), plain.at(p.x, p.y))) << "tint over everything at " << p.x << "," << p.y;
    EXPECT_GT(help.count(W / 2 - 150, W - 64, W / 2 + 150, W - 44, black), 100) << "the banner";
    EXPECT_EQ(help.count(W / 2 - 150, W - 90, W / 2 + 150, W - 66, black), 0);
    // "???" over empty space: 40 x 24 at pointer + (20, 20).
    int tx = (int)empty.x + 20, ty = (int)empty.y + 20;
    EXPECT_TRUE(help.at(tx, ty) == PX_TIP && help.at(tx + 39, ty + 23) == PX_TIP && help.at(tx + 40, ty) != PX_TIP &&
                help.at(tx, ty + 24) != PX_TIP);
    EXPECT_GT(help.count(tx + 8, ty + 8, tx + 40, ty + 24, black), 5) << "the ??? text";

    // Over a key: two boxes of one line each (53 high), 10 apart, with a rule under each title.
    Vector2 key = f.move(f.at(KEY_FIRST + 9));
    Shot overKey = f.shot();
    tx = (int)key.x + 20, ty = (int)key.y + 20;
    const int rows[][2] = {{0, 1}, {52, 1}, {53, 0}, {62, 0}, {63, 1}, {115, 1}, {116, 0}};
    for (auto r : rows) EXPECT_EQ(overKey.at(tx + 195, ty + r[0]) == PX_TIP, r[1] == 1) << "row " << r[0];
    EXPECT_NE(overKey.at(tx - 1, ty + 5), PX_TIP);
    EXPECT_EQ(overKey.count(tx + 10, ty + 20, tx + 190, ty + 21, black), 180) << "the rule under the title";

    // Over the Gain knob at the right: boxes pushed left to touch the right edge; the knob shows untinted.
    Vector2 gain = f.move(f.at(KNOB_GAIN));
    Shot overGain = f.shot();
    ASSERT_GT(gain.x + 220, W);
    EXPECT_TRUE(overGain.at(W - 200, gain.y + 22) == PX_TIP && overGain.at(W - 1, gain.y + 22) == PX_TIP &&
                overGain.at(W - 201, gain.y + 22) != PX_TIP);
    EXPECT_GT(overGain.count((int)gain.x - 8, (int)gain.y - 8, (int)gain.x + 8, (int)gain.y + 8, same, &plain), 100);

    f.click(empty);  // any click ends help mode
    EXPECT_EQ(f.shot().at((W - 400) / 2 + 50, 30), PX_BOX);
    f.click(jack, 3);  // right click pulls every cable at the jack
    EXPECT_EQ(f.shot().count(0, 122, W, W, differ, &bare), 0) << "no cable and no plugs left";
}

}  // namespace
