// A desktop under load, beside the program being measured: more copies of the
// program redrawing on displays of their own, and a disk writer. What breaks
// sound on a small machine is not only busy processors: the kernel's own work
// of writing a big file out (which a build or a download does) keeps cores
// from threads that wait for them.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>
#include "tools/harness/desktop.h"
#include "tools/harness/face.h"

namespace desk {

struct Load {
    std::vector<Display> displays;
    std::vector<Mirl> faces;
    std::vector<std::thread> workers;
    std::atomic<bool> done{false};
    std::atomic<long> writtenMb{0};
    std::string diskDir;
};

// Help mode on, the pointer over six controls so their tooltips are drawn,
// any click to end help mode, again and again.
static void toggleHelp(Load *load, const Display &d, const Window &w)
{
    for (int step = 0; !load->done;) {
        mouseMove(d, w, 24, w.height - 22);
        run({"xdotool", "mousedown", "1", "mouseup", "1"}, {d.env()});
        for (int i = 0; i < 6 && !load->done; i++, step++) {
            Vector2 p = face::controlScreen(KNOB_TUNE + step % 20, w.width);
            mouseMove(d, w, (int)p.x, (int)p.y);
        }
        run({"xdotool", "mousedown", "3", "mouseup", "3"}, {d.env()});
        sleepFor(0.2);
    }
}

// Writes a file of 1.5 GB and flushes it to disk, over and over: the page
// cache fills, the kernel's writeback runs flat out.
static void writeDisk(Load *load)
{
    std::string file = load->diskDir + "/fill";
    while (!load->done) {
        Process dd = spawn({"dd", "if=/dev/zero", "of=" + file, "bs=1M", "count=1500", "conv=fsync"}, {}, "",
                           load->diskDir + "/dd.log");
        while (!load->done && !waitExit(dd, 0.2)) {}
        stop(dd);
        if (dd.exited && dd.exitCode == 0) load->writtenMb += 1500;
        unlink(file.c_str());
    }
}

Load *startLoad(int faces, bool diskWriter)
{
    Load *load = new Load;
    load->faces.reserve(faces);
    load->displays.reserve(faces);
    for (int i = 0; i < faces; i++) {
        load->displays.push_back(startDisplay(1280, 1024));
        load->faces.push_back(startMirl(load->displays.back(), {"PULSE_SERVER=unix:/nonexistent/native"}));
    }
    for (int i = 0; i < faces; i++)
        if (load->faces[i].ok) load->workers.emplace_back(toggleHelp, load, load->displays[i], load->faces[i].window);
    if (diskWriter) {
        // On the disk, not in memory: /tmp may be a memory file system.
        char tmpl[] = "/var/tmp/mirl-load-XXXXXX";
        load->diskDir = mkdtemp(tmpl) ? tmpl : "/var/tmp";
        load->workers.emplace_back(writeDisk, load);
    }
    return load;
}

bool loadRunning(const Load *load)
{
    for (const Mirl &m : load->faces)
        if (!m.ok) return false;
    return true;
}

long loadWrittenMb(const Load *load) { return load->writtenMb; }

long stopLoad(Load *load)
{
    load->done = true;
    for (std::thread &t : load->workers) t.join();
    for (size_t i = 0; i < load->faces.size(); i++) {
        if (load->faces[i].ok) closeMirl(load->displays[i], load->faces[i]);
        stop(load->faces[i].proc), stopDisplay(load->displays[i]);
    }
    if (!load->diskDir.empty() && load->diskDir != "/var/tmp") std::filesystem::remove_all(load->diskDir);
    long written = load->writtenMb;
    delete load;
    return written;
}

// The host's and all processor time so far, in clock ticks.
static void hostTicks(long long *stolen, long long *all)
{
    std::istringstream in(readFile("/proc/stat"));
    std::string cpu;
    long long v[8] = {};
    in >> cpu;
    for (long long &x : v) in >> x;
    *stolen = v[7], *all = 0;
    for (long long x : v) *all += x;
}

struct HostWatch {
    long long stolen, all;
    std::atomic<bool> done{false};
    std::vector<double> longestStop;  // one a witness, each written by its own thread
    std::vector<std::thread> witnesses;
};

// One witness a processor, held to it: the kernel can keep one processor
// from everything else for milliseconds (writing back a disk writer's pages, for
// one), and a thread woken there waits while the other processor runs on.
HostWatch *watchHost()
{
    HostWatch *w = new HostWatch;
    hostTicks(&w->stolen, &w->all);
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) == 0) CPU_SET(0, &allowed);
    w->longestStop.assign(CPU_COUNT(&allowed), 0);
    for (int cpu = 0, k = 0; cpu < CPU_SETSIZE; cpu++) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        w->witnesses.emplace_back([w, cpu, &longest = w->longestStop[k++]] {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            pthread_setaffinity_np(pthread_self(), sizeof one, &one);
            sched_param rt{};
            rt.sched_priority = 90;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &rt);  // refused without the right: then ordinary
            double last = now();
            while (!w->done.load()) {
                sleepFor(0.001);
                double t = now();
                longest = std::max(longest, t - last);
                last = t;
            }
        });
    }
    return w;
}

HostTook stopWatchingHost(HostWatch *w)
{
    w->done = true;
    for (std::thread &t : w->witnesses) t.join();
    long long stolen, all;
    hostTicks(&stolen, &all);
    HostTook took{100.0 * (double)(stolen - w->stolen) / (double)std::max(1LL, all - w->all), 1000 * *std::max_element(w->longestStop.begin(), w->longestStop.end())};
    delete w;
    return took;
}

Gaps countGaps(const std::vector<float> &x, size_t from, size_t to)
{
    Gaps g{0, 0};
    size_t run = 0;
    for (size_t i = from; i < to && i < x.size(); i++) {
        run = x[i] == 0.0f ? run + 1 : 0;
        g.count += run == GAP_SAMPLES;
        if (run > g.longest) g.longest = run;
    }
    return g;
}

}  // namespace desk
