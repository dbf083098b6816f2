// midi: one MIDI input device over PortMidi, polled every 15 ms by the
// PortTime timer, and the note event queue that the MIDI device and the
// on-screen keyboard share. The audio thread drains the queue.
#pragma once
#include <cstdint>

// Brings up PortMidi, the queue and the 15 ms poll; lists devices and opens the first input.
void midiStart();
// Closes the device (releasing its held notes), stops the timer, destroys the queue and shuts PortMidi down.
void midiStop();
// Brings up only the queue and the clock, with no devices and no poll (offline rendering).
void midiStartQueue();
// Stops the clock and destroys the queue that midiStartQueue made.
void midiStopQueue();
// Closes the open device and opens the next input device after it, wrapping around.
void midiNextDevice();
// Returns the name of the open input device, or nullptr when none is open.
const char *midiDeviceName();
// Posts a three-byte message stamped with the MIDI clock (low 8 bits of each value).
void midiPostNote(int status, int data1, int data2);
// Posts a three-byte message with a given timestamp (midiPostNote uses the clock).
void midiPostEvent(int timestamp, int status, int data1, int data2);
// Audio thread: takes one event; returns 1 and fills the outputs, or 0 when none (lock-free).
int midiNextEvent(int *timestamp, int *status, int *data1, int *data2);
// Returns the MIDI clock: milliseconds since midiStart.
int midiNow();
// The PortTime callback: moves what the device delivered into the queue.
void midiPoll(int32_t timestamp, void *userData);

// Prints every device PortMidi knows, inputs and outputs alike.
void midiListDevices();
// Returns the first input device after the given id, wrapping around; -1 when there is none.
int midiFindInput(int after);
// Prints the device banner and opens the device as the input; on failure nothing is open.
void midiOpenDevice(int id);
// Closes the open input, if any, and posts a note-off for each note it left held; afterwards no device is open.
void midiCloseDevice();
