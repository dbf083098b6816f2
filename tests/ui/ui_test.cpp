// The face laid out with the real models and font in a real window (on a
// private X server), picking with the real camera, and the mouse state
// machine driven frame by frame with scripted readings.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include <vector>
#include "tools/harness/desktop.h"
#include "scene/scene.h"
#include "ui/ui.h"
#include "midi/midi.h"
#include "raymath.h"
#include <GLFW/glfw3.h>

namespace {

struct WindowEnv : ::testing::Environment {
    desk::Display display;
    void SetUp() override
    {
        display = desk::startDisplay(1024, 1024);
        ASSERT_GE(display.number, 0) << "no X server";
        setenv("DISPLAY", display.name().c_str(), 1), setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        SetTraceLogLevel(LOG_WARNING), InitWindow(800, 800, "ui test");
        loadSceneAssets(), midiStart();
    }
    void TearDown() override { midiStop(), unloadSceneAssets(), CloseWindow(), desk::stopDisplay(display); }
};
const auto *windowEnv = ::testing::AddGlobalTestEnvironment(new WindowEnv);

void freshFace(int side = 800) { resetPanel(), resetInput(), layoutSceneSized(side, side); }
Vector2 screenOf(Vector3 world) { return GetWorldToScreen(world, sceneCamera); }

TEST(Layout, WindowAnchorsFollowTheWindowHeight)
{
    struct { int side; bool small; float iconY, logoX, logoY; } rows[] = {
        {600, true, 562, 82, 302}, {601, false, 563, 112, 410}, {800, false, 762, 112, 410}};
    for (auto r : rows) {
        freshFace(r.side);
        EXPECT_TRUE(smallLayout == r.small && helpIconPos.x == 8 && midiIconPos.x == 48 && helpIconPos.y == r.iconY && midiIconPos.y == r.iconY &&
                    logoPos.x == r.logoX && logoPos.y == r.logoY) << r.side;
    }
}

TEST(Picking, ControlsNearestBoxesAndTheTable)
{
    freshFace();
    Control *t = controlTable();
    for (int id = 1; id < CONTROL_COUNT; id++) {
        // The middle of the box, or for a key the front of its top, clear of the black keys.
        const BoundingBox &b = t[id].bounds;
        Vector3 p = Vector3Scale(Vector3Add(b.min, b.max), 0.5f);
        if (t[id].kind == ControlKind::Key) p = {p.x, b.max.y, b.max.z - 0.3f};
        EXPECT_EQ(pickControlAt(screenOf(p)), id) << t[id].name;
    }
    // The bare gain strip, the table beyond the face, the window's corner.
    for (Vector2 p : {screenOf({-7.5f, 0, 1}), screenOf({-11, 0, 0}), Vector2{3, 3}}) EXPECT_EQ(pickControlAt(p), -1);
    // A flat box under a tall one: the tall one is met first, whichever has the lower id.
    BoundingBox flat = {{-1, 0, -1}, {1, 0.2f, 1}}, tall = {{-0.5f, 0, -0.5f}, {0.5f, 3, 0.5f}};
    const struct { BoundingBox low, high; int want; } overlaps[] = {{flat, tall, 40}, {tall, flat, 2}, {tall, tall, 2}};  // a tie keeps the lower id
    for (auto o : overlaps) {
        t[2].bounds = o.low, t[40].bounds = o.high;
        EXPECT_EQ(pickControlAt(screenOf({0, 3, 0})), o.want);
    }
    EXPECT_LE(Vector3Distance(pickTablePoint(screenOf({2, 0, 1})), {2, 0, 1}), 1e-3f);
    EXPECT_EQ(Vector3Length(pickTablePoint({400, -20000})), 0) << "above the horizon";
}

int scriptedPick = -1, hides = 0, shows = 0, deviceSteps = 0, shownAt[2];
const InputHooks hooks = {[](Vector2) { return scriptedPick; }, [] { hides++; },
                          [](int x, int y) { shows++, shownAt[0] = x, shownAt[1] = y; }, [] { deviceSteps++; }};

void step(int pick, Vector2 pos, Vector2 delta, bool left, bool right, bool up)
{
    scriptedPick = pick, stepInput(MouseFrame{delta, pos, left, right, up}, hooks);
}
void press(int pick, Vector2 pos = {400, 400}) { step(pick, pos, {}, true, false, false); }
void release(int pick, Vector2 pos = {400, 400}) { step(pick, pos, {}, false, false, true); }
void rightClick(int pick) { step(pick, {400, 400}, {}, false, true, false); }
void hover(int pick, float dy = 0) { step(pick, {400, 400}, {0, dy}, false, false, false); }
void pull(int from, int to) { press(from), hover(-1), release(to); }

std::vector<int> drainNotes()  // status, note, velocity, ...
{
    std::vector<int> out;
    for (int ts, st, d1, d2; midiNextEvent(&ts, &st, &d1, &d2);) out.insert(out.end(), {st, d1, d2});
    return out;
}
int liveCables() { return (int)std::count_if(cableTable(), cableTable() + cableCapacity(), [](const Cable &c) { return c.inUse; }); }
bool cableIs(int slot, int from, int to) { return cableTable()[slot].inUse && cableTable()[slot].from == from && cableTable()[slot].to == to; }

struct InputMachine : ::testing::Test { void SetUp() override { freshFace(), hides = shows = deviceSteps = 0, drainNotes(); } };

TEST_F(InputMachine, KnobDragClampsWithoutStoringOvershoot)
{
    Control &cut = controlTable()[KNOB_CUTOFF];
    press(KNOB_CUTOFF, {123.7f, 456.2f}), hover(-1, -100), hover(-1, -149);
    EXPECT_LT(cut.value, 1.0f);
    hover(-1, -1);
    EXPECT_NEAR(cut.value, 1.0f, 1e-6f) << "250 pixels up from the middle";
    hover(-1, -400), hover(-1, 1);
    EXPECT_EQ(cut.value, 1.0f - 0.002f) << "the first pixel down turns it at once";
    release(-1, {700, 20}), rightClick(KNOB_CUTOFF);
    EXPECT_TRUE(hides == 1 && shows == 1 && shownAt[0] == 123 && shownAt[1] == 456) << "the pointer hid and comes back";
    EXPECT_EQ(cut.value, 0.5f) << "reset by a right click";
}

TEST_F(InputMachine, CableRules)
{
    const int LFO = JACK_LFO_OUT, ENV = JACK_ENV_OUT;
    // Its own jack, same direction, a knob, a key, empty space.
    for (auto [from, to] : {std::pair{LFO, LFO}, {LFO, ENV}, {JACK_FOLD_IN, JACK_SHAPE_IN}, {LFO, KNOB_CUTOFF}, {LFO, KEY_FIRST + 9}, {LFO, -1}})
        pull(from, to);
    EXPECT_EQ(liveCables(), 0);
    pull(JACK_FOLD_IN, LFO);  // from the input: stored output first
    EXPECT_TRUE(cableIs(0, LFO, JACK_FOLD_IN));
    pull(ENV, JACK_FOLD_IN), pull(LFO, JACK_FOLD_IN);  // the input is taken; the same pair again
    EXPECT_EQ(liveCables(), 1);
    for (int in = JACK_SHAPE_IN; in <= JACK_RES_IN; in++) pull(LFO, in);
    snapshotParams();
    const ModRouting &r = *modRouting();
    for (int src : {r.foldSource, r.shapeSource, r.tuneSource, r.cutoffSource, r.resonanceSource}) EXPECT_EQ(src, LFO);
    rightClick(JACK_TUNE_IN);  // only its cable; the lowest free slot is taken next
    EXPECT_EQ(liveCables(), 4);
    pull(JACK_TUNE_IN, ENV), rightClick(LFO);
    EXPECT_TRUE(cableIs(2, ENV, JACK_TUNE_IN));
    connectJacks(-1, JACK_FOLD_IN), connectJacks(LFO, CONTROL_COUNT), disconnectJack(-1), disconnectJack(CONTROL_COUNT);  // not jacks
    EXPECT_EQ(liveCables(), 1);
}

TEST_F(InputMachine, RightClickDuringAnyDragChangesOnlyHelpMode)
{
    pull(JACK_LFO_OUT, JACK_SHAPE_IN);
    for (int held : {(int)KNOB_CUTOFF, (int)JACK_LFO_OUT, KEY_FIRST + 9}) {
        press(held), hover(-1, -50);
        float turned = controlTable()[KNOB_CUTOFF].value;
        drainNotes();
        for (int at : {(int)KNOB_CUTOFF, (int)JACK_LFO_OUT, (int)JACK_SHAPE_IN}) rightClick(at);
        EXPECT_TRUE(controlTable()[KNOB_CUTOFF].value == turned && liveCables() == 1 && drainNotes().empty()) << held;
        EXPECT_EQ(std::max({inputState()->draggedKnob, inputState()->draggedJack, inputState()->heldKey}), held) << "still held";
        release(-1);
    }
    press(-1, {helpIconPos.x + 1, helpIconPos.y + 1});
    ASSERT_TRUE(inputState()->helpMode);
    rightClick(-1);
    EXPECT_FALSE(inputState()->helpMode);
}

TEST_F(InputMachine, KeysPostNotesAndGlide)
{
    const int A = KEY_FIRST + 9;
    press(A);
    for (int over : {A + 1, A + 2, -1, (int)KNOB_CUTOFF, A + 2}) hover(over);
    release(JACK_LFO_OUT);
    EXPECT_EQ(drainNotes(), (std::vector<int>{0x90, 69, 128, 0x80, 69, 0, 0x90, 70, 128, 0x80, 70, 0, 0x90, 71, 128, 0x80, 71, 0}));
    step(KEY_FIRST, {400, 400}, {}, true, false, true);
    EXPECT_EQ(drainNotes(), (std::vector<int>{0x90, 60, 128, 0x80, 60, 0}));
}

TEST_F(InputMachine, IconsAnswerOnlyWhereNoControlIs)
{
    Vector2 midi = {midiIconPos.x + 5, midiIconPos.y + 5}, help = helpIconPos;
    press(-1, midi), press(-1, help);
    EXPECT_TRUE(deviceSteps == 1 && inputState()->helpMode);
    // Just outside the squares, or with a control under the pointer: no answer.
    int answered = 0;
    for (auto [pick, at] : {std::pair{-1, Vector2{help.x + 32, help.y}}, {-1, {midi.x - 5, midi.y - 6}}, {5, help}, {5, midi}})
        press(pick, at), release(-1), answered += inputState()->helpMode;
    EXPECT_TRUE(answered == 0 && deviceSteps == 1) << answered << " " << deviceSteps;
}

}  // namespace

// ---- the computer keyboard beside the mouse ----

// The notes posted since the last call: +note for a note-on at 128, -note for a note-off at 0.
static std::vector<int> played()
{
    std::vector<int> events = drainNotes(), out;
    for (size_t i = 0; i + 2 < events.size(); i += 3)
        out.push_back(events[i] == 0x90 && events[i + 2] == 128 ? events[i + 1] : events[i] == 0x80 && events[i + 2] == 0 ? -events[i + 1] : 999);
    return out;
}

TEST_F(InputMachine, TwoLetterRowsPlayTheTwentyFiveKeysByPosition)
{
    const int rows[] = {GLFW_KEY_Z, GLFW_KEY_S, GLFW_KEY_X, GLFW_KEY_D, GLFW_KEY_C, GLFW_KEY_V, GLFW_KEY_G,
                        GLFW_KEY_B, GLFW_KEY_H, GLFW_KEY_N, GLFW_KEY_J, GLFW_KEY_M, GLFW_KEY_Q, GLFW_KEY_2,
                        GLFW_KEY_W, GLFW_KEY_3, GLFW_KEY_E, GLFW_KEY_R, GLFW_KEY_5, GLFW_KEY_T, GLFW_KEY_6,
                        GLFW_KEY_Y, GLFW_KEY_7, GLFW_KEY_U, GLFW_KEY_I};
    std::vector<int> want;
    for (int i = 0; i < 25; i++) {
        keyboardKey(keyboardKeyFor(rows[i]), true), keyboardKey(keyboardKeyFor(rows[i]), false);
        want.insert(want.end(), {60 + i, -(60 + i)});
    }
    EXPECT_EQ(played(), want);
    // The gaps in the rows, their neighbours, Escape and the mouse's keys play nothing.
    for (int other : {GLFW_KEY_A, GLFW_KEY_F, GLFW_KEY_K, GLFW_KEY_L, GLFW_KEY_1, GLFW_KEY_4, GLFW_KEY_8, GLFW_KEY_O,
                      GLFW_KEY_COMMA, GLFW_KEY_ESCAPE, GLFW_KEY_SPACE, GLFW_MOUSE_BUTTON_LEFT})
        EXPECT_EQ(keyboardKeyFor(other), -1) << other;
}

TEST_F(InputMachine, ComputerKeysHoldChordsAndIgnoreRepeats)
{
    const int C = KEY_FIRST, E = KEY_FIRST + 4, G = KEY_FIRST + 7;
    keyboardKey(C, true), keyboardKey(E, true), keyboardKey(E, true), keyboardKey(G, true), keyboardKey(KNOB_CUTOFF, true);
    EXPECT_EQ(played(), (std::vector<int>{60, 64, 67})) << "a second press of a held key is a repeat";
    EXPECT_TRUE(keyHeld(C) && keyHeld(E) && keyHeld(G) && !keyHeld(C + 1) && !keyHeld(KNOB_CUTOFF));
    keyboardKey(E, false), keyboardKey(E, false), keyboardKey(C + 1, false);
    EXPECT_EQ(played(), (std::vector<int>{-64}));
    // The window closing lets go of the rest, lowest first.
    releaseKeyboard(), releaseKeyboard();
    EXPECT_EQ(played(), (std::vector<int>{-60, -67}));
    EXPECT_FALSE(keyHeld(C) || keyHeld(G));
}

TEST_F(InputMachine, AKeyHeldByMouseAndKeyboardSoundsOnceUntilBothLetGo)
{
    const int A = KEY_FIRST + 9;
    press(A), keyboardKey(A, true), release(A);
    EXPECT_EQ(played(), (std::vector<int>{69})) << "the mouse lets go, the keyboard still holds";
    EXPECT_TRUE(keyHeld(A));
    keyboardKey(A, false);
    EXPECT_EQ(played(), (std::vector<int>{-69}));
    keyboardKey(A, true), press(A), keyboardKey(A, false);
    EXPECT_EQ(played(), (std::vector<int>{69}));
    releaseKeyboard(), release(A);
    EXPECT_EQ(played(), (std::vector<int>{-69})) << "closing does not end the mouse's note; the mouse does";
    // Gliding across a key the keyboard holds leaves its note alone.
    keyboardKey(A + 1, true), press(A), hover(A + 1), hover(A + 2), release(A + 2);
    EXPECT_EQ(played(), (std::vector<int>{70, 69, -69, 71, -71}));
    EXPECT_TRUE(keyHeld(A + 1) && !keyHeld(A) && !keyHeld(A + 2));
    keyboardKey(A + 1, false);
    EXPECT_EQ(played(), (std::vector<int>{-70}));
}
