// The audio callback's shell: takes the newest knobs and cables, applies the
// queued notes, renders the voices through the fast path, and feeds the scope.
#include <atomic>
#include "synth/engine.h"
#if SYNTH_VECTOR_LANES
#include <pmmintrin.h>
#include <xmmintrin.h>
#endif

static Lfo lfo;
static float knob[PARAM_COUNT];   // the callback's copy of the knob values, 0..1 by slot
static std::atomic<float> scopeRing[SCOPE_SIZE];
static std::atomic<int> scopeIndex{0};

Lfo *synthLfo() { return &lfo; }

void resetSynth()
{
    resetVoices();
    resetFastPath();
    for (std::atomic<float> &s : scopeRing) s.store(0.0f, std::memory_order_relaxed);
}

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
static void feedScope(const float *out, unsigned frames)
{
    for (unsigned i = 0; i < frames; i += SCOPE_STRIDE) {
        int w = scopeIndex.load(std::memory_order_relaxed);
        scopeRing[w].store(out[i], std::memory_order_relaxed);
        scopeIndex.store(w + 1 == SCOPE_SIZE ? 0 : w + 1, std::memory_order_relaxed);
    }
}

void audioCallback(void *buffer, unsigned int frames)
{
    soundThreadTick(frames);
    FlushDenormals flush;
    SynthParams knobs;
    ModRouting routing;
    readParams(&knobs, &routing);
    float param[PARAM_COUNT];
    for (int k = 0; k < PARAM_COUNT; k++) {
        knob[k] = knobs.*KnobField[k];
        if (knob[k] != knob[k]) knob[k] = 0.0f;   // a NaN knob would poison the whole voice
        param[k] = modulatedParam(knob, k, 0.0f);
    }
    lfoSetRate(lfo, param[PARAM_LFO_RATE]);
    drainNoteEvents();
    Voice *voices = voicePool();
    for (int j = 0; j < VOICE_COUNT; j++)
        if (voices[j].restart != RESTART_NONE) restartLane(j, (VoiceRestart)voices[j].restart), voices[j].restart = RESTART_NONE;
    if (frames == 0) return;
    float *out = static_cast<float *>(buffer);
    FrameSetup fs{knob, param, {}, {}, 0, 0, true};
    routeSources(routing, fs);
    renderVoices(out, frames, voices, lfo, fs);
    feedScope(out, frames);
}

float scopeSample(int i)
{
    if (i < 0 || i >= SCOPE_SIZE) return 0.0f;
    return scopeRing[i].load(std::memory_order_relaxed);
}

int scopeOldestIndex() { return scopeIndex.load(std::memory_order_relaxed); }
