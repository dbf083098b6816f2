// The real program under a real X server, played with a real mouse, heard
// through a real sound server: a key sounds at its pitch, the same on both
// sides, and fades on release; the cutoff knob darkens the sound, a patched
// LFO wobbles the pitch and a right click on its jack stops it; and clicks far
// shorter than a frame still act.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>
#include "tests/face/driver.h"
#include "tests/play/hearing.h"

namespace {

const int RATE = 44100;
using Wave = std::vector<float>;

double rms(const Wave &x, size_t from, size_t to)
{
    return std::sqrt(std::inner_product(x.begin() + from, x.begin() + to, x.begin() + from, 0.0) / (double)(to - from));
}
// Level of the sample-to-sample change over the level: how bright the sound is.
double brightness(const Wave &x, size_t from, size_t to)
{
    double d = 0;
    for (size_t i = from + 1; i < to; i++) d += (double)(x[i] - x[i - 1]) * (x[i] - x[i - 1]);
    return std::sqrt(d / (double)(to - from)) / rms(x, from, to);
}
double spread(const std::vector<double> &p) { return *std::max_element(p.begin(), p.end()) - *std::min_element(p.begin(), p.end()); }

// The sink's two channels as the device plays them; the left is returned, and
// the right must carry the same signal: the mono stream stays in the middle.
Wave readStereo(const std::string &path)
{
    SF_INFO info = {};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_TRUE(f && info.channels == 2) << path;
    Wave left;
    float frame[2], apart = 0;
    while (f && info.channels == 2 && sf_readf_float(f, frame, 1) == 1) left.push_back(frame[0]), apart = std::max(apart, std::fabs(frame[0] - frame[1]));
    sf_close(f);
    EXPECT_LT(apart, 1e-6f) << "left and right differ";
    return left;
}

TEST(PlayByMouse, KeysKnobsAndCablesAreHeardAtOnce)
{
    struct Server { desk::Sound s = desk::startSound(); ~Server() { desk::stopSound(s); } } sound;  // outlives the program
    Face f(false, sound.s.env());
    ASSERT_TRUE(f.mirl.ok && f.side == 800);
    std::string dir = desk::tempDir("play");
    // Holds key A (note 69) for hold seconds and records until after seconds past the release.
    auto playA = [&](double hold, double after) {
        static int takes = 0;
        std::string wav = dir + "/take" + std::to_string(takes++) + ".wav";
        desk::Process rec = desk::spawn({"parec", "-d", "mirl.monitor", "--file-format=wav", "--format=float32le",
                                         "--channels=2", "--rate=44100", "--latency-msec=20", wav},
                                        sound.s.env(), "", wav + ".log");
        for (int i = 0; i < 100 && desk::readFile(wav).size() < 8 * RATE / 10; i++) desk::sleepFor(0.05);
        f.move(f.at(KEY_FIRST + 9));
        if (hold > 0) {
            f.button(1, true), desk::sleepFor(hold), f.button(1, false);
        } else {
            f.quickClick(1);  // press and release back to back, inside one frame
        }
        desk::sleepFor(after), desk::stopRecording(rec);
        Wave x = readStereo(wav);
        size_t on = 0;  // the first 10 ms that clearly sound
        while (on + 441 <= x.size() && rms(x, on, on + 441) < 0.005) on += 441;
        bool heard = on + hold * RATE + 4410 < x.size();
        EXPECT_TRUE(heard) << "the key sounds";
        return heard ? Wave(x.begin() + (long)on, x.end()) : Wave(RATE * 3);
    };

    // 441 Hz is exactly 100 samples; released, the level fades through many steps to silence.
    Wave a = playA(1.0, 1.6);
    std::vector<double> p = localPeriods(a, RATE / 10, RATE * 8 / 10);
    EXPECT_NEAR(p[p.size() / 2], 100.0, 0.05) << "a run in the middle of the held note";
    double held = rms(a, RATE * 7 / 10, RATE * 8 / 10), level;
    int falling = 0;
    for (size_t i = RATE * 9 / 10; i + 2205 <= a.size(); i += 2205) falling += (level = rms(a, i, i + 2205)) > 0.1 * held && level < 0.8 * held;
    EXPECT_GE(falling, 4) << "a fade of at least 0.2 s";
    EXPECT_LT(rms(a, a.size() - 4410, a.size()), 1e-4) << "and then silence";

    // A bright sawtooth from the Shape knob; the Cutoff knob turned right down takes the edge off.
    f.turn(f.at(KNOB_SHAPE), -400);
    int px = -1, py = -1;  // the pointer, hidden while turning, comes back where the drag began
    EXPECT_TRUE(desk::mouseLocation(f.display, f.mirl.window, &px, &py) && std::hypot(px - f.at(KNOB_SHAPE).x, py - f.at(KNOB_SHAPE).y) < 1.5);
    double bright = brightness(playA(0.6, 1.2), RATE / 10, RATE / 2);
    f.turn(f.at(KNOB_CUTOFF), 400);
    EXPECT_LT(brightness(playA(0.6, 1.2), RATE / 10, RATE / 2), 0.5 * bright);
    f.click(f.at(KNOB_SHAPE), 3), f.click(f.at(KNOB_CUTOFF), 3);

    // The LFO patched into the Tune input swings the pitch; a right click on its jack stops it.
    f.drag(f.at(JACK_LFO_OUT), f.at(JACK_TUNE_IN));
    EXPECT_GT(spread(localPeriods(playA(1.0, 1.2), RATE / 20, RATE * 9 / 10)), 2.5);
    f.click(f.at(JACK_LFO_OUT), 3), p = localPeriods(playA(1.0, 1.0), RATE / 20, RATE * 9 / 10);
    EXPECT_TRUE(spread(p) < 0.5 && std::fabs(p[p.size() / 2] - 100) < 0.05) << spread(p) << " " << p[p.size() / 2];

    // Quick clicks: a key tap sounds and ends, a right click resets a turned knob, the help icon tints the face.
    a = playA(0, 1.5);
    // The tap's first 20 ms of sound, without the silence before it in the first 10 ms or a dropout.
    double tap = 0;
    size_t n = 0;
    for (auto s : cleanStretches(a, 0, 8820))
        for (size_t i = s.first; i < s.second && n < 882; i++, n++) tap += a[i] * a[i] / 882.0;
    EXPECT_TRUE(std::sqrt(tap) > 0.01 && rms(a, a.size() - 4410, a.size()) < 1e-4)
        << "the tap sounded, and its note was released: " << std::sqrt(tap) << ", then " << rms(a, a.size() - 4410, a.size());
    Shot before = f.shot();
    Vector2 cutoff = f.at(KNOB_CUTOFF);
    int x = (int)cutoff.x, y = (int)cutoff.y;
    f.turn(cutoff, -100);
    EXPECT_GT(f.shot().count(x - 30, y - 30, x + 30, y + 30, differ, &before), 20) << "the knob turned";
    f.move(cutoff), f.quickClick(3);
    EXPECT_EQ(f.shot().count(x - 30, y - 30, x + 30, y + 30, differ, &before), 0) << "a right click reset it";
    f.move({24, 778}), f.quickClick(1);
    EXPECT_GT(f.shot().count(0, 0, 800, 800, differ, &before), 320000) << "help mode is on";
}

}  // namespace
