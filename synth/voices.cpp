// Voice allocation and note events: which voice a key takes, what a note-on
// and a note-off change in it. A note-on marks the voice restarted; the
// callback then starts its filter afresh (see VoiceRestart).
#include <cstring>
#include "synth/blocks.h"
#include "synth/engine.h"

// The MIDI status bytes the voices answer (channel bits masked off); Stop releases every voice.
enum { MIDI_NOTE_OFF = 0x80, MIDI_NOTE_ON = 0x90, MIDI_STOP = 0xFC };

Voice *voicePool(SynthState &s) { return s.voices; }

void resetVoices(Voice *voices)
{
    std::memset(voices, 0, sizeof(Voice) * VOICE_COUNT);
    for (int j = 0; j < VOICE_COUNT; j++) voices[j].note = NO_NOTE;
}

// The voice a note-on takes: the one already holding the note, else a free
// one (the highest), else the earliest-started released voice, else the
// earliest-started of all. Start times compare as unsigned ms of the clock.
static int chooseVoice(const Voice *voices, int note, bool *fresh)
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

void noteOn(SynthState &s, int note, int velocity, int time)
{
    bool fresh;
    Voice &v = s.voices[chooseVoice(s.voices, note, &fresh)];
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

void noteOff(SynthState &s, int note, int time)
{
    for (Voice &v : s.voices)
        if (v.note == note) {
            v.envelope.offTime = time;
            v.gate = false;
        }
}

void allNotesOff(SynthState &s, int time)
{
    for (Voice &v : s.voices) {
        v.envelope.offTime = time;
        v.gate = false;
    }
}

void silenceVoices(SynthState &s)
{
    for (Voice &v : s.voices) {
        v.gate = false;
        v.active = false;
        v.envelope.level = 0.0f;
        v.envelope.output = 0.0f;
    }
}

void applyNoteEvent(SynthState &s, int time, int status, int data1, int data2)
{
    if (status == MIDI_STOP) allNotesOff(s, time);
    else if ((status & 0xF0) == MIDI_NOTE_OFF) noteOff(s, data1, time);
    else if ((status & 0xF0) == MIDI_NOTE_ON) {
        if (data2 != 0) noteOn(s, data1, data2, time);   // a note-on at velocity 0 is a note-off
        else noteOff(s, data1, time);
    }
}
