// Helpers for tests and benchmarks that run the real program the way a user
// does: on a real X server (Xvfb), with real mouse input (xdotool), playing
// into a real sound server (a PulseAudio null sink) that the caller records.
// No test framework here: the callers check what the calls return.
#pragma once
#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

namespace desk {

// A child process with its standard output (and error) captured to a file.
struct Process {
    pid_t pid = -1;
    std::string outFile;
    int exitCode = -1;      // set by waitExit
    bool exited = false;
};

// Starts argv[0] with the given extra environment ("NAME=value") in folder cwd.
Process spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
              const std::string &cwd, const std::string &outFile);
// Waits up to seconds for the process to end; true when it ended (exitCode set).
bool waitExit(Process &p, double seconds);
// Ends the process (TERM, then KILL) if it still runs.
void stop(Process &p);
// Runs a command to completion and returns its exit status.
int run(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});
// Returns the whole content of a file ("" when missing).
std::string readFile(const std::string &path);
// splitmix64 random numbers: the same on every machine and library, so a
// failing case of a seeded test can be run again by its index.
struct Rng {
    uint64_t s;
    uint64_t next()
    {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(size_t n) { return n ? (int)(next() % n) : 0; }
    bool chance(int percent) { return below(100) < percent; }
};
// A fresh temporary folder.
std::string tempDir(const std::string &tag);
// Sleeps for the given seconds.
void sleepFor(double seconds);
// Seconds on the steady clock, for measuring what took how long.
double now();

// An X server of the given screen size.
struct Display {
    Process server;
    int number = -1;
    std::string name() const { return ":" + std::to_string(number); }
    std::string env() const { return "DISPLAY=" + name(); }
};
Display startDisplay(int width, int height, const std::vector<std::string> &serverArgs = {});
void stopDisplay(Display &d);

// A private PulseAudio server with one float32 44100 Hz null sink named "mirl".
struct Sound {
    Process server;
    std::string runtimeDir;
    std::vector<std::string> env() const;
};
// A private sound server whose one sink, "mirl", runs at the given rate.
Sound startSound(int rate = 44100);
void stopSound(Sound &s);
// Starts recording the sink's monitor into a mono float WAV file.
Process startRecording(const Sound &s, const std::string &wavPath, int rate = 44100);
// Stops a recording cleanly so the WAV header is complete.
void stopRecording(Process &rec);
// Reads a mono float WAV file.
std::vector<float> readWav(const std::string &path, int *rate = nullptr);

// The program under test.
std::string mirlPath();
std::string sourceDir();

// A top-level window found on the display.
struct Window {
    unsigned long id = 0;
    int x = 0, y = 0, width = 0, height = 0;
};
// Waits until a window titled title of at least minSide pixels is mapped.
bool findWindow(const Display &d, const std::string &title, int minSide, double seconds, Window *out);
// Asks the window to close as a window manager would (WM_DELETE_WINDOW).
void requestClose(const Display &d, const Window &w);
// Grabs the window's pixels as 0xRRGGBB values, row by row.
std::vector<uint32_t> screenshot(const Display &d, const Window &w);

// Watches what the X server puts into a window (the DAMAGE extension): full
// swaps and partial presents alike, counted from outside the program.
struct DamageWatch {
    void *x = nullptr;  // the watcher's own connection
    unsigned long damage = 0;
    int eventBase = 0;
    unsigned long lastTime = 0;  // server time of the last put seen
};
// What was put into the window since the last look.
struct DamageSeen {
    int frames = 0;       // bursts of puts, each at least 4 ms after the last
    int puts = 0;         // rectangles put
    double pixels = 0;    // their area
    bool whole = false;   // one of them was the whole window
};
DamageWatch watchDamage(const Display &d, const Window &w);
DamageSeen takeDamage(DamageWatch &watch, const Window &w);
void stopWatching(DamageWatch &watch);

// Mouse through xdotool, in window coordinates.
void mouseMove(const Display &d, const Window &w, int x, int y);
// Moves the pointer by (dx, dy) pixels from wherever it is.
void mouseMoveBy(const Display &d, int dx, int dy);
// Reads where the pointer is, in window coordinates; false when it cannot be read.
bool mouseLocation(const Display &d, const Window &w, int *x, int *y);
void mouseDown(const Display &d, int button);
void mouseUp(const Display &d, int button);
// Holds a key for a few frames so a polling program sees it.
void holdKey(const Display &d, const std::string &key, double seconds = 0.2);
// Presses or releases keys through xdotool (XTEST), as a user's fingers do, in the order given.
void keyDown(const Display &d, const std::vector<std::string> &keys);
void keyUp(const Display &d, const std::vector<std::string> &keys);
// Gives the keyboard focus to a window, or to no window at all (id 0).
void setKeyboardFocus(const Display &d, unsigned long window);
// Turns the X server's key repeat on or off for every key.
void setKeyRepeat(const Display &d, bool on);

// A program started on a display and sound server, with its window found.
struct Mirl {
    Process proc;
    Window window;
    bool ok = false;
};
Mirl startMirl(const Display &d, const std::vector<std::string> &soundEnv,
               const std::vector<std::string> &args = {}, const std::string &cwd = "");
// Closes the window as a user does and returns the exit code (-1 on timeout).
int closeMirl(const Display &d, Mirl &m, double seconds = 10);

// A busy desktop beside the program under test (tools/harness/load.cpp):
// faces more of the program on displays of their own, each switching help mode
// on and off and drawing tooltips, and, with diskWriter, a file of 1.5 GB
// written and flushed to disk over and over.
struct Load;
Load *startLoad(int faces, bool diskWriter);
// True while every face of the load came up and runs.
bool loadRunning(const Load *load);
// The megabytes the disk writer has flushed so far.
long loadWrittenMb(const Load *load);
// Ends the load; returns the megabytes the disk writer flushed.
long stopLoad(Load *load);

// Whether something outside the program took the processors from it during a
// take: the machine's host stopping this virtual machine, or the kernel
// keeping a processor to itself. Two witnesses: the host's share of all
// processor time (the "steal" column of /proc/stat), and on each processor a
// thread above every real-time thread of the program and the sound server
// that sleeps 1 ms at a time and keeps the longest it could not run. On a busy
// host the second sees what the first can miss: beside two busy loops and
// nothing else it missed 152 ms. Beside a disk writer, the kernel wrote back
// its pages for 11.8 ms on one processor, and the sound server's and the
// program's sound threads, woken there, waited that long.
struct HostWatch;
HostWatch *watchHost();
struct HostTook {
    double percent;       // of all processor time, taken by the host
    double longestStopMs; // the longest a witness thread could not run
    // 3.5% taken, or a processor held for 10 ms in one piece: the stream holds
    // 8 ms when the server asks for more, and the sink about 2 ms. Longer than
    // that, the sound threads could not have filled it, whatever the program
    // did: a recording says nothing about the program.
    bool spoils() const { return percent >= 3.5 || longestStopMs >= 10; }
};
// Ends the watch and says what the host took.
HostTook stopWatchingHost(HostWatch *watch);

// A run of this many silent samples inside a held note is a gap a listener hears.
enum { GAP_SAMPLES = 64 };
struct Gaps {
    size_t count;     // runs of GAP_SAMPLES or more exactly silent samples
    size_t longest;   // the longest silent run, in samples
};
// The gaps in samples [from, to) of a recording.
Gaps countGaps(const std::vector<float> &x, size_t from, size_t to);

}  // namespace desk
