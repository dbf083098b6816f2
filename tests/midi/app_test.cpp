// The real program without any MIDI device: it lists the (empty) device list
// on standard output at start-up, opens nothing, and still shuts down cleanly.
#include <gtest/gtest.h>
#include "tests/support/desktop.h"

namespace {

int occurrences(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

TEST(MidiApp, PrintsTheDeviceListHeadingAtOnceAndOpensNothing)
{
    desk::Display d = desk::startDisplay(1280, 1024);
    ASSERT_GE(d.number, 0) << "no X server";
    // With a working sound server raylib prints nothing after start-up that
    // would flush standard output for us.
    desk::Sound s = desk::startSound();
    desk::Mirl m = desk::startMirl(d, s.env());
    ASSERT_TRUE(m.ok);
    // Standard output is a file here, so the line shows only if it was flushed.
    std::string running = desk::readFile(m.proc.outFile);
    EXPECT_NE(running.find("----------Midi input device list----------\n"), std::string::npos) << running;
    EXPECT_EQ(desk::closeMirl(d, m), 0);
    std::string all = desk::readFile(m.proc.outFile);
    EXPECT_EQ(occurrences(all, "----------Midi input device list----------\n"), 1) << all;
    EXPECT_EQ(all.find("Midi device init"), std::string::npos) << all;
    EXPECT_EQ(all.find("overflowed"), std::string::npos) << all;
    desk::stopSound(s);
    desk::stopDisplay(d);
}

}  // namespace
