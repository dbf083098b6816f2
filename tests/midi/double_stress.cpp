// Under ThreadSanitizer: the poll delivering device events (in order, with their stamps; a failed read posts
// nothing), the main thread posting key presses and stepping through devices, and a consumer draining
// like the audio callback, steadily and with stalls that overflow. A stall lasts until more keys than the
// queue holds were posted, not a fixed time: a host that stops the machine must not make it too short.
#include <atomic>
#include "tests/midi/midi_test.h"

TEST(MidiStress, PollKeysAndDeviceChangesAgainstTheAudioDrain)
{
    using Clock = std::chrono::steady_clock;
    for (bool stalls : {false, true}) {
        dbl::devices = {{"In 0", 1, 0}, {"Out 1", 0, 1}, {"In 2", 1, 1}};
        std::atomic<long> keys{0};
        long fed = 0, got[2] = {0, 0}, last[2] = {-1, -1}, disorder = 0;
        std::atomic<bool> stop{false};
        std::string text = printed([&] {
            midiStart();
            std::thread audio([&] {   // sequence numbers: a key's in its data bytes, a device event's in its stamp
                Clock::time_point stallAt = Clock::now() + std::chrono::milliseconds(300);
                for (int idle = 0; idle < 50 || !stop; idle++, sleepMs(1)) {
                    for (Event e; take(e); idle = 0) {
                        bool key = e[1] == 0x90;
                        int seq = key ? e[2] | e[3] << 7 : e[0];
                        disorder += seq <= last[key] || (!key && e[1] != 0xB0);
                        last[key] = seq, got[key]++;
                    }
                    if (stalls && !stop && Clock::now() > stallAt) {
                        for (long from = keys; !stop && keys - from < 400;) sleepMs(1);
                        stallAt = Clock::now() + std::chrono::milliseconds(400);
                    }
                }
            });
            for (auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end && keys < 2400;) {
                midiPostNote(0x90, keys & 0x7F, keys >> 7 & 0x7F);
                if (++keys % 100 == 0) midiNextDevice();
                std::unique_lock<std::mutex> hold(dbl::lock);
                if (dbl::reads.size() < 2) dbl::reads.emplace_back();
                if (keys % 40 == 0) dbl::reads.emplace_back(), dbl::reads.emplace_back();   // a failed read, which posts nothing
                while (dbl::reads.back().size() < 6) dbl::reads.back().push_back({Pm_Message(0xB0, 1, 2), (int)++fed});
                hold.unlock(), std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
            waitForReads();
            stop = true, audio.join(), midiStop();
        });
        long lost = fed - got[0] + keys - got[1], overflows = 0;
        for (size_t at = 0; (at = text.find("overflowed", at)) != std::string::npos; at++) overflows++;
        EXPECT_TRUE(disorder == 0 && got[0] > 0 && got[1] > 0) << disorder << " out of order";
        EXPECT_EQ(overflows > 0, stalls);
        EXPECT_TRUE(overflows > 0 ? lost >= overflows : lost == 0) << lost << " lost in " << overflows << " overflows";
    }
}
