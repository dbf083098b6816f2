// The plain reference for the audio callback: the engine's building blocks
// for every voice on every frame, nothing cached, no lanes, no period replay,
// no denormal flush. Tests prove the callback equal to it; the benchmark times it.
// It also notes what the callback's last step hides: the mix before it is
// clamped, mixes that came out NaN, and filters that blew up and started again.
#pragma once
#include <algorithm>
#include "panel/panel.h"
#include "synth/blocks.h"

namespace ref {

inline Voice voices[VOICE_COUNT];
inline LadderFilter filters[VOICE_COUNT];
inline Lfo lfo;
// The loudest mix before the clamp, NaN mixes, filter restarts, and the longest run of
// frames louder than eight voices at full gain can be (a filter blowing up).
inline struct { float peak; long nans, resets, run, longest; } seen;

// Takes over the engine's voices, filters and LFO as they stand (notes are placed by the engine).
inline void copyEngine()
{
    for (int j = 0; j < VOICE_COUNT; j++) voices[j] = voicePool()[j], filters[j] = voiceFilter(j);
    lfo = *synthLfo();
}

// Renders frames with the knobs and cables the engine's last callback took.
inline void callback(float *out, unsigned frames)
{
    SynthParams knobs; ModRouting routing;
    readParams(&knobs, &routing);
    float knob[PARAM_COUNT] = {knobs.tune, knobs.shape, knobs.fold, knobs.cutoff, knobs.resonance, knobs.lfoDepth, knobs.lfoRate,
                               knobs.attack, knobs.decay, knobs.sustain, knobs.release, knobs.envAmount, knobs.gain}, P[PARAM_COUNT];
    for (int k = 0; k < PARAM_COUNT; k++) {
        if (std::isnan(knob[k])) knob[k] = 0.0f;
        P[k] = modulatedParam(knob, k, 0);
    }
    // Each modulation input's source and the slot it moves.
    const struct { int32_t source; ParamSlot slot; } inputs[] = {{routing.foldSource, PARAM_FOLD}, {routing.shapeSource, PARAM_SHAPE},
        {routing.tuneSource, PARAM_TUNE}, {routing.cutoffSource, PARAM_CUTOFF}, {routing.resonanceSource, PARAM_RESONANCE}};
    lfoSetRate(lfo, P[PARAM_LFO_RATE]);
    for (int j = 0; j < VOICE_COUNT; j++) {   // a fresh note's filter starts from silence
        LadderFilter &q = filters[j];
        if (voices[j].restart == RESTART_FRESH) q = {q.f, q.k, q.p, q.r, 0, 0, 0, 0, 0, 0, 0, 0};
        voices[j].restart = RESTART_NONE;
    }
    for (unsigned i = 0; i < frames; i++) {
        float l = lfoTick(lfo, P[PARAM_LFO_DEPTH]);
        for (auto &in : inputs)
            if (in.source == JACK_LFO_OUT) P[in.slot] = modulatedParam(knob, in.slot, l);
        float sum = 0;
        for (int j = 0; j < VOICE_COUNT; j++) {
            Voice &v = voices[j];
            if (!v.active) continue;
            v.active = envelopeTick(v.envelope, v.gate, P[PARAM_ATTACK], P[PARAM_DECAY], P[PARAM_SUSTAIN], P[PARAM_RELEASE]);
            for (auto &in : inputs)
                if (in.source == JACK_ENV_OUT) P[in.slot] = modulatedParam(knob, in.slot, v.envelope.level * P[PARAM_ENV_AMOUNT]);
            float freq = detunedFrequency(v, P[PARAM_TUNE]);
            LadderFilter &q = filters[j];
            filterSetup(q, P[PARAM_CUTOFF], P[PARAM_RESONANCE]);
            float in = clampUnit(foldSample(oscillatorSample((float)v.phase, freq, P[PARAM_SHAPE]), P[PARAM_FOLD]));
            sum += filterProcess(q, in) * v.envelope.output * P[PARAM_GAIN];
            // Only a restart leaves every stage at 0 after an input other than 0.
            seen.resets += in != 0.0f && q.y1 == 0.0f && q.y2 == 0.0f && q.y3 == 0.0f && q.y4 == 0.0f && q.x1 == 0.0f;
            if (++v.phase >= oscillatorPeriod(freq)) v.phase = 0;
        }
        if (sum != sum) seen.nans++;
        else seen.peak = std::max(seen.peak, std::fabs(sum));
        seen.run = std::fabs(sum) > 8.0f ? seen.run + 1 : 0;
        seen.longest = std::max(seen.longest, seen.run);
        out[i] = sum == sum ? clampUnit(sum) : 0.0f;
    }
}

}  // namespace ref
