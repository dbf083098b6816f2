// Helpers shared by the MIDI tests, and the script of the device side of
// PortMidi (double_portmidi.cpp) in the binaries that link it.
#pragma once
#include <gtest/gtest.h>
#include <portmidi.h>
#include <array>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "midi/midi.h"

inline void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Runs f, then waits waitMs, with fd 1 (every thread's printf) caught; returns what was printed.
template <class F> std::string printed(F f, int waitMs = 0)
{
    testing::internal::CaptureStdout();
    f(), sleepMs(waitMs);
    return testing::internal::GetCapturedStdout();
}

using Event = std::array<int, 4>;   // timestamp, status, data1, data2
// Takes one event as the audio thread does; false when the queue gave none.
inline bool take(Event &e) { return midiNextEvent(&e[0], &e[1], &e[2], &e[3]); }

namespace dbl {
struct Device { const char *name; int input, output, failOpens = 0; };   // failOpens: opens still to refuse
extern std::vector<Device> devices;             // the device list, set before midiStart
extern std::deque<std::vector<PmEvent>> reads;  // one batch per Pm_Read (an empty one is a read error)
extern std::mutex lock;                         // hold while changing `reads` with PortMidi running
extern int openId, opens;                       // the open device (-1: none); successful opens
extern int emptyReads;                          // reads that found no batch (under `lock`)
}  // namespace dbl

// Waits until the poll has read every batch in dbl::reads and posted what they carried: the poll reads,
// posts and reads again, so an empty read after the last batch means it is all in the queue.
inline void waitForReads()
{
    std::unique_lock<std::mutex> hold(dbl::lock);
    for (int seen = dbl::emptyReads, i = 0; i < 10000 && !(dbl::reads.empty() && dbl::emptyReads > seen); i++)
        hold.unlock(), sleepMs(1), hold.lock();
}
