// The live sound thread's own affairs: its priority, the memory it must never
// wait for, and a record of when the sound server called for sound.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include "synth/synth.h"
#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#endif
#if defined(__linux__)
#include <link.h>
#endif

enum { SOUND_PRIORITY = 10 };  // above the renderer's threads, below the sound server's own

static std::atomic<bool> raisePending{false};
static std::atomic<int> priorityState{PRIORITY_UNASKED};
static std::atomic<int> memoryState{MEMORY_UNLOCKED};

// Callback timing, written by the sound thread only, read by the main thread.
static std::atomic<int64_t> firstCallNs{0}, lastCallNs{0}, worstGapNs{0}, worstLateNs{0}, earliestLeadNs{0};
static std::atomic<uint64_t> callCount{0}, framesSeen{0};

static int64_t monotonicNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

// Puts the calling thread ahead of the renderer's threads. On a small machine
// software rendering can keep every core busy, and a sound thread of ordinary
// priority then misses its turn and the sound drops out. A desktop user is
// often allowed real-time priority only up to a soft limit they may raise
// themselves (the audio group's limits): it is raised to the hard limit first.
static int raiseSoundThreadPriority()
{
#if defined(__unix__) || defined(__APPLE__)
    sched_param param{};
    param.sched_priority = SOUND_PRIORITY;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return PRIORITY_REALTIME;
#if defined(RLIMIT_RTPRIO)
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_max > 0) {
        if (limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_RTPRIO, &limit);
        }
        if (limit.rlim_max != RLIM_INFINITY && (rlim_t)param.sched_priority > limit.rlim_max)
            param.sched_priority = (int)limit.rlim_max;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return PRIORITY_REALTIME_LIMITED;
    }
#endif
#endif
    return PRIORITY_ORDINARY;
}

void raiseSoundThreadOnNextCall() { raisePending.store(true, std::memory_order_release); }

void soundThreadTick(unsigned frames, unsigned rate)
{
    if (raisePending.load(std::memory_order_relaxed) && raisePending.exchange(false, std::memory_order_acquire))
        priorityState.store(raiseSoundThreadPriority(), std::memory_order_relaxed);
    int64_t now = monotonicNs();
    uint64_t calls = callCount.load(std::memory_order_relaxed);
    uint64_t before = framesSeen.load(std::memory_order_relaxed);
    if (calls == 0) firstCallNs.store(now, std::memory_order_relaxed);
    else {
        int64_t gap = now - lastCallNs.load(std::memory_order_relaxed);
        if (gap > worstGapNs.load(std::memory_order_relaxed)) worstGapNs.store(gap, std::memory_order_relaxed);
    }
    // Lateness against the sound's own clock: how far this call comes after
    // the moment the frames already played say it was due, measured from the
    // most punctual call so far (the server asks for a burst at the start).
    int64_t lead = now - firstCallNs.load(std::memory_order_relaxed) - (int64_t)((double)before * 1e9 / (double)rate);
    if (calls == 0 || lead < earliestLeadNs.load(std::memory_order_relaxed))
        earliestLeadNs.store(lead, std::memory_order_relaxed);
    int64_t late = lead - earliestLeadNs.load(std::memory_order_relaxed);
    if (late > worstLateNs.load(std::memory_order_relaxed)) worstLateNs.store(late, std::memory_order_relaxed);
    lastCallNs.store(now, std::memory_order_relaxed);
    framesSeen.store(before + frames, std::memory_order_relaxed);
    callCount.store(calls + 1, std::memory_order_release);
}

SoundThreadReport soundThreadReport()
{
    SoundThreadReport r{};
    r.calls = callCount.load(std::memory_order_acquire);
    r.frames = framesSeen.load(std::memory_order_relaxed);
    if (r.calls > 1)
        r.meanGapMs = (double)(lastCallNs.load(std::memory_order_relaxed) - firstCallNs.load(std::memory_order_relaxed)) /
                      1e6 / (double)(r.calls - 1);
    r.worstGapMs = (double)worstGapNs.load(std::memory_order_relaxed) / 1e6;
    r.worstLateMs = (double)worstLateNs.load(std::memory_order_relaxed) / 1e6;
    r.priority = priorityState.load(std::memory_order_relaxed);
    r.memory = memoryState.load(std::memory_order_relaxed);
    return r;
}

#if defined(__linux__)
// What the sound thread runs through on every call: the program itself (the
// engine's code and tables, raylib's mixer, the sound backend's state), the
// sound server's client library and the C and maths libraries under them.
static bool soundPathObject(const char *name)
{
    if (!name || !name[0]) return true;   // the program is the entry without a name
    const char *base = std::strrchr(name, '/');
    base = base ? base + 1 : name;
    for (const char *prefix : {"libpulse.so", "libpulsecommon", "libc.so", "libm.so"})
        if (std::strncmp(base, prefix, std::strlen(prefix)) == 0) return true;
    return false;
}

struct LockCount { int locked, failed; };

static int lockObject(dl_phdr_info *info, size_t, void *data)
{
    if (!soundPathObject(info->dlpi_name)) return 0;
    LockCount &count = *(LockCount *)data;
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || ph.p_memsz == 0) continue;
        if (mlock((const void *)(info->dlpi_addr + ph.p_vaddr), ph.p_memsz) == 0) count.locked++;
        else count.failed++;
    }
    return 0;
}
#endif

int lockSoundMemory()
{
    int state = MEMORY_UNLOCKED;
#if defined(__linux__)
    // Everything the sound path needs is loaded by now. Under memory pressure
    // the kernel drops pages of code and reads them again from disk when they
    // are next run: a sound thread that met one such page while the disk is
    // busy writing would wait for the disk, and the sound would stop. Locked
    // pages stay. Only the sound path is locked, not the renderer's libraries
    // (hundreds of megabytes), so a desktop's usual limit on locked memory
    // is enough; where it is not, what could be locked stays locked.
    LockCount count{0, 0};
    dl_iterate_phdr(lockObject, &count);
    state = count.failed == 0 && count.locked > 0 ? MEMORY_LOCKED : count.locked > 0 ? MEMORY_PARTLY_LOCKED : MEMORY_UNLOCKED;
#endif
    memoryState.store(state, std::memory_order_relaxed);
    return state;
}
