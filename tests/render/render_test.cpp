// mirl-render run as a user runs it: a script in, a WAV file out, through the
// real note queue, patching rules and audio callback.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>
#include "tools/harness/desktop.h"

namespace {

struct Rendered { int status; std::string errors; std::vector<float> sound; SF_INFO info; };   // info.format 0: no file

// Writes the script, runs mirl-render on it, reads back the WAV and stderr.
Rendered render(const std::string &script, const std::string &options = "", std::string out = "")
{
    static int counter = 0;
    std::string base = "/tmp/mirl_render_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    if (out.empty()) out = base + ".wav";
    std::ofstream(base + ".txt") << script;
    int raw = std::system((MIRL_BINARY_DIR "/tools/render/mirl-render " + options + " " + base + ".txt " + out + " >/dev/null 2>" + base + ".err").c_str());
    Rendered r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, {}, {}, {}};
    std::ifstream err(base + ".err");
    r.errors.assign(std::istreambuf_iterator<char>(err), {});
    if (SNDFILE *f = sf_open(out.c_str(), SFM_READ, &r.info)) sf_close(f), r.sound = desk::readWav(out);
    for (const std::string &p : {out, base + ".txt", base + ".err"}) std::remove(p.c_str());
    return r;
}

// Lowest and highest sample from index from to the end.
std::pair<float, float> peaks(const std::vector<float> &s, size_t from) { return {*std::min_element(s.begin() + (long)from, s.end()), *std::max_element(s.begin() + (long)from, s.end())}; }

TEST(Render, DefaultNoteSettlesAndLoudVoicesClip)
{
    Rendered r = render("0 on 69 100\n# held for the whole file\n\n1001 end\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_TRUE(r.info.samplerate == 44100 && r.info.channels == 1 && r.info.format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    ASSERT_EQ(r.sound.size(), 44144u);   // round(1001 x 44.1)
    for (size_t i = 44100 / 4; i < r.sound.size(); i++) ASSERT_EQ(r.sound[i], r.sound[i - 100]) << i;   // sustain, 441 Hz
    EXPECT_GT(peaks(r.sound, 441).second, 0.08f);   // still decaying from the attack's peak before that
    for (auto [script, peak] : {std::pair{"", 0.067f}, {"0 knob 5 0\n", 0.119f}}) {   // resonance 0 sounds louder
        auto [lo, hi] = peaks(render(script + std::string("0 on 69 100\n1000 end\n")).sound, 40000);
        EXPECT_TRUE(std::fabs(hi - peak) < 0.003f && std::fabs(lo + peak) < 0.003f) << script << lo << " " << hi;
    }
    std::string loud = "0 knob 20 1\n0 knob 10 1\n0 knob 2 1\n";
    for (int k = 0; k < 8; k++) loud += "0 on " + std::to_string(40 + k) + " 127\n";
    EXPECT_EQ(peaks(render(loud + "500 end\n").sound, 0), std::pair(-1.0f, 1.0f));
}

TEST(Render, EquivalentMessagesAndBufferSizesSoundTheSame)
{
    const std::string start = "0 knob 11 0\n0 on 60 100\n0 on 64 90\n";   // short release
    Rendered off = render(start + "300 off 60\n300 off 64\n1000 end\n"), held = render(start + "1000 end\n");
    ASSERT_EQ(off.sound.size(), 44100u);
    EXPECT_EQ(peaks(off.sound, 40000), std::pair(0.0f, 0.0f));   // released and silent, no voice stuck
    EXPECT_NE(held.sound, off.sound);
    // Velocity 0 is a note-off; MIDI Stop releases everything.
    EXPECT_EQ(render(start + "300 raw 144 60 0\n300 raw 159 64 0\n1000 end\n").sound, off.sound);
    EXPECT_EQ(render(start + "300 raw 252 0 0\n1000 end\n").sound, off.sound);
    // Controllers, pitch bend and program changes do nothing; every channel plays.
    EXPECT_EQ(render(start + "100 raw 176 1 127\n100 raw 224 0 127\n100 raw 197 5 0\n1000 end\n").sound, held.sound);
    EXPECT_EQ(render("0 knob 11 0\n0 raw 149 60 100\n0 raw 154 64 90\n1000 end\n").sound, held.sound);
    // Buffer sizes change nothing when the events fall on buffer starts, with both sources patched.
    const std::string patched = "0 knob 7 0.8\n0 patch 13 14\n0 patch 19 17\n0 knob 12 0.9\n0 on 50 100\n0 on 62 100\n800 end\n";
    std::vector<float> base = render(patched).sound;
    EXPECT_EQ(base.size(), 35280u);
    EXPECT_NE(render("0 knob 7 0.8\n0 knob 12 0.9\n0 on 50 100\n0 on 62 100\n800 end\n").sound, base);   // the cables are heard
    for (const char *frames : {"--frames 1", "--frames 64", "--frames 1000"}) EXPECT_EQ(render(patched, frames).sound, base) << frames;
}

TEST(Render, BadScriptsAreRefusedWithTheirLine)
{
    const std::pair<const char *, const char *> bad[] = {
        {"0 on 60 100\n10 wobble 3\n20 end\n", ":2: unknown command"}, {"0 on 60 1x0\n20 end\n", ":1: bad number"},
        {"10 on 60 100\n5 off 60\n20 end\n", ":2: time goes backwards"}, {"0 knob 13 0.5\n20 end\n", ":1: not a knob"},
        {"0 on 60 100\n", "no end"}, {"-5 on 60 100\n20 end\n", ":1: bad time"},
        {"0 on 256 100\n20 end\n", ":1: bad number"}, {"0 end\n5 on 60 1\n", ":2: nothing may follow"}};
    for (auto [script, says] : bad) {
        Rendered r = render(script);
        EXPECT_TRUE(r.status == 2 && r.info.format == 0) << script;   // and no file written
        EXPECT_NE(r.errors.find(says), std::string::npos) << script << " -> " << r.errors;
    }
    Rendered unwritable = render("0 on 60 100\n100 end\n", "", "/nonexistent-dir/out.wav");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.errors.find("cannot write"), std::string::npos);
    Rendered empty = render("0 end\n");   // a zero-length render is valid
    EXPECT_TRUE(empty.status == 0 && empty.sound.empty());
}

}  // namespace
