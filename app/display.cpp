// An X server with no client left resets itself, dropping connections that
// arrive meanwhile; on a bare server (no window manager, no other program)
// that happens between the probe window closing and the real one opening, and
// on a busy machine the real window's connection lands inside the reset. One
// connection of the program's own, held until the window is up, keeps the
// server from resetting under it. Kept apart from raylib's header, whose names
// clash with Xlib's.
#include "app/display.h"
#include <X11/Xlib.h>

static Display *held = nullptr;

bool holdDisplay()
{
    if (!held) held = XOpenDisplay(nullptr);
    return held != nullptr;
}

void releaseDisplay()
{
    if (held) XCloseDisplay(held);
    held = nullptr;
}
