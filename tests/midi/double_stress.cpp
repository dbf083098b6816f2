// All three threads at once under ThreadSanitizer: the poll delivering device
// events, the main thread posting key presses and stepping through devices,
// and a consumer draining like the audio callback, once steadily and once with
// stalls long enough to overflow the queue.
#include <gtest/gtest.h>
#include <atomic>
#include "tests/midi/double_portmidi.h"
#include "tests/midi/midi_test.h"

using Clock = std::chrono::steady_clock;

TEST(MidiStress, PollKeysAndDeviceChangesAgainstTheAudioDrain)
{
    for (int stallMs : {0, 150}) {
        dbl::devices = {{"In 0", 1, 0}, {"Out 1", 0, 1}, {"In 2", 1, 1}};
        long keys = 0, fed = 0, gotKeys = 0, gotDevice = 0, lastKey = -1, lastDevice = -1, disorder = 0;
        std::atomic<bool> stop{false};
        std::string text = printed([&] {
            midiStart();
            std::thread audio([&] {
                Clock::time_point stallAt = Clock::now() + std::chrono::milliseconds(300);
                for (int idle = 0; idle < 50 || !stop; idle++) {
                    for (Event e; take(e); idle = 0) {
                        bool key = e.status == 0x90;
                        long seq = key ? e.data1 | e.data2 << 7 : e.timestamp, &last = key ? lastKey : lastDevice;
                        disorder += seq <= last || (!key && e.status != 0xB0);
                        last = seq;
                        (key ? gotKeys : gotDevice)++;
                    }
                    bool stall = stallMs && !stop && Clock::now() > stallAt;
                    if (stall) stallAt = Clock::now() + std::chrono::milliseconds(400);
                    sleepMs(stall ? stallMs : 1);
                }
            });
            for (Clock::time_point end = Clock::now() + std::chrono::seconds(1); Clock::now() < end && keys < 16000;) {
                midiPostNote(0x90, keys & 0x7F, keys >> 7 & 0x7F);
                if (++keys % 100 == 0) midiNextDevice();
                std::unique_lock<std::mutex> hold(dbl::lock);
                if (dbl::reads.size() < 2) dbl::reads.emplace_back();
                while (dbl::reads.back().size() < 6) dbl::reads.back().push_back(PmEvent{Pm_Message(0xB0, 1, 2), (PmTimestamp)++fed});
                hold.unlock();
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
            for (std::unique_lock<std::mutex> hold(dbl::lock); !dbl::reads.empty(); hold.lock()) hold.unlock(), sleepMs(5);
            stop = true;
            audio.join();
            midiStop();
        });
        long lost = fed - gotDevice + keys - gotKeys, overflows = 0;
        for (size_t at = text.find("overflowed\n"); at != std::string::npos; at = text.find("overflowed\n", at + 1)) overflows++;
        std::fprintf(stderr, "stalls of %d ms: %ld keys, %ld device events, lost %ld in %ld overflows\n", stallMs, keys, fed, lost, overflows);
        EXPECT_EQ(disorder, 0) << "each producer's order is kept";
        EXPECT_GT(gotKeys, 0);
        EXPECT_GT(gotDevice, 0);
        EXPECT_EQ(overflows > 0, stallMs > 0);
        EXPECT_GE(lost, overflows) << "every reported overflow refused something";
        EXPECT_TRUE(overflows > 0 || lost == 0) << "nothing is lost without a report";
    }
}
