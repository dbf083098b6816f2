// Random playing, knob turning and patching: the cached, vector-lane callback
// gives the plain reference's samples bit for bit, and an hour of it stays sane.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "tests/synth/reference_engine.h"
#include "tests/synth/synth_test.h"

#ifndef __has_feature
#define __has_feature(x) 0
#endif
// The sanitizer builds run ten minutes of it (MIRL_LONGRUN_SECONDS overrides).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || __has_feature(address_sanitizer)
const long LONGRUN_SECONDS = 600;
#else
const long LONGRUN_SECONDS = 3600;
#endif

TEST(Random, CallbackMatchesPlainReferenceBitForBit)
{
    for (unsigned seed = 1; seed <= 8; seed++) {
        useWideLanes(seed % 2 == 0);   // both lane widths
        startEngine();
        std::mt19937 rng(seed);
        std::vector<float> a(2048), b(2048);
        for (long frames = 0, time = 0; frames < 44100L * 6;) {
            // Seeds 5 to 8 hold still for long stretches, where periods replay.
            int changes = seed > 4 ? (rng() % 40 == 0 ? 1 + (int)(rng() % 3) : 0) : (int)(rng() % 4);
            for (int c = 0; c < changes; c++) randomChange(rng, (int)(time += rng() % 40), 36, 96);
            unsigned n = seed % 3 == 0 ? (unsigned)(rng() % 1500) : 512;
            ref::copyEngine();
            audioCallback(a.data(), n);
            ref::callback(b.data(), n);
            ASSERT_EQ(std::memcmp(a.data(), b.data(), n * sizeof(float)), 0) << "seed " << seed << " frame " << frames;
            for (int j = 0; j < VOICE_COUNT; j++)   // and the state carried into the next buffer
                ASSERT_TRUE(voicePool()[j].phase == ref::voices[j].phase && voicePool()[j].filter.y4 == ref::voices[j].filter.y4 &&
                            voicePool()[j].envelope.level == ref::voices[j].envelope.level) << "seed " << seed << " voice " << j;
            frames += n;
        }
    }
    useWideLanes(true);
}

TEST(Random, DenormalFlushIsInaudible)
{
    // Note 140 has a one-sample period: the saw feeds the filter a constant +1,
    // then the sine a constant 0, and the plain filter decays into subnormals.
    startEngine();
    setKnob(20, 1.0f), setKnob(10, 1.0f), setKnob(2, 1.0f), noteOn(140, 100, 0);   // gain, sustain, saw
    std::vector<float> a(512 * 20), b(512);
    audioCallback(a.data(), 512 * 20);
    setKnob(2, 0.0f), ref::copyEngine();
    bool subnormal = false;
    for (int i = 0; i < 400; i++) {
        audioCallback(a.data(), 512);
        ref::callback(b.data(), 512);
        for (int k = 0; k < 512; k++) ASSERT_NEAR(a[k], b[k], 1e-37f) << i << " " << k;   // a denormal's size at most
        for (float s : {ref::voices[7].filter.y1, ref::voices[7].filter.y4}) subnormal |= std::fpclassify(s) == FP_SUBNORMAL;
    }
    EXPECT_TRUE(subnormal);   // the case really arose in the plain engine
}

TEST(Random, AnHourOfPlayingStaysSane)
{
    startEngine();
    std::mt19937 rng(2024);
    std::vector<float> buf(512);
    const long end = 44100L * (getenv("MIRL_LONGRUN_SECONDS") ? atol(getenv("MIRL_LONGRUN_SECONDS")) : LONGRUN_SECONDS);
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
    EXPECT_TRUE(lo < -0.5f && hi > 0.5f);   // it really played
    allNotesOff(time);
    for (int b = 0; b < 44100 * 5 / 512; b++) audioCallback(buf.data(), 512);   // the longest release is 4 s
    for (int j = 0; j < VOICE_COUNT; j++) EXPECT_FALSE(voicePool()[j].active) << j;
}
