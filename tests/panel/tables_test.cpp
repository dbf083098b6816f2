// The face tables and the snapshot: the facts a user meets on the panel.
#include <gtest/gtest.h>
#include <cstring>
#include "panel/panel.h"

namespace {

struct PanelTables : ::testing::Test {
    void SetUp() override { resetPanel(); }
    void TearDown() override { resetPanel(); }
    // What the layout does to values at start-up; enough for the snapshot.
    static void copyDefaults()
    {
        for (int id = 1; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    }
    static void patch(int slot, int from, int to)
    {
        Cable &c = cableTable()[slot];
        c.inUse = true;
        c.from = from;
        c.to = to;
    }
};

TEST_F(PanelTables, KindsDirectionsAndPanelsOfEveryControl)
{
    const Control *t = controlTable();
    EXPECT_EQ(t[0].kind, ControlKind::None);
    EXPECT_STREQ(t[0].name, "NULL");
    int knobs = 0, jacks = 0, keys = 0;
    for (int id = 1; id < CONTROL_COUNT; id++) {
        knobs += t[id].kind == ControlKind::Knob;
        jacks += t[id].kind == ControlKind::Jack;
        keys += t[id].kind == ControlKind::Key;
        EXPECT_LT(std::strlen(t[id].name), sizeof t[id].name) << id;
        EXPECT_GE(t[id].panel, 0);
        EXPECT_LT(t[id].panel, PANEL_COUNT);
    }
    EXPECT_EQ(knobs, 13);
    EXPECT_EQ(jacks, 7);
    EXPECT_EQ(keys, 25);
    // Only 13 and 19 are outputs; 14 to 18 are the five modulation inputs in routing order.
    for (int id = 13; id <= 19; id++) {
        EXPECT_EQ(t[id].kind, ControlKind::Jack);
        EXPECT_EQ(t[id].variant, (id == 13 || id == 19) ? 0 : 1) << id;
    }
    EXPECT_EQ(t[20].kind, ControlKind::Knob);
    EXPECT_EQ(t[20].panel, 6);
    // Knob skins and the attenuator model.
    int expectVariant[21] = {0, 1, 0, 0, 0, 0, 1, 2, 1, 1, 1, 1, 2};
    for (int id = 1; id <= 12; id++) EXPECT_EQ(t[id].variant, expectVariant[id]) << id;
    EXPECT_EQ(t[20].variant, 2);
    // Two labels are empty: the attenuators.
    EXPECT_STREQ(t[7].name, "");
    EXPECT_STREQ(t[12].name, "");
}

TEST_F(PanelTables, DefaultsAndPositionsAsStored)
{
    const Control *t = controlTable();
    float defaults[21] = {0, 0.5f, 0.2f, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0, 0.1f, 0.5f, 0.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0.2f};
    for (int id = 0; id <= 20; id++) EXPECT_FLOAT_EQ(t[id].defaultValue, defaults[id]) << id;
    EXPECT_FLOAT_EQ(t[1].position.x, 0.5f);
    EXPECT_FLOAT_EQ(t[15].position.z, 0.5f);
    EXPECT_FLOAT_EQ(t[16].position.z, -1.0f);
    EXPECT_FLOAT_EQ(t[20].position.x, 7.0f);
    EXPECT_FLOAT_EQ(panelTable[0].position.x, -5.0f);
    EXPECT_FLOAT_EQ(panelTable[5].position.z, 4.25f);
    EXPECT_FLOAT_EQ(panelTable[4].size.x, 11.0f);
    EXPECT_STREQ(panelTable[3].name, "LFO");
    EXPECT_STREQ(panelTable[6].name, "");
}

TEST_F(PanelTables, TheTwentyFiveKeysPlayNotes60To84)
{
    const Control *t = controlTable();
    const char *names[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    int whites = 0;
    for (int id = 21; id <= 45; id++) {
        int note = 60 + id - 21;
        EXPECT_EQ(t[id].kind, ControlKind::Key);
        EXPECT_EQ(t[id].panel, 5);
        EXPECT_FLOAT_EQ(t[id].defaultValue, static_cast<float>(note));
        EXPECT_STREQ(t[id].name, names[note % 12]) << id;
        EXPECT_FLOAT_EQ(t[id].position.y, 1.0f);
        EXPECT_FLOAT_EQ(t[id].position.z, -1.5f);
        bool black = std::strchr(t[id].name, '#') != nullptr;
        EXPECT_EQ(t[id].variant == 6, black) << id;
        if (!black) {
            // White keys sit one unit apart from -7 to 7.
            EXPECT_FLOAT_EQ(t[id].position.x, -7.0f + whites) << id;
            whites++;
        }
    }
    EXPECT_EQ(whites, 15);
    EXPECT_EQ(t[21].variant, 7);
    EXPECT_EQ(t[45].variant, 12);
    EXPECT_FLOAT_EQ(t[29].position.x, -2.5f);
    EXPECT_FLOAT_EQ(t[43].position.x, 5.65f);
}

TEST_F(PanelTables, HelpTextsFitTheirFieldsAndReadAsWritten)
{
    size_t longestTitle = 0, longestText = 0;
    for (int id = 0; id < CONTROL_COUNT; id++) {
        size_t tl = strnlen(controlHelp[id].title, sizeof controlHelp[id].title);
        size_t xl = strnlen(controlHelp[id].text, sizeof controlHelp[id].text);
        ASSERT_LT(tl, sizeof controlHelp[id].title) << id;
        ASSERT_LT(xl, sizeof controlHelp[id].text) << id;
        longestTitle = std::max(longestTitle, tl);
        longestText = std::max(longestText, xl);
    }
    EXPECT_EQ(longestTitle, 28u);
    EXPECT_EQ(longestText, 130u);
    EXPECT_STREQ(controlHelp[7].title, "LFO Depth Attenuator");
    EXPECT_STREQ(controlHelp[12].title, "Envelope Output Attenuverter");
    EXPECT_STREQ(controlHelp[2].text, "The shape of the waveform.\nA smooth blend from \nSine -> Triangle -> Sawtooth");
    EXPECT_STREQ(controlHelp[1].text,
                 "Offsets the pitch of the sound.\nWhen centered, the offest is zero\nand the sound is in tune.");
    EXPECT_STREQ(controlHelp[17].title, "Cuttoff Input");
    EXPECT_STREQ(controlHelp[17].text,
                 "Can be connected to the LFO or\nEnvelope to apply a change to\nfilter cutoff over time");
    EXPECT_STREQ(controlHelp[20].title, "Voice Gain");
    for (int id = 21; id <= 45; id++) {
        EXPECT_STREQ(controlHelp[id].title, controlTable()[id].name);
        EXPECT_STREQ(controlHelp[id].text, "Play a tone at this pitch");
    }
    EXPECT_STREQ(kindHelp[1].text, "Drag up/down to adjust.\nRight click to reset to default.");
    EXPECT_STREQ(kindHelp[2].text, "Drag to create connections.\nRight click to delete.");
    EXPECT_STREQ(kindHelp[3].text, "Click to play.");
    EXPECT_STREQ(kindHelp[0].title, "NULL");
}

TEST_F(PanelTables, FirstSnapshotHoldsTheKnobDefaultsAndNoRoutes)
{
    copyDefaults();
    snapshotParams();
    SynthParams p;
    ModRouting r;
    readParams(&p, &r);
    const float expect[13] = {0.5f, 0.2f, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0, 0.1f, 0.5f, 0.5f, 0, 0.2f};
    const float *got = &p.tune;
    for (int i = 0; i < 13; i++) EXPECT_FLOAT_EQ(got[i], expect[i]) << i;
    EXPECT_EQ(r.foldSource, 0);
    EXPECT_EQ(r.shapeSource, 0);
    EXPECT_EQ(r.tuneSource, 0);
    EXPECT_EQ(r.cutoffSource, 0);
    EXPECT_EQ(r.resonanceSource, 0);
}

TEST_F(PanelTables, RateAndDepthComeFromTheRightKnobs)
{
    copyDefaults();
    controlTable()[6].value = 0.9f;   // Rate knob
    controlTable()[7].value = 0.25f;  // depth attenuator
    snapshotParams();
    EXPECT_FLOAT_EQ(synthParams()->lfoRate, 0.9f);
    EXPECT_FLOAT_EQ(synthParams()->lfoDepth, 0.25f);
    SynthParams p;
    ModRouting r;
    readParams(&p, &r);
    EXPECT_FLOAT_EQ(p.lfoRate, 0.9f);
    EXPECT_FLOAT_EQ(p.lfoDepth, 0.25f);
}

TEST_F(PanelTables, RoutingFollowsLiveCablesOnly)
{
    copyDefaults();
    patch(0, 13, 14);
    patch(1, 19, 17);
    patch(2, 13, 18);
    cableTable()[2].inUse = false;  // removed: its stale fields must not route
    patch(4, 19, 16);
    snapshotParams();
    SynthParams p;
    ModRouting r;
    readParams(&p, &r);
    EXPECT_EQ(r.foldSource, 13);
    EXPECT_EQ(r.shapeSource, 0);
    EXPECT_EQ(r.tuneSource, 19);
    EXPECT_EQ(r.cutoffSource, 19);
    EXPECT_EQ(r.resonanceSource, 0);
    cableTable()[0].inUse = false;
    snapshotParams();
    readParams(&p, &r);
    EXPECT_EQ(r.foldSource, 0);
    EXPECT_EQ(cableCapacity(), 10);
}

TEST_F(PanelTables, ReaderKeepsItsSnapshotUntilANewOneIsPublished)
{
    copyDefaults();
    snapshotParams();
    SynthParams p;
    ModRouting r;
    readParams(&p, &r);
    controlTable()[4].value = 0.75f;  // moved but not yet snapshotted
    readParams(&p, &r);
    EXPECT_FLOAT_EQ(p.cutoff, 0.5f);
    snapshotParams();
    readParams(&p, &r);
    EXPECT_FLOAT_EQ(p.cutoff, 0.75f);
    readParams(&p, &r);  // nothing new: the same snapshot again
    EXPECT_FLOAT_EQ(p.cutoff, 0.75f);
}

}  // namespace
