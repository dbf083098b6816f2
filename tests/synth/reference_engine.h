// The plain reference for the audio callback: the engine's scalar building blocks
// for every voice on every frame, nothing cached, no lanes, no period replay,
// no denormal flush. Tests prove the callback equal to it; the benchmark times it.
#pragma once
#include <algorithm>
#include "panel/panel.h"
#include "synth/synth.h"

namespace ref {

inline Voice voices[VOICE_COUNT];
inline Lfo lfo;

// Takes over the engine's voices and LFO as they stand (notes are placed by the engine).
inline void copyEngine() { std::copy(voicePool(), voicePool() + VOICE_COUNT, voices), lfo = *synthLfo(); }

// Renders frames with the knobs the engine's last callback took.
inline void callback(float *out, unsigned frames)
{
    SynthParams knobs;
    ModRouting routing;
    readParams(&knobs, &routing);   // only the cables: the knobs come sanitised from the engine
    float P[13];
    for (int k = 0; k < 13; k++) P[k] = modulatedParam(k, 0);
    lfoSetRate(lfo, P[6]);
    static const int target[5] = {2, 1, 0, 3, 4};   // fold, shape, tune, cutoff, resonance inputs
    const int32_t *src = &routing.foldSource;
    for (unsigned i = 0; i < frames; i++) {
        float l = lfoTick(lfo, P[5]);
        for (int m = 0; m < 5; m++)
            if (src[m] == JACK_LFO_OUT) P[target[m]] = modulatedParam(target[m], l);
        float sum = 0;
        for (Voice &v : voices) {
            if (!v.active) continue;
            v.active = envelopeTick(v.envelope, v.gate, P[7], P[8], P[9], P[10]);
            for (int m = 0; m < 5; m++)
                if (src[m] == JACK_ENV_OUT) P[target[m]] = modulatedParam(target[m], v.envelope.level * P[11]);
            float freq = detunedFrequency(v, P[0]);
            filterSetup(v.filter, P[3], P[4]);
            sum += filterProcess(v.filter, clampUnit(foldSample(oscillatorSample((float)v.phase, freq, P[1]), P[2]))) *
                   v.envelope.output * P[12];
            if (++v.phase >= oscillatorPeriod(freq)) v.phase = 0;
        }
        out[i] = sum == sum ? clampUnit(sum) : 0.0f;
    }
}

}  // namespace ref
