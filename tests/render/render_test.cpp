// mirl-render run as a user runs it: scripts in, WAV files out, through the
// real note queue, the real patching rules and the real audio callback.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>
#include "tests/support/desktop.h"

namespace {

std::string tempDir()
{
    static std::string dir = [] {
        char pattern[] = "/tmp/mirl_render_XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return dir;
}

struct Rendered {
    int status;
    std::string errors;
    std::vector<float> sound;
    SF_INFO info;
};

// Writes the script, runs mirl-render on it and reads back the WAV and stderr.
Rendered render(const std::string &script, const std::string &options = "", const std::string &outName = "out.wav")
{
    static int counter = 0;
    std::string base = tempDir() + "/r" + std::to_string(counter++);
    std::ofstream(base + ".txt") << script;
    std::string out = outName.find('/') == std::string::npos ? base + outName : outName;
    std::string cmd = std::string(MIRL_BINARY_DIR) + "/tools/render/mirl-render " + options + " " + base + ".txt " + out +
                      " > /dev/null 2> " + base + ".err";
    Rendered r{};
    int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream err(base + ".err");
    std::string line;
    while (std::getline(err, line))
        if (line.rfind("mirl-render", 0) == 0) r.errors += line + "\n";
    SNDFILE *f = sf_open(out.c_str(), SFM_READ, &r.info);
    if (f) {
        sf_close(f);
        r.sound = desk::readWav(out);
        std::remove(out.c_str());
    }
    return r;
}

float peak(const std::vector<float> &s, size_t from, size_t to, bool high)
{
    float p = high ? -2.0f : 2.0f;
    for (size_t i = from; i < to; i++) p = high ? std::max(p, s[i]) : std::min(p, s[i]);
    return p;
}

TEST(Render, OneDefaultNoteSettlesIntoItsPeriod)
{
    Rendered r = render("0 on 69 100\n# held for the whole file\n\n1001 end\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.info.samplerate, 44100);
    EXPECT_EQ(r.info.channels, 1);
    EXPECT_EQ(r.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(r.sound.size(), 44144u);   // round(1001 x 44.1)
    const std::vector<float> &s = r.sound;
    for (size_t i = 44100 / 4; i < s.size(); i++) ASSERT_EQ(s[i], s[i - 100]) << i;   // 441 Hz, exactly
    EXPECT_NEAR(peak(s, 40000, 44144, true), 0.067f, 0.002f);
    EXPECT_NEAR(peak(s, 40000, 44144, false), -0.067f, 0.002f);
    // Before the sustain the level is higher: the decay from the attack's peak.
    EXPECT_GT(peak(s, 441, 2000, true), 0.08f);

    Rendered dry = render("0 knob 5 0\n0 on 69 100\n1000 end\n");   // resonance 0
    ASSERT_EQ(dry.status, 0) << dry.errors;
    EXPECT_NEAR(peak(dry.sound, 40000, 44100, true), 0.119f, 0.003f);
    EXPECT_NEAR(peak(dry.sound, 40000, 44100, false), -0.119f, 0.003f);
}

TEST(Render, EightLoudVoicesClipAtExactlyOne)
{
    std::string script = "0 knob 20 1\n0 knob 10 1\n0 knob 2 1\n";
    for (int k = 0; k < 8; k++) script += "0 on " + std::to_string(40 + k) + " 127\n";
    Rendered r = render(script + "500 end\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(peak(r.sound, 0, r.sound.size(), true), 1.0f);
    EXPECT_EQ(peak(r.sound, 0, r.sound.size(), false), -1.0f);
}

TEST(Render, MessagesActLikeTheirNotes)
{
    const std::string start = "0 knob 11 0\n0 on 60 100\n0 on 64 90\n";   // short release
    Rendered off = render(start + "300 off 60\n300 off 64\n1000 end\n");
    ASSERT_EQ(off.status, 0) << off.errors;
    ASSERT_EQ(off.sound.size(), 44100u);
    EXPECT_EQ(peak(off.sound, 40000, 44100, true), 0.0f);   // released and silent
    // Velocity 0 is a note-off; MIDI Stop releases everything.
    EXPECT_EQ(render(start + "300 raw 144 60 0\n300 raw 159 64 0\n1000 end\n").sound, off.sound);
    EXPECT_EQ(render(start + "300 raw 252 0 0\n1000 end\n").sound, off.sound);
    // Controllers, pitch bend and program changes do nothing; every channel plays.
    Rendered held = render(start + "1000 end\n");
    EXPECT_EQ(render(start + "100 raw 176 1 127\n100 raw 224 0 127\n100 raw 197 5 0\n1000 end\n").sound, held.sound);
    EXPECT_EQ(render("0 knob 11 0\n0 raw 149 60 100\n0 raw 154 64 90\n1000 end\n").sound, held.sound);
    EXPECT_NE(held.sound, off.sound);
}

TEST(Render, PatchingFollowsThePanelRules)
{
    const std::string notes = "0 knob 7 1\n0 on 57 100\n";
    Rendered plain = render(notes + "700 end\n");
    Rendered lfo = render(notes + "0 patch 13 16\n700 end\n");   // LFO -> tune
    ASSERT_EQ(lfo.status, 0) << lfo.errors;
    EXPECT_NE(lfo.sound, plain.sound);
    EXPECT_EQ(render(notes + "0 patch 16 13\n700 end\n").sound, lfo.sound);        // dragged from the input end
    EXPECT_EQ(render(notes + "0 patch 13 19\n0 patch 14 15\n700 end\n").sound, plain.sound);   // refused
    EXPECT_EQ(render(notes + "0 patch 13 16\n0 patch 19 16\n700 end\n").sound, lfo.sound);   // input taken
    EXPECT_EQ(render(notes + "0 patch 13 16\n0 unpatch 13\n700 end\n").sound, plain.sound);
}

TEST(Render, BufferSizeChangesNothingWhenEventsAlign)
{
    const std::string script = "0 knob 7 0.8\n0 patch 13 14\n0 patch 19 17\n0 knob 12 0.9\n0 on 50 100\n0 on 62 100\n800 end\n";
    Rendered base = render(script);
    ASSERT_EQ(base.status, 0) << base.errors;
    for (const char *frames : {"--frames 1", "--frames 64", "--frames 1000"}) EXPECT_EQ(render(script, frames).sound, base.sound) << frames;
}

TEST(Render, BadScriptsAreRefusedWithTheirLine)
{
    struct Bad { const char *script, *says; };
    const Bad bad[] = {
        {"0 on 60 100\n10 wobble 3\n20 end\n", ":2: unknown command"},
        {"0 on 60 1x0\n20 end\n", ":1: bad number"},
        {"0 knob 4 abc\n20 end\n", ":1: bad number"},
        {"10 on 60 100\n5 off 60\n20 end\n", ":2: time goes backwards"},
        {"0 knob 13 0.5\n20 end\n", ":1: not a knob"},
        {"0 on 60 100\n", "no end"},
        {"-5 on 60 100\n20 end\n", ":1: bad time"},
        {"0 on 256 100\n20 end\n", ":1: bad number"},
        {"0 end\n5 on 60 1\n", ":2: nothing may follow"},
    };
    for (const Bad &b : bad) {
        Rendered r = render(b.script);
        EXPECT_EQ(r.status, 2) << b.script;
        EXPECT_NE(r.errors.find(b.says), std::string::npos) << b.script << " -> " << r.errors;
        EXPECT_TRUE(r.sound.empty()) << b.script;   // no file written
    }
    Rendered unwritable = render("0 on 60 100\n100 end\n", "", "/nonexistent-dir/out.wav");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.errors.find("cannot write"), std::string::npos);
    // Knob values beyond 0..1 are clamped as a drag would; an empty render is valid.
    EXPECT_EQ(render("0 knob 20 7\n0 on 60 100\n300 end\n").sound, render("0 knob 20 1\n0 on 60 100\n300 end\n").sound);
    Rendered empty = render("0 end\n");
    EXPECT_EQ(empty.status, 0);
    EXPECT_TRUE(empty.sound.empty());
}

}  // namespace
