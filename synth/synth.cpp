// The synth engine: voices, oscillator, wavefolder, ladder filter, envelope,
// LFO, modulation and the audio callback.
//
// The maths of every stage is written out plainly in its own small function.
// The callback wraps the costly ones in caches keyed on their exact inputs
// (bit patterns), so a value that has not changed since the last frame or the
// last period is reused instead of recomputed; it runs the eight filters side
// by side as vector lanes; and it replays a filter period that has come round
// to exactly the same state. The samples are identical to evaluating every
// step on every frame (the tests keep such a plain engine to compare with).
#include "synth/synth.h"
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include "midi/midi.h"
#include "panel/panel.h"
#include "raymath.h"
#if defined(__SSE2__)
#include <pthread.h>
#include <sched.h>
#include <pmmintrin.h>
#include <xmmintrin.h>
#endif

const ParamRange ParamRangeTable[13] = {
    {-1.0f, 1.0f},       // tune, semitones
    {0.0f, 1.0f},        // shape, sine .. triangle .. saw
    {1.01f, 0.001f},     // fold threshold, falling as the knob rises
    {400.0f, 15400.0f},  // cutoff, Hz
    {0.0f, 1.0f},        // resonance
    {0.0f, 1.0f},        // LFO depth
    {0.0441f, 8.82f},    // LFO rate, Hz
    {0.004f, 2.0f},      // attack, s
    {0.004f, 2.0f},      // decay, s
    {0.0f, 1.0f},        // sustain level
    {0.1f, 4.0f},        // release, s
    {-1.0f, 1.0f},       // envelope modulation amount
    {0.0f, 1.0f},        // per-voice gain
};

enum { LFO_OUT = 13, ENV_OUT = 19 };
static const double TWO_PI = 6.2831853;
static const float ENV_STEP = 1.0f / 44100.0f;   // 2.2675737e-05

static Voice voices[VOICE_COUNT];
static Lfo lfo;
static SynthParams knobs;     // the callback's copy of the knob values
static ModRouting routing;    // the callback's copy of the cable routes
static std::atomic<float> scopeRing[SCOPE_SIZE];
static std::atomic<int> scopeIndex{0};

static inline uint32_t bitsOf(float x)
{
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// ---- caches (audio thread only) ----
// Per voice: the filter coefficients, the oscillator period, and two tables
// indexed by the phase counter: the sine for the current frequency, and the
// folded oscillator sample for the current frequency, shape and fold. An
// entry is valid when its stamp equals the table's generation, so a change
// of key invalidates a table in one step.
enum { OSC_TABLE = 8192 };   // longest period: note -1 (7.7 Hz), 5714 samples
// One phase position: the sine and the folded sample, each with its stamp,
// side by side so a lookup touches one cache line.
struct OscEntry {
    uint32_t sineStamp;
    float sine;
    uint32_t foldedStamp;
    float folded;
};
// The small, hot part of a voice's cache, kept apart from the big tables.
struct VoiceCache {
    bool filterValid;
    uint32_t cutKey, resKey;
    bool periodValid;
    uint32_t periodKey;
    double period;
    uint32_t sineKey;                 // freq
    uint32_t foldKey[3];              // freq, shape, fold
    uint32_t sineGen, foldedGen;
};
static VoiceCache caches[VOICE_COUNT];
static OscEntry oscTables[VOICE_COUNT][OSC_TABLE];

struct FilterCoefficients {
    bool valid;
    uint32_t cutKey, resKey;
    float f, k, p, r;
};
static FilterCoefficients lastCoefficients;   // shared: LFO-driven cutoffs repeat across voices

// Moves a table to a new generation; after four billion changes the stamps start afresh.
static void invalidate(int j, bool sine)
{
    uint32_t &gen = sine ? caches[j].sineGen : caches[j].foldedGen;
    if (++gen == 0) {
        for (OscEntry &e : oscTables[j]) (sine ? e.sineStamp : e.foldedStamp) = 0;
        gen = 1;
    }
}

static void resetLoop(int j);

static void resetCaches()
{
    std::memset(caches, 0, sizeof caches);
    std::memset(oscTables, 0, sizeof oscTables);
    for (VoiceCache &c : caches) c.sineGen = c.foldedGen = 1;
    lastCoefficients = {};
    for (int j = 0; j < VOICE_COUNT; j++) resetLoop(j);
}

// ---- parameters ----

float clampUnit(float x)
{
    if (x >= 1.0f) return 1.0f;
    if (x <= -1.0f) return -1.0f;
    return x;
}

__attribute__((always_inline)) static inline float remap(float x, float inStart, float inEnd, float outStart, float outEnd)
{
    float v = outStart + (outEnd - outStart) * (x - inStart) / (inEnd - inStart);
    // The range ends are never NaN, so this picks the same ends as fminf/fmaxf.
    float lo = outStart < outEnd ? outStart : outEnd, hi = outStart < outEnd ? outEnd : outStart;
    return Clamp(v, lo, hi);
}

float remapClamped(float x, float inStart, float inEnd, float outStart, float outEnd)
{
    return remap(x, inStart, inEnd, outStart, outEnd);
}

__attribute__((always_inline)) static inline float modulated(int index, float offset)
{
    const float *k = &knobs.tune;
    return remap(k[index] + offset, 0.0f, 1.0f, ParamRangeTable[index].start, ParamRangeTable[index].end);
}

float modulatedParam(int index, float offset) { return modulated(index, offset); }

// ---- voices and notes ----

Voice *voicePool() { return voices; }
Lfo *synthLfo() { return &lfo; }

float noteFrequency(int note)
{
    return powf(2.0f, (float)(note - 69) / 12.0f) * 440.0f;
}

void resetSynth()
{
    std::memset(voices, 0, sizeof voices);
    for (Voice &v : voices) v.note = NO_NOTE;
    for (std::atomic<float> &s : scopeRing) s.store(0.0f, std::memory_order_relaxed);
    resetCaches();
}

void noteOn(int note, int velocity, int time)
{
    int chosen = -1, freeVoice = -1;
    for (int j = 0; j < VOICE_COUNT; j++) {
        if (!voices[j].active) freeVoice = j;
        if (voices[j].note == note) {
            chosen = j;
            break;
        }
    }
    bool fresh = chosen < 0;
    if (fresh) chosen = freeVoice;
    if (chosen < 0) {
        // Steal: the earliest-started released voice, else the earliest-started of all.
        for (int j = 0; j < VOICE_COUNT; j++)
            if (!voices[j].gate && (chosen < 0 || (uint32_t)voices[j].envelope.onTime < (uint32_t)voices[chosen].envelope.onTime))
                chosen = j;
        if (chosen < 0)
            for (int j = 0; j < VOICE_COUNT; j++)
                if (chosen < 0 || (uint32_t)voices[j].envelope.onTime < (uint32_t)voices[chosen].envelope.onTime)
                    chosen = j;
    }
    Voice &v = voices[chosen];
    resetLoop(chosen);
    v.gate = true;
    v.active = true;
    v.velocity = velocity;
    if (fresh) {
        v.phase = 0;
        v.note = note;
        v.freq = noteFrequency(note);
        v.freqBelow = noteFrequency(note - 1);
        v.freqAbove = noteFrequency(note + 1);
        v.filter = {};
        caches[chosen].filterValid = false;   // the coefficients were just zeroed
        v.envelope.level = 0.0f;
        v.envelope.output = 0.0f;
    }
    v.envelope.stage = STAGE_ATTACK;
    v.envelope.attackCount = 0;
    v.envelope.onTime = time;
    v.envelope.offTime = -1;
}

void noteOff(int note, int time)
{
    for (Voice &v : voices)
        if (v.note == note) {
            v.envelope.offTime = time;
            v.gate = false;
        }
}

void allNotesOff(int time)
{
    for (Voice &v : voices) {
        v.envelope.offTime = time;
        v.gate = false;
    }
}

void drainNoteEvents()
{
    int time, status, data1, data2;
    while (midiNextEvent(&time, &status, &data1, &data2)) {
        if (status == 0xFC) allNotesOff(time);
        else if ((status & 0xF0) == 0x80) noteOff(data1, time);
        else if ((status & 0xF0) == 0x90) {
            if (data2 != 0) noteOn(data1, data2, time);
            else noteOff(data1, time);
        }
    }
}

// ---- oscillator ----

float oscillatorSample(float n, float freq, float shape)
{
    float ph = n * freq / 44100.0f;
    float s = (float)std::sin(((double)n * TWO_PI) * (double)freq / 44100.0);
    float tri;
    if (ph <= 0.25f) tri = Remap(ph, 0.0f, 0.25f, 0.0f, 1.0f);
    else if (ph <= 0.75f) tri = Remap(ph, 0.25f, 0.75f, 1.0f, -1.0f);
    else tri = Remap(ph, 0.75f, 1.0f, -1.0f, 0.0f);
    float saw = (float)(2.0 * (double)(1.0f - ph) - 1.0);
    if (shape > 0.5f) {
        float t = (shape - 0.5f) * 2.0f;
        return saw * t + tri * (1.0f - t);
    }
    float t = 2.0f * shape;
    return tri * t + s * (1.0f - t);
}

double oscillatorPeriod(float freq)
{
    return std::floor((double)(44100.0f / freq));
}

__attribute__((always_inline)) static inline float detuned(const Voice &v, float tune)
{
    if (tune > 0.0f) return remap(tune, 0.0f, 1.0f, v.freq, v.freqAbove);
    if (tune < 0.0f) return remap(tune, -1.0f, 0.0f, v.freqBelow, v.freq);
    return v.freq;
}

float detunedFrequency(const Voice &v, float tune) { return detuned(v, tune); }

// ---- wavefolder ----

float foldSample(float x, float b)
{
    float d = x - b, m = 4.0f * b;
    // A dividend already inside the divisor is its own remainder.
    float r = std::fabs(d) < m ? d : std::fmod(d, m);
    return std::fabs(std::fabs(r) - 2.0f * b) - b;
}

// ---- filter ----

void filterSetup(LadderFilter &filter, float cutoff, float resonance)
{
    filter.f = (cutoff + cutoff) / 44100.0f;
    filter.k = 3.6f * filter.f - 1.6f * filter.f * filter.f - 1.0f;
    filter.p = 0.5f * (filter.k + 1.0f);
    filter.r = 1.3862489f * resonance * expf(1.0f - filter.p);
}

float filterProcess(LadderFilter &filter, float in)
{
    LadderFilter &q = filter;
    float x = in - q.r * q.y4;
    q.y1 = (q.p * q.x1 + q.p * x) - q.k * q.y1;
    q.y2 = (q.p * q.y1old + q.p * q.y1) - q.k * q.y2;
    q.y3 = (q.p * q.y2old + q.p * q.y2) - q.k * q.y3;
    q.y4 = (q.p * q.y3old + q.p * q.y3) - q.k * q.y4;
    double y = q.y4;
    q.y4 = (float)(y - y * y * y / 6.0);
    q.x1 = clampUnit(x);
    q.y1old = clampUnit(q.y1);
    q.y2old = clampUnit(q.y2);
    q.y3old = clampUnit(q.y3);
    // At high cutoff and resonance a harsh input can drive the cubic past the
    // float range; the states would then turn into infinities and NaN for good.
    // Such a filter starts again from silence.
    if (!std::isfinite(q.y4)) {
        q.y1 = q.y2 = q.y3 = q.y4 = q.x1 = q.y1old = q.y2old = q.y3old = 0.0f;
    }
    return q.y4;
}

// ---- envelope ----

__attribute__((always_inline)) static inline float curve(float x)
{
    if (x >= 1.0f) return 1.0f;
    if (x <= 0.0f) return 0.0f;
    return Clamp(1.0f + 0.41666666f * logf(x), 0.0f, 1.0f);
}

float envelopeCurve(float x) { return curve(x); }

__attribute__((always_inline)) static inline bool envelopeStep(Envelope &env, bool gate, float a, float d, float s, float r)
{
    switch (env.stage) {
    case STAGE_ATTACK:
        env.level += (1.0f / a) * ENV_STEP;
        env.output = curve(env.level);
        if (env.level >= 1.0f) {
            env.level = 1.0f;
            env.stage = STAGE_DECAY;
        }
        env.attackCount += 1;
        if (!gate) {
            // The attack runs for as long as the key was held, by the timestamps.
            float elapsed = (float)env.attackCount / 44100.0f * 1000.0f;
            float held = (float)((uint32_t)env.offTime - (uint32_t)env.onTime);
            if (elapsed > held) env.stage = STAGE_RELEASE;
        }
        return true;
    case STAGE_DECAY:
        env.level -= ((1.0f - s) / d) * ENV_STEP;
        env.output = curve(env.level);
        if (s >= env.level) {
            env.level = s;
            env.output = curve(s);
            env.stage = STAGE_SUSTAIN;
        }
        if (!gate) env.stage = STAGE_RELEASE;
        return true;
    case STAGE_SUSTAIN:
        // output always equals curve(level), so an unchanged level keeps it.
        if (bitsOf(env.level) != bitsOf(s)) {
            env.level = s;
            env.output = curve(s);
        }
        if (!gate) env.stage = STAGE_RELEASE;
        return true;
    default:
        env.level -= (1.0f / r) * ENV_STEP;
        env.output = curve(env.level);
        if (env.level <= 0.0f) {
            env.level = 0.0f;
            return false;
        }
        return true;
    }
}

bool envelopeTick(Envelope &env, bool gate, float a, float d, float s, float r)
{
    return envelopeStep(env, gate, a, d, s, r);
}

// ---- LFO ----
// The counter is exact in double for 2^53 samples, so the wave keeps its
// smoothness however long the program runs.

void lfoSetRate(Lfo &l, float rate)
{
    if (rate == l.rate) return;
    l.rate = rate;
    // Continue from the phase already reached instead of jumping.
    l.counter = (uint64_t)std::trunc(l.phase / TWO_PI * 44100.0 / (double)rate);
}

float lfoTick(Lfo &l, float depth)
{
    double n = (double)l.counter;
    l.phase = (double)l.rate * (TWO_PI * n) / 44100.0;
    float value = (float)std::sin((n * TWO_PI) * (double)l.rate / 44100.0);
    l.counter += 1;
    return value * depth;
}

// The LFO advanced without its sine, for buffers where nothing listens to it.
__attribute__((always_inline)) static inline void lfoSkip(Lfo &l)
{
    l.phase = (double)l.rate * (TWO_PI * (double)l.counter) / 44100.0;
    l.counter += 1;
}

// ---- the callback ----

// The eight voices' filters side by side, one voice per lane, so the eight
// independent ladders run in step. Each lane does exactly the scalar
// filterProcess arithmetic; lanes of voices that are not sounding are computed
// but not kept.
// The lane helpers are inlined into the frame loop, never called across an ABI.
#pragma GCC diagnostic ignored "-Wpsabi"
typedef float lanes8 __attribute__((vector_size(32)));
typedef int32_t mask8 __attribute__((vector_size(32)));
typedef double dlanes8 __attribute__((vector_size(64)));
struct FilterLanes {
    lanes8 f, k, p, r, y1, y2, y3, y4, x1, y1old, y2old, y3old;
};
static FilterLanes bank;

static void loadLanes()
{
    for (int j = 0; j < VOICE_COUNT; j++) {
        const LadderFilter &q = voices[j].filter;
        bank.f[j] = q.f, bank.k[j] = q.k, bank.p[j] = q.p, bank.r[j] = q.r;
        bank.y1[j] = q.y1, bank.y2[j] = q.y2, bank.y3[j] = q.y3, bank.y4[j] = q.y4;
        bank.x1[j] = q.x1, bank.y1old[j] = q.y1old, bank.y2old[j] = q.y2old, bank.y3old[j] = q.y3old;
    }
}

static void storeLanes()
{
    for (int j = 0; j < VOICE_COUNT; j++) {
        LadderFilter &q = voices[j].filter;
        q.f = bank.f[j], q.k = bank.k[j], q.p = bank.p[j], q.r = bank.r[j];
        q.y1 = bank.y1[j], q.y2 = bank.y2[j], q.y3 = bank.y3[j], q.y4 = bank.y4[j];
        q.x1 = bank.x1[j], q.y1old = bank.y1old[j], q.y2old = bank.y2old[j], q.y3old = bank.y3old[j];
    }
}

__attribute__((always_inline)) static inline lanes8 clampLanes(lanes8 x)
{
    const lanes8 one = {1, 1, 1, 1, 1, 1, 1, 1};
    lanes8 r = x >= one ? one : x;
    return x <= -one ? -one : r;
}

// filterProcess on every lane whose mask is set; returns the new outputs.
__attribute__((always_inline)) static inline lanes8 filterLanes(FilterLanes &q, lanes8 in, mask8 keep)
{
    lanes8 x = in - q.r * q.y4;
    lanes8 y1 = (q.p * q.x1 + q.p * x) - q.k * q.y1;
    lanes8 y2 = (q.p * q.y1old + q.p * y1) - q.k * q.y2;
    lanes8 y3 = (q.p * q.y2old + q.p * y2) - q.k * q.y3;
    lanes8 y4 = (q.p * q.y3old + q.p * y3) - q.k * q.y4;
    dlanes8 d = __builtin_convertvector(y4, dlanes8);
    const dlanes8 six = {6, 6, 6, 6, 6, 6, 6, 6};
    y4 = __builtin_convertvector(d - d * d * d / six, lanes8);
    lanes8 x1 = clampLanes(x), y1old = clampLanes(y1), y2old = clampLanes(y2), y3old = clampLanes(y3);
    // A lane driven past the float range starts again from silence.
    const lanes8 big = {FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX};
    lanes8 mag = y4 < -y4 ? -y4 : y4;
    mask8 bad = !(mag <= big);
    const lanes8 zero = {};
    mask8 reset = keep & bad, update = keep & ~bad;
    q.y1 = update ? y1 : (reset ? zero : q.y1);
    q.y2 = update ? y2 : (reset ? zero : q.y2);
    q.y3 = update ? y3 : (reset ? zero : q.y3);
    q.y4 = update ? y4 : (reset ? zero : q.y4);
    q.x1 = update ? x1 : (reset ? zero : q.x1);
    q.y1old = update ? y1old : (reset ? zero : q.y1old);
    q.y2old = update ? y2old : (reset ? zero : q.y2old);
    q.y3old = update ? y3old : (reset ? zero : q.y3old);
    return q.y4;
}

__attribute__((always_inline)) static inline void setupFilterCached(int j, float cutoff, float resonance)
{
    VoiceCache &c = caches[j];
    uint32_t ck = bitsOf(cutoff), rk = bitsOf(resonance);
    if (c.filterValid && c.cutKey == ck && c.resKey == rk) return;
    FilterCoefficients &g = lastCoefficients;
    if (!(g.valid && g.cutKey == ck && g.resKey == rk)) {
        LadderFilter q;
        filterSetup(q, cutoff, resonance);
        g = {true, ck, rk, q.f, q.k, q.p, q.r};
    }
    bank.f[j] = g.f, bank.k[j] = g.k, bank.p[j] = g.p, bank.r[j] = g.r;
    c.filterValid = true;
    c.cutKey = ck;
    c.resKey = rk;
}

// The oscillator's sine for voice j at phase n, from the voice's table when
// the frequency has not changed since it was computed. Above shape 0.5 the
// blend is triangle to saw and the sine is not heard, so it is not computed.
__attribute__((always_inline)) static inline float oscillatorSine(int j, int32_t n, float freq, float shape)
{
    if (shape > 0.5f) return 0.0f;
    VoiceCache &c = caches[j];
    uint32_t fk = bitsOf(freq);
    if (fk != c.sineKey) {
        c.sineKey = fk;
        invalidate(j, true);
    }
    if ((uint32_t)n >= OSC_TABLE) return (float)std::sin(((double)(float)n * TWO_PI) * (double)freq / 44100.0);
    OscEntry &e = oscTables[j][n];
    if (e.sineStamp != c.sineGen) {
        e.sine = (float)std::sin(((double)(float)n * TWO_PI) * (double)freq / 44100.0);
        e.sineStamp = c.sineGen;
    }
    return e.sine;
}

// The table entry for voice j's folded sample at phase n (after moving the
// table to a new generation if frequency, shape or fold changed), or none
// when n lies beyond the table.
__attribute__((always_inline)) static inline OscEntry *foldedEntry(int j, int32_t n, float freq, float shape, float fold)
{
    VoiceCache &c = caches[j];
    uint32_t fk = bitsOf(freq), sk = bitsOf(shape), bk = bitsOf(fold);
    if (fk != c.foldKey[0] || sk != c.foldKey[1] || bk != c.foldKey[2]) {
        c.foldKey[0] = fk;
        c.foldKey[1] = sk;
        c.foldKey[2] = bk;
        invalidate(j, false);
    }
    return (uint32_t)n < OSC_TABLE ? &oscTables[j][n] : nullptr;
}

__attribute__((always_inline)) static inline lanes8 absLanes(lanes8 x)
{
    return (lanes8)((mask8)x & 0x7FFFFFFF);   // fabsf on every lane: clears the sign bit
}

__attribute__((always_inline)) static inline lanes8 remapLanes(lanes8 v, float is, float ie, float os, float oe)
{
    return (v - is) / (ie - is) * (oe - os) + os;   // raylib's Remap, lane by lane
}

// oscillatorSample, foldSample and clampUnit on eight voices at once, with the
// sines supplied; the same single and double precision steps as the scalar code.
__attribute__((always_inline)) static inline lanes8 oscillatorLanes(lanes8 n, lanes8 freq, lanes8 shape, lanes8 fold, lanes8 s)
{
    lanes8 ph = n * freq / 44100.0f;
    lanes8 tri = ph <= 0.25f ? remapLanes(ph, 0.0f, 0.25f, 0.0f, 1.0f)
                             : (ph <= 0.75f ? remapLanes(ph, 0.25f, 0.75f, 1.0f, -1.0f) : remapLanes(ph, 0.75f, 1.0f, -1.0f, 0.0f));
    dlanes8 back = __builtin_convertvector(1.0f - ph, dlanes8);
    lanes8 saw = __builtin_convertvector(2.0 * back - 1.0, lanes8);
    lanes8 tHigh = (shape - 0.5f) * 2.0f, tLow = 2.0f * shape;
    lanes8 out = shape > 0.5f ? saw * tHigh + tri * (1.0f - tHigh) : tri * tLow + s * (1.0f - tLow);
    lanes8 d = out - fold, m = 4.0f * fold;
    lanes8 r = d;
    mask8 far = !(absLanes(d) < m);
    for (int j = 0; j < VOICE_COUNT; j++)
        if (far[j]) r[j] = std::fmod(d[j], m[j]);   // only a deep fold needs the remainder
    return clampLanes(absLanes(absLanes(r) - 2.0f * fold) - fold);
}

__attribute__((always_inline)) static inline double periodCached(int j, float freq)
{
    VoiceCache &c = caches[j];
    uint32_t fk = bitsOf(freq);
    if (!c.periodValid || c.periodKey != fk) {
        c.periodValid = true;
        c.periodKey = fk;
        c.period = oscillatorPeriod(freq);
    }
    return c.period;
}

// Decaying filter states would otherwise sink into subnormal numbers, which the
// processor handles many times slower; below 1e-38 they are far beneath hearing,
// so the callback treats them as zero.
struct FlushDenormals {
#if defined(__SSE2__)
    unsigned int saved = _mm_getcsr();
    FlushDenormals() { _mm_setcsr(saved | _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON); }
    ~FlushDenormals() { _mm_setcsr(saved); }
#endif
};

// Period replay. With its inputs unchanged (frequency, shape, fold, cutoff,
// resonance), a voice's filter is a fixed function of its state and the phase
// counter. So when a whole period has been recorded and the state at the next
// period start equals the recorded start state bit for bit, every following
// sample is an exact repeat, and is read back instead of computed. Replay is
// used only in frames where every sounding voice can replay; otherwise all
// lanes compute from the recorded state, which gives the same numbers again.
enum { LOOP_MAX = 2048 };
struct LaneState {
    float s[8];   // y1, y2, y3, y4, x1, y1old, y2old, y3old
};
struct VoiceLoop {
    uint32_t key[5];
    int32_t period;   // samples per period, 0 when too long to record
    int32_t count;    // samples recorded in order from phase 0, -1 when not recording
    bool replay;
    int32_t lastN;    // phase of the last sample played in replay
    LaneState start;  // state before phase 0 of the recorded period
};
static VoiceLoop loops[VOICE_COUNT];
static float loopY[VOICE_COUNT][LOOP_MAX];
static LaneState loopStates[VOICE_COUNT][LOOP_MAX];

static void resetLoop(int j)
{
    loops[j].replay = false;
    loops[j].count = -1;
    loops[j].key[0] = loops[j].key[1] = 0xFFFFFFFFu;   // a NaN pattern no input carries
}

__attribute__((always_inline)) static inline LaneState laneState(int j)
{
    return {{bank.y1[j], bank.y2[j], bank.y3[j], bank.y4[j], bank.x1[j], bank.y1old[j], bank.y2old[j], bank.y3old[j]}};
}

__attribute__((always_inline)) static inline void setLaneState(int j, const LaneState &s)
{
    bank.y1[j] = s.s[0], bank.y2[j] = s.s[1], bank.y3[j] = s.s[2], bank.y4[j] = s.s[3];
    bank.x1[j] = s.s[4], bank.y1old[j] = s.s[5], bank.y2old[j] = s.s[6], bank.y3old[j] = s.s[7];
}

// Checks the voice's inputs against its recording; true when phase n can be replayed.
__attribute__((always_inline)) static inline bool loopFollows(int j, float freq, const float *P, double period, int32_t n)
{
    VoiceLoop &L = loops[j];
    uint32_t key[5] = {bitsOf(freq), bitsOf(P[1]), bitsOf(P[2]), bitsOf(P[3]), bitsOf(P[4])};
    if (std::memcmp(key, L.key, sizeof key) != 0) {
        if (L.replay) setLaneState(j, loopStates[j][L.lastN]);
        std::memcpy(L.key, key, sizeof key);
        L.replay = false;
        L.count = -1;
        L.period = period >= 1.0 && period <= (double)LOOP_MAX ? (int32_t)period : 0;
        return false;
    }
    return L.replay && n == (L.lastN + 1 == L.period ? 0 : L.lastN + 1);
}

// Before a computed sample: bring a replaying lane's state up to date, and at
// phase 0 either start replay (the state has come round exactly) or recording.
__attribute__((always_inline)) static inline void loopBeforeFilter(int j, int32_t n)
{
    VoiceLoop &L = loops[j];
    if (L.replay) {
        setLaneState(j, loopStates[j][L.lastN]);
        if (n != (L.lastN + 1 == L.period ? 0 : L.lastN + 1)) L.replay = false, L.count = -1;
        else return;
    }
    if (n != 0 || L.period == 0) return;
    LaneState pre = laneState(j);
    if (L.count == L.period && std::memcmp(&pre, &L.start, sizeof pre) == 0) {
        L.replay = true;
    } else {
        L.start = pre;
        L.count = 0;
    }
}

// After a computed sample: record it, or note where replay stands.
__attribute__((always_inline)) static inline void loopAfterFilter(int j, int32_t n, float y)
{
    VoiceLoop &L = loops[j];
    if (L.replay) {
        L.lastN = n;
    } else if (L.count >= 0 && L.count == n && n < L.period) {
        loopY[j][n] = y;
        loopStates[j][n] = laneState(j);
        L.count++;
    } else {
        L.count = -1;
    }
}

// The frames of one call. Compiled twice, for plain x86-64 and for AVX2, which
// runs the eight filter lanes in one register; the arithmetic is the same
// IEEE single and double precision either way (no fused multiply-adds).
struct Routes {
    int lfoTargets[5], envTargets[5], lfoCount, envCount;
    bool oscSteady;   // no LFO on tune, shape or fold: folded samples repeat and are worth keeping
};

__attribute__((always_inline)) static inline void renderFrames(float *out, unsigned int frames, float *P, const Routes &rt)
{
    const int *lfoTargets = rt.lfoTargets, *envTargets = rt.envTargets;
    const int lfoCount = rt.lfoCount, envCount = rt.envCount;
    for (unsigned int i = 0; i < frames; i++) {
        if (lfoCount > 0) {
            float l = lfoTick(lfo, P[5]);
            for (int m = 0; m < lfoCount; m++) P[lfoTargets[m]] = modulated(lfoTargets[m], l);
        } else {
            lfoSkip(lfo);
        }
        lanes8 in = {}, y;
        mask8 sounding = {};
        float level[VOICE_COUNT], freqs[VOICE_COUNT], shapes[VOICE_COUNT], folds[VOICE_COUNT];
        int32_t ns[VOICE_COUNT];
        bool replayAll = true, any = false;
        for (int j = 0; j < VOICE_COUNT; j++) {
            Voice &v = voices[j];
            if (!v.active) continue;
            sounding[j] = -1;
            any = true;
            v.active = envelopeStep(v.envelope, v.gate, P[7], P[8], P[9], P[10]);
            if (envCount > 0) {
                float envMod = v.envelope.level * P[11];
                for (int m = 0; m < envCount; m++) P[envTargets[m]] = modulated(envTargets[m], envMod);
            }
            setupFilterCached(j, P[3], P[4]);
            float freq = detuned(v, P[0]);
            double period = periodCached(j, freq);
            replayAll &= loopFollows(j, freq, P, period, v.phase);
            ns[j] = v.phase, freqs[j] = freq, shapes[j] = P[1], folds[j] = P[2];
            level[j] = v.envelope.output;
            v.phase += 1;
            if ((double)v.phase >= period) v.phase = 0;
        }
        if (!any) {
            y = in;
        } else if (replayAll) {
            // Every sounding filter is inside a period it has already played exactly.
            for (int j = 0; j < VOICE_COUNT; j++)
                if (sounding[j]) y[j] = loopY[j][ns[j]], loops[j].lastN = ns[j];
        } else {
            // Silent lanes get a harmless fold of 1 so they never need the remainder.
            lanes8 n = {}, f = {}, sh = {}, s = {}, b = {1, 1, 1, 1, 1, 1, 1, 1};
            OscEntry *fresh[VOICE_COUNT] = {};
            bool miss[VOICE_COUNT] = {}, missed = false;
            for (int j = 0; j < VOICE_COUNT; j++) {
                if (!sounding[j]) continue;
                loopBeforeFilter(j, ns[j]);
                OscEntry *e = rt.oscSteady ? foldedEntry(j, ns[j], freqs[j], shapes[j], folds[j]) : nullptr;
                if (e && e->foldedStamp == caches[j].foldedGen) {
                    in[j] = e->folded;
                    continue;
                }
                missed = miss[j] = true;
                fresh[j] = e;
                n[j] = (float)ns[j], f[j] = freqs[j], sh[j] = shapes[j], b[j] = folds[j];
                s[j] = oscillatorSine(j, ns[j], freqs[j], shapes[j]);
            }
            if (missed) {
                lanes8 x = oscillatorLanes(n, f, sh, b, s);
                for (int j = 0; j < VOICE_COUNT; j++) {
                    if (!miss[j]) continue;
                    in[j] = x[j];
                    if (fresh[j]) fresh[j]->folded = x[j], fresh[j]->foldedStamp = caches[j].foldedGen;
                }
            }
            y = filterLanes(bank, in, sounding);
            for (int j = 0; j < VOICE_COUNT; j++)
                if (sounding[j]) loopAfterFilter(j, ns[j], y[j]);
        }
        float sum = 0.0f;
        for (int j = 0; j < VOICE_COUNT; j++)
            if (sounding[j]) sum += y[j] * level[j] * P[12];
        out[i] = sum == sum ? clampUnit(sum) : 0.0f;
        if ((i & 0x3FF) == 0) {
            int w = scopeIndex.load(std::memory_order_relaxed);
            scopeRing[w].store(out[i], std::memory_order_relaxed);
            w += 1;
            if (w > SCOPE_SIZE - 1) w = 0;
            scopeIndex.store(w, std::memory_order_relaxed);
        }
    }
}

__attribute__((target("avx2"))) static void renderFramesWide(float *out, unsigned int frames, float *P, const Routes &rt)
{
    renderFrames(out, frames, P, rt);
}

static void renderFramesPlain(float *out, unsigned int frames, float *P, const Routes &rt)
{
    renderFrames(out, frames, P, rt);
}

static const bool haveAvx2 = __builtin_cpu_supports("avx2");
static bool wideLanes = haveAvx2;

bool useWideLanes(bool on)
{
    wideLanes = on && haveAvx2;
    return wideLanes;
}

// Puts the thread that plays the sound ahead of the renderer's threads. On a
// small machine software rendering can keep every core busy, and a sound
// thread of ordinary priority then misses its turn and the sound drops out.
// Where the system refuses (no permission), nothing changes.
static void raiseSoundThreadPriority()
{
    sched_param param{};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

static std::atomic<bool> raisePending{false};

void raiseSoundThreadOnNextCall() { raisePending.store(true, std::memory_order_release); }

void audioCallback(void *buffer, unsigned int frames)
{
    if (raisePending.load(std::memory_order_relaxed) && raisePending.exchange(false, std::memory_order_acquire))
        raiseSoundThreadPriority();
    FlushDenormals flush;
    float *out = static_cast<float *>(buffer);
    readParams(&knobs, &routing);
    float *kv = &knobs.tune;
    for (int k = 0; k < 13; k++)
        if (kv[k] != kv[k]) kv[k] = 0.0f;   // a NaN knob would poison the whole voice

    float P[13];
    for (int k = 0; k < 13; k++) P[k] = modulated(k, 0.0f);
    lfoSetRate(lfo, P[6]);
    drainNoteEvents();
    if (frames == 0) return;

    // Which targets (tune, shape, fold, cutoff, resonance) follow which source.
    static const int target[5] = {2, 1, 0, 3, 4};   // fold, shape, tune, cutoff, resonance inputs
    const int32_t *src = &routing.foldSource;
    Routes rt{};
    for (int m = 0; m < 5; m++) {
        if (src[m] == LFO_OUT) rt.lfoTargets[rt.lfoCount++] = target[m];
        else if (src[m] == ENV_OUT) rt.envTargets[rt.envCount++] = target[m];
    }
    rt.oscSteady = true;
    for (int m = 0; m < rt.lfoCount; m++) rt.oscSteady &= rt.lfoTargets[m] > 2;

    loadLanes();
    if (wideLanes) renderFramesWide(out, frames, P, rt);
    else renderFramesPlain(out, frames, P, rt);
    for (int j = 0; j < VOICE_COUNT; j++)
        if (loops[j].replay) setLaneState(j, loopStates[j][loops[j].lastN]);
    storeLanes();
}

float scopeSample(int i)
{
    if (i < 0 || i >= SCOPE_SIZE) return 0.0f;
    return scopeRing[i].load(std::memory_order_relaxed);
}

int scopeOldestIndex() { return scopeIndex.load(std::memory_order_relaxed); }
