// The fast path: the frames of one buffer for all eight voices, with the same
// samples as running every step of synth/blocks.h on every frame, only sooner.
// - Caches keyed on exact inputs (bit patterns): a filter's coefficients, an
//   oscillator's period, and per-phase tables of the sine and the folded
//   sample, reused while their inputs have not changed.
// - Lanes: the eight filters run side by side (see FilterBank).
// - Period replay (synth/replay.h): a filter period that has come round to
//   exactly the same state is read back instead of computed.
#include "synth/engine.h"

// Moves a table of lane j to a new generation; after four billion changes the stamps start afresh.
static void invalidate(Lane &lane, bool sine)
{
    uint32_t &gen = sine ? lane.sineGen : lane.foldedGen;
    if (++gen == 0) {
        for (int n = 0; n < OSC_TABLE; n++) (sine ? lane.osc[n].sineStamp : lane.osc[n].foldedStamp) = 0;
        gen = 1;
    }
}

void resetFastPath(FastPath &fp)
{
    std::memset(&fp, 0, sizeof fp);
    for (int j = 0; j < LANES; j++) {
        fp.lanes[j].osc = fp.tables[j].osc;
        fp.lanes[j].rec.tape = &fp.tables[j].tape;
        fp.lanes[j].sineGen = fp.lanes[j].foldedGen = 1;
        forgetRecording(fp.lanes[j].rec);
    }
}

void restartLane(FastPath &fp, int j, VoiceRestart how)
{
    forgetRecording(fp.lanes[j].rec);
    if (how == RESTART_FRESH) setLaneState(fp.bank, j, LaneState{});
}

// Sets lane j's filter coefficients for a cutoff and resonance, computing them only when new.
SYNTH_INLINE void setupFilterCached(FastPath &fp, int j, float cutoff, float resonance)
{
    Lane &c = fp.lanes[j];
    uint32_t ck = bitsOf(cutoff), rk = bitsOf(resonance);
    if (c.filterValid && c.cutKey == ck && c.resKey == rk) return;
    SharedCoefficients &g = fp.lastCoefficients;
    if (!(g.valid && g.cutKey == ck && g.resKey == rk)) {
        LadderFilter q;
        filterSetup(q, cutoff, resonance);
        g = {true, ck, rk, q.f, q.k, q.p, q.r};
    }
    fp.bank.f[j] = g.f, fp.bank.k[j] = g.k, fp.bank.p[j] = g.p, fp.bank.r[j] = g.r;
    c.filterValid = true;
    c.cutKey = ck;
    c.resKey = rk;
}

// A lane's oscillator period for freq.
SYNTH_INLINE double periodCached(Lane &c, float freq)
{
    uint32_t fk = bitsOf(freq);
    if (!c.periodValid || c.periodKey != fk) {
        c.periodValid = true;
        c.periodKey = fk;
        c.period = oscillatorPeriod(freq);
    }
    return c.period;
}

// The oscillator's sine for a lane at phase n, from the lane's table when the
// frequency has not changed since it was computed. Above shape 0.5 the blend
// is triangle to saw and the sine is not heard, so it is not computed.
SYNTH_INLINE float sineCached(Lane &c, int32_t n, float freq, float shape)
{
    if (shape > 0.5f) return 0.0f;
    uint32_t fk = bitsOf(freq);
    if (fk != c.sineKey) {
        c.sineKey = fk;
        invalidate(c, true);
    }
    if ((uint32_t)n >= OSC_TABLE) return oscillatorSine((float)n, freq);
    OscEntry &e = c.osc[n];
    if (e.sineStamp != c.sineGen) {
        e.sine = oscillatorSine((float)n, freq);
        e.sineStamp = c.sineGen;
    }
    return e.sine;
}

// The table entry for a lane's folded sample at phase n (after moving the
// table to a new generation if frequency, shape or fold changed), or none
// when n lies beyond the table.
SYNTH_INLINE OscEntry *foldedEntry(Lane &c, int32_t n, float freq, float shape, float fold)
{
    uint32_t fk = bitsOf(freq), sk = bitsOf(shape), bk = bitsOf(fold);
    if (fk != c.foldKey[0] || sk != c.foldKey[1] || bk != c.foldKey[2]) {
        c.foldKey[0] = fk;
        c.foldKey[1] = sk;
        c.foldKey[2] = bk;
        invalidate(c, false);
    }
    return (uint32_t)n < OSC_TABLE ? &c.osc[n] : nullptr;
}

// The frames of one call, on vector lanes (x86) or the plain ones.
template <bool VECTOR>
SYNTH_INLINE void renderFrames(float *out, unsigned frames, SynthState &s, FrameSetup &fs)
{
    float *P = fs.param;
    Voice *voices = s.voices;
    Lfo &lfo = s.lfo;
    FastPath &fp = s.fast;
    FilterBank &bank = fp.bank;
    Lane *lanes = fp.lanes;
    for (unsigned i = 0; i < frames; i++) {
        if (fs.lfoCount > 0) {
            float l = lfoTick(lfo, P[PARAM_LFO_DEPTH]);
            for (int m = 0; m < fs.lfoCount; m++) P[fs.lfoTargets[m]] = modulatedParam(fs.knob, fs.lfoTargets[m], l);
        } else {
            lfoSkip(lfo);
        }
        // Each sounding voice's envelope, inputs and phase for this frame.
        float in[LANES] = {}, y[LANES] = {}, level[LANES], freqs[LANES], shapes[LANES], folds[LANES];
        int32_t sounding[LANES] = {}, ns[LANES];
        bool replayAll = true, any = false;
        for (int j = 0; j < LANES; j++) {
            Voice &v = voices[j];
            if (!v.active) continue;
            sounding[j] = -1;
            any = true;
            v.active = envelopeTick(v.envelope, v.gate, P[PARAM_ATTACK], P[PARAM_DECAY], P[PARAM_SUSTAIN], P[PARAM_RELEASE]);
            if (fs.envCount > 0) {
                float envMod = v.envelope.level * P[PARAM_ENV_AMOUNT];
                for (int m = 0; m < fs.envCount; m++) P[fs.envTargets[m]] = modulatedParam(fs.knob, fs.envTargets[m], envMod);
            }
            setupFilterCached(fp, j, P[PARAM_CUTOFF], P[PARAM_RESONANCE]);
            float freq = detunedFrequency(v, P[PARAM_TUNE]);
            double period = periodCached(lanes[j], freq);
            LoopKey key = {{bitsOf(freq), bitsOf(P[PARAM_SHAPE]), bitsOf(P[PARAM_FOLD]), bitsOf(P[PARAM_CUTOFF]), bitsOf(P[PARAM_RESONANCE])}};
            replayAll &= loopFollows(lanes[j].rec, bank, j, key, period, v.phase);
            ns[j] = v.phase, freqs[j] = freq, shapes[j] = P[PARAM_SHAPE], folds[j] = P[PARAM_FOLD];
            level[j] = v.envelope.output;
            v.phase += 1;
            if ((double)v.phase >= period) v.phase = 0;
        }
        if (!any) {
            // nothing sounds: the frame is silent
        } else if (replayAll) {
            // Every sounding filter is inside a period it has already played exactly.
            for (int j = 0; j < LANES; j++)
                if (sounding[j]) y[j] = replayed(lanes[j].rec, ns[j]);
        } else {
            // Silent lanes get a harmless fold of 1 so they never need the remainder.
            float n[LANES] = {}, f[LANES] = {}, sh[LANES] = {}, s[LANES] = {}, b[LANES] = {1, 1, 1, 1, 1, 1, 1, 1};
            OscEntry *fresh[LANES] = {};
            bool miss[LANES] = {}, missed = false;
            for (int j = 0; j < LANES; j++) {
                if (!sounding[j]) continue;
                loopBeforeFilter(lanes[j].rec, bank, j, ns[j]);
                Lane &c = lanes[j];
                OscEntry *e = fs.oscSteady ? foldedEntry(c, ns[j], freqs[j], shapes[j], folds[j]) : nullptr;
                if (e && e->foldedStamp == c.foldedGen) {
                    in[j] = e->folded;
                    continue;
                }
                missed = miss[j] = true;
                fresh[j] = e;
                n[j] = (float)ns[j], f[j] = freqs[j], sh[j] = shapes[j], b[j] = folds[j];
                s[j] = sineCached(c, ns[j], freqs[j], shapes[j]);
            }
            if (missed) {
                float x[LANES];
#if SYNTH_VECTOR_LANES
                if constexpr (VECTOR) foldedOscillatorLanes(n, f, sh, b, s, x);
                else
#endif
                    foldedOscillatorPlain(n, f, sh, b, s, x);
                for (int j = 0; j < LANES; j++) {
                    if (!miss[j]) continue;
                    in[j] = x[j];
                    if (fresh[j]) fresh[j]->folded = x[j], fresh[j]->foldedStamp = lanes[j].foldedGen;
                }
            }
#if SYNTH_VECTOR_LANES
            if constexpr (VECTOR) filterLanes(bank, in, sounding, y);
            else
#endif
                filterPlain(bank, in, sounding, y);
            for (int j = 0; j < LANES; j++)
                if (sounding[j]) loopAfterFilter(lanes[j].rec, bank, j, ns[j], y[j]);
        }
        float sum = 0.0f;
        for (int j = 0; j < LANES; j++)
            if (sounding[j]) sum += y[j] * level[j] * P[PARAM_GAIN];
        out[i] = sum == sum ? clampUnit(sum) : 0.0f;
    }
}

static void renderPlain(float *out, unsigned frames, SynthState &s, FrameSetup &fs)
{
    renderFrames<false>(out, frames, s, fs);
}

#if SYNTH_VECTOR_LANES
// The same frames compiled twice more: for plain x86-64 (SSE2) and for AVX2,
// which holds the eight filter lanes in one register.
static void renderSse2(float *out, unsigned frames, SynthState &s, FrameSetup &fs)
{
    renderFrames<true>(out, frames, s, fs);
}

__attribute__((target("avx2"))) static void renderAvx2(float *out, unsigned frames, SynthState &s, FrameSetup &fs)
{
    renderFrames<true>(out, frames, s, fs);
}

static const LanePath bestPath = __builtin_cpu_supports("avx2") ? LANES_AVX2 : LANES_SSE2;
#else
static const LanePath bestPath = LANES_PLAIN;
#endif
static LanePath lanePath = bestPath;

LanePath useLanePath(LanePath wanted)
{
    lanePath = wanted < bestPath ? wanted : bestPath;
    return lanePath;
}

void renderVoices(SynthState &s, float *out, unsigned frames, FrameSetup &fs)
{
    switch (lanePath) {
#if SYNTH_VECTOR_LANES
    case LANES_AVX2: renderAvx2(out, frames, s, fs); break;
    case LANES_SSE2: renderSse2(out, frames, s, fs); break;
#endif
    default: renderPlain(out, frames, s, fs); break;
    }
    // A replaying filter's lane state stands where its replay began; bring it up to date.
    for (int j = 0; j < LANES; j++) catchUpReplay(s.fast.lanes[j].rec, s.fast.bank, j);
}
