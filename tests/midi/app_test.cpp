// The real program without MIDI devices lists the (empty) device list on
// standard output at once, opens nothing, and shuts down cleanly.
#include <gtest/gtest.h>
#include "tests/support/desktop.h"

TEST(MidiApp, PrintsTheDeviceListHeadingAtOnceAndOpensNothing)
{
    const std::string heading = "----------Midi input device list----------\n";
    desk::Display d = desk::startDisplay(1280, 1024);
    ASSERT_GE(d.number, 0) << "no X server";
    desk::Sound s = desk::startSound();   // a working sound server prints nothing that would flush for us
    desk::Mirl m = desk::startMirl(d, s.env());
    ASSERT_TRUE(m.ok);
    std::string running = desk::readFile(m.proc.outFile);   // a file: the line shows only if flushed
    EXPECT_NE(running.find(heading), std::string::npos) << running;
    EXPECT_EQ(desk::closeMirl(d, m), 0);
    std::string all = desk::readFile(m.proc.outFile);
    EXPECT_EQ(all.find(heading), all.rfind(heading)) << all;
    EXPECT_EQ(all.find("Midi device init"), std::string::npos) << all;
    desk::stopSound(s);
    desk::stopDisplay(d);
}
