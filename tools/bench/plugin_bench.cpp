// Part of bench_synth: the LV2 plugin's real-time factor in a liblilv host,
// eight voices held in 512-frame blocks with all five inputs patched, at the
// engine's own rate and at one the plugin converts to.
#include <benchmark/benchmark.h>
#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>
#include <map>
#include <string>
#include <vector>
#include "lv2/ports.h"
#include "panel/constants.h"

namespace {

std::map<std::string, LV2_URID> uris;
LV2_URID mapUri(LV2_URID_Map_Handle, const char *uri)
{
    auto it = uris.find(uri);
    return it != uris.end() ? it->second : (uris[uri] = (LV2_URID)uris.size() + 1);
}

void pluginAllPatched(benchmark::State &state)
{
    LilvWorld *world = lilv_world_new();
    LilvNode *path = lilv_new_string(world, MIRL_LV2_PATH), *uri = lilv_new_uri(world, MIRL_LV2_URI);
    lilv_world_set_option(world, LILV_OPTION_LV2_PATH, path);
    lilv_world_load_all(world);
    const LilvPlugin *plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    LV2_URID_Map map{nullptr, mapUri};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature *features[] = {&mapFeature, nullptr};
    LilvInstance *inst = plugin ? lilv_plugin_instantiate(plugin, (double)state.range(0), features) : nullptr;
    if (!inst) {
        state.SkipWithError("the plugin did not load");
        return;
    }
    // The face's defaults, the envelope amount up; the LFO on fold, shape and tune, the envelope on the filter.
    float knobs[PARAM_COUNT] = {0.5f, 0.2f, 0, 0.5f, 0.5f, 0.5f, 0.5f, 0, 0.1f, 0.5f, 0.5f, 0.8f, 0.2f};
    float mods[5] = {MOD_LFO, MOD_LFO, MOD_LFO, MOD_ENVELOPE, MOD_ENVELOPE}, latency = 0;
    std::vector<float> out(AUDIO_BUFFER_FRAMES);
    alignas(8) uint8_t seq[1024];
    for (int k = 0; k < PARAM_COUNT; k++) lilv_instance_connect_port(inst, PORT_KNOB_FIRST + k, &knobs[k]);
    for (int m = 0; m < 5; m++) lilv_instance_connect_port(inst, PORT_MOD_FIRST + m, &mods[m]);
    lilv_instance_connect_port(inst, PORT_LATENCY, &latency);
    lilv_instance_connect_port(inst, PORT_OUT, out.data());
    lilv_instance_connect_port(inst, PORT_MIDI_IN, seq);
    lilv_instance_activate(inst);
    // Eight notes on the first block, an empty sequence after.
    LV2_Atom_Forge forge;
    for (int b = 0; b < 101; b++) {
        lv2_atom_forge_init(&forge, &map);
        lv2_atom_forge_set_buffer(&forge, seq, sizeof seq);
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_sequence_head(&forge, &frame, 0);
        for (int k = 0; b == 0 && k < 8; k++) {
            uint8_t msg[3] = {0x90, (uint8_t)(48 + 3 * k), 100};
            lv2_atom_forge_frame_time(&forge, 0);
            lv2_atom_forge_atom(&forge, 3, mapUri(nullptr, LV2_MIDI__MidiEvent));
            lv2_atom_forge_write(&forge, msg, 3);
        }
        lv2_atom_forge_pop(&forge, &frame);
        lilv_instance_run(inst, AUDIO_BUFFER_FRAMES);
    }
    for (auto _ : state) {
        lilv_instance_run(inst, AUDIO_BUFFER_FRAMES);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["realtime_x"] = benchmark::Counter(state.iterations() * (double)AUDIO_BUFFER_FRAMES / (double)state.range(0), benchmark::Counter::kIsRate);
    lilv_instance_free(inst);
    lilv_node_free(uri), lilv_node_free(path);
    lilv_world_free(world);
}

BENCHMARK(pluginAllPatched)->Arg(44100)->Arg(48000)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace
