// The live program's sound: the one engine its callback plays, fed the
// newest knobs and cables and the queued notes, on a raised thread.
#include <atomic>
#include "midi/midi.h"
#include "panel/panel.h"
#include "synth/engine.h"

static SynthState live;   // the live program's engine (and the renderer's)

SynthState &liveSynth() { return live; }
void resetSynth() { resetSynth(live); }
Lfo *synthLfo() { return &live.lfo; }

LadderFilter voiceFilter(int j) { return laneFilter(live.fast.bank, j); }

void audioCallback(void *buffer, unsigned int frames)
{
    soundThreadTick(frames);
    SynthParams knobs;
    ModRouting routing;
    readParams(&knobs, &routing);
    drainNoteEvents();
    renderSynth(live, static_cast<float *>(buffer), frames, knobs, routing);
}

float scopeSample(int i) { return scopeSample(live, i); }
int scopeOldestIndex() { return live.scopeIndex.load(std::memory_order_relaxed); }

// The live program's engine takes its notes from the note queue.
void drainNoteEvents()
{
    int time, status, data1, data2;
    while (midiNextEvent(&time, &status, &data1, &data2)) applyNoteEvent(liveSynth(), time, status, data1, data2);
}

Voice *voicePool() { return liveSynth().voices; }
void noteOn(int note, int velocity, int time) { noteOn(liveSynth(), note, velocity, time); }
void noteOff(int note, int time) { noteOff(liveSynth(), note, time); }
void allNotesOff(int time) { allNotesOff(liveSynth(), time); }
