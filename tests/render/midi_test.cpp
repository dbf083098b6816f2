// mirl-render playing Standard MIDI Files: the files are written byte by byte
// here (running status, velocity-0 note-offs, tempo changes, several tracks
// and channels), and each must sound exactly as the script that says the
// same thing at the same milliseconds.
#include <gtest/gtest.h>
#include <smf.h>
#include <algorithm>
#include <filesystem>
#include "tests/render/render_test.h"

namespace {

using render::bigEndian;
using render::Ev;
using render::midiFile;
using render::Outcome;
using render::script;

Outcome song(const std::string &bytes, const std::string &options = "") { return render::run(options + " --midi @s.mid OUT", {{"s.mid", bytes}}); }

// The song must give the script's samples, then nothing but the release running out into silence.
void expectSameSound(const Outcome &fromSong, const Outcome &fromScript, const std::string &what)
{
    ASSERT_TRUE(fromSong.status == 0 && fromScript.status == 0 && fromSong.sound.size() > fromScript.sound.size()) << what << fromSong.err;
    EXPECT_TRUE(std::equal(fromScript.sound.begin(), fromScript.sound.end(), fromSong.sound.begin()) &&
                std::all_of(fromSong.sound.end() - 512, fromSong.sound.end(), [](float s) { return s == 0; })) << what;
    EXPECT_LT(fromSong.sound.size(), 44100u * 8) << what << ": stops once the last release has died away";
}

const std::vector<int> tempo120 = {0xFF, 0x51, 3, 0x07, 0xA1, 0x20};   // 500000 us a beat
const std::vector<int> tempo90 = {0xFF, 0x51, 3, 0x0A, 0x2C, 0x2B};    // 666667 us a beat
const std::vector<int> tempo240 = {0xFF, 0x51, 3, 0x03, 0xD0, 0x90};   // 250000 us a beat

// Format 0, 480 ticks a beat: three channels, running status, velocity-0
// note-offs, a note-off on another channel than its note-on, and a slower
// tempo from tick 480 on. Times in the script: 25/24 ms a tick, then 1.3889.
const std::vector<std::vector<Ev>> format0 = {{
    {0, tempo120}, {0, {0x90, 60, 100}}, {0, {64, 90}}, {101, {0x93, 67, 80}}, {39, {72, 70}},
    {110, {0x90, 60, 0}}, {0, {64, 0}}, {230, tempo90}, {120, {0x93, 67, 0}}, {100, {0x89, 72, 64}},
    {200, {0x9F, 48, 127}}, {100, {0x8F, 48, 0}}}};
const char *format0Script =
    "0 raw 144 60 100\n0 raw 144 64 90\n105 raw 147 67 80\n146 raw 147 72 70\n260 raw 144 60 0\n260 raw 144 64 0\n"
    "667 raw 147 67 0\n806 raw 137 72 64\n1083 raw 159 48 127\n1222 raw 143 48 0\n1300 end\n";

// Format 1: a tempo track (twice as fast from tick 960) and two note tracks
// whose notes overlap. Nothing falls on the same tick in two tracks.
const std::vector<std::vector<Ev>> format1 = {
    {{0, tempo120}, {960, tempo240}},
    {{240, {0x91, 60, 100}}, {93, {64, 80}}, {267, {60, 0}}, {401, {64, 0}}},
    {{334, {0x92, 67, 70}}, {766, {0x82, 67, 64}}, {103, {0x92, 72, 96}}, {237, {0x82, 72, 0}}}};
const char *format1Script =
    "250 raw 145 60 100\n347 raw 145 64 80\n348 raw 146 67 70\n625 raw 145 60 0\n1021 raw 145 64 0\n"
    "1073 raw 130 67 64\n1127 raw 146 72 96\n1250 raw 130 72 0\n1300 end\n";

TEST(RenderMidi, FilesSoundExactlyAsTheirScripts)
{
    for (const char *frames : {"--frames 1", ""}) {
        expectSameSound(song(midiFile(0, 480, format0), frames), script(format0Script, frames), std::string("format 0 ") + frames);
        expectSameSound(song(midiFile(1, 480, format1), frames), script(format1Script, frames), std::string("format 1 ") + frames);
    }
    // With one-frame buffers the first note starts on the frame its time falls on: 250 ms is frame
    // 11025, and the attack's first 16 samples round to silence. A working renderer prints nothing.
    Outcome one = song(midiFile(1, 480, format1), "--frames 1");
    ASSERT_GT(one.sound.size(), 11100u);
    EXPECT_EQ(std::find_if(one.sound.begin(), one.sound.end(), [](float v) { return v != 0; }) - one.sound.begin(), 11025 + 16);
    EXPECT_EQ(one.out + one.err, "");
    // A patch sets the panel before the first note, as knob and cable lines at 0 would.
    const char *patch = "0 knob 11 0.05\n5 patch 13 17\n9 knob 7 0.9\n";
    Outcome withPatch = render::run("--midi @s.mid --patch @p.txt OUT", {{"s.mid", midiFile(1, 480, format1)}, {"p.txt", patch}});
    expectSameSound(withPatch, script("0 knob 11 0.05\n0 patch 13 17\n0 knob 7 0.9\n" + std::string(format1Script)), "patched");
    EXPECT_NE(withPatch.sound, song(midiFile(1, 480, format1)).sound);
    // A note never released rings until the fixed cap: 60 s after the last event.
    Outcome held = song(midiFile(0, 480, {{{0, {0x90, 60, 100}}, {480, {0xB0, 1, 0}}}}));
    EXPECT_EQ(held.sound.size(), (size_t)(44100 * 60.5)) << held.err;
}

// A format 1 file written by libsmf's own writer, not ours, 96 ticks a beat:
// 6.25 ms a tick, then 4.1667 from tick 192 on; notes on channels 5 and 12.
std::string writtenByLibsmf()
{
    smf_t *smf = smf_new();
    EXPECT_EQ(smf_set_ppqn(smf, 96), 0);
    smf_track_t *tracks[3];
    for (smf_track_t *&t : tracks) smf_add_track(smf, t = smf_track_new());
    unsigned char slow[] = {0xFF, 0x51, 3, 0x09, 0x27, 0xC0}, fast[] = {0xFF, 0x51, 3, 0x06, 0x1A, 0x80};
    smf_track_add_event_pulses(tracks[0], smf_event_new_from_pointer(slow, 6), 0);
    smf_track_add_event_pulses(tracks[0], smf_event_new_from_pointer(fast, 6), 192);
    const struct { int track, tick, status, note, velocity; } notes[] = {
        {1, 20, 0x94, 57, 90}, {1, 100, 0x94, 61, 80}, {1, 151, 0x84, 57, 0}, {1, 250, 0x84, 61, 0},
        {2, 51, 0x9B, 64, 100}, {2, 202, 0x9B, 68, 70}, {2, 230, 0x9B, 64, 0}, {2, 300, 0x9B, 68, 0}};
    for (auto n : notes)
        smf_track_add_event_pulses(tracks[n.track], smf_event_new_from_bytes(n.status, n.note, n.velocity), n.tick);
    char dir[] = "/tmp/mirl-smf-XXXXXX";
    std::string path = std::string(mkdtemp(dir)) + "/song.mid";
    EXPECT_EQ(smf_save(smf, path.c_str()), 0);
    smf_delete(smf);
    std::string bytes = render::readAll(path);
    std::filesystem::remove_all(dir);
    return bytes;
}

TEST(RenderMidi, AFileFromAnotherWriterSoundsAsItsScript)
{
    const char *equivalent = "125 raw 148 57 90\n319 raw 155 64 100\n625 raw 148 61 80\n944 raw 132 57 0\n"
                             "1242 raw 155 68 70\n1358 raw 155 64 0\n1442 raw 132 61 0\n1650 raw 155 68 0\n1800 end\n";
    expectSameSound(song(writtenByLibsmf(), "--frames 1"), script(equivalent, "--frames 1"), "libsmf's file");
}

TEST(RenderMidi, BadFilesAreRefusedWithOneLineAndNoSound)
{
    std::string good = midiFile(0, 480, format0);
    std::string cutEvent = midiFile(0, 480, {{{0, {0x90, 60, 100}}, {10, {0x80, 60}}}});
    cutEvent.erase(cutEvent.size() - 4);                                  // no End of Track, and the last message cut
    cutEvent.replace(18, 4, bigEndian(cutEvent.size() - 22, 4));          // with a length that matches what is left
    const std::pair<std::string, const char *> bad[] = {
        {std::string("RIFF\x24\0\0\0WAVEfmt this is no song", 31), "not a MIDI file"}, {"", "not a MIDI file"},
        {good.substr(0, good.size() - 9), "runs past the end"}, {cutEvent, "cut short"},
        {midiFile(0, 480, {{{0, {0xFF, 0x51, 3, 0, 0, 0}}, {0, {0x90, 60, 100}}}}), "absurd tempo"},
        {midiFile(0, 480, {{{0, {0xFF, 0x51, 3, 0xFF, 0xFF, 0xFF}}, {0, {0x90, 60, 100}}, {200000, {0x80, 60, 0}}}}), "longer than an hour"},
        {midiFile(0, 480, {{{0, {60, 100}}}}), "data byte where a status byte belongs"}, {midiFile(2, 480, format1), "format 2"},
        {good.substr(0, 18) + bigEndian(7, 4) + good.substr(22, 7), "without its End of Track"},   // libsmf would abort
        {good.substr(0, 10) + bigEndian(2, 2) + good.substr(12), "names 2 tracks"}};
    for (const auto &[bytes, says] : bad) {
        Outcome r = song(bytes);
        EXPECT_TRUE(r.status == 2 && !r.wrote && r.out == "") << says << ": " << r.status;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.err.find("s.mid: ") != std::string::npos && r.err.find(says) != std::string::npos) << says << " -> " << r.err;
    }
}

// What other writers leave in their files and other players read past: bytes after the last
// chunk, running status across meta events, system common and real-time messages, escaped and
// long system exclusive, long text, a longer header, and chunks of other kinds between tracks.
TEST(RenderMidi, FilesWithCutCornersSoundAsTheirScripts)
{
    std::string good = midiFile(0, 480, format0), head = good.substr(0, 8), rest = good.substr(8);
    std::vector<std::vector<Ev>> chatty = format0;   // a text and a long lyric between notes in running status
    chatty[0].insert(chatty[0].begin() + 2, {0, {0xFF, 0x01, 3, 'l', 'a', 'h'}});
    chatty[0].insert(chatty[0].begin() + 7, {0, {0xFF, 0x05, 0x81, 0x48}});
    chatty[0][7].bytes.resize(4 + 200, 'o');
    chatty[0].insert(chatty[0].begin() + 1, {0, {0xF0, 0x81, 0x00}});   // 128 bytes of system exclusive
    chatty[0][1].bytes.resize(3 + 127, 0x11);
    chatty[0][1].bytes.push_back(0xF7);
    for (const std::string &bytes : {good + '\0', good + std::string(7, '\x55'), midiFile(0, 480, chatty),
                                     head.substr(0, 7) + '\x08' + rest.substr(0, 6) + std::string(2, '\0') + rest.substr(6)})
        expectSameSound(song(bytes), script(format0Script), "format 0 with extras, " + std::to_string(bytes.size()) + " bytes");

    std::string tracks = midiFile(1, 480, format1);
    size_t second = 14 + 8 + (unsigned char)tracks[21];
    std::string odd = tracks.substr(0, second) + "XFIL" + bigEndian(5, 4) + "\x01\x02\x03\x04\x05" + tracks.substr(second);
    expectSameSound(song(odd, "--frames 1"), script(format1Script, "--frames 1"), "a chunk of another kind");

    // Real-time bytes leave running status be; system common ones and an escaped message play
    // nothing; Stop in the file lets every note go, as the raw line would.
    const std::vector<std::vector<Ev>> system = {{
        {0, tempo120}, {0, {0x90, 60, 100}}, {0, {0xF8}}, {0, {64, 90}}, {100, {0xFE}}, {0, {0xF1, 5}}, {0, {0xF2, 1, 2}},
        {0, {0xF3, 1}}, {0, {0xF6}}, {0, {0xF7, 2, 0xF3, 1}}, {380, {0xFC}}, {480, {0xFA}}, {0, {0x90, 67, 80}}, {0, {0xFB}},
        {480, {0x80, 67, 0}}}};
    expectSameSound(song(midiFile(0, 480, system)),
                    script("0 raw 144 60 100\n0 raw 144 64 90\n500 raw 252 0 0\n1000 raw 144 67 80\n1500 raw 128 67 0\n1600 end\n"),
                    "system messages");
}

TEST(RenderMidi, WhatCannotBeReadSafelyIsStillRefused)
{
    const std::pair<std::vector<Ev>, const char *> bad[] = {
        {{{0, {0x90, 60, 100}}, {0, {0xF0, 1, 0xF7}}, {0, {64, 90}}}, "data byte where a status byte belongs"},   // sysex ends running status
        {{{0, {0x90, 60, 100}}, {0, {0xF6}}, {0, {64, 90}}}, "data byte where a status byte belongs"},           // so does system common
        {{{0, {0x90, 60, 100}}, {0, {0xF4, 1}}}, "undefined status byte, 0xF4"}, {{{0, {0xF5}}}, "undefined status byte, 0xF5"},
        {{{0, {0xF9}}}, "undefined status byte, 0xF9"}, {{{0, {0x90, 60, 100}}, {5, {0xFD}}}, "undefined status byte, 0xFD"},
        {{{0, {0xF2, 1, 0x90}}}, "a status byte where a data byte belongs"}};
    std::vector<std::pair<std::string, const char *>> files;
    for (const auto &[track, says] : bad) files.push_back({midiFile(0, 480, {track}), says});
    files.push_back({midiFile(0, 480, format0) + "MTrk" + bigEndian(1, 4), "runs past the end"});   // a chunk header, not a slip
    for (const auto &[bytes, says] : files) {
        Outcome r = song(bytes);
        EXPECT_TRUE(r.status == 2 && !r.wrote && r.out == "" && std::count(r.err.begin(), r.err.end(), '\n') == 1) << says << ": " << r.err;
        EXPECT_NE(r.err.find(says), std::string::npos) << says << " -> " << r.err;
    }
}

}  // namespace
