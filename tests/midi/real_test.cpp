// The real PortMidi and PortTime on a machine without MIDI devices: start-up,
// the clock, key presses through the real queue and its overflow.
#include "tests/midi/midi_test.h"

TEST(MidiReal, StartsEmptyAndCarriesKeyPressesThroughTheQueue)
{
    EXPECT_EQ(printed(midiStart), "----------Midi input device list----------\n");
    EXPECT_EQ(midiDeviceName(), nullptr) << "nothing is opened";

    // Two key presses 30 ms apart: the bytes travel as their low 8 bits, each stamped when posted.
    int t0 = midiNow();
    midiPostNote(0x90, 60, 128), sleepMs(30), midiPostNote(0x1FC, -1, 0x17F);
    int t1 = midiNow();
    Event a, b, none{-1, -1, -1, -1};
    ASSERT_TRUE(take(a) && take(b));
    EXPECT_TRUE(!take(none) && none == (Event{-1, -1, -1, -1})) << "nothing is written when nothing is taken";
    EXPECT_EQ(a, (Event{a[0], 0x90, 60, 128}));
    EXPECT_EQ(b, (Event{b[0], 0xFC, 0xFF, 0x7F}));
    EXPECT_TRUE(t0 <= a[0] && a[0] + 25 <= b[0] && b[0] <= t1) << "the PortTime clock in ms: " << a[0] << ' ' << b[0];

    // Overflow: 256 fit, the 257th is refused and reported once, after the 256 are taken.
    for (int i = 0; i < 257; i++) midiPostEvent(i, 0x80 | (i & 15), i & 0x7F, i >> 7);
    for (int i = 0; i < 256; i++) ASSERT_TRUE(take(a) && a == (Event{i, 0x80 | (i & 15), i & 0x7F, i >> 7})) << i;
    EXPECT_EQ(printed([&] { EXPECT_FALSE(take(a)); }, 400), "midi event queue overflowed\n");   // the next poll, even late
    EXPECT_EQ(printed([&] { EXPECT_FALSE(take(a)); }, 40), "") << "reported once";
    midiPostNote(0x90, 61, 5);
    EXPECT_TRUE(take(a) && a[2] == 61) << "posting works again";
    EXPECT_EQ(printed(midiStop), "");
}
