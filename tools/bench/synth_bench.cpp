// How fast the engine computes sound, in seconds of audio per second of one
// core, with all eight voices sounding. Prints figures; never fails on speed.
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "panel/constants.h"
#include "panel/panel.h"
#include "synth/synth.h"

namespace {

void startEngine()
{
    resetPanel();
    for (int id = CONTROL_FIRST; id < CONTROL_COUNT; id++) controlTable()[id].value = controlTable()[id].defaultValue;
    snapshotParams();
    resetSynth();
}

void patch(int slot, int from, int to)
{
    Cable &c = cableTable()[slot];
    c.inUse = true;
    c.from = from;
    c.to = to;
}

// Eight notes held until every voice sits in Sustain, then buffers of the
// program's size through the audio callback.
void runHeld(benchmark::State &state, double rate = SAMPLE_RATE)
{
    std::vector<float> buf(AUDIO_BUFFER_FRAMES);
    for (int k = 0; k < 8; k++) noteOn(48 + 3 * k, 100, 0);
    for (int i = 0; i < 100; i++) audioCallback(buf.data(), AUDIO_BUFFER_FRAMES);
    for (auto _ : state) {
        audioCallback(buf.data(), AUDIO_BUFFER_FRAMES);
        benchmark::DoNotOptimize(buf.data());
    }
    state.counters["realtime_x"] = benchmark::Counter(state.iterations() * (double)AUDIO_BUFFER_FRAMES / rate, benchmark::Counter::kIsRate);
}

// All five inputs patched: lfoToPitch sends the LFO into fold, shape and tune and
// the envelope into cutoff and resonance; otherwise the other way round.
void patchAll(bool lfoToPitch)
{
    int pitchSource = lfoToPitch ? JACK_LFO_OUT : JACK_ENV_OUT, filterSource = lfoToPitch ? JACK_ENV_OUT : JACK_LFO_OUT;
    patch(0, pitchSource, JACK_FOLD_IN), patch(1, pitchSource, JACK_SHAPE_IN), patch(2, pitchSource, JACK_TUNE_IN);
    patch(3, filterSource, JACK_CUTOFF_IN), patch(4, filterSource, JACK_RES_IN);
    controlTable()[KNOB_ENV_AMOUNT].value = 0.8f;
    snapshotParams();
}

// (a) Default knobs, nothing patched.
void defaultKnobs(benchmark::State &state)
{
    startEngine();
    runHeld(state);
}

// (b) All five inputs patched, the LFO moving the oscillator.
void allPatchedLfoPitch(benchmark::State &state)
{
    startEngine();
    patchAll(true);
    runHeld(state);
}

// (b') All five patched the other way, the LFO moving the filter.
void allPatchedLfoFilter(benchmark::State &state)
{
    startEngine();
    patchAll(false);
    runHeld(state);
}

// (c) The live stream on a 48000 Hz device: (b) and the conversion after it.
void allPatchedLive48000(benchmark::State &state)
{
    startEngine();
    patchAll(true);
    startSoundConversion(48000);
    runHeld(state, 48000);
    stopSoundConversion();
}

BENCHMARK(defaultKnobs)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(allPatchedLive48000)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(allPatchedLfoPitch)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(allPatchedLfoFilter)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// Times mirl-render on a minute of eight voices with knob turns and cables.
void timeRenderer()
{
#ifdef MIRL_RENDER
    std::string script = "/tmp/mirl_bench_render.txt", wav = "/tmp/mirl_bench_render.wav";
    FILE *f = std::fopen(script.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "0 patch %d %d\n0 patch %d %d\n0 knob %d 0.8\n", JACK_LFO_OUT, JACK_TUNE_IN, JACK_ENV_OUT,
                 JACK_CUTOFF_IN, KNOB_ENV_AMOUNT);
    for (int k = 0; k < 8; k++) std::fprintf(f, "0 on %d 100\n", 48 + 3 * k);
    for (int s = 1; s < 60; s++) {
        std::fprintf(f, "%d knob %d %.2f\n", s * 1000, KNOB_SHAPE, (s % 10) / 10.0);
        if (s % 4 == 0) {
            for (int k = 0; k < 8; k++) std::fprintf(f, "%d off %d\n", s * 1000, 48 + 3 * k);
            for (int k = 0; k < 8; k++) std::fprintf(f, "%d on %d 100\n", s * 1000 + 500, 48 + 3 * k);
        }
    }
    std::fprintf(f, "60000 end\n");
    std::fclose(f);
    std::string cmd = std::string(MIRL_RENDER) + " " + script + " " + wav + " > /dev/null";
    auto t0 = std::chrono::steady_clock::now();
    int rc = std::system(cmd.c_str());
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("mirl-render, 60 s of eight voices: %.3f s wall (%.0fx real time), exit %d\n", s, 60.0 / s, rc);
    std::remove(script.c_str());
    std::remove(wav.c_str());
#endif
}

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    timeRenderer();
    return 0;
}
