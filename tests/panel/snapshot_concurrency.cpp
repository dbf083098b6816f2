// The snapshot hand-over under a busy writer: the audio thread must always
// see one whole snapshot and never wait.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include "panel/panel.h"

TEST(SnapshotConcurrency, ReaderNeverSeesAMixture)
{
    resetPanel();
    std::atomic<bool> done{false};
    std::atomic<long> torn{0}, whole{0};
    std::thread reader([&] {
        SynthParams p; ModRouting r;
        while (!done.load(std::memory_order_relaxed)) {
            readParams(&p, &r);
            // Either the empty block before the first publish, or one of the writer's two states:
            // every knob 0.25 with the LFO patched everywhere, or every knob 0.75 with the envelope.
            const float *f = &p.tune;
            int32_t src = f[0] == 0.25f ? JACK_LFO_OUT : f[0] == 0.75f ? JACK_ENV_OUT : 0;
            bool ok = f[0] == 0.0f || src != 0;
            for (int i = 0; i < 13; i++) ok = ok && f[i] == f[0];
            for (int i = 0; i < 5; i++) ok = ok && (&r.foldSource)[i] == src;
            (ok ? whole : torn)++;
        }
    });
    for (int i = 0; i < 200000; i++) {
        for (int id = KNOB_TUNE; id <= KNOB_GAIN; id++)
            if (controlTable()[id].kind == ControlKind::Knob) controlTable()[id].value = (i & 1) ? 0.75f : 0.25f;
        for (int s = 0; s < 5; s++) cableTable()[s] = Cable{true, (i & 1) ? JACK_ENV_OUT : JACK_LFO_OUT, JACK_FOLD_IN + s, {}, {}, {}};
        snapshotParams();
    }
    done = true, reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(whole.load(), 0);
    resetPanel();
}
