// Mirl's entry point: start-up, the frame loop and shutdown, in their fixed orders.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "raylib.h"
#include <GLFW/glfw3.h>
#include "app/display.h"
#include "midi/midi.h"
#include "panel/constants.h"
#include "panel/panel.h"
#include "scene/scene.h"
#include "synth/synth.h"
#include "ui/ui.h"

static AudioStream audioStream;
static const double FRAME_SECONDS = 1.0 / (double)FRAME_RATE;  // the frame rate the loop keeps
static GLFWwindowiconifyfun raylibIconifyCallback = nullptr;
static bool closeRequested = false;  // the window's close control or the exit key was used

static char windowComplaint[160];  // why the window did not open, as the window system put it

// Holds back raylib's warnings while the window opens, keeping one to say why
// no window came, if none does: the first, until the first of the window
// system's own (GLFW's) replaces it, since raylib's summary names no cause.
static void keepWindowComplaint(int level, const char *text, va_list args)
{
    if (level < LOG_WARNING) return;
    bool fromWindowSystem = std::strncmp(text, "GLFW", 4) == 0;
    bool keptWindowSystem = std::strncmp(windowComplaint, "GLFW", 4) == 0;
    if (*windowComplaint && (keptWindowSystem || !fromWindowSystem)) return;
    std::vsnprintf(windowComplaint, sizeof windowComplaint, text, args);
}

// Opens the square window: large on a monitor of at least 850 x 850, else small.
// Returns false when the window system gave no window (a display without
// OpenGL, say): raylib is then left as it was, and nothing else may be called.
bool openWindow(bool small)
{
    // A small first window, only to ask which monitor it lands on and how big
    // that is. The window system's own complaints are held back: when it gives
    // no window, one line from Mirl says what to do.
    enum { PROBE_SIDE = 100 };
    SetTraceLogCallback(keepWindowComplaint);
    InitWindow(PROBE_SIDE, PROBE_SIDE, "Mirl");
    bool ready = IsWindowReady();
    if (ready) {
        keepGraphicsDriverLoaded();
        int monitor = GetCurrentMonitor();
        int width = GetMonitorWidth(monitor);
        int height = GetMonitorHeight(monitor);
        CloseWindow();
        InitWindow(windowSideFor(width, height, small), windowSideFor(width, height, small), "Mirl");
        ready = IsWindowReady();
    }
    SetTraceLogCallback(nullptr);
    return ready;
}

// The window system asks for the window's content again (it was covered,
// unmapped and mapped, or its pixels were lost): draw it whole.
static void redrawOnRequest(GLFWwindow *) { invalidateFrame(); }

static void redrawOnRestore(GLFWwindow *window, int iconified)
{
    if (raylibIconifyCallback) raylibIconifyCallback(window, iconified);
    if (!iconified) invalidateFrame();
}

// Hooks the window's refresh and restore events to a full redraw.
static void watchWindow()
{
    GLFWwindow *window = glfwGetCurrentContext();  // raylib's window: its context is current
    glfwSetWindowRefreshCallback(window, redrawOnRequest);
    raylibIconifyCallback = glfwSetWindowIconifyCallback(window, redrawOnRestore);
}

// Reads what the window system has sent and acts on mouse input at once, so a
// click is heard within a couple of milliseconds whatever the frame is doing.
static void serviceInput()
{
    PollInputEvents();
    // raylib forgets a close request at its next poll, and the loop polls many
    // times a frame: keep it until the loop sees it.
    closeRequested = closeRequested || WindowShouldClose();
    if (inputPending()) {
        handleInput();
        snapshotParams();
    }
}

// Sleeps until the next frame is due, waking for each event to act on it.
static void waitForFrame(double due)
{
    for (double left = due - GetTime(); left > 0; left = due - GetTime()) {
        glfwWaitEventsTimeout(left);
        serviceInput();
    }
}

// Without a display (a text console, ssh without X forwarding), or with one
// that cannot give an OpenGL window, there is no window to open: says so in
// one line instead of failing inside the window system's set-up.
static void reportNoWindow(bool reached)
{
    const char *display = std::getenv("DISPLAY");
    if (reached)
        std::fprintf(stderr, "Mirl: the display \"%s\" gives no OpenGL window; start Mirl on a desktop with OpenGL, or over ssh with X forwarding and GLX%s%s%s\n",
                     display ? display : "", *windowComplaint ? " (" : "", windowComplaint, *windowComplaint ? ")" : "");
    else if (display && *display)
        std::fprintf(stderr, "Mirl: cannot open the display \"%s\"; start Mirl on a desktop, or over ssh with X forwarding\n", display);
    else
        std::fprintf(stderr, "Mirl: no display to open (DISPLAY is not set); start Mirl on a desktop, or over ssh with X forwarding\n");
}

// Opens the program's own connection to the display, held while the window
// opens (see app/display.cpp); says why in one line when there is none.
static bool displayReachable()
{
    if (holdDisplay()) return true;
    reportNoWindow(false);
    return false;
}

// The rate the sound device was opened at: raylib makes a sound loaded from a
// wave at the device's rate.
static unsigned deviceSampleRate()
{
    static float silence[64];
    Wave wave = {64, SAMPLE_RATE, 32, 1, silence};
    Sound probe = LoadSoundFromWave(wave);
    unsigned rate = probe.stream.sampleRate;
    UnloadSound(probe);
    return rate ? rate : (unsigned)SAMPLE_RATE;
}

// Brings everything up in order: window, audio, MIDI, synth, scene, stream.
bool initApp(bool small)
{
    if (!openWindow(small)) return false;
    startInputEvents();
    watchWindow();
    InitAudioDevice();
    midiStart();
    resetSynth();
    loadSceneAssets();
    layoutScene();
    // Without a sound device (no sound server, say) there is nothing to play
    // into: the face still works, and no stream is made (a stream made for a
    // device that never started would lose its sample memory).
    if (IsAudioDeviceReady()) {
        // The stream plays at the device's own rate, converted from the
        // engine's by the sound thread, so raylib's linear converter never
        // runs; its buffer keeps the same length in time at any rate.
        unsigned rate = deviceSampleRate();
        if (!startSoundConversion(rate)) rate = SAMPLE_RATE;
        SetAudioStreamBufferSizeDefault((int)((uint64_t)AUDIO_BUFFER_FRAMES * rate / SAMPLE_RATE));
        audioStream = LoadAudioStream(rate, STREAM_SAMPLE_BITS, STREAM_CHANNELS);
        SetAudioStreamCallback(audioStream, audioCallback);
        raiseSoundThreadOnNextCall();
        SetAudioStreamVolume(audioStream, 1.0f);
        // raylib's pan runs from -1 (left) to 1 (right): 0 keeps the mono stream
        // centred. It is set once, here: every stream call takes the lock that
        // the sound thread holds while it mixes, and a frame loop that took it
        // each frame could be preempted holding it and keep the sound waiting.
        SetAudioStreamPan(audioStream, 0.0f);
        PlayAudioStream(audioStream);
        lockSoundMemory();
    }
    snapshotParams();
    return true;
}

// With MIRL_SOUND_REPORT set (the sound benchmarks set it), one line at the
// end on how the sound server's calls for sound came and what the system
// granted the sound thread.
static void reportSound()
{
    if (!std::getenv("MIRL_SOUND_REPORT")) return;
    static const char *priority[] = {"not asked", "real-time", "real-time within the user's limit", "ordinary (real-time refused)"};
    static const char *memory[] = {"unlocked", "locked", "partly locked"};
    SoundThreadReport r = soundThreadReport();
    std::printf("sound thread: %llu callbacks of %.1f frames, one every %.2f ms, longest gap %.2f ms, "
                "latest %.2f ms behind; priority %s, memory %s\n",
                (unsigned long long)r.calls, r.calls ? (double)r.frames / (double)r.calls : 0.0, r.meanGapMs,
                r.worstGapMs, r.worstLateMs, priority[r.priority & 3], memory[r.memory % 3]);
    std::fflush(stdout);
}

// Tears everything down in the reverse dependency order.
void shutdownApp()
{
    reportSound();
    unloadSceneAssets();
    UnloadAudioStream(audioStream);
    CloseAudioDevice();
    stopSoundConversion();
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
    if (!displayReachable()) return 1;
    bool ready = initApp(small);
    releaseDisplay();  // the window, when there is one, has its own connection now
    if (!ready) {
        reportNoWindow(true);
        return 1;
    }
    closeRequested = WindowShouldClose();  // true already when no window came up
    double due = GetTime();
    while (!closeRequested) {
        handleInput();
        snapshotParams();
        // At rest nothing is drawn or swapped; input is still read while the
        // frame is drawn and while the loop waits for the next one.
        if (frameChanged()) {
            drawFrame();
            serviceInput();
            presentFrame();
            serviceInput();
        }
        // A frame that ran late starts the next one at once, without a burst to catch up.
        due += FRAME_SECONDS;
        if (due < GetTime()) due = GetTime();
        waitForFrame(due);
    }
    releaseKeyboard();  // the letter keys still down when the window closes let their notes go
    shutdownApp();
    return 0;
}
