// The real program in a real X server: window size rules, closing the way a
// user does, and its stream on a real sound server.
#include <gtest/gtest.h>
#include "tools/harness/desktop.h"

namespace {

struct Case {
    int screenW, screenH;
    std::vector<std::string> args;
    int side;
};

int windowSide(const desk::Display &d, const std::vector<std::string> &args, int *exitCode)
{
    desk::Mirl m = desk::startMirl(d, {}, args);
    if (!m.ok) {
        desk::stop(m.proc);
        *exitCode = -1;
        return -1;
    }
    EXPECT_EQ(m.window.width, m.window.height) << "the window is always square";
    int side = m.window.width;
    *exitCode = desk::closeMirl(d, m);
    return side;
}

TEST(AppWindow, SizeFollowsTheMonitorAndTheSmallOption)
{
    const Case cases[] = {
        {1280, 1024, {}, 800},
        {1920, 800, {}, 600},
        {800, 1920, {}, 600},
        {850, 850, {}, 800},
        {849, 1000, {}, 600},
        {1280, 1024, {"-small"}, 600},
        {1920, 800, {"-small"}, 600},
        {1280, 1024, {"-Small"}, 800},
        {1280, 1024, {"--small"}, 800},
        {1280, 1024, {"-smallx"}, 800},
        {1280, 1024, {"x", "-small"}, 800},
    };
    for (const Case &c : cases) {
        std::string what = std::to_string(c.screenW) + "x" + std::to_string(c.screenH);
        for (const std::string &a : c.args) what += " " + a;
        desk::Display d = desk::startDisplay(c.screenW, c.screenH);
        ASSERT_GE(d.number, 0) << "no X server";
        int code = 0;
        EXPECT_EQ(windowSide(d, c.args, &code), c.side) << what;
        EXPECT_EQ(code, 0) << what << ": closing the window ends the program with 0";
        desk::stopDisplay(d);
    }
}

TEST(AppWindow, EscapeHeldForAFewFramesEndsTheProgramCleanly)
{
    desk::Display d = desk::startDisplay(1280, 1024);
    desk::Mirl m = desk::startMirl(d, {});
    ASSERT_TRUE(m.ok);
    desk::mouseMove(d, m.window, 400, 400);
    desk::holdKey(d, "Escape", 0.25);
    EXPECT_TRUE(desk::waitExit(m.proc, 10));
    EXPECT_EQ(m.proc.exitCode, 0);
    desk::stop(m.proc);
    desk::stopDisplay(d);
}

// Xvfb keeps no copy of a window's pixels: unmapped and mapped again, the
// window is blank until the program draws it anew, which it must do even when
// nothing on the face has changed.
TEST(AppWindow, ContentComesBackAfterTheWindowIsUnmappedAndMapped)
{
    desk::Display d = desk::startDisplay(1280, 1024);
    desk::Mirl m = desk::startMirl(d, {"PULSE_SERVER=unix:/nonexistent/native"});
    ASSERT_TRUE(m.ok);
    desk::mouseMove(d, m.window, m.window.width + 100, 10);  // the pointer off the window
    desk::sleepFor(0.5);
    std::vector<uint32_t> before = desk::screenshot(d, m.window);
    std::string id = std::to_string(m.window.id);
    for (int round = 0; round < 2; round++) {
        desk::run({"xdotool", "windowunmap", "--sync", id}, {d.env()});
        desk::run({"xdotool", "windowmap", "--sync", id}, {d.env()});
        desk::sleepFor(0.5);
        std::vector<uint32_t> after = desk::screenshot(d, m.window);
        ASSERT_EQ(after.size(), before.size());
        size_t differ = 0;
        for (size_t i = 0; i < after.size(); i++) differ += after[i] != before[i];
        EXPECT_EQ(differ, 0u) << "round " << round;
    }
    EXPECT_EQ(desk::closeMirl(d, m), 0);
    desk::stopDisplay(d);
}

TEST(AppSound, PlaysAStreamIntoTheSoundServerAndRunsWithoutOne)
{
    desk::Display d = desk::startDisplay(1280, 1024);
    desk::Sound s = desk::startSound();
    desk::Mirl m = desk::startMirl(d, s.env());
    ASSERT_TRUE(m.ok);
    desk::sleepFor(0.5);
    std::string list = desk::tempDir("sinks") + "/inputs.txt";
    std::vector<std::string> env = s.env();
    desk::Process p = desk::spawn({"pactl", "list", "sink-inputs"}, env, "", list);
    desk::waitExit(p, 10);
    std::string inputs = desk::readFile(list);
    EXPECT_NE(inputs.find("Sink Input #"), std::string::npos) << inputs;
    // raylib's device converts the mono float stream into the sink's own format.
    EXPECT_NE(inputs.find("float32le"), std::string::npos) << inputs;
    EXPECT_NE(inputs.find("44100Hz"), std::string::npos) << inputs;
    EXPECT_EQ(desk::closeMirl(d, m), 0);
    desk::stopSound(s);

    // No sound server at all: the window still works and the program ends with 0.
    desk::Mirl quiet = desk::startMirl(d, {"PULSE_SERVER=unix:/nonexistent/native"});
    ASSERT_TRUE(quiet.ok);
    EXPECT_EQ(desk::closeMirl(d, quiet), 0);
    desk::stopDisplay(d);
}

}  // namespace
