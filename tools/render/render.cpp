// mirl-render [--frames N] SCRIPT OUT.wav
// mirl-render [--frames N] --midi SONG.mid [--patch SCRIPT] OUT.wav
//
// Renders a script through the synth exactly as the program plays it: knob
// and cable lines change the panel and are snapshotted as the main loop does,
// note lines go through the note queue with their own timestamps, and the
// audio callback computes buffers of N frames (512 unless told otherwise).
// A MIDI file plays as if each of its channel messages were a raw script line
// at its time, after the patch script's knob and cable lines; the sound runs
// on until the last voice has died away. Writes 32-bit float mono 44100 Hz
// WAV and prints nothing. Bad input: exit 2, no file written; an unwritable
// file: exit 1, and no partly written file is left behind.
#include <sndfile.h>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <string>
#include <vector>
#include "midi/midi.h"
#include "tools/render/midifile.h"
#include "panel/panel.h"
#include "synth/synth.h"
#include "ui/ui.h"

enum Command { CMD_KNOB, CMD_PATCH, CMD_UNPATCH, CMD_ON, CMD_OFF, CMD_RAW, CMD_END };

struct Line {
    long long ms;
    Command cmd;
    int a, b, c;     // ids or MIDI bytes
    float value;     // knob value
    int number;      // script line number, for messages
};

static std::vector<Line> script;

// The latest time a line may have: an hour of sound. A slip of a few digits
// must not ask for days of rendering and a file larger than WAV can hold.
static const long long MAX_MS = 3600000;

// Prints one fault of the script and returns the exit status for bad input.
static int fault(const char *path, int number, const char *what, const std::string &word)
{
    std::fprintf(stderr, "mirl-render: %s:%d: %s%s%s\n", path, number, what, word.empty() ? "" : ": ", word.c_str());
    return 2;
}

// Splits a line into words, dropping a comment that starts with '#'.
static std::vector<std::string> words(const std::string &text)
{
    std::vector<std::string> out;
    std::string body = text.substr(0, text.find('#'));
    size_t i = 0;
    while (i < body.size()) {
        while (i < body.size() && std::isspace((unsigned char)body[i])) i++;
        size_t start = i;
        while (i < body.size() && !std::isspace((unsigned char)body[i])) i++;
        if (i > start) out.push_back(body.substr(start, i - start));
    }
    return out;
}

// Reads a whole non-negative integer no greater than max.
static bool readInt(const std::string &w, long long max, long long &out)
{
    if (w.empty() || w.size() > 18) return false;
    for (char ch : w)
        if (ch < '0' || ch > '9') return false;
    out = std::atoll(w.c_str());
    return out <= max;
}

// Reads a finite number.
static bool readFloat(const std::string &w, float &out)
{
    char *end = nullptr;
    errno = 0;
    out = std::strtof(w.c_str(), &end);
    return !w.empty() && *end == '\0' && std::isfinite(out);
}

// Parses the whole script; returns 0, or 2 after printing the first fault.
// A patch script holds only knob and cable lines and needs no end line.
static int parseScript(const char *path, bool patch = false)
{
    FILE *f = std::fopen(path, "r");
    if (!f) {
        std::fprintf(stderr, "mirl-render: cannot read script %s: %s\n", path, std::strerror(errno));
        return 2;
    }
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
    if (std::ferror(f)) {   // a folder opens but does not read
        std::fprintf(stderr, "mirl-render: cannot read script %s: %s\n", path, std::strerror(errno));
        std::fclose(f);
        return 2;
    }
    std::fclose(f);

    Control *controls = controlTable();
    long long lastMs = 0;
    bool ended = false;
    int number = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string raw = text.substr(pos, eol - pos);
        pos = eol + 1;
        number++;
        std::vector<std::string> w = words(raw);
        if (w.empty()) continue;
        if (ended) return fault(path, number, "nothing may follow the end line", w[0]);
        Line line{};
        line.number = number;
        if (!readInt(w[0], MAX_MS, line.ms)) return fault(path, number, "bad time (milliseconds, a whole number from 0 to 3600000)", w[0]);
        if (line.ms < lastMs) return fault(path, number, "time goes backwards", w[0]);
        lastMs = line.ms;
        if (w.size() < 2) return fault(path, number, "missing command", "");
        const std::string &cmd = w[1];
        struct Shape { const char *name; Command cmd; size_t args; };
        static const Shape shapes[] = {{"knob", CMD_KNOB, 2}, {"patch", CMD_PATCH, 2}, {"unpatch", CMD_UNPATCH, 1},
                                       {"on", CMD_ON, 2},     {"off", CMD_OFF, 1},     {"raw", CMD_RAW, 3},
                                       {"end", CMD_END, 0}};
        const Shape *shape = nullptr;
        for (const Shape &s : shapes)
            if (cmd == s.name) shape = &s;
        if (!shape) return fault(path, number, "unknown command", cmd);
        if (w.size() != shape->args + 2) return fault(path, number, "wrong number of arguments for", cmd);
        line.cmd = shape->cmd;
        if (patch && (line.cmd == CMD_ON || line.cmd == CMD_OFF || line.cmd == CMD_RAW))
            return fault(path, number, "a patch holds only knob, patch and unpatch lines", cmd);
        long long v[3] = {0, 0, 0};
        switch (line.cmd) {
        case CMD_KNOB:
            if (!readInt(w[2], CONTROL_COUNT - 1, v[0])) return fault(path, number, "bad control id", w[2]);
            if (controls[v[0]].kind != ControlKind::Knob) return fault(path, number, "not a knob", w[2]);
            if (!readFloat(w[3], line.value)) return fault(path, number, "bad number", w[3]);
            line.value = line.value < 0.0f ? 0.0f : (line.value > 1.0f ? 1.0f : line.value);
            break;
        case CMD_PATCH:
        case CMD_UNPATCH:
            for (size_t k = 2; k < w.size(); k++)
                if (!readInt(w[k], CONTROL_COUNT - 1, v[k - 2])) return fault(path, number, "bad jack id", w[k]);
            break;
        case CMD_ON:
        case CMD_OFF:
        case CMD_RAW:
            for (size_t k = 2; k < w.size(); k++)
                if (!readInt(w[k], 255, v[k - 2])) return fault(path, number, "bad number (0 to 255)", w[k]);
            break;
        case CMD_END:
            ended = true;
            break;
        }
        line.a = (int)v[0];
        line.b = (int)v[1];
        line.c = (int)v[2];
        script.push_back(line);
    }
    if (!ended && !patch) return fault(path, number, "the script has no end line", "");
    return 0;
}

// Applies one line: panel changes are snapshotted, notes are queued.
static void apply(const Line &line)
{
    switch (line.cmd) {
    case CMD_KNOB:
        controlTable()[line.a].value = line.value;
        snapshotParams();
        break;
    case CMD_PATCH:
        connectJacks(line.a, line.b);
        snapshotParams();
        break;
    case CMD_UNPATCH:
        disconnectJack(line.a);
        snapshotParams();
        break;
    case CMD_ON: midiPostEvent((int)line.ms, 0x90, line.a, line.b); break;
    case CMD_OFF: midiPostEvent((int)line.ms, 0x80, line.a, 0); break;
    case CMD_RAW: midiPostEvent((int)line.ms, line.a, line.b, line.c); break;
    case CMD_END: break;
    }
}

static const char *const usageText =
    "usage: mirl-render [--frames N] SCRIPT OUT.wav\n"
    "       mirl-render [--frames N] --midi SONG.mid [--patch SCRIPT] OUT.wav\n"
    "       mirl-render --help\n"
    "Plays a script, or a Standard MIDI File (format 0 or 1), through Mirl's synth\n"
    "and writes 32-bit float mono 44100 Hz WAV. --patch sets knobs and cables from a\n"
    "script before the first note; --frames sets the audio buffer size (512).\n"
    "Script lines: MS knob ID VALUE | MS patch JACK JACK | MS unpatch JACK |\n"
    "              MS on NOTE VELOCITY | MS off NOTE | MS raw STATUS DATA1 DATA2 | MS end\n";

static int usage()
{
    std::fputs(usageText, stderr);
    return 2;
}

// Renders a song this long after its last event at most, whatever still sounds.
static const long long MAX_TAIL_MS = 60000;

// True while any voice still sounds (a held note, or a release not yet run out).
static bool anyVoiceSounds()
{
    const Voice *voices = voicePool();
    for (int i = 0; i < VOICE_COUNT; i++)
        if (voices[i].active) return true;
    return false;
}

int main(int argc, char **argv)
{
    long long bufferFrames = AUDIO_BUFFER_FRAMES;
    const char *songPath = nullptr, *patchPath = nullptr;
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--help") == 0) {
        std::fputs(usageText, stdout);
        return 0;
    }
    while (arg < argc && argv[arg][0] == '-' && argv[arg][1] == '-') {
        const char *option = argv[arg];
        if (arg + 1 >= argc) return usage();
        if (std::strcmp(option, "--frames") == 0) {
            if (!readInt(argv[arg + 1], 1 << 20, bufferFrames) || bufferFrames < 1) {
                std::fprintf(stderr, "mirl-render: --frames needs a whole number from 1 to 1048576\n");
                return 2;
            }
        } else if (std::strcmp(option, "--midi") == 0) {
            songPath = argv[arg + 1];
        } else if (std::strcmp(option, "--patch") == 0) {
            patchPath = argv[arg + 1];
        } else {
            return usage();
        }
        arg += 2;
    }
    if (argc - arg != (songPath ? 1 : 2) || (patchPath && !songPath)) return usage();
    const char *outPath = argv[argc - 1];

    // The panel as the program starts it: knobs at their defaults, no cables.
    resetPanel();
    Control *controls = controlTable();
    for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++) controls[id].value = controls[id].defaultValue;

    long long total = 0;   // frames to render at most
    if (songPath) {
        if (patchPath) {
            int status = parseScript(patchPath, true);
            if (status != 0) return status;
            for (Line &line : script) line.ms = 0;   // the panel is set before the first note
        }
        std::vector<SongEvent> song;
        int status = readSong(songPath, song);
        if (status != 0) return status;
        for (const SongEvent &e : song) script.push_back({e.ms, CMD_RAW, e.status, e.data1, e.data2, 0, 0});
        long long lastMs = script.empty() ? 0 : script.back().ms;
        total = ((lastMs + MAX_TAIL_MS) * 441 + 5) / 10;
    } else {
        int status = parseScript(argv[arg]);
        if (status != 0) return status;
        long long endMs = script.back().ms;
        total = (endMs * 441 + 5) / 10;   // round(end ms x 44.1)
    }

    SF_INFO info{};
    info.samplerate = SAMPLE_RATE;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *wav = sf_open(outPath, SFM_WRITE, &info);
    if (!wav) {
        std::fprintf(stderr, "mirl-render: cannot write %s: %s\n", outPath, sf_strerror(nullptr));
        return 1;
    }

    // Only the note queue: no devices are looked for, so nothing is printed and
    // a keyboard that happens to be plugged in cannot play along.
    midiStartQueue();
    resetSynth();
    snapshotParams();
    std::vector<float> buffer((size_t)bufferFrames);
    size_t next = 0;
    long long done = 0;
    bool writeFailed = false;
    while (done < total && !writeFailed) {
        // A song ends when every event is played and the last release has died away.
        if (songPath && next == script.size() && !anyVoiceSounds()) break;
        // Every line due at or before this buffer's start time, in order.
        while (next < script.size() && script[next].ms * SAMPLE_RATE <= done * 1000) apply(script[next++]);
        long long n = total - done < bufferFrames ? total - done : bufferFrames;
        audioCallback(buffer.data(), (unsigned int)n);
        if (sf_writef_float(wav, buffer.data(), n) != n) writeFailed = true;
        done += n;
    }
    midiStopQueue();
    if (sf_close(wav) != 0) writeFailed = true;
    if (writeFailed) {
        std::fprintf(stderr, "mirl-render: cannot write %s\n", outPath);
        // A cut-off WAV would pass for a whole one; a device or pipe is not ours to remove.
        struct stat st;
        if (stat(outPath, &st) == 0 && S_ISREG(st.st_mode)) std::remove(outPath);
        return 1;
    }
    return 0;
}
