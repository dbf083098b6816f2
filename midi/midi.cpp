// MIDI input: one PortMidi input stream, read every 15 ms on PortTime's timer
// thread, and the 256-message PortMidi queue that carries its notes and the
// on-screen keyboard's to the audio thread.
//
// Threads: the main thread opens and closes the stream and posts key presses;
// the timer thread reads the stream and posts what it delivered; the audio
// thread takes messages. PortMidi's queue is safe for one writer and one
// reader, so the two writers share midiLock, which the poll also holds across
// Pm_Read and the main thread across opening and closing the stream. The
// reader takes no lock: Pm_Dequeue only copies words out of the ring.
#include "midi/midi.h"
#include <portmidi.h>
#include <porttime.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include "midi/pm_queue.h"

static const int MIDI_QUEUE_SIZE = 256;    // messages in the hand-over queue
static const int MIDI_READ_SIZE = 256;     // events per Pm_Read, and PortMidi's own input buffer
static const int MIDI_POLL_MS = 15;        // poll period on the timer thread

static PortMidiStream *midiStream = nullptr;           // the open input, or none
static const PmDeviceInfo *midiDeviceInfo = nullptr;   // its description, for the name
static int midiDeviceId = -1;                          // its PortMidi id, -1 when none
static void *midiQueue = nullptr;                      // poll and keys -> audio thread
static PmEvent midiReadBuffer[MIDI_READ_SIZE];         // timer thread only
// Notes the open device has sounded and not yet let go, one bit per channel
// for each note number, as far as the queue took them. A device closed with
// keys down never sends their note-offs, so closing sends them in its place.
// Only the poll and the close touch it, both holding midiLock.
static uint16_t midiHeldNotes[128];

// Serialises the queue's two writers and keeps a poll off a stream being opened or closed.
static std::mutex midiLock;
// Overflows the audio thread has met and not yet reported: it may not print
// (stdout takes a lock and can block), so the next poll prints for it.
static std::atomic<int> midiOverflows{0};

static const PmDeviceInfo *deviceInfo(int id)
{
    return id >= 0 ? Pm_GetDeviceInfo(id) : nullptr;
}

static bool isInput(int id)
{
    const PmDeviceInfo *info = deviceInfo(id);
    return info && info->input;
}

// Packs the low 8 bits of status and the two data bytes into a PortMidi message.
static PmMessage packMessage(int status, int data1, int data2)
{
    return (status & 0xFF) | ((data1 & 0xFF) << 8) | ((data2 & 0xFF) << 16);
}

// Prints one "queue overflowed" line for every overflow taken since the last call.
static void reportOverflows()
{
    int pending = midiOverflows.exchange(0, std::memory_order_relaxed);
    for (int i = 0; i < pending; i++) std::printf("midi event queue overflowed\n");
    if (pending > 0) std::fflush(stdout);
}

void midiStart()
{
    Pm_Initialize();
    midiQueue = Pm_QueueCreate(MIDI_QUEUE_SIZE, sizeof(PmEvent));
    // The clock starts at 0 here; PortMidi stamps device events with it too,
    // since no time function of our own is given to Pm_OpenInput.
    Pt_Start(MIDI_POLL_MS, midiPoll, nullptr);
    midiListDevices();
    if (Pm_CountDevices() == 0) return;
    int id = midiFindInput(-1);
    if (id >= 0) midiOpenDevice(id);
}

void midiStop()
{
    midiCloseDevice();
    Pt_Stop();   // joins the timer thread: no poll runs after this
    reportOverflows();
    Pm_QueueDestroy(midiQueue);
    midiQueue = nullptr;
    Pm_Terminate();
}

void midiStartQueue()
{
    // No Pm_Initialize: that looks for devices, and the system's MIDI layer
    // may print about what it cannot open. The queue and the clock need neither.
    midiQueue = Pm_QueueCreate(MIDI_QUEUE_SIZE, sizeof(PmEvent));
    Pt_Start(MIDI_POLL_MS, nullptr, nullptr);
}

void midiStopQueue()
{
    Pt_Stop();
    reportOverflows();
    Pm_QueueDestroy(midiQueue);
    midiQueue = nullptr;
}

void midiListDevices()
{
    std::printf("----------Midi input device list----------\n");
    int count = Pm_CountDevices();
    for (int i = 0; i < count; i++) {
        const PmDeviceInfo *info = deviceInfo(i);
        if (!info) continue;
        std::printf("%d - %s - in: %d out: %d \n", i, info->name, info->input, info->output);
    }
    std::fflush(stdout);
}

int midiFindInput(int after)
{
    int count = Pm_CountDevices();
    for (int id = after + 1; id < count; id++)
        if (isInput(id)) return id;
    // Wrap around; this pass includes `after` itself, so a lone input finds itself again.
    for (int id = 0; id < count; id++)
        if (isInput(id)) return id;
    return -1;
}

void midiOpenDevice(int id)
{
    if (midiStream) midiCloseDevice();   // never leak a stream: one input at a time
    const PmDeviceInfo *info = deviceInfo(id);
    std::printf("----------\nMidi device init: %s\n----------\n", info && info->name ? info->name : "");
    std::fflush(stdout);
    std::lock_guard<std::mutex> hold(midiLock);
    PortMidiStream *stream = nullptr;
    PmError err = Pm_OpenInput(&stream, id, nullptr, MIDI_READ_SIZE, nullptr, nullptr);
    if (err == pmNoError && stream) {
        midiStream = stream;
        midiDeviceId = id;
        midiDeviceInfo = info;
    } else {
        midiStream = nullptr;
        midiDeviceInfo = nullptr;
        midiDeviceId = -1;
    }
}

// Keeps midiHeldNotes in step with one message the queue accepted from the device.
static void trackHeldNote(PmMessage message)
{
    int status = Pm_MessageStatus(message), note = Pm_MessageData1(message) & 0x7F, channel = status & 0x0F;
    bool on = (status & 0xF0) == 0x90 && Pm_MessageData2(message) != 0;
    if (status == 0xFC) std::memset(midiHeldNotes, 0, sizeof midiHeldNotes);   // Stop lets every voice go
    else if (on) midiHeldNotes[note] |= (uint16_t)(1u << channel);
    else if ((status & 0xF0) == 0x80 || (status & 0xF0) == 0x90) midiHeldNotes[note] &= (uint16_t)~(1u << channel);
}

// Posts a note-off for every note the device still holds, stamped now, and forgets them.
static void releaseHeldNotes()
{
    for (int note = 0; note < 128; note++)
        for (int channel = 0; channel < 16; channel++)
            if (midiHeldNotes[note] >> channel & 1) {
                PmEvent event{packMessage(0x80 | channel, note, 0), Pt_Time()};
                Pm_Enqueue(midiQueue, &event);
            }
    std::memset(midiHeldNotes, 0, sizeof midiHeldNotes);
}

void midiCloseDevice()
{
    std::lock_guard<std::mutex> hold(midiLock);
    if (midiStream) {
        Pm_Close(midiStream);
        midiStream = nullptr;
        releaseHeldNotes();
    }
    midiDeviceInfo = nullptr;
    midiDeviceId = -1;
}

void midiNextDevice()
{
    // Searched before closing, so from -1 (the lowest id) when nothing is open.
    int next = midiFindInput(midiDeviceId);
    midiCloseDevice();
    if (next != -1) midiOpenDevice(next);
}

const char *midiDeviceName()
{
    return midiDeviceInfo ? midiDeviceInfo->name : nullptr;
}

void midiPostNote(int status, int data1, int data2)
{
    PmEvent event;
    event.message = packMessage(status, data1, data2);
    std::lock_guard<std::mutex> hold(midiLock);
    event.timestamp = Pt_Time();
    Pm_Enqueue(midiQueue, &event);
}

void midiPostEvent(int timestamp, int status, int data1, int data2)
{
    PmEvent event;
    event.message = packMessage(status, data1, data2);
    event.timestamp = timestamp;
    std::lock_guard<std::mutex> hold(midiLock);
    Pm_Enqueue(midiQueue, &event);
}

int midiNextEvent(int *timestamp, int *status, int *data1, int *data2)
{
    PmEvent event;
    PmError r = Pm_Dequeue(midiQueue, &event);
    if (r == pmGotData) {
        *timestamp = event.timestamp;
        *status = event.message & 0xFF;
        *data1 = (event.message >> 8) & 0xFF;
        *data2 = (event.message >> 16) & 0xFF;
        return 1;
    }
    if (r == pmBufferOverflow) midiOverflows.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int midiNow()
{
    return Pt_Time();
}

void midiPoll(int32_t, void *)
{
    reportOverflows();
    std::lock_guard<std::mutex> hold(midiLock);
    if (!midiStream) return;
    int n = Pm_Read(midiStream, midiReadBuffer, MIDI_READ_SIZE);
    // A negative count is a read error: nothing is posted, the next poll tries again.
    for (int i = 0; i < n; i++)
        if (Pm_Enqueue(midiQueue, &midiReadBuffer[i]) == pmNoError) trackHeldNote(midiReadBuffer[i].message);
}
