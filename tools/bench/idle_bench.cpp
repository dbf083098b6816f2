// Prints what the real program costs from outside, as a user's machine sees it:
// the processor time of the whole process (every thread, Mesa's renderer
// threads included) as a share of one core, and the frames it shows a second
// as the X server receives them (the DAMAGE extension sees every put into the
// window, full swaps and partial presents alike), for the 800 window with
// Mesa's default threads: at rest, with a note sounding, with a knob turning,
// with a cable pulled, and in help mode with the pointer moving. With
// MIRL_FULL_PRESENT=1 in its environment the program swaps every frame whole.
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>
#include "tools/harness/desktop.h"
#include "tools/harness/face.h"

static double processSeconds(pid_t pid)
{
    std::string stat = desk::readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && in >> field; i++)
        if (i == 14 || i == 15) ticks += std::atol(field.c_str());  // user and system time
    return (double)ticks / (double)sysconf(_SC_CLK_TCK);
}

// Adds to an xdotool command the words that move the pointer steps times by
// (dx, dy) and back again, a step every 5 ms: faster than the frame rate, so
// frames are not waiting for input.
static void addGlide(std::vector<std::string> &argv, int dx, int dy, int steps)
{
    for (int back = 0; back < 2; back++)
        for (int i = 0; i < steps; i++)
            for (const std::string &a : {std::string("mousemove_relative"), std::string("--"), std::to_string(back ? -dx : dx),
                                         std::to_string(back ? -dy : dy), std::string("sleep"), std::string("0.005")})
                argv.push_back(a);
}

int main()
{
    desk::Display d = desk::startDisplay(1280, 1024);
    desk::Sound s = desk::startSound();
    std::vector<std::string> env = s.env();
    const char *full = std::getenv("MIRL_FULL_PRESENT");
    if (full) env.push_back(std::string("MIRL_FULL_PRESENT=") + full);
    desk::Mirl m = desk::startMirl(d, env);
    if (d.number < 0 || !m.ok) {
        std::printf("idle benchmark: the program did not start\n");
        return 1;
    }
    std::printf("idle benchmark: the real program, 800 window, Mesa's default renderer threads, %s\n",
                full ? "every frame swapped whole" : "frames presented part by part");
    desk::sleepFor(3);
    desk::DamageWatch watch = desk::watchDamage(d, m.window);
    // Frames a second from outside: the mean over the phase, and the median of its whole seconds.
    // One xdotool run moves the pointer for the whole phase: a run started per
    // glide leaves the pointer still while the next one starts, and the face
    // with nothing to draw.
    auto phase = [&](const char *what, double seconds, const std::vector<std::string> &pointer) {
        desk::Process mover;
        if (!pointer.empty()) mover = desk::spawn(pointer, {d.env()}, "", "");
        desk::takeDamage(watch, m.window);
        double c0 = processSeconds(m.proc.pid), t0 = desk::now(), second = t0;
        std::vector<int> perSecond(1, 0);
        int frames = 0;
        double pixels = 0;
        for (int i = 0; desk::now() - t0 < seconds; i++) {
            desk::sleepFor(0.005);
            desk::DamageSeen seen = desk::takeDamage(watch, m.window);
            frames += seen.frames, pixels += seen.pixels, perSecond.back() += seen.frames;
            if (desk::now() - second >= 1) second += 1, perSecond.push_back(0);
        }
        double wall = desk::now() - t0, cpu = processSeconds(m.proc.pid) - c0;
        desk::stop(mover);
        if (perSecond.size() > 1) perSecond.pop_back();  // the last second is cut short
        std::sort(perSecond.begin(), perSecond.end());
        std::printf("idle %-36s %5.1f%% of a core  %5.1f frames/s (median second %d)  %5.1f%% of the window a frame\n",
                    what, 100.0 * cpu / wall, frames / wall, perSecond[perSecond.size() / 2],
                    frames ? 100.0 * pixels / frames / ((double)m.window.width * m.window.height) : 0.0);
    };
    auto at = [&](int id) { return face::controlScreen(id, m.window.width); };
    auto moveTo = [&](Vector2 p) { desk::mouseMove(d, m.window, (int)p.x, (int)p.y); };

    moveTo(Vector2{790, 790});
    auto glides = [](int dx, int dy, int steps, int times) {
        std::vector<std::string> argv = {"xdotool"};
        for (int i = 0; i < times; i++) addGlide(argv, dx, dy, steps);
        return argv;
    };
    phase("at rest", 10, {});
    moveTo(at(KEY_FIRST + 15));  // D#5
    desk::mouseDown(d, 1);
    phase("a note held (the scope moving)", 6, {});
    desk::mouseUp(d, 1);
    moveTo(Vector2{790, 790});
    desk::sleepFor(5);  // the release dies away
    moveTo(at(KNOB_CUTOFF));
    desk::mouseDown(d, 1);
    phase("a knob turning", 5, glides(0, 2, 12, 60));
    desk::mouseUp(d, 1);
    moveTo(at(JACK_LFO_OUT));
    desk::mouseDown(d, 1);
    phase("a cable pulled", 5, glides(3, 1, 12, 60));
    moveTo(Vector2{790, 600});
    desk::mouseUp(d, 1);
    moveTo(Vector2{22, m.window.height - 24.0f});  // the help icon, in the bottom-left corner
    desk::mouseDown(d, 1), desk::sleepFor(0.1), desk::mouseUp(d, 1);
    const int keyA4 = KEY_FIRST + 9;
    const int sweep[] = {KNOB_TUNE, KNOB_SHAPE, KNOB_FOLD, KNOB_CUTOFF, KNOB_RESONANCE, JACK_LFO_OUT, JACK_FOLD_IN,
                         keyA4, keyA4 + 1, keyA4 + 2, keyA4 + 3};
    const int sweepCount = (int)(sizeof sweep / sizeof sweep[0]);
    std::vector<std::string> sweeping = {"xdotool"};
    for (int i = 0; i < 90; i++) {
        Vector2 p = at(sweep[i % sweepCount]);
        for (const std::string &a : {std::string("mousemove"), std::to_string(m.window.x + (int)p.x), std::to_string(m.window.y + (int)p.y)})
            sweeping.push_back(a);
        addGlide(sweeping, 2, 2, 8);
    }
    phase("help mode, the pointer moving", 5, sweeping);
    desk::stopWatching(watch);
    desk::closeMirl(d, m);
    desk::stopSound(s);
    desk::stopDisplay(d);
    return 0;
}
