// The engine as an LV2 instrument: MIDI in, one audio output, the thirteen
// knobs and the five modulation inputs as control ports. Each instance owns an
// engine of its own. Notes land on their exact frame: the block is rendered up
// to each event, the event applied, and the rest rendered on.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>
#include <samplerate.h>
#include <cstring>
#include <new>
#include "lv2/ports.h"
#include "panel/panel.h"
#include "synth/params.h"
#include "synth/synth.h"

enum { HOST_BLOCK_MAX = 8192 };   // host frames converted at a time; longer blocks go in pieces

// The conversion from the engine's 44100 Hz to the host's rate, when they differ:
// engine samples of one piece of a block, and converted samples not yet handed out.
struct Converter {
    SRC_STATE *src;
    double ratio;        // host rate / engine rate
    float *engine;       // engine frames of one piece
    float *pending;      // converted frames waiting for the host, pendingCount of them
    uint32_t engineMax, pendingMax, pendingCount;
    uint32_t lead;       // silent frames the output starts with, so the converter never runs dry
    uint32_t latency;    // host frames from a note's time to its sound
};

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
    uint64_t hostFrame;   // host frames handed out since activation
    double rate;      // the host's rate
    Converter conv;   // unused at 44100 Hz
};

// Starts the converter afresh: empty, with the silent lead waiting.
static void restartConverter(Converter &c)
{
    src_reset(c.src);
    std::memset(c.pending, 0, sizeof(float) * c.lead);
    c.pendingCount = c.lead;
}

// Makes the converter and measures it once: how many frames it holds back at
// the start, and where a click at the engine's first frame comes out.
static bool makeConverter(Converter &c, double rate)
{
    int error = 0;
    c.src = src_new(SRC_SINC_MEDIUM_QUALITY, 1, &error);
    if (!c.src) return false;
    c.ratio = rate / (double)SAMPLE_RATE;
    c.engineMax = (uint32_t)((double)HOST_BLOCK_MAX / c.ratio) + 4;
    c.pendingMax = (uint32_t)(HOST_BLOCK_MAX * 2) + 4096;
    c.engine = new (std::nothrow) float[c.engineMax];
    c.pending = new (std::nothrow) float[c.pendingMax];
    if (!c.engine || !c.pending) return false;
    std::memset(c.engine, 0, sizeof(float) * c.engineMax);
    c.engine[0] = 1.0f;
    SRC_DATA d{};
    d.data_in = c.engine, d.input_frames = c.engineMax, d.data_out = c.pending, d.output_frames = c.pendingMax, d.src_ratio = c.ratio;
    if (src_process(c.src, &d) != 0) return false;
    long expected = (long)(c.engineMax * c.ratio), peak = 0;
    for (long i = 1; i < d.output_frames_gen; i++)
        if (c.pending[i] > c.pending[peak]) peak = i;
    c.lead = (uint32_t)(expected > d.output_frames_gen ? expected - d.output_frames_gen : 0) + (uint32_t)c.ratio + 4;
    c.latency = c.lead + (uint32_t)peak;
    c.engine[0] = 0.0f;
    restartConverter(c);
    return true;
}

static void freeConverter(Converter &c)
{
    if (c.src) src_delete(c.src);
    delete[] c.engine;
    delete[] c.pending;
}

static LV2_Handle instantiate(const LV2_Descriptor *, double rate, const char *, const LV2_Feature *const *features)
{
    LV2_URID_Map *map = nullptr;
    for (int i = 0; features && features[i]; i++)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0) map = static_cast<LV2_URID_Map *>(features[i]->data);
    if (!map || !(rate >= 8000.0 && rate <= 768000.0)) return nullptr;
    MirlPlugin *p = new (std::nothrow) MirlPlugin{};
    if (!p) return nullptr;
    p->rate = rate;
    p->synth = createSynth();
    if (!p->synth || (rate != (double)SAMPLE_RATE && !makeConverter(p->conv, rate))) {
        freeConverter(p->conv);
        destroySynth(p->synth);
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
    p->frame = p->hostFrame = 0;
    if (p->conv.src) restartConverter(p->conv);
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

// The engine frame a host frame falls on: the same at 44100 Hz, scaled at other rates.
static uint64_t engineFrameOf(const MirlPlugin &p, uint64_t hostFrame)
{
    if (!p.conv.src) return hostFrame;
    return (uint64_t)((double)hostFrame / p.conv.ratio);
}

// Renders the engine on to engine frame upTo, into out from where it stands at offset base.
static void renderTo(MirlPlugin &p, float *out, uint64_t base, uint64_t upTo, const SynthParams &knobs, const ModRouting &routing)
{
    if (upTo <= p.frame) return;
    renderSynth(*p.synth, out + (p.frame - base), (unsigned)(upTo - p.frame), knobs, routing);
    p.frame = upTo;
}

// One piece of a block, at most HOST_BLOCK_MAX frames, with the events from *ev on that fall inside it.
static void runPiece(MirlPlugin &p, float *out, uint32_t frames, const LV2_Atom_Event *&ev, uint32_t offset,
                     const SynthParams &knobs, const ModRouting &routing)
{
    Converter &c = p.conv;
    float *engineOut = c.src ? c.engine : out;
    uint64_t base = p.frame;
    for (; p.midiIn && !lv2_atom_sequence_is_end(&p.midiIn->body, p.midiIn->atom.size, ev); ev = lv2_atom_sequence_next(ev)) {
        int64_t at = ev->time.frames - offset;
        if (at >= (int64_t)frames) break;
        if (ev->body.type != p.midiEvent || ev->body.size == 0) continue;
        renderTo(p, engineOut, base, engineFrameOf(p, p.hostFrame + (at < 0 ? 0 : at)), knobs, routing);
        applyMessage(*p.synth, frameTime(p.frame), reinterpret_cast<const uint8_t *>(ev + 1), ev->body.size);
    }
    renderTo(p, engineOut, base, engineFrameOf(p, p.hostFrame + frames), knobs, routing);
    p.hostFrame += frames;
    if (!c.src) return;
    SRC_DATA d{};
    d.data_in = c.engine, d.input_frames = (long)(p.frame - base);
    d.data_out = c.pending + c.pendingCount, d.output_frames = (long)(c.pendingMax - c.pendingCount), d.src_ratio = c.ratio;
    src_process(c.src, &d);
    c.pendingCount += (uint32_t)d.output_frames_gen;
    uint32_t n = frames < c.pendingCount ? frames : c.pendingCount;
    std::memcpy(out, c.pending, sizeof(float) * n);
    std::memset(out + n, 0, sizeof(float) * (frames - n));
    std::memmove(c.pending, c.pending + n, sizeof(float) * (c.pendingCount - n));
    c.pendingCount -= n;
}

static void run(LV2_Handle h, uint32_t frames)
{
    MirlPlugin *p = static_cast<MirlPlugin *>(h);
    SynthParams knobs;
    for (int k = 0; k < PARAM_COUNT; k++) knobs.*KnobField[k] = p->knob[k] ? *p->knob[k] : 0.0f;
    ModRouting routing;
    for (int m = 0; m < MOD_INPUT_COUNT; m++) routing.*ModSourceField[m] = modSourceFor(p->mod[m] ? *p->mod[m] : 0.0f);
    if (p->latency) *p->latency = p->conv.src ? (float)p->conv.latency : 0.0f;
    const LV2_Atom_Event *ev = p->midiIn ? lv2_atom_sequence_begin(&p->midiIn->body) : nullptr;
    uint32_t done = 0;
    do {
        uint32_t n = frames - done < (uint32_t)HOST_BLOCK_MAX ? frames - done : (uint32_t)HOST_BLOCK_MAX;
        runPiece(*p, p->out + done, n, ev, done, knobs, routing);
        done += n;
    } while (done < frames);
}

static void cleanup(LV2_Handle h)
{
    MirlPlugin *p = static_cast<MirlPlugin *>(h);
    freeConverter(p->conv);
    destroySynth(p->synth);
    delete p;
}

static const LV2_Descriptor descriptor = {MIRL_LV2_URI, instantiate, connectPort, activate, run, nullptr, cleanup, nullptr};

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) { return index == 0 ? &descriptor : nullptr; }
