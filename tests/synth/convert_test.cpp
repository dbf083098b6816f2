// The live stream at a device rate other than the engine's: whatever sizes the
// sound server asks for, the converted sound is the same, frame for frame.
#include <gtest/gtest.h>
#include <random>
#include <vector>
#include "tests/synth/synth_test.h"

namespace {

// Five seconds of a held chord at 48000 Hz, taken in calls of the given sizes.
std::vector<float> heldChordAt48000(const std::vector<unsigned> &sizes)
{
    startEngine();
    EXPECT_TRUE(startSoundConversion(48000));
    noteOn(57, 100, 0), noteOn(64, 90, 0), noteOn(69, 110, 0);
    std::vector<float> out;
    for (size_t i = 0; out.size() < 5u * 48000; i++) {
        unsigned n = sizes[i % sizes.size()];
        out.resize(out.size() + n);
        audioCallback(out.data() + out.size() - n, n);
    }
    stopSoundConversion();
    out.resize(5u * 48000);
    return out;
}

TEST(SoundConversion, AnyCallSizesGiveTheSameSound)
{
    std::mt19937 rng(7);
    std::vector<unsigned> random;
    for (int i = 0; i < 400; i++) random.push_back(rng() % 7 == 0 ? 4000 + rng() % 9000 : rng() % 600);  // 0 too, and calls past the buffer
    std::vector<float> steady = heldChordAt48000({557}), varied = heldChordAt48000(random);
    float loudest = 0;
    for (size_t i = 0; i < steady.size(); i++) {
        ASSERT_NEAR(varied[i], steady[i], 1e-6f) << "frame " << i;
        loudest = std::max(loudest, std::fabs(steady[i]));
    }
    EXPECT_GT(loudest, 0.05f) << "the chord sounds";
}

}  // namespace
