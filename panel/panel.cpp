// The live face state (controls, panels, cables) and the snapshot that carries
// it to the audio thread.
#include "panel/panel.h"
#include <atomic>
#include <cstring>

extern const Control storedControls[CONTROL_COUNT];
extern const Panel storedPanels[PANEL_COUNT];

static Control controls[CONTROL_COUNT];
static Cable cables[CABLE_SLOTS];
Panel panelTable[PANEL_COUNT];

Camera3D sceneCamera;
Vector3 faceplateCenter, faceplateSize;
bool smallLayout;
Vector2 helpIconPos, midiIconPos, logoPos;

static SynthParams latestParams;
static ModRouting latestRouting;

// Three-slot exchange between the main thread (writer) and the audio thread
// (reader). The writer fills its own slot and swaps it into the middle with
// the FRESH bit set; the reader swaps the middle for its own slot when FRESH
// is set. Neither side ever waits, and each slot is owned by exactly one side
// at any moment, so a reader always holds one whole snapshot.
struct Snapshot {
    SynthParams params;
    ModRouting routing;
};
static Snapshot slots[3];
enum { SLOT_MASK = 3, FRESH = 4 };
static std::atomic<int> middleSlot{1};
static int writerSlot = 0;   // main thread only
static int readerSlot = 2;   // audio thread only

// Fills the live tables from the stored ones at program start.
static bool tablesReady = (resetPanel(), true);

Control *controlTable() { return controls; }
Cable *cableTable() { return cables; }
int cableCapacity() { return CABLE_SLOTS; }
SynthParams *synthParams() { return &latestParams; }
ModRouting *modRouting() { return &latestRouting; }

void resetPanel()
{
    std::memcpy(controls, storedControls, sizeof controls);
    std::memcpy(panelTable, storedPanels, sizeof panelTable);
    std::memset(cables, 0, sizeof cables);
    latestParams = {};
    latestRouting = {};
    std::memset(slots, 0, sizeof slots);
    middleSlot.store(1, std::memory_order_relaxed);
    writerSlot = 0;
    readerSlot = 2;
    (void)tablesReady;
}

// The knob behind each engine slot, indexed by ParamSlot. The face numbers the
// LFO's rate knob before its depth knob; the engine keeps depth first.
static const ControlId slotKnob[PARAM_COUNT] = {
    KNOB_TUNE, KNOB_SHAPE, KNOB_FOLD, KNOB_CUTOFF, KNOB_RESONANCE,
    KNOB_LFO_DEPTH, KNOB_LFO_RATE,  // PARAM_LFO_DEPTH, PARAM_LFO_RATE
    KNOB_ATTACK, KNOB_DECAY, KNOB_SUSTAIN, KNOB_RELEASE, KNOB_ENV_AMOUNT, KNOB_GAIN,
};

void snapshotParams()
{
    float *p = &latestParams.tune;
    for (int slot = 0; slot < PARAM_COUNT; slot++) p[slot] = controls[slotKnob[slot]].value;

    // The modulation inputs' jacks run in the routing block's order, fold first.
    latestRouting = ModRouting{};
    int32_t *r = &latestRouting.foldSource;
    for (int s = 0; s < CABLE_SLOTS; s++) {
        const Cable &c = cables[s];
        if (c.inUse && c.to >= JACK_FOLD_IN && c.to <= JACK_RES_IN) r[c.to - JACK_FOLD_IN] = c.from;
    }

    slots[writerSlot].params = latestParams;
    slots[writerSlot].routing = latestRouting;
    writerSlot = middleSlot.exchange(writerSlot | FRESH, std::memory_order_acq_rel) & SLOT_MASK;
}

void readParams(SynthParams *params, ModRouting *routing)
{
    if (middleSlot.load(std::memory_order_relaxed) & FRESH)
        readerSlot = middleSlot.exchange(readerSlot, std::memory_order_acq_rel) & SLOT_MASK;
    *params = slots[readerSlot].params;
    *routing = slots[readerSlot].routing;
}
