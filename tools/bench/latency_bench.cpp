// Key to sound, measured from outside the program: the real program on a real
// X server plays into a PulseAudio null sink; a reference stream into the same
// sink carries a one-sample click written at the moment of each XTEST press of
// the A key, with the mouse and with the computer keyboard's N. In the sink's recording the click and the note's first sample lie
// (key to sound - the reference stream's latency) apart, and the sound server
// reports that latency when the click is written. Also prints the sound
// server's buffer figures for the program's stream and what they make of a
// note from a MIDI device.
//
// Usage: bench_latency [program]   (default: the program of this build)
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <pulse/simple.h>
#include <pulse/error.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include "raylib.h"
#include "panel/constants.h"
#include "tools/harness/desktop.h"
#include "tools/harness/face.h"

namespace {

const int PRESSES = 40;
const int KEY_A = KEY_FIRST + 9;  // the A above middle C
// Each click's height tells which press it belongs to, so a click lost to a
// busy machine cannot pair the others with the wrong presses.
const float CLICK_BASE = 0.3f, CLICK_STEP = 0.005f;

// The few Xlib calls used here, declared by hand: Xlib's header clashes with raylib's names.
extern "C" {
struct _XDisplay;
_XDisplay *XOpenDisplay(const char *name);
unsigned char XKeysymToKeycode(_XDisplay *display, unsigned long keysym);
int XSync(_XDisplay *display, int discard);
int XCloseDisplay(_XDisplay *display);
}
// XTEST from the system's library (its development headers are not needed for one call).
using FakeButton = int (*)(_XDisplay *, unsigned int, int, unsigned long);
using FakeKey = int (*)(_XDisplay *, unsigned int, int, unsigned long);
const unsigned long KEYSYM_N = 0x6e;  // the letter key that plays A

// libpulse's simple API, loaded only once the program's audio set-up has been
// probed: raylib's audio backend gets no callbacks in a process linked to libpulse.
struct PulseSimple {
    decltype(&pa_simple_new) open = nullptr;
    decltype(&pa_simple_write) write = nullptr;
    decltype(&pa_simple_get_latency) latency = nullptr;
    decltype(&pa_simple_free) close = nullptr;
    decltype(&pa_strerror) error = nullptr;
    bool load()
    {
        void *simple = dlopen("libpulse-simple.so.0", RTLD_NOW | RTLD_GLOBAL);
        void *pulse = dlopen("libpulse.so.0", RTLD_NOW | RTLD_GLOBAL);
        if (!simple || !pulse) return false;
        open = (decltype(open))dlsym(simple, "pa_simple_new");
        write = (decltype(write))dlsym(simple, "pa_simple_write");
        latency = (decltype(latency))dlsym(simple, "pa_simple_get_latency");
        close = (decltype(close))dlsym(simple, "pa_simple_free");
        error = (decltype(error))dlsym(pulse, "pa_strerror");
        return open && write && latency && close && error;
    }
};
PulseSimple pa;

// The reference stream: silence in small blocks, and on request a button sent
// through XTEST followed at once by a click, with the stream's latency then.
struct Reference {
    pa_simple *stream = nullptr;
    _XDisplay *x = nullptr;
    FakeButton fake = nullptr;
    FakeKey fakeKey = nullptr;
    unsigned keycode = 0;  // the key pressed, or 0 for the mouse's left button
    std::atomic<int> request{0};  // 1 press, 2 release, 0 none
    std::atomic<bool> running{true};
    std::vector<double> latencies;  // seconds from writing each click to its sounding
    std::thread writer;

    bool start(const desk::Sound &sound, const desk::Display &d, bool keyboard)
    {
        for (const std::string &e : sound.env()) putenv(strdup(e.c_str()));
        void *lib = dlopen("libXtst.so.6", RTLD_NOW);
        fake = lib ? (FakeButton)dlsym(lib, "XTestFakeButtonEvent") : nullptr;
        fakeKey = lib ? (FakeKey)dlsym(lib, "XTestFakeKeyEvent") : nullptr;
        x = XOpenDisplay(d.name().c_str());
        keycode = keyboard && x ? XKeysymToKeycode(x, KEYSYM_N) : 0;
        pa_sample_spec format = {PA_SAMPLE_FLOAT32LE, SAMPLE_RATE, 1};
        // 30 ms of buffer rides out a busy moment without running dry; how much
        // is buffered when a click is written is asked, not assumed.
        pa_buffer_attr attr = {(uint32_t)-1, SAMPLE_RATE * 30 / 1000 * 4, (uint32_t)-1, 64 * 4, (uint32_t)-1};
        int err = 0;
        if (!pa.load()) {
            std::printf("latency benchmark: libpulse-simple could not be loaded\n");
            return false;
        }
        stream = pa.open(nullptr, "latency reference", PA_STREAM_PLAYBACK, "mirl", "clicks", &format, nullptr,
                               &attr, &err);
        if (!stream || !x || !fake) {
            std::printf("latency benchmark: no reference stream (%s), X display or XTEST\n",
                        stream ? "ok" : pa.error(err));
            return false;
        }
        writer = std::thread([this] { run(); });
        return true;
    }

    void run()
    {
        // Press, latency and click belong together: nothing may come between them.
        sched_param param{};
        param.sched_priority = 20;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        float block[64] = {};
        while (running) {
            int r = request.exchange(0);
            if (r) {
                if (keycode) fakeKey(x, keycode, r == 1, 0);
                else fake(x, 1, r == 1, 0);
                XSync(x, 0);  // the server has taken the press
                if (r == 1) {
                    int err = 0;
                    pa_usec_t lat = pa.latency(stream, &err);
                    float click[64] = {CLICK_BASE + CLICK_STEP * (float)latencies.size()};
                    latencies.push_back(lat / 1e6);
                    pa.write(stream, click, sizeof click, &err);
                    continue;
                }
            }
            int err = 0;
            pa.write(stream, block, sizeof block, &err);
        }
    }

    void send(int what)
    {
        request = what;
        while (request != 0) desk::sleepFor(0.0002);
    }

    void stop()
    {
        running = false;
        if (writer.joinable()) writer.join();
        if (stream) pa.close(stream);
        if (x) XCloseDisplay(x);
    }
};

struct Figures {
    std::vector<double> ms;  // key to sound of each press found
    int rejected = 0;        // presses whose reference click came late
};

// Reads the recording: each click is a lone sample standing above its
// neighbours by its press's height (the note's smooth wave cancels out of that
// measure); its note begins at the first sample that is not silent after at
// least 0.1 s of silence, within 0.3 s of the click on either side.
Figures analyse(const std::vector<float> &x, const std::vector<double> &latencies)
{
    Figures f;
    const size_t span = SAMPLE_RATE * 3 / 10, hush = SAMPLE_RATE / 10;
    size_t heard = 0;
    for (size_t c = 1; c + 1 < x.size(); c++) {
        float spike = x[c] - 0.5f * (x[c - 1] + x[c + 1]);
        if (spike < CLICK_BASE - CLICK_STEP / 2) continue;
        size_t press = (size_t)std::lround((spike - CLICK_BASE) / CLICK_STEP);
        if (press >= latencies.size()) continue;
        heard++;
        size_t quiet = 0, note = 0;
        for (size_t k = c > span ? c - span : 0; k < std::min(x.size(), c + span) && !note; k++) {
            if (k == c || x[k] == 0.0f) quiet++;
            else if (quiet >= hush) note = k;
            else quiet = 0;
        }
        if (!note) continue;
        double ms = ((double)note - (double)c) * 1000.0 / (double)SAMPLE_RATE + latencies[press] * 1000.0;
        // A note cannot sound before its key is pressed: the reference stream
        // ran dry and played its click later than the server had said.
        if (ms < 0) f.rejected++;
        else f.ms.push_back(ms);
    }
    if (heard != latencies.size())
        std::printf("latency benchmark: %zu clicks heard for %zu presses\n", heard, latencies.size());
    return f;
}

void printFigures(const char *what, Figures f)
{
    if (f.ms.empty()) {
        std::printf("key to sound, %s: no press found in the recording\n", what);
        return;
    }
    std::sort(f.ms.begin(), f.ms.end());
    std::printf("key to sound, %-12s median %5.1f ms  best %5.1f ms  90%% within %5.1f ms  worst %5.1f ms  "
                "(%zu presses, %d set aside)\n",
                what, f.ms[f.ms.size() / 2], f.ms.front(), f.ms[f.ms.size() * 9 / 10], f.ms.back(), f.ms.size(),
                f.rejected);
}

// The sound server's own figures for the program's stream, as pactl prints them.
void printServerFigures(const desk::Sound &sound, double *bufferMs)
{
    std::string out = desk::tempDir("latency") + "/inputs.txt";
    desk::Process p = desk::spawn({"pactl", "list", "sink-inputs"}, sound.env(), "", out);
    desk::waitExit(p, 10);
    std::string text = desk::readFile(out), block;
    size_t at = 0;
    *bufferMs = -1;
    while (at < text.size()) {
        size_t next = text.find("Sink Input #", at + 1);
        block = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
        at = next == std::string::npos ? text.size() : next;
        if (block.find("latency reference") != std::string::npos) continue;
        size_t b = block.find("Buffer Latency:"), s = block.find("Sink Latency:");
        if (b == std::string::npos || s == std::string::npos) continue;
        double buf = std::atof(block.c_str() + b + 15) / 1000.0, sink = std::atof(block.c_str() + s + 13) / 1000.0;
        std::printf("sound server, the program's stream: buffer %.1f ms + sink %.1f ms\n", buf, sink);
        *bufferMs = buf + sink;
    }
}

// The program's audio set-up in this process (the same raylib build): how
// often and for how many frames the device asks for sound.
double callbackPeriodMs()
{
    static std::atomic<int> calls{0};
    static std::atomic<long> frames{0};
    SetTraceLogLevel(LOG_WARNING);
    InitAudioDevice();
    if (!IsAudioDeviceReady()) return -1;
    SetAudioStreamBufferSizeDefault(AUDIO_BUFFER_FRAMES);
    AudioStream s = LoadAudioStream(SAMPLE_RATE, STREAM_SAMPLE_BITS, STREAM_CHANNELS);
    SetAudioStreamCallback(s, [](void *buf, unsigned int n) {
        std::fill((float *)buf, (float *)buf + n, 0.0f);
        calls++;
        frames += n;
    });
    PlayAudioStream(s);
    // The first callbacks can take a second or more to come; time the steady flow.
    for (int i = 0; i < 100 && calls < 50; i++) desk::sleepFor(0.05);
    int c0 = calls;
    long f0 = frames;
    double t0 = desk::now();
    desk::sleepFor(1.0);
    int c = std::max(calls - c0, 1);
    double period = (desk::now() - t0) * 1000.0 / c;
    std::printf("audio device: a callback every %.2f ms for %.0f frames on average\n", period,
                (double)(frames - f0) / c);
    UnloadAudioStream(s);
    CloseAudioDevice();
    return period;
}

Figures measure(const std::string &program, const desk::Display &d, const desk::Sound &sound,
                const std::vector<std::string> &args, bool keyboard, double *bufferMs)
{
    Figures none;
    desk::Mirl m;
    std::vector<std::string> env = sound.env();
    // startMirl runs this build's program; another one is started the same way.
    if (program != desk::mirlPath()) {
        std::vector<std::string> argv = args;
        argv.insert(argv.begin(), program);
        env.push_back(d.env());
        env.push_back("LIBGL_ALWAYS_SOFTWARE=1");
        m.proc = desk::spawn(argv, env, desk::sourceDir(), desk::tempDir("mirl") + "/stdout.txt");
        m.ok = desk::findWindow(d, "Mirl", 300, 30, &m.window);
        desk::sleepFor(0.5);
        if (m.ok) desk::findWindow(d, "Mirl", 300, 5, &m.window);
    } else {
        m = desk::startMirl(d, env, args);
    }
    if (!m.ok) {
        std::printf("latency benchmark: the program did not open its window\n");
        desk::stop(m.proc);
        return none;
    }
    int side = m.window.width;
    // The shortest release, so the sink falls silent soon after each note.
    Vector2 knob = face::controlScreen(KNOB_RELEASE, side);
    desk::mouseMove(d, m.window, (int)knob.x, (int)knob.y);
    desk::sleepFor(0.1);
    desk::mouseDown(d, 1);
    desk::sleepFor(0.1);
    for (int i = 0; i < 15; i++, desk::sleepFor(0.04)) desk::mouseMoveBy(d, 0, 20);
    desk::mouseUp(d, 1);
    desk::sleepFor(0.2);
    Vector2 key = face::controlScreen(KEY_A, side);
    desk::mouseMove(d, m.window, (int)key.x + 3, (int)key.y + 15);
    desk::sleepFor(0.05);
    desk::mouseMove(d, m.window, (int)key.x, (int)key.y + 12);
    desk::sleepFor(0.3);

    std::string wav = desk::tempDir("latency") + "/take.wav";
    desk::Process rec = desk::startRecording(sound, wav);
    Reference ref;
    desk::setKeyboardFocus(d, m.window.id);
    if (!ref.start(sound, d, keyboard)) {
        desk::stopRecording(rec);
        desk::closeMirl(d, m);
        return none;
    }
    desk::sleepFor(0.6);
    for (int i = 0; i < PRESSES; i++) {
        ref.send(1);
        desk::sleepFor(0.12);
        ref.send(2);
        if (i == PRESSES / 2) printServerFigures(sound, bufferMs);
        // Presses fall at no fixed place in the frame: wait a little more each time.
        desk::sleepFor(0.6 + 0.0037 * i);
    }
    desk::sleepFor(0.3);
    ref.stop();
    desk::stopRecording(rec);
    desk::closeMirl(d, m);
    return analyse(desk::readWav(wav), ref.latencies);
}

}  // namespace

int main(int argc, char **argv)
{
    std::string program = argc > 1 ? argv[1] : desk::mirlPath();
    desk::Display d = desk::startDisplay(1280, 1024);
    desk::Sound sound = desk::startSound();
    if (d.number < 0 || sound.server.pid <= 0) {
        std::printf("latency benchmark: no X server or sound server\n");
        return 1;
    }
    std::printf("latency benchmark: %s, %d presses of the A key by mouse and by keyboard, LP_NUM_THREADS=%s\n", program.c_str(), PRESSES,
                getenv("LP_NUM_THREADS") ? getenv("LP_NUM_THREADS") : "(Mesa default)");
    for (const std::string &e : sound.env()) putenv(strdup(e.c_str()));
    double period = callbackPeriodMs();
    double buffer800 = -1, buffer600 = -1;
    printFigures("800 window", measure(program, d, sound, {}, false, &buffer800));
    printFigures("600 window", measure(program, d, sound, {"-small"}, false, &buffer600));
    double ignored;
    printFigures("800 keyboard", measure(program, d, sound, {}, true, &ignored));
    printFigures("600 keyboard", measure(program, d, sound, {"-small"}, true, &ignored));
    if (period > 0 && buffer800 >= 0)
        std::printf("MIDI note to sound: up to 15 ms poll + up to %.1f ms to the next callback + %.1f ms buffered "
                    "= %.1f ms at worst, %.1f ms on average\n",
                    period, buffer800, 15 + period + buffer800, 7.5 + period / 2 + buffer800);
    desk::stopSound(sound);
    desk::stopDisplay(d);
    return 0;
}
