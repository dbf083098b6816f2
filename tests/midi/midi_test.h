// Helpers shared by the MIDI tests: catching standard output and taking
// events from the queue the way the audio thread does.
#pragma once
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <thread>
#include "midi/midi.h"

// libportmidi keeps a few bytes per start for good (PortTime's parameter block).
extern "C" const char *__lsan_default_suppressions() { return "leak:libportmidi.so\n"; }

inline void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Runs f, then waits waitMs, with fd 1 (every thread's printf) going to a file; returns what was printed.
template <class F> std::string printed(F f, int waitMs = 0)
{
    char path[] = "/tmp/mirl-midi-XXXXXX";
    int fd = mkstemp(path), saved = (std::fflush(stdout), dup(1));
    dup2(fd, 1);
    f();
    sleepMs(waitMs);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text(lseek(fd, 0, SEEK_END), '\0');
    if (pread(fd, text.data(), text.size(), 0) != (ssize_t)text.size()) text = "(unreadable)";
    close(fd);
    unlink(path);
    return text;
}

struct Event {
    int timestamp = -1, status = -1, data1 = -1, data2 = -1;
    bool operator==(const Event &) const = default;
};
inline std::ostream &operator<<(std::ostream &o, const Event &e)
{
    return o << '@' << e.timestamp << ' ' << e.status << ' ' << e.data1 << ' ' << e.data2;
}

// Takes one event as the audio thread does; false when the queue gave none.
inline bool take(Event &e) { return midiNextEvent(&e.timestamp, &e.status, &e.data1, &e.data2); }
