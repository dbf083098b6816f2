// Standard MIDI Files through libsmf: it decodes the events, running status
// and the tempo map, and hands back the tracks' events merged by time, each
// with its time in seconds. What is left here is reading the file's framing
// first, as liberally as other players do, and handing libsmf a clean copy
// of what plays; then choosing what to play, and refusing what cannot be
// played sensibly.
#include "midifile.h"
#include <glib.h>   // before smf.h, which includes it inside extern "C"
#include <smf.h>
#include <cerrno>
#include <climits>
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

// Writes a variable-length number, seven bits a byte, most significant first.
static void putVarLen(std::vector<unsigned char> &out, unsigned v)
{
    int shift = 0;
    while (shift < 21 && (v >> (shift + 7))) shift += 7;
    for (; shift > 0; shift -= 7) out.push_back((unsigned char)(0x80 | ((v >> shift) & 0x7F)));
    out.push_back((unsigned char)(v & 0x7F));
}

// The largest delta time libsmf reads: four bytes of seven bits.
static const long long MAX_DELTA = 0x0FFFFFFF;

// Appends one event at an absolute tick to a track body whose last event was
// at lastTick. A gap longer than one delta can say is bridged with empty text
// events, which play nothing and leave the tempo map alone.
static void putEvent(std::vector<unsigned char> &body, long long &lastTick, long long tick, const unsigned char *bytes, size_t n)
{
    static const unsigned char emptyText[] = {0xFF, 0x01, 0x00};
    for (; tick - lastTick > MAX_DELTA; lastTick += MAX_DELTA) {
        putVarLen(body, (unsigned)MAX_DELTA);
        body.insert(body.end(), emptyText, emptyText + sizeof emptyText);
    }
    putVarLen(body, (unsigned)(tick - lastTick));
    lastTick = tick;
    body.insert(body.end(), bytes, bytes + n);
}

static void putBigEndian(std::vector<unsigned char> &out, unsigned v, int bytes)
{
    for (int i = bytes - 1; i >= 0; i--) out.push_back((unsigned char)(v >> (8 * i)));
}

// The status bytes that MIDI leaves undefined: no one knows how many data bytes follow them.
static bool undefinedStatus(int status) { return status == 0xF4 || status == 0xF5 || status == 0xF9 || status == 0xFD; }

// Reads the file as other players do and writes the copy libsmf is given.
// libsmf trusts the lengths written in a file and reads past its buffer when
// they lie, takes a meta event's length for one byte, aborts on an escaped
// sysex, keeps 0xFF as the running status after a meta event and counts a
// chunk of another kind as a lost track. So every chunk and event is checked
// here to lie inside the file, and the copy holds only what libsmf reads
// safely and the renderer needs: channel messages with their status bytes
// written out, MIDI Stop, tempo and time signature events (both make libsmf's
// tempo map, so the times come out as from the file itself) and End of
// Track, each at its tick; the rest plays nothing and is left out. Returns
// what is wrong, or "" when the file can be played.
static std::string readFraming(const std::vector<unsigned char> &b, std::vector<unsigned char> &copy)
{
    if (b.size() < 14 || std::memcmp(b.data(), "MThd", 4) != 0) return "not a MIDI file";
    unsigned headerLength = bigEndian(b, 4, 4);
    if (headerLength < 6 || headerLength > b.size() - 8) return "the header is cut short";
    unsigned format = bigEndian(b, 8, 2), tracksDeclared = bigEndian(b, 10, 2), tracksFound = 0;
    if (format > 1) return "MIDI file format " + std::to_string(format) + " holds separate songs; only formats 0 and 1 play";
    copy.assign({'M', 'T', 'h', 'd', 0, 0, 0, 6});   // libsmf reads only a header of six bytes
    copy.insert(copy.end(), b.begin() + 8, b.begin() + 14);
    size_t pos = 8 + (size_t)headerLength;
    // Fewer bytes than a chunk header after the last chunk are a writer's slip, not a chunk.
    while (b.size() - pos >= 8) {
        unsigned length = bigEndian(b, pos + 4, 4);
        if (length > b.size() - pos - 8) return "a track length runs past the end of the file";
        bool track = std::memcmp(&b[pos], "MTrk", 4) == 0;
        size_t at = pos + 8, end = at + length;
        pos = end;
        if (!track) continue;   // chunks of other kinds are skipped, as the format asks
        tracksFound++;
        std::vector<unsigned char> body;
        long long tick = 0, lastTick = 0;
        int running = 0;
        bool ended = false;
        while (at < end) {
            unsigned delta, size;
            if (ended) return "events after a track's end";
            if (!readVarLen(b, at, end, delta) || at >= end) return "a track is cut short";
            tick += delta;
            if (tick > INT_MAX) return "a track longer than any song";
            int status = b[at];
            if (status >= 0x80) at++;
            else if (running) status = running;
            else return "a data byte where a status byte belongs";
            if (undefinedStatus(status)) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "0x%02X", status);
                return std::string("an undefined status byte, ") + hex + ", whose length no one knows";
            }
            if (status >= 0xF8 && status != 0xFF) {
                // Real-time: one byte that leaves the running status be. Only Stop plays: it lets every note go.
                if (status == 0xFC) putEvent(body, lastTick, tick, &b[at - 1], 1);
                continue;
            }
            if (status < 0xF0 || (status > 0xF0 && status < 0xF7)) {
                // A channel message, or a system common one (song position, MTC quarter frame, song select, tune request).
                if (status < 0xF0) size = (status & 0xE0) == 0xC0 ? 1 : 2;   // program change and channel pressure carry one byte
                else size = status == 0xF2 ? 2 : status == 0xF6 ? 0 : 1;
                if (end - at < size) return "a track is cut short";
                for (unsigned k = 0; k < size; k++)
                    if (b[at + k] >= 0x80) return "a status byte where a data byte belongs";
                // A system common message plays nothing and ends the running status, as on a cable.
                running = status < 0xF0 ? status : 0;
                if (running) {
                    unsigned char message[3] = {(unsigned char)status, b[at], b[at + size - 1]};
                    putEvent(body, lastTick, tick, message, 1 + size);
                }
                at += size;
                continue;
            }
            // System exclusive ends the running status; a meta event keeps it, as players do.
            int type = -1;
            if (status == 0xFF) {
                if (at >= end) return "a track is cut short";
                type = b[at++];
            } else {
                running = 0;
            }
            if (!readVarLen(b, at, end, size) || end - at < size) return "a track is cut short";
            if (type == 0x51) {   // tempo: microseconds a beat in three bytes
                if (size != 3 || bigEndian(b, at, 3) == 0) return "an absurd tempo";
            }
            // Tempo and time signature (its first four bytes, as libsmf reads them) make the tempo map.
            unsigned kept = type == 0x51 ? 3 : type == 0x58 ? 4 : 0;
            if (kept && size >= kept) {
                unsigned char meta[7] = {0xFF, (unsigned char)type, (unsigned char)kept};
                std::memcpy(meta + 3, &b[at], kept);
                putEvent(body, lastTick, tick, meta, 3 + kept);
            }
            if (type == 0x2F) ended = true;
            at += size;
        }
        if (!ended) return "a track without its End of Track";
        static const unsigned char endOfTrack[] = {0xFF, 0x2F, 0x00};
        putEvent(body, lastTick, tick, endOfTrack, sizeof endOfTrack);
        copy.insert(copy.end(), {'M', 'T', 'r', 'k'});
        putBigEndian(copy, (unsigned)body.size(), 4);
        copy.insert(copy.end(), body.begin(), body.end());
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
    std::vector<unsigned char> copy;
    std::string fault = readFraming(bytes, copy);
    if (!fault.empty()) return refuse(path, fault);

    libraryComplaint.clear();
    g_log_set_default_handler(keepLibraryMessage, nullptr);
    smf_t *smf = smf_load_from_memory(copy.data(), copy.size());
    if (!smf) return refuse(path, "not a readable MIDI file" + (libraryComplaint.empty() ? "" : " (" + libraryComplaint + ")"));
    events.clear();
    // Loaded from memory, libsmf's merge of the tracks starts out of step and
    // can hand back a later tick of one track before an earlier one of
    // another; rewinding sets every track's next event afresh.
    smf_rewind(smf);
    for (smf_event_t *e = smf_get_next_event(smf); e; e = smf_get_next_event(smf)) {
        const unsigned char *b = e->midi_buffer;
        // Channel messages and MIDI Stop only: the meta events left (tempo, end of track) play nothing.
        bool stop = b[0] == 0xFC;
        if (!stop && (e->midi_buffer_length < 2 || b[0] < 0x80 || b[0] > 0xEF)) continue;
        if (!std::isfinite(e->time_seconds) || e->time_seconds < 0 || e->time_seconds > MAX_SONG_SECONDS) {
            fault = "an event at " + std::to_string((long long)e->time_seconds) + " s, longer than an hour: an absurd tempo";
            break;
        }
        // The time a script line would hold: the whole millisecond nearest the event.
        // Stop is the line "raw 252 0 0".
        events.push_back({std::llround(e->time_seconds * 1000), b[0], stop ? 0 : b[1], e->midi_buffer_length > 2 ? b[2] : 0});
    }
    smf_delete(smf);
    if (fault.empty() && !libraryComplaint.empty()) fault = libraryComplaint;
    if (!fault.empty()) return refuse(path, fault);
    return 0;
}
