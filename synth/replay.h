// Period replay, part of the fast path. With its inputs unchanged (frequency,
// shape, fold, cutoff, resonance), a voice's filter is a fixed function of its
// state and the phase counter. So when a whole period has been recorded and the
// state at the next period start equals the recorded start state bit for bit,
// every following sample is an exact repeat, and is read back instead of
// computed. Replay is used only in frames where every sounding voice can
// replay; otherwise all lanes compute from the recorded state, which gives the
// same numbers again.
#pragma once
#include "synth/blocks.h"

enum { LOOP_MAX = 2048 };   // longest period recorded, samples

// The eight state values of one filter lane (no coefficients).
struct LaneState {
    float y1, y2, y3, y4, x1, y1old, y2old, y3old;
};

// The bit patterns of a voice's frequency, shape, fold, cutoff and resonance.
struct LoopKey {
    uint32_t bits[5];
};

// The samples of one recorded period, kept apart from the small, hot part of the recording.
struct Tape {
    float y[LOOP_MAX];               // the filter output at each phase
    LaneState states[LOOP_MAX];      // the filter state after each phase
};

// One voice's recorded period.
struct Recording {
    LoopKey key;
    int32_t period;   // samples per period, 0 when too long to record
    int32_t count;    // samples recorded in order from phase 0, -1 when not recording
    bool replay;
    int32_t lastN;    // phase of the last sample played in replay
    LaneState start;  // state before phase 0 of the recorded period
    Tape *tape;       // the period's samples
};

SYNTH_INLINE LaneState laneState(const FilterBank &b, int j)
{
    return {b.y1[j], b.y2[j], b.y3[j], b.y4[j], b.x1[j], b.y1old[j], b.y2old[j], b.y3old[j]};
}

SYNTH_INLINE void setLaneState(FilterBank &b, int j, const LaneState &s)
{
    b.y1[j] = s.y1, b.y2[j] = s.y2, b.y3[j] = s.y3, b.y4[j] = s.y4;
    b.x1[j] = s.x1, b.y1old[j] = s.y1old, b.y2old[j] = s.y2old, b.y3old[j] = s.y3old;
}

// Drops the recording; the next key never matches the old one.
inline void forgetRecording(Recording &rec)
{
    rec.replay = false;
    rec.count = -1;
    rec.key.bits[0] = rec.key.bits[1] = 0xFFFFFFFFu;   // a NaN pattern no input carries
}

// The phase that follows the last one replayed.
SYNTH_INLINE int32_t nextReplayPhase(const Recording &rec) { return rec.lastN + 1 == rec.period ? 0 : rec.lastN + 1; }

// Checks lane j's inputs against its recording; true when phase n can be replayed.
SYNTH_INLINE bool loopFollows(Recording &rec, FilterBank &b, int j, const LoopKey &key, double period, int32_t n)
{
    if (std::memcmp(&key, &rec.key, sizeof key) != 0) {
        if (rec.replay) setLaneState(b, j, rec.tape->states[rec.lastN]);
        rec.key = key;
        rec.replay = false;
        rec.count = -1;
        rec.period = period >= 1.0 && period <= (double)LOOP_MAX ? (int32_t)period : 0;
        return false;
    }
    return rec.replay && n == nextReplayPhase(rec);
}

// Before a computed sample: bring a replaying lane's state up to date, and at
// phase 0 either start replay (the state has come round exactly) or recording.
SYNTH_INLINE void loopBeforeFilter(Recording &rec, FilterBank &b, int j, int32_t n)
{
    if (rec.replay) {
        setLaneState(b, j, rec.tape->states[rec.lastN]);
        if (n != nextReplayPhase(rec)) rec.replay = false, rec.count = -1;
        else return;
    }
    if (n != 0 || rec.period == 0) return;
    LaneState pre = laneState(b, j);
    if (rec.count == rec.period && std::memcmp(&pre, &rec.start, sizeof pre) == 0) {
        rec.replay = true;
    } else {
        rec.start = pre;
        rec.count = 0;
    }
}

// After a computed sample: record it, or note where replay stands.
SYNTH_INLINE void loopAfterFilter(Recording &rec, const FilterBank &b, int j, int32_t n, float y)
{
    if (rec.replay) {
        rec.lastN = n;
    } else if (rec.count >= 0 && rec.count == n && n < rec.period) {
        rec.tape->y[n] = y;
        rec.tape->states[n] = laneState(b, j);
        rec.count++;
    } else {
        rec.count = -1;
    }
}

// The recorded output at phase n, played back.
SYNTH_INLINE float replayed(Recording &rec, int32_t n)
{
    rec.lastN = n;
    return rec.tape->y[n];
}

// A replaying lane's state stands where its replay began; brings it up to date.
SYNTH_INLINE void catchUpReplay(const Recording &rec, FilterBank &b, int j)
{
    if (rec.replay) setLaneState(b, j, rec.tape->states[rec.lastN]);
}
