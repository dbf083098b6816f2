// Device choice, status lines and the poll, with the device side of PortMidi
// scripted (double_portmidi.cpp) and its real queue and timer.
#include <algorithm>
#include "tests/midi/midi_test.h"

TEST(MidiDevices, StartAndClicksOpenTheNextInputAndPrintTheStatusLines)
{
    struct Case { std::vector<dbl::Device> devices; std::string list; std::vector<const char *> banner, open; };
    const Case cases[] = {   // the banner and the open device after start, then after each click
        {{{"Synth Out", 0, 1}, {"Keys A", 1, 0}, {"Keys B", 1, 0}},
         "0 - Synth Out - in: 0 out: 1 \n1 - Keys A - in: 1 out: 0 \n2 - Keys B - in: 1 out: 0 \n",
         {"Keys A", "Keys B", "Keys A"}, {"Keys A", "Keys B", "Keys A"}},
        {{{"Both", 1, 1}}, "0 - Both - in: 1 out: 1 \n", {"Both", "Both", "Both"}, {"Both", "Both", "Both"}},
        {{{"o0", 0, 1}, {"o1", 0, 1}, {"o2", 0, 1}, {"in3", 1, 0}, {"o4", 0, 1}, {"in5", 1, 0}},
         "0 - o0 - in: 0 out: 1 \n1 - o1 - in: 0 out: 1 \n2 - o2 - in: 0 out: 1 \n"
         "3 - in3 - in: 1 out: 0 \n4 - o4 - in: 0 out: 1 \n5 - in5 - in: 1 out: 0 \n",
         {"in3", "in5", "in3"}, {"in3", "in5", "in3"}},
        // A refused open prints its banner and leaves nothing open; the next click starts from the lowest id.
        {{{"Out", 0, 1}, {"Flaky", 1, 0, 1}, {"Steady", 1, 0}},
         "0 - Out - in: 0 out: 1 \n1 - Flaky - in: 1 out: 0 \n2 - Steady - in: 1 out: 0 \n",
         {"Flaky", "Flaky", "Steady"}, {nullptr, "Flaky", "Steady"}},
        {{{"Out", 0, 1}}, "0 - Out - in: 0 out: 1 \n", {nullptr, nullptr}, {nullptr, nullptr}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.list);
        dbl::devices = c.devices;
        for (size_t i = 0; i < c.open.size(); i++) {
            std::string want = i == 0 ? "----------Midi input device list----------\n" + c.list : "";
            if (c.banner[i]) want += std::string("----------\nMidi device init: ") + c.banner[i] + "\n----------\n";
            EXPECT_EQ(printed(i == 0 ? midiStart : midiNextDevice, 20), want) << i;   // a poll or two run meanwhile
            EXPECT_STREQ(midiDeviceName(), c.open[i]) << i;
            EXPECT_STREQ(dbl::openId < 0 ? nullptr : dbl::devices[dbl::openId].name, c.open[i]) << i;
        }
        EXPECT_EQ(dbl::opens, c.open.size() - std::count(c.open.begin(), c.open.end(), nullptr)) << "each opens afresh";
        EXPECT_EQ(printed(midiStop), "");
    }
}

TEST(MidiDevices, DeviceEventsReachTheQueueInOrderWithTheirTimestampsAndFailedReadsPostNothing)
{
    const std::vector<Event> want = {{12345, 0x91, 64, 100}, {12346, 0x81, 64, 0}, {7, 0xFC, 0, 0}, {8, 0x90, 1, 2}};
    auto pm = [&](int i) { return PmEvent{Pm_Message(want[i][1], want[i][2], want[i][3]), want[i][0]}; };
    dbl::devices = {{"Keys", 1, 0}};
    dbl::reads = {{pm(0), pm(1)}, {}, {pm(2)}, {}, {}, {pm(3)}};   // read once the device is open
    printed(midiStart);
    std::vector<Event> got;
    for (int ms = 0; ms < 300; ms++, sleepMs(1))
        for (Event e; take(e);) got.push_back(e);
    EXPECT_EQ(got, want);
    EXPECT_EQ(printed(midiStop), "");
}
