// ui: the mouse and the computer keyboard on the synth face. Picking against
// the 3D scene, the per-frame mouse state machine (knob drags, cable pulls,
// keys, icons, help), and the letter keys that play the face's keys beside it.
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

// One step of mouse readings: a button event, or the movement since the last step.
struct MouseFrame {
    Vector2 delta;        // pointer movement since the last step
    Vector2 position;     // pointer position in window pixels
    bool leftPressed;     // left button went down
    bool rightPressed;    // right button went down
    bool leftReleased;    // left button went up
};

// What one frame of input reaches out to: handleInput passes the real picking,
// raylib's cursor calls and the MIDI device switch; tests may pass their own.
struct InputHooks {
    int (*pick)(Vector2 position);     // control under a screen point, or -1
    void (*hideCursor)();              // hide the pointer and free its motion
    void (*showCursor)(int x, int y);  // show the pointer again, placed at (x, y)
    void (*nextDevice)();              // switch to the next MIDI input device
};

// Returns the single input state.
InputState *inputState();
// Returns the input state to idle: nothing held or dragged, help mode off.
void resetInput();

// ---- picking ----
// Returns the id of the control under the mouse pointer, or -1.
int pickControl();
// Returns the id of the control under a screen point, or -1.
int pickControlAt(Vector2 screen);
// Returns where the ray through a screen point meets the table, or the origin.
Vector3 pickTablePoint(Vector2 screen);
// Projects a cable's two ends to the screen and stores its four curve points.
void updateCableSpline(Cable &cable);

// ---- input ----
// Starts keeping every mouse button event the window reports (needs the window).
void startInputEvents();
// True when a button event waits or the pointer moved since the last handleInput.
bool inputPending();
// Runs the input state machine on every button event since the last call, in
// order, then on the pointer's latest movement.
void handleInput();
// Runs one step of the input state machine on given readings and hooks.
void stepInput(const MouseFrame &frame, const InputHooks &hooks);
// Makes a cable between two jacks if the patching rules allow it.
void connectJacks(int a, int b);
// Removes every cable at a jack.
void disconnectJack(int j);

// ---- the computer keyboard ----
// The face key a computer key plays (a GLFW key code, by its place on a US layout), or -1.
int keyboardKeyFor(int glfwKey);
// Presses or lets go of a face key from the computer keyboard; a key already
// down (the window system's repeat) or already up changes nothing.
void keyboardKey(int id, bool down);
// Lets go of every face key the computer keyboard holds (the window is closing).
void releaseKeyboard();
// Whether a face key shows held: by the mouse, the computer keyboard or both.
bool keyHeld(int id);
