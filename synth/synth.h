// synth: eight voices of oscillator, wavefolder, ladder filter and envelope,
// one LFO, patch modulation, and the audio callback that mixes them.
// Everything here except resetSynth and the scope readers runs on the audio thread.
#pragma once
#include <cstdint>

enum { VOICE_COUNT = 8, SCOPE_SIZE = 400, SAMPLE_RATE = 44100 };

// A voice that has never been given a note holds this note number, which no
// MIDI message can carry, so the first note 0 is fresh and sounds at its pitch.
enum { NO_NOTE = -1 };

enum EnvelopeStage : int32_t { STAGE_ATTACK = 0, STAGE_DECAY = 1, STAGE_SUSTAIN = 2, STAGE_RELEASE = 3 };

// Four one-pole sections with inverted feedback and a cubic soft clip.
struct LadderFilter {
    float f, k, p, r;            // normalised cutoff, pole, input and feedback coefficients
    float y1, y2, y3, y4;        // section outputs at the last sample
    float x1;                    // first section input at the last sample, clamped to +-1
    float y1old, y2old, y3old;   // section outputs at the last sample, clamped to +-1
};

// ADSR state of one voice.
struct Envelope {
    int32_t stage;          // EnvelopeStage
    uint32_t attackCount;   // samples spent in Attack since the last note-on
    int32_t onTime;         // note-on time, ms of the MIDI clock
    int32_t offTime;        // note-off time, ms; -1 while the key is held
    float level;            // linear level 0..1
    float output;           // envelopeCurve(level)
};

// One of the eight voices.
struct Voice {
    int32_t phase;          // samples into the current oscillator period
    float freq;             // the note's frequency, Hz
    float freqBelow;        // one semitone lower (target of negative detune)
    float freqAbove;        // one semitone higher (target of positive detune)
    int32_t note;           // note held, NO_NOTE before the first note
    int32_t velocity;       // velocity of the last note-on (not used by the sound)
    bool gate;              // the key is held
    bool active;            // the voice sounds and is processed
    LadderFilter filter;
    Envelope envelope;
};

// The global sine LFO. The counter is 64-bit and the phase double so that the
// wave stays smooth over days of running.
struct Lfo {
    uint64_t counter;       // samples since the phase origin
    float rate;             // Hz
    double phase;           // radians of the last sample produced, not wrapped
};

// Engine value at knob 0 and knob 1 for each SynthParams index.
struct ParamRange {
    float start, end;
};
extern const ParamRange ParamRangeTable[13];

// Zeroes all eight voices and the scope samples (start-up, before the stream plays).
void resetSynth();
// Asks the next audioCallback to put its own thread ahead of the renderer's (the live stream only).
void raiseSoundThreadOnNextCall();
// raylib's stream callback: fills frames mono float samples in [-1, 1].
void audioCallback(void *buffer, unsigned int frames);
// Main thread: scope sample i of the ring (0..399), read without a lock.
float scopeSample(int i);
// Main thread: index of the oldest scope sample, the next to be overwritten.
int scopeOldestIndex();

// Tests: run the frames with AVX2 lanes (when the processor has them) or plain
// SSE2; returns whether AVX2 is now in use. Both give the same samples.
bool useWideLanes(bool on);

// ---- voices and notes (audio thread) ----
// Returns the eight voices.
Voice *voicePool();
// Returns the LFO.
Lfo *synthLfo();
// Takes every queued event and applies it in order.
void drainNoteEvents();
// Starts a fresh voice or retriggers the one holding the note.
void noteOn(int note, int velocity, int time);
// Releases every voice holding the note.
void noteOff(int note, int time);
// Releases every voice.
void allNotesOff(int time);
// Equal-tempered frequency of a note number, Hz.
float noteFrequency(int note);

// ---- the signal chain ----
// One oscillator sample at counter n: sine, triangle, falling saw blended by shape.
float oscillatorSample(float n, float freq, float shape);
// Whole-sample period of freq: the counter runs 0 .. period - 1.
double oscillatorPeriod(float freq);
// The voice's frequency detuned by tune (-1..1 semitone, linear in Hz).
float detunedFrequency(const Voice &v, float tune);
// Triangle folding of x at threshold b; the result lies in [-b, b].
float foldSample(float x, float b);
// Computes the filter coefficients for a cutoff in Hz and a resonance 0..1.
void filterSetup(LadderFilter &filter, float cutoff, float resonance);
// Filters one sample and returns the new output.
float filterProcess(LadderFilter &filter, float in);
// Advances one sample; returns false when the release has just reached 0.
bool envelopeTick(Envelope &env, bool gate, float a, float d, float s, float r);
// Logarithmic curve from the linear level to the output gain.
float envelopeCurve(float x);
// Sets the LFO rate, keeping the phase reached.
void lfoSetRate(Lfo &lfo, float rate);
// Advances the LFO one sample and returns its value times depth.
float lfoTick(Lfo &lfo, float depth);

// ---- parameters ----
// Knob value of index plus offset, mapped through the range table and clamped.
float modulatedParam(int index, float offset);
// Linear map from one range to another, clamped to the output range (either direction).
float remapClamped(float x, float inStart, float inEnd, float outStart, float outEnd);
// 1 at or above 1, -1 at or below -1, else x.
float clampUnit(float x);
