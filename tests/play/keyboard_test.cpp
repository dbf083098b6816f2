// The real program played from the computer keyboard with real key presses
// (XTEST through xdotool) and heard through the sound server: each of the 25
// keys at its pitch, a three-key chord at once, one steady note through the X
// server's key repeat, a held key ending when the window loses the focus, and
// a key the mouse and the keyboard both hold sounding once until both let go.
#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include <vector>
#include "tests/face/driver.h"

namespace {

const int RATE = 44100;
const char *const LETTERS[25] = {"z", "s", "x", "d", "c", "v", "g", "b", "h", "n", "j", "m", "q",
                                 "2", "w", "3", "e", "r", "5", "t", "6", "y", "7", "u", "i"};

// The pitch a note sounds at: its period is a whole number of samples.
double noteHz(int note) { return RATE / std::floor(RATE / (440.0 * std::pow(2.0, (note - 69) / 12.0))); }

// Strength of one frequency in x[from, to), through a Hann window.
double strength(const std::vector<float> &x, double from, double to, double hz)
{
    size_t a = (size_t)(from * RATE), b = std::min(x.size(), (size_t)(to * RATE));
    double re = 0, im = 0, w = 2 * M_PI * hz / RATE;
    for (size_t i = a; i < b; i++) {
        double hann = 0.5 - 0.5 * std::cos(2 * M_PI * (double)(i - a) / (double)(b - a));
        re += hann * x[i] * std::cos(w * (double)i), im += hann * x[i] * std::sin(w * (double)i);
    }
    return b > a ? std::hypot(re, im) / (double)(b - a) : 0;
}
double level(const std::vector<float> &x, double from, double to)
{
    double sum = 0;
    size_t a = (size_t)(from * RATE), b = std::min(x.size(), (size_t)(to * RATE));
    for (size_t i = a; i < b; i++) sum += (double)x[i] * x[i];
    return b > a ? std::sqrt(sum / (double)(b - a)) : 0;
}

TEST(PlayByKeyboard, PitchesChordRepeatFocusAndTheMouseOnOneKey)
{
    struct Server { desk::Sound s = desk::startSound(); ~Server() { desk::stopSound(s); } } sound;  // outlives the program
    Face f(false, sound.s.env());
    ASSERT_TRUE(f.mirl.ok);
    desk::setKeyboardFocus(f.display, f.mirl.window.id);
    f.turn(f.at(KNOB_RELEASE), 300);  // the shortest release, so one note is gone before the next
    f.move({f.side - 60.0f, f.side - 150.0f});
    std::string wav = desk::tempDir("keyboard") + "/take.wav";
    desk::Process rec = desk::startRecording(sound.s, wav);
    for (int i = 0; i < 100 && desk::readFile(wav).size() < 8 * RATE / 10; i++) desk::sleepFor(0.05);

    // Wall-clock times of the steps, from the first press; the recording is lined up by that press's sound.
    desk::keyDown(f.display, {"z"});  // each time taken once xdotool has pressed its key
    auto t0 = std::chrono::steady_clock::now();
    desk::sleepFor(0.4), desk::keyUp(f.display, {"z"}), desk::sleepFor(0.3);
    auto now = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
    std::vector<double> keyAt;
    for (const char *k : LETTERS) desk::keyDown(f.display, {k}), keyAt.push_back(now()), desk::sleepFor(0.4), desk::keyUp(f.display, {k}), desk::sleepFor(0.3);
    double chordAt = now();
    desk::keyDown(f.display, {"z", "c", "b"}), desk::sleepFor(1.0), desk::keyUp(f.display, {"z", "c", "b"}), desk::sleepFor(0.5);
    desk::setKeyRepeat(f.display, true);
    double repeatAt = now();
    desk::keyDown(f.display, {"n"}), desk::sleepFor(2.0), desk::keyUp(f.display, {"n"}), desk::sleepFor(0.5);
    double focusAt = now();
    desk::keyDown(f.display, {"x"}), desk::sleepFor(0.5), desk::setKeyboardFocus(f.display, 0), desk::sleepFor(1.0);
    desk::keyUp(f.display, {"x"}), desk::setKeyboardFocus(f.display, f.mirl.window.id), desk::sleepFor(0.2);
    f.move(f.at(KEY_FIRST + 9));
    double bothAt = now();  // the mouse presses A, the keyboard joins, the mouse lets go, then the keyboard
    f.button(1, true), desk::keyDown(f.display, {"n"}), desk::sleepFor(0.5), f.button(1, false), desk::sleepFor(0.5);
    double keyUpAt = now();
    desk::keyUp(f.display, {"n"}), desk::sleepFor(0.8);
    desk::stopRecording(rec);

    std::vector<float> all = desk::readWav(wav);
    size_t on = 0;  // the first 10 ms that clearly sound: the first press
    while (on + 441 <= all.size() && level(all, on / (double)RATE, (on + 441) / (double)RATE) < 0.005) on += 441;
    ASSERT_LT(on + RATE, all.size()) << "nothing heard";
    std::vector<float> x(all.begin() + (long)on, all.end());

    // Each key at its own pitch, well above the notes a semitone either side.
    for (int i = 0; i < 25; i++) {
        double a = keyAt[i] + 0.1, b = keyAt[i] + 0.35, mine = strength(x, a, b, noteHz(60 + i));
        EXPECT_GT(mine, 5 * strength(x, a, b, noteHz(59 + i))) << LETTERS[i];
        EXPECT_GT(mine, 5 * strength(x, a, b, noteHz(61 + i))) << LETTERS[i];
    }
    // C, E and G together, and none of the notes between them.
    double a = chordAt + 0.2, b = chordAt + 0.9, c = strength(x, a, b, noteHz(60));
    for (int n : {64, 67}) EXPECT_GT(strength(x, a, b, noteHz(n)), 0.5 * c) << n;
    for (int n : {61, 62, 63, 65, 66, 68, 69, 70, 71}) EXPECT_LT(strength(x, a, b, noteHz(n)), 0.1 * c) << n;
    // Held through the key repeat (from about 0.66 s on): the level stays at the
    // sustain it reached before, no attack again.
    double low = 1, high = 0;
    for (double t = repeatAt + 0.35; t < repeatAt + 1.9; t += 0.05) low = std::min(low, level(x, t, t + 0.05)), high = std::max(high, level(x, t, t + 0.05));
    EXPECT_TRUE(low > 0.01 && high < 1.1 * low) << low << " " << high;
    // The focus gone, the note ends although the key is still down.
    double held = level(x, focusAt + 0.2, focusAt + 0.45);
    EXPECT_GT(held, 0.01);
    EXPECT_LT(level(x, focusAt + 1.0, focusAt + 1.4), 0.05 * held);
    // Mouse and keyboard on A: one steady note until the keyboard too lets go.
    double both = level(x, bothAt + 0.5, bothAt + 0.6);
    EXPECT_GT(both, 0.01);
    EXPECT_GT(level(x, keyUpAt - 0.15, keyUpAt - 0.05), 0.8 * both) << "still sounding after the mouse let go";
    EXPECT_LT(level(x, keyUpAt + 0.5, keyUpAt + 0.7), 0.05 * both) << "ended by the keyboard";
    EXPECT_GT(strength(x, bothAt + 0.5, keyUpAt - 0.05, noteHz(69)), 5 * strength(x, bothAt + 0.5, keyUpAt - 0.05, noteHz(70)));
}

}  // namespace
