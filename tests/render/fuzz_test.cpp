// mirl-render fed what a careless or hostile user might hand it: broken and
// mutated scripts, random bytes, absurd numbers, huge lines, missing files, a
// disk that fills up. Whatever comes in, it ends on its own with 0, 1 or 2,
// says nothing through the sanitizers, and leaves either a whole WAV or none.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdio>
#include "tests/render/render_test.h"
#include "tools/harness/desktop.h"

namespace {

using desk::Rng;

const char *const WORDS[] = {"0", "-1", "+1", "13", "19", "20", "45", "46", "128", "252", "255", "256", "3600001", "2147483648",
                             "99999999999999999999999", "1e999", "nan", "-inf", "0x1p3", "1e-45", "3.4e38", "0.5", ".5", "1,5",
                             "\xd9\xa3", "\xff\xfe", "#", "on", "off", "raw", "knob", "patch", "unpatch", "end"};
const char *const COMMANDS[] = {"knob", "patch", "unpatch", "on", "off", "raw", "end", "wobble", "ON", ""};
const char *const SEEDS[] = {
    "0 knob 11 0\n0 on 60 100\n0 on 64 90\n300 off 60\n300 raw 144 64 0\n500 end\n",
    "0 knob 7 0.8\n0 patch 13 14\n0 patch 19 17\n0 knob 12 0.9\n0 on 50 100\n0 on 62 100\n100 unpatch 14\n800 end\n",
    "0 knob 20 1\n0 knob 10 1\n0 knob 2 1\n0 on 40 127\n0 on 41 127\n10 raw 252 0 0\n20 raw 176 1 127\n400 end\n",
};

std::string word(Rng &r) { return r.chance(50) ? WORDS[r.below(std::size(WORDS))] : std::to_string(r.below(r.chance(50) ? 47 : 257)); }

// A damaged script: one of the good ones changed a few times over (bytes, words and whole lines
// of commands with odd numbers), random bytes, or sizes no hand-written script has.
std::string brokenScript(Rng &r)
{
    switch (r.below(10)) {
    case 0: return "0 on 60 100" + std::string(200000, ' ') + "\n100 end\n";
    case 1: return std::string(300000, '#') + "\n" + std::string(300000, '\n') + "5 end\n";
    case 2:   // more notes at one moment than the queue holds
        for (std::string s;; s += "0 on " + std::to_string(s.size() % 128) + " 9\n0 off " + std::to_string(s.size() % 128) + "\n")
            if (s.size() > 40000) return s + "50 end\n";
    }
    std::string s = SEEDS[r.below(std::size(SEEDS))];
    if (r.chance(20)) {  // or random bytes, mostly of the kinds a script is made of
        s.clear();
        for (size_t n = r.below(3000); n > 0; n--) s += r.chance(70) ? "0123456789 \n\t.-#endonraw"[r.below(25)] : (char)r.below(256);
    }
    for (size_t n = 1 + r.below(8); n > 0 && !s.empty(); n--) {
        size_t at = r.below(s.size()), end = s.find_first_of(" \n", at), line = s.find('\n', at);
        switch (r.below(6)) {
        case 0: s[at] = (char)r.below(256); break;                                   // one byte changed
        case 1: s.erase(at, 1 + r.below(12)); break;                                 // a few bytes gone
        case 2: s.resize(at); break;                                                 // cut off mid-line
        case 3: s.replace(at, end == std::string::npos ? end : end - at, word(r)); break;   // a word swapped for an odd one
        default: {                                                                   // a line of a command and numbers
            std::string add = std::to_string(r.below(1000)) + " " + COMMANDS[r.below(std::size(COMMANDS))];
            for (size_t k = r.chance(80) ? 2 + r.below(2) : r.below(5); k > 0; k--) add += " " + word(r);
            s.insert(line == std::string::npos ? s.size() : line + 1, add + (r.chance(5) ? "\r\n" : "\n"));
        }
        }
    }
    return s;
}

struct Case {
    std::string script;
    int wantStatus;                  // -1 when 0, 1 and 2 may all be right
    const char *says;                // what the message must say
    std::string args = "@s.txt OUT";   // @s.txt is the script file, OUT the WAV
    const char *shell = "";          // run before it: a full disk
};

// The fixed cases: each names the one right status and what the message says.
const Case FIXED[] = {
    {"", 2, "no end line"}, {"", 2, "cannot read script", "@none.txt OUT"}, {"", 2, "cannot read script /tmp", "/tmp OUT"},   // a folder too
    {"0 on 60 1\n10 end\n", 1, "cannot write", "@s.txt /nonexistent-dir/x.wav"}, {"0 on 60 1\n10 end\n", 1, "cannot write", "@s.txt /tmp"},
    {"0 on 60 100\n2000 end\n", 1, "cannot write", "@s.txt OUT", "trap '' XFSZ; ulimit -f 128;"},   // the disk fills up: no cut-off WAV
    {"0 on 60 100\n2147483647 end\n", 2, ":2: bad time"}, {"0 on 60 100\n3600001 end\n", 2, ":2: bad time"},   // days of sound asked for
    {"-5 on 60 100\n20 end\n", 2, ":1: bad time"}, {"0 knob 13 0.5\n20 end\n", 2, ":1: not a knob"},
    {"0 knob 1 nan\n0 end\n", 2, ":1: bad number"}, {"0 knob 1 1e999\n0 end\n", 2, ":1: bad number"},
    {"0 on 60 1x0\n20 end\n", 2, ":1: bad number"}, {"0 on 256 100\n20 end\n", 2, ":1: bad number"},
    {"0 on 60 100\n10 wobble 3\n20 end\n", 2, ":2: unknown command"}, {"10 on 60 100\n5 off 60\n20 end\n", 2, ":2: time goes backwards"},
    {"0 end\n5 on 60 1\n", 2, ":2: nothing may follow"},
    {"", 2, "usage", ""}, {"0 end\n", 2, "usage", "@s.txt"}, {"0 end\n", 2, "usage", "@s.txt OUT extra"}, {"", 2, "usage", "--frames"},
    {"", 2, "usage", "--midi"}, {"0 end\n", 0, ""},   // a zero-length render is valid
    {"0 end\n", 2, "--frames needs", "--frames 0 @s.txt OUT"}, {"0 end\n", 2, "--frames needs", "--frames 1048577 @s.txt OUT"},
    {"0 on 60 100\n0 on 90 127\n3000 end\n", 0, "", "--frames 1048576 @s.txt OUT"},
    {"", 2, "cannot read", "--midi /nonexistent/song.mid OUT"}, {"0 on 60 100\n", 2, "a patch holds only", "--midi @s.txt --patch @s.txt OUT"},
};

// The whole verdict on one run; empty when it behaved.
std::string judge(const Case &c, const render::Outcome &r)
{
    std::string why;
    if (r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error") != std::string::npos) why += "sanitizer report; ";
    if (r.status > 2 || (c.wantStatus >= 0 && r.status != c.wantStatus)) why += "exit status " + std::to_string(r.status) + "; ";
    if (r.err.find(c.says) == std::string::npos) why += std::string("no \"") + c.says + "\"; ";
    if (r.status != 0 && r.wrote) why += "left a file behind; ";
    if (r.status != 0 && r.err.find("mirl-render: ") == std::string::npos && r.err.find("usage: mirl-render") == std::string::npos) why += "no message; ";
    if (r.status == 0 && !r.whole) why += "no whole WAV; ";
    for (float x : r.sound)
        if (!(std::fabs(x) <= 1.0f)) return why + "sample " + std::to_string(x);
    return why.empty() ? why : why + "\n" + r.err.substr(0, 600);
}

TEST(RenderFuzz, AnyScriptEndsWithAStatusAndAWholeWavOrNone)
{
    // MIRL_FUZZ_CASES runs more (or fewer) of the same seeded sequence.
    const char *env = std::getenv("MIRL_FUZZ_CASES");
    size_t count = env ? (size_t)std::atol(env) : 400, failures = 0, byStatus[3] = {0, 0, 0};
    Rng r{20261208};
    const char *frames[] = {"1", "3", "511", "4096", "-5", "nan", "", "99999999999999999999"};
    for (size_t i = 0; i < count; i++) {
        Case c = i < std::size(FIXED) ? FIXED[i] : Case{brokenScript(r), -1, ""};
        if (i >= std::size(FIXED) && r.chance(8)) c.args = std::string("--frames ") + frames[r.below(std::size(frames))] + " " + c.args;
        render::Outcome out = render::run(c.args, {{"s.txt", c.script}}, c.shell);
        std::string why = judge(c, out);
        if (why.empty()) byStatus[out.status]++;
        else if (++failures <= 10) ADD_FAILURE() << "case " << i << ": " << why << "\nscript (first 300 bytes): " << c.script.substr(0, 300);
    }
    std::printf("%zu scripts: %zu rendered, %zu unwritable, %zu refused\n", count, byStatus[0], byStatus[1], byStatus[2]);
    EXPECT_EQ(failures, 0u);
    // The mix must reach every outcome, or the fuzz has stopped testing the renderer.
    EXPECT_TRUE(byStatus[0] > count / 20 && byStatus[2] > count / 4 && byStatus[1] >= 3) << byStatus[0] << " " << byStatus[1] << " " << byStatus[2];
}

// A damaged MIDI file: a small song (closed by MIDI Stop, so no note rings on) with bytes
// changed, cut, inserted or appended, status bytes of every kind among them.
std::string brokenSong(Rng &r)
{
    std::vector<std::vector<render::Ev>> tracks = {{{0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20}}, {0, {0x90, 60, 100}}, {30, {64, 90}},
                                                    {0, {0xFF, 0x01, 2, 'h', 'i'}}, {60, {60, 0}}, {40, {0xFC}}}};
    if (r.chance(50)) tracks.push_back({{10, {0x91, 67, 80}}, {0, {0xF8}}, {50, {0xF1, 3}}, {10, {0x81, 67, 0}}, {5, {0xFC}}});
    std::string s = render::midiFile((int)tracks.size() - 1, 96, tracks);
    const unsigned char kinds[] = {0x00, 0x7F, 0x80, 0x90, 0xC0, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
                                   0xF8, 0xF9, 0xFA, 0xFC, 0xFD, 0xFE, 0xFF};
    for (size_t n = 1 + r.below(2); n > 0; n--) {
        size_t at = 14 + r.below(s.size() - 14);
        switch (r.below(5)) {
        case 0: s[at] = (char)r.below(256); break;                                   // one byte changed
        case 1: s[at] = (char)kinds[r.below(std::size(kinds))]; break;               // or a status byte put there
        case 2: s.insert(at, 1, (char)kinds[r.below(std::size(kinds))]); break;      // one slipped in
        case 3: s.erase(at, 1 + r.below(4)); break;                                  // a few bytes gone
        default: s += std::string(r.below(12), (char)r.below(256));                  // something after the last chunk
        }
    }
    return s;
}

TEST(RenderFuzz, AnyMidiFileEndsWithAStatusAndAWholeWavOrNone)
{
    const char *env = std::getenv("MIRL_FUZZ_CASES");
    size_t count = env ? (size_t)std::atol(env) / 2 : 200, failures = 0, byStatus[3] = {0, 0, 0};
    Rng r{20261209};
    for (size_t i = 0; i < count; i++) {
        Case c{brokenSong(r), -1, "", "--midi @s.txt OUT"};
        render::Outcome out = render::run(c.args, {{"s.txt", c.script}});
        std::string why = judge(c, out);
        if (why.empty()) byStatus[out.status]++;
        else if (++failures <= 10) ADD_FAILURE() << "case " << i << ": " << why;
    }
    std::printf("%zu MIDI files: %zu rendered, %zu refused\n", count, byStatus[0], byStatus[2]);
    EXPECT_EQ(failures, 0u);
    EXPECT_TRUE(byStatus[0] > count / 10 && byStatus[2] > count / 10) << byStatus[0] << " " << byStatus[2];
}

}  // namespace
