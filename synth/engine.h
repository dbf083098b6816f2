// engine: where the callback shell, the voices and the fast path meet (inside synth/ only).
#pragma once
#include <atomic>
#include "synth/blocks.h"
#include "synth/replay.h"

enum { OSC_TABLE = 8192 };   // longest period: note -1 (7.7 Hz), 5714 samples

// One phase position of an oscillator table: the sine and the folded sample,
// each valid when its stamp equals the table's generation (so a change of key
// invalidates a table in one step), side by side so a lookup touches one cache line.
struct OscEntry {
    uint32_t sineStamp;
    float sine;
    uint32_t foldedStamp;
    float folded;
};

// Everything the fast path keeps for one voice besides its filter lane. The
// eight lanes' keys and counters sit together in a few cache lines; the big
// tables they point to are apart.
struct Lane {
    bool filterValid;            // the lane's coefficients are those of cutKey, resKey
    uint32_t cutKey, resKey;
    bool periodValid;            // period is that of periodKey
    uint32_t periodKey;
    double period;
    uint32_t sineKey;            // the frequency the sines are of
    uint32_t foldKey[3];         // frequency, shape and fold the folded samples are of
    uint32_t sineGen, foldedGen;
    Recording rec;
    OscEntry *osc;               // OSC_TABLE entries, indexed by the phase counter
};
// The big tables of one lane: its oscillator table and its recorded period.
struct LaneTables {
    OscEntry osc[OSC_TABLE];
    Tape tape;
};

// The last filter coefficients computed, shared by all lanes: LFO-driven cutoffs repeat across voices.
struct SharedCoefficients {
    bool valid;
    uint32_t cutKey, resKey;
    float f, k, p, r;
};

// Everything the fast path keeps between buffers: the eight filters (lane j
// for voice j), the lanes' caches and recordings, and their tables.
struct FastPath {
    FilterBank bank;
    Lane lanes[LANES];
    SharedCoefficients lastCoefficients;
    LaneTables tables[LANES];
};

// One whole engine: its voices, LFO, knob copy, scope ring and fast path.
// Nothing outside it carries sound from one buffer to the next.
struct SynthState {
    Voice voices[VOICE_COUNT];
    Lfo lfo;
    float knob[PARAM_COUNT];   // the last buffer's knob values, 0..1 by slot
    std::atomic<float> scopeRing[SCOPE_SIZE];
    std::atomic<int> scopeIndex;
    FastPath fast;
};

// Puts every voice back to silence, holding no note.
void resetVoices(Voice *voices);

// What one buffer's frames need besides the voices: the knobs and the routes.
struct FrameSetup {
    const float *knob;                   // knob values 0..1 by ParamSlot
    float *param;                        // engine values by ParamSlot; modulated slots change every frame
    ParamSlot lfoTargets[MOD_INPUT_COUNT], envTargets[MOD_INPUT_COUNT];   // slots each source moves
    int lfoCount, envCount;
    bool oscSteady;   // no LFO on tune, shape or fold: folded samples repeat and are worth keeping
};

// Forgets every cache and recording and silences the eight filters.
void resetFastPath(FastPath &fp);
// Lane j after a note-on: forgets what its filter played, and for a fresh note silences the filter.
void restartLane(FastPath &fp, int j, VoiceRestart how);
// Fills out with frames of the mixed, clamped voices, advancing the voices, their filters and the LFO.
void renderVoices(SynthState &s, float *out, unsigned frames, FrameSetup &setup);

// The live program's engine, the one the global functions of synth.h play.
SynthState &liveSynth();
