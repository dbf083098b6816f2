// Prints what a frame of the face costs for the 800 window with five cables
// patched, on a real X server with Mesa's software renderer: wall time per
// frame and the processor time the whole program spends on it (all threads, the
// renderer's included), for a full redraw and for the cached frames the face
// draws in each situation a user meets.
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>
#include "midi/midi.h"
#include "panel/constants.h"
#include "scene/scene.h"
#include "synth/synth.h"
#include "tools/harness/desktop.h"
#include "ui/ui.h"
#include "rlgl.h"

extern "C" void glFinish(void);

static double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

// A frame as the program shows it: drawn where it changed, then presented by
// its own loop (only the changed rectangles, unless MIRL_FULL_PRESENT=1).
static void cachedFrame() { drawFrame(), presentFrame(); }
static void fullFrame() { drawFrameUncached(), SwapScreenBuffer(); }

// Times frames of draw after change (which is not timed) has moved the state on.
static void measure(const char *what, int frames, const std::function<void(int)> &change,
                    const std::function<void()> &draw)
{
    for (int i = 0; i < 20; i++) change(i), draw();  // warm up caches and the driver
    std::vector<double> ms;
    ms.reserve(frames);
    double cpu = 0;
    for (int i = 0; i < frames; i++) {
        change(20 + i);
        double t0 = GetTime(), c0 = cpuSeconds();
        draw();
        cpu += cpuSeconds() - c0;
        ms.push_back((GetTime() - t0) * 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    double mean = sum / frames, cpuMs = cpu * 1000.0 / frames;
    std::printf("frame %-36s mean %6.2f ms  median %6.2f  p95 %6.2f  max %6.2f  cpu %6.2f ms  (%4.0f%% of a core at 60/s)\n",
                what, mean, ms[frames / 2], ms[frames * 95 / 100], ms.back(), cpuMs, cpuMs * (double)FRAME_RATE / 10);
}

static void nothing(int) {}
static void noCursor() {}
static void noCursorAt(int, int) {}
static const InputHooks hooks = {pickControlAt, noCursor, noCursorAt, noCursor};

// The top of a control's hit box, on screen.
static Vector2 controlAt(int id)
{
    const BoundingBox &b = controlTable()[id].bounds;
    return GetWorldToScreen(Vector3{(b.min.x + b.max.x) / 2, b.max.y, (b.min.z + b.max.z) / 2}, sceneCamera);
}

static void mouse(Vector2 at, bool press, bool release)
{
    SetMousePosition((int)at.x, (int)at.y);
    stepInput(MouseFrame{{0, 0}, at, press, false, release}, hooks);
}

// The scope as a held note moves it: one frame's worth of sound.
static void sound(int)
{
    const int frameSamples = (int)SAMPLE_RATE / (int)FRAME_RATE;
    static float buffer[frameSamples];
    audioCallback(buffer, frameSamples);
}

// A render texture's picture copied to the window's place, upright.
static void copyWhole(const RenderTexture2D &t, bool blend)
{
    if (!blend) {
        rlSetBlendFactors(RL_ONE, RL_ZERO, RL_FUNC_ADD);
        BeginBlendMode(BLEND_CUSTOM);
    }
    DrawTextureRec(t.texture, Rectangle{0, 0, WINDOW_LARGE, -WINDOW_LARGE}, Vector2{0, 0}, WHITE);
    if (!blend) EndBlendMode();
}

// One drawing stage on its own, into an off-screen target, finished by the
// renderer before the clock stops: milliseconds per run.
static void stage(const char *what, const std::function<void()> &draw, bool threeD = false)
{
    static RenderTexture2D scratch = LoadRenderTexture(WINDOW_LARGE, WINDOW_LARGE);
    const int runs = 40;
    double t0 = 0, c0 = 0;
    for (int i = -5; i < runs; i++) {
        if (i == 0) glFinish(), t0 = GetTime(), c0 = cpuSeconds();
        BeginTextureMode(scratch);
        if (threeD) BeginMode3D(sceneCamera);
        draw();
        if (threeD) EndMode3D();
        EndTextureMode();
    }
    glFinish();
    std::printf("stage %-46s %6.2f ms  cpu %6.2f ms\n", what, (GetTime() - t0) * 1000.0 / runs,
                (cpuSeconds() - c0) * 1000.0 / runs);
}

// The passes a full redraw and a cached frame are made of, one by one.
static void stages()
{
    const Control *controls = controlTable();
    stage("background picture", [] { drawBackground(); });
    stage("3D: faceplate, controls, plugs", [&] {
        drawFaceplate();
        drawPlugs();
        for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++) drawControl(controls[id]);
    }, true);
    stage("3D: the same clipped to one knob's area", [&] {
        BeginScissorMode(380, 150, 60, 60);
        drawFaceplate();
        drawPlugs();
        for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++) drawControl(controls[id]);
        EndScissorMode();
    }, true);
    stage("3D: plugs alone", [] { drawPlugs(); }, true);
    stage("layer copied, blending", [] { copyWhole(sceneTarget, true); });
    stage("layer copied, replacing (cached frame)", [] { copyWhole(faceTarget, false); });
    stage("outline pass over the whole window", [] {
        BeginShaderMode(outlineShader);
        copyWhole(sceneTarget, true);
        EndShaderMode();
    });
    stage("labels", [] { drawLabels(); });
    stage("cables", [] { drawCables(); });
    stage("scope", [] { drawScope(); });
    stage("help tint and banner", [] { drawHelpTint(); });
    double t0 = GetTime(), c0 = cpuSeconds();
    for (int i = 0; i < 40; i++) {
        BeginDrawing();
        EndDrawing();
        SwapScreenBuffer();
    }
    std::printf("stage %-46s %6.2f ms  cpu %6.2f ms\n", "swap of a frame with nothing drawn", (GetTime() - t0) * 1000.0 / 40,
                (cpuSeconds() - c0) * 1000.0 / 40);
    if (!canPresentPart()) return;
    // A partial frame's own steps: the scope strip redrawn inside its
    // rectangle, then that rectangle presented.
    t0 = GetTime(), c0 = cpuSeconds();
    for (int i = 0; i < 40; i++) {
        BeginDrawing();
        BeginScissorMode(196, 16, 407, 108);
        copyWhole(faceTarget, false);
        drawScope();
        EndScissorMode();
        EndDrawing();
        glFinish();
    }
    std::printf("stage %-46s %6.2f ms  cpu %6.2f ms\n", "scope strip redrawn in the window (scissor)", (GetTime() - t0) * 1000.0 / 40,
                (cpuSeconds() - c0) * 1000.0 / 40);
    t0 = GetTime(), c0 = cpuSeconds();
    for (int i = 0; i < 40; i++) presentPart(196, 16, 407, 108);
    std::printf("stage %-46s %6.2f ms  cpu %6.2f ms\n", "scope strip presented (copied to the window)", (GetTime() - t0) * 1000.0 / 40,
                (cpuSeconds() - c0) * 1000.0 / 40);
}

int main()
{
    desk::Display display = desk::startDisplay(1280, 1024);
    if (display.number < 0) {
        std::printf("frame benchmark: no X server\n");
        return 1;
    }
    setenv("DISPLAY", display.name().c_str(), 1);
    if (chdir(desk::sourceDir().c_str()) != 0) return 1;
    SetTraceLogLevel(LOG_WARNING);
    InitWindow(WINDOW_LARGE, WINDOW_LARGE, "Mirl");
    midiStart();
    resetSynth();
    loadSceneAssets();
    layoutScene();
    connectJacks(JACK_LFO_OUT, JACK_FOLD_IN);
    connectJacks(JACK_LFO_OUT, JACK_SHAPE_IN);
    connectJacks(JACK_LFO_OUT, JACK_TUNE_IN);
    connectJacks(JACK_ENV_OUT, JACK_CUTOFF_IN);
    connectJacks(JACK_ENV_OUT, JACK_RES_IN);
    snapshotParams();
    int cables = 0;
    for (int s = 0; s < cableCapacity(); s++) cables += cableTable()[s].inUse;
    std::printf("frame benchmark: 800 x 800 window, %d cables, LP_NUM_THREADS=%s, %s\n", cables,
                getenv("LP_NUM_THREADS") ? getenv("LP_NUM_THREADS") : "(Mesa default)",
                canPresentPart() ? "frames presented part by part" : "every frame swapped whole");

    const Control &cutoff = controlTable()[KNOB_CUTOFF];
    Vector2 cutoffAt = controlAt(KNOB_CUTOFF);
    cachedFrame();
    stages();
    measure("full redraw, help mode off", 200, nothing, fullFrame);
    measure("cached, nothing changed", 300, nothing, cachedFrame);
    double t0 = GetTime();
    int changed = 0;
    for (int i = 0; i < 10000; i++) changed += frameChanged();
    std::printf("frame %-36s %.4f ms a call (%d of 10000 said changed)\n", "frameChanged at rest",
                (GetTime() - t0) * 1000.0 / 10000, changed);

    midiPostNote(0x90, 57, 100);
    measure("cached, a note sounding (scope)", 300, sound, cachedFrame);
    midiPostNote(0x80, 57, 0);
    for (int i = 0; i < 200; i++) sound(i);

    float start = cutoff.value;
    measure("cached, a knob turning", 300, [&](int i) { controlTable()[KNOB_CUTOFF].value = (float)(i % 100) / 100.0f; }, cachedFrame);
    controlTable()[KNOB_CUTOFF].value = start;

    mouse(controlAt(JACK_LFO_OUT), true, false);
    measure("cached, a cable pulled", 300,
            [](int i) { mouse(Vector2{300.0f + (float)(i % 200), 450.0f + (float)(i % 50)}, false, false); }, cachedFrame);
    mouse(Vector2{780, 780}, false, true);

    inputState()->helpMode = true;
    // The pointer sweeps over the top row of knobs, five keys from A4 and three jacks, a few pixels a frame.
    const int keyA4 = KEY_FIRST + 9;
    const int sweep[] = {KNOB_TUNE, KNOB_SHAPE, KNOB_FOLD, KNOB_CUTOFF, KNOB_RESONANCE, keyA4, keyA4 + 1, keyA4 + 2,
                         keyA4 + 3, keyA4 + 4, JACK_LFO_OUT, JACK_FOLD_IN, JACK_SHAPE_IN};
    auto pointerMoving = [&](int i) {
        int n = (int)(sizeof sweep / sizeof sweep[0]);
        Vector2 p = controlAt(sweep[(i / 8) % n]);
        SetMousePosition((int)p.x + i % 8, (int)p.y + i % 8);
    };
    measure("full redraw, help mode on, over a knob", 200, [&](int) { SetMousePosition((int)cutoffAt.x, (int)cutoffAt.y); },
            fullFrame);
    measure("cached, help mode, pointer moving", 300, pointerMoving, cachedFrame);
    inputState()->helpMode = false;

    unloadSceneAssets();
    midiStop();
    CloseWindow();
    desk::stopDisplay(display);
    return 0;
}
