// The callback caches filter coefficients, periods and oscillator tables and
// runs eight voices in vector lanes. Here it must give the plain reference's
// samples bit for bit over random playing, knob turning and patching.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>
#include "tests/synth/reference_engine.h"
#include "tests/synth/synth_test.h"

namespace {

TEST(Reference, CallbackMatchesPlainMathsBitForBit)
{
    for (unsigned seed = 1; seed <= 8; seed++) {
        useWideLanes(seed % 2 == 0);   // both lane widths
        startEngine();
        std::mt19937 rng(seed);
        auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
        std::vector<float> a(2048), b(2048);
        int time = 0;
        for (long frames = 0; frames < 44100L * 6;) {
            // Seeds 5 to 8 hold still for long stretches, where periods replay.
            int changes = seed > 4 ? (pick(40) == 0 ? 1 + pick(3) : 0) : pick(4);
            for (int c = 0; c < changes; c++) randomChange(rng, time += pick(40), 36, 96);
            unsigned n = seed % 3 == 0 ? (unsigned)pick(1500) : 512;
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
    resetPanel();
}

TEST(Reference, DenormalFlushIsInaudible)
{
    // Note 140 has a one-sample period: the saw feeds the filter a constant +1,
    // then the sine a constant 0, and the plain filter decays into subnormals.
    startEngine();
    setKnob(20, 1.0f), setKnob(10, 1.0f), setKnob(2, 1.0f);   // gain, sustain, saw
    noteOn(140, 100, 0);
    std::vector<float> a(512), b(512);
    for (int i = 0; i < 20; i++) audioCallback(a.data(), 512);
    setKnob(2, 0.0f);
    audioCallback(a.data(), 0);
    ref::copyEngine();
    bool subnormal = false;
    for (int i = 0; i < 400; i++) {
        audioCallback(a.data(), 512);
        ref::callback(b.data(), 512);
        for (int k = 0; k < 512; k++) ASSERT_NEAR(a[k], b[k], 1e-37f) << i << " " << k;
        const LadderFilter &q = ref::voices[7].filter;
        for (float s : {q.y1, q.y2, q.y3, q.y4}) subnormal |= std::fpclassify(s) == FP_SUBNORMAL;
    }
    EXPECT_TRUE(subnormal);   // the case really arose in the plain engine
    resetPanel();
}

}  // namespace
