// synth: eight voices of oscillator, wavefolder, ladder filter and envelope,
// one LFO, patch modulation, and the audio callback that mixes them.
// Everything here except resetSynth and the scope readers runs on the audio thread.
#pragma once
#include <cstdint>

enum { VOICE_COUNT = 8, SCOPE_SIZE = 400, SAMPLE_RATE = 44100 };

// Zeroes all eight voices and the scope samples (start-up, before the stream plays).
void resetSynth();
// raylib's stream callback: fills frames mono float samples in [-1, 1].
void audioCallback(void *buffer, unsigned int frames);
// Main thread: scope sample i of the ring (0..399), read without a lock.
float scopeSample(int i);
// Main thread: index of the oldest scope sample, the next to be overwritten.
int scopeOldestIndex();
