// The real program in a real X server: window size rules, closing the way a
// user does, coming back after an unmap, its stream on a real sound server and
// its device list on standard output.
#include <gtest/gtest.h>
#include <algorithm>
#include "tests/face/driver.h"

namespace {

TEST(AppWindow, SizeFollowsTheMonitorAndTheSmallOption)
{
    const struct { int screenW, screenH; std::vector<std::string> args; int side; } cases[] = {
        {1280, 1024, {}, 800}, {1920, 800, {}, 600}, {800, 1920, {}, 600}, {850, 850, {}, 800}, {849, 1000, {}, 600},
        {1280, 1024, {"-small"}, 600}, {1920, 800, {"-small"}, 600}, {1280, 1024, {"-Small"}, 800},
        {1280, 1024, {"--small"}, 800}, {1280, 1024, {"-smallx"}, 800}, {1280, 1024, {"x", "-small"}, 800}};
    for (const auto &c : cases) {
        desk::Display d = desk::startDisplay(c.screenW, c.screenH);
        desk::Mirl m = desk::startMirl(d, {}, c.args);
        EXPECT_TRUE(m.ok && m.window.width == c.side && m.window.height == c.side) << "case " << &c - cases << ": " << m.window.width;
        EXPECT_TRUE(m.ok && desk::closeMirl(d, m) == 0) << "case " << &c - cases << ": closing the window ends the program with 0";
        desk::stop(m.proc), desk::stopDisplay(d);
    }
}

TEST(AppWindow, EscapeHeldForAFewFramesEndsTheProgramCleanly)
{
    Face f;
    ASSERT_TRUE(f.mirl.ok);
    f.move({400, 400}), desk::holdKey(f.display, "Escape", 0.25);
    EXPECT_TRUE(desk::waitExit(f.mirl.proc, 10) && f.mirl.proc.exitCode == 0) << f.mirl.proc.exitCode;
    f.mirl.ok = false;  // closed already
}

// Xvfb keeps no copy of a window's pixels: unmapped and mapped again, the
// window is blank until the program draws it anew, which it must do even when
// nothing on the face has changed. No sound server here: the face works without one.
TEST(AppWindow, ContentComesBackAfterTheWindowIsUnmappedAndMapped)
{
    Face f;
    ASSERT_TRUE(f.mirl.ok);
    f.move({f.side + 100.0f, 10});  // the pointer off the window
    Shot before = f.shot(0.5);
    std::string id = std::to_string(f.mirl.window.id);
    for (int round = 0; round < 2; round++) {
        desk::run({"xdotool", "windowunmap", "--sync", id, "windowmap", "--sync", id}, {f.display.env()});
        EXPECT_TRUE(f.shot(0.5).px == before.px) << "round " << round;
    }
}

// Started from a text console or over ssh without X forwarding there is no
// window to open, nor on a display without OpenGL (GLX): one line on standard
// error, status 1, nothing else (under the sanitizers, no report either).
TEST(AppWindow, WithoutADisplaySaysSoInOneLineAndExitsWithOne)
{
    desk::Display noGl = desk::startDisplay(640, 480, {"-extension", "GLX"});
    for (const std::string &display : {std::string("DISPLAY="), std::string("DISPLAY=:987"), noGl.env()}) {
        std::string out = desk::tempDir("nodisplay") + "/out.txt";
        desk::Process p = desk::spawn({desk::mirlPath()}, {display, "ASAN_OPTIONS=detect_leaks=1",
                                      "PULSE_SERVER=unix:/nonexistent/native"}, desk::sourceDir(), out);
        ASSERT_TRUE(desk::waitExit(p, 30)) << display;
        std::string text = desk::readFile(out);
        EXPECT_EQ(p.exitCode, 1) << display << ": " << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << display << ": " << text;
        EXPECT_EQ(text.rfind("Mirl: ", 0), 0u) << display << ": " << text;
        EXPECT_NE(text.find("display"), std::string::npos) << text;
    }
    desk::stopDisplay(noGl);
}

TEST(AppSound, PlaysAStreamIntoTheSoundServerAndListsMidiDevicesAtOnce)
{
    const std::string heading = "----------Midi input device list----------\n";
    desk::Sound s = desk::startSound();  // a working sound server prints nothing that would flush for us
    Face f(false, s.env());
    desk::Mirl &m = f.mirl;
    ASSERT_TRUE(m.ok);
    EXPECT_NE(desk::readFile(m.proc.outFile).find(heading), std::string::npos) << "not flushed at start-up";
    std::string list = desk::tempDir("sinks") + "/inputs.txt", inputs;
    for (int i = 0; i < 40 && inputs.find("Sink Input #") == std::string::npos; i++) {  // the stream opens after the window
        desk::sleepFor(0.25);
        desk::Process p = desk::spawn({"pactl", "list", "sink-inputs"}, s.env(), "", list);
        desk::waitExit(p, 10);
        inputs = desk::readFile(list);
    }
    // raylib's device converts the mono float stream into the sink's own format.
    for (const char *what : {"Sink Input #", "float32le", "44100Hz"}) EXPECT_NE(inputs.find(what), std::string::npos) << inputs;
    EXPECT_EQ(desk::closeMirl(f.display, m), 0);
    std::string all = desk::readFile(m.proc.outFile);
    EXPECT_TRUE(all.find(heading) == all.rfind(heading) && all.find("Midi device init") == std::string::npos) << all;
    m.ok = false, desk::stopSound(s);
}

}  // namespace
