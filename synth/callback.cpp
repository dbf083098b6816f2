// The live program's sound: the one engine its callback plays, fed the
// newest knobs and cables and the queued notes, on a raised thread.
#include <samplerate.h>
#include <atomic>
#include <cstring>
#include "midi/midi.h"
#include "panel/panel.h"
#include "synth/engine.h"

static SynthState live;   // the live program's engine (and the renderer's)

SynthState &liveSynth() { return live; }
void resetSynth() { resetSynth(live); }
Lfo *synthLfo() { return &live.lfo; }

LadderFilter voiceFilter(int j) { return laneFilter(live.fast.bank, j); }

// A sound device at another rate (48000 Hz is common) gets the engine's
// 44100 Hz through a windowed-sinc converter: its images and aliases stay
// some 120 dB under the note, where a linear one leaves them at 75 dB.
// At 44100 Hz there is no converter and the engine's samples go out as made.
enum { CONVERT_IN_MAX = 2048, CONVERTED_MAX = 8192 };
static SRC_STATE *converter;
static double convertRatio = 1.0;          // device rate / engine rate
static unsigned streamRate = SAMPLE_RATE;  // the rate the stream plays at
static float engineBlock[CONVERT_IN_MAX];  // engine frames on their way into the converter
static float converted[CONVERTED_MAX];     // converted frames not yet handed out
static unsigned convertedCount;

bool startSoundConversion(unsigned deviceRate)
{
    if (deviceRate == SAMPLE_RATE || deviceRate < 8000 || deviceRate > 384000) return deviceRate == SAMPLE_RATE;
    int error = 0;
    converter = src_new(SRC_SINC_FASTEST, 1, &error);
    if (!converter) return false;
    convertRatio = deviceRate / (double)SAMPLE_RATE;
    streamRate = deviceRate;
    return true;
}

void stopSoundConversion()
{
    if (converter) src_delete(converter);
    converter = nullptr, convertRatio = 1.0, streamRate = SAMPLE_RATE, convertedCount = 0;
}

// Renders the engine on until frames converted frames are ready, and hands them out.
static void renderConverted(float *out, unsigned frames, const SynthParams &knobs, const ModRouting &routing)
{
    while (frames > 0) {
        while (convertedCount < frames && convertedCount < CONVERTED_MAX / 2) {
            unsigned half = CONVERTED_MAX / 2, want = (frames < half ? frames : half) - convertedCount;
            unsigned room = (unsigned)((double)(CONVERTED_MAX - convertedCount - 16) / convertRatio);
            unsigned n = (unsigned)((double)want / convertRatio) + 2;
            unsigned most = CONVERT_IN_MAX;
            n = n < room ? n : room, n = n < most ? n : most;
            renderSynth(live, engineBlock, n, knobs, routing);
            SRC_DATA d{};
            d.data_in = engineBlock, d.input_frames = (long)n, d.src_ratio = convertRatio;
            d.data_out = converted + convertedCount, d.output_frames = (long)(CONVERTED_MAX - convertedCount);
            if (src_process(converter, &d) != 0) break;
            convertedCount += (unsigned)d.output_frames_gen;
        }
        unsigned k = frames < convertedCount ? frames : convertedCount;
        if (k == 0) {  // the converter failed: silence rather than a stall
            std::memset(out, 0, sizeof(float) * frames);
            return;
        }
        std::memcpy(out, converted, sizeof(float) * k);
        std::memmove(converted, converted + k, sizeof(float) * (convertedCount - k));
        convertedCount -= k, out += k, frames -= k;
    }
}

void audioCallback(void *buffer, unsigned int frames)
{
    soundThreadTick(frames, streamRate);
    SynthParams knobs;
    ModRouting routing;
    readParams(&knobs, &routing);
    drainNoteEvents();
    if (converter) renderConverted(static_cast<float *>(buffer), frames, knobs, routing);
    else renderSynth(live, static_cast<float *>(buffer), frames, knobs, routing);
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
