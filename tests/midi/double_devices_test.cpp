// Device choice, the poll and the status lines, with PortMidi's device side
// scripted (double_portmidi) and its real queue and PortTime timer.
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include "midi/midi.h"
#include "tests/midi/capture.h"
#include "tests/midi/double_portmidi.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string HEADING = "----------Midi input device list----------\n";

std::string banner(const std::string &name)
{
    return "----------\nMidi device init: " + name + "\n----------\n";
}

std::string name()
{
    const char *n = midiDeviceName();
    return n ? n : "(none)";
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct Event {
    int timestamp = -7, status = -7, data1 = -7, data2 = -7;
};

// Takes events as the audio thread would until `count` arrived or a second passed.
std::vector<Event> collect(size_t count)
{
    std::vector<Event> got;
    Clock::time_point end = Clock::now() + std::chrono::seconds(1);
    while (got.size() < count && Clock::now() < end) {
        Event e;
        if (midiNextEvent(&e.timestamp, &e.status, &e.data1, &e.data2)) got.push_back(e);
        else sleepMs(1);
    }
    return got;
}

PmEvent event(int status, int data1, int data2, int timestamp)
{
    return PmEvent{Pm_Message(status, data1, data2), timestamp};
}

TEST(MidiDevices, ClicksStepThroughTheInputsAndWrapAround)
{
    dbl::setDevices({{"Synth Out", 0, 1}, {"Keys A", 1, 0}, {"Keys B", 1, 0}});
    cap::Capture out;
    midiStart();
    EXPECT_EQ(out.take(), HEADING +
                              "0 - Synth Out - in: 0 out: 1 \n"
                              "1 - Keys A - in: 1 out: 0 \n"
                              "2 - Keys B - in: 1 out: 0 \n" +
                              banner("Keys A"));
    EXPECT_EQ(name(), "Keys A");
    EXPECT_EQ(dbl::record().openId, 1);
    midiNextDevice();
    EXPECT_EQ(out.take(), banner("Keys B"));
    EXPECT_EQ(name(), "Keys B");
    EXPECT_EQ(dbl::record().openId, 2);
    midiNextDevice();
    EXPECT_EQ(out.take(), banner("Keys A"));
    EXPECT_EQ(name(), "Keys A");
    midiStop();
    dbl::Record r = dbl::record();
    EXPECT_EQ(r.openId, -1) << "stopping closes the device";
    EXPECT_EQ(r.opens, 3);
    EXPECT_EQ(r.closes, 3);
    EXPECT_EQ(r.initialized, 0);
    EXPECT_EQ(r.misuse, 0);
    EXPECT_EQ(out.end(), "");

    // A lone input (that is also an output) is closed and opened again by each click.
    dbl::setDevices({{"Both Ways", 1, 1}});
    cap::Capture again;
    midiStart();
    midiNextDevice();
    midiNextDevice();
    EXPECT_EQ(again.take(), HEADING + "0 - Both Ways - in: 1 out: 1 \n" + banner("Both Ways") +
                                banner("Both Ways") + banner("Both Ways"));
    EXPECT_EQ(name(), "Both Ways");
    EXPECT_EQ(dbl::record().opens, 3);
    EXPECT_EQ(dbl::record().closes, 2);
    midiStop();

    // Inputs at 3 and 5 among outputs: from 5 the search wraps to 3.
    dbl::setDevices({{"o0", 0, 1}, {"o1", 0, 1}, {"o2", 0, 1}, {"in3", 1, 0}, {"o4", 0, 1}, {"in5", 1, 0}});
    midiStart();
    EXPECT_EQ(name(), "in3");
    midiNextDevice();
    EXPECT_EQ(name(), "in5");
    midiNextDevice();
    EXPECT_EQ(name(), "in3");
    EXPECT_EQ(dbl::record().openId, 3);
    midiStop();
    EXPECT_EQ(again.take(), HEADING +
                                "0 - o0 - in: 0 out: 1 \n1 - o1 - in: 0 out: 1 \n2 - o2 - in: 0 out: 1 \n"
                                "3 - in3 - in: 1 out: 0 \n4 - o4 - in: 0 out: 1 \n5 - in5 - in: 1 out: 0 \n" +
                                banner("in3") + banner("in5") + banner("in3"));

    // Only outputs: the list, nothing opened, and a click opens nothing.
    dbl::setDevices({{"Out A", 0, 1}, {"Out B", 0, 1}});
    midiStart();
    midiNextDevice();
    EXPECT_EQ(again.take(), HEADING + "0 - Out A - in: 0 out: 1 \n1 - Out B - in: 0 out: 1 \n");
    EXPECT_EQ(name(), "(none)");
    EXPECT_EQ(dbl::record().opens, 0);
    midiStop();
    EXPECT_EQ(dbl::record().misuse, 0);
}

TEST(MidiDevices, AFailedOpenLeavesNothingOpenAndTheNextClickStartsFromTheLowestId)
{
    dbl::setDevices({{"Out", 0, 1}, {"Flaky", 1, 0}, {"Steady", 1, 0}});
    dbl::failOpen(1);
    cap::Capture out;
    midiStart();
    EXPECT_EQ(out.take(), HEADING + "0 - Out - in: 0 out: 1 \n1 - Flaky - in: 1 out: 0 \n"
                                    "2 - Steady - in: 1 out: 0 \n" + banner("Flaky"))
        << "the banner comes before the attempt, and no error text follows";
    EXPECT_EQ(name(), "(none)");
    EXPECT_EQ(dbl::record().openId, -1);
    int reads = dbl::record().reads;
    sleepMs(60);
    EXPECT_EQ(dbl::record().reads, reads) << "with nothing open the poll reads nothing";
    midiNextDevice();
    EXPECT_EQ(out.take(), banner("Flaky")) << "not the device after the failed one";
    EXPECT_EQ(name(), "Flaky");
    // Failing while stepping on: the click after that starts over too.
    dbl::failOpen(2);
    midiNextDevice();
    EXPECT_EQ(name(), "(none)");
    midiNextDevice();
    EXPECT_EQ(name(), "Flaky");
    EXPECT_EQ(out.take(), banner("Steady") + banner("Flaky"));
    midiStop();
    EXPECT_EQ(dbl::record().misuse, 0);
}

TEST(MidiDevices, DeviceEventsReachTheQueueInOrderWithTheirOwnTimestamps)
{
    dbl::setDevices({{"Keys", 1, 0}});
    cap::Capture out;
    midiStart();
    out.take();

    // Single notes at varied moments: each arrives within about one poll period.
    double worstMs = 0, totalMs = 0;
    for (int i = 0; i < 10; i++) {
        sleepMs(7 * i % 15);
        Clock::time_point fed = Clock::now();
        dbl::feed({event(0x91, 64 + i, 100, 12345 + i)});
        std::vector<Event> one = collect(1);
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - fed).count();
        worstMs = std::max(worstMs, ms);
        totalMs += ms;
        ASSERT_EQ(one.size(), 1u);
        EXPECT_EQ(one[0].timestamp, 12345 + i) << "the device's own stamp is kept";
        EXPECT_EQ(one[0].status, 0x91);
        EXPECT_EQ(one[0].data1, 64 + i);
        EXPECT_EQ(one[0].data2, 100);
    }
    std::fprintf(stderr, "device to queue: mean %.1f ms, worst %.1f ms\n", totalMs / 10, worstMs);
    EXPECT_LT(worstMs, 250.0) << "far beyond one 15 ms poll period";

    // A burst larger than one read, handed over a few events per poll.
    std::vector<PmEvent> burst;
    for (int i = 0; i < 300; i++) burst.push_back(event(i % 3 == 2 ? 0xFC : 0x90 | (i & 15), i & 0x7F, i >> 7, 5000 + i));
    dbl::feed(burst, 40);
    std::vector<Event> got = collect(burst.size());
    ASSERT_EQ(got.size(), burst.size());
    for (int i = 0; i < 300; i++) {
        EXPECT_EQ(got[i].timestamp, 5000 + i);
        EXPECT_EQ(got[i].status, i % 3 == 2 ? 0xFC : 0x90 | (i & 15));
        EXPECT_EQ(got[i].data1, i & 0x7F);
        EXPECT_EQ(got[i].data2, i >> 7);
    }

    // Read errors post nothing; the polls after them pick up again.
    dbl::setReadError(pmHostError);
    dbl::feed({event(0x90, 1, 2, 3)});
    int reads = dbl::record().reads;
    sleepMs(80);
    EXPECT_GT(dbl::record().reads, reads + 2) << "polls keep running";
    Event e;
    EXPECT_EQ(midiNextEvent(&e.timestamp, &e.status, &e.data1, &e.data2), 0);
    dbl::setReadError(pmNoError);
    std::vector<Event> later = collect(1);
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].timestamp, 3);

    // A device and a key press share the queue; the key press carries the clock.
    int now = midiNow();
    midiPostNote(0x90, 72, 128);
    dbl::feed({event(0x80, 72, 0, now + 1)});
    std::vector<Event> both = collect(2);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].data2, 128);
    EXPECT_GE(both[0].timestamp, now);
    EXPECT_EQ(both[1].status, 0x80);
    midiStop();
    EXPECT_EQ(out.end(), "");
    EXPECT_EQ(dbl::record().misuse, 0);
}

}  // namespace
