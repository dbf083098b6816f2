// PortMidi's single-writer, single-reader message queue. libportmidi exports
// these four functions, but Debian's development package ships no header for
// them, so they are declared here with the library's own C signatures. A queue
// is an opaque handle; each message is a fixed number of bytes copied in and out.
#pragma once
#include <portmidi.h>
#include <cstdint>

extern "C" {
// Allocates a queue of numMessages slots of bytesPerMessage bytes; nullptr when out of memory.
void *Pm_QueueCreate(long numMessages, int32_t bytesPerMessage);
// Frees the queue and its slots.
PmError Pm_QueueDestroy(void *queue);
// Takes one message into msg: pmGotData, pmNoData, or pmBufferOverflow once after a refused post.
PmError Pm_Dequeue(void *queue, void *msg);
// Copies one message in from msg: pmNoError, or pmBufferOverflow when the queue is full or overflowed.
PmError Pm_Enqueue(void *queue, void *msg);
}
