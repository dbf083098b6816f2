// The device side of PortMidi, played from the script in dbl; these definitions
// in the test executable take the place of libportmidi's own.
#include <algorithm>
#include "tests/midi/midi_test.h"

std::vector<dbl::Device> dbl::devices;
std::deque<std::vector<PmEvent>> dbl::reads;
std::mutex dbl::lock;
int dbl::openId = -1, dbl::opens = 0;   // only the program's own lock keeps the poll off these
int dbl::emptyReads = 0;
static std::vector<PmDeviceInfo> infos;
static char stream;                      // its address is the one stream handed out

PmError Pm_Initialize(void)
{
    infos.clear(), dbl::opens = 0;
    for (dbl::Device &d : dbl::devices) infos.push_back(PmDeviceInfo{2, "test", d.name, d.input, d.output, 0});
    return pmNoError;
}
PmError Pm_Terminate(void) { EXPECT_EQ(dbl::openId, -1) << "terminated with a stream open"; return pmNoError; }
int Pm_CountDevices(void) { return (int)infos.size(); }
const PmDeviceInfo *Pm_GetDeviceInfo(PmDeviceID id) { return id >= 0 && id < (int)infos.size() ? &infos[id] : nullptr; }

PmError Pm_OpenInput(PortMidiStream **s, PmDeviceID id, void *, int32_t, PmTimeProcPtr, void *)
{
    EXPECT_TRUE(dbl::openId == -1 && dbl::devices.at(id).input) << "opened " << id << " over a stream or not an input";
    *s = dbl::devices[id].failOpens-- > 0 ? nullptr : &stream;
    return *s ? (dbl::opens++, dbl::openId = id, pmNoError) : pmHostError;
}

PmError Pm_Close(PortMidiStream *s)
{
    EXPECT_TRUE(s == &stream && dbl::openId >= 0) << "closed a stream that is not open";
    dbl::openId = -1;
    return pmNoError;
}

int Pm_Read(PortMidiStream *s, PmEvent *buffer, int32_t length)
{
    EXPECT_TRUE(s == &stream && dbl::openId >= 0) << "read a stream that is not open";
    std::lock_guard<std::mutex> hold(dbl::lock);
    if (dbl::reads.empty()) return dbl::emptyReads++, 0;
    std::vector<PmEvent> batch = std::move(dbl::reads.front());
    dbl::reads.pop_front();
    int n = std::min<int>(batch.size(), length);
    buffer[0] = PmEvent{Pm_Message(0xF4, 1, 2), -99};   // junk that a failed read must not post
    std::copy_n(batch.begin(), n, buffer);
    return n > 0 ? n : pmHostError;
}
