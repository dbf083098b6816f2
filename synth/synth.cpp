// The synth engine: placeholder until the voices land. Plays silence.
#include "synth/synth.h"
#include "panel/panel.h"

void resetSynth() {}

void audioCallback(void *buffer, unsigned int frames)
{
    float *out = static_cast<float *>(buffer);
    for (unsigned int i = 0; i < frames; i++) out[i] = 0.0f;
}

float scopeSample(int) { return 0.0f; }
int scopeOldestIndex() { return 0; }
