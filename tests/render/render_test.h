// mirl-render run as a user runs it, for the render tests: a command line in;
// the exit status, what it printed and the WAV it left out.
#pragma once
#include <sndfile.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace render {

inline std::string readAll(const std::string &path) { std::ifstream f(path, std::ios::binary); return {std::istreambuf_iterator<char>(f), {}}; }

struct Outcome {
    int status;                // exit status; more than 2 when killed or timed out
    std::string out, err;      // what it printed
    bool wrote, whole;         // a file is left at OUT; it reads back in full as mono 44100 Hz float WAV
    std::vector<float> sound;
};

// Runs mirl-render in a fresh folder. In args, "@name" is a file written there first with the
// given bytes and OUT is the WAV's path there; shell is run before (limits), and a run is
// killed after 60 s.
inline Outcome run(std::string args, const std::vector<std::pair<std::string, std::string>> &files = {}, const std::string &shell = "")
{
    char folder[] = "/tmp/mirl-render-XXXXXX";
    std::string dir = mkdtemp(folder), wav = dir + "/out.wav";
    for (size_t at; (at = args.find("OUT")) != std::string::npos;) args.replace(at, 3, wav);
    for (auto &[name, bytes] : files) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
        for (size_t at; (at = args.find("@" + name)) != std::string::npos;) args.replace(at, name.size() + 1, dir + "/" + name);
    }
    int raw = std::system(("cd " + dir + " && " + shell + " exec timeout -s KILL 60 " MIRL_BINARY_DIR "/tools/render/mirl-render " + args +
                           " >stdout 2>stderr").c_str());
    Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128, readAll(dir + "/stdout"), readAll(dir + "/stderr"), access(wav.c_str(), F_OK) == 0, false, {}};
    SF_INFO info{};
    if (SNDFILE *f = sf_open(wav.c_str(), SFM_READ, &info)) {
        r.sound.resize((size_t)info.frames + 1);
        r.sound.resize((size_t)sf_readf_float(f, r.sound.data(), info.frames + 1));
        sf_close(f);
        r.whole = (sf_count_t)r.sound.size() == info.frames && info.channels == 1 && info.samplerate == 44100 && info.format == (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    }
    std::system(("rm -rf " + dir).c_str());
    return r;
}

// MIDI files written byte by byte. One event of a track: the delta time in
// ticks, then the bytes as written (a channel message without its status
// byte uses running status).
struct Ev { unsigned delta; std::vector<int> bytes; };

inline std::string bigEndian(unsigned v, int n) { std::string s; for (int i = n - 1; i >= 0; i--) s += char((v >> (8 * i)) & 0xFF); return s; }

// A whole file: the header, then each track closed by End of Track.
inline std::string midiFile(int format, int division, const std::vector<std::vector<Ev>> &tracks)
{
    std::string out = "MThd" + bigEndian(6, 4) + bigEndian(format, 2) + bigEndian(tracks.size(), 2) + bigEndian(division, 2);
    for (const auto &track : tracks) {
        std::string body;
        for (const Ev &e : track) {
            std::string delta(1, char(e.delta & 0x7F));   // variable length, seven bits a byte
            for (unsigned d = e.delta >> 7; d; d >>= 7) delta.insert(delta.begin(), char(0x80 | (d & 0x7F)));
            body += delta + std::string(e.bytes.begin(), e.bytes.end());
        }
        body += std::string("\x00\xFF\x2F\x00", 4);
        out += "MTrk" + bigEndian(body.size(), 4) + body;
    }
    return out;
}

// A script played with the given options.
inline Outcome script(const std::string &text, const std::string &options = "") { return run(options + " @s.txt OUT", {{"s.txt", text}}); }

}  // namespace render
