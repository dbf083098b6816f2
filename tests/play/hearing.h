// What the play tests hear in a recording: the pitch from the time between
// rising zero crossings, which a dropout or a lost stretch of the recording
// disturbs only where it falls, not the whole run as a spectrum would be.
#pragma once
#include <algorithm>
#include <vector>

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
