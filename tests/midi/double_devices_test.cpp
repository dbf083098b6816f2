// Device choice, status lines, the poll and the notes a device leaves held,
// with the device side of PortMidi scripted (double_portmidi.cpp) and its real queue and timer.
#include <algorithm>
#include <cmath>
#include "panel/panel.h"
#include "synth/synth.h"
#include "tests/midi/midi_test.h"

TEST(MidiDevices, StartAndClicksOpenTheNextInputAndPrintTheStatusLines)
{
    struct Case { std::vector<dbl::Device> devices; std::string list; std::vector<const char *> banner, open; };
    const Case cases[] = {   // the list, then the banner and the open device after start and after each click
        {{{"Synth Out", 0, 1}, {"Keys A", 1, 0}, {"Keys B", 1, 0}}, "0 - Synth Out - in: 0 out: 1 \n1 - Keys A - in: 1 out: 0 \n2 - Keys B - in: 1 out: 0 \n",
         {"Keys A", "Keys B", "Keys A"}, {"Keys A", "Keys B", "Keys A"}},
        {{{"Both", 1, 1}}, "0 - Both - in: 1 out: 1 \n", {"Both", "Both", "Both"}, {"Both", "Both", "Both"}},
        {{{"o0", 0, 1}, {"o1", 0, 1}, {"o2", 0, 1}, {"in3", 1, 0}, {"o4", 0, 1}, {"in5", 1, 0}},
         "0 - o0 - in: 0 out: 1 \n1 - o1 - in: 0 out: 1 \n2 - o2 - in: 0 out: 1 \n3 - in3 - in: 1 out: 0 \n4 - o4 - in: 0 out: 1 \n5 - in5 - in: 1 out: 0 \n",
         {"in3", "in5", "in3"}, {"in3", "in5", "in3"}},
        // A refused open prints its banner and leaves nothing open; the next click starts from the lowest id.
        {{{"Out", 0, 1}, {"Flaky", 1, 0, 1}, {"Steady", 1, 0}}, "0 - Out - in: 0 out: 1 \n1 - Flaky - in: 1 out: 0 \n2 - Steady - in: 1 out: 0 \n",
         {"Flaky", "Flaky", "Steady"}, {nullptr, "Flaky", "Steady"}},
        {{{"Out", 0, 1}}, "0 - Out - in: 0 out: 1 \n", {nullptr, nullptr}, {nullptr, nullptr}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.list);
        dbl::devices = c.devices;
        for (size_t i = 0; i < c.open.size(); i++) {
            std::string want = i == 0 ? "----------Midi input device list----------\n" + c.list : "";
            if (c.banner[i]) want += std::string("----------\nMidi device init: ") + c.banner[i] + "\n----------\n";
            EXPECT_EQ(printed(i == 0 ? midiStart : midiNextDevice, 20), want) << i;   // a poll or two run meanwhile
            EXPECT_STREQ(midiDeviceName(), c.open[i]) << i;
            EXPECT_STREQ(dbl::openId < 0 ? nullptr : dbl::devices[dbl::openId].name, c.open[i]) << i;
        }
        EXPECT_EQ(dbl::opens, c.open.size() - std::count(c.open.begin(), c.open.end(), nullptr)) << "each opens afresh";
        EXPECT_EQ(printed(midiStop), "");
    }
}

// Runs the real engine for the given seconds, as the audio thread does; returns the loudest sample.
static float renderFor(double seconds)
{
    float buffer[512], peak = 0;
    for (long left = (long)(seconds * (double)SAMPLE_RATE); left > 0; left -= 512) {
        audioCallback(buffer, left < 512 ? (unsigned)left : 512u);
        for (long i = 0; i < std::min(left, 512L); i++) peak = std::max(peak, std::fabs(buffer[i]));
    }
    return peak;
}

static bool holding(int note)
{
    for (int v = 0; v < VOICE_COUNT; v++)
        if (voicePool()[v].note == note && voicePool()[v].active && voicePool()[v].gate) return true;
    return false;
}

TEST(MidiDevices, ASwitchReleasesTheNotesTheDeviceLeftHeldButNotAKeyHeldOnScreen)
{
    resetPanel();
    for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    controlTable()[KNOB_RELEASE].value = 0;   // the shortest release, 0.1 s
    snapshotParams();
    resetSynth();
    auto pm = [](int status, int note, int velocity) { return PmEvent{Pm_Message(status, note, velocity), 5}; };
    dbl::devices = {{"Keys A", 1, 0}, {"Keys B", 1, 0}};
    // Held by the device at the switch: 60 on channel 1, 62 on channel 6, 65 on channel 1 (its channel 3
    // twin was let go). Let go before it: 67 (a note-off), 69 (velocity 0), 71 (on and off on channel 2);
    // 72 never sounded.
    dbl::reads = {{pm(0x90, 60, 100), pm(0x95, 62, 90), pm(0x90, 67, 80), pm(0x80, 67, 0), pm(0x90, 65, 70)},
                  {pm(0x92, 65, 70), pm(0x92, 65, 0), pm(0x9F, 69, 50), pm(0x9F, 69, 0), pm(0x91, 71, 9), pm(0x81, 71, 0), pm(0x80, 72, 0)}};
    printed(midiStart), waitForReads();
    midiPostNote(0x90, 76, 128);   // a key held with the mouse
    EXPECT_GT(renderFor(0.3), 0.02f);
    for (int note : {60, 62, 76}) EXPECT_TRUE(holding(note)) << note;   // the engine heard 65's twin let go
    // The switch takes place between two buffers: the releases must be in the queue for the next one.
    int before = midiNow();
    EXPECT_EQ(printed(midiNextDevice), "----------\nMidi device init: Keys B\n----------\n") << "the status lines stay as they were";
    std::vector<Event> posted;
    for (Event e; take(e);) posted.push_back(e);
    ASSERT_EQ(posted.size(), 3u);
    const Event want[] = {{0, 0x80, 60, 0}, {0, 0x85, 62, 0}, {0, 0x80, 65, 0}};
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(posted[i][0] >= before && posted[i][0] <= midiNow()) << "stamped when let go";
        EXPECT_EQ(posted[i], (Event{posted[i][0], want[i][1], want[i][2], want[i][3]})) << i;
        midiPostEvent(posted[i][0], posted[i][1], posted[i][2], posted[i][3]);   // back for the engine
    }
    renderFor(0.15);
    for (int note : {60, 62, 65}) EXPECT_FALSE(holding(note)) << note;
    EXPECT_TRUE(holding(76)) << "the key on screen belongs to the mouse";
    midiPostNote(0x80, 76, 0);
    renderFor(0.15);
    EXPECT_EQ(renderFor(0.1), 0.0f) << "silence once the release has run";
    // MIDI Stop lets every note go, so a close afterwards releases only what came after it.
    dbl::reads = {{pm(0x90, 40, 1), pm(0xFC, 0, 0), pm(0x93, 41, 1)}};
    waitForReads();
    for (Event e; take(e);) {}
    midiCloseDevice();
    Event e{}; EXPECT_TRUE(take(e) && e == (Event{e[0], 0x83, 41, 0}) && !take(e)) << "one note-off for the note still held";
    EXPECT_EQ(printed(midiStop), "");
}
