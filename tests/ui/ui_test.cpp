// Picking with the real camera in a real window (on a private X server), and
// the mouse state machine driven frame by frame with scripted readings.
#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>
#include "tests/support/desktop.h"
#include "scene/scene.h"
#include "ui/ui.h"
#include "midi/midi.h"
#include "raymath.h"

// libportmidi keeps a few bytes per start for good (device names, the timer's block).
extern "C" const char *__lsan_default_suppressions() { return "leak:libportmidi.so\n"; }

namespace {

const int SIDE = 800;

// One 800 x 800 window for the whole binary, with the face laid out in it.
struct WindowEnv : ::testing::Environment {
    desk::Display display;
    void SetUp() override
    {
        display = desk::startDisplay(1024, 1024);
        ASSERT_GE(display.number, 0) << "no X server";
        setenv("DISPLAY", display.name().c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        SetTraceLogLevel(LOG_WARNING);
        InitWindow(SIDE, SIDE, "ui test");
        ASSERT_TRUE(IsWindowReady());
        loadSceneAssets();
        midiStart();
    }
    void TearDown() override
    {
        midiStop();
        unloadSceneAssets();
        CloseWindow();
        desk::stopDisplay(display);
    }
};
const auto *windowEnv = ::testing::AddGlobalTestEnvironment(new WindowEnv);

// Lays the face out afresh in the window.
void freshFace()
{
    resetPanel();
    resetInput();
    layoutScene();
}

Vector3 boxCentre(const BoundingBox &b) { return Vector3Scale(Vector3Add(b.min, b.max), 0.5f); }

Vector2 screenOf(Vector3 world) { return GetWorldToScreen(world, sceneCamera); }

// Where a user would click a control: the middle of its box, or for a key the
// front of its top, clear of the black keys.
Vector3 pickPoint(int id)
{
    const BoundingBox &b = controlTable()[id].bounds;
    Vector3 p = boxCentre(b);
    if (controlTable()[id].kind == ControlKind::Key) p = {p.x, b.max.y, b.max.z - 0.3f};
    return p;
}

TEST(Picking, EveryControlAtItsBoxCentreAndNothingOnTheBareTable)
{
    freshFace();
    ASSERT_GT(Vector3Distance(controlTable()[13].bounds.min, controlTable()[13].bounds.max), 0.1f)
        << "the models give the controls real boxes";
    for (int id = 1; id < CONTROL_COUNT; id++) {
        Vector2 p = screenOf(pickPoint(id));
        EXPECT_EQ(pickControlAt(p), id) << controlTable()[id].name << " at " << p.x << "," << p.y;
    }
    // A white key's box reaches under its black neighbours: the middle of the
    // low C's box lies under the C sharp's box, which the ray meets first.
    EXPECT_EQ(pickControlAt(screenOf(boxCentre(controlTable()[21].bounds))), 22);
    // pickControl reads the pointer itself.
    Vector2 cut = screenOf(boxCentre(controlTable()[4].bounds));
    SetMousePosition((int)cut.x, (int)cut.y);
    EXPECT_EQ(pickControl(), 4);
    // The bare gain strip left of the Gain knob, the table beyond the face, the window's corner.
    EXPECT_EQ(pickControlAt(screenOf({-7.5f, 0, 1})), -1);
    EXPECT_EQ(pickControlAt(screenOf({-11, 0, 0})), -1);
    EXPECT_EQ(pickControlAt({3, 3}), -1);
}

TEST(Layout, RealModelsAndLabelFont)
{
    freshFace();
    const Control *t = controlTable();
    // The two knob skins share one shape: Tune (second skin) and Shape get the same box.
    EXPECT_EQ(Vector3Subtract(t[1].bounds.min, t[1].position).x, Vector3Subtract(t[2].bounds.min, t[2].position).x);
    EXPECT_EQ(Vector3Subtract(t[1].bounds.max, t[1].position).z, Vector3Subtract(t[2].bounds.max, t[2].position).z);
    EXPECT_EQ(Vector3Subtract(t[1].bounds.max, t[1].position).y, Vector3Subtract(t[2].bounds.max, t[2].position).y);
    // Labels measured with the label font hang centred under their controls.
    for (int id : {1, 5, 13, 20, 30}) {
        const BoundingBox &b = t[id].bounds;
        Vector2 front = screenOf({(b.min.x + b.max.x) / 2, b.min.y, b.max.z});
        float width = MeasureTextEx(labelFont, t[id].name, 13, 1).x;
        EXPECT_GT(width, 4.0f) << t[id].name;
        EXPECT_NEAR(t[id].labelPos.x + width / 2, front.x, 1e-3f) << t[id].name;
        EXPECT_NEAR(t[id].labelPos.y, front.y + 4, 1e-3f) << t[id].name;
    }
}

TEST(Picking, TheNearerOfTwoOverlappingBoxesWins)
{
    freshFace();
    Control *t = controlTable();
    // A flat box under a tall one: along a ray from above the tall one is met first,
    // whichever of the two has the lower id.
    BoundingBox flat = {{-1, 0, -1}, {1, 0.2f, 1}};
    BoundingBox tall = {{-0.5f, 0, -0.5f}, {0.5f, 3, 0.5f}};
    Vector2 p = screenOf({0, 3, 0});
    t[2].bounds = flat;
    t[40].bounds = tall;
    EXPECT_EQ(pickControlAt(p), 40);
    t[2].bounds = tall;
    t[40].bounds = flat;
    EXPECT_EQ(pickControlAt(p), 2);
    // Two identical boxes: the same distance, so the lower id.
    t[40].bounds = tall;
    EXPECT_EQ(pickControlAt(p), 2);
}

TEST(Picking, TablePointAndCableCurve)
{
    freshFace();
    Vector3 at = pickTablePoint(screenOf({2, 0, 1}));
    EXPECT_NEAR(at.x, 2, 1e-3f);
    EXPECT_NEAR(at.y, 0, 1e-4f);
    EXPECT_NEAR(at.z, 1, 1e-3f);
    // Nothing in the window lies above the horizon; far above it the ray misses the table.
    Vector3 none = pickTablePoint({400, -20000});
    EXPECT_EQ(none.x, 0);
    EXPECT_EQ(none.y, 0);
    EXPECT_EQ(none.z, 0);

    Cable c = {};
    c.fromPos = controlTable()[13].position;
    c.toPos = controlTable()[17].position;
    updateCableSpline(c);
    Vector2 p1 = screenOf(Vector3Add(c.fromPos, {0, 1.45f, 0}));
    Vector2 p2 = screenOf(Vector3Add(c.toPos, {0, 1.45f, 0}));
    EXPECT_NEAR(c.spline[1].x, p1.x, 1e-3f);
    EXPECT_NEAR(c.spline[2].y, p2.y, 1e-3f);
    // The guides lie far beyond the window centre, y then stretched by 1.4.
    EXPECT_NEAR(c.spline[0].x, p1.x + 8 * (400 - p1.x), 1e-2f);
    EXPECT_NEAR(c.spline[0].y, 1.4f * (p1.y + 8 * (400 - p1.y)), 1e-2f);
    EXPECT_NEAR(c.spline[3].x, p2.x + 8 * (400 - p2.x), 1e-2f);
    EXPECT_NEAR(c.spline[3].y, 1.4f * (p2.y + 8 * (400 - p2.y)), 1e-2f);
    EXPECT_EQ(c.fromPos.y, controlTable()[13].position.y) << "the stored ends stay where they are";
}

// ---- the state machine, frame by frame ----

int scriptedPick = -1;
int hides = 0, shows = 0, deviceSteps = 0;
int shownAt[2] = {0, 0};
const InputHooks hooks = {
    [](Vector2) { return scriptedPick; },
    [] { hides++; },
    [](int x, int y) {
        shows++;
        shownAt[0] = x;
        shownAt[1] = y;
    },
    [] { deviceSteps++; },
};

struct Frame {
    Vector2 pos = {400, 400};
    Vector2 delta = {0, 0};
    bool left = false, right = false, up = false;
};

void step(int pick, Frame f)
{
    scriptedPick = pick;
    stepInput(MouseFrame{f.delta, f.pos, f.left, f.right, f.up}, hooks);
}
void press(int pick, Vector2 pos = {400, 400}) { step(pick, {pos, {0, 0}, true, false, false}); }
void release(int pick, Vector2 pos = {400, 400}) { step(pick, {pos, {0, 0}, false, false, true}); }
void rightClick(int pick) { step(pick, {{400, 400}, {0, 0}, false, true, false}); }
void moveBy(float dy) { step(-1, {{400, 400}, {0, dy}, false, false, false}); }
void pull(int from, int to)
{
    press(from);
    step(-1, {});
    release(to);
}

struct Note {
    int status, note, velocity;
    bool operator==(const Note &) const = default;
};
std::vector<Note> drainNotes()
{
    std::vector<Note> out;
    int ts, st, d1, d2;
    while (midiNextEvent(&ts, &st, &d1, &d2)) out.push_back({st, d1, d2});
    return out;
}

struct InputMachine : ::testing::Test {
    void SetUp() override
    {
        freshFace();
        hides = shows = deviceSteps = 0;
        drainNotes();
    }
    static int liveCables()
    {
        int n = 0;
        for (int i = 0; i < cableCapacity(); i++) n += cableTable()[i].inUse;
        return n;
    }
    static bool hasCable(int from, int to)
    {
        for (int i = 0; i < cableCapacity(); i++) {
            const Cable &c = cableTable()[i];
            if (c.inUse && c.from == from && c.to == to) return true;
        }
        return false;
    }
};

TEST_F(InputMachine, KnobDragClampsWithoutStoringOvershootAndRestoresThePointer)
{
    Control &cut = controlTable()[4];
    ASSERT_EQ(cut.value, 0.5f);
    press(4, {123.7f, 456.2f});
    EXPECT_EQ(inputState()->draggedKnob, 4);
    EXPECT_EQ(hides, 1);
    moveBy(-100);
    EXPECT_NEAR(cut.value, 0.7f, 1e-6f);
    moveBy(-149);
    EXPECT_LT(cut.value, 1.0f);
    moveBy(-1);
    EXPECT_NEAR(cut.value, 1.0f, 1e-6f) << "250 pixels up from the middle";
    moveBy(-400);
    EXPECT_EQ(cut.value, 1.0f);
    moveBy(1);
    EXPECT_EQ(cut.value, 1.0f - 0.002f) << "the first pixel down turns it at once";
    moveBy(5000);
    EXPECT_EQ(cut.value, 0.0f);
    EXPECT_EQ(shows, 0);
    release(-1, {700, 20});
    EXPECT_EQ(inputState()->draggedKnob, -1);
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(shownAt[0], 123);
    EXPECT_EQ(shownAt[1], 456);
    // Right click resets to the default; on a key or empty space it does nothing.
    rightClick(4);
    EXPECT_EQ(cut.value, 0.5f);
    controlTable()[30].value = 69;
    rightClick(30);
    rightClick(-1);
    EXPECT_EQ(controlTable()[30].value, 69.0f);
    // A click that presses and releases in one frame hides and shows again.
    step(2, {{10, 20}, {0, 0}, true, false, true});
    EXPECT_EQ(hides, 2);
    EXPECT_EQ(shows, 2);
    EXPECT_EQ(inputState()->draggedKnob, -1);
}

TEST_F(InputMachine, CableRules)
{
    // Refused: its own jack, same direction, a knob, a key, empty space.
    pull(13, 13);
    pull(13, 19);
    pull(14, 15);
    pull(13, 4);
    pull(13, 30);
    pull(13, -1);
    EXPECT_EQ(liveCables(), 0);
    EXPECT_EQ(inputState()->draggedJack, -1);

    // Pulled from the input, stored output first.
    pull(14, 13);
    ASSERT_TRUE(cableTable()[0].inUse);
    EXPECT_EQ(cableTable()[0].from, 13);
    EXPECT_EQ(cableTable()[0].to, 14);
    EXPECT_EQ(cableTable()[0].fromPos.x, controlTable()[13].position.x);
    EXPECT_EQ(cableTable()[0].toPos.z, controlTable()[14].position.z);
    EXPECT_NE(cableTable()[0].spline[1].x, cableTable()[0].spline[2].x) << "its curve is computed";
    // The input is taken: the other output and the same pair again are refused.
    pull(19, 14);
    pull(13, 14);
    pull(14, 13);
    EXPECT_EQ(liveCables(), 1);

    // Fan-out to all five inputs.
    for (int in = 15; in <= 18; in++) pull(13, in);
    EXPECT_EQ(liveCables(), 5);
    snapshotParams();
    const ModRouting &r = *modRouting();
    EXPECT_EQ(r.foldSource, 13);
    EXPECT_EQ(r.shapeSource, 13);
    EXPECT_EQ(r.tuneSource, 13);
    EXPECT_EQ(r.cutoffSource, 13);
    EXPECT_EQ(r.resonanceSource, 13);

    // Right click on one input removes only its cable; the freed lowest slot is reused.
    rightClick(16);
    EXPECT_EQ(liveCables(), 4);
    EXPECT_FALSE(cableTable()[2].inUse);
    pull(16, 19);
    EXPECT_TRUE(cableTable()[2].inUse);
    EXPECT_TRUE(hasCable(19, 16));
    // Right click on the LFO output removes its four.
    rightClick(13);
    EXPECT_EQ(liveCables(), 1);
    EXPECT_TRUE(hasCable(19, 16));
    // Out-of-range ids are not jacks.
    connectJacks(-1, 14);
    connectJacks(13, 46);
    disconnectJack(-1);
    disconnectJack(46);
    EXPECT_EQ(liveCables(), 1);
}

TEST_F(InputMachine, PulledCableFollowsTheTable)
{
    press(17);
    const InputState &s = *inputState();
    EXPECT_EQ(s.draggedJack, 17);
    Vector3 lifted = Vector3Add(controlTable()[17].position, {0, 0.8f, 0});
    EXPECT_EQ(s.dragCable.fromPos.x, lifted.x);
    EXPECT_EQ(s.dragCable.toPos.y, lifted.y);
    EXPECT_EQ(s.dragCable.spline[1].x, s.dragCable.spline[2].x) << "both ends start at the jack";
    step(-1, {screenOf({3, 0, 2}), {5, 5}, false, false, false});
    EXPECT_NEAR(s.dragCable.toPos.x, 3, 1e-3f);
    EXPECT_NEAR(s.dragCable.toPos.y, 0.8f, 1e-4f);
    EXPECT_NEAR(s.dragCable.toPos.z, 2, 1e-3f);
    step(-1, {{400, -20000}, {0, -5}, false, false, false});
    EXPECT_NEAR(s.dragCable.toPos.x, 0, 1e-6f) << "above the horizon the end drops to the table's middle";
    EXPECT_NEAR(s.dragCable.toPos.y, 0.8f, 1e-6f);
    release(-1);
    EXPECT_EQ(s.draggedJack, -1);
}

TEST_F(InputMachine, RightClickDuringAnyDragChangesOnlyHelpMode)
{
    pull(13, 15);
    press(4);
    moveBy(-50);
    float turned = controlTable()[4].value;
    rightClick(4);
    rightClick(13);
    EXPECT_EQ(controlTable()[4].value, turned);
    EXPECT_EQ(inputState()->draggedKnob, 4);
    release(-1);
    press(13);
    rightClick(13);
    EXPECT_EQ(liveCables(), 1);
    EXPECT_EQ(inputState()->draggedJack, 13);
    release(-1);
    press(30);
    drainNotes();
    rightClick(15);
    EXPECT_EQ(liveCables(), 1);
    EXPECT_EQ(inputState()->heldKey, 30);
    EXPECT_TRUE(drainNotes().empty());
    release(-1);
    // Help mode is the one thing a right click clears.
    press(-1, {helpIconPos.x + 1, helpIconPos.y + 1});
    ASSERT_TRUE(inputState()->helpMode);
    press(30);
    EXPECT_FALSE(inputState()->helpMode) << "a press on a key ends help mode and plays";
    EXPECT_EQ(inputState()->heldKey, 30);
    release(-1);
    press(-1, {helpIconPos.x + 31, helpIconPos.y + 31});
    ASSERT_TRUE(inputState()->helpMode);
    rightClick(-1);
    EXPECT_FALSE(inputState()->helpMode);
}

TEST_F(InputMachine, KeysPostNotesAndGlide)
{
    press(30);
    step(31, {});
    step(32, {});
    step(-1, {});
    step(4, {});
    step(32, {});
    release(13);
    std::vector<Note> want = {{0x90, 69, 128}, {0x80, 69, 0}, {0x90, 70, 128},
                              {0x80, 70, 0},   {0x90, 71, 128}, {0x80, 71, 0}};
    EXPECT_EQ(drainNotes(), want);
    EXPECT_EQ(inputState()->heldKey, -1);
    // Press and release within one frame: on, then off.
    step(21, {{400, 400}, {0, 0}, true, false, true});
    want = {{0x90, 60, 128}, {0x80, 60, 0}};
    EXPECT_EQ(drainNotes(), want);
    // The top C.
    press(45);
    release(45);
    want = {{0x90, 84, 128}, {0x80, 84, 0}};
    EXPECT_EQ(drainNotes(), want);
}

TEST_F(InputMachine, IconsAnswerOnlyWhereNoControlIs)
{
    Vector2 midi = {midiIconPos.x + 5, midiIconPos.y + 5};
    Vector2 help = {helpIconPos.x, helpIconPos.y};
    press(-1, midi);
    release(-1, midi);
    EXPECT_EQ(deviceSteps, 1);
    EXPECT_FALSE(inputState()->helpMode);
    press(-1, help);
    EXPECT_TRUE(inputState()->helpMode);
    press(-1, help);
    EXPECT_TRUE(inputState()->helpMode) << "cleared and set again by the same press";
    press(-1, midi);
    EXPECT_FALSE(inputState()->helpMode);
    EXPECT_EQ(deviceSteps, 2);
    // Just outside the squares, and with a control under the pointer.
    press(-1, {helpIconPos.x + 32, helpIconPos.y});
    press(-1, {midiIconPos.x, midiIconPos.y - 1});
    press(5, help);
    EXPECT_FALSE(inputState()->helpMode);
    release(-1);
    press(5, midi);
    release(-1);
    EXPECT_EQ(deviceSteps, 2);
}

}  // namespace
