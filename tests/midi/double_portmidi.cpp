// These definitions in the test executable take the place of libportmidi's own.
#include "tests/midi/double_portmidi.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace dbl {
std::vector<Device> devices;
std::deque<std::vector<PmEvent>> reads;
std::mutex lock;
int openId = -1, opens = 0;   // the program's own lock must keep the poll off these during open/close
}  // namespace dbl

static std::vector<PmDeviceInfo> infos;
static char stream;   // its address is the one stream handed out

PmError Pm_Initialize(void)
{
    infos.clear();
    for (dbl::Device &d : dbl::devices) infos.push_back(PmDeviceInfo{2, "test", d.name, d.input, d.output, 0});
    dbl::opens = 0;
    return pmNoError;
}

PmError Pm_Terminate(void)
{
    EXPECT_EQ(dbl::openId, -1) << "terminated with a stream open";
    return pmNoError;
}

int Pm_CountDevices(void) { return (int)infos.size(); }

const PmDeviceInfo *Pm_GetDeviceInfo(PmDeviceID id) { return id >= 0 && id < (int)infos.size() ? &infos[id] : nullptr; }

PmError Pm_OpenInput(PortMidiStream **s, PmDeviceID id, void *, int32_t, PmTimeProcPtr, void *)
{
    EXPECT_EQ(dbl::openId, -1) << "opened " << id << " over an open stream";
    EXPECT_TRUE(dbl::devices.at(id).input) << "opened output " << id;
    *s = nullptr;
    if (dbl::devices[id].failOpens > 0 && dbl::devices[id].failOpens--) return pmHostError;
    dbl::openId = id;
    dbl::opens++;
    *s = &stream;
    return pmNoError;
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
    if (dbl::reads.empty()) return 0;
    std::vector<PmEvent> batch = std::move(dbl::reads.front());
    dbl::reads.pop_front();
    buffer[0] = PmEvent{Pm_Message(0xF4, 1, 2), -99};   // junk a failed read must not post
    std::copy_n(batch.begin(), std::min<int>(batch.size(), length), buffer);
    return batch.empty() ? pmHostError : std::min<int>(batch.size(), length);
}
