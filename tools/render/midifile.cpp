// Standard MIDI Files through libsmf: it decodes the events, running status
// and the tempo map, and hands back the tracks' events merged by time, each
// with its time in seconds. What is left here is checking that the file's
// framing holds before libsmf reads it, choosing what to play, and refusing
// what cannot be played sensibly.
#include "midifile.h"
#include <glib.h>   // before smf.h, which includes it inside extern "C"
#include <smf.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <string>

// A song longer than this is taken for a broken tempo or time value.
static const double MAX_SONG_SECONDS = 3600;
// A file larger than this is no song.
static const size_t MAX_FILE_BYTES = 64u << 20;

// libsmf reports through glib's log; its lines are kept here, not printed,
// so a bad file gets one line of ours and a good one prints nothing.
static std::string libraryComplaint;

static void keepLibraryMessage(const gchar *, GLogLevelFlags, const gchar *message, gpointer)
{
    if (libraryComplaint.empty() && message) libraryComplaint = message;
}

static int refuse(const char *path, const std::string &why)
{
    std::fprintf(stderr, "mirl-render: %s: %s\n", path, why.c_str());
    return 2;
}

// Reads a variable-length number (at most four bytes) at pos, within end.
static bool readVarLen(const std::vector<unsigned char> &b, size_t &pos, size_t end, unsigned &out)
{
    out = 0;
    for (int n = 0; n < 4; n++) {
        if (pos >= end) return false;
        unsigned char c = b[pos++];
        out = (out << 7) | (c & 0x7F);
        if (!(c & 0x80)) return true;
    }
    return false;
}

static unsigned bigEndian(const std::vector<unsigned char> &b, size_t pos, int bytes)
{
    unsigned v = 0;
    for (int i = 0; i < bytes; i++) v = (v << 8) | b[pos + i];
    return v;
}

// libsmf trusts the lengths written in a file and reads past its buffer when
// they lie, so before it sees the bytes, every chunk and every event is
// checked to lie inside the file. Returns what is wrong, or "" when the
// framing holds.
static std::string framingFault(const std::vector<unsigned char> &b)
{
    if (b.size() < 14 || std::memcmp(b.data(), "MThd", 4) != 0) return "not a MIDI file";
    unsigned headerLength = bigEndian(b, 4, 4);
    if (headerLength < 6 || headerLength > b.size() - 8) return "the header is cut short";
    unsigned format = bigEndian(b, 8, 2), tracksDeclared = bigEndian(b, 10, 2), tracksFound = 0;
    if (format > 1) return "MIDI file format " + std::to_string(format) + " holds separate songs; only formats 0 and 1 play";
    size_t pos = 8 + (size_t)headerLength;
    while (pos < b.size()) {
        if (b.size() - pos < 8) return "the file ends inside a chunk header";
        unsigned length = bigEndian(b, pos + 4, 4);
        if (length > b.size() - pos - 8) return "a track length runs past the end of the file";
        bool track = std::memcmp(&b[pos], "MTrk", 4) == 0;
        size_t at = pos + 8, end = at + length;
        pos = end;
        if (!track) continue;   // chunks of other kinds are skipped, as the format asks
        tracksFound++;
        int running = 0;
        bool ended = false;
        while (at < end) {
            unsigned delta, size;
            if (ended) return "events after a track's end";
            if (!readVarLen(b, at, end, delta) || at >= end) return "a track is cut short";
            int status = b[at];
            if (status >= 0x80) at++;
            else if (running) status = running;
            else return "a data byte where a status byte belongs";
            if (status < 0xF0) {
                running = status;
                size = (status & 0xE0) == 0xC0 ? 1 : 2;   // program change and channel pressure carry one byte
                if (end - at < size) return "a track is cut short";
                for (unsigned k = 0; k < size; k++)
                    if (b[at + k] >= 0x80) return "a status byte where a data byte belongs";
                at += size;
                continue;
            }
            running = 0;
            int type = -1;
            if (status == 0xFF) {
                if (at >= end) return "a track is cut short";
                type = b[at++];
            } else if (status != 0xF0 && status != 0xF7) {
                return "a system message that has no place in a file";
            }
            if (!readVarLen(b, at, end, size) || end - at < size) return "a track is cut short";
            if (type == 0x51) {   // tempo: microseconds a beat in three bytes
                if (size != 3 || bigEndian(b, at, 3) == 0) return "an absurd tempo";
            }
            if (type == 0x2F) ended = true;
            at += size;
        }
        if (!ended) return "a track without its End of Track";
    }
    if (tracksFound == 0) return "no tracks";
    if (tracksFound != tracksDeclared) return "the header names " + std::to_string(tracksDeclared) + " tracks, the file holds " + std::to_string(tracksFound);
    return "";
}

int readSong(const char *path, std::vector<SongEvent> &events)
{
    FILE *f = std::fopen(path, "rb");
    if (!f) return refuse(path, std::string("cannot read the MIDI file: ") + std::strerror(errno));
    std::vector<unsigned char> bytes;
    unsigned char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0 && bytes.size() < MAX_FILE_BYTES) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(f);
    if (bytes.size() >= MAX_FILE_BYTES) return refuse(path, "larger than any song this renderer plays");
    std::string fault = framingFault(bytes);
    if (!fault.empty()) return refuse(path, fault);

    libraryComplaint.clear();
    g_log_set_default_handler(keepLibraryMessage, nullptr);
    smf_t *smf = smf_load_from_memory(bytes.data(), (int)bytes.size());
    if (!smf) return refuse(path, "not a readable MIDI file" + (libraryComplaint.empty() ? "" : " (" + libraryComplaint + ")"));
    events.clear();
    // Loaded from memory, libsmf's merge of the tracks starts out of step and
    // can hand back a later tick of one track before an earlier one of
    // another; rewinding sets every track's next event afresh.
    smf_rewind(smf);
    for (smf_event_t *e = smf_get_next_event(smf); e; e = smf_get_next_event(smf)) {
        const unsigned char *b = e->midi_buffer;
        // Channel messages only: meta events (tempo, names, end of track) and system exclusive play nothing.
        if (e->midi_buffer_length < 2 || b[0] < 0x80 || b[0] > 0xEF) continue;
        if (!std::isfinite(e->time_seconds) || e->time_seconds < 0 || e->time_seconds > MAX_SONG_SECONDS) {
            fault = "an event at " + std::to_string((long long)e->time_seconds) + " s, longer than an hour: an absurd tempo";
            break;
        }
        // The time a script line would hold: the whole millisecond nearest the event.
        events.push_back({std::llround(e->time_seconds * 1000), b[0], b[1], e->midi_buffer_length > 2 ? b[2] : 0});
    }
    smf_delete(smf);
    if (fault.empty() && !libraryComplaint.empty()) fault = libraryComplaint;
    if (!fault.empty()) return refuse(path, fault);
    return 0;
}
