// constants: the numbers that shape the whole program, in one place for every layer.
#pragma once

// Samples per second of the sound stream: the engine's clock and the recordings' rate.
enum { SAMPLE_RATE = 44100 };
// The sound stream's samples: 32-bit floats, one channel (mono).
enum { STREAM_SAMPLE_BITS = 32, STREAM_CHANNELS = 1 };
// Frames the sound device asks the callback for at a time: how far the sound runs ahead of a key.
enum { AUDIO_BUFFER_FRAMES = 512 };

// Frames a second the face is drawn at, at most.
enum { FRAME_RATE = 60 };

// The square window's side in pixels: large on a roomy monitor, else small.
enum { WINDOW_LARGE = 800, WINDOW_SMALL = 600 };
// The monitor width and height, in pixels, from which the large window fits.
enum { LARGE_WINDOW_MONITOR = 850 };

// The window's side for a monitor of the given size; forceSmall picks the small one anyway.
constexpr int windowSideFor(int monitorWidth, int monitorHeight, bool forceSmall)
{
    bool roomy = monitorHeight >= LARGE_WINDOW_MONITOR && monitorWidth >= LARGE_WINDOW_MONITOR;
    return roomy && !forceSmall ? WINDOW_LARGE : WINDOW_SMALL;
}

// Whether a window this tall gets the small layout: no panel headings, the logo placed to fit.
constexpr bool isSmallLayout(int windowHeight) { return windowHeight <= WINDOW_SMALL; }

// Pixel sizes of the two compiled-in fonts: labels, headings and help boxes; the help banner.
enum { LABEL_FONT_SIZE = 13, TITLE_FONT_SIZE = 20 };
// Pixels between letters, in all text on the face.
enum { TEXT_SPACING = 1 };

// The scope shows SCOPE_SIZE samples, one taken every SCOPE_STRIDE frames of a buffer.
enum { SCOPE_SIZE = 400, SCOPE_STRIDE = 1024 };
// The scope strip on screen: its frame's top row and height, the row of silence, pixels per unit of sound.
enum { SCOPE_TOP = 19, SCOPE_HEIGHT = 102, SCOPE_MIDDLE = SCOPE_TOP + SCOPE_HEIGHT / 2, SCOPE_GAIN = 150 };
