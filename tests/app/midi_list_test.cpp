// The real program without MIDI devices lists the (empty) device list on
// standard output at once, opens nothing, and shuts down cleanly.
#include <gtest/gtest.h>
#include "tools/harness/desktop.h"

TEST(MidiApp, PrintsTheDeviceListHeadingAtOnceAndOpensNothing)
{
    const std::string heading = "----------Midi input device list----------\n";
    desk::Display d = desk::startDisplay(1280, 1024);
    desk::Sound s = desk::startSound();   // a working sound server prints nothing that would flush for us
    desk::Mirl m = desk::startMirl(d, s.env());
    ASSERT_TRUE(d.number >= 0 && m.ok);
    EXPECT_NE(desk::readFile(m.proc.outFile).find(heading), std::string::npos) << "not flushed at start-up";
    EXPECT_EQ(desk::closeMirl(d, m), 0);
    std::string all = desk::readFile(m.proc.outFile);
    EXPECT_TRUE(all.find(heading) == all.rfind(heading) && all.find("Midi device init") == std::string::npos) << all;
    desk::stopSound(s);
    desk::stopDisplay(d);
}
