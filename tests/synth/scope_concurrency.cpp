// The audio thread fills the scope ring and drains the note queue while the
// main thread reads the ring, posts key presses and publishes knob snapshots,
// as the running program does. ThreadSanitizer checks the hand-overs.
#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>
#include "midi/midi.h"
#include "tests/synth/synth_test.h"

TEST(ScopeConcurrency, AudioThreadWritesWhileMainThreadReadsAndPlays)
{
    startEngine();
    setKnob(KNOB_GAIN, 1.0f);
    midiStart();
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        for (std::vector<float> buf(512); !stop.load();) audioCallback(buf.data(), 512);
    });
    float seen = 0.0f;
    for (int round = 0; round < 400; round++, std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        midiPostNote(round % 2 ? 0x80 : 0x90, 60 + round % 12, round % 2 ? 0 : 127);
        setKnob(KNOB_SHAPE, (round % 10) / 10.0f);
        int oldest = scopeOldestIndex();
        ASSERT_TRUE(oldest >= 0 && oldest < SCOPE_SIZE);
        for (int i = 0; i < SCOPE_SIZE; i++) seen = std::max(seen, std::fabs(scopeSample((oldest + i) % SCOPE_SIZE)));
    }
    stop = true, audio.join(), midiStop();
    EXPECT_TRUE(seen > 0.0f && seen <= 1.0f);   // the ring really carried sound, and only sound
}
