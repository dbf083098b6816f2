// What the play tests hear in a recording: the pitch from the time between
// rising zero crossings, which a dropout or a lost stretch of the recording
// disturbs only where it falls, not the whole run as a spectrum would be.
#pragma once
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

// Checks that a dropout can spoil. When the host stopped the processors
// during the take (desk::HostTook::spoils), a failed one says nothing about
// the program and the test is skipped with what failed; otherwise it fails.
struct Listening {
    bool hostBusy;
    std::string spoiled;
    void check(bool ok, const std::string &what)
    {
        if (ok) return;
        if (hostBusy) spoiled += "\n  " + what;
        else ADD_FAILURE() << what;
    }
    void verdict()
    {
        if (!spoiled.empty()) GTEST_SKIP() << "the host took the processors away; spoiled:" << spoiled;
    }
};

// The stretches of x in [from, to) that hold no dropout, as [begin, end)
// pairs. A dropout is what the sound server plays when a stream's data comes
// late: a run of exact silence, here 16 samples or more. On a virtual machine
// the host can stop every thread at once for longer than any stream's buffer
// (a real-time thread that sleeps 1 ms, beside two busy loops, was measured
// missing 152 ms), so a test of pitch or of a spectrum listens between dropouts;
// whether the sound holds is the realtime test's business.
inline std::vector<std::pair<size_t, size_t>> cleanStretches(const std::vector<float> &x, size_t from, size_t to)
{
    std::vector<std::pair<size_t, size_t>> out;
    to = std::min(to, x.size());
    size_t begin = from, run = 0;
    for (size_t i = from; i < to; i++) {
        run = x[i] == 0.0f ? run + 1 : 0;
        if (run == 16) {
            if (i + 1 - run > begin) out.push_back({begin, i + 1 - run});
            begin = to;
        }
        if (run == 0 && begin == to) begin = i;
    }
    if (begin < to && run < 16) out.push_back({begin, to});
    return out;
}

// The longest stretch of [from, to) without a dropout.
inline std::pair<size_t, size_t> longestClean(const std::vector<float> &x, size_t from, size_t to)
{
    std::pair<size_t, size_t> best{from, from};
    for (const auto &s : cleanStretches(x, from, to))
        if (s.second - s.first > best.second - best.first) best = s;
    return best;
}

// Medians of the period (between rising zero crossings, interpolated) over runs of eight.
inline std::vector<double> localPeriods(const std::vector<float> &x, size_t from, size_t to)
{
    std::vector<double> cross, out;
    to = std::min(to, x.size());
    for (size_t i = from + 1; i < to; i++)
        if (x[i - 1] < 0 && x[i] >= 0 && (cross.empty() || i - cross.back() > 20))
            cross.push_back((double)(i - 1) - x[i - 1] / (double)(x[i] - x[i - 1]));
    for (size_t i = 8; i < cross.size(); i += 8) {
        std::vector<double> p;
        for (size_t k = i - 7; k <= i; k++) p.push_back(cross[k] - cross[k - 1]);
        std::nth_element(p.begin(), p.begin() + 4, p.end());
        out.push_back(p[4]);
    }
    if (out.empty()) out.push_back(0);  // nothing heard
    return out;
}

// The period the runs in [from, to) agree on.
inline double medianPeriod(const std::vector<float> &x, size_t from, size_t to)
{
    std::vector<double> p = localPeriods(x, from, to);
    std::nth_element(p.begin(), p.begin() + (long)(p.size() / 2), p.end());
    return p[p.size() / 2];
}
