// Mouse input: the per-frame state machine that turns knobs, pulls cables,
// plays keys and clicks the icons, plus the two patching operations; and the
// computer keyboard, which plays the face's keys beside the mouse.
#include "ui/ui.h"
#include "midi/midi.h"
#include "raymath.h"
#include <GLFW/glfw3.h>

static const float KNOB_PER_PIXEL = 0.002f;
static const Vector3 PULL_LIFT = {0.0f, 0.8f, 0.0f};
enum { NOTE_ON = 0x90, NOTE_OFF = 0x80, MOUSE_VELOCITY = 128 };

static InputState state = {-1, -1, -1, false, {0, 0}, {}};
static bool keyboardHeld[CONTROL_COUNT];  // face keys held down on the computer keyboard

InputState *inputState() { return &state; }

void resetInput()
{
    state = InputState{-1, -1, -1, false, {0, 0}, {}};
    for (bool &held : keyboardHeld) held = false;
}

static bool isKind(int id, ControlKind kind)
{
    return id > CONTROL_NONE && id < CONTROL_COUNT && controlTable()[id].kind == kind;
}

// The note a key plays: its value, truncated.
static int keyNote(int id) { return (int)controlTable()[id].value; }

// The engine holds a note for as long as its timestamps say. A press and its
// release read together (a tap quicker than the clock's millisecond) count as
// one millisecond long, so the tap still sounds.
static int noteOnTime = 0;

// A key held by both the mouse and the computer keyboard sounds once: the
// first of them to press it starts the note, the last to let go ends it.
static bool heldElsewhere(int key, bool byMouse) { return byMouse ? keyboardHeld[key] : state.heldKey == key; }

static void postNoteOn(int key, bool byMouse = true)
{
    if (heldElsewhere(key, byMouse)) return;
    noteOnTime = midiNow();
    midiPostEvent(noteOnTime, NOTE_ON, keyNote(key), MOUSE_VELOCITY);
}

static void postNoteOff(int key, bool byMouse = true)
{
    if (heldElsewhere(key, byMouse)) return;
    int now = midiNow();
    midiPostEvent(now > noteOnTime ? now : noteOnTime + 1, NOTE_OFF, keyNote(key), 0);
}

static bool inIcon(Vector2 p, Vector2 icon)
{
    return p.x >= icon.x && p.x < icon.x + (float)ICON_SIZE && p.y >= icon.y && p.y < icon.y + (float)ICON_SIZE;
}

void connectJacks(int a, int b)
{
    if (!isKind(a, ControlKind::Jack) || !isKind(b, ControlKind::Jack)) return;
    Control *controls = controlTable();
    // A cable joins an output to an input, and is kept output first.
    if (controls[a].variant == controls[b].variant) return;
    if (controls[a].variant == JACK_INPUT) {
        int t = a;
        a = b;
        b = t;
    }
    Cable *cables = cableTable();
    int n = cableCapacity();
    // An input takes one cable; this also turns away a repeated pair.
    for (int i = 0; i < n; i++)
        if (cables[i].inUse && cables[i].to == b) return;
    for (int i = 0; i < n; i++) {
        if (cables[i].inUse) continue;
        Cable &c = cables[i];
        c.inUse = true;
        c.from = a;
        c.to = b;
        c.fromPos = controls[a].position;
        c.toPos = controls[b].position;
        updateCableSpline(c);
        return;
    }
}

void disconnectJack(int j)
{
    if (!isKind(j, ControlKind::Jack)) return;
    Cable *cables = cableTable();
    int n = cableCapacity();
    for (int i = 0; i < n; i++)
        if (cables[i].inUse && (cables[i].from == j || cables[i].to == j)) cables[i].inUse = false;
}

// The drag, pull or held key that carries on from earlier frames.
static void continueAction(const MouseFrame &f, const InputHooks &hooks)
{
    Control *controls = controlTable();
    if (state.draggedKnob != -1) {
        // Screen y grows downwards, so moving up turns the knob up.
        Control &k = controls[state.draggedKnob];
        k.value -= KNOB_PER_PIXEL * f.delta.y;
        if (k.value > 1.0f) k.value = 1.0f;
        if (k.value < 0.0f) k.value = 0.0f;
    } else if (state.draggedJack != -1) {
        state.dragCable.toPos = Vector3Add(pickTablePoint(f.position), PULL_LIFT);
        updateCableSpline(state.dragCable);
    } else if (state.heldKey != -1) {
        // Gliding onto another key moves the note; anywhere else it keeps sounding.
        int hit = hooks.pick(f.position);
        if (isKind(hit, ControlKind::Key) && hit != state.heldKey) {
            postNoteOff(state.heldKey);
            state.heldKey = hit;
            postNoteOn(hit);
        }
    }
}

static void leftPress(const MouseFrame &f, const InputHooks &hooks)
{
    state.draggedKnob = state.draggedJack = state.heldKey = -1;
    state.helpMode = false;
    int hit = hooks.pick(f.position);
    if (isKind(hit, ControlKind::Knob)) {
        state.draggedKnob = hit;
        state.savedPointer[0] = (int)f.position.x;
        state.savedPointer[1] = (int)f.position.y;
        hooks.hideCursor();
    } else if (isKind(hit, ControlKind::Jack)) {
        state.draggedJack = hit;
        state.dragCable.fromPos = Vector3Add(controlTable()[hit].position, PULL_LIFT);
        state.dragCable.toPos = state.dragCable.fromPos;
        updateCableSpline(state.dragCable);
    } else if (isKind(hit, ControlKind::Key)) {
        state.heldKey = hit;
        postNoteOn(hit);
    } else if (hit == -1) {
        // The icons answer only where no control is.
        if (inIcon(f.position, midiIconPos)) hooks.nextDevice();
        else if (inIcon(f.position, helpIconPos)) state.helpMode = true;
    }
}

static void rightPress(const MouseFrame &f, const InputHooks &hooks)
{
    state.helpMode = false;
    if (state.draggedKnob != -1 || state.draggedJack != -1 || state.heldKey != -1) return;
    int hit = hooks.pick(f.position);
    if (isKind(hit, ControlKind::Jack)) disconnectJack(hit);
    else if (isKind(hit, ControlKind::Knob)) controlTable()[hit].value = controlTable()[hit].defaultValue;
}

static void leftRelease(const MouseFrame &f, const InputHooks &hooks)
{
    if (state.draggedKnob != -1) {
        state.draggedKnob = -1;
        hooks.showCursor(state.savedPointer[0], state.savedPointer[1]);
    } else if (state.draggedJack != -1) {
        int hit = hooks.pick(f.position);
        if (hit != -1) connectJacks(state.draggedJack, hit);
        state.draggedJack = -1;
    } else if (state.heldKey != -1) {
        postNoteOff(state.heldKey);
        state.heldKey = -1;
    }
}

void stepInput(const MouseFrame &frame, const InputHooks &hooks)
{
    continueAction(frame, hooks);
    if (frame.leftPressed) leftPress(frame, hooks);
    if (frame.rightPressed) rightPress(frame, hooks);
    if (frame.leftReleased) leftRelease(frame, hooks);
}

// Two letter rows laid out like a piano, by key position (GLFW's key codes name
// places on a US layout): the bottom row from Z plays middle C to B with the
// black keys on the row above it, the top row from Q the next octave and its
// C with the black keys on the digits.
static const int keyboardRows[KEY_LAST - KEY_FIRST + 1] = {
    GLFW_KEY_Z, GLFW_KEY_S, GLFW_KEY_X, GLFW_KEY_D, GLFW_KEY_C, GLFW_KEY_V, GLFW_KEY_G, GLFW_KEY_B, GLFW_KEY_H,
    GLFW_KEY_N, GLFW_KEY_J, GLFW_KEY_M, GLFW_KEY_Q, GLFW_KEY_2, GLFW_KEY_W, GLFW_KEY_3, GLFW_KEY_E, GLFW_KEY_R,
    GLFW_KEY_5, GLFW_KEY_T, GLFW_KEY_6, GLFW_KEY_Y, GLFW_KEY_7, GLFW_KEY_U, GLFW_KEY_I,
};

int keyboardKeyFor(int glfwKey)
{
    for (int i = 0; i <= KEY_LAST - KEY_FIRST; i++)
        if (keyboardRows[i] == glfwKey) return KEY_FIRST + i;
    return -1;
}

void keyboardKey(int id, bool down)
{
    if (!isKind(id, ControlKind::Key) || keyboardHeld[id] == down) return;
    if (down) {
        postNoteOn(id, false);
        keyboardHeld[id] = true;
    } else {
        keyboardHeld[id] = false;
        postNoteOff(id, false);
    }
}

void releaseKeyboard()
{
    for (int id = KEY_FIRST; id <= KEY_LAST; id++) keyboardKey(id, false);
}

bool keyHeld(int id) { return id > 0 && id < CONTROL_COUNT && (state.heldKey == id || keyboardHeld[id]); }

static void showCursorAt(int x, int y)
{
    EnableCursor();
    SetMousePosition(x, y);
}

// Button and computer-key presses and releases in the order the window system
// reported them, each with where the pointer was and how far it had moved
// since the last handleInput. raylib keeps only each button's latest state, so
// a click that both starts and ends between two reads would otherwise be lost.
enum { FROM_KEYBOARD = -1 };  // the button of a computer key's event
struct ButtonEvent {
    int button;       // raylib's mouse button, or FROM_KEYBOARD
    int key;          // the face key a computer key plays, when FROM_KEYBOARD
    bool down;        // pressed, else released
    Vector2 position; // pointer position at the event
    Vector2 motion;   // pointer movement from the last handleInput up to the event
};
enum { BUTTON_QUEUE_SIZE = 64 };
static ButtonEvent buttonQueue[BUTTON_QUEUE_SIZE];
static int buttonCount = 0;
static Vector2 lastPosition = {0, 0};  // pointer position after the last handleInput
static GLFWmousebuttonfun raylibButtonCallback = nullptr;
static GLFWkeyfun raylibKeyCallback = nullptr;

static void queueEvent(int button, int key, bool down)
{
    // A burst beyond the queue keeps its first events; the rest would be noise.
    if (buttonCount == BUTTON_QUEUE_SIZE) return;
    Vector2 at = GetMousePosition();
    buttonQueue[buttonCount++] = ButtonEvent{button, key, down, at, Vector2Subtract(at, lastPosition)};
}

static void queueButton(GLFWwindow *window, int button, int action, int mods)
{
    if (raylibButtonCallback) raylibButtonCallback(window, button, action, mods);
    if (action != GLFW_PRESS && action != GLFW_RELEASE) return;
    queueEvent(button, -1, action == GLFW_PRESS);
}

// When the window loses the keyboard focus, GLFW itself reports every key
// still down as released, so a key let go in another window does not stick.
static void queueKey(GLFWwindow *window, int key, int scancode, int action, int mods)
{
    if (raylibKeyCallback) raylibKeyCallback(window, key, scancode, action, mods);
    // The window system's key repeat (GLFW_REPEAT) plays nothing.
    int id = keyboardKeyFor(key);
    if (id < 0 || (action != GLFW_PRESS && action != GLFW_RELEASE)) return;
    queueEvent(FROM_KEYBOARD, id, action == GLFW_PRESS);
}

void startInputEvents()
{
    GLFWwindow *window = glfwGetCurrentContext();  // raylib's window: its context is current
    raylibButtonCallback = glfwSetMouseButtonCallback(window, queueButton);
    raylibKeyCallback = glfwSetKeyCallback(window, queueKey);
    buttonCount = 0;
    lastPosition = GetMousePosition();
}

bool inputPending()
{
    Vector2 at = GetMousePosition();
    return buttonCount > 0 || at.x != lastPosition.x || at.y != lastPosition.y;
}

void handleInput()
{
    static const InputHooks raylibHooks = {pickControlAt, DisableCursor, showCursorAt, midiNextDevice};
    // Each button event is a step of its own, with the movement that came
    // before it; the movement after the last one is a final step.
    Vector2 at = GetMousePosition(), used = {0, 0};
    for (int i = 0; i < buttonCount; i++) {
        const ButtonEvent &e = buttonQueue[i];
        if (e.button == FROM_KEYBOARD) {
            keyboardKey(e.key, e.down);
            continue;
        }
        MouseFrame frame = {Vector2Subtract(e.motion, used), e.position, false, false, false};
        frame.leftPressed = e.button == MOUSE_BUTTON_LEFT && e.down;
        frame.rightPressed = e.button == MOUSE_BUTTON_RIGHT && e.down;
        frame.leftReleased = e.button == MOUSE_BUTTON_LEFT && !e.down;
        used = e.motion;
        stepInput(frame, raylibHooks);
    }
    MouseFrame rest = {Vector2Subtract(Vector2Subtract(at, lastPosition), used), at, false, false, false};
    buttonCount = 0;
    stepInput(rest, raylibHooks);
    // Hiding or showing the pointer places it anew; movement counts from there.
    lastPosition = GetMousePosition();
}
