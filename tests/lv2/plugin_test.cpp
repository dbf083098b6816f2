// The plugin in a real liblilv host: the bundle the build made, MIDI fed as
// an atom sequence on exact frames, blocks of any size, compared sample for
// sample with mirl-render playing the same notes one frame at a time.
#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>
#include <cmath>
#include <samplerate.h>
#include <map>
#include <random>
#include <string>
#include <vector>
#include "lv2/ports.h"
#include "tests/render/render_test.h"

namespace {

// URIs mapped to numbers from 1, for the plugin and the forge.
std::map<std::string, LV2_URID> uris;
LV2_URID mapUri(LV2_URID_Map_Handle, const char *uri)
{
    auto it = uris.find(uri);
    return it != uris.end() ? it->second : (uris[uri] = (LV2_URID)uris.size() + 1);
}
LV2_URID_Map uridMap{nullptr, mapUri};
LV2_Feature mapFeature{LV2_URID__map, &uridMap};
const LV2_Feature *features[] = {&mapFeature, nullptr};

// The world with only the built bundle on its path.
struct Host {
    LilvWorld *world = lilv_world_new();
    const LilvPlugin *plugin = nullptr;
    Host()
    {
        LilvNode *path = lilv_new_string(world, MIRL_LV2_PATH);
        lilv_world_set_option(world, LILV_OPTION_LV2_PATH, path);
        lilv_node_free(path);
        lilv_world_load_all(world);
        LilvNode *uri = lilv_new_uri(world, MIRL_LV2_URI);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    ~Host() { lilv_world_free(world); }
};

// A MIDI message due on a frame.
struct Event {
    long long frame;
    uint8_t msg[3];
};

// One running instance with its ports, played in blocks.
struct Player {
    LilvInstance *inst;
    float knob[PARAM_COUNT], mod[5] = {}, latency = -1;
    alignas(8) uint8_t seq[8192];
    std::vector<float> block;
    Player(const Host &h, const float *knobs, double rate = 44100)
    {
        inst = lilv_plugin_instantiate(h.plugin, rate, features);
        for (int k = 0; k < PARAM_COUNT; k++) knob[k] = knobs[k], lilv_instance_connect_port(inst, PORT_KNOB_FIRST + k, &knob[k]);
        for (int m = 0; m < 5; m++) lilv_instance_connect_port(inst, PORT_MOD_FIRST + m, &mod[m]);
        lilv_instance_connect_port(inst, PORT_LATENCY, &latency);
        lilv_instance_connect_port(inst, PORT_MIDI_IN, seq);
        lilv_instance_activate(inst);
    }
    ~Player() { lilv_instance_free(inst); }
    // Runs one block from frame start, with the events that fall inside it; appends its samples to out.
    void run(long long start, uint32_t frames, const std::vector<Event> &events, std::vector<float> &out)
    {
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, &uridMap);
        lv2_atom_forge_set_buffer(&forge, seq, sizeof seq);
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_sequence_head(&forge, &frame, 0);
        for (const Event &e : events)
            if (e.frame >= start && e.frame < start + frames) {
                lv2_atom_forge_frame_time(&forge, e.frame - start);
                lv2_atom_forge_atom(&forge, 3, mapUri(nullptr, LV2_MIDI__MidiEvent));
                lv2_atom_forge_write(&forge, e.msg, 3);
            }
        lv2_atom_forge_pop(&forge, &frame);
        block.assign(frames + 1, 12345.0f);
        lilv_instance_connect_port(inst, PORT_OUT, block.data());
        lilv_instance_run(inst, frames);
        out.insert(out.end(), block.begin(), block.begin() + frames);
    }
};

// The face's default knob positions, in port order.
const float defaults[PARAM_COUNT] = {0.5f, 0.2f, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0, 0.1f, 0.5f, 0.5f, 0, 0.2f};

// The frame mirl-render --frames 1 applies a line of this many ms on.
long long frameOf(long long ms) { return (ms * 44100 + 999) / 1000; }

// Plays the events through p in blocks whose sizes come from sizes (cycled), up to total frames.
std::vector<float> play(Player &p, const std::vector<Event> &events, long long total, const std::vector<uint32_t> &sizes)
{
    std::vector<float> out;
    long long done = 0;
    for (size_t b = 0; done < total; b++) {
        uint32_t n = sizes[b % sizes.size()];
        if (n > total - done) n = (uint32_t)(total - done);
        p.run(done, n, events, out);
        done += n;
    }
    return out;
}

// The notes of a script: "MS on NOTE VEL" and "MS off NOTE" lines become events on their render frames.
struct Note { long long ms; bool on; int note; };
std::string scriptOf(const std::vector<Note> &notes, long long endMs, const std::string &head = "")
{
    std::string s = head;
    for (const Note &n : notes) s += std::to_string(n.ms) + (n.on ? " on " + std::to_string(n.note) + " 100\n" : " off " + std::to_string(n.note) + "\n");
    return s + std::to_string(endMs) + " end\n";
}
std::vector<Event> eventsOf(const std::vector<Note> &notes)
{
    std::vector<Event> ev;
    for (const Note &n : notes) ev.push_back({frameOf(n.ms), {(uint8_t)(n.on ? 0x90 : 0x80), (uint8_t)n.note, (uint8_t)(n.on ? 100 : 0)}});
    return ev;
}

const std::vector<Note> chords = {{0, true, 60}, {3, true, 64}, {7, true, 67}, {120, false, 64}, {121, true, 72}, {250, false, 60},
                                  {251, false, 67}, {400, true, 64}, {401, false, 72}, {650, false, 64}, {700, true, 69}, {1100, false, 69}};

TEST(Lv2Plugin, EverySampleEqualsTheRendererInBlocksOfAnySize)
{
    Host h;
    ASSERT_NE(h.plugin, nullptr);
    render::Outcome ref = render::run("--frames 1 @s.txt OUT", {{"s.txt", scriptOf(chords, 1500)}});
    ASSERT_EQ(ref.status, 0);
    std::mt19937 rng(21);
    std::vector<uint32_t> sizes = {0, 1, 8192, 0, 7};
    for (int i = 0; i < 60; i++) sizes.push_back(rng() % 3 == 0 ? rng() % 4 : rng() % 3000);
    for (const std::vector<uint32_t> &s : {std::vector<uint32_t>{1}, std::vector<uint32_t>{8192}, std::vector<uint32_t>{512}, sizes}) {
        Player p(h, defaults);
        std::vector<float> got = play(p, eventsOf(chords), (long long)ref.sound.size(), s);
        ASSERT_EQ(got.size(), ref.sound.size());
        for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i], ref.sound[i]) << "frame " << i << ", first block " << s[0];
        EXPECT_EQ(p.latency, 0.0f);
    }
    // The same notes from a MIDI file, 500 ticks a beat at the default tempo:
    // a tick is a millisecond, so the renderer puts each on the frame of that line.
    std::vector<render::Ev> track;
    long long at = 0;
    for (const Note &n : chords)
        track.push_back({(unsigned)(n.ms - at), {n.on ? 0x90 : 0x80, n.note, n.on ? 100 : 0}}), at = n.ms;
    render::Outcome song = render::run("--frames 1 --midi @s.mid OUT", {{"s.mid", render::midiFile(0, 500, {track})}});
    ASSERT_EQ(song.status, 0);
    ASSERT_GT(song.sound.size(), (size_t)frameOf(1100)) << "the song plays to its last note";
    Player p(h, defaults);
    std::vector<float> got = play(p, eventsOf(chords), (long long)song.sound.size(), sizes);
    for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i], song.sound[i]) << "frame " << i << " of the song";
}

TEST(Lv2Plugin, TwoInstancesEachPlayTheirOwnNotesAndKnobs)
{
    Host h;
    std::vector<Note> low = {{0, true, 48}, {500, false, 48}}, high = {{10, true, 76}, {30, true, 79}, {300, false, 76}};
    render::Outcome refLow = render::run("--frames 1 @s.txt OUT", {{"s.txt", scriptOf(low, 900)}});
    // The second plays with the cutoff down and the LFO patched into the tune input.
    render::Outcome refHigh = render::run("--frames 1 @s.txt OUT", {{"s.txt", scriptOf(high, 900, "0 knob 4 0.3\n0 patch 13 16\n")}});
    float dark[PARAM_COUNT];
    std::copy(defaults, defaults + PARAM_COUNT, dark);
    dark[PARAM_CUTOFF] = 0.3f;
    Player a(h, defaults), b(h, dark);
    b.mod[2] = MOD_LFO;   // the tune input
    std::vector<float> outA, outB;
    std::vector<Event> evA = eventsOf(low), evB = eventsOf(high);
    for (long long done = 0, n = 300; done < (long long)refLow.sound.size(); done += n) {
        n = std::min<long long>(300, (long long)refLow.sound.size() - done);
        a.run(done, (uint32_t)n, evA, outA);
        b.run(done, (uint32_t)n, evB, outB);
    }
    EXPECT_EQ(outA, refLow.sound);
    EXPECT_EQ(outB, refHigh.sound);
}

TEST(Lv2Plugin, AllNotesOffReleasesAndAllSoundOffSilences)
{
    Host h;
    // All Notes Off (123) on another channel releases like the note-off it stands for.
    std::vector<Note> held = {{0, true, 60}, {5, true, 67}, {400, false, 60}, {400, false, 67}};
    render::Outcome ref = render::run("--frames 1 @s.txt OUT", {{"s.txt", scriptOf(held, 3000)}});
    std::vector<Event> ev = eventsOf({held[0], held[1]});
    ev.push_back({frameOf(400), {0xB3, 123, 0}});
    Player p(h, defaults);
    EXPECT_EQ(play(p, ev, (long long)ref.sound.size(), {256}), ref.sound);
    // All Sound Off (120) stops the sound on its frame, without a release.
    std::vector<Event> cut = eventsOf({held[0], held[1]});
    cut.push_back({10000, {0xB0, 120, 0}});
    Player q(h, defaults);
    std::vector<float> out = play(q, cut, 12000, {333});
    EXPECT_NE(out[9999], 0.0f);
    for (size_t i = 10000; i < out.size(); i++) ASSERT_EQ(out[i], 0.0f) << i;
    // Other controllers change nothing.
    std::vector<Event> other = eventsOf({held[0], held[1]});
    other.push_back({100, {0xB0, 7, 0}}), other.push_back({200, {0xB0, 64, 127}}), other.push_back({300, {0xE0, 0, 0}});
    Player r(h, defaults), s(h, defaults);
    EXPECT_EQ(play(r, other, 5000, {100}), play(s, eventsOf({held[0], held[1]}), 5000, {100}));
}

// Positive-going zero crossings of x between from and to, interpolated: the frequency at this rate.
double pitchOf(const std::vector<float> &x, size_t from, size_t to, double rate)
{
    double first = -1, last = -1;
    int count = 0;
    for (size_t i = from; i + 1 < to; i++)
        if (x[i] < 0 && x[i + 1] >= 0) {
            double t = (double)i + x[i] / (x[i] - x[i + 1]);
            if (first < 0) first = t;
            last = t;
            count++;
        }
    return (count - 1) * rate / (last - first);
}

// The first frame from which the sound stands out of silence.
size_t onsetOf(const std::vector<float> &x)
{
    size_t i = 0;
    while (i < x.size() && std::fabs(x[i]) < 0.01f) i++;
    return i;
}

TEST(Lv2Plugin, At48000AHeldA4KeepsItsPitchAndStartsAfterTheReportedLatency)
{
    Host h;
    float plain[PARAM_COUNT];
    std::copy(defaults, defaults + PARAM_COUNT, plain);
    plain[PARAM_SHAPE] = 0.0f;   // a sine: clean crossings
    std::vector<Event> a4 = {{4410, {0x90, 69, 100}}};
    Player ref(h, plain);
    std::vector<float> at44 = play(ref, a4, 44100 * 3 / 2, {512});
    for (double rate : {48000.0, 96000.0}) {
        Player p(h, plain, rate);
        ASSERT_NE(p.inst, nullptr);
        std::mt19937 rng(48);
        std::vector<uint32_t> sizes;
        for (int i = 0; i < 40; i++) sizes.push_back(rng() % 3000);
        std::vector<float> out = play(p, {{(long long)(rate / 10), {0x90, 69, 100}}}, (long long)(rate * 1.5), sizes);
        EXPECT_GT(p.latency, 0.0f);
        EXPECT_NEAR(pitchOf(out, (size_t)(rate * 0.5), out.size(), rate), 441.0, 0.1) << rate;
        double ratio = rate / 44100.0, expected = (double)onsetOf(at44) * ratio + p.latency;
        EXPECT_NEAR((double)onsetOf(out), expected, ratio + 1) << rate;
    }
    EXPECT_NEAR(pitchOf(at44, 22050, at44.size(), 44100), 441.0, 0.1);
}

// The same notes at 48000 Hz differ from the 44100 Hz sound converted offline
// with the best converter by less than -90 dB of the note: the plugin's
// conversion adds no image or alias a listener could hear.
TEST(Lv2Plugin, At48000TheConversionAddsNothingAbove90dBDown)
{
    Host h;
    for (float shape : {0.0f, 0.2f}) {
        float knobs[PARAM_COUNT];
        std::copy(defaults, defaults + PARAM_COUNT, knobs);
        knobs[PARAM_SHAPE] = shape;
        Player ref(h, knobs), p(h, knobs, 48000);
        std::vector<float> at44 = play(ref, {{4410, {0x90, 69, 100}}}, 44100, {512});
        std::vector<float> at48 = play(p, {{4800, {0x90, 69, 100}}}, 48000, {700});
        std::vector<float> offline(48000 + 1000);
        SRC_DATA d{};
        d.data_in = at44.data(), d.input_frames = (long)at44.size(), d.data_out = offline.data(), d.output_frames = (long)offline.size();
        d.src_ratio = 48000.0 / 44100.0, d.end_of_input = 1;
        ASSERT_EQ(src_simple(&d, SRC_SINC_BEST_QUALITY, 1), 0);
        size_t lat = (size_t)p.latency;
        double signal = 0, error = 0;
        for (size_t k = 24000; k < 44000; k++) {
            signal += (double)offline[k] * offline[k];
            double e = (double)at48[k + lat] - offline[k];
            error += e * e;
        }
        double db = 10 * std::log10(error / signal);
        EXPECT_LT(db, -90.0) << "shape " << shape;
    }
}

TEST(Lv2Plugin, RefusesAHostWithoutUridMap)
{
    Host h;
    const LV2_Feature *none[] = {nullptr};
    EXPECT_EQ(lilv_plugin_instantiate(h.plugin, 44100, none), nullptr);
    LilvInstance *ok = lilv_plugin_instantiate(h.plugin, 44100, features);
    EXPECT_NE(ok, nullptr);
    lilv_instance_free(ok);
}

}   // namespace

namespace {

// Runs a shell command; returns what it printed and sets status.
std::string shell(const std::string &cmd, int &status)
{
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    status = pclose(p);
    return out;
}

TEST(Lv2Bundle, InstallsUnderLibLv2WhereLv2lsFindsItAndValidates)
{
    char folder[] = "/tmp/mirl-lv2-XXXXXX";
    std::string prefix = mkdtemp(folder);
    int status;
    std::string log = shell("cmake --install " MIRL_BINARY_DIR " --component lv2 --prefix " + prefix, status);
    ASSERT_EQ(status, 0) << log;
    std::string listed = shell("LV2_PATH=" + prefix + "/lib/lv2 lv2ls", status);
    EXPECT_EQ(listed, MIRL_LV2_URI "\n");
    std::string info = shell("LV2_PATH=" + prefix + "/lib/lv2 lv2info " MIRL_LV2_URI, status);
    for (const char *symbol : {"midi_in", "out", "latency", "tune", "lfo_depth", "gain", "fold_in", "res_in"})
        EXPECT_NE(info.find(std::string("Symbol:      ") + symbol + "\n"), std::string::npos) << symbol;
    EXPECT_NE(info.find("Name:        LFO Depth Attenuator"), std::string::npos);
    std::string valid = shell("lv2_validate " + prefix + "/lib/lv2/mirl.lv2/*.ttl", status);
    EXPECT_EQ(status, 0) << valid;
    EXPECT_NE(valid.find("Found 0 errors"), std::string::npos) << valid;
    shell("rm -rf " + prefix, status);
}

}   // namespace
