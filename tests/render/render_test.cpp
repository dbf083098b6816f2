// mirl-render run as a user runs it: a script in, a WAV file out, through the
// real note queue, patching rules and audio callback.
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include "tests/render/render_test.h"

namespace {

using render::script;

// Lowest and highest sample from index from to the end.
std::pair<float, float> peaks(const std::vector<float> &s, size_t from) { return {*std::min_element(s.begin() + (long)from, s.end()), *std::max_element(s.begin() + (long)from, s.end())}; }

TEST(Render, DefaultNoteSettlesAndLoudVoicesClip)
{
    render::Outcome r = script("0 on 69 100\n# held for the whole file\n\n1001 end\n");
    ASSERT_TRUE(r.status == 0 && r.whole && r.out + r.err == "") << r.err;   // and a renderer that works prints nothing
    ASSERT_EQ(r.sound.size(), 44144u);   // round(1001 x 44.1)
    for (size_t i = 44100 / 4; i < r.sound.size(); i++) ASSERT_EQ(r.sound[i], r.sound[i - 100]) << i;   // sustain, 441 Hz
    EXPECT_GT(peaks(r.sound, 441).second, 0.08f);   // still decaying from the attack's peak before that
    for (auto [knobs, peak] : {std::pair{"", 0.067f}, {"0 knob 5 0\n", 0.119f}}) {   // resonance 0 sounds louder
        auto [lo, hi] = peaks(script(knobs + std::string("0 on 69 100\n1000 end\n")).sound, 40000);
        EXPECT_TRUE(std::fabs(hi - peak) < 0.003f && std::fabs(lo + peak) < 0.003f) << knobs << lo << " " << hi;
    }
    std::string loud = "0 knob 20 1\n0 knob 10 1\n0 knob 2 1\n";
    for (int k = 0; k < 8; k++) loud += "0 on " + std::to_string(40 + k) + " 127\n";
    EXPECT_EQ(peaks(script(loud + "500 end\n").sound, 0), std::pair(-1.0f, 1.0f));
}

TEST(Render, EquivalentMessagesAndBufferSizesSoundTheSame)
{
    const std::string start = "0 knob 11 0\n0 on 60 100\n0 on 64 90\n";   // short release
    std::vector<float> off = script(start + "300 off 60\n300 off 64\n1000 end\n").sound, held = script(start + "1000 end\n").sound;
    ASSERT_EQ(off.size(), 44100u);
    EXPECT_EQ(peaks(off, 40000), std::pair(0.0f, 0.0f));   // released and silent, no voice stuck
    EXPECT_NE(held, off);
    // Velocity 0 is a note-off; MIDI Stop releases everything.
    EXPECT_EQ(script(start + "300 raw 144 60 0\n300 raw 159 64 0\n1000 end\n").sound, off);
    EXPECT_EQ(script(start + "300 raw 252 0 0\n1000 end\n").sound, off);
    // Controllers, pitch bend and program changes do nothing; every channel plays.
    EXPECT_EQ(script(start + "100 raw 176 1 127\n100 raw 224 0 127\n100 raw 197 5 0\n1000 end\n").sound, held);
    EXPECT_EQ(script("0 knob 11 0\n0 raw 149 60 100\n0 raw 154 64 90\n1000 end\n").sound, held);
    // Buffer sizes change nothing when the events fall on buffer starts, with both sources patched.
    const std::string patched = "0 knob 7 0.8\n0 patch 13 14\n0 patch 19 17\n0 knob 12 0.9\n0 on 50 100\n0 on 62 100\n800 end\n";
    std::vector<float> base = script(patched).sound;
    EXPECT_NE(script("0 knob 7 0.8\n0 knob 12 0.9\n0 on 50 100\n0 on 62 100\n800 end\n").sound, base);   // the cables are heard
    for (const char *frames : {"--frames 1", "--frames 64", "--frames 1000"}) EXPECT_EQ(script(patched, frames).sound, base) << frames;
}

}  // namespace
