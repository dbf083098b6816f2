// The sanitizer build of the real program under a storm of a few thousand mouse
// actions: clicks, knob drags, cable pulls onto every kind of target, right
// clicks, key glides, help toggles and buttons let go outside the window.
// Afterwards it must fall silent within the longest release, still play,
// close with 0 and never have said a word through the sanitizers.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include "tests/face/driver.h"

namespace {

const int RATE = 44100;
const double LONGEST_RELEASE = 4.0;  // seconds, the release knob turned fully up

// Builds xdotool command chains in screen coordinates and counts the mouse actions in them.
struct Storm {
    desk::Rng r;
    desk::Window w;
    std::vector<std::string> chain;
    int actions = 0;

    void add(std::initializer_list<std::string> words) { chain.insert(chain.end(), words); }
    void wait(double s) { add({"sleep", std::to_string(s)}); }
    void pause() { wait(r.chance(15) ? 0.0 : 0.02 * (1 + r.below(3))); }  // sometimes within one frame
    void to(Vector2 p) { add({"mousemove", std::to_string(w.x + (int)p.x), std::to_string(w.y + (int)p.y)}), actions++; }
    void by(int dx, int dy) { add({"mousemove_relative", "--", std::to_string(dx), std::to_string(dy)}), actions++; }
    void down(int b) { add({"mousedown", std::to_string(b)}), actions++; }
    void up(int b) { add({"mouseup", std::to_string(b)}), actions++; }
    void click(int b) { down(b), pause(), up(b), pause(); }
    // Approaches with a small extra move, so motion after a hidden-pointer drag is seen fresh.
    void approach(Vector2 p) { to({p.x + 3, p.y + 3}), pause(), to(p), wait(0.04); }

    int knob() { int k = r.below(13); return k == 12 ? KNOB_GAIN : KNOB_TUNE + k; }
    int jack() { return JACK_LFO_OUT + r.below(7); }
    int key() { return KEY_FIRST + r.below(KEY_LAST - KEY_FIRST + 1); }
    int control() { int c = r.below(3); return c == 0 ? knob() : c == 1 ? jack() : key(); }
    Vector2 at(int id)  // near the control, a key on its front
    {
        Vector2 p = face::controlScreen(id, w.width);
        return Vector2{p.x + r.below(7) - 3, p.y + r.below(7) - 3 + (id >= KEY_FIRST ? 12 : 0)};
    }
    Vector2 anywhere() { return Vector2{(float)r.below(w.width), (float)r.below(w.height)}; }
    Vector2 icon(bool midi) { return Vector2{(midi ? 64.0f : 24.0f) + r.below(9) - 4, w.height - 22.0f}; }
    Vector2 outside() { return Vector2{r.chance(50) ? -1.0f - r.below(w.x > 0 ? w.x : 1) : w.width + r.below(200), r.below(w.height + 100) - 50.0f}; }
    // Where a pulled cable is let go: a jack (its own too), another control, an icon, outside, anywhere.
    Vector2 cableTarget(int from)
    {
        int k = r.below(9);
        return k < 3 ? at(k == 2 ? from : jack()) : k < 5 ? at(control()) : k == 5 ? icon(r.chance(50)) : k == 6 ? outside() : anywhere();
    }

    // One gesture of the given kind (0 to 9), or of a random kind.
    void gesture(int kind = -1)
    {
        bool chosen = kind >= 0;
        switch (chosen ? kind : r.below(10)) {
        case 0: case 1: approach(r.chance(70) ? at(control()) : anywhere()), click(1); break;  // click a control or anywhere
        case 2:  // turn a knob, sometimes with a right click in the middle
            approach(at(knob())), down(1), pause();
            for (int i = 1 + r.below(6); i > 0; i--) {
                by(r.below(21) - 10, r.below(121) - 60), wait(0.03);
                if (r.chance(10)) down(3), up(3);
            }
            up(1), pause(); break;
        case 3: case 4: {  // pull a cable from a jack to some target, on a wandering path
            int from = jack();
            approach(at(from)), down(1), pause();
            for (int i = r.below(3); i > 0; i--) to(anywhere()), pause();
            to(cableTarget(from)), wait(0.04), up(1), pause();
            break;
        }
        case 5: approach(r.chance(80) ? at(control()) : anywhere()), click(3); break;  // right click a control or anywhere
        case 6:  // glide along the keys, maybe off them, with a stray right click
            approach(at(key())), down(1), pause();
            for (int i = 1 + r.below(8); i > 0; i--) {
                to(r.chance(85) ? at(key()) : at(knob())), pause();
                if (r.chance(10)) down(3), up(3);
            }
            up(1), pause(); break;
        case 7:  // press on something, let go outside the window, come back
            approach(at(chosen || r.chance(50) ? key() : control())), down(1), pause();
            to(outside()), wait(0.04), up(1), pause(), to(anywhere()), pause(); break;
        case 8:  // help on, read a few tooltips, maybe the MIDI icon
            approach(icon(false)), down(1), pause(), up(1), wait(0.04);
            for (int i = r.below(4); i > 0; i--) to(at(control())), wait(0.04);
            if (r.chance(40)) approach(icon(true)), click(1);
            break;
        default:  // wander with buttons in odd orders
            for (int i = 1 + r.below(4); i > 0; i--) {
                to(anywhere()), pause();
                int b = r.chance(60) ? 1 : 3;
                down(b), pause();
                if (r.chance(30)) to(anywhere()), pause();
                up(b), pause();
            }
        }
    }
    void run(const desk::Display &d)
    {
        chain.insert(chain.begin(), "xdotool");
        EXPECT_EQ(desk::run(chain, {d.env()}), 0) << "xdotool refused a chain";
        chain.clear();
    }
};

// Frames recorded so far (the header is a few dozen bytes; a frame is 4).
long recorded(const std::string &wav) { std::error_code e; long n = (long)std::filesystem::file_size(wav, e); return e ? 0 : n / 4; }

TEST(Storm, ThousandsOfMouseActionsLeaveNoReportNoStuckNoteAndACleanExit)
{
    struct Server { desk::Sound s = desk::startSound(); ~Server() { desk::stopSound(s); } } sound;  // outlives the program
    Face f(false, sound.s.env());
    ASSERT_TRUE(f.mirl.ok);
    std::string wav = desk::tempDir("storm") + "/storm.wav";
    desk::Process rec = desk::startRecording(sound.s, wav);
    for (int i = 0; i < 100 && recorded(wav) < RATE / 10; i++) desk::sleepFor(0.05);

    Storm s{{20261208}, f.mirl.window, {}, 0};
    // MIRL_STORM_ACTIONS makes the same storm shorter or longer.
    const int ACTIONS = std::getenv("MIRL_STORM_ACTIONS") ? std::atoi(std::getenv("MIRL_STORM_ACTIONS")) : 2500;
    while (s.actions < ACTIONS)
        if (s.gesture(), s.chain.size() > 120) s.run(f.display);
    // A later note-off for the same key would hide a note left stuck early on: the storm ends
    // with key glides, then keys let go outside the window; then everything let go, the pointer on the face.
    for (int i = 0; i < 12; i++) s.gesture(i < 6 ? 6 : 7);
    s.up(1), s.up(3), s.approach(Vector2{f.mirl.window.width / 2.0f, 60}), s.run(f.display);
    long released = recorded(wav), quietFrom, quietTo;
    desk::sleepFor(LONGEST_RELEASE + 0.5);  // the longest release, the stream's buffers and the recorder's
    quietFrom = recorded(wav), desk::sleepFor(1.0), quietTo = recorded(wav);

    // Still a synth: every knob back to its default, the cables out, and a key sounds.
    for (int id = KNOB_TUNE; id <= KNOB_GAIN; id++) s.approach(s.at(id)), s.down(3), s.wait(0.15), s.up(3), s.wait(0.05);
    s.approach(s.at(KEY_FIRST + 9)), s.down(1), s.wait(0.6), s.run(f.display);
    long playing = recorded(wav);
    s.up(1), s.run(f.display), desk::sleepFor(0.3), desk::stopRecording(rec);

    EXPECT_EQ(desk::closeMirl(f.display, f.mirl, 60), 0);
    f.mirl.ok = false;
    std::string said = desk::readFile(f.mirl.proc.outFile);
    EXPECT_TRUE(said.find("Sanitizer") == std::string::npos && said.find("runtime error") == std::string::npos) << said;

    std::vector<float> x = desk::readWav(wav);
    ASSERT_GT(x.size(), (size_t)quietTo - 100) << "the recording covers the storm";
    size_t bad = 0, loud = 0;
    for (float v : x) bad += !(std::fabs(v) <= 1.0f), loud += std::fabs(v) > 0.01f;
    EXPECT_TRUE(bad == 0 && loud > (size_t)RATE) << bad << " samples not finite or beyond full scale; " << loud << " loud";
    float after = 0, played = 0;
    for (long i = quietFrom; i < quietTo; i++) after = std::max(after, std::fabs(x[(size_t)i]));
    EXPECT_EQ(after, 0.0f) << "still sounding " << (double)(quietFrom - released) / RATE << " s after the last key";
    for (long i = playing - RATE / 4; i < playing && i < (long)x.size(); i++) played = std::max(played, std::fabs(x[(size_t)i]));
    EXPECT_GT(played, 0.02f) << "a key still plays after the storm";
    if (!HasFailure()) std::filesystem::remove_all(std::filesystem::path(wav).parent_path());  // else kept to listen to
}

}  // namespace
