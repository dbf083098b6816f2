// A scripted stand-in for PortMidi's device side (device list, open, close,
// read), linked into the test binaries that need MIDI devices this machine
// lacks. The queue and PortTime stay PortMidi's own.
#pragma once
#include <portmidi.h>
#include <string>
#include <vector>

namespace dbl {

struct Device {
    std::string name;
    int input = 0, output = 0;
};

// Replaces the device list (call before midiStart).
void setDevices(const std::vector<Device> &devices);
// Makes the next `times` opens of device id fail.
void failOpen(int id, int times = 1);
// Queues events for the open stream to deliver, at most `perRead` per Pm_Read (0: no limit).
void feed(const std::vector<PmEvent> &events, int perRead = 0);
// While set, Pm_Read returns this error instead of events (pmNoError clears it).
void setReadError(PmError error);
// Makes every Pm_Read deliver `count` new events stamped with a running sequence number.
void setStream(int status, int count);

// What PortMidi saw.
struct Record {
    int openId = -1;          // device whose stream is open, -1 when none
    int opens = 0, closes = 0, reads = 0;
    int initialized = 0;      // Pm_Initialize calls minus Pm_Terminate calls
    int misuse = 0;           // reads of a stream not open, open or close during a read, double opens
    long streamed = 0;        // events delivered by setStream so far
};
Record record();

}  // namespace dbl
