// Voice allocation and note events: which voice a key takes, what a note-on
// and a note-off change in it. A note-on marks the voice restarted; the
// callback then starts its filter afresh (see VoiceRestart).
#include <cstring>
#include "midi/midi.h"
#include "synth/blocks.h"
#include "synth/engine.h"

// The MIDI status bytes the voices answer (channel bits masked off); Stop releases every voice.
enum { MIDI_NOTE_OFF = 0x80, MIDI_NOTE_ON = 0x90, MIDI_STOP = 0xFC };

static Voice voices[VOICE_COUNT];

Voice *voicePool() { return voices; }

void resetVoices()
{
    std::memset(voices, 0, sizeof voices);
    for (Voice &v : voices) v.note = NO_NOTE;
}

// The voice a note-on takes: the one already holding the note, else a free
// one (the highest), else the earliest-started released voice, else the
// earliest-started of all. Start times compare as unsigned ms of the clock.
static int chooseVoice(int note, bool *fresh)
{
    int freeVoice = -1;
    for (int j = 0; j < VOICE_COUNT; j++) {
        if (!voices[j].active) freeVoice = j;
        if (voices[j].note == note) {
            *fresh = false;
            return j;
        }
    }
    *fresh = true;
    if (freeVoice >= 0) return freeVoice;
    int chosen = -1;
    for (int j = 0; j < VOICE_COUNT; j++)
        if (!voices[j].gate && (chosen < 0 || (uint32_t)voices[j].envelope.onTime < (uint32_t)voices[chosen].envelope.onTime))
            chosen = j;
    if (chosen >= 0) return chosen;
    for (int j = 0; j < VOICE_COUNT; j++)
        if (chosen < 0 || (uint32_t)voices[j].envelope.onTime < (uint32_t)voices[chosen].envelope.onTime) chosen = j;
    return chosen;
}

void noteOn(int note, int velocity, int time)
{
    bool fresh;
    Voice &v = voices[chooseVoice(note, &fresh)];
    v.gate = true;
    v.active = true;
    v.velocity = velocity;
    if (fresh) {
        // A new note: pitch from the start of its period, silence in the filter and envelope.
        v.phase = 0;
        v.note = note;
        v.freq = noteFrequency(note);
        v.freqBelow = noteFrequency(note - 1);
        v.freqAbove = noteFrequency(note + 1);
        v.envelope.level = 0.0f;
        v.envelope.output = 0.0f;
        v.restart = RESTART_FRESH;
    } else if (v.restart != RESTART_FRESH) {
        // The same key again: the wave and the level carry on, the attack starts over.
        v.restart = RESTART_RETRIGGERED;
    }
    v.envelope.stage = STAGE_ATTACK;
    v.envelope.attackCount = 0;
    v.envelope.onTime = time;
    v.envelope.offTime = -1;
}

void noteOff(int note, int time)
{
    for (Voice &v : voices)
        if (v.note == note) {
            v.envelope.offTime = time;
            v.gate = false;
        }
}

void allNotesOff(int time)
{
    for (Voice &v : voices) {
        v.envelope.offTime = time;
        v.gate = false;
    }
}

void drainNoteEvents()
{
    int time, status, data1, data2;
    while (midiNextEvent(&time, &status, &data1, &data2)) {
        if (status == MIDI_STOP) allNotesOff(time);
        else if ((status & 0xF0) == MIDI_NOTE_OFF) noteOff(data1, time);
        else if ((status & 0xF0) == MIDI_NOTE_ON) {
            if (data2 != 0) noteOn(data1, data2, time);   // a note-on at velocity 0 is a note-off
            else noteOff(data1, time);
        }
    }
}
