// params: the range each knob sweeps (by ParamSlot, panel/panel.h), and the
// mapping from a knob (0..1) plus a modulation offset to the engine value.
#pragma once
#include <cstdint>
#include "panel/panel.h"
#include "raymath.h"

// The building blocks are inlined into the frame loop that runs them.
#define SYNTH_INLINE __attribute__((always_inline)) static inline

// Engine value at knob 0 and knob 1 for each slot.
struct ParamRange {
    float start, end;
};
inline constexpr ParamRange ParamRangeTable[PARAM_COUNT] = {
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

// The knob block's field for each slot.
inline constexpr float SynthParams::*KnobField[PARAM_COUNT] = {
    &SynthParams::tune, &SynthParams::shape, &SynthParams::fold, &SynthParams::cutoff, &SynthParams::resonance,
    &SynthParams::lfoDepth, &SynthParams::lfoRate, &SynthParams::attack, &SynthParams::decay,
    &SynthParams::sustain, &SynthParams::release, &SynthParams::envAmount, &SynthParams::gain};

// The five modulation inputs, in the order of ModRouting and of their jacks.
enum ModInput : int32_t { MOD_FOLD, MOD_SHAPE, MOD_TUNE, MOD_CUTOFF, MOD_RESONANCE, MOD_INPUT_COUNT };
// The routing block's field and the slot each input moves.
inline constexpr int32_t ModRouting::*ModSourceField[MOD_INPUT_COUNT] = {
    &ModRouting::foldSource, &ModRouting::shapeSource, &ModRouting::tuneSource, &ModRouting::cutoffSource,
    &ModRouting::resonanceSource};
inline constexpr ParamSlot ModTarget[MOD_INPUT_COUNT] = {PARAM_FOLD, PARAM_SHAPE, PARAM_TUNE, PARAM_CUTOFF, PARAM_RESONANCE};

// Linear map from one range to another, clamped to the output range (either direction).
SYNTH_INLINE float remapClamped(float x, float inStart, float inEnd, float outStart, float outEnd)
{
    float v = outStart + (outEnd - outStart) * (x - inStart) / (inEnd - inStart);
    // The range ends are never NaN, so this picks the same ends as fminf/fmaxf.
    float lo = outStart < outEnd ? outStart : outEnd, hi = outStart < outEnd ? outEnd : outStart;
    return Clamp(v, lo, hi);
}

// Engine value of a slot: its knob (0..1) plus a modulation offset, mapped and clamped.
SYNTH_INLINE float modulatedParam(const float *knob, int slot, float offset)
{
    return remapClamped(knob[slot] + offset, 0.0f, 1.0f, ParamRangeTable[slot].start, ParamRangeTable[slot].end);
}
