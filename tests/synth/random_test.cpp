// The cached, vector-lane callback against the plain reference, bit for bit over
// every sample and the whole state of every voice: random playing, every note a
// message can carry, periods too long to replay, and an hour that stays sane.
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

// The sanitizer builds run ten minutes of it (MIRL_LONGRUN_SECONDS overrides).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const long LONGRUN_SECONDS = 600;
#else
const long LONGRUN_SECONDS = 3600;
#endif

template <class T> static bool same(const T &a, const T &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The first part of voice j where the engine and the reference differ in a single bit, or "".
static std::string voiceDifference(int j)
{
    const Voice &a = voicePool()[j], &b = ref::voices[j];
    LadderFilter fa = voiceFilter(j), fb = ref::filters[j];
    if (!same(a.phase, b.phase)) return "phase";
    if (!same(a.freq, b.freq) || !same(a.freqBelow, b.freqBelow) || !same(a.freqAbove, b.freqAbove)) return "pitch";
    if (a.note != b.note || a.velocity != b.velocity || a.gate != b.gate || a.active != b.active || a.restart != b.restart) return "key";
    if (!same(a.envelope, b.envelope)) return "envelope";   // stage, counter, times, level, output
    return same(fa, fb) ? "" : "filter";                    // coefficients, every stage and clamped copy
}

// Runs frames on the engine and on the reference from the same state; "" when
// the samples, every voice and the LFO agree bit for bit, else what differs.
static std::string compareBuffer(unsigned frames)
{
    static std::vector<float> a(4096), b(4096);
    ref::copyEngine();
    audioCallback(a.data(), frames);
    // The reference with subnormals flushed to zero, as the callback runs, so every bit of the filters compares.
#if defined(__SSE2__)
    unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON), ref::callback(b.data(), frames), _mm_setcsr(saved);
#elif defined(__aarch64__)
    unsigned saved = __builtin_aarch64_get_fpcr();
    __builtin_aarch64_set_fpcr(saved | (1u << 24)), ref::callback(b.data(), frames), __builtin_aarch64_set_fpcr(saved);
#else
    ref::callback(b.data(), frames);
#endif
    if (std::memcmp(a.data(), b.data(), frames * sizeof(float)) != 0) return "samples";
    for (int j = 0; j < VOICE_COUNT; j++)
        if (std::string d = voiceDifference(j); !d.empty()) return "voice " + std::to_string(j) + " " + d;
    const Lfo &l = *synthLfo();
    return l.counter == ref::lfo.counter && same(l.rate, ref::lfo.rate) && same(l.phase, ref::lfo.phase) ? "" : "lfo";
}

// What the clamp at the end of the callback hides, as the reference saw it.
static std::string mix() { return std::to_string(ref::seen.nans) + " NaN mixes, " + std::to_string(ref::seen.resets) + " filter restarts, peak " +
                                  std::to_string(ref::seen.peak) + ", " + std::to_string(ref::seen.longest) + " frames too loud in a row"; }

TEST(Random, EveryNoteAndPeriodsAroundTheReplayLimitMatchTheReference)
{
    startEngine(), ref::seen = {}, setKnob(KNOB_GAIN, 1.0f);
    for (int note = 0; note < 256; note++) {   // eight at a time, with the wave, fold and tune moving
        noteOn(note, 100, note);
        if (note % 8 != 7) continue;
        setKnob(KNOB_SHAPE, (note % 16) / 15.0f), setKnob(KNOB_FOLD, (note % 32) / 31.0f), setKnob(KNOB_TUNE, (note % 24) / 23.0f);
        ASSERT_EQ(compareBuffer(4096), "") << note;
        allNotesOff(note);
    }
    EXPECT_TRUE(ref::seen.nans == 0 && ref::seen.resets == 0 && ref::seen.peak < 8.0f) << mix();   // no filter blew up
    // Held notes whose periods lie either side of the longest one recorded
    // (note 17 plays 2020 samples, tuned down it passes 2048), each setting long enough to replay.
    startEngine(), setKnob(KNOB_SUSTAIN, 1.0f);
    for (int note : {15, 16, 17, 18, 40}) noteOn(note, 100, 0);
    for (float tune : {0.5f, 0.39f, 0.385f, 0.38f, 0.375f, 0.2f, 0.0f, 0.5f}) {
        setKnob(KNOB_TUNE, tune);
        for (int b = 0; b < 200; b++) ASSERT_EQ(compareBuffer(512), "") << tune << " " << b;
    }
}

// An hour of random playing, knob turning and patching (ten minutes under the
// sanitizers), every eighth buffer checked against the reference bit for bit.
TEST(Random, AnHourOfPlayingMatchesTheReferenceOnEveryLanePathAndStaysSane)
{
    startEngine(), ref::seen = {};
    std::mt19937 rng(2024);
    std::vector<float> buf(1500);
    const long end = (long)SAMPLE_RATE * (getenv("MIRL_LONGRUN_SECONDS") ? atol(getenv("MIRL_LONGRUN_SECONDS")) : LONGRUN_SECONDS);
    float lo = 0, hi = 0;
    for (long frames = 0, buffer = 0, time = 0; frames < end; buffer++, time = frames * 1000 / SAMPLE_RATE) {
        long second = frames / SAMPLE_RATE;
        LanePath path = useLanePath((LanePath)(second / 5 % 3));   // plain, SSE2 and AVX2 lanes in turn
        // About ten changes a second, but held still for half a minute now and then, where periods replay;
        // every note a message can carry and beyond, or the keyboard's range.
        if (rng() % (second / 30 % 3 == 2 ? 2000 : 9) == 0) randomChange(rng, (int)time, second / 20 % 2 ? 24 : 0, second / 20 % 2 ? 108 : 255);
        unsigned n = second / 7 % 4 == 0 ? 1 + (unsigned)(rng() % 1500) : 512;   // now and then odd buffer sizes
        if (buffer % 8 == 0) ASSERT_EQ(compareBuffer(n), "") << "path " << path << " frame " << frames;
        else audioCallback(buf.data(), n);
        for (unsigned i = 0; i < n; i++) lo = std::min(lo, buf[i]), hi = std::max(hi, buf[i]);
        frames += n;
    }
    useLanePath(LANES_AVX2);
    EXPECT_TRUE(lo < -0.5f && hi > 0.5f);   // it really played
    // Wild settings may blow a filter up, but it starts again within a few frames, and no NaN reaches the mix.
    EXPECT_TRUE(ref::seen.nans == 0 && ref::seen.longest <= 32) << mix();
    allNotesOff((int)(end * 1000 / SAMPLE_RATE));
    for (int b = 0; b < SAMPLE_RATE * 5 / 512; b++) audioCallback(buf.data(), 512);   // the longest release is 4 s
    for (int j = 0; j < VOICE_COUNT; j++) EXPECT_FALSE(voicePool()[j].active) << j;
}
