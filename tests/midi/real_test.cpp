// The real PortMidi and PortTime on a machine without MIDI devices: start-up,
// the clock, key presses through the real queue and its overflow.
#include <gtest/gtest.h>
#include "tests/midi/midi_test.h"

TEST(MidiReal, StartsEmptyAndCarriesKeyPressesThroughTheQueue)
{
    EXPECT_EQ(printed(midiStart), "----------Midi input device list----------\n");
    EXPECT_EQ(midiDeviceName(), nullptr);
    EXPECT_EQ(printed(midiNextDevice), "") << "a click without an input device opens nothing";
    EXPECT_EQ(midiDeviceName(), nullptr);

    // Two key presses 30 ms apart: the bytes travel as their low 8 bits, each stamped when posted.
    int t0 = midiNow();
    midiPostNote(0x90, 60, 128);
    sleepMs(30);
    midiPostNote(0x1FC, -1, 0x17F);
    int t1 = midiNow();
    EXPECT_GE(t1 - t0, 25) << "the PortTime clock runs in milliseconds";
    Event a, b, none;
    ASSERT_TRUE(take(a) && take(b));
    EXPECT_EQ(take(none), false);
    EXPECT_EQ(none, Event()) << "nothing is written when nothing is taken";
    EXPECT_EQ(a, (Event{a.timestamp, 0x90, 60, 128}));
    EXPECT_EQ(b, (Event{b.timestamp, 0xFC, 0xFF, 0x7F}));
    EXPECT_LE(t0, a.timestamp);
    EXPECT_GE(b.timestamp - a.timestamp, 25);
    EXPECT_LE(b.timestamp, t1);

    // Overflow, twice: 256 fit, the 257th is refused and reported once, after the 256 are taken.
    for (int round = 0; round < 2; round++) {
        for (int i = 0; i < 257; i++) midiPostEvent(i, 0x80 | (i & 15), i & 0x7F, i >> 7);
        for (int i = 0; i < 256; i++) {
            ASSERT_TRUE(take(a)) << i;
            EXPECT_EQ(a, (Event{i, 0x80 | (i & 15), i & 0x7F, i >> 7}));
        }
        EXPECT_EQ(printed([] { Event e; EXPECT_FALSE(take(e)); }, 60), "midi event queue overflowed\n");
        EXPECT_EQ(printed([] { Event e; EXPECT_FALSE(take(e)); }, 40), "") << "reported once";
        midiPostNote(0x90, 61, 5);
        ASSERT_TRUE(take(a)) << "posting works again";
        EXPECT_EQ(a.data1, 61);
    }
    EXPECT_EQ(printed(midiStop), "");
}
