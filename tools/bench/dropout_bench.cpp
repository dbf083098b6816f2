// What a player hears on a busy small machine: one note held on the real
// program for a minute while two more faces redraw and toggle help mode and a
// disk writer flushes 1.5 GB after 1.5 GB. Prints the gaps in the note as the
// sound server recorded it (dropouts a minute, the longest), how the sound
// server's calls for sound came (the program's own record: the period and the
// worst lateness), and key to sound under the same load (bench_latency).
//
// Usage: bench_dropout [seconds] [--no-latency]   (default: 60 seconds, then key to sound)
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <string>
#include "tools/harness/desktop.h"
#include "panel/constants.h"
#include "tools/harness/face.h"

int main(int argc, char **argv)
{
    double seconds = argc > 1 && argv[1][0] != '-' ? std::atof(argv[1]) : 60.0;
    bool latency = !(argc > 1 && std::strcmp(argv[argc - 1], "--no-latency") == 0);
    desk::Sound sound = desk::startSound();
    desk::Display d = desk::startDisplay(1280, 1024);
    std::vector<std::string> env = sound.env();
    env.push_back("MIRL_SOUND_REPORT=1");
    desk::Mirl m = desk::startMirl(d, env);
    desk::Load *load = desk::startLoad(2, true);
    if (sound.server.pid <= 0 || !m.ok || !desk::loadRunning(load)) {
        std::printf("dropout benchmark: the program, its load or the sound server did not start\n");
        desk::stopLoad(load);
        return 1;
    }
    std::printf("dropout benchmark: a note held for %.0f s beside two more faces toggling help and a disk writer\n",
                seconds);
    std::string wav = desk::tempDir("dropout") + "/held.wav";
    desk::Process rec = desk::startRecording(sound, wav);
    Vector2 key = face::controlScreen(KEY_FIRST + 9, m.window.width);
    desk::sleepFor(0.5);
    desk::mouseMove(d, m.window, (int)key.x, (int)key.y + 12);
    desk::mouseDown(d, 1);
    desk::sleepFor(seconds);
    desk::mouseUp(d, 1);
    desk::sleepFor(0.5);
    desk::stopRecording(rec);
    // While the note was held; the load runs on through the latency benchmark.
    long flushed = desk::loadWrittenMb(load);
    if (latency) {
        // Key to sound on a display and sound server of its own, the same load running.
        std::string exe = std::string(MIRL_BINARY_DIR) + "/tools/bench/bench_latency";
        std::string log = desk::tempDir("dropout") + "/latency.txt";
        desk::Process p = desk::spawn({exe}, {}, "", log);
        if (!desk::waitExit(p, 600)) desk::stop(p);
        std::printf("%s", desk::readFile(log).c_str());
    }
    desk::stopLoad(load);
    desk::closeMirl(d, m);
    std::string out = desk::readFile(m.proc.outFile);
    size_t line = out.find("sound thread:");
    std::vector<float> x = desk::readWav(wav);
    size_t first = 0, last = 0;
    for (size_t i = 0; i < x.size(); i++)
        if (std::abs(x[i]) > 0.01f) first = first ? first : i, last = i;
    if (last < first + SAMPLE_RATE) {
        std::printf("dropout benchmark: no held note in the recording\n");
        return 1;
    }
    // From the end of the attack to the release, as the realtime test counts.
    desk::Gaps g = desk::countGaps(x, first + SAMPLE_RATE / 2, last - SAMPLE_RATE / 2);
    double minutes = (double)(last - first - SAMPLE_RATE) / (double)SAMPLE_RATE / 60.0;
    std::printf("dropout benchmark: %.1f dropouts a minute (%zu in %.2f min), longest gap %zu samples (%.1f ms); "
                "the disk writer flushed %ld MB while the note was held\n",
                g.count / minutes, g.count, minutes, g.longest, (double)g.longest * 1000.0 / (double)SAMPLE_RATE, flushed);
    if (line != std::string::npos)
        std::printf("dropout benchmark: %s", out.substr(line, out.find('\n', line) - line + 1).c_str());
    desk::stopSound(sound);
    desk::stopDisplay(d);
    return 0;
}
