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

void snapshotParams()
{
    static const int sources[13] = {1, 2, 3, 4, 5, 7, 6, 8, 9, 10, 11, 12, 20};
    float *p = &latestParams.tune;
    for (int i = 0; i < 13; i++) p[i] = controls[sources[i]].value;

    int32_t *r = &latestRouting.foldSource;
    for (int i = 0; i < 5; i++) r[i] = 0;
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
