// An hour of random playing, knob turning and patching (MIRL_LONGRUN_SECONDS
// shortens it for a quick local run): the sound stays a
// number within [-1, 1], and once every key is up and the longest release has
// run out, no voice is left sounding.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>
#include "panel/panel.h"
#include "synth/synth.h"

namespace {

TEST(LongRun, AnHourOfRandomPlayingStaysSane)
{
    resetPanel();
    for (int id = 1; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    snapshotParams();
    resetSynth();
    *synthLfo() = {};
    std::mt19937 rng(2024);
    static const int knobIds[13] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 20};
    std::vector<float> buf(512);
    std::vector<int> held;
    const long hour = 44100L * (getenv("MIRL_LONGRUN_SECONDS") ? atol(getenv("MIRL_LONGRUN_SECONDS")) : 3600);
    long frames = 0;
    int time = 0;
    float lo = 0, hi = 0;
    while (frames < hour) {
        // About ten changes a second, of every kind.
        if (rng() % 9 == 0) {
            int what = (int)(rng() % 10);
            if (what < 4) {
                controlTable()[knobIds[rng() % 13]].value = (float)(rng() % 1001) / 1000.0f;
            } else if (what < 5) {
                Cable &c = cableTable()[rng() % 5];
                c.inUse = rng() % 3 != 0;
                c.from = (rng() % 2) ? 13 : 19;
                c.to = 14 + (int)(&c - cableTable());
            } else if (what < 7) {
                int note = (int)(rng() % 256);
                noteOn(note, 1 + (int)(rng() % 128), time);
                held.push_back(note);
            } else if (!held.empty()) {
                // Keys come up as they went down, now and then all at once.
                size_t k = rng() % held.size();
                noteOff(held[k], time);
                held.erase(held.begin() + (long)k);
                if (rng() % 20 == 0) allNotesOff(time), held.clear();
            }
            snapshotParams();
        }
        audioCallback(buf.data(), 512);
        bool sane = true;
        for (float s : buf) {
            sane &= s >= -1.0f && s <= 1.0f;   // also false for NaN
            lo = s < lo ? s : lo;
            hi = s > hi ? s : hi;
        }
        ASSERT_TRUE(sane) << "buffer at frame " << frames;
        frames += 512;
        time = (int)(frames * 1000 / 44100);
    }
    EXPECT_LT(lo, -0.5f);   // it really played
    EXPECT_GT(hi, 0.5f);
    allNotesOff(time);
    for (int b = 0; b < 44100 * 5 / 512; b++) audioCallback(buf.data(), 512);   // the longest release is 4 s
    for (int j = 0; j < VOICE_COUNT; j++) EXPECT_FALSE(voicePool()[j].active) << j;
    EXPECT_EQ(buf[511], 0.0f);
    resetPanel();
}

}  // namespace
