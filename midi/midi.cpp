// MIDI input: placeholder until the PortMidi input lands.
#include "midi/midi.h"

void midiStart() {}
void midiStop() {}
void midiNextDevice() {}
const char *midiDeviceName() { return nullptr; }
void midiPostNote(int, int, int) {}
void midiPostEvent(int, int, int, int) {}
int midiNextEvent(int *, int *, int *, int *) { return 0; }
int midiNow() { return 0; }
void midiPoll(int32_t, void *) {}
