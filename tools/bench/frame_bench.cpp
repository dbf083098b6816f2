// Prints how long drawFrame takes for the 800 window with five cables patched,
// with help mode off and on, on a real X server with Mesa's software renderer.
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include "midi/midi.h"
#include "scene/scene.h"
#include "synth/synth.h"
#include "tests/support/desktop.h"
#include "ui/ui.h"

static void measure(const char *what, int frames)
{
    for (int i = 0; i < 30; i++) drawFrame(), SwapScreenBuffer();  // warm up caches and the driver
    std::vector<double> ms;
    ms.reserve(frames);
    for (int i = 0; i < frames; i++) {
        double t0 = GetTime();
        drawFrame();
        SwapScreenBuffer();  // the program swaps after drawing; raylib leaves it to it
        ms.push_back((GetTime() - t0) * 1000.0);
    }
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    double mean = sum / frames;
    std::printf("frame %-28s mean %6.2f ms  median %6.2f ms  p95 %6.2f ms  max %6.2f ms  (%.0f frames/s)\n", what,
                mean, ms[frames / 2], ms[frames * 95 / 100], ms.back(), 1000.0 / mean);
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
    InitWindow(800, 800, "Mirl");
    SetTargetFPS(0);  // unpaced: we want the cost of a frame, not the 60 Hz wait
    midiStart();
    resetSynth();
    loadSceneAssets();
    layoutScene();
    connectJacks(JACK_LFO_OUT, 14);
    connectJacks(JACK_LFO_OUT, 15);
    connectJacks(JACK_LFO_OUT, 16);
    connectJacks(JACK_ENV_OUT, 17);
    connectJacks(JACK_ENV_OUT, 18);
    snapshotParams();
    int cables = 0;
    for (int s = 0; s < cableCapacity(); s++) cables += cableTable()[s].inUse;
    std::printf("frame benchmark: 800 x 800 window, %d cables, LP_NUM_THREADS=%s\n", cables,
                getenv("LP_NUM_THREADS") ? getenv("LP_NUM_THREADS") : "(Mesa default)");

    measure("help mode off", 300);
    // Hover the Cutoff knob so the overlay redraws a control and two tooltips.
    const Control &cutoff = controlTable()[4];
    Vector3 centre = {(cutoff.bounds.min.x + cutoff.bounds.max.x) / 2, cutoff.bounds.max.y,
                      (cutoff.bounds.min.z + cutoff.bounds.max.z) / 2};
    Vector2 at = GetWorldToScreen(centre, sceneCamera);
    SetMousePosition((int)at.x, (int)at.y);
    inputState()->helpMode = true;
    measure("help mode on, over a knob", 300);

    unloadSceneAssets();
    midiStop();
    CloseWindow();
    desk::stopDisplay(display);
    return 0;
}
