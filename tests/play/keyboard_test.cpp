// The real program played from the computer keyboard with real key presses
// (XTEST through xdotool) and heard through the sound server: each of the 25
// keys at its pitch, a three-key chord at once, one steady note through the X
// server's key repeat, a held key ending when the window loses the focus, and
// a key the mouse and the keyboard both hold sounding once until both let go.
#include <gtest/gtest.h>
#include <cmath>
#include <vector>
#include "tests/face/driver.h"
#include "tests/play/hearing.h"

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
    desk::HostWatch *host = desk::watchHost();
    desk::Process rec = desk::startRecording(sound.s, wav);
    for (int i = 0; i < 100 && desk::readFile(wav).size() < 8 * RATE / 10; i++) desk::sleepFor(0.05);

    // How long the keys stayed down, by the clock: the notes' lengths are checked against them.
    desk::keyDown(f.display, {"z"}), desk::sleepFor(0.4), desk::keyUp(f.display, {"z"}), desk::sleepFor(0.3);
    for (const char *k : LETTERS) desk::keyDown(f.display, {k}), desk::sleepFor(0.4), desk::keyUp(f.display, {k}), desk::sleepFor(0.3);
    desk::keyDown(f.display, {"z", "c", "b"}), desk::sleepFor(1.0), desk::keyUp(f.display, {"z", "c", "b"}), desk::sleepFor(0.5);
    desk::setKeyRepeat(f.display, true);
    desk::keyDown(f.display, {"n"}), desk::sleepFor(2.0), desk::keyUp(f.display, {"n"}), desk::sleepFor(0.5);
    double down = desk::now();
    desk::keyDown(f.display, {"x"}), desk::sleepFor(0.5), desk::setKeyboardFocus(f.display, 0), desk::sleepFor(1.0);
    desk::keyUp(f.display, {"x"});
    double focusHeld = desk::now() - down;
    desk::setKeyboardFocus(f.display, f.mirl.window.id), desk::sleepFor(0.3);
    f.move(f.at(KEY_FIRST + 9));
    // The mouse presses A, the keyboard joins, the mouse lets go, then the keyboard.
    desk::mouseDown(f.display, 1);
    down = desk::now();
    desk::sleepFor(0.3), desk::keyDown(f.display, {"n"}), desk::sleepFor(0.5), desk::mouseUp(f.display, 1);
    double mouseHeld = desk::now() - down;
    desk::sleepFor(0.6), desk::keyUp(f.display, {"n"}), desk::sleepFor(0.8);
    desk::stopRecording(rec);

    std::vector<float> x = desk::readWav(wav);
    // The recording cut into the notes it holds, by its own sound, not the
    // clock: a busy machine delays key presses and the recording alike. A
    // note is a run of 10 ms blocks that sound, through gaps under 120 ms (a
    // dropout on a loaded machine; the silences between the keys are longer).
    struct Note { double from, to; };
    std::vector<Note> notes;
    for (size_t blk = 0, quiet = 12; (blk + 1) * 441 <= x.size(); blk++) {
        double t = blk * 441.0 / RATE;
        if (level(x, t, t + 0.01) < 0.005) { quiet++; continue; }
        if (quiet >= 12) notes.push_back({t, t});
        notes.back().to = t + 0.01, quiet = 0;
    }
    // What was heard, for a failure's message: each note's time, length and period.
    std::string heard;
    for (const Note &n : notes)
        heard += "\n  " + std::to_string(n.from) + " s, " + std::to_string(n.to - n.from) + " s long, period " +
                 std::to_string(medianPeriod(x, (size_t)((n.from + 0.05) * RATE), (size_t)((n.to - 0.05) * RATE)));
    Listening ear{desk::stopWatchingHost(host).spoils(), ""};
    if (notes.size() != 30u) {
        ear.check(false, "the first press, 25 keys, the chord, the repeat, the focus and the shared key; heard:" + heard);
        return ear.verdict();
    }
    // Each key at its own pitch, within a quarter of a semitone: the period
    // most of its cycles keep, so a dropout inside the note does not blur it.
    std::string wrong;
    for (int i = 0; i < 25; i++) {
        double want = RATE / noteHz(60 + i);
        double got = medianPeriod(x, (size_t)((notes[1 + i].from + 0.05) * RATE), (size_t)((notes[1 + i].to - 0.05) * RATE));
        if (std::fabs(got - want) > 0.015 * want) wrong += std::string(" ") + LETTERS[i] + " (" + std::to_string(got) + ")";
    }
    EXPECT_EQ(wrong, "") << "keys off their pitch; heard:" << heard;
    // C, E and G together, and none of the notes between them, over the
    // longest stretch without a dropout, whose hole would smear each line.
    std::pair<size_t, size_t> chord = longestClean(x, (size_t)((notes[26].from + 0.2) * RATE), (size_t)((notes[26].from + 0.8) * RATE));
    double a = (double)chord.first / RATE, b = (double)chord.second / RATE, c = strength(x, a, b, noteHz(60));
    ear.check(b - a > 0.25, "a quarter of a second of the chord without a dropout");
    if (b - a > 0.25) {
        for (int n : {64, 67}) EXPECT_GT(strength(x, a, b, noteHz(n)), 0.5 * c) << n;
        for (int n : {61, 62, 63, 65, 66, 68, 69, 70, 71}) EXPECT_LT(strength(x, a, b, noteHz(n)), 0.1 * c) << n;
    }
    // Held through the key repeat (from about 0.66 s on): one note that stays
    // at the sustain it reached before, no attack again.
    double low = 1, high = 0, r = notes[27].from;
    EXPECT_GT(notes[27].to - r, 1.9);
    int steady = 0;
    for (double t = r + 0.35; t < r + 1.85; t += 0.05) {
        std::pair<size_t, size_t> w{(size_t)(t * RATE), (size_t)((t + 0.05) * RATE)};
        if (longestClean(x, w.first, w.second) != w) continue;  // a dropout, not the note, dips this one
        low = std::min(low, level(x, t, t + 0.05)), high = std::max(high, level(x, t, t + 0.05)), steady++;
    }
    ear.check(steady >= 10, "ten windows of the held note without a dropout");
    EXPECT_TRUE(low > 0.01 && high < 1.1 * low) << low << " " << high;
    // The focus gone, the note ends although the key is still down.
    EXPECT_LT(notes[28].to - notes[28].from, focusHeld - 0.4) << "the key was down for " << focusHeld << " s";
    // Mouse and keyboard on A: one note, sounding on after the mouse lets go, until the keyboard does.
    EXPECT_GT(notes[29].to - notes[29].from, mouseHeld + 0.25) << "the mouse held it " << mouseHeld << " s";
    EXPECT_LT(notes[29].to, x.size() / (double)RATE - 0.3) << "ended by the keyboard";
    EXPECT_NEAR(medianPeriod(x, (size_t)((notes[29].from + 0.1) * RATE), (size_t)((notes[29].to - 0.15) * RATE)), 100, 1.5);
    ear.verdict();
}

}  // namespace
