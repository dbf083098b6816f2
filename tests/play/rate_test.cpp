// The real program on a sound server whose sink runs at 48000 Hz, as most
// cards and desktop sound servers do: a held A sounds at the pitch it has at
// 44100 Hz, and what the conversion between the two rates adds stays far
// under the note. Its products are told from the note by where they fall:
// the engine's A repeats every 100 samples, so everything it makes (its
// own aliases too) lies on multiples of 441 Hz, and a converter's images and
// aliases fall between them.
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>
#include "tests/face/driver.h"
#include "tests/play/hearing.h"

namespace {

const int RATE = 48000, N = 32768;  // 0.68 s windows

// Strongest component off the 441 Hz comb in x[from, from + N), in dB under
// the fundamental (a four-term Blackman-Harris window, 92 dB side lobes
// falling off fast: the comb's own leakage is far below at 30 Hz away).
double worstProduct(const std::vector<float> &x, size_t from)
{
    std::vector<std::complex<double>> a(N);
    for (int i = 0; i < N; i++) {
        double t = 2 * M_PI * i / (N - 1);
        a[i] = (0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t)) * x[from + i];
    }
    for (int i = 1, j = 0; i < N; i++) {  // an iterative radix-2 FFT
        int bit = N >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        if (i < (j ^= bit)) std::swap(a[i], a[j]);
    }
    for (int len = 2; len <= N; len <<= 1)
        for (int i = 0; i < N; i += len)
            for (int k = 0; k < len / 2; k++) {
                std::complex<double> w = std::polar(1.0, -2 * M_PI * k / len), u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v, a[i + k + len / 2] = u - v;
            }
    double bin = (double)RATE / N, fundamental = 0, worst = 0;
    for (int i = (int)(436 / bin); i <= (int)(446 / bin); i++) fundamental = std::max(fundamental, std::abs(a[i]));
    for (int i = (int)(20 / bin); i < N / 2; i++) {
        double hz = i * bin, k = std::round(hz / 441);
        if (std::fabs(hz - 441 * k) > 15 && std::abs(a[i]) > worst) worst = std::abs(a[i]);
    }
    return 20 * std::log10(worst / fundamental);
}

TEST(PlayAt48000, AHeldNoteKeepsItsPitchAndTheConversionStaysUnderIt)
{
    struct Server { desk::Sound s = desk::startSound(RATE); ~Server() { desk::stopSound(s); } } sound;
    Face f(false, sound.s.env());
    ASSERT_TRUE(f.mirl.ok);
    desk::setKeyboardFocus(f.display, f.mirl.window.id);
    std::string wav = desk::tempDir("rate") + "/take.wav";
    desk::HostWatch *host = desk::watchHost();
    desk::Process rec = desk::startRecording(sound.s, wav, RATE);
    for (int i = 0; i < 100 && desk::readFile(wav).size() < 8 * RATE / 10; i++) desk::sleepFor(0.05);
    desk::keyDown(f.display, {"n"}), desk::sleepFor(6.5), desk::keyUp(f.display, {"n"}), desk::sleepFor(0.5);
    desk::stopRecording(rec);
    int rate = 0;
    std::vector<float> x = desk::readWav(wav, &rate);
    ASSERT_EQ(rate, RATE);
    size_t on = 0;
    while (on + 480 <= x.size() && std::fabs(x[on]) < 0.01) on++;
    ASSERT_GT(x.size(), on + (size_t)(6.0 * RATE)) << "the note sounds";

    // The pitch from the rising zero crossings of the held note, counting
    // only the cycles that lie between dropouts.
    size_t from = on + RATE / 2, to = on + (size_t)(5.5 * RATE);
    double cycles = 0, span = 0;
    for (const auto &st : cleanStretches(x, from, to)) {
        double first = -1, last = -1;
        int count = 0;
        for (size_t i = st.first + 1; i < st.second; i++)
            if (x[i - 1] < 0 && x[i] >= 0 && (last < 0 || (double)i - last > 40)) {
                last = (double)(i - 1) - x[i - 1] / (double)(x[i] - x[i - 1]);
                if (first < 0) first = last;
                count++;
            }
        if (count > 1) cycles += count - 1, span += last - first;
    }
    Listening ear{desk::stopWatchingHost(host).spoils(), ""};
    ear.check(cycles > 441 * 2.0, "two seconds of the note between dropouts");
    if (cycles > 0) {
        EXPECT_NEAR(RATE * cycles / span, 441.0, 0.1);
    }

    // The conversion's products in the quietest window that no dropout
    // touches: a dropout spatters a window, the conversion shows in all.
    double best = 0;
    int windows = 0;
    for (const auto &st : cleanStretches(x, from, to))
        for (size_t w = st.first; w + N <= st.second && windows < 8; w += N / 2, windows++)
            best = std::min(best, worstProduct(x, w));
    ear.check(windows > 0, "a window of " + std::to_string(N) + " samples between dropouts");
    if (windows > 0) {
        EXPECT_LT(best, -90.0) << "the conversion's images and aliases, under the fundamental";
    }
    ear.verdict();
}

}  // namespace
