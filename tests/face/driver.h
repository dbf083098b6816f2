// The real program on its own X server as a user meets it: the mouse moves,
// clicks, drags and knob turns a user makes, and screenshots of the window.
#pragma once
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>
#include "tools/harness/desktop.h"
#include "tools/harness/face.h"
#include "raymath.h"

const uint32_t PX_BOX = 0xC8C8C8, PX_FRAME = 0x828282, PX_WHITE = 0xFFFFFF, PX_BLACK = 0, PX_FACE = 0xAAC699,
               PX_YELLOW = 0xF7E845, PX_TIP = 0xCCCCCC;

struct Shot {
    std::vector<uint32_t> px;
    int w = 0;
    uint32_t at(float x, float y) const { return x < 0 || y < 0 || x >= w || y >= w ? 0xFF000000u : px[(int)y * w + (int)x]; }
    // Pixels in [x0, x1) x [y0, y1) for which pred(this pixel, other's pixel) holds.
    template <class F> int count(int x0, int y0, int x1, int y1, F pred, const Shot *other = nullptr) const
    {
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) n += pred(at(x, y), other ? other->at(x, y) : 0);
        return n;
    }
};
inline bool black(uint32_t c, uint32_t) { return c == PX_BLACK; }
inline bool differ(uint32_t a, uint32_t b) { return a != b; }
inline bool same(uint32_t a, uint32_t b) { return a == b; }

// One running program on its own display, with the mouse.
struct Face {
    desk::Display display = desk::startDisplay(1280, 1024);
    desk::Mirl mirl;
    int side = 0;

    explicit Face(bool small = false, const std::vector<std::string> &sound = {"PULSE_SERVER=unix:/nonexistent/native"})
    {
        mirl = desk::startMirl(display, sound, small ? std::vector<std::string>{"-small"} : std::vector<std::string>{});
        side = mirl.window.width;
        for (int i = 0; mirl.ok && i < 100 && shot(0).at((side - 400) / 2 + 50, 30) != PX_BOX; i++) desk::sleepFor(0.1);
    }
    ~Face() { EXPECT_TRUE(!mirl.ok || desk::closeMirl(display, mirl) == 0), desk::stop(mirl.proc), desk::stopDisplay(display); }
    Shot shot(double settle = 0.4) { return desk::sleepFor(settle), Shot{desk::screenshot(display, mirl.window), side}; }
    // Moves the pointer with a small approach, so the program sees fresh motion; returns the pixel reached.
    Vector2 move(Vector2 p)
    {
        int x = (int)std::round(p.x), y = (int)std::round(p.y);
        desk::mouseMove(display, mirl.window, x + 3, y), desk::sleepFor(0.05), desk::mouseMove(display, mirl.window, x, y);
        return desk::sleepFor(0.25), Vector2{(float)x, (float)y};
    }
    // Held and released over several frames: a sanitizer build on a busy machine draws slowly.
    void button(int b, bool down) { down ? desk::mouseDown(display, b) : desk::mouseUp(display, b), desk::sleepFor(0.3); }
    void click(Vector2 p, int b = 1) { move(p), button(b, true), button(b, false); }
    // Turns a knob by dy pixels with relative moves: the pointer is hidden while a knob turns.
    void turn(Vector2 knob, int dy)
    {
        move(knob), button(1, true);
        for (int i = 0; i < std::abs(dy) / 20; i++, desk::sleepFor(0.05)) desk::mouseMoveBy(display, 0, dy > 0 ? 20 : -20);
        button(1, false);
    }
    // Press and release sent back to back by one xdotool call, within one frame.
    void quickClick(int b) { desk::run({"xdotool", "mousedown", std::to_string(b), "mouseup", std::to_string(b)}, {display.env()}); }
    void drag(Vector2 from, Vector2 to, bool letGo = true)
    {
        move(from), button(1, true);
        for (int i = 1; i <= 8; i++, desk::sleepFor(0.05))
            desk::mouseMove(display, mirl.window, (int)(from.x + (to.x - from.x) * i / 8), (int)(from.y + (to.y - from.y) * i / 8));
        desk::sleepFor(0.25);
        if (letGo) button(1, false);
    }
    Vector2 at(int id) const { return Vector2Add(face::controlScreen(id, side), {0, id >= KEY_FIRST ? 12.0f : 0}); }  // a key's front
};
