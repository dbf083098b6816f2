// Sound must not break while the software renderer keeps both cores busy:
// one held note recorded for ten seconds from the sound server while faces
// are redrawn and help mode is toggled over and over.
#include <gtest/gtest.h>
#include <atomic>
#include <cmath>
#include <thread>
#include "tests/support/desktop.h"
#include "tests/support/face.h"

TEST(SoundUnderLoad, HeldNoteHasNoDropoutsWhileTheFaceIsRedrawn)
{
    desk::Display played = desk::startDisplay(1280, 1024), busy = desk::startDisplay(1280, 1024);
    ASSERT_TRUE(played.number >= 0 && busy.number >= 0);
    desk::Sound sound = desk::startSound();
    desk::Mirl mirl = desk::startMirl(played, sound.env());
    // A second face on its own display and pointer: the mouse that holds the
    // key cannot also click the help icon, so this one toggles help mode.
    desk::Mirl other = desk::startMirl(busy, {"PULSE_SERVER=unix:/nonexistent/native"});
    ASSERT_TRUE(mirl.ok && other.ok);
    std::string wav = desk::tempDir("dropout") + "/held.wav";
    desk::Process rec = desk::startRecording(sound, wav);
    Vector2 key = face::controlScreen(KEY_FIRST + 9, mirl.window.width);  // A, on its front
    desk::sleepFor(0.5), desk::mouseMove(played, mirl.window, (int)key.x, (int)key.y + 12);
    desk::sleepFor(0.1), desk::mouseDown(played, 1);

    std::atomic<bool> done{false};
    std::thread toggler([&] {
        int s = other.window.width;
        for (int step = 0; !done;) {
            desk::mouseMove(busy, other.window, 24, s - 22);  // the help icon
            desk::mouseDown(busy, 1), desk::sleepFor(0.05), desk::mouseUp(busy, 1);
            for (int i = 0; i < 6 && !done; i++, step++) {  // hover controls so tooltips redraw
                Vector2 p = face::controlScreen(KNOB_TUNE + step % 20, s);
                desk::mouseMove(busy, other.window, (int)p.x, (int)p.y), desk::sleepFor(0.12);
            }
            desk::mouseDown(busy, 3), desk::sleepFor(0.05), desk::mouseUp(busy, 3);  // any click ends help mode
            desk::sleepFor(0.2);
        }
    });
    // Keep the played face moving too: the pointer wanders inside the held key.
    for (int i = 0; i < 100; i++, desk::sleepFor(0.1)) desk::mouseMove(played, mirl.window, (int)key.x + (i % 2 ? 3 : -3), (int)key.y + 12);
    desk::mouseUp(played, 1), done = true, toggler.join(), desk::sleepFor(0.3), desk::stopRecording(rec);

    std::vector<float> x = desk::readWav(wav);
    ASSERT_GT(x.size(), 44100u * 9);
    size_t first = 0, last = 0;
    for (size_t i = 0; i < x.size(); i++)
        if (std::fabs(x[i]) > 0.01f) first = first ? first : i, last = i;
    ASSERT_GT(last, first + 44100 * 8) << "the note was held for ten seconds";
    // Inside the note, from the end of its attack to its release, the sound
    // never stops: a dropout shows as a run of exact silence.
    size_t run = 0, longest = 0, dropouts = 0;
    for (size_t i = first + 44100 / 2; i < last - 44100 / 2; i++) {
        run = x[i] == 0.0f ? run + 1 : 0, dropouts += run == 64, longest = std::max(longest, run);
    }
    std::printf("held note: %.2f s, %zu dropouts, longest silent run %zu samples\n", (last - first) / 44100.0, dropouts, longest);
    EXPECT_LT(longest, 64u) << dropouts << " dropouts";
    EXPECT_TRUE(desk::closeMirl(played, mirl) == 0 && desk::closeMirl(busy, other) == 0);
    desk::stopSound(sound), desk::stopDisplay(played), desk::stopDisplay(busy);
}
