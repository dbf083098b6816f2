// Random playing, knob turning and patching: the cached, vector-lane callback
// gives the plain reference's samples bit for bit, and an hour of it stays sane.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#if defined(__SSE2__)
#include <pmmintrin.h>
#endif
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

// The first field of voice j where the engine and the reference differ in a single bit, or "".
static std::string voiceDifference(int j)
{
    const Voice &a = voicePool()[j], &b = ref::voices[j];
    LadderFilter fa = voiceFilter(j), fb = ref::filters[j];
    struct { const char *name; const void *x, *y; size_t size; } fields[] = {
        {"phase", &a.phase, &b.phase, 4}, {"freq", &a.freq, &b.freq, 12}, {"note", &a.note, &b.note, 8},
        {"gate", &a.gate, &b.gate, 2}, {"restart", &a.restart, &b.restart, 4}, {"envelope", &a.envelope, &b.envelope, sizeof(Envelope)},
        {"filter", &fa, &fb, sizeof(LadderFilter)}};
    for (auto &f : fields)
        if (std::memcmp(f.x, f.y, f.size) != 0) return f.name;
    return "";
}

// The reference with subnormal numbers flushed to zero, as the callback runs,
// so that every bit of the filter states can be compared.
static void referenceFlushed(float *out, unsigned frames)
{
#if defined(__SSE2__)
    unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON);
    ref::callback(out, frames);
    _mm_setcsr(saved);
#elif defined(__aarch64__)
    unsigned saved = __builtin_aarch64_get_fpcr();
    __builtin_aarch64_set_fpcr(saved | (1u << 24));
    ref::callback(out, frames);
    __builtin_aarch64_set_fpcr(saved);
#else
    ref::callback(out, frames);
#endif
}

TEST(Random, EveryLanePathMatchesPlainReferenceBitForBit)
{
    for (unsigned seed = 1; seed <= 12; seed++) {
        LanePath path = useLanePath((LanePath)(seed % 3));   // plain, SSE2 and AVX2 lanes in turn
        startEngine();
        std::mt19937 rng(seed);
        std::vector<float> a(2048), b(2048);
        // Every note a key can carry and beyond (periods past the replay limit, periods of one sample).
        int low = seed % 2 ? 0 : 24, high = seed % 2 ? 255 : 108;
        for (long frames = 0, time = 0; frames < SAMPLE_RATE * 6L;) {
            // Seeds 7 to 12 hold still for long stretches, where periods replay.
            int changes = seed > 6 ? (rng() % 40 == 0 ? 1 + (int)(rng() % 3) : 0) : (int)(rng() % 4);
            for (int c = 0; c < changes; c++) randomChange(rng, (int)(time += rng() % 40), low, high);
            unsigned n = seed % 4 == 0 ? (unsigned)(rng() % 1500) : 512;
            ref::copyEngine();
            audioCallback(a.data(), n);
            referenceFlushed(b.data(), n);
            ASSERT_EQ(std::memcmp(a.data(), b.data(), n * sizeof(float)), 0) << "seed " << seed << " path " << path << " frame " << frames;
            for (int j = 0; j < VOICE_COUNT; j++)   // and the whole state carried into the next buffer
                ASSERT_EQ(voiceDifference(j), "") << "seed " << seed << " path " << path << " voice " << j << " frame " << frames;
            ASSERT_TRUE(std::memcmp(synthLfo(), &ref::lfo, sizeof(Lfo)) == 0) << "seed " << seed;
            frames += n;
        }
    }
    useLanePath(LANES_AVX2);
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
        for (float s : {ref::filters[7].y1, ref::filters[7].y4}) subnormal |= std::fpclassify(s) == FP_SUBNORMAL;
    }
    EXPECT_TRUE(subnormal);   // the case really arose in the plain engine
}

TEST(Random, AnHourOfPlayingStaysSane)
{
    startEngine();
    std::mt19937 rng(2024);
    std::vector<float> buf(512);
    const long end = (long)SAMPLE_RATE * (getenv("MIRL_LONGRUN_SECONDS") ? atol(getenv("MIRL_LONGRUN_SECONDS")) : LONGRUN_SECONDS);
    float lo = 0, hi = 0;
    int time = 0;
    for (long frames = 0; frames < end; frames += 512, time = (int)(frames * 1000 / SAMPLE_RATE)) {
        if (rng() % 9 == 0) randomChange(rng, time, 0, 255);   // about ten changes a second
        audioCallback(buf.data(), 512);
        for (float s : buf) lo = std::min(lo, s), hi = std::max(hi, s);
        for (int j = 0; j < VOICE_COUNT; j++) {   // a filter driven past the float range has started again
            LadderFilter q = voiceFilter(j);
            for (float s : {q.y1, q.y2, q.y3, q.y4, q.x1, q.y1old, q.y2old, q.y3old}) ASSERT_TRUE(std::isfinite(s)) << frames;
        }
    }
    EXPECT_TRUE(lo < -0.5f && hi > 0.5f);   // it really played
    allNotesOff(time);
    for (int b = 0; b < SAMPLE_RATE * 5 / 512; b++) audioCallback(buf.data(), 512);   // the longest release is 4 s
    for (int j = 0; j < VOICE_COUNT; j++) EXPECT_FALSE(voicePool()[j].active) << j;
}
