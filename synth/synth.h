// synth: eight voices of oscillator, wavefolder, ladder filter and envelope,
// one LFO, patch modulation, and the audio callback that mixes them.
// Everything here except resetSynth and the scope readers runs on the audio thread.
// The building blocks themselves (one sample of each stage) are in synth/blocks.h.
#pragma once
#include <cstdint>
#include "panel/constants.h"

enum { VOICE_COUNT = 8 };

// A voice that has never been given a note holds this note number, which no
// MIDI message can carry, so the first note 0 is fresh and sounds at its pitch.
enum { NO_NOTE = -1 };

enum EnvelopeStage : int32_t { STAGE_ATTACK = 0, STAGE_DECAY = 1, STAGE_SUSTAIN = 2, STAGE_RELEASE = 3 };

// What a note-on did to a voice since the engine last looked: the callback
// starts the voice's filter again from silence (fresh) and forgets what its
// filter played (either).
enum VoiceRestart : int32_t { RESTART_NONE = 0, RESTART_RETRIGGERED = 1, RESTART_FRESH = 2 };

// ADSR state of one voice.
struct Envelope {
    int32_t stage;          // EnvelopeStage
    uint32_t attackCount;   // samples spent in Attack since the last note-on
    int32_t onTime;         // note-on time, ms of the MIDI clock
    int32_t offTime;        // note-off time, ms; -1 while the key is held
    float level;            // linear level 0..1
    float output;           // envelopeCurve(level)
};

// One of the eight voices: its key, pitch and envelope. Its ladder filter
// runs in the engine's filter lanes (voiceFilter reads it).
struct Voice {
    int32_t phase;          // samples into the current oscillator period
    float freq;             // the note's frequency, Hz
    float freqBelow;        // one semitone lower (target of negative detune)
    float freqAbove;        // one semitone higher (target of positive detune)
    int32_t note;           // note held, NO_NOTE before the first note
    int32_t velocity;       // velocity of the last note-on (not used by the sound)
    bool gate;              // the key is held
    bool active;            // the voice sounds and is processed
    int32_t restart;        // VoiceRestart, cleared when the callback has seen it
    Envelope envelope;
};

// Four one-pole sections with inverted feedback and a cubic soft clip.
struct LadderFilter {
    float f, k, p, r;            // normalised cutoff, pole, input and feedback coefficients
    float y1, y2, y3, y4;        // section outputs at the last sample
    float x1;                    // first section input at the last sample, clamped to +-1
    float y1old, y2old, y3old;   // section outputs at the last sample, clamped to +-1
};

// The global sine LFO. The counter is 64-bit and the phase double so that the
// wave stays smooth over days of running.
struct Lfo {
    uint64_t counter;       // samples since the phase origin
    float rate;             // Hz
    double phase;           // radians of the last sample produced, not wrapped
};

// The ways the callback can run the eight filters side by side.
enum LanePath : int32_t {
    LANES_PLAIN = 0,   // plain C++, one lane after the other (every processor)
    LANES_SSE2 = 1,    // x86 vector lanes, 128 bits
    LANES_AVX2 = 2,    // x86 vector lanes, 256 bits (when the processor has them)
};

// ---- engines ----
// The global functions below play the live program's engine (the renderer's
// too). A host that runs several engines side by side gives each one a
// SynthState of its own: voices, filters, LFO and scope, sharing nothing.
struct SynthState;
struct SynthParams;
struct ModRouting;
// Makes a silent engine of its own, or none when memory is short (start-up only: it allocates).
SynthState *createSynth();
// Frees an engine made by createSynth.
void destroySynth(SynthState *s);
// Zeroes an engine's voices, filters and scope samples; its LFO runs on.
void resetSynth(SynthState &s);
// Fills out with frames samples in [-1, 1] from these knobs and cables, after the notes applied so far.
void renderSynth(SynthState &s, float *out, unsigned frames, const SynthParams &knobs, const ModRouting &routing);
// Applies one MIDI message as the note queue's are applied: note on, note off, Stop; the rest is ignored.
void applyNoteEvent(SynthState &s, int time, int status, int data1, int data2);
// Stops every voice at once, without a release.
void silenceVoices(SynthState &s);
// An engine's eight voices.
Voice *voicePool(SynthState &s);
// An engine's LFO.
Lfo *synthLfo(SynthState &s);
// Scope sample i of an engine's ring.
float scopeSample(const SynthState &s, int i);
// Starts a fresh voice of an engine or retriggers the one holding the note.
void noteOn(SynthState &s, int note, int velocity, int time);
// Releases every voice of an engine holding the note.
void noteOff(SynthState &s, int note, int time);
// Releases every voice of an engine.
void allNotesOff(SynthState &s, int time);

// ---- the live engine ----
// Zeroes the eight voices, their filters and the scope samples; the LFO runs on (start-up, before the stream plays).
void resetSynth();
// ---- the live sound thread (synth/soundthread.cpp) ----
// What the system granted the sound thread.
enum SoundPriority : int32_t {
    PRIORITY_UNASKED = 0,            // no callback has run yet
    PRIORITY_REALTIME = 1,           // real-time priority, as asked
    PRIORITY_REALTIME_LIMITED = 2,   // real-time priority up to the user's limit
    PRIORITY_ORDINARY = 3,           // refused: the thread runs among all the others
};
enum SoundMemory : int32_t { MEMORY_UNLOCKED = 0, MEMORY_LOCKED = 1, MEMORY_PARTLY_LOCKED = 2 };
// When the sound server called for sound, as the sound thread saw it.
struct SoundThreadReport {
    uint64_t calls, frames;      // callbacks so far and the frames they asked for
    double meanGapMs;            // average time from one callback to the next
    double worstGapMs;           // longest time between two callbacks
    double worstLateMs;          // furthest a callback came behind the sound's own clock
    int32_t priority;            // SoundPriority
    int32_t memory;              // SoundMemory
};
// Asks the next audioCallback to put its own thread ahead of the renderer's (the live stream only).
void raiseSoundThreadOnNextCall();
// Sound thread, at the start of each live callback: raises its priority when asked and notes the call's time.
void soundThreadTick(unsigned frames, unsigned rate);
// Main thread: the timing so far and what priority and memory locking were granted.
SoundThreadReport soundThreadReport();
// Main thread, once the stream plays: locks the memory the sound path runs through; returns a SoundMemory.
int lockSoundMemory();
// Main thread, before the stream plays: has audioCallback convert to a device
// rate other than 44100 Hz; false if it cannot (the stream then plays at 44100 Hz).
bool startSoundConversion(unsigned deviceRate);
// Main thread, once the stream has stopped: back to the engine's own rate.
void stopSoundConversion();
// raylib's stream callback: fills frames mono float samples in [-1, 1].
void audioCallback(void *buffer, unsigned int frames);
// Main thread: scope sample i of the ring (0..SCOPE_SIZE-1), read without a lock.
float scopeSample(int i);
// Main thread: index of the oldest scope sample, the next to be overwritten.
int scopeOldestIndex();

// ---- voices and notes (audio thread) ----
// Returns the eight voices.
Voice *voicePool();
// Returns the LFO.
Lfo *synthLfo();
// Voice j's ladder filter as it stands after the last callback.
LadderFilter voiceFilter(int j);
// Takes every queued event and applies it in order.
void drainNoteEvents();
// Starts a fresh voice or retriggers the one holding the note.
void noteOn(int note, int velocity, int time);
// Releases every voice holding the note.
void noteOff(int note, int time);
// Releases every voice.
void allNotesOff(int time);

// Tests: runs the following callbacks on the given lanes, or the best this
// processor has below them; returns the path now in use. All give the same samples.
LanePath useLanePath(LanePath wanted);
