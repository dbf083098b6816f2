// Sound must not break while the software renderer keeps both cores busy:
// one held note recorded for ten seconds from the sound server while faces
// are redrawn and help mode is toggled over and over.
#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <thread>
#include <unistd.h>
#include "tests/face/driver.h"

TEST(SoundUnderLoad, HeldNoteHasNoDropoutsWhileTheFaceIsRedrawn)
{
    struct Server { desk::Sound s = desk::startSound(); ~Server() { desk::stopSound(s); } } sound;  // outlives the programs
    Face played(false, sound.s.env());
    // A second face on its own display and pointer: the mouse that holds the
    // key cannot also click the help icon, so this one toggles help mode.
    Face busy;
    ASSERT_TRUE(played.mirl.ok && busy.mirl.ok);
    std::string wav = desk::tempDir("dropout") + "/held.wav";
    desk::HostWatch *host = desk::watchHost();
    desk::Process rec = desk::startRecording(sound.s, wav);
    Vector2 key = played.at(KEY_FIRST + 9);
    desk::sleepFor(0.5), played.move(key), desk::mouseDown(played.display, 1);

    std::atomic<bool> done{false};
    std::thread toggler([&] {
        for (int step = 0; !done;) {
            busy.move({24, busy.side - 22.0f}), busy.quickClick(1);  // the help icon
            for (int i = 0; i < 6 && !done; i++, step++) busy.move(busy.at(KNOB_TUNE + step % 20));  // tooltips redraw
            busy.quickClick(3), desk::sleepFor(0.2);  // any click ends help mode
        }
    });
    // Keep the played face moving too: the pointer wanders inside the held key.
    for (int i = 0; i < 100; i++, desk::sleepFor(0.1))
        desk::mouseMove(played.display, played.mirl.window, (int)key.x + (i % 2 ? 3 : -3), (int)key.y);
    desk::mouseUp(played.display, 1), done = true, toggler.join(), desk::sleepFor(0.3), desk::stopRecording(rec);
    desk::HostTook took = desk::stopWatchingHost(host);

    std::vector<float> x = desk::readWav(wav);
    size_t first = 0, last = 0;
    for (size_t i = 0; i < x.size(); i++)
        if (std::fabs(x[i]) > 0.01f) first = first ? first : i, last = i;
    ASSERT_GT(last, first + 44100 * 8) << "the note was held for ten seconds";
    // Inside the note, from the end of its attack to its release, the sound
    // never stops: a dropout shows as a run of exact silence.
    desk::Gaps gaps = desk::countGaps(x, first + 44100 / 2, last - 44100 / 2);
    size_t dropouts = gaps.count, longest = gaps.longest;
    std::printf("held note: %.2f s, %zu dropouts, longest silent run %zu samples; the host took %.1f%% of the processors "
                "and a processor was held from the witnesses for up to %.1f ms\n",
                (last - first) / 44100.0, dropouts, longest, took.percent, took.longestStopMs);
    // On a virtual machine the host can take the processors away from every
    // thread at once, the real-time ones too, for tens of milliseconds: no
    // program rides that out with a few milliseconds of buffer. Measured here,
    // dropouts grew with what it took (5%: one, 9%: nine, 22%: 54), though some
    // runs broke with under 3% taken too: there the host had stopped everything
    // in one piece, which the witness thread sees (112 ms in a run that counted
    // 2.6% taken). The kernel can hold one processor too: writing back a disk
    // writer's pages it ran 11.8 ms there without a break, and the sound
    // server's and the program's sound threads, woken on that processor,
    // waited. Then the recording says nothing about the program.
    if (longest >= desk::GAP_SAMPLES && took.spoils())
        GTEST_SKIP() << dropouts << " dropouts while the host took " << took.percent << "% of the processors and a processor was held for "
                     << took.longestStopMs << " ms";
    EXPECT_LT(longest, (size_t)desk::GAP_SAMPLES) << dropouts << " dropouts";
}
