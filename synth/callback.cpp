// The live program's sound: the one engine its callback plays, fed the
// newest knobs and cables and the queued notes, on a raised thread.
#include <atomic>
#include "midi/midi.h"
#include "panel/panel.h"
#include "synth/engine.h"
#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <sched.h>
#endif

static SynthState live;   // the live program's engine (and the renderer's)
static std::atomic<bool> raisePending{false};

SynthState &liveSynth() { return live; }
void resetSynth() { resetSynth(live); }
Lfo *synthLfo() { return &live.lfo; }

LadderFilter voiceFilter(int j) { return laneFilter(live.fast.bank, j); }

// Puts the thread that plays the sound ahead of the renderer's threads. On a
// small machine software rendering can keep every core busy, and a sound
// thread of ordinary priority then misses its turn and the sound drops out.
// Where the system refuses (no permission), nothing changes.
static void raiseSoundThreadPriority()
{
#if defined(__unix__) || defined(__APPLE__)
    sched_param param{};
    param.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
}

void raiseSoundThreadOnNextCall() { raisePending.store(true, std::memory_order_release); }

void audioCallback(void *buffer, unsigned int frames)
{
    if (raisePending.load(std::memory_order_relaxed) && raisePending.exchange(false, std::memory_order_acquire))
        raiseSoundThreadPriority();
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
