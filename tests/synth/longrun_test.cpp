// An hour of random playing, knob turning and patching (ten minutes under the
// sanitizers, whose slower build would take minutes of CI; MIRL_LONGRUN_SECONDS
// overrides both): the sound stays a number within [-1, 1], and once every key
// is up and the longest release has run out, no voice is left sounding.
#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>
#include "tests/synth/synth_test.h"

#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || __has_feature(address_sanitizer)
const long LONGRUN_SECONDS = 600;
#else
const long LONGRUN_SECONDS = 3600;
#endif

TEST(LongRun, AnHourOfRandomPlayingStaysSane)
{
    startEngine();
    std::mt19937 rng(2024);
    std::vector<float> buf(512);
    const char *env = getenv("MIRL_LONGRUN_SECONDS");
    const long end = 44100L * (env ? atol(env) : LONGRUN_SECONDS);
    float lo = 0, hi = 0;
    int time = 0;
    for (long frames = 0; frames < end; frames += 512, time = (int)(frames * 1000 / 44100)) {
        if (rng() % 9 == 0) randomChange(rng, time, 0, 255);   // about ten changes a second
        audioCallback(buf.data(), 512);
        for (float s : buf) {
            ASSERT_TRUE(s >= -1.0f && s <= 1.0f) << "frame " << frames;   // also false for NaN
            lo = std::min(lo, s), hi = std::max(hi, s);
        }
    }
    EXPECT_LT(lo, -0.5f);   // it really played
    EXPECT_GT(hi, 0.5f);
    allNotesOff(time);
    for (int b = 0; b < 44100 * 5 / 512; b++) audioCallback(buf.data(), 512);   // the longest release is 4 s
    for (int j = 0; j < VOICE_COUNT; j++) EXPECT_FALSE(voicePool()[j].active) << j;
    resetPanel();
}
