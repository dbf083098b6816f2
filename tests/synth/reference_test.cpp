// The callback caches what has not changed (filter coefficients, periods,
// oscillator tables). This file keeps a plain reference engine that evaluates
// every step on every frame, and proves the real callback's samples are
// bit-identical to it over random playing, knob turning and patching.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>
#include "panel/panel.h"
#include "raymath.h"
#include "synth/synth.h"
#include "tests/synth/reference_engine.h"


namespace {

struct Player {
    std::mt19937 rng;
    int time = 0;
    explicit Player(unsigned seed) : rng(seed) {}
    int pick(int n) { return (int)(rng() % (unsigned)n); }
    float unit() { return (float)(rng() % 1001) / 1000.0f; }

    // One random change to both engines: a knob, a cable, or a note event.
    void act(int lowNote, int highNote)
    {
        static const int knobIds[13] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 20};
        static const int sources[4] = {0, 13, 19, 7};
        int what = pick(10);
        time += pick(40);
        if (what < 3) {
            controlTable()[knobIds[pick(13)]].value = pick(5) == 0 ? (float)pick(2) : unit();
        } else if (what == 3) {
            Cable &c = cableTable()[pick(5)];
            c.inUse = pick(3) != 0;
            c.from = sources[pick(4)];
            c.to = 14 + (int)(&c - cableTable());
        } else if (what < 7) {
            int note = lowNote + pick(highNote - lowNote + 1), vel = pick(6) == 0 ? 0 : 1 + pick(128);
            int t = pick(50) == 0 ? -time : time;   // the odd timestamp from another clock
            if (vel) noteOn(note, vel, t), ref::on(note, vel, t);
            else noteOff(note, t), ref::off(note, t);
        } else if (what < 9) {
            int note = lowNote + pick(highNote - lowNote + 1);
            noteOff(note, time), ref::off(note, time);
        } else if (pick(4) == 0) {
            allNotesOff(time), ref::allOff(time);
        }
        snapshotParams();
    }
};

void startBoth()
{
    resetPanel();
    for (int id = 1; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    snapshotParams();
    resetSynth();
    *synthLfo() = {};
    ref::reset();
}

TEST(Reference, CachedCallbackMatchesPlainMathsBitForBit)
{
    for (unsigned seed = 1; seed <= 8; seed++) {
        useWideLanes(seed % 2 == 0);   // both builds of the frame loop
        startBoth();
        Player player(seed);
        std::vector<float> a(2048), b(2048);
        long frames = 0;
        int buffers = 0;
        while (frames < 44100L * 6) {
            // Seeds 5 to 8 hold still for long stretches, where periods repeat exactly.
            int changes = seed > 4 ? (player.pick(40) == 0 ? 1 + player.pick(3) : 0) : player.pick(4);
            for (int c = 0; c < changes; c++) player.act(36, 96);
            unsigned n = seed % 3 == 0 ? (unsigned)player.pick(1500) : 512;
            audioCallback(a.data(), n);
            ref::callback(b.data(), n);
            ASSERT_EQ(std::memcmp(a.data(), b.data(), n * sizeof(float)), 0)
                << "seed " << seed << " buffer " << buffers << " frame " << frames;
            frames += n;
            buffers++;
        }
        resetPanel();
    }
    useWideLanes(true);
}

TEST(Reference, DenormalFlushIsInaudible)
{
    // A note so high its period is one sample: at shape 1 it feeds the filter a
    // constant +1, at shape 0 a constant 0, and the plain engine's filter states
    // then decay into subnormal numbers and stay there.
    startBoth();
    controlTable()[20].value = 1.0f;   // gain
    controlTable()[10].value = 1.0f;   // sustain
    controlTable()[2].value = 1.0f;    // shape: saw
    snapshotParams();
    noteOn(140, 100, 0), ref::on(140, 100, 0);
    std::vector<float> a(512), b(512);
    for (int i = 0; i < 20; i++) audioCallback(a.data(), 512), ref::callback(b.data(), 512);
    controlTable()[2].value = 0.0f;
    snapshotParams();
    bool subnormal = false;
    for (int i = 0; i < 400; i++) {
        audioCallback(a.data(), 512);
        ref::callback(b.data(), 512);
        for (int k = 0; k < 512; k++) ASSERT_NEAR(a[k], b[k], 1e-37f) << i << " " << k;
        const LadderFilter &q = ref::voices[7].filter;
        for (float s : {q.y1, q.y2, q.y3, q.y4}) subnormal |= std::fpclassify(s) == FP_SUBNORMAL;
    }
    EXPECT_TRUE(subnormal);   // the case really arose in the plain engine
    const LadderFilter &q = voicePool()[7].filter;
    for (float s : {q.y1, q.y2, q.y3, q.y4}) EXPECT_NE(std::fpclassify(s), FP_SUBNORMAL);
    resetPanel();
}

}  // namespace
