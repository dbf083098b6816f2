// The face tables and the snapshot: the facts a user meets on the panel.
#include <gtest/gtest.h>
#include <cstring>
#include "panel/panel.h"

namespace {

struct PanelTables : ::testing::Test {
    void SetUp() override
    {
        resetPanel();
        for (int id = 1; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    }
    void TearDown() override { resetPanel(); }
    static void patch(int slot, int from, int to) { cableTable()[slot] = Cable{true, from, to, {}, {}, {}}; }
};

TEST_F(PanelTables, ControlsHaveTheirKindsModelsPanelsAndDefaults)
{
    const Control *t = controlTable();
    EXPECT_EQ(t[0].kind, ControlKind::None);
    // id: kind, variant, panel, default (rows 1 to 20)
    const struct { ControlKind kind; int variant, panel; float value; } rows[21] = {
        {}, {ControlKind::Knob, 1, 0, 0.5f}, {ControlKind::Knob, 0, 0, 0.2f}, {ControlKind::Knob, 0, 1, 0},
        {ControlKind::Knob, 0, 2, 0.5f}, {ControlKind::Knob, 0, 2, 0.5f}, {ControlKind::Knob, 1, 3, 0.5f},
        {ControlKind::Knob, 2, 3, 0.5f}, {ControlKind::Knob, 1, 4, 0}, {ControlKind::Knob, 1, 4, 0.1f},
        {ControlKind::Knob, 1, 4, 0.5f}, {ControlKind::Knob, 1, 4, 0.5f}, {ControlKind::Knob, 2, 4, 0},
        {ControlKind::Jack, 0, 3, 0}, {ControlKind::Jack, 1, 1, 0}, {ControlKind::Jack, 1, 0, 0},
        {ControlKind::Jack, 1, 0, 0}, {ControlKind::Jack, 1, 2, 0}, {ControlKind::Jack, 1, 2, 0},
        {ControlKind::Jack, 0, 4, 0}, {ControlKind::Knob, 2, 6, 0.2f}};
    for (int id = 1; id <= 20; id++) {
        EXPECT_EQ(t[id].kind, rows[id].kind) << id;
        EXPECT_EQ(t[id].variant, rows[id].variant) << id;
        EXPECT_EQ(t[id].panel, rows[id].panel) << id;
        EXPECT_FLOAT_EQ(t[id].defaultValue, rows[id].value) << id;
    }
    EXPECT_STREQ(t[7].name, "");
    EXPECT_STREQ(t[12].name, "");
    EXPECT_EQ(t[15].position.z, 0.5f);
    EXPECT_EQ(t[16].position.z, -1.0f);
    EXPECT_EQ(panelTable[4].size.x, 11.0f);
    EXPECT_EQ(panelTable[5].position.z, 4.25f);
}

TEST_F(PanelTables, TheTwentyFiveKeysPlayNotes60To84)
{
    const char *names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    int whites = 0;
    for (int id = 21; id <= 45; id++) {
        const Control &k = controlTable()[id];
        int note = 60 + id - 21;
        bool black = std::strchr(k.name, '#') != nullptr;
        EXPECT_EQ(k.kind, ControlKind::Key);
        EXPECT_EQ((int)k.value, note);
        EXPECT_STREQ(k.name, names[note % 12]);
        EXPECT_EQ(k.variant == 6, black) << id;
        EXPECT_TRUE(k.position.y == 1 && k.position.z == -1.5f && k.panel == 5) << id;
        if (!black) {
            EXPECT_EQ(k.position.x, -7.0f + whites++) << id;
        }
    }
    EXPECT_EQ(whites, 15);
    EXPECT_EQ(controlTable()[45].variant, 12);
    EXPECT_EQ(controlTable()[29].position.x, -2.5f);
}

TEST_F(PanelTables, HelpTextsFitTheirFieldsAndReadAsWritten)
{
    size_t title = 0, text = 0;
    for (const HelpEntry &h : controlHelp) {
        title = std::max(title, strnlen(h.title, sizeof h.title));
        text = std::max(text, strnlen(h.text, sizeof h.text));
    }
    EXPECT_EQ(title, 28u);
    EXPECT_EQ(text, 130u);
    EXPECT_STREQ(controlHelp[2].text, "The shape of the waveform.\nA smooth blend from \nSine -> Triangle -> Sawtooth");
    EXPECT_STREQ(controlHelp[17].title, "Cuttoff Input");
    EXPECT_STREQ(controlHelp[17].text, "Can be connected to the LFO or\nEnvelope to apply a change to\nfilter cutoff over time");
    EXPECT_STREQ(controlHelp[12].title, "Envelope Output Attenuverter");
    for (int id = 21; id <= 45; id++) EXPECT_STREQ(controlHelp[id].text, "Play a tone at this pitch");
    EXPECT_STREQ(controlHelp[45].title, "C");
    EXPECT_STREQ(kindHelp[1].text, "Drag up/down to adjust.\nRight click to reset to default.");
    EXPECT_STREQ(kindHelp[3].text, "Click to play.");
}

TEST_F(PanelTables, SnapshotCarriesDefaultsRatesAndLiveRoutesOnly)
{
    SynthParams p;
    ModRouting r;
    snapshotParams();
    readParams(&p, &r);
    const float expect[13] = {0.5f, 0.2f, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0, 0.1f, 0.5f, 0.5f, 0, 0.2f};
    for (int i = 0; i < 13; i++) EXPECT_FLOAT_EQ((&p.tune)[i], expect[i]) << i;
    for (int i = 0; i < 5; i++) EXPECT_EQ((&r.foldSource)[i], 0);

    controlTable()[6].value = 0.9f;   // Rate knob -> index 6
    controlTable()[7].value = 0.25f;  // depth attenuator -> index 5
    patch(0, 13, 14);
    patch(1, 19, 17);
    patch(2, 13, 18);
    cableTable()[2].inUse = false;  // removed: its stale fields must not route
    readParams(&p, &r);
    EXPECT_FLOAT_EQ(p.lfoRate, 0.5f) << "nothing reaches the audio side before the next snapshot";
    snapshotParams();
    readParams(&p, &r);
    EXPECT_FLOAT_EQ(p.lfoRate, 0.9f);
    EXPECT_FLOAT_EQ(p.lfoDepth, 0.25f);
    const int routes[5] = {13, 0, 0, 19, 0};
    for (int i = 0; i < 5; i++) EXPECT_EQ((&r.foldSource)[i], routes[i]) << i;
    EXPECT_EQ(cableCapacity(), 10);
}

}  // namespace
