// The audio thread fills the scope ring and drains the note queue while the
// main thread reads the ring, posts key presses and publishes knob snapshots,
// as the running program does. ThreadSanitizer checks the hand-overs.
#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>
#include "midi/midi.h"
#include "panel/panel.h"
#include "synth/synth.h"

extern "C" const char *__lsan_default_suppressions() { return "leak:libportmidi.so\n"; }

namespace {

TEST(ScopeConcurrency, AudioThreadWritesWhileMainThreadReadsAndPlays)
{
    resetPanel();
    for (int id = 1; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    controlTable()[20].value = 1.0f;
    snapshotParams();
    midiStart();
    resetSynth();
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> buf(512);
        while (!stop.load()) audioCallback(buf.data(), 512);
    });
    float seen = 0.0f;
    for (int round = 0; round < 400; round++) {
        midiPostNote(round % 2 ? 0x80 : 0x90, 60 + round % 12, round % 2 ? 0 : 128);
        controlTable()[2].value = (round % 10) / 10.0f;
        snapshotParams();
        int oldest = scopeOldestIndex();
        ASSERT_GE(oldest, 0);
        ASSERT_LT(oldest, SCOPE_SIZE);
        for (int i = 0; i < SCOPE_SIZE; i++) {
            float s = scopeSample((oldest + i) % SCOPE_SIZE);
            ASSERT_TRUE(s >= -1.0f && s <= 1.0f);
            seen = std::max(seen, std::fabs(s));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop = true;
    audio.join();
    midiStop();
    EXPECT_GT(seen, 0.0f);   // the ring really carried sound
    resetPanel();
}

}  // namespace
