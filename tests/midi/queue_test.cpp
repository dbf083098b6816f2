// The real PortMidi and PortTime on a machine without MIDI devices: start-up,
// the clock, the on-screen keyboard's notes through the real queue, and the
// queue's overflow behaviour as the audio thread sees it.
#include <gtest/gtest.h>
#include <chrono>
#include <thread>
#include "midi/midi.h"
#include "tests/midi/capture.h"

// libportmidi keeps a few bytes per start for good: the default device names
// found by Pm_Initialize and the timer's parameter block from Pt_Start.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libportmidi.so\n";
}

namespace {

const char *LIST_HEADING = "----------Midi input device list----------\n";
const char *OVERFLOW_LINE = "midi event queue overflowed\n";

struct Event {
    int timestamp = -7, status = -7, data1 = -7, data2 = -7;
};

int take(Event *e)
{
    return midiNextEvent(&e->timestamp, &e->status, &e->data1, &e->data2);
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Waits up to a second for the poll to print something.
std::string waitForOutput(cap::Capture &c)
{
    std::string text;
    for (int i = 0; i < 100 && text.empty(); i++) {
        sleepMs(10);
        text = c.take();
    }
    return text;
}

TEST(MidiReal, StartsWithoutDevicesAndCarriesKeyPressesWithTheClock)
{
    cap::Capture out;
    midiStart();
    EXPECT_EQ(out.take(), LIST_HEADING) << "no devices: the list heading and nothing else";
    EXPECT_EQ(midiDeviceName(), nullptr);
    midiNextDevice();
    EXPECT_EQ(midiDeviceName(), nullptr) << "a click with no input device opens nothing";
    EXPECT_EQ(out.take(), "");

    int t0 = midiNow();
    EXPECT_GE(t0, 0);
    EXPECT_LT(t0, 1000) << "the clock starts at zero in midiStart";
    sleepMs(120);
    int t1 = midiNow();
    EXPECT_GE(t1 - t0, 100) << "the PortTime clock runs in milliseconds";
    EXPECT_LT(t1 - t0, 2000);

    // The polls that ran meanwhile had no stream and posted nothing.
    Event e;
    EXPECT_EQ(take(&e), 0);
    EXPECT_EQ(e.timestamp, -7) << "outputs stay untouched when nothing is taken";
    EXPECT_EQ(e.status, -7);

    // The lowest on-screen key: a press and its release, stamped with the clock.
    int before = midiNow();
    midiPostNote(0x90, 60, 128);
    sleepMs(30);
    midiPostNote(0x80, 60, 0);
    int after = midiNow();
    ASSERT_EQ(take(&e), 1);
    EXPECT_EQ(e.status, 0x90);
    EXPECT_EQ(e.data1, 60);
    EXPECT_EQ(e.data2, 128) << "velocity 128 fits the 8-bit field";
    EXPECT_GE(e.timestamp, before);
    EXPECT_LE(e.timestamp, before + 10);
    int pressedAt = e.timestamp;
    ASSERT_EQ(take(&e), 1);
    EXPECT_EQ(e.status, 0x80);
    EXPECT_EQ(e.data1, 60);
    EXPECT_EQ(e.data2, 0);
    EXPECT_GE(e.timestamp, pressedAt + 25) << "each post is stamped when it is made";
    EXPECT_LE(e.timestamp, after);

    // Only the low 8 bits of each value travel; zero bytes survive the queue.
    midiPostNote(0x1FC, -1, 0x17F);
    midiPostNote(0, 0, 0);
    ASSERT_EQ(take(&e), 1);
    EXPECT_EQ(e.status, 0xFC);
    EXPECT_EQ(e.data1, 0xFF);
    EXPECT_EQ(e.data2, 0x7F);
    ASSERT_EQ(take(&e), 1);
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(e.data1, 0);
    EXPECT_EQ(e.data2, 0);
    EXPECT_EQ(take(&e), 0);

    midiStop();
    EXPECT_EQ(out.end(), "");
}

TEST(MidiReal, QueueOverflowIsReportedOnceAfterTheQueuedNotesAreTaken)
{
    cap::Capture out;
    midiStart();
    out.take();
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        for (int i = 0; i < 256; i++) midiPostNote(0x90 | (i & 15), i & 0x7F, i >> 7);
        midiPostNote(0x80, 99, 99);   // the 257th: refused
        midiPostNote(0x80, 98, 98);   // refused too, until the reader catches up
        Event e;
        for (int i = 0; i < 256; i++) {
            ASSERT_EQ(take(&e), 1) << i;
            EXPECT_EQ(e.status, 0x90 | (i & 15));
            EXPECT_EQ(e.data1, i & 0x7F);
            EXPECT_EQ(e.data2, i >> 7);
        }
        e = Event();
        EXPECT_EQ(take(&e), 0) << "the overflow ends the drain";
        EXPECT_EQ(e.status, -7);
        EXPECT_EQ(waitForOutput(out), OVERFLOW_LINE);
        EXPECT_EQ(take(&e), 0) << "an empty queue after the report";
        midiPostNote(0x90, 61, 5);
        ASSERT_EQ(take(&e), 1) << "posting works again after the report";
        EXPECT_EQ(e.data1, 61);
        EXPECT_EQ(take(&e), 0);
        sleepMs(40);
        EXPECT_EQ(out.take(), "") << "one line per overflow";
    }
    midiStop();
    EXPECT_EQ(out.end(), "");
}

}  // namespace
