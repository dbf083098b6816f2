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

// ---- picking ----
// Returns the id of the control under the mouse pointer, or -1.
int pickControl();
// Returns where the ray through a screen point meets the table, or the origin.
Vector3 pickTablePoint(Vector2 screen);
// Projects a cable's two ends to the screen and stores its four curve points.
void updateCableSpline(Cable &cable);

// ---- input ----
// Reads the mouse and runs one frame of the input state machine.
void handleInput();
// Makes a cable between two jacks if the patching rules allow it.
void connectJacks(int a, int b);
// Removes every cable at a jack.
void disconnectJack(int j);
