// All three threads at once: the timer's poll delivering a steady stream of
// device events, the main thread posting key presses and stepping through the
// devices, and a consumer draining the queue the way the audio callback does,
// with a few long stalls that overflow the queue. Session under ThreadSanitizer.
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include "midi/midi.h"
#include "tests/midi/capture.h"
#include "tests/midi/double_portmidi.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Drained {
    long deviceGot = 0, keyGot = 0;
    long lastDevice = -1, lastKey = -1;   // sequence numbers seen last, per producer
    int outOfOrder = 0, foreign = 0;
};

// Drains like an audio buffer every millisecond; with stalls, now and then
// sleeps long enough for the producers to overflow the queue.
void consume(std::atomic<bool> *stop, bool stalls, Drained *d)
{
    Clock::time_point nextStall = Clock::now() + std::chrono::milliseconds(400);
    Clock::time_point lastEvent = Clock::now();
    for (;;) {
        int ts, status, data1, data2;
        while (midiNextEvent(&ts, &status, &data1, &data2)) {
            lastEvent = Clock::now();
            if (status == 0xB0) {
                if (ts <= d->lastDevice) d->outOfOrder++;
                d->lastDevice = ts;
                d->deviceGot++;
            } else if (status == 0x90) {
                long seq = data1 | (data2 << 7);
                if (seq <= d->lastKey) d->outOfOrder++;
                d->lastKey = seq;
                d->keyGot++;
            } else {
                d->foreign++;
            }
        }
        if (stop->load() && Clock::now() - lastEvent > std::chrono::milliseconds(100)) return;
        if (stalls && !stop->load() && Clock::now() > nextStall) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            nextStall = Clock::now() + std::chrono::milliseconds(500);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}

struct Session {
    Drained d;
    dbl::Record r;
    long posted = 0, lost = 0;
    int switches = 0, overflows = 0, banners = 0;
};

// One session from midiStart to midiStop with all three threads busy.
Session session(int ms, bool stalls)
{
    Session run;
    dbl::setDevices({{"In 0", 1, 0}, {"Out 1", 0, 1}, {"In 2", 1, 0}, {"In 3", 1, 1}});
    cap::Capture out;
    midiStart();
    dbl::setStream(0xB0, 6);
    std::atomic<bool> stop{false};
    std::thread consumer(consume, &stop, stalls, &run.d);
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end && run.posted < 16000) {
        midiPostNote(0x90, run.posted & 0x7F, (run.posted >> 7) & 0x7F);
        run.posted++;
        if (run.posted % 100 == 0) {
            midiNextDevice();
            run.switches++;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    dbl::setStream(0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
    consumer.join();
    midiStop();
    std::string text = out.end();
    run.r = dbl::record();
    run.lost = (run.r.streamed - run.d.deviceGot) + (run.posted - run.d.keyGot);
    run.overflows = count(text, "midi event queue overflowed\n");
    run.banners = count(text, "Midi device init: ");
    std::printf("%s: posted %ld keys, %ld device events in %d reads, %d device changes; "
                "lost %ld in %d reported overflows\n", stalls ? "with stalls" : "steady",
                run.posted, run.r.streamed, run.r.reads, run.switches, run.lost, run.overflows);
    return run;
}

TEST(MidiStress, PollKeysAndDeviceChangesAgainstTheAudioDrain)
{
    for (bool stalls : {false, true}) {
        SCOPED_TRACE(stalls ? "with stalls" : "steady");
        Session run = session(stalls ? 1500 : 1000, stalls);
        EXPECT_EQ(run.d.outOfOrder, 0) << "each producer's order is kept";
        EXPECT_EQ(run.d.foreign, 0);
        EXPECT_EQ(run.r.misuse, 0) << "a read overlapped an open or close, or used a closed stream";
        EXPECT_GT(run.d.deviceGot, 0);
        EXPECT_GT(run.d.keyGot, 0);
        EXPECT_EQ(run.banners, run.switches + 1);
        if (!stalls) {
            EXPECT_EQ(run.overflows, 0);
            EXPECT_EQ(run.lost, 0) << "a drain that keeps up loses nothing";
        } else {
            EXPECT_GT(run.overflows, 0) << "the stalls should have overflowed the queue";
            EXPECT_GE(run.lost, run.overflows) << "every reported overflow refused at least one message";
        }
    }
}

}  // namespace
