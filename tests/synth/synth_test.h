// Helpers shared by the engine tests: default knobs, knob turns, cables and random playing.
#pragma once
#include <random>
#include "panel/panel.h"
#include "synth/blocks.h"

inline void setKnob(int id, float v) { controlTable()[id].value = v, snapshotParams(); }

inline void route(int slot, int from, int to) { cableTable()[slot] = Cable{true, from, to, {}, {}, {}}, snapshotParams(); }

// Every knob at its default, silent voices, LFO at phase 0, knobs taken by a 0-frame call.
inline void startEngine()
{
    resetPanel();
    for (int id = 1; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    snapshotParams(), resetSynth(), *synthLfo() = {}, audioCallback(nullptr, 0);
}

// One random change at time t: a knob (to an end, or NaN, which plays as 0), a cable (from either
// source, or from a control that is no source), a note on or off (velocity 0 too), or all notes off.
inline void randomChange(std::mt19937 &rng, int t, int lowNote, int highNote)
{
    static const int sources[4] = {CONTROL_NONE, JACK_LFO_OUT, JACK_ENV_OUT, KNOB_LFO_DEPTH};
    int what = (int)(rng() % 10), note = lowNote + (int)(rng() % (unsigned)(highNote - lowNote + 1)), slot = (int)(rng() % 5);
    if (rng() % 50 == 0) t = -t;   // the odd timestamp from another clock
    int knob = KNOB_TUNE + (int)(rng() % 13);
    if (what < 3) controlTable()[knob > KNOB_ENV_AMOUNT ? KNOB_GAIN : knob].value = rng() % 5 == 0 ? (rng() % 8 ? (float)(rng() % 2) : NAN) : (float)(rng() % 1001) / 1000.0f;
    else if (what == 3) route(slot, sources[rng() % 4], JACK_FOLD_IN + slot), cableTable()[slot].inUse = rng() % 3 != 0;
    else if (what < 7 && rng() % 6 != 0) noteOn(note, 1 + (int)(rng() % 128), t);
    else if (what < 9) noteOff(note, t);
    else if (rng() % 4 == 0) allNotesOff(t);
    snapshotParams();
}
