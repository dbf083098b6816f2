// panel: the synthesizer's face as data. The control, panel and help tables,
// the patch cables, the face geometry the layout computes once, and the
// per-frame snapshot of knob values and cable routes for the audio thread.
#pragma once
#include <cstdint>
#include "raylib.h"

enum class ControlKind : int32_t { None = 0, Knob = 1, Jack = 2, Key = 3 };

enum { CONTROL_COUNT = 46, PANEL_COUNT = 7, CABLE_SLOTS = 10 };

// Control ids: each control's row in the control table, from the mouse to the sound.
enum ControlId : int32_t {
    CONTROL_NONE = 0,  // the empty row 0: "nothing under the mouse"
    CONTROL_FIRST = 1,
    KNOB_TUNE = 1, KNOB_SHAPE = 2, KNOB_FOLD = 3, KNOB_CUTOFF = 4, KNOB_RESONANCE = 5,
    KNOB_LFO_RATE = 6, KNOB_LFO_DEPTH = 7,
    KNOB_ATTACK = 8, KNOB_DECAY = 9, KNOB_SUSTAIN = 10, KNOB_RELEASE = 11, KNOB_ENV_AMOUNT = 12,
    JACK_LFO_OUT = 13,
    JACK_FOLD_IN = 14, JACK_SHAPE_IN = 15, JACK_TUNE_IN = 16, JACK_CUTOFF_IN = 17, JACK_RES_IN = 18,
    JACK_ENV_OUT = 19,
    KNOB_GAIN = 20,
    KEY_FIRST = 21, KEY_LAST = 45,  // two octaves and a note, C4 (60) to C6 (84)
};

// A jack's direction, kept in its row's variant.
enum JackDirection : int32_t { JACK_OUTPUT = 0, JACK_INPUT = 1 };

// One row of the control table.
struct Control {
    char name[12];        // label text, may be empty
    ControlKind kind;
    int32_t variant;      // knob/key: ModelId; jack: JackDirection
    int32_t panel;        // index into panelTable
    Vector3 position;     // panel-relative x/z until the layout runs, then world
    float defaultValue;   // knob default, key note number, 0 for jacks
    BoundingBox bounds;   // world hit box, set by the layout
    Vector2 labelPos;     // screen top-left of the label, set by the layout
    float value;          // knob setting 0..1, key note, jack 0
};

// One module panel on the face.
struct Panel {
    char name[16];
    Vector3 position;
    Vector3 size;
    float hsv[3];
    Vector2 labelPos;
};

// A help box: a title and a body with embedded line breaks.
struct HelpEntry {
    char title[30];
    char text[256];
};

// One patch cable, always stored output first.
struct Cable {
    bool inUse;
    int32_t from;
    int32_t to;
    Vector3 fromPos;
    Vector3 toPos;
    Vector2 spline[4];
};

// The engine's parameter slots, in the order of the knob block SynthParams.
enum ParamSlot : int32_t {
    PARAM_TUNE, PARAM_SHAPE, PARAM_FOLD, PARAM_CUTOFF, PARAM_RESONANCE, PARAM_LFO_DEPTH, PARAM_LFO_RATE,
    PARAM_ATTACK, PARAM_DECAY, PARAM_SUSTAIN, PARAM_RELEASE, PARAM_ENV_AMOUNT, PARAM_GAIN, PARAM_COUNT
};

// The thirteen knob settings the engine reads, in ParamSlot order.
struct SynthParams {
    float tune, shape, fold, cutoff, resonance, lfoDepth, lfoRate;
    float attack, decay, sustain, release, envAmount, gain;
};

// For each modulation input, the output jack patched into it (0 when none).
struct ModRouting {
    int32_t foldSource, shapeSource, tuneSource, cutoffSource, resonanceSource;
};

extern Panel panelTable[PANEL_COUNT];
extern const HelpEntry controlHelp[CONTROL_COUNT];
extern const HelpEntry kindHelp[4];

// Face geometry computed once by the scene layout and read by drawing and picking.
extern Camera3D sceneCamera;
extern Vector3 faceplateCenter, faceplateSize;
extern bool smallLayout;
extern Vector2 helpIconPos, midiIconPos, logoPos;

// Returns the 46 rows of the control table, indexed by control id.
Control *controlTable();
// Returns the 10 cable slots.
Cable *cableTable();
// Returns the number of cable slots (10).
int cableCapacity();
// Returns the main thread's latest knob settings (the block snapshotParams fills).
SynthParams *synthParams();
// Returns the main thread's latest routing (the block snapshotParams fills).
ModRouting *modRouting();
// Copies knob values and cable routes into the blocks and publishes them whole.
void snapshotParams();
// Audio thread: copies the newest published snapshot; never blocks, never allocates.
void readParams(SynthParams *params, ModRouting *routing);
// Restores every table to its compiled-in state (tests and tools only).
void resetPanel();
