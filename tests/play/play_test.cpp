// The real program under a real X server, played with a real mouse, heard
// through a real sound server: keys sound at their pitch and fade on release,
// knob drags change the sound, a patched LFO wobbles the pitch and a right
// click on its jack stops it.
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>
#include "tests/support/desktop.h"
#include "scene/scene.h"
#include "raymath.h"

namespace {

const int SIDE = 800;
const int RATE = 44100;
Vector2 target[CONTROL_COUNT];  // where to click each control on the screen

// Lays the face out in a throwaway window on the test's display, with the real
// models, to learn where each control is on the program's 800-pixel window.
bool learnControlPoints(const desk::Display &d)
{
    setenv("DISPLAY", d.name().c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    SetTraceLogLevel(LOG_WARNING);
    InitWindow(SIDE, SIDE, "layout probe");
    if (!IsWindowReady()) return false;
    loadSceneAssets();
    layoutScene();
    for (int id = 1; id < CONTROL_COUNT; id++) {
        // The middle of the box, or for a key the front of its top, clear of the black keys.
        const BoundingBox &b = controlTable()[id].bounds;
        Vector3 p = Vector3Scale(Vector3Add(b.min, b.max), 0.5f);
        if (controlTable()[id].kind == ControlKind::Key) p = {p.x, b.max.y, b.max.z - 0.3f};
        target[id] = GetWorldToScreen(p, sceneCamera);
    }
    unloadSceneAssets();
    CloseWindow();
    return true;
}

// ---- listening ----

// Rising zero crossings (with hysteresis), interpolated to fractions of a sample.
std::vector<double> risingCrossings(const std::vector<float> &x, size_t from, size_t to)
{
    float peak = 0;
    for (size_t i = from; i < to; i++) peak = std::max(peak, std::fabs(x[i]));
    float th = 0.1f * peak;
    std::vector<double> out;
    bool armed = false;
    for (size_t i = from + 1; i < to; i++) {
        if (x[i] < -th) armed = true;
        if (armed && x[i - 1] < 0 && x[i] >= 0) {
            out.push_back((double)(i - 1) + (double)(-x[i - 1]) / (double)(x[i] - x[i - 1]));
            armed = false;
        }
    }
    return out;
}

std::vector<double> periods(const std::vector<float> &x, size_t from, size_t to)
{
    std::vector<double> c = risingCrossings(x, from, to), p;
    for (size_t i = 1; i < c.size(); i++) p.push_back(c[i] - c[i - 1]);
    return p;
}

double median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + (long)v.size() / 2, v.end());
    return v[v.size() / 2];
}

// Spread of the local period: medians over runs of eight periods, largest minus smallest.
double periodSpread(const std::vector<double> &p)
{
    double lo = 1e9, hi = 0;
    for (size_t i = 0; i + 8 <= p.size(); i += 8) {
        double m = median(std::vector<double>(p.begin() + (long)i, p.begin() + (long)i + 8));
        lo = std::min(lo, m);
        hi = std::max(hi, m);
    }
    return hi - lo;
}

double rms(const std::vector<float> &x, size_t from, size_t to)
{
    double s = 0;
    for (size_t i = from; i < to; i++) s += (double)x[i] * x[i];
    return to > from ? std::sqrt(s / (double)(to - from)) : 0;
}

// How much of the sound is high: the level of the sample-to-sample change over the level.
double brightness(const std::vector<float> &x, size_t from, size_t to)
{
    double d = 0;
    for (size_t i = from + 1; i < to; i++) d += (double)(x[i] - x[i - 1]) * (x[i] - x[i - 1]);
    return std::sqrt(d / (double)(to - from - 1)) / rms(x, from, to);
}

// First sample of the first 10 ms stretch that is clearly sounding.
size_t onset(const std::vector<float> &x)
{
    for (size_t i = 0; i + 441 <= x.size(); i += 441)
        if (rms(x, i, i + 441) > 0.005) return i;
    return x.size();
}

// ---- playing ----

struct Session {
    desk::Display display;
    desk::Sound sound;
    desk::Mirl mirl;
    std::string dir = desk::tempDir("play");
    int takes = 0;

    void moveTo(int id)
    {
        // A small approach first, so the program sees fresh motion after a hidden-pointer drag.
        desk::mouseMove(display, mirl.window, (int)target[id].x + 3, (int)target[id].y + 3);
        desk::sleepFor(0.05);
        desk::mouseMove(display, mirl.window, (int)target[id].x, (int)target[id].y);
        desk::sleepFor(0.1);
    }
    void click(int button)
    {
        desk::mouseDown(display, button);
        desk::sleepFor(0.1);
        desk::mouseUp(display, button);
        desk::sleepFor(0.1);
    }
    // Turns a knob by dragging it dy pixels in steps (negative is up).
    void dragKnob(int id, int dy)
    {
        moveTo(id);
        desk::mouseDown(display, 1);
        desk::sleepFor(0.1);
        int steps = std::abs(dy) / 20;
        for (int i = 0; i < steps; i++) {
            desk::mouseMoveBy(display, 0, dy > 0 ? 20 : -20);
            desk::sleepFor(0.04);
        }
        desk::sleepFor(0.1);
        desk::mouseUp(display, 1);
        desk::sleepFor(0.1);
    }
    void pullCable(int from, int to)
    {
        moveTo(from);
        desk::mouseDown(display, 1);
        desk::sleepFor(0.1);
        Vector2 a = target[from], b = target[to];
        for (int i = 1; i <= 8; i++) {
            Vector2 p = Vector2Lerp(a, b, (float)i / 8);
            desk::mouseMove(display, mirl.window, (int)p.x, (int)p.y);
            desk::sleepFor(0.04);
        }
        desk::sleepFor(0.1);
        desk::mouseUp(display, 1);
        desk::sleepFor(0.1);
    }
    // Holds a key for hold seconds, listens on for after seconds, and returns the recording.
    std::vector<float> playKey(int id, double hold, double after)
    {
        std::string wav = dir + "/take" + std::to_string(takes++) + ".wav";
        desk::Process rec = desk::startRecording(sound, wav);
        // The recorder takes a while to come up: wait until a tenth of a second is on file.
        for (int i = 0; i < 100 && desk::readFile(wav).size() < 4 * RATE / 10; i++) desk::sleepFor(0.05);
        desk::sleepFor(0.1);
        moveTo(id);
        desk::mouseDown(display, 1);
        desk::sleepFor(hold);
        desk::mouseUp(display, 1);
        desk::sleepFor(after);
        desk::stopRecording(rec);
        int rate = 0;
        std::vector<float> x = desk::readWav(wav, &rate);
        EXPECT_EQ(rate, RATE);
        return x;
    }
};

TEST(PlayByMouse, KeysKnobsAndCablesAreHeardAtOnce)
{
    Session s;
    s.display = desk::startDisplay(1280, 1024);
    ASSERT_GE(s.display.number, 0) << "no X server";
    ASSERT_TRUE(learnControlPoints(s.display));
    s.sound = desk::startSound();
    s.mirl = desk::startMirl(s.display, s.sound.env());
    ASSERT_TRUE(s.mirl.ok);
    ASSERT_EQ(s.mirl.window.width, SIDE);
    desk::run({"pactl", "set-sink-volume", "mirl", "100%"}, s.sound.env());

    // The A above middle C (note 69): a 100-sample period, so 441 Hz; then a fade, not a cut.
    std::vector<float> a = s.playKey(30, 1.0, 1.6);
    size_t on = onset(a);
    ASSERT_LT(on + 2 * RATE, a.size()) << "the key sounds";
    double period = median(periods(a, on + RATE / 10, on + RATE * 8 / 10));
    EXPECT_NEAR(period, 100.0, 0.05) << "heard at " << RATE / period << " Hz";
    std::printf("key A: period %.3f samples (%.2f Hz)\n", period, RATE / period);
    // Released, the level falls through many steps to silence instead of stopping at once.
    double held = rms(a, on + RATE * 7 / 10, on + RATE * 8 / 10);
    EXPECT_GT(held, 0.01);
    int falling = 0;
    for (size_t i = on + RATE * 9 / 10; i + 2205 <= a.size(); i += 2205) {
        double level = rms(a, i, i + 2205);
        falling += level > 0.1 * held && level < 0.8 * held;
    }
    EXPECT_GE(falling, 4) << "a fade of at least 0.2 s";
    std::printf("release: %d steps of 50 ms between 80%% and 10%% of the held level\n", falling);
    EXPECT_LT(rms(a, a.size() - 4410, a.size()), 1e-4) << "and then silence";

    // A bright sawtooth from the Shape knob, then the Cutoff knob pulled right down darkens it.
    s.dragKnob(2, -400);
    // The pointer, hidden while turning, comes back where the drag began.
    int px = -1, py = -1;
    EXPECT_TRUE(desk::mouseLocation(s.display, s.mirl.window, &px, &py));
    EXPECT_NEAR(px, target[2].x, 1.5);
    EXPECT_NEAR(py, target[2].y, 1.5);
    std::vector<float> bright = s.playKey(30, 0.6, 0.1);
    on = onset(bright);
    ASSERT_LT(on + RATE / 2, bright.size());
    double before = brightness(bright, on + RATE / 10, on + RATE / 2);
    desk::sleepFor(1.2);  // a release from sustain lasts about a second
    s.dragKnob(4, 400);
    std::vector<float> dark = s.playKey(30, 0.6, 0.1);
    on = onset(dark);
    ASSERT_LT(on + RATE / 2, dark.size());
    double after = brightness(dark, on + RATE / 10, on + RATE / 2);
    EXPECT_LT(after, 0.5 * before) << "the cutoff knob turned down takes the edge off";
    std::printf("brightness: sawtooth %.4f, cutoff down %.4f\n", before, after);
    desk::sleepFor(1.2);  // a release from sustain lasts about a second
    // Right clicks put both knobs back.
    s.moveTo(2);
    s.click(3);
    s.moveTo(4);
    s.click(3);

    // The LFO patched into the Tune input makes the pitch wobble.
    s.pullCable(13, 16);
    std::vector<float> wobble = s.playKey(30, 1.0, 0.1);
    on = onset(wobble);
    ASSERT_LT(on + RATE, wobble.size());
    std::vector<double> pw = periods(wobble, on + RATE / 20, on + RATE * 9 / 10);
    EXPECT_GT(periodSpread(pw), 2.5) << "the pitch swings with the LFO";
    std::printf("LFO on Tune: local period spread %.2f samples\n", periodSpread(pw));
    desk::sleepFor(1.2);  // a release from sustain lasts about a second

    // A right click on the LFO output removes the cable: a steady pitch again.
    s.moveTo(13);
    s.click(3);
    std::vector<float> steady = s.playKey(30, 1.0, 0.1);
    on = onset(steady);
    ASSERT_LT(on + RATE, steady.size());
    std::vector<double> ps = periods(steady, on + RATE / 20, on + RATE * 9 / 10);
    EXPECT_LT(periodSpread(ps), 0.5);
    EXPECT_NEAR(median(ps), 100.0, 0.05);
    std::printf("cable removed: spread %.2f samples, period %.3f\n", periodSpread(ps), median(ps));

    EXPECT_EQ(desk::closeMirl(s.display, s.mirl), 0);
    desk::stopSound(s.sound);
    desk::stopDisplay(s.display);
}

}  // namespace
