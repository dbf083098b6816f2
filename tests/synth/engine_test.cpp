// The engine's building blocks and voice handling, checked against the numbers a listener
// hears: pitches, fold shapes, filter coefficients, envelope timing, which voice a note takes.
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#include "tests/synth/synth_test.h"

TEST(Blocks, OscillatorFolderFilterAndKnobRanges)
{
    struct { float n, freq, shape, want; } osc[] = {{0, 440, 0, 0}, {0, 440, 0.5f, 0}, {0, 440, 1, 1}, {25, 441, 0, 1},
                                                  {25, 441, 0.5f, 1}, {25, 441, 1, 0.5f}, {75, 441, 0.5f, -1}, {90, 441, 0.5f, -0.4f}};
    for (auto &o : osc) EXPECT_NEAR(oscillatorSample(o.n, o.freq, o.shape), o.want, 1e-6) << o.n << " " << o.shape;
    EXPECT_EQ(oscillatorPeriod(noteFrequency(69)), 100.0);   // 440 Hz plays as 441 Hz
    Voice v{0, noteFrequency(69), noteFrequency(68), noteFrequency(70), 69, 0, true, true, 0, {}};
    for (auto [tune, hz] : {std::pair{0.5f, 453.08f}, {1.0f, 466.16f}, {-0.25f, 433.83f}, {-1.0f, 415.30f}})   // linear in Hz
        EXPECT_NEAR(detunedFrequency(v, tune), hz, 0.01f) << tune;
    struct { float x, b, want; } fold[] = {{0.5f, 0.5f, 0.5f}, {0.75f, 0.5f, 0.25f}, {1, 0.5f, 0}, {1, 0.25f, 0}, {0.5f, 0.25f, 0}};
    for (auto &f : fold) EXPECT_NEAR(foldSample(f.x, f.b), f.want, 1e-6) << f.x << " " << f.b;
    for (float x = -1.0f; x <= 1.0f; x += 0.01f) EXPECT_NEAR(foldSample(x, 1.01f), x, 1e-6);
    struct { float cutoff, f, k, p, r; } coef[] = {{400, 0.01814f, -0.93522f, 0.03239f, 3.648f}, {15400, 0.69841f, 0.73384f, 0.86692f, 1.5836f}};
    for (auto &c : coef) {
        LadderFilter q{};
        filterSetup(q, c.cutoff, 1.0f);
        EXPECT_TRUE(std::fabs(q.f - c.f) < 1e-5 && std::fabs(q.k - c.k) < 1e-5 && std::fabs(q.p - c.p) < 1e-5 && std::fabs(q.r - c.r) < 1e-3)
            << c.cutoff << ": " << q.f << " " << q.k << " " << q.p << " " << q.r;
    }
    // A knob plus a modulation offset saturates at the range's end, the falling fold range included.
    struct { ParamSlot slot; float knob, offset, want; } ranges[] = {{PARAM_FOLD, 0, 0, 1.01f}, {PARAM_FOLD, 0, -0.5f, 1.01f},
        {PARAM_FOLD, 1, 0.5f, 0.001f}, {PARAM_FOLD, 0.5f, 1, 0.001f}, {PARAM_CUTOFF, 0.8f, 0.5f, 15400}, {PARAM_TUNE, 0.5f, 0.5f, 1},
        {PARAM_ENV_AMOUNT, 0, 0, -1}, {PARAM_LFO_RATE, 1, 0, 8.82f}};
    for (auto &r : ranges) {
        float knob[PARAM_COUNT] = {};
        EXPECT_EQ((knob[r.slot] = r.knob, modulatedParam(knob, r.slot, r.offset)), r.want) << r.slot << " " << r.knob << " " << r.offset;
    }
}

TEST(Blocks, LaneTwinsMatchTheirScalarSteps)
{
    // White noise into the brightest, most resonant filters drives the cubic past the float range, and
    // the filter starts again: each lane twin gives the scalar step's numbers bit for bit, restarts included.
    FilterBank plain{}, wide{};
    LadderFilter scalar[LANES] = {};
    for (int j = 0; j < LANES; j++) {
        filterSetup(scalar[j], 15000.0f + 50.0f * j, 0.93f + 0.01f * j);
        setLaneFilter(plain, j, scalar[j]), setLaneFilter(wide, j, scalar[j]);
    }
    uint32_t seed = 1861, restarts = 0;
    auto noise = [&] { return (float)((seed = seed * 1664525u + 1013904223u) >> 8) / 8388608.0f - 1.0f; };
#if SYNTH_VECTOR_LANES
    auto filterWide = filterLanes;
#else
    auto filterWide = filterPlain;
#endif
    for (int i = 0; i < SAMPLE_RATE; i++) {
        float in[LANES], a[LANES], b[LANES];
        int32_t keep[LANES];
        for (int j = 0; j < LANES; j++) in[j] = noise(), keep[j] = (i + j) % 5 ? -1 : 0;   // lanes sit out in turn
        filterPlain(plain, in, keep, a), filterWide(wide, in, keep, b);
        for (int j = 0; j < LANES; j++) {
            float before = scalar[j].y4;
            if (keep[j]) filterProcess(scalar[j], in[j]);
            restarts += before != 0.0f && scalar[j].y4 == 0.0f && scalar[j].y1 == 0.0f;
            LadderFilter p = laneFilter(plain, j), w = laneFilter(wide, j);
            ASSERT_TRUE(std::memcmp(&p, &scalar[j], sizeof p) == 0 && std::memcmp(&w, &scalar[j], sizeof w) == 0 && a[j] == p.y4 && b[j] == w.y4)
                << i << " " << j;
        }
    }
    EXPECT_GT(restarts, 10u);
}

TEST(Blocks, EnvelopeAndLfoTiming)
{
    EXPECT_TRUE(std::fabs(envelopeCurve(0.5f) - 0.7112f) < 1e-4 && envelopeCurve(0.09f) == 0.0f);
    Envelope e{};   // shortest attack: 16 silent samples, the 17th sounds
    for (int i = 1; i <= 17; i++) { envelopeTick(e, true, 0.004f, 0.2f, 0.5f, 1.0f); EXPECT_EQ(e.output > 0.0f, i == 17) << i; }
    Envelope h{STAGE_ATTACK, 0, 1000, 1050, 0, 0};   // a key held 50 ms of a 2 s attack, on and off known at once, rises for 50 ms only
    while (h.stage == STAGE_ATTACK) envelopeTick(h, false, 2.0f, 0.2f, 0.5f, 1.0f);
    EXPECT_NEAR(h.level, 0.025f, 0.001f);
    for (float s : {0.0f, 1.0f}) {   // sustain 1 holds level 1; sustain 0 is silent but alive while held
        Envelope d{STAGE_DECAY, 0, 0, -1, 1.0f, 1.0f};
        for (int i = 0; i < SAMPLE_RATE; i++) ASSERT_TRUE(envelopeTick(d, true, 0.004f, 0.2f, s, 1.0f));
        EXPECT_TRUE(d.stage == STAGE_SUSTAIN && d.level == s) << s;
    }
    Envelope dk{STAGE_DECAY, 0, 0, 5, 1.0f, 1.0f}, sk{STAGE_SUSTAIN, 0, 0, 5, 0.5f, envelopeCurve(0.5f)};
    envelopeTick(dk, false, 0.004f, 0.2f, 0.5f, 1.0f), envelopeTick(sk, false, 0.004f, 0.2f, 0.7f, 1.0f);   // let go in Decay or Sustain: that step first
    EXPECT_TRUE(dk.stage == STAGE_RELEASE && dk.level == 1.0f - (0.5f / 0.2f) * ENV_STEP) << dk.level;
    EXPECT_TRUE(sk.stage == STAGE_RELEASE && sk.level == 0.7f && sk.output == envelopeCurve(0.7f)) << sk.level;
    for (int i = 0; i < 10; i++) envelopeTick(sk, false, 0.004f, 0.2f, 0.7f, 1.0f);   // and the release falls from there
    EXPECT_NEAR(sk.level, 0.7f - 10 * ENV_STEP, 1e-6);
    Lfo l{0, 4.0f, 0};   // the LFO continues across rate changes and stays precise for hours
    for (int i = 0; i < 3000; i++) lfoTick(l, 1.0f);
    float before = std::sin(l.phase);
    lfoSetRate(l, 7.0f);
    EXPECT_NEAR(lfoTick(l, 1.0f), before, 2 * M_PI * 7.0 / 44100);   // no jump
    for (int i = 0; i < 20000; i++) ASSERT_EQ(lfoTick(l, 0.0f), 0.0f) << i;   // depth 0 moves nothing, ever
    l.counter = (uint64_t)SAMPLE_RATE * 3600 * 10;   // ten hours in, still the exact sine
    for (uint64_t n = l.counter, end = n + SAMPLE_RATE; n < end; n++) ASSERT_NEAR(lfoTick(l, 1.0f), std::sin((double)n * 6.2831853 * 7.0 / 44100.0), 1e-6) << n;
}

TEST(Voices, ChoiceRetriggerAndStealing)
{
    startEngine();
    Voice *v = voicePool();
    noteOn(0, 100, 10);   // a first note 0 is a fresh note at 8.18 Hz, on the highest voice
    EXPECT_TRUE(v[7].active && v[7].note == 0 && std::fabs(v[7].freq - 8.1758f) < 1e-3);
    float buf[300]; noteOn(64, 100, 20), audioCallback(buf, 300);
    Voice was = v[6];
    noteOn(64, 90, 30);   // retrigger: same voice, level and phase carry on
    EXPECT_TRUE(v[6].envelope.stage == STAGE_ATTACK && v[6].envelope.level == was.envelope.level && v[6].phase == was.phase && !v[5].active);
    for (int k = 0; k < 6; k++) noteOn(70 + k, 100, 50 + k);   // voices 5..0
    noteOn(90, 100, 100);   // all held: the earliest started (voice 7) is stolen, fresh
    EXPECT_TRUE(v[7].note == 90 && v[7].envelope.level == 0.0f && v[7].phase == 0);
    noteOff(74, 110), noteOff(72, 111);   // voices 1 and 3 released: the earlier started goes first, before held ones
    noteOn(91, 100, 120);
    EXPECT_EQ(v[3].note, 91);
    noteOn(74, 100, 125);   // voice 1 held again: all eight held
    for (int j = 0; j < 8; j++) v[j].envelope.onTime = j == 3 ? -5 : 200 + j;   // unsigned: -5 is the latest
    noteOn(92, 100, 300);
    EXPECT_EQ(v[0].note, 92);
    for (int j = 0; j < 8; j++) v[j].envelope.onTime = 400;   // equal times: the lowest voice goes
    noteOn(93, 100, 400);
    EXPECT_EQ(v[0].note, 93);
    Voice before[VOICE_COUNT];
    std::memcpy(before, v, sizeof before), noteOff(33, 410);   // a note no voice holds changes nothing
    EXPECT_EQ(std::memcmp(before, v, sizeof before), 0);
}

TEST(Voices, ScopeKeepsEvery1024thFrameRoundTheRing)
{
    startEngine();
    setKnob(KNOB_GAIN, 1.0f), noteOn(60, 100, 0);
    float buf[2049];   // three scope samples a buffer: frames 0, 1024 and 2048
    int start = scopeOldestIndex();
    for (int k = 0; k < 134; k++) {   // 402 samples: once round the ring and on
        audioCallback(buf, 2049);
        for (int m = 0; m < 3; m++) ASSERT_EQ(scopeSample((start + 3 * k + m) % SCOPE_SIZE), buf[1024 * m]) << k << " " << m;
    }
    EXPECT_EQ(scopeOldestIndex(), (start + 402) % SCOPE_SIZE);
}
