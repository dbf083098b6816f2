// The engine's building blocks and voice handling, checked against the
// numbers a listener can hear: pitches, fold shapes, filter coefficients,
// envelope timing, and which voice a note lands on.
#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include "midi/midi.h"
#include "panel/panel.h"
#include "synth/synth.h"

// libportmidi keeps a few bytes per start for good; not ours to count.
extern "C" const char *__lsan_default_suppressions() { return "leak:libportmidi.so\n"; }

namespace {

// Sets every knob to its default (as the layout does) and publishes the snapshot.
void defaultKnobs()
{
    resetPanel();
    for (int id = 1; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    snapshotParams();
}

void setKnob(int id, float v)
{
    controlTable()[id].value = v;
    snapshotParams();
}

void route(int slot, int from, int to)
{
    Cable &c = cableTable()[slot];
    c.inUse = true;
    c.from = from;
    c.to = to;
    snapshotParams();
}

struct Engine : ::testing::Test {
    void SetUp() override
    {
        defaultKnobs();
        resetSynth();
        *synthLfo() = {};
        float none[1];
        audioCallback(none, 0);   // takes the snapshot
    }
    void TearDown() override { resetPanel(); }
};

TEST(Oscillator, WaveformsPitchAndPeriod)
{
    EXPECT_EQ(oscillatorSample(0, 440.0f, 0.0f), 0.0f);   // sine starts at 0
    EXPECT_EQ(oscillatorSample(0, 440.0f, 0.5f), 0.0f);   // triangle starts at 0
    EXPECT_EQ(oscillatorSample(0, 440.0f, 1.0f), 1.0f);   // saw starts at +1
    // A quarter period in: sine and triangle at their peak, saw at +0.5.
    EXPECT_NEAR(oscillatorSample(25, 441.0f, 0.0f), 1.0f, 1e-6);
    EXPECT_FLOAT_EQ(oscillatorSample(25, 441.0f, 0.5f), 1.0f);
    EXPECT_NEAR(oscillatorSample(25, 441.0f, 1.0f), 0.5f, 1e-6);
    EXPECT_NEAR(oscillatorSample(75, 441.0f, 0.5f), -1.0f, 1e-6);

    EXPECT_FLOAT_EQ(noteFrequency(69), 440.0f);
    EXPECT_NEAR(noteFrequency(60), 261.63f, 0.01f);
    EXPECT_EQ(oscillatorPeriod(440.0f), 100.0);   // 440 Hz sounds as 441 Hz
    EXPECT_EQ(oscillatorPeriod(441.0f), 100.0);
    EXPECT_EQ(oscillatorPeriod(noteFrequency(127)), 3.0);

    Voice v{};
    v.freq = noteFrequency(69);
    v.freqBelow = noteFrequency(68);
    v.freqAbove = noteFrequency(70);
    EXPECT_NEAR(detunedFrequency(v, 0.5f), 453.08f, 0.01f);
    EXPECT_EQ(detunedFrequency(v, 1.0f), v.freqAbove);
    EXPECT_EQ(detunedFrequency(v, -1.0f), v.freqBelow);
    EXPECT_EQ(detunedFrequency(v, 0.0f), v.freq);
}

TEST(Wavefolder, FoldsAboutTheThreshold)
{
    EXPECT_EQ(foldSample(0.0f, 0.5f), 0.0f);
    EXPECT_EQ(foldSample(0.5f, 0.5f), 0.5f);
    EXPECT_EQ(foldSample(-0.5f, 0.5f), -0.5f);
    EXPECT_FLOAT_EQ(foldSample(0.75f, 0.5f), 0.25f);
    EXPECT_FLOAT_EQ(foldSample(1.0f, 0.5f), 0.0f);
    EXPECT_FLOAT_EQ(foldSample(1.0f, 0.25f), 0.0f);
    EXPECT_FLOAT_EQ(foldSample(0.5f, 0.25f), 0.0f);
    for (float x = -1.0f; x <= 1.0f; x += 0.01f) {
        EXPECT_NEAR(foldSample(x, 1.01f), x, 1e-6);
        float y = foldSample(x, 0.001f);
        EXPECT_LE(std::fabs(y), 0.001f + 1e-9f);
        // The short cut for dividends inside the divisor agrees with the remainder.
        float d = x - 0.3f;
        EXPECT_EQ(foldSample(x, 0.3f), std::fabs(std::fabs(std::fmod(d, 1.2f)) - 0.6f) - 0.3f);
    }
}

TEST(Filter, CoefficientsAndSettling)
{
    LadderFilter f{};
    filterSetup(f, 400.0f, 1.0f);
    EXPECT_NEAR(f.f, 0.01814f, 1e-5);
    EXPECT_NEAR(f.k, -0.93522f, 1e-5);
    EXPECT_NEAR(f.p, 0.03239f, 1e-5);
    EXPECT_NEAR(f.r, 3.648f, 1e-3);
    filterSetup(f, 15400.0f, 1.0f);
    EXPECT_NEAR(f.f, 0.69841f, 1e-5);
    EXPECT_NEAR(f.k, 0.73384f, 1e-5);
    EXPECT_NEAR(f.p, 0.86692f, 1e-5);
    EXPECT_NEAR(f.r, 1.5836f, 1e-4);
    filterSetup(f, 7900.0f, 1.0f);
    EXPECT_NEAR(f.r, 2.19f, 0.01f);

    LadderFilter g{};
    filterSetup(g, 1000.0f, 0.0f);
    EXPECT_EQ(g.r, 0.0f);
    EXPECT_EQ(filterProcess(g, 0.0f), 0.0f);
    float y = 0.0f, last = 0.0f;
    for (int i = 0; i < 44100; i++) last = y, y = filterProcess(g, 1.0f);
    EXPECT_EQ(y, last);   // a steady step settles
    EXPECT_LT(y, 1.0f);
    EXPECT_GT(y, 0.5f);
}

TEST(Filter, HarshInputNeverLeavesNumbers)
{
    // White noise into the brightest, most resonant setting drives the cubic
    // out of range; the filter must come back rather than yield NaN forever.
    LadderFilter f{};
    uint32_t seed = 1861;
    for (int i = 0; i < 44100 * 4; i++) {
        filterSetup(f, 15300.0f, 0.99f);
        seed = seed * 1664525u + 1013904223u;
        float x = (float)(seed >> 8) / 8388608.0f - 1.0f;
        ASSERT_TRUE(std::isfinite(filterProcess(f, x))) << i;
    }
}

TEST(Envelope, StagesAndTiming)
{
    EXPECT_NEAR(envelopeCurve(0.5f), 0.7112f, 1e-4);
    EXPECT_EQ(envelopeCurve(0.09f), 0.0f);
    EXPECT_EQ(envelopeCurve(1.5f), 1.0f);
    EXPECT_EQ(envelopeCurve(-1.0f), 0.0f);

    // Shortest attack: 16 silent samples, the 17th sounds, level 1 after about 176.
    Envelope e{};
    e.offTime = -1;
    for (int i = 1; i <= 16; i++) {
        envelopeTick(e, true, 0.004f, 0.2f, 0.5f, 1.0f);
        EXPECT_EQ(e.output, 0.0f) << i;
    }
    envelopeTick(e, true, 0.004f, 0.2f, 0.5f, 1.0f);
    EXPECT_NEAR(e.level, 0.0964f, 1e-4);
    EXPECT_NEAR(e.output, 0.0252f, 1e-4);
    int n = 17;
    while (e.stage == STAGE_ATTACK) envelopeTick(e, true, 0.004f, 0.2f, 0.5f, 1.0f), n++;
    EXPECT_NEAR(n, 176, 1);
    EXPECT_EQ(e.level, 1.0f);

    // A key held 50 ms during a 2 s attack rises for 50 ms, even with on and off known at once.
    Envelope h{};
    h.onTime = 1000;
    h.offTime = 1050;
    int ticks = 0;
    while (h.stage == STAGE_ATTACK) envelopeTick(h, false, 2.0f, 0.2f, 0.5f, 1.0f), ticks++;
    EXPECT_EQ(h.stage, STAGE_RELEASE);
    EXPECT_NEAR(ticks, 2205, 2);
    EXPECT_NEAR(h.level, 0.025f, 0.001f);
    // Release from there takes level x R.
    int rel = 0;
    while (envelopeTick(h, false, 2.0f, 0.2f, 0.5f, 1.0f)) rel++;
    EXPECT_NEAR(rel, 0.025 * 44100, 50);
    EXPECT_EQ(h.level, 0.0f);

    // An off time before the on time lets the attack finish first.
    Envelope w{};
    w.onTime = 100;
    w.offTime = 50;
    envelopeTick(w, false, 0.004f, 0.2f, 0.5f, 1.0f);
    EXPECT_EQ(w.stage, STAGE_ATTACK);

    // Sustain 1: the first Decay tick moves to Sustain at level 1.
    Envelope s1{};
    s1.stage = STAGE_DECAY;
    s1.level = 1.0f;
    envelopeTick(s1, true, 0.004f, 0.2f, 1.0f, 1.0f);
    EXPECT_EQ(s1.stage, STAGE_SUSTAIN);
    EXPECT_EQ(s1.level, 1.0f);
    // Sustain 0: silent but alive until released; the first Release tick ends it.
    Envelope s0{};
    s0.stage = STAGE_DECAY;
    s0.level = 1.0f;
    for (int i = 0; i < 44100; i++) EXPECT_TRUE(envelopeTick(s0, true, 0.004f, 0.2f, 0.0f, 1.0f));
    EXPECT_EQ(s0.stage, STAGE_SUSTAIN);
    EXPECT_EQ(s0.level, 0.0f);
    EXPECT_TRUE(envelopeTick(s0, false, 0.004f, 0.2f, 0.0f, 1.0f));   // Sustain step, then Release
    EXPECT_FALSE(envelopeTick(s0, false, 0.004f, 0.2f, 0.0f, 1.0f));
    // Release during Decay: that tick still decays, then Release follows.
    Envelope d{};
    d.stage = STAGE_DECAY;
    d.level = 1.0f;
    envelopeTick(d, false, 0.004f, 0.2f, 0.5f, 1.0f);
    EXPECT_LT(d.level, 1.0f);
    EXPECT_EQ(d.stage, STAGE_RELEASE);
}

TEST(Lfo, RateChangeKeepsPhaseAndLongRunsStaySmooth)
{
    Lfo l{};
    lfoSetRate(l, 4.0f);
    EXPECT_EQ(lfoTick(l, 1.0f), 0.0f);   // starts at phase 0 and rises
    EXPECT_GT(lfoTick(l, 1.0f), 0.0f);
    for (int i = 0; i < 3000; i++) lfoTick(l, 1.0f);
    double before = l.phase;
    float lastOld = std::sin(before);
    lfoSetRate(l, 7.0f);
    lfoTick(l, 1.0f);
    // Within one sample of the old phase at the new rate.
    EXPECT_LE(before - l.phase, 2 * M_PI * 7.0 / 44100 + 1e-9);
    EXPECT_GE(before - l.phase, 0.0);
    EXPECT_NEAR(std::sin(l.phase), lastOld, 2 * M_PI * 7.0 / 44100);
    EXPECT_EQ(lfoTick(l, 0.0f), 0.0f);   // depth 0: exactly no offset

    // Ten hours in, the wave is still a smooth sine sample by sample.
    Lfo h{};
    lfoSetRate(h, 8.82f);
    h.counter = 44100ull * 3600 * 10;
    double maxStep = 0, prev = lfoTick(h, 1.0f);
    for (int i = 0; i < 44100; i++) {
        double v = lfoTick(h, 1.0f), exact = std::sin((double)(h.counter - 1) * 6.2831853 * 8.82f / 44100.0);
        EXPECT_NEAR(v, exact, 1e-6);
        maxStep = std::max(maxStep, std::fabs(v - prev));
        prev = v;
    }
    EXPECT_LT(maxStep, 2 * M_PI * 8.82 / 44100 * 1.01);
}

TEST_F(Engine, ParameterRangesClampBothWays)
{
    EXPECT_FLOAT_EQ(modulatedParam(3, 0.0f), 7900.0f);
    setKnob(4, 0.8f);   // cutoff knob
    float none[1];
    audioCallback(none, 0);
    EXPECT_EQ(modulatedParam(3, 0.5f), 15400.0f);
    EXPECT_EQ(modulatedParam(3, -2.0f), 400.0f);
    EXPECT_EQ(modulatedParam(2, 0.0f), 1.01f);      // fold knob 0
    EXPECT_EQ(modulatedParam(2, -0.5f), 1.01f);
    EXPECT_EQ(modulatedParam(2, 1.5f), 0.001f);
    EXPECT_NEAR(modulatedParam(2, 0.5f), 0.5055f, 1e-6);
    EXPECT_EQ(modulatedParam(11, 0.0f), -1.0f);     // envelope amount at its default
    EXPECT_NEAR(modulatedParam(6, 0.0f), 4.432f, 1e-3);
    EXPECT_NEAR(modulatedParam(8, 0.0f), 0.2036f, 1e-5);
    EXPECT_EQ(remapClamped(5.0f, 0, 1, 1.01f, 0.001f), 0.001f);
    EXPECT_EQ(clampUnit(3.0f), 1.0f);
    EXPECT_EQ(clampUnit(-1.0f), -1.0f);
    EXPECT_EQ(clampUnit(0.25f), 0.25f);
    // A 0-frame call still takes the knobs and sets the LFO rate.
    setKnob(6, 1.0f);
    audioCallback(none, 0);
    EXPECT_EQ(synthLfo()->rate, 8.82f);
}

TEST_F(Engine, VoiceChoiceRetriggerAndStealing)
{
    Voice *v = voicePool();
    // First notes take the highest free voices; note 0 is a real note, not a 0 Hz leftover.
    noteOn(0, 100, 10);
    EXPECT_TRUE(v[7].active);
    EXPECT_EQ(v[7].note, 0);
    EXPECT_NEAR(v[7].freq, 8.1758f, 1e-3);
    noteOn(64, 100, 20);
    EXPECT_TRUE(v[6].active);

    std::vector<float> buf(300);
    audioCallback(buf.data(), 300);
    float level = v[6].envelope.level;
    int32_t phase = v[6].phase;
    float y4 = v[6].filter.y4;
    ASSERT_GT(level, 0.0f);
    noteOn(64, 90, 30);   // retrigger: same voice, level and phase carry on
    EXPECT_EQ(v[6].envelope.stage, STAGE_ATTACK);
    EXPECT_EQ(v[6].envelope.level, level);
    EXPECT_EQ(v[6].phase, phase);
    EXPECT_EQ(v[6].filter.y4, y4);
    EXPECT_EQ(v[6].velocity, 90);
    EXPECT_FALSE(v[5].active);

    noteOff(99, 40);   // nobody holds 99: nothing changes
    EXPECT_EQ(v[7].envelope.offTime, -1);
    EXPECT_EQ(v[6].envelope.offTime, -1);

    // Fill the pool: times 50.. on voices 5..0.
    for (int k = 0; k < 6; k++) noteOn(70 + k, 100, 50 + k);
    for (int j = 0; j < 8; j++) EXPECT_TRUE(v[j].active);
    // All held: the earliest start (voice 7, time 10) is stolen, fresh from zero.
    audioCallback(buf.data(), 300);
    noteOn(90, 100, 100);
    EXPECT_EQ(v[7].note, 90);
    EXPECT_EQ(v[7].envelope.level, 0.0f);
    EXPECT_EQ(v[7].phase, 0);
    EXPECT_EQ(v[7].filter.y4, 0.0f);
    // With one voice released, it goes first even though held voices started earlier.
    noteOff(74, 110);   // voice 1, started at 54
    noteOn(91, 100, 120);
    EXPECT_EQ(v[1].note, 91);
    // Times compare unsigned: a negative (huge) start is the latest.
    for (int j = 0; j < 8; j++) v[j].envelope.onTime = (j == 3) ? -5 : 200 + j;
    noteOn(92, 100, 300);
    EXPECT_EQ(v[0].note, 92);
    // A silent voice keeps its note and takes the retrigger path.
    allNotesOff(400);
    for (int j = 0; j < 8; j++) EXPECT_FALSE(v[j].gate);
}

TEST_F(Engine, EveryNoteNumberStaysFiniteAndBounded)
{
    setKnob(20, 1.0f);   // gain
    std::vector<float> buf(512);
    for (int note = 0; note < 256; note += 1) {
        noteOn(note, 100, note);
        if (note % 8 == 7) {
            setKnob(2, (note % 16) / 15.0f);   // shape
            setKnob(3, (note % 32) / 31.0f);   // fold
            for (int b = 0; b < 8; b++) {
                audioCallback(buf.data(), 512);
                for (float s : buf) ASSERT_TRUE(std::isfinite(s) && s >= -1.0f && s <= 1.0f) << note;
            }
            allNotesOff(note);
        }
    }
    for (int j = 0; j < 8; j++) EXPECT_LE(voicePool()[j].phase, 5714) << j;
}

TEST_F(Engine, DefaultNoteSettlesToThePublishedSound)
{
    std::vector<float> buf(512 * 40);
    noteOn(69, 100, 0);
    audioCallback(buf.data(), (unsigned)buf.size());
    EXPECT_EQ(voicePool()[7].envelope.stage, STAGE_SUSTAIN);
    float hi = -2, lo = 2;
    size_t end = buf.size();
    for (size_t i = end - 1000; i < end; i++) {
        hi = std::max(hi, buf[i]);
        lo = std::min(lo, buf[i]);
        EXPECT_EQ(buf[i], buf[i - 100]) << i;   // a 100-sample period
    }
    EXPECT_NEAR(hi, 0.067f, 0.003f);
    EXPECT_NEAR(lo, -0.067f, 0.003f);
    // With no active voice every frame is exactly 0.
    resetSynth();
    audioCallback(buf.data(), 512);
    for (int i = 0; i < 512; i++) EXPECT_EQ(buf[i], 0.0f);
}

TEST_F(Engine, EnvelopeToCutoffActsPerVoice)
{
    route(0, JACK_ENV_OUT, 17);   // envelope -> Cut input
    setKnob(12, 1.0f);            // envelope amount +1
    std::vector<float> buf(4410);
    noteOn(60, 100, 0);
    audioCallback(buf.data(), 4410);   // voice 7 is in Decay/Sustain by now
    noteOn(64, 100, 100);              // voice 6 starts its attack
    audioCallback(buf.data(), 10);
    Voice *v = voicePool();
    EXPECT_NE(v[7].filter.f, v[6].filter.f);
    EXPECT_NEAR(v[7].filter.f * 22050.0f, modulatedParam(3, v[7].envelope.level), 1.0f);
    EXPECT_NEAR(v[6].filter.f * 22050.0f, modulatedParam(3, v[6].envelope.level), 1.0f);
}

TEST_F(Engine, ScopeTakesFirstFrameOfEach1024AndWraps)
{
    setKnob(20, 1.0f);
    noteOn(69, 100, 0);
    std::vector<float> buf(2048);
    int start = scopeOldestIndex();
    audioCallback(buf.data(), 2048);
    EXPECT_EQ(scopeOldestIndex(), (start + 2) % SCOPE_SIZE);
    EXPECT_EQ(scopeSample(start), buf[0]);
    EXPECT_EQ(scopeSample((start + 1) % SCOPE_SIZE), buf[1024]);
    while (scopeOldestIndex() != SCOPE_SIZE - 1) audioCallback(buf.data(), 512);
    audioCallback(buf.data(), 512);
    EXPECT_EQ(scopeOldestIndex(), 0);
}

TEST_F(Engine, QueuedEventsApplyEvenInAnEmptyCall)
{
    midiStart();
    midiPostEvent(1000, 0x93, 72, 64);   // channel 4 plays too
    midiPostEvent(1040, 0x90, 72, 0);    // and comes up 40 ms later, same buffer
    midiPostEvent(1040, 0xB0, 7, 100);   // a controller: ignored
    setKnob(8, 1.0f);                    // a 2 s attack
    float none[1];
    audioCallback(none, 0);
    Voice &v = voicePool()[7];
    EXPECT_TRUE(v.active);
    EXPECT_FALSE(v.gate);
    EXPECT_EQ(v.note, 72);
    EXPECT_EQ(v.envelope.onTime, 1000);
    EXPECT_EQ(v.envelope.offTime, 1040);
    EXPECT_EQ(synthLfo()->rate, modulatedParam(6, 0.0f));
    // The attack still runs for the 40 ms the key was down, then releases.
    std::vector<float> buf(44100 * 40 / 1000 + 10);
    audioCallback(buf.data(), (unsigned)buf.size());
    EXPECT_EQ(v.envelope.stage, STAGE_RELEASE);
    EXPECT_NEAR(v.envelope.level, 0.02f, 0.001f);
    midiStop();
}

}  // namespace
