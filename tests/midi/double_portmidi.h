// A scripted device side of PortMidi for the devices this machine lacks; the
// queue and PortTime stay PortMidi's own. Misuse fails the running test.
#pragma once
#include <portmidi.h>
#include <deque>
#include <mutex>
#include <vector>

namespace dbl {
struct Device {
    const char *name;
    int input, output, failOpens = 0;   // failOpens: opens still to refuse
};
extern std::vector<Device> devices;             // the device list, set before midiStart
extern std::deque<std::vector<PmEvent>> reads;  // one batch per Pm_Read (an empty one is a read error)
extern std::mutex lock;                         // hold while changing `reads` with PortMidi running
extern int openId, opens;                       // the open device (-1: none); successful opens
}  // namespace dbl
