// A plain reference engine: the same maths as the synth callback, every step
// evaluated on every frame, nothing cached, no vector lanes, no denormal flush.
// The reference test compares the real callback with it sample for sample, and
// the benchmark times it as the baseline.
#pragma once
#include <cmath>
#include <cstring>
#include "panel/panel.h"
#include "raymath.h"
#include "synth/synth.h"

namespace ref {

// Everything here is inline so the test and the benchmark can both include it.


inline Voice voices[VOICE_COUNT];
inline Lfo lfo;
inline SynthParams knobs;
inline ModRouting routing;

inline float clampU(float x) { return x >= 1.0f ? 1.0f : (x <= -1.0f ? -1.0f : x); }

inline float remapC(float x, float inStart, float inEnd, float outStart, float outEnd)
{
    float v = outStart + (outEnd - outStart) * (x - inStart) / (inEnd - inStart);
    return Clamp(v, outStart < outEnd ? outStart : outEnd, outStart < outEnd ? outEnd : outStart);
}

inline float modP(int i, float offset)
{
    static const float lo[13] = {-1, 0, 1.01f, 400, 0, 0, 0.0441f, 0.004f, 0.004f, 0, 0.1f, -1, 0};
    static const float hi[13] = {1, 1, 0.001f, 15400, 1, 1, 8.82f, 2, 2, 1, 4, 1, 1};
    return remapC((&knobs.tune)[i] + offset, 0, 1, lo[i], hi[i]);
}

inline float freqOf(int note) { return powf(2.0f, (float)(note - 69) / 12.0f) * 440.0f; }

inline void reset()
{
    std::memset(voices, 0, sizeof voices);
    for (Voice &v : voices) v.note = -1;
    lfo = {};
}

inline void on(int note, int velocity, int time)
{
    int chosen = -1, free = -1;
    for (int j = 0; j < 8; j++) {
        if (!voices[j].active) free = j;
        if (voices[j].note == note) {
            chosen = j;
            break;
        }
    }
    bool fresh = chosen < 0;
    if (fresh) chosen = free;
    if (chosen < 0) {
        for (int j = 0; j < 8; j++)
            if (!voices[j].gate && (chosen < 0 || (uint32_t)voices[j].envelope.onTime < (uint32_t)voices[chosen].envelope.onTime)) chosen = j;
        if (chosen < 0)
            for (int j = 0; j < 8; j++)
                if (chosen < 0 || (uint32_t)voices[j].envelope.onTime < (uint32_t)voices[chosen].envelope.onTime) chosen = j;
    }
    Voice &v = voices[chosen];
    v.gate = v.active = true;
    v.velocity = velocity;
    if (fresh) {
        v.phase = 0;
        v.note = note;
        v.freq = freqOf(note);
        v.freqBelow = freqOf(note - 1);
        v.freqAbove = freqOf(note + 1);
        v.filter = {};
        v.envelope.level = v.envelope.output = 0;
    }
    v.envelope.stage = 0;
    v.envelope.attackCount = 0;
    v.envelope.onTime = time;
    v.envelope.offTime = -1;
}

inline void off(int note, int time)
{
    for (Voice &v : voices)
        if (v.note == note) v.envelope.offTime = time, v.gate = false;
}

inline void allOff(int time)
{
    for (Voice &v : voices) v.envelope.offTime = time, v.gate = false;
}

inline float curve(float x)
{
    if (x >= 1) return 1;
    if (x <= 0) return 0;
    return Clamp(1.0f + 0.41666666f * logf(x), 0, 1);
}

inline bool envTick(Envelope &e, bool gate, float a, float d, float s, float r)
{
    const float step = 2.2675737e-05f;
    if (e.stage == 0) {
        e.level += (1.0f / a) * step;
        e.output = curve(e.level);
        if (e.level >= 1) e.level = 1, e.stage = 1;
        e.attackCount += 1;
        if (!gate && (float)e.attackCount / 44100.0f * 1000.0f > (float)(uint32_t)((uint32_t)e.offTime - (uint32_t)e.onTime)) e.stage = 3;
        return true;
    }
    if (e.stage == 1) {
        e.level -= ((1.0f - s) / d) * step;
        e.output = curve(e.level);
        if (s >= e.level) e.level = s, e.output = curve(s), e.stage = 2;
        if (!gate) e.stage = 3;
        return true;
    }
    if (e.stage == 2) {
        e.level = s;
        e.output = curve(s);
        if (!gate) e.stage = 3;
        return true;
    }
    e.level -= (1.0f / r) * step;
    e.output = curve(e.level);
    if (e.level <= 0) {
        e.level = 0;
        return false;
    }
    return true;
}

inline float oscillator(float n, float freq, float shape)
{
    float ph = n * freq / 44100.0f;
    float s = (float)std::sin(((double)n * 6.2831853) * (double)freq / 44100.0);
    float tri = ph <= 0.25f ? Remap(ph, 0, 0.25f, 0, 1) : ph <= 0.75f ? Remap(ph, 0.25f, 0.75f, 1, -1) : Remap(ph, 0.75f, 1, -1, 0);
    float w = (float)(2.0 * (double)(1.0f - ph) - 1.0);
    float out = tri * (2 * shape) + s * (1 - 2 * shape);
    if (shape > 0.5f) out = w * ((shape - 0.5f) * 2) + tri * (1 - (shape - 0.5f) * 2);
    return out;
}

inline float fold(float x, float b) { return std::fabs(std::fabs(fmodf(x - b, 4 * b)) - 2 * b) - b; }

inline float filter(LadderFilter &q, float cutoff, float res, float in)
{
    q.f = (cutoff + cutoff) / 44100.0f;
    q.k = 3.6f * q.f - 1.6f * q.f * q.f - 1.0f;
    q.p = 0.5f * (q.k + 1.0f);
    q.r = 1.3862489f * res * expf(1.0f - q.p);
    float x = in - q.r * q.y4;
    q.y1 = (q.p * q.x1 + q.p * x) - q.k * q.y1;
    q.y2 = (q.p * q.y1old + q.p * q.y1) - q.k * q.y2;
    q.y3 = (q.p * q.y2old + q.p * q.y2) - q.k * q.y3;
    q.y4 = (q.p * q.y3old + q.p * q.y3) - q.k * q.y4;
    double y = q.y4;
    q.y4 = (float)(y - y * y * y / 6.0);
    q.x1 = clampU(x);
    q.y1old = clampU(q.y1);
    q.y2old = clampU(q.y2);
    q.y3old = clampU(q.y3);
    if (!std::isfinite(q.y4)) q.y1 = q.y2 = q.y3 = q.y4 = q.x1 = q.y1old = q.y2old = q.y3old = 0;
    return q.y4;
}

inline void callback(float *out, unsigned frames)
{
    readParams(&knobs, &routing);
    for (int k = 0; k < 13; k++)
        if (std::isnan((&knobs.tune)[k])) (&knobs.tune)[k] = 0;
    float P[13];
    for (int k = 0; k < 13; k++) P[k] = modP(k, 0);
    if (!(P[6] == lfo.rate)) {
        lfo.rate = P[6];
        lfo.counter = (uint64_t)std::trunc(lfo.phase / 6.2831853 * 44100.0 / (double)P[6]);
    }
    static const int target[5] = {2, 1, 0, 3, 4};
    const int32_t *src = &routing.foldSource;
    for (unsigned i = 0; i < frames; i++) {
        double n = (double)lfo.counter;
        lfo.phase = (double)lfo.rate * (6.2831853 * n) / 44100.0;
        float l = (float)std::sin((n * 6.2831853) * (double)lfo.rate / 44100.0) * P[5];
        lfo.counter++;
        for (int m = 0; m < 5; m++)
            if (src[m] == 13) P[target[m]] = modP(target[m], l);
        float sum = 0;
        for (Voice &v : voices) {
            if (!v.active) continue;
            v.active = envTick(v.envelope, v.gate, P[7], P[8], P[9], P[10]);
            for (int m = 0; m < 5; m++)
                if (src[m] == 19) P[target[m]] = modP(target[m], v.envelope.level * P[11]);
            float freq = v.freq;
            if (P[0] > 0) freq = remapC(P[0], 0, 1, v.freq, v.freqAbove);
            if (P[0] < 0) freq = remapC(P[0], -1, 0, v.freqBelow, v.freq);
            float x = clampU(fold(oscillator((float)v.phase, freq, P[1]), P[2]));
            sum += filter(v.filter, P[3], P[4], x) * v.envelope.output * P[12];
            v.phase += 1;
            if (v.phase >= std::floor((double)(44100.0f / freq))) v.phase = 0;
        }
        out[i] = std::isnan(sum) ? 0.0f : clampU(sum);
    }
}

}  // namespace ref
