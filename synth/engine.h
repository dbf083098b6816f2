// engine: where the callback shell, the voices and the fast path meet (inside synth/ only).
#pragma once
#include "synth/blocks.h"

// Puts every voice back to silence, holding no note.
void resetVoices();

// What one buffer's frames need besides the voices: the knobs and the routes.
struct FrameSetup {
    const float *knob;                   // knob values 0..1 by ParamSlot
    float *param;                        // engine values by ParamSlot; modulated slots change every frame
    ParamSlot lfoTargets[MOD_INPUT_COUNT], envTargets[MOD_INPUT_COUNT];   // slots each source moves
    int lfoCount, envCount;
    bool oscSteady;   // no LFO on tune, shape or fold: folded samples repeat and are worth keeping
};

// Forgets every cache and recording and silences the eight filters.
void resetFastPath();
// Lane j after a note-on: forgets what its filter played, and for a fresh note silences the filter.
void restartLane(int j, VoiceRestart how);
// Fills out with frames of the mixed, clamped voices, advancing the voices, their filters and the LFO.
void renderVoices(float *out, unsigned frames, Voice *voices, Lfo &lfo, FrameSetup &setup);
