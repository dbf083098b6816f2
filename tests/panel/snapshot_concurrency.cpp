// The snapshot hand-over under a busy writer: the audio thread must always
// see one whole snapshot and never wait.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include "panel/panel.h"

namespace {

// Two internally consistent face states that differ in every field.
void setState(int which)
{
    Control *t = controlTable();
    float v = which ? 0.75f : 0.25f;
    for (int id : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 20}) t[id].value = v;
    Cable *c = cableTable();
    for (int s = 0; s < 5; s++) {
        c[s].inUse = true;
        c[s].from = which ? JACK_ENV_OUT : JACK_LFO_OUT;
        c[s].to = JACK_FOLD_IN + s;
    }
}

bool consistent(const SynthParams &p, const ModRouting &r, int *which)
{
    const float *f = &p.tune;
    const int32_t *s = &r.foldSource;
    if (f[0] == 0.0f && s[0] == 0) {  // the empty block before the first publish
        for (int i = 0; i < 13; i++) if (f[i] != 0.0f) return false;
        for (int i = 0; i < 5; i++) if (s[i] != 0) return false;
        *which = -1;
        return true;
    }
    int w = f[0] == 0.75f ? 1 : 0;
    for (int i = 0; i < 13; i++) if (f[i] != (w ? 0.75f : 0.25f)) return false;
    for (int i = 0; i < 5; i++) if (s[i] != (w ? JACK_ENV_OUT : JACK_LFO_OUT)) return false;
    *which = w;
    return true;
}

TEST(SnapshotConcurrency, ReaderNeverSeesAMixture)
{
    resetPanel();
    std::atomic<bool> done{false};
    std::atomic<long> torn{0}, reads{0}, seen[2] = {0, 0};
    std::thread reader([&] {
        SynthParams p;
        ModRouting r;
        while (!done.load(std::memory_order_relaxed)) {
            readParams(&p, &r);
            int w;
            if (!consistent(p, r, &w)) torn++;
            else if (w >= 0) seen[w]++;
            reads++;
        }
    });
    for (int i = 0; i < 200000; i++) {
        setState(i & 1);
        snapshotParams();
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_GT(seen[0].load() + seen[1].load(), 0);
    resetPanel();
}

}  // namespace
