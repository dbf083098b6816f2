// Clicks far shorter than a frame (press and release sent back to back by one
// xdotool call) still act: a key sounds its note, the help icon turns help
// mode on, and a right click resets a turned knob.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include "tools/harness/desktop.h"
#include "tools/harness/face.h"

namespace {

void quickClick(const desk::Display &d, int button)
{
    std::string b = std::to_string(button);
    desk::run({"xdotool", "mousedown", b, "mouseup", b}, {d.env()});
}

// How many pixels of a square area around (cx, cy) differ between two shots.
int changedPixels(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b, int side, int cx, int cy, int r)
{
    int n = 0;
    for (int y = std::max(0, cy - r); y < std::min(side, cy + r); y++)
        for (int x = std::max(0, cx - r); x < std::min(side, cx + r); x++) n += a[y * side + x] != b[y * side + x];
    return n;
}

TEST(QuickClicks, AClickInsideOneFrameIsNeverLost)
{
    desk::Display d = desk::startDisplay(1280, 1024);
    ASSERT_GE(d.number, 0) << "no X server";
    desk::Sound sound = desk::startSound();
    desk::Mirl m = desk::startMirl(d, sound.env());
    ASSERT_TRUE(m.ok);
    int side = m.window.width;
    auto shot = [&] {
        desk::sleepFor(0.4);
        return desk::screenshot(d, m.window);
    };
    auto moveTo = [&](int x, int y) {
        desk::mouseMove(d, m.window, x + 3, y + 3);
        desk::sleepFor(0.05);
        desk::mouseMove(d, m.window, x, y);
        desk::sleepFor(0.15);
    };

    // A key: its note-on and note-off both come through, so a short note sounds and ends.
    std::string wav = desk::tempDir("quick") + "/click.wav";
    desk::Process rec = desk::startRecording(sound, wav);
    desk::sleepFor(0.5);
    Vector2 key = face::controlScreen(30, side);
    moveTo((int)key.x, (int)key.y + 12);
    quickClick(d, 1);
    desk::sleepFor(1.5);
    desk::stopRecording(rec);
    std::vector<float> x = desk::readWav(wav);
    size_t loud = 0;
    for (float v : x) loud += std::fabs(v) > 0.005f;
    EXPECT_GT(loud, 441u) << "the key sounded";
    EXPECT_TRUE(x.size() > 4410 && std::fabs(x[x.size() - 4410]) < 1e-4f) << "and its note was released";

    // A knob turned, then reset by a quick right click: the face is as it was.
    std::vector<uint32_t> before = shot();
    Vector2 cutoff = face::controlScreen(4, side);
    moveTo((int)cutoff.x, (int)cutoff.y);
    desk::mouseDown(d, 1);
    desk::sleepFor(0.1);
    for (int i = 0; i < 5; i++, desk::sleepFor(0.04)) desk::mouseMoveBy(d, 0, -20);
    desk::mouseUp(d, 1);
    std::vector<uint32_t> turned = shot();
    EXPECT_GT(changedPixels(before, turned, side, (int)cutoff.x, (int)cutoff.y, 30), 20) << "the knob turned";
    moveTo((int)cutoff.x, (int)cutoff.y);
    quickClick(d, 3);
    EXPECT_EQ(changedPixels(before, shot(), side, (int)cutoff.x, (int)cutoff.y, 30), 0) << "a right click reset it";

    // The help icon: help mode tints the whole face.
    moveTo(24, side - 22);
    quickClick(d, 1);
    std::vector<uint32_t> help = shot();
    EXPECT_GT(changedPixels(before, help, side, side / 2, side / 2, side / 2), side * side / 2) << "help mode is on";

    EXPECT_EQ(desk::closeMirl(d, m), 0);
    desk::stopSound(sound);
    desk::stopDisplay(d);
}

}  // namespace
