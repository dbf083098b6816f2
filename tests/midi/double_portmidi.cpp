// The scripted device side of PortMidi. These definitions in the test
// executable take the place of libportmidi's own for the program's calls.
#include "tests/midi/double_portmidi.h"
#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

// libportmidi keeps a few bytes per start for good: the default device names
// found by Pm_Initialize and the timer's parameter block from Pt_Start.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libportmidi.so\n";
}

namespace {

std::mutex lock;                   // guards everything below
std::vector<dbl::Device> devices;
std::vector<PmDeviceInfo> infos;
std::vector<int> failures;         // opens still to fail, per device
std::deque<PmEvent> pending;
int perReadLimit = 0;
PmError readError = pmNoError;
int streamStatus = 0, streamCount = 0;
dbl::Record rec;
char streamToken;                  // the address handed out as the open stream
std::atomic<bool> reading{false};

}  // namespace

namespace dbl {

void setDevices(const std::vector<Device> &list)
{
    std::lock_guard<std::mutex> hold(lock);
    devices = list;
    infos.assign(list.size(), PmDeviceInfo{});
    failures.assign(list.size(), 0);
    for (size_t i = 0; i < list.size(); i++) {
        infos[i].structVersion = 200;
        infos[i].interf = "test";
        infos[i].name = devices[i].name.c_str();
        infos[i].input = list[i].input;
        infos[i].output = list[i].output;
    }
    pending.clear();
    readError = pmNoError;
    streamCount = 0;
    rec = Record();
}

void failOpen(int id, int times)
{
    std::lock_guard<std::mutex> hold(lock);
    failures.at(id) = times;
}

void feed(const std::vector<PmEvent> &events, int perRead)
{
    std::lock_guard<std::mutex> hold(lock);
    pending.insert(pending.end(), events.begin(), events.end());
    perReadLimit = perRead;
}

void setReadError(PmError error)
{
    std::lock_guard<std::mutex> hold(lock);
    readError = error;
}

void setStream(int status, int count)
{
    std::lock_guard<std::mutex> hold(lock);
    streamStatus = status;
    streamCount = count;
}

Record record()
{
    std::lock_guard<std::mutex> hold(lock);
    return rec;
}

}  // namespace dbl

PmError Pm_Initialize(void)
{
    std::lock_guard<std::mutex> hold(lock);
    rec.initialized++;
    return pmNoError;
}

PmError Pm_Terminate(void)
{
    std::lock_guard<std::mutex> hold(lock);
    rec.initialized--;
    return pmNoError;
}

int Pm_CountDevices(void)
{
    std::lock_guard<std::mutex> hold(lock);
    return (int)infos.size();
}

const PmDeviceInfo *Pm_GetDeviceInfo(PmDeviceID id)
{
    std::lock_guard<std::mutex> hold(lock);
    return id >= 0 && id < (int)infos.size() ? &infos[id] : nullptr;
}

PmError Pm_OpenInput(PortMidiStream **stream, PmDeviceID id, void *, int32_t bufferSize, PmTimeProcPtr, void *)
{
    std::lock_guard<std::mutex> hold(lock);
    if (reading || rec.openId >= 0 || bufferSize != 256) rec.misuse++;
    *stream = nullptr;
    if (id < 0 || id >= (int)infos.size() || !infos[id].input) return pmInvalidDeviceId;
    if (failures[id] > 0) {
        failures[id]--;
        return pmHostError;
    }
    rec.opens++;
    rec.openId = id;
    *stream = &streamToken;
    return pmNoError;
}

PmError Pm_Close(PortMidiStream *stream)
{
    std::lock_guard<std::mutex> hold(lock);
    if (reading || stream != &streamToken || rec.openId < 0) {
        rec.misuse++;
        return pmBadPtr;
    }
    rec.closes++;
    rec.openId = -1;
    return pmNoError;
}

int Pm_Read(PortMidiStream *stream, PmEvent *buffer, int32_t length)
{
    reading = true;
    std::lock_guard<std::mutex> hold(lock);
    rec.reads++;
    int n = 0;
    if (stream != &streamToken || rec.openId < 0) {
        rec.misuse++;
        n = pmBadPtr;
    } else if (readError != pmNoError) {
        n = readError;
    } else if (streamCount > 0) {
        for (; n < streamCount && n < length; n++) {
            buffer[n].message = streamStatus | (rec.openId << 8);
            buffer[n].timestamp = (PmTimestamp)rec.streamed++;
        }
    } else {
        int limit = perReadLimit > 0 ? std::min(perReadLimit, length) : length;
        for (; n < limit && !pending.empty(); n++) {
            buffer[n] = pending.front();
            pending.pop_front();
        }
    }
    reading = false;
    return n;
}
