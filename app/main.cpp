// Mirl's entry point: start-up, the frame loop and shutdown, in their fixed orders.
#include <cstring>
#include "raylib.h"
#include "midi/midi.h"
#include "panel/panel.h"
#include "scene/scene.h"
#include "synth/synth.h"
#include "ui/ui.h"

static AudioStream audioStream;

// Opens the square window: 800 on a monitor of at least 850 x 850, else 600.
void openWindow(bool small)
{
    InitWindow(100, 100, "Mirl");
    keepGraphicsDriverLoaded();
    int monitor = GetCurrentMonitor();
    int width = GetMonitorWidth(monitor);
    int height = GetMonitorHeight(monitor);
    CloseWindow();
    int side = (height > 849 && width > 849 && !small) ? 800 : 600;
    InitWindow(side, side, "Mirl");
}

// Brings everything up in order: window, audio, MIDI, synth, scene, stream.
void initApp(bool small)
{
    openWindow(small);
    InitAudioDevice();
    SetTargetFPS(60);
    midiStart();
    resetSynth();
    loadSceneAssets();
    layoutScene();
    // Without a sound device (no sound server, say) there is nothing to play
    // into: the face still works, and no stream is made (a stream made for a
    // device that never started would lose its sample memory).
    if (IsAudioDeviceReady()) {
        SetAudioStreamBufferSizeDefault(512);
        audioStream = LoadAudioStream(44100, 32, 1);
        SetAudioStreamCallback(audioStream, audioCallback);
        raiseSoundThreadOnNextCall();
        SetAudioStreamVolume(audioStream, 1.0f);
        PlayAudioStream(audioStream);
    }
    snapshotParams();
}

// Tears everything down in the reverse dependency order.
void shutdownApp()
{
    unloadSceneAssets();
    UnloadAudioStream(audioStream);
    CloseAudioDevice();
    midiStop();
    CloseWindow();
}

int main(int argc, char **argv)
{
    bool small = argc > 1 && std::strcmp(argv[1], "-small") == 0;
    // raylib's INFO chatter would bury the program's own status lines;
    // its warnings and errors (a missing file, say) still come through.
    SetTraceLogLevel(LOG_WARNING);
    if (reportMissingSceneFiles() > 0) return 1;
    initApp(small);
    while (!WindowShouldClose()) {
        // raylib's pan runs from -1 (left) to 1 (right): 0 keeps the mono stream centred.
        SetAudioStreamPan(audioStream, 0.0f);
        handleInput();
        snapshotParams();
        drawFrame();
    }
    shutdownApp();
    return 0;
}
