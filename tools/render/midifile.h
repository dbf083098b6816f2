// Reading a Standard MIDI File into timed channel messages for mirl-render.
#pragma once
#include <vector>

// One channel message (or MIDI Stop) of the song, at its time in whole milliseconds.
struct SongEvent {
    long long ms;
    int status, data1, data2;
};

// Reads every channel message and MIDI Stop of a format 0 or 1 file, all
// tracks merged in play order with tempo changes applied. Returns 0, or
// prints one line about what is wrong with the file and returns 2.
int readSong(const char *path, std::vector<SongEvent> &events);
