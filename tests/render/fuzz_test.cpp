// mirl-render fed what a careless or hostile user might hand it: random bytes,
// broken and mutated scripts, absurd numbers, huge lines, missing files, a disk
// that fills up. Whatever comes in, it ends on its own within seconds with 0, 1
// or 2, says nothing through the sanitizers, and leaves either a whole WAV or none.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>
#include "tools/harness/desktop.h"

namespace {

using desk::Rng;

const char *const WORDS[] = {"0", "1", "-1", "-0", "+1", "7", "12", "13", "19", "20", "21", "45", "46", "127", "128", "144",
                             "252", "255", "256", "1000", "3600000", "3600001", "2147483647", "2147483648", "4294967296",
                             "9223372036854775807", "999999999999999999", "99999999999999999999999", "1e999", "-1e999",
                             "nan", "NaN", "-nan", "inf", "-inf", "infinity", "0x1p3", "1e-45", "3.4e38", "0.5", "1.", ".5",
                             "1,5", "0.5.5", "\xd9\xa3", "\xff\xfe", "#", "on", "off", "raw", "knob", "patch", "unpatch", "end"};
const char *const COMMANDS[] = {"knob", "patch", "unpatch", "on", "off", "raw", "end", "wobble", "ON", ""};
const char *const SEEDS[] = {
    "0 on 69 100\n# held for the whole file\n\n1001 end\n",
    "0 knob 11 0\n0 on 60 100\n0 on 64 90\n300 off 60\n300 raw 144 64 0\n500 end\n",
    "0 knob 7 0.8\n0 patch 13 14\n0 patch 19 17\n0 knob 12 0.9\n0 on 50 100\n0 on 62 100\n100 unpatch 14\n800 end\n",
    "0 knob 20 1\n0 knob 10 1\n0 knob 2 1\n0 on 40 127\n0 on 41 127\n10 raw 252 0 0\n20 raw 176 1 127\n400 end\n",
};

std::string word(Rng &r) { return WORDS[r.below(sizeof WORDS / sizeof *WORDS)]; }

// A script of the right shape: in tame ones every line could be right (a knob id may still name a
// jack), in wild ones commands, argument counts and numbers go wrong too.
std::string grammarScript(Rng &r)
{
    bool wild = r.chance(50);
    std::string s;
    long t = 0;
    for (size_t n = 1 + r.below(40); n > 0; n--) {
        t += r.chance(60) ? 0 : (long)r.below(120);
        s += !wild || r.chance(90) ? std::to_string(t) : word(r);
        std::string cmd = !wild || r.chance(90) ? COMMANDS[r.below(6)] : r.chance(50) ? COMMANDS[6 + r.below(4)] : word(r);
        s += " " + cmd;
        size_t args = cmd == "raw" ? 3 : cmd == "off" || cmd == "unpatch" ? 1 : 2;
        for (size_t k = !wild || r.chance(85) ? args : r.below(5); k > 0; k--) {
            if (wild && r.chance(30)) s += " " + word(r);
            else if (wild && r.chance(30)) s += " " + std::to_string((long)r.below(5) - 1 + (r.chance(50) ? 45 : 255));   // just in and out of range
            else if (cmd == "knob" && k == 1) s += " " + std::to_string((double)r.below(3000) / 1000.0 - 1.0);
            else if (cmd == "knob") s += " " + std::to_string(r.chance(80) ? 1 + r.below(12) : 20);
            else s += " " + std::to_string(r.below(cmd == "patch" || cmd == "unpatch" ? 46 : 256));
        }
        s += r.chance(10) ? " # " + word(r) + "\n" : r.chance(5) ? "\r\n" : "\n";
    }
    if (!wild || r.chance(90)) s += std::to_string(t + (long)r.below(600)) + " end\n";
    return s;
}

// One of the good scripts, damaged a few times over.
std::string mutatedScript(Rng &r)
{
    std::string s = SEEDS[r.below(sizeof SEEDS / sizeof *SEEDS)];
    for (size_t n = 1 + r.below(6); n > 0 && !s.empty(); n--) {
        size_t at = r.below(s.size());
        switch (r.below(7)) {
        case 0: s[at] = (char)r.below(256); break;                                  // one byte changed
        case 1: s.erase(at, 1 + r.below(12)); break;                                // a few bytes gone
        case 2: s.insert(at, 1, " \n#0123456789.-e"[r.below(16)]); break;           // one plausible byte more
        case 3: s.resize(at); break;                                                // cut off mid-line
        case 4: {                                                                   // a number swapped for an odd one
            size_t end = s.find_first_of(" \n", at);
            s.replace(at, end == std::string::npos ? std::string::npos : end - at, word(r));
            break;
        }
        case 5: {                                                                   // a line said twice
            size_t b = s.rfind('\n', at), e = s.find('\n', at);
            b = b == std::string::npos ? 0 : b + 1;
            s.insert(b, s.substr(b, e == std::string::npos ? std::string::npos : e + 1 - b));
            break;
        }
        default: s.insert(at, "\n" + std::to_string(r.below(2000)) + " " + COMMANDS[r.below(7)] + " 60 100\n"); break;
        }
    }
    return s;
}

// Random bytes, mostly of the kinds a script is made of.
std::string randomBytes(Rng &r)
{
    std::string s;
    for (size_t n = r.below(3000); n > 0; n--) s += r.chance(70) ? "0123456789 \n\t.-#endonraw"[r.below(25)] : (char)r.below(256);
    return s;
}

// Sizes no hand-written script has: very long lines and words, and more notes at one moment than the queue holds.
std::string hugeScript(Rng &r)
{
    switch (r.below(4)) {
    case 0: return "0 on 60 100" + std::string(200000 + r.below(100000), ' ') + "\n100 end\n";
    case 1: return "0 on 60 " + std::string(100000, '1') + "\n100 end\n";
    case 2: return std::string(300000, '#') + "\n" + std::string(300000, '\n') + "5 end\n";
    default: {
        std::string s;
        for (int i = 0; i < 3000; i++) s += "0 " + std::string(i % 2 ? "off " : "on ") + std::to_string(i % 128) + (i % 2 ? "\n" : " 9\n");
        return s + (r.chance(50) ? "" : "0 raw 300 1 2\n") + "50 end\n";
    }
    }
}

struct Case {
    std::vector<std::string> argv;   // after the program's path; SCRIPT and OUT stand for the two files
    std::string script;              // written to SCRIPT unless noScript
    bool noScript = false;
    long fileLimit = 0;              // largest file the run may write, bytes (0: no limit)
    int wantStatus = -1;             // when one status is the only right answer
    const char *says = "";           // and what the message must say
};

struct Child {
    pid_t pid = -1;
    std::chrono::steady_clock::time_point start;
    std::string base;
    size_t index = 0;
};

const char *const RENDER = MIRL_BINARY_DIR "/tools/render/mirl-render";

Child launch(const Case &c, size_t index, const std::string &dir)
{
    Child run{-1, std::chrono::steady_clock::now(), dir + "/" + std::to_string(index), index};
    if (!c.noScript) std::ofstream(run.base + ".txt", std::ios::binary) << c.script;
    std::vector<std::string> args = {RENDER};
    for (const std::string &a : c.argv) args.push_back(a == "SCRIPT" ? run.base + ".txt" : a == "OUT" ? run.base + ".wav" : a);
    run.pid = fork();
    if (run.pid == 0) {
        FILE *out = std::freopen((run.base + ".err").c_str(), "w", stderr);
        if (!out || dup2(fileno(stderr), 1) < 0) _exit(126);
        if (c.fileLimit) {   // a full disk: writes past the limit fail with EFBIG instead of killing the program
            signal(SIGXFSZ, SIG_IGN);
            rlimit lim{(rlim_t)c.fileLimit, (rlim_t)c.fileLimit};
            setrlimit(RLIMIT_FSIZE, &lim);
        }
        std::vector<char *> p;
        for (std::string &a : args) p.push_back(a.data());
        p.push_back(nullptr);
        execv(RENDER, p.data());
        _exit(127);
    }
    return run;
}

// The whole verdict on one finished run; empty when it behaved.
std::string judge(const Case &c, const Child &run, int raw)
{
    std::string errors = desk::readFile(run.base + ".err"), wav = run.base + ".wav", why;
    if (errors.find("Sanitizer") != std::string::npos || errors.find("runtime error") != std::string::npos)
        why += "sanitizer report; ";
    if (!WIFEXITED(raw)) return why + "killed by signal " + std::to_string(WTERMSIG(raw));
    int status = WEXITSTATUS(raw);
    if (status > 2 || (c.wantStatus >= 0 && status != c.wantStatus)) why += "exit status " + std::to_string(status) + "; ";
    if (errors.find(c.says) == std::string::npos) why += std::string("no \"") + c.says + "\"; ";
    if (status != 0) {
        if (access(wav.c_str(), F_OK) == 0) why += "left a file behind; ";
        if (errors.find("mirl-render: ") == std::string::npos && errors.find("usage: mirl-render") == std::string::npos)
            why += "no message; ";
    } else {
        SF_INFO info{};
        SNDFILE *f = sf_open(wav.c_str(), SFM_READ, &info);
        if (!f) return why + "no readable WAV";
        std::vector<float> x((size_t)info.frames + 1);
        sf_count_t got = sf_readf_float(f, x.data(), info.frames + 1);
        sf_close(f);
        if (got != info.frames || info.channels != 1 || info.samplerate != 44100) why += "incomplete WAV; ";
        for (sf_count_t i = 0; i < got; i++)
            if (!(std::fabs(x[(size_t)i]) <= 1.0f)) {
                why += "sample " + std::to_string(x[(size_t)i]) + " at " + std::to_string(i) + "; ";
                break;
            }
    }
    return why.empty() ? why : why + "\n" + errors.substr(0, 600);
}

std::vector<Case> cases(size_t count)
{
    std::vector<Case> all = {
        {{"SCRIPT", "OUT"}, "", false, 0, 2, "no end line"},                       // an empty file
        {{"SCRIPT", "OUT"}, "", true, 0, 2, "cannot read script"},                 // no file at all
        {{"/tmp", "OUT"}, "", true, 0, 2, "cannot read script /tmp"},              // a folder
        {{"SCRIPT", "/nonexistent-dir/x.wav"}, "0 on 60 1\n10 end\n", false, 0, 1, "cannot write"},
        {{"SCRIPT", "/tmp"}, "0 on 60 1\n10 end\n", false, 0, 1, "cannot write"},
        {{"SCRIPT", "OUT"}, "0 on 60 100\n2000 end\n", false, 64 * 1024, 1, "cannot write"},   // the disk fills up
        {{"SCRIPT", "OUT"}, "0 on 60 100\n2147483647 end\n", false, 0, 2, ":2: bad time"},
        {{"SCRIPT", "OUT"}, "0 on 60 100\n3600001 end\n", false, 0, 2, ":2: bad time"},
        {{"SCRIPT", "OUT"}, "-1 end\n", false, 0, 2, ":1: bad time"},
        {{"SCRIPT", "OUT"}, "0 knob 1 nan\n0 end\n", false, 0, 2, ":1: bad number"},
        {{"SCRIPT", "OUT"}, "0 knob 1 -inf\n0 end\n", false, 0, 2, ":1: bad number"},
        {{"SCRIPT", "OUT"}, "0 knob 1 1e999\n0 end\n", false, 0, 2, ":1: bad number"},
        {{}, "", true, 0, 2, "usage"},
        {{"SCRIPT"}, "0 end\n", false, 0, 2, "usage"},
        {{"SCRIPT", "OUT", "extra"}, "0 end\n", false, 0, 2, "usage"},
        {{"--frames"}, "", true, 0, 2, "usage"},
        {{"--frames", "0", "SCRIPT", "OUT"}, "0 end\n", false, 0, 2, "--frames needs"},
        {{"--frames", "1048577", "SCRIPT", "OUT"}, "0 end\n", false, 0, 2, "--frames needs"},
        {{"--frames", "1048576", "SCRIPT", "OUT"}, "0 on 60 100\n0 on 90 127\n3000 end\n", false, 0, 0},
    };
    Rng r{20261208};
    const char *frames[] = {"1", "3", "511", "4096", "1048576", "-5", "nan", "", "99999999999999999999"};
    while (all.size() < count) {
        Case c{{"SCRIPT", "OUT"}, ""};
        switch (all.size() % 8) {
        case 0: case 1: c.script = randomBytes(r); break;
        case 2: case 3: case 4: c.script = grammarScript(r); break;
        case 5: case 6: c.script = mutatedScript(r); break;
        default: c.script = r.chance(40) ? hugeScript(r) : mutatedScript(r); break;
        }
        if (r.chance(8)) c.argv.insert(c.argv.begin(), {"--frames", frames[r.below(sizeof frames / sizeof *frames)]});
        all.push_back(c);
    }
    return all;
}

TEST(RenderFuzz, AnyScriptEndsQuicklyWithAStatusAndAWholeWavOrNone)
{
    // MIRL_FUZZ_CASES runs more (or fewer) of the same seeded sequence.
    const char *env = std::getenv("MIRL_FUZZ_CASES");
    std::vector<Case> all = cases(env ? (size_t)std::atol(env) : 500);
    std::string dir = desk::tempDir("fuzz");
    const double TIMEOUT = 30;   // seconds; a correct run of the longest case takes well under one
    std::vector<Child> running;
    size_t next = 0, failures = 0, byStatus[3] = {0, 0, 0};
    while (next < all.size() || !running.empty()) {
        while (running.size() < 2 && next < all.size()) running.push_back(launch(all[next], next, dir)), next++;
        for (size_t i = 0; i < running.size();) {
            Child &run = running[i];
            int raw = 0;
            pid_t got = waitpid(run.pid, &raw, WNOHANG);
            double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - run.start).count();
            if (got == 0 && took < TIMEOUT) {
                i++;
                continue;
            }
            std::string why;
            if (got == 0) kill(run.pid, SIGKILL), waitpid(run.pid, &raw, 0), why = "still running after " + std::to_string(TIMEOUT) + " s";
            else why = judge(all[run.index], run, raw);
            if (why.empty() && WEXITSTATUS(raw) <= 2) byStatus[WEXITSTATUS(raw)]++;
            if (!why.empty() && ++failures <= 10)
                ADD_FAILURE() << "case " << run.index << ": " << why << "\nscript (first 300 bytes): "
                              << all[run.index].script.substr(0, 300);
            for (const char *ext : {".txt", ".wav", ".err"}) std::remove((run.base + ext).c_str());
            running.erase(running.begin() + (long)i);
        }
        usleep(2000);
    }
    rmdir(dir.c_str());
    std::printf("%zu scripts: %zu rendered, %zu unwritable, %zu refused\n", all.size(), byStatus[0], byStatus[1], byStatus[2]);
    EXPECT_EQ(failures, 0u);
    // The mix must reach every outcome, or the fuzz has stopped testing the renderer.
    EXPECT_TRUE(byStatus[0] > all.size() / 20 && byStatus[2] > all.size() / 4 && byStatus[1] >= 3)
        << byStatus[0] << " rendered, " << byStatus[1] << " unwritable, " << byStatus[2] << " refused";
}

}  // namespace
