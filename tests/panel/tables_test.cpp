// The face as the sound sees it: which controls are jacks of which direction,
// the notes the keys play, and the snapshot of knobs and cables for the audio thread.
#include <gtest/gtest.h>
#include "panel/panel.h"

namespace {

struct PanelTables : ::testing::Test {
    void SetUp() override
    {
        resetPanel();
        for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    }
    static void patch(int slot, int from, int to) { cableTable()[slot] = Cable{true, from, to, {}, {}, {}}; }
};

TEST_F(PanelTables, JacksAndKeys)
{
    const Control *t = controlTable();
    // Cables run from the LFO and envelope outputs into the five inputs between them.
    for (int id = JACK_LFO_OUT; id <= JACK_ENV_OUT; id++)
        EXPECT_TRUE(t[id].kind == ControlKind::Jack && t[id].variant == (id == JACK_LFO_OUT || id == JACK_ENV_OUT ? JACK_OUTPUT : JACK_INPUT)) << id;
    for (int id = KEY_FIRST; id <= KEY_LAST; id++) EXPECT_TRUE(t[id].kind == ControlKind::Key && (int)t[id].value == 60 + id - KEY_FIRST) << id;
}

TEST_F(PanelTables, SnapshotCarriesDefaultsKnobsAndLiveRoutesOnly)
{
    SynthParams p; ModRouting r;
    snapshotParams();
    readParams(&p, &r);
    const float defaults[13] = {0.5f, 0.2f, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0, 0.1f, 0.5f, 0.5f, 0, 0.2f};
    for (int i = 0; i < 13; i++) EXPECT_FLOAT_EQ((&p.tune)[i], defaults[i]) << i;
    for (int i = 0; i < 5; i++) EXPECT_EQ((&r.foldSource)[i], 0);

    controlTable()[KNOB_LFO_RATE].value = 0.9f, controlTable()[KNOB_LFO_DEPTH].value = 0.25f, controlTable()[KNOB_GAIN].value = 0.7f;
    patch(0, JACK_LFO_OUT, JACK_FOLD_IN), patch(3, JACK_ENV_OUT, JACK_CUTOFF_IN), patch(9, JACK_LFO_OUT, JACK_RES_IN);
    patch(2, JACK_ENV_OUT, JACK_SHAPE_IN), cableTable()[2].inUse = false;   // removed: its stale fields must not route
    readParams(&p, &r);
    EXPECT_FLOAT_EQ(p.lfoRate, 0.5f) << "nothing reaches the audio side before the next snapshot";
    snapshotParams();
    readParams(&p, &r);
    EXPECT_TRUE(p.lfoRate == 0.9f && p.lfoDepth == 0.25f && p.gain == 0.7f) << p.lfoRate << " " << p.lfoDepth << " " << p.gain;
    const int routes[5] = {JACK_LFO_OUT, 0, 0, JACK_ENV_OUT, JACK_LFO_OUT};
    for (int i = 0; i < 5; i++) EXPECT_EQ((&r.foldSource)[i], routes[i]) << i;
}

}  // namespace
