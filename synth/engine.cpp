// One engine's buffer: takes the knobs and cables given, restarts the lanes
// of voices that notes have just taken, renders the voices through the fast
// path, and feeds the scope.
#include <new>
#include "synth/engine.h"
#if SYNTH_VECTOR_LANES
#include <pmmintrin.h>
#include <xmmintrin.h>
#endif

SynthState *createSynth()
{
    SynthState *s = new (std::nothrow) SynthState{};
    if (s) resetSynth(*s);
    return s;
}

void destroySynth(SynthState *s) { delete s; }

void resetSynth(SynthState &s)
{
    resetVoices(s.voices);
    resetFastPath(s.fast);
    for (std::atomic<float> &x : s.scopeRing) x.store(0.0f, std::memory_order_relaxed);
}

Lfo *synthLfo(SynthState &s) { return &s.lfo; }

// Decaying filter states would otherwise sink into subnormal numbers, which the
// processor handles many times slower; below 1e-38 they are far beneath hearing,
// so the callback treats them as zero.
struct FlushDenormals {
#if SYNTH_VECTOR_LANES
    unsigned int saved = _mm_getcsr();
    FlushDenormals() { _mm_setcsr(saved | _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON); }
    ~FlushDenormals() { _mm_setcsr(saved); }
#elif defined(__aarch64__)
    unsigned int saved = __builtin_aarch64_get_fpcr();
    FlushDenormals() { __builtin_aarch64_set_fpcr(saved | (1u << 24)); }   // FZ: flush to zero
    ~FlushDenormals() { __builtin_aarch64_set_fpcr(saved); }
#endif
};

// Which slots follow the LFO and which the envelope, by the cables in the five inputs.
static void routeSources(const ModRouting &routing, FrameSetup &fs)
{
    fs.lfoCount = fs.envCount = 0;
    for (int m = 0; m < MOD_INPUT_COUNT; m++) {
        int32_t source = routing.*ModSourceField[m];
        if (source == JACK_LFO_OUT) fs.lfoTargets[fs.lfoCount++] = ModTarget[m];
        else if (source == JACK_ENV_OUT) fs.envTargets[fs.envCount++] = ModTarget[m];
    }
    fs.oscSteady = true;
    for (int m = 0; m < fs.lfoCount; m++)
        fs.oscSteady &= fs.lfoTargets[m] != PARAM_TUNE && fs.lfoTargets[m] != PARAM_SHAPE && fs.lfoTargets[m] != PARAM_FOLD;
}

// Keeps every SCOPE_STRIDE-th frame of the buffer, counting from its first.
static void feedScope(SynthState &s, const float *out, unsigned frames)
{
    for (unsigned i = 0; i < frames; i += SCOPE_STRIDE) {
        int w = s.scopeIndex.load(std::memory_order_relaxed);
        s.scopeRing[w].store(out[i], std::memory_order_relaxed);
        s.scopeIndex.store(w + 1 == SCOPE_SIZE ? 0 : w + 1, std::memory_order_relaxed);
    }
}

void renderSynth(SynthState &s, float *out, unsigned frames, const SynthParams &knobs, const ModRouting &routing)
{
    FlushDenormals flush;
    float param[PARAM_COUNT];
    for (int k = 0; k < PARAM_COUNT; k++) {
        s.knob[k] = knobs.*KnobField[k];
        if (s.knob[k] != s.knob[k]) s.knob[k] = 0.0f;   // a NaN knob would poison the whole voice
        param[k] = modulatedParam(s.knob, k, 0.0f);
    }
    lfoSetRate(s.lfo, param[PARAM_LFO_RATE]);
    for (int j = 0; j < VOICE_COUNT; j++)
        if (s.voices[j].restart != RESTART_NONE)
            restartLane(s.fast, j, (VoiceRestart)s.voices[j].restart), s.voices[j].restart = RESTART_NONE;
    if (frames == 0) return;
    FrameSetup fs{s.knob, param, {}, {}, 0, 0, true};
    routeSources(routing, fs);
    renderVoices(s, out, frames, fs);
    feedScope(s, out, frames);
}

float scopeSample(const SynthState &s, int i)
{
    if (i < 0 || i >= SCOPE_SIZE) return 0.0f;
    return s.scopeRing[i].load(std::memory_order_relaxed);
}

