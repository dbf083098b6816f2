// ui: the mouse on the synth face. Picking against the 3D scene, and the
// per-frame input state machine (knob drags, cable pulls, keys, icons, help).
#pragma once
#include "panel/panel.h"

enum { ICON_SIZE = 32 };

// What the mouse is doing to the face; read by drawing.
struct InputState {
    int draggedKnob;      // knob being turned, -1 when none
    int draggedJack;      // jack a cable is being pulled from, -1 when none
    int heldKey;          // key held with the mouse, -1 when none
    bool helpMode;        // the help overlay is shown
    int savedPointer[2];  // pointer position where the knob drag began
    Cable dragCable;      // the cable following the pointer while pulling
};

// Returns the single input state.
InputState *inputState();
// Returns the id of the control under the mouse pointer, or -1.
int pickControl();
// Reads the mouse and runs one frame of the input state machine.
void handleInput();
