// blocks: one sample of each stage of the sound, written out plainly: pitch,
// oscillator, wavefolder, ladder filter, envelope and LFO.
// The callback runs the oscillator, folder and filter of all eight voices side
// by side as lanes; each lane twin sits beside its scalar step and does the
// same IEEE single and double precision arithmetic (no fused multiply-adds), so
// every path gives the same samples bit for bit.
#pragma once
#include <cfloat>
#include <cmath>
#include <cstring>
#include "synth/params.h"
#include "synth/synth.h"

// The x86 vector lanes; every other processor runs the plain lanes only.
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#define SYNTH_VECTOR_LANES 1
#else
#define SYNTH_VECTOR_LANES 0
#endif

constexpr float RATE = (float)SAMPLE_RATE;          // samples per second, single precision
constexpr double RATE_D = (double)SAMPLE_RATE;      // samples per second, double precision
constexpr double TWO_PI = 6.2831853;                // the engine's 2 pi, to eight digits
constexpr float ENV_STEP = 1.0f / (float)SAMPLE_RATE;   // one sample in seconds, 2.2675737e-05

// The bit pattern of x, the key of the caches: equal patterns give equal results.
SYNTH_INLINE uint32_t bitsOf(float x)
{
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// ---- lanes ----
// The eight voices side by side, voice j in lane j. The plain twins run the
// scalar step on each lane in turn; the vector twins (x86) run all lanes in
// one go. Lanes of voices that are not sounding are computed but not kept.
enum { LANES = VOICE_COUNT };

// The eight ladder filters (see LadderFilter), one array per field: the only
// home of the voices' filter state.
struct FilterBank {
    alignas(32) float f[LANES];
    float k[LANES], p[LANES], r[LANES];
    float y1[LANES], y2[LANES], y3[LANES], y4[LANES], x1[LANES], y1old[LANES], y2old[LANES], y3old[LANES];
};

#if SYNTH_VECTOR_LANES
// The lane helpers are inlined into the frame loop, never called across an ABI.
#pragma GCC diagnostic ignored "-Wpsabi"
typedef float lanes8 __attribute__((vector_size(32)));
typedef int32_t mask8 __attribute__((vector_size(32)));
typedef double dlanes8 __attribute__((vector_size(64)));

SYNTH_INLINE lanes8 loadLanes(const float *a)
{
    lanes8 v;
    std::memcpy(&v, a, sizeof v);
    return v;
}

SYNTH_INLINE void storeLanes(float *a, lanes8 v) { std::memcpy(a, &v, sizeof v); }
#endif

// 1 at or above 1, -1 at or below -1, else x.
SYNTH_INLINE float clampUnit(float x)
{
    if (x >= 1.0f) return 1.0f;
    if (x <= -1.0f) return -1.0f;
    return x;
}

#if SYNTH_VECTOR_LANES
SYNTH_INLINE lanes8 clampLanes(lanes8 x)
{
    const lanes8 one = {1, 1, 1, 1, 1, 1, 1, 1};
    lanes8 r = x >= one ? one : x;
    return x <= -one ? -one : r;
}
#endif

// ---- pitch ----

// Equal-tempered frequency of a note number, Hz.
inline float noteFrequency(int note)
{
    return powf(2.0f, (float)(note - 69) / 12.0f) * 440.0f;
}

// The voice's frequency detuned by tune (-1..1 semitone, linear in Hz).
SYNTH_INLINE float detunedFrequency(const Voice &v, float tune)
{
    if (tune > 0.0f) return remapClamped(tune, 0.0f, 1.0f, v.freq, v.freqAbove);
    if (tune < 0.0f) return remapClamped(tune, -1.0f, 0.0f, v.freqBelow, v.freq);
    return v.freq;
}

// Whole-sample period of freq: the counter runs 0 .. period - 1.
SYNTH_INLINE double oscillatorPeriod(float freq)
{
    return std::floor((double)(RATE / freq));
}

// ---- oscillator and wavefolder ----

// The sine at counter n.
SYNTH_INLINE float oscillatorSine(float n, float freq)
{
    return (float)std::sin(((double)n * TWO_PI) * (double)freq / RATE_D);
}

// Sine, triangle and falling saw at counter n blended by shape (the sine supplied).
SYNTH_INLINE float oscillatorBlend(float n, float freq, float shape, float sine)
{
    float ph = n * freq / RATE;
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
    return tri * t + sine * (1.0f - t);
}

// One oscillator sample at counter n.
SYNTH_INLINE float oscillatorSample(float n, float freq, float shape)
{
    return oscillatorBlend(n, freq, shape, oscillatorSine(n, freq));
}

// Triangle folding of x at threshold b; the result lies in [-b, b].
SYNTH_INLINE float foldSample(float x, float b)
{
    float d = x - b, m = 4.0f * b;
    // A dividend already inside the divisor is its own remainder.
    float r = std::fabs(d) < m ? d : std::fmod(d, m);
    return std::fabs(std::fabs(r) - 2.0f * b) - b;
}

// The filter's input: the oscillator blend folded and clamped (the sine supplied).
SYNTH_INLINE float foldedOscillator(float n, float freq, float shape, float fold, float sine)
{
    return clampUnit(foldSample(oscillatorBlend(n, freq, shape, sine), fold));
}

// foldedOscillator on every lane.
SYNTH_INLINE void foldedOscillatorPlain(const float *n, const float *freq, const float *shape, const float *fold,
                                        const float *sine, float *out)
{
    for (int j = 0; j < LANES; j++) out[j] = foldedOscillator(n[j], freq[j], shape[j], fold[j], sine[j]);
}

#if SYNTH_VECTOR_LANES
SYNTH_INLINE lanes8 absLanes(lanes8 x)
{
    return (lanes8)((mask8)x & 0x7FFFFFFF);   // fabsf on every lane: clears the sign bit
}

SYNTH_INLINE lanes8 remapLanes(lanes8 v, float is, float ie, float os, float oe)
{
    return (v - is) / (ie - is) * (oe - os) + os;   // raylib's Remap, lane by lane
}

// foldedOscillator on every lane, in vector registers.
SYNTH_INLINE void foldedOscillatorLanes(const float *n_, const float *freq_, const float *shape_, const float *fold_,
                                        const float *sine_, float *out)
{
    lanes8 n = loadLanes(n_), freq = loadLanes(freq_), shape = loadLanes(shape_), fold = loadLanes(fold_), s = loadLanes(sine_);
    lanes8 ph = n * freq / RATE;
    lanes8 tri = ph <= 0.25f ? remapLanes(ph, 0.0f, 0.25f, 0.0f, 1.0f)
                             : (ph <= 0.75f ? remapLanes(ph, 0.25f, 0.75f, 1.0f, -1.0f) : remapLanes(ph, 0.75f, 1.0f, -1.0f, 0.0f));
    dlanes8 back = __builtin_convertvector(1.0f - ph, dlanes8);
    lanes8 saw = __builtin_convertvector(2.0 * back - 1.0, lanes8);
    lanes8 tHigh = (shape - 0.5f) * 2.0f, tLow = 2.0f * shape;
    lanes8 blend = shape > 0.5f ? saw * tHigh + tri * (1.0f - tHigh) : tri * tLow + s * (1.0f - tLow);
    lanes8 d = blend - fold, m = 4.0f * fold;
    lanes8 r = d;
    mask8 far = !(absLanes(d) < m);
    for (int j = 0; j < LANES; j++)
        if (far[j]) r[j] = std::fmod(d[j], m[j]);   // only a deep fold needs the remainder
    storeLanes(out, clampLanes(absLanes(absLanes(r) - 2.0f * fold) - fold));
}
#endif

// ---- ladder filter ----

// Computes the filter coefficients for a cutoff in Hz and a resonance 0..1.
SYNTH_INLINE void filterSetup(LadderFilter &filter, float cutoff, float resonance)
{
    filter.f = (cutoff + cutoff) / RATE;
    filter.k = 3.6f * filter.f - 1.6f * filter.f * filter.f - 1.0f;
    filter.p = 0.5f * (filter.k + 1.0f);
    filter.r = 1.3862489f * resonance * expf(1.0f - filter.p);
}

// Filters one sample and returns the new output.
SYNTH_INLINE float filterProcess(LadderFilter &q, float in)
{
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
    if (!std::isfinite(q.y4)) q.y1 = q.y2 = q.y3 = q.y4 = q.x1 = q.y1old = q.y2old = q.y3old = 0.0f;
    return q.y4;
}

// Lane j of the bank as one filter, and back.
SYNTH_INLINE LadderFilter laneFilter(const FilterBank &b, int j)
{
    return {b.f[j], b.k[j], b.p[j], b.r[j], b.y1[j], b.y2[j], b.y3[j], b.y4[j], b.x1[j], b.y1old[j], b.y2old[j], b.y3old[j]};
}

SYNTH_INLINE void setLaneFilter(FilterBank &b, int j, const LadderFilter &q)
{
    b.f[j] = q.f, b.k[j] = q.k, b.p[j] = q.p, b.r[j] = q.r;
    b.y1[j] = q.y1, b.y2[j] = q.y2, b.y3[j] = q.y3, b.y4[j] = q.y4;
    b.x1[j] = q.x1, b.y1old[j] = q.y1old, b.y2old[j] = q.y2old, b.y3old[j] = q.y3old;
}

// filterProcess on every lane whose keep is set; out gets every lane's output.
SYNTH_INLINE void filterPlain(FilterBank &b, const float *in, const int32_t *keep, float *out)
{
    for (int j = 0; j < LANES; j++) {
        if (keep[j]) {
            LadderFilter q = laneFilter(b, j);
            filterProcess(q, in[j]);
            setLaneFilter(b, j, q);
        }
        out[j] = b.y4[j];
    }
}

#if SYNTH_VECTOR_LANES
// filterProcess on every lane whose keep is set, in vector registers.
SYNTH_INLINE void filterLanes(FilterBank &b, const float *in_, const int32_t *keep_, float *out)
{
    lanes8 in = loadLanes(in_), p = loadLanes(b.p), k = loadLanes(b.k);
    lanes8 y1 = loadLanes(b.y1), y2 = loadLanes(b.y2), y3 = loadLanes(b.y3), y4 = loadLanes(b.y4);
    lanes8 x1 = loadLanes(b.x1), y1old = loadLanes(b.y1old), y2old = loadLanes(b.y2old), y3old = loadLanes(b.y3old);
    mask8 keep;
    std::memcpy(&keep, keep_, sizeof keep);
    lanes8 x = in - loadLanes(b.r) * y4;
    lanes8 n1 = (p * x1 + p * x) - k * y1;
    lanes8 n2 = (p * y1old + p * n1) - k * y2;
    lanes8 n3 = (p * y2old + p * n2) - k * y3;
    lanes8 n4 = (p * y3old + p * n3) - k * y4;
    dlanes8 d = __builtin_convertvector(n4, dlanes8);
    const dlanes8 six = {6, 6, 6, 6, 6, 6, 6, 6};
    n4 = __builtin_convertvector(d - d * d * d / six, lanes8);
    // A lane driven past the float range starts again from silence.
    const lanes8 big = {FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX, FLT_MAX}, zero = {};
    lanes8 mag = n4 < -n4 ? -n4 : n4;
    mask8 bad = !(mag <= big);
    mask8 reset = keep & bad, update = keep & ~bad;
    storeLanes(b.y1, update ? n1 : (reset ? zero : y1));
    storeLanes(b.y2, update ? n2 : (reset ? zero : y2));
    storeLanes(b.y3, update ? n3 : (reset ? zero : y3));
    lanes8 y4new = update ? n4 : (reset ? zero : y4);
    storeLanes(b.y4, y4new);
    storeLanes(b.x1, update ? clampLanes(x) : (reset ? zero : x1));
    storeLanes(b.y1old, update ? clampLanes(n1) : (reset ? zero : y1old));
    storeLanes(b.y2old, update ? clampLanes(n2) : (reset ? zero : y2old));
    storeLanes(b.y3old, update ? clampLanes(n3) : (reset ? zero : y3old));
    storeLanes(out, y4new);
}
#endif

// ---- envelope ----

// Logarithmic curve from the linear level to the output gain.
SYNTH_INLINE float envelopeCurve(float x)
{
    if (x >= 1.0f) return 1.0f;
    if (x <= 0.0f) return 0.0f;
    return Clamp(1.0f + 0.41666666f * logf(x), 0.0f, 1.0f);
}

// Advances one sample with attack, decay and release in s and sustain 0..1;
// returns false when the release has just reached 0.
SYNTH_INLINE bool envelopeTick(Envelope &env, bool gate, float a, float d, float s, float r)
{
    switch (env.stage) {
    case STAGE_ATTACK:
        env.level += (1.0f / a) * ENV_STEP;
        env.output = envelopeCurve(env.level);
        if (env.level >= 1.0f) {
            env.level = 1.0f;
            env.stage = STAGE_DECAY;
        }
        env.attackCount += 1;
        if (!gate) {
            // The attack runs for as long as the key was held, by the timestamps.
            float elapsed = (float)env.attackCount / RATE * 1000.0f;
            float held = (float)((uint32_t)env.offTime - (uint32_t)env.onTime);
            if (elapsed > held) env.stage = STAGE_RELEASE;
        }
        return true;
    case STAGE_DECAY:
        env.level -= ((1.0f - s) / d) * ENV_STEP;
        env.output = envelopeCurve(env.level);
        if (s >= env.level) {
            env.level = s;
            env.output = envelopeCurve(s);
            env.stage = STAGE_SUSTAIN;
        }
        if (!gate) env.stage = STAGE_RELEASE;
        return true;
    case STAGE_SUSTAIN:
        // output always equals envelopeCurve(level), so an unchanged level keeps it.
        if (bitsOf(env.level) != bitsOf(s)) {
            env.level = s;
            env.output = envelopeCurve(s);
        }
        if (!gate) env.stage = STAGE_RELEASE;
        return true;
    default:
        env.level -= (1.0f / r) * ENV_STEP;
        env.output = envelopeCurve(env.level);
        if (env.level <= 0.0f) {
            env.level = 0.0f;
            return false;
        }
        return true;
    }
}

// ---- LFO ----
// The counter is exact in double for 2^53 samples, so the wave keeps its
// smoothness however long the program runs.

// Sets the LFO rate, keeping the phase reached.
inline void lfoSetRate(Lfo &l, float rate)
{
    if (rate == l.rate) return;
    l.rate = rate;
    // Continue from the phase already reached instead of jumping.
    l.counter = (uint64_t)std::trunc(l.phase / TWO_PI * RATE_D / (double)rate);
}

// Advances the LFO one sample and returns its value times depth.
SYNTH_INLINE float lfoTick(Lfo &l, float depth)
{
    double n = (double)l.counter;
    l.phase = (double)l.rate * (TWO_PI * n) / RATE_D;
    float value = (float)std::sin((n * TWO_PI) * (double)l.rate / RATE_D);
    l.counter += 1;
    return value * depth;
}

// The LFO advanced without its sine, for buffers where nothing listens to it.
SYNTH_INLINE void lfoSkip(Lfo &l)
{
    l.phase = (double)l.rate * (TWO_PI * (double)l.counter) / RATE_D;
    l.counter += 1;
}
