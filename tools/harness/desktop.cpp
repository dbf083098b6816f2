// Real desktop pieces for end-to-end tests and benchmarks: Xvfb, PulseAudio, xdotool, Xlib.
#include "tools/harness/desktop.h"
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace desk {

double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void sleepFor(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

Process spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
              const std::string &cwd, const std::string &outFile)
{
    Process p;
    p.outFile = outFile;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // A test that dies must not leave servers and programs running behind it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (const std::string &e : env) putenv(strdup(e.c_str()));
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        int fd = open(outFile.empty() ? "/dev/null" : outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) dup2(in, 0);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    p.pid = pid;
    return p;
}

bool waitExit(Process &p, double seconds)
{
    if (p.exited) return true;
    if (p.pid <= 0) return false;
    double end = now() + seconds;
    do {
        int status = 0;
        pid_t r = waitpid(p.pid, &status, WNOHANG);
        if (r == p.pid) {
            p.exited = true;
            p.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }
        sleepFor(0.02);
    } while (now() < end);
    return false;
}

void stop(Process &p)
{
    if (p.pid <= 0 || p.exited) return;
    kill(-p.pid, SIGTERM);
    kill(p.pid, SIGTERM);
    if (!waitExit(p, 3)) {
        kill(-p.pid, SIGKILL);
        kill(p.pid, SIGKILL);
        waitExit(p, 3);
    }
}

int run(const std::vector<std::string> &argv, const std::vector<std::string> &env)
{
    Process p = spawn(argv, env, "", "");
    waitExit(p, 60);
    if (!p.exited) stop(p);
    return p.exitCode;
}

std::string readFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string tempDir(const std::string &tag)
{
    std::string tmpl = "/tmp/mirl-" + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    char *d = mkdtemp(buf.data());
    return d ? d : "/tmp";
}

Display startDisplay(int width, int height, const std::vector<std::string> &serverArgs)
{
    Display d;
    for (int n = 90 + (getpid() % 200); n < 1000; n++) {
        std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
        if (access(lock.c_str(), F_OK) == 0 || access(sock.c_str(), F_OK) == 0) continue;
        d.number = n;
        std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        std::vector<std::string> argv = {"Xvfb", d.name(), "-screen", "0", screen, "-nolisten", "tcp", "-noreset"};
        argv.insert(argv.end(), serverArgs.begin(), serverArgs.end());
        d.server = spawn(argv, {}, "", tempDir("xvfb") + "/xvfb.log");
        double end = now() + 10;
        while (now() < end) {
            if (access(sock.c_str(), F_OK) == 0) {
                ::Display *x = XOpenDisplay(d.name().c_str());
                if (x) {
                    XCloseDisplay(x);
                    return d;
                }
            }
            if (waitExit(d.server, 0.05)) break;  // lost a race for this number
        }
        stop(d.server);
    }
    d.number = -1;
    return d;
}

void stopDisplay(Display &d) { stop(d.server); }

std::vector<std::string> Sound::env() const
{
    return {"PULSE_RUNTIME_PATH=" + runtimeDir, "XDG_RUNTIME_DIR=" + runtimeDir, "PULSE_SERVER=unix:" + runtimeDir + "/native"};
}

Sound startSound(int rate)
{
    Sound s;
    s.runtimeDir = tempDir("pulse");
    chmod(s.runtimeDir.c_str(), 0700);
    std::vector<std::string> env = s.env();
    env.push_back("HOME=" + s.runtimeDir);
    s.server = spawn({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--disallow-exit",
                      "--use-pid-file=no", "--disable-shm=yes", "--realtime=yes", "--high-priority=yes",
                      "--load=module-null-sink sink_name=mirl format=float32le rate=" + std::to_string(rate),
                      "--load=module-native-protocol-unix auth-anonymous=1 socket=" + s.runtimeDir + "/native"},
                     env, "", s.runtimeDir + "/server.log");
    double end = now() + 15;
    while (now() < end) {
        if (run({"pactl", "info"}, env) == 0) {
            // The server's sink thread already runs at real-time priority; its
            // main thread, which moves each stream's data from the client to
            // the sink, gets the same, as a desktop's sound graph runs. Without
            // it the software renderer's threads on both cores starve the
            // server, and its few milliseconds of buffer run dry.
            sched_param rt{};
            rt.sched_priority = 5;
            sched_setscheduler(s.server.pid, SCHED_FIFO, &rt);
            run({"pactl", "set-sink-volume", "mirl", "100%"}, env);
            run({"pactl", "set-default-sink", "mirl"}, env);
            return s;
        }
        if (waitExit(s.server, 0.1)) break;
    }
    return s;
}

void stopSound(Sound &s) { stop(s.server); }

Process startRecording(const Sound &s, const std::string &wavPath, int rate)
{
    return spawn({"parec", "-d", "mirl.monitor", "--file-format=wav", "--format=float32le", "--channels=1",
                  "--rate=" + std::to_string(rate), "--latency-msec=20", wavPath},
                 s.env(), "", wavPath + ".log");
}

void stopRecording(Process &rec)
{
    if (rec.pid <= 0 || rec.exited) return;
    kill(rec.pid, SIGINT);
    if (!waitExit(rec, 5)) stop(rec);
}

std::vector<float> readWav(const std::string &path, int *rate)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> out;
    if (!f) return out;
    // parec may leave the length fields unset when stopped; read what is there.
    std::vector<float> buf(4096 * (info.channels > 0 ? info.channels : 1));
    sf_count_t n;
    while ((n = sf_readf_float(f, buf.data(), 4096)) > 0)
        for (sf_count_t i = 0; i < n; i++) out.push_back(buf[i * info.channels]);
    if (rate) *rate = info.samplerate;
    sf_close(f);
    return out;
}

std::string mirlPath() { return std::string(MIRL_BINARY_DIR) + "/mirl"; }
std::string sourceDir() { return MIRL_SOURCE_DIR; }

static std::string windowTitle(::Display *x, ::Window w)
{
    char *name = nullptr;
    std::string title;
    if (XFetchName(x, w, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

static int ignoreXErrors(::Display *, XErrorEvent *) { return 0; }

bool findWindow(const Display &d, const std::string &title, int minSide, double seconds, Window *out)
{
    ::Display *x = XOpenDisplay(d.name().c_str());
    if (!x) return false;
    XSetErrorHandler(ignoreXErrors);
    double end = now() + seconds;
    bool found = false;
    while (!found && now() < end) {
        ::Window root = DefaultRootWindow(x), parent, *kids = nullptr;
        unsigned int n = 0;
        if (XQueryTree(x, root, &root, &parent, &kids, &n)) {
            for (unsigned int i = 0; i < n && !found; i++) {
                XWindowAttributes a;
                if (!XGetWindowAttributes(x, kids[i], &a) || a.map_state != IsViewable) continue;
                if (windowTitle(x, kids[i]) != title || a.width < minSide) continue;
                out->id = kids[i];
                out->x = a.x;
                out->y = a.y;
                out->width = a.width;
                out->height = a.height;
                found = true;
            }
            if (kids) XFree(kids);
        }
        if (!found) sleepFor(0.05);
    }
    XCloseDisplay(x);
    return found;
}

void requestClose(const Display &d, const Window &w)
{
    ::Display *x = XOpenDisplay(d.name().c_str());
    if (!x) return;
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w.id;
    ev.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, w.id, False, NoEventMask, &ev);
    XFlush(x);
    XCloseDisplay(x);
}

std::vector<uint32_t> screenshot(const Display &d, const Window &w)
{
    std::vector<uint32_t> px;
    ::Display *x = XOpenDisplay(d.name().c_str());
    if (!x) return px;
    XImage *img = XGetImage(x, w.id, 0, 0, w.width, w.height, AllPlanes, ZPixmap);
    if (img) {
        px.resize(static_cast<size_t>(w.width) * w.height);
        for (int yy = 0; yy < w.height; yy++)
            for (int xx = 0; xx < w.width; xx++) px[yy * w.width + xx] = XGetPixel(img, xx, yy) & 0xFFFFFF;
        XDestroyImage(img);
    }
    XCloseDisplay(x);
    return px;
}

DamageWatch watchDamage(const Display &d, const Window &w)
{
    DamageWatch watch;
    ::Display *x = XOpenDisplay(d.name().c_str());
    int errorBase = 0;
    if (!x || !XDamageQueryExtension(x, &watch.eventBase, &errorBase)) {
        if (x) XCloseDisplay(x);
        return watch;
    }
    watch.x = x;
    // Raw rectangles: one event for every put, never folded together.
    watch.damage = XDamageCreate(x, w.id, XDamageReportRawRectangles);
    XSync(x, False);
    return watch;
}

DamageSeen takeDamage(DamageWatch &watch, const Window &w)
{
    DamageSeen seen;
    ::Display *x = static_cast<::Display *>(watch.x);
    if (!x) return seen;
    XSync(x, False);
    while (XPending(x)) {
        XEvent ev;
        XNextEvent(x, &ev);
        if (ev.type != watch.eventBase + XDamageNotify) continue;
        const XDamageNotifyEvent &e = *reinterpret_cast<XDamageNotifyEvent *>(&ev);
        seen.puts++;
        seen.pixels += (double)e.area.width * e.area.height;
        seen.whole = seen.whole || (e.area.width >= w.width && e.area.height >= w.height);
        if (watch.lastTime == 0 || e.timestamp >= watch.lastTime + 4) seen.frames++;
        watch.lastTime = e.timestamp;
    }
    return seen;
}

void stopWatching(DamageWatch &watch)
{
    ::Display *x = static_cast<::Display *>(watch.x);
    if (!x) return;
    XDamageDestroy(x, watch.damage);
    XCloseDisplay(x);
    watch.x = nullptr;
}

void mouseMove(const Display &d, const Window &w, int x, int y)
{
    run({"xdotool", "mousemove", std::to_string(w.x + x), std::to_string(w.y + y)}, {d.env()});
}

void mouseMoveBy(const Display &d, int dx, int dy)
{
    run({"xdotool", "mousemove_relative", "--", std::to_string(dx), std::to_string(dy)}, {d.env()});
}

bool mouseLocation(const Display &d, const Window &w, int *x, int *y)
{
    std::string out = tempDir("pointer") + "/where.txt";
    Process p = spawn({"xdotool", "getmouselocation", "--shell"}, {d.env()}, "", out);
    waitExit(p, 10);
    std::string text = readFile(out);
    size_t px = text.find("X="), py = text.find("Y=");
    if (px == std::string::npos || py == std::string::npos) return false;
    *x = std::atoi(text.c_str() + px + 2) - w.x;
    *y = std::atoi(text.c_str() + py + 2) - w.y;
    return true;
}

void mouseDown(const Display &d, int button) { run({"xdotool", "mousedown", std::to_string(button)}, {d.env()}); }
void mouseUp(const Display &d, int button) { run({"xdotool", "mouseup", std::to_string(button)}, {d.env()}); }

void holdKey(const Display &d, const std::string &key, double seconds)
{
    run({"xdotool", "keydown", key}, {d.env()});
    sleepFor(seconds);
    run({"xdotool", "keyup", key}, {d.env()});
}

void keyDown(const Display &d, const std::vector<std::string> &keys)
{
    std::vector<std::string> argv = {"xdotool", "keydown"};
    argv.insert(argv.end(), keys.begin(), keys.end());
    run(argv, {d.env()});
}

void keyUp(const Display &d, const std::vector<std::string> &keys)
{
    std::vector<std::string> argv = {"xdotool", "keyup"};
    argv.insert(argv.end(), keys.begin(), keys.end());
    run(argv, {d.env()});
}

void setKeyboardFocus(const Display &d, unsigned long window)
{
    ::Display *x = XOpenDisplay(d.name().c_str());
    if (!x) return;
    XSetInputFocus(x, window ? window : None, RevertToNone, CurrentTime);
    XSync(x, False);
    XCloseDisplay(x);
}

void setKeyRepeat(const Display &d, bool on)
{
    ::Display *x = XOpenDisplay(d.name().c_str());
    if (!x) return;
    XKeyboardControl control = {};
    control.auto_repeat_mode = on ? AutoRepeatModeOn : AutoRepeatModeOff;
    XChangeKeyboardControl(x, KBAutoRepeatMode, &control);
    XSync(x, False);
    XCloseDisplay(x);
}

Mirl startMirl(const Display &d, const std::vector<std::string> &soundEnv, const std::vector<std::string> &args,
               const std::string &cwd)
{
    Mirl m;
    std::vector<std::string> argv = {mirlPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = soundEnv;
    env.push_back(d.env());
    env.push_back("LIBGL_ALWAYS_SOFTWARE=1");
    // A leak in the program fails the test that started it; only other
    // people's libraries are excused, by name, in the one suppression list.
    env.push_back("ASAN_OPTIONS=detect_leaks=1");
    env.push_back("LSAN_OPTIONS=suppressions=" + sourceDir() + "/tools/harness/leaks.supp:print_suppressions=0");
    m.proc = spawn(argv, env, cwd.empty() ? sourceDir() : cwd, tempDir("mirl") + "/stdout.txt");
    m.ok = findWindow(d, "Mirl", 300, 30, &m.window);
    if (m.ok) {
        // Let the first frames run, then read the place again: the window may be
        // centred on the screen only after it is first mapped.
        sleepFor(0.5);
        findWindow(d, "Mirl", 300, 5, &m.window);
    }
    return m;
}

int closeMirl(const Display &d, Mirl &m, double seconds)
{
    if (m.ok) requestClose(d, m.window);
    if (!waitExit(m.proc, seconds)) {
        stop(m.proc);
        return -1;
    }
    // A sanitizer report (a leak at exit, say) is what a failed exit is about.
    if (m.proc.exitCode != 0) std::fprintf(stderr, "%s", readFile(m.proc.outFile).c_str());
    return m.proc.exitCode;
}

}  // namespace desk
