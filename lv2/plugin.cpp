// The engine as an LV2 instrument: MIDI in, one audio output, the thirteen
// knobs and the five modulation inputs as control ports. Each instance owns an
// engine of its own. Notes land on their exact frame: the block is rendered up
// to each event, the event applied, and the rest rendered on.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>
#include <cstring>
#include <new>
#include "lv2/ports.h"
#include "panel/panel.h"
#include "synth/params.h"
#include "synth/synth.h"

// One instance: its engine, its ports, and the engine clock in frames.
struct MirlPlugin {
    SynthState *synth;
    LV2_URID midiEvent;
    const LV2_Atom_Sequence *midiIn;
    float *out;
    float *latency;
    const float *knob[PARAM_COUNT];
    const float *mod[MOD_INPUT_COUNT];
    uint64_t frame;   // engine frames rendered since activation
};

static LV2_Handle instantiate(const LV2_Descriptor *, double rate, const char *, const LV2_Feature *const *features)
{
    LV2_URID_Map *map = nullptr;
    for (int i = 0; features && features[i]; i++)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0) map = static_cast<LV2_URID_Map *>(features[i]->data);
    if (!map || rate != (double)SAMPLE_RATE) return nullptr;
    MirlPlugin *p = new (std::nothrow) MirlPlugin{};
    if (!p) return nullptr;
    p->synth = createSynth();
    if (!p->synth) {
        delete p;
        return nullptr;
    }
    p->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
    return p;
}

static void connectPort(LV2_Handle h, uint32_t port, void *data)
{
    MirlPlugin *p = static_cast<MirlPlugin *>(h);
    if (port == PORT_MIDI_IN) p->midiIn = static_cast<const LV2_Atom_Sequence *>(data);
    else if (port == PORT_OUT) p->out = static_cast<float *>(data);
    else if (port == PORT_LATENCY) p->latency = static_cast<float *>(data);
    else if (port >= PORT_KNOB_FIRST && port < PORT_MOD_FIRST) p->knob[port - PORT_KNOB_FIRST] = static_cast<const float *>(data);
    else if (port >= PORT_MOD_FIRST && port < PORT_COUNT) p->mod[port - PORT_MOD_FIRST] = static_cast<const float *>(data);
}

static void activate(LV2_Handle h)
{
    MirlPlugin *p = static_cast<MirlPlugin *>(h);
    resetSynth(*p->synth);
    p->frame = 0;
}

// The engine's clock for a frame: milliseconds, as the note queue stamps its events.
static int frameTime(uint64_t frame) { return (int)(uint32_t)(frame * 1000 / SAMPLE_RATE); }

// A host's controller messages the engine does not know: All Sound Off (120) and All Notes Off (123).
static void applyMessage(SynthState &s, int time, const uint8_t *msg, uint32_t size)
{
    int status = msg[0], data1 = size > 1 ? msg[1] : 0, data2 = size > 2 ? msg[2] : 0;
    if ((status & 0xF0) == 0xB0 && data1 == 120) silenceVoices(s);
    else if ((status & 0xF0) == 0xB0 && data1 == 123) allNotesOff(s, time);
    else applyNoteEvent(s, time, status, data1, data2);
}

static void run(LV2_Handle h, uint32_t frames)
{
    MirlPlugin *p = static_cast<MirlPlugin *>(h);
    SynthParams knobs;
    for (int k = 0; k < PARAM_COUNT; k++) knobs.*KnobField[k] = p->knob[k] ? *p->knob[k] : 0.0f;
    ModRouting routing;
    for (int m = 0; m < MOD_INPUT_COUNT; m++) routing.*ModSourceField[m] = modSourceFor(p->mod[m] ? *p->mod[m] : 0.0f);
    if (p->latency) *p->latency = 0.0f;
    uint32_t done = 0;
    if (p->midiIn) {
        LV2_ATOM_SEQUENCE_FOREACH(p->midiIn, ev)
        {
            if (ev->body.type != p->midiEvent || ev->body.size == 0) continue;
            uint32_t at = ev->time.frames < 0 ? 0 : (uint32_t)ev->time.frames;
            if (at > frames) at = frames;
            if (at > done) {
                renderSynth(*p->synth, p->out + done, at - done, knobs, routing);
                p->frame += at - done;
                done = at;
            }
            applyMessage(*p->synth, frameTime(p->frame), reinterpret_cast<const uint8_t *>(ev + 1), ev->body.size);
        }
    }
    renderSynth(*p->synth, p->out + done, frames - done, knobs, routing);
    p->frame += frames - done;
}

static void cleanup(LV2_Handle h)
{
    MirlPlugin *p = static_cast<MirlPlugin *>(h);
    destroySynth(p->synth);
    delete p;
}

static const LV2_Descriptor descriptor = {MIRL_LV2_URI, instantiate, connectPort, activate, run, nullptr, cleanup, nullptr};

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) { return index == 0 ? &descriptor : nullptr; }
