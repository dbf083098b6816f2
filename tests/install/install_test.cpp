// Mirl installed as a user installs it: into a prefix with cmake --install,
// and from the Debian package unpacked into a root. Started from an empty
// folder on a real X server, each must show the face exactly as the program
// started from the source folder does.
#include <gtest/gtest.h>
#include <filesystem>
#include <set>
#include <string>
#include "tools/harness/desktop.h"

namespace fs = std::filesystem;

namespace {

// Runs a command to its end (packaging may first build what is out of date);
// returns its exit status, and what it printed without the last newline.
int run(const std::vector<std::string> &argv, std::string *printed = nullptr)
{
    std::string file = desk::tempDir("install-cmd") + "/out.txt";
    desk::Process p = desk::spawn(argv, {}, "", file);
    if (!desk::waitExit(p, 900)) desk::stop(p);
    std::string text = desk::readFile(file);
    if (printed) *printed = text.substr(0, text.find_last_not_of('\n') + 1);
    fs::remove_all(fs::path(file).parent_path());
    return p.exitCode;
}

// The settled face of a program started on its own X server from folder cwd,
// without a sound server: the picture does not depend on one.
std::vector<uint32_t> face(const std::string &exe, const std::string &cwd)
{
    desk::Display d = desk::startDisplay(1280, 1024);
    std::string log = desk::tempDir("install-run") + "/out.txt";
    desk::Mirl m = {desk::spawn({exe}, {d.env(), "LIBGL_ALWAYS_SOFTWARE=1", "ASAN_OPTIONS=detect_leaks=1",
                                        "PULSE_SERVER=unix:/nonexistent/native"}, cwd, log), {}, false};
    std::vector<uint32_t> pixels;
    if ((m.ok = desk::findWindow(d, "Mirl", 300, 30, &m.window))) {
        desk::sleepFor(0.5), desk::findWindow(d, "Mirl", 300, 5, &m.window);  // the window's final place
        // Two pictures in a row the same: a busy machine draws the first frames late.
        for (int i = 0; i < 40; i++, desk::sleepFor(0.25)) {
            std::vector<uint32_t> again = desk::screenshot(d, m.window);
            if (!again.empty() && again == pixels) break;
            pixels = again;
        }
        EXPECT_EQ(desk::closeMirl(d, m), 0) << exe;
    }
    EXPECT_FALSE(pixels.empty()) << exe << " showed no window:\n" << desk::readFile(log);
    desk::stop(m.proc), desk::stopDisplay(d), fs::remove_all(fs::path(log).parent_path());
    return pixels;
}

// Every regular file under root, as paths relative to it, against what an install should hold.
void expectFiles(const std::string &root, const std::string &prefix)
{
    std::set<std::string> got, want = {"bin/mirl", "bin/mirl-render", "share/applications/mirl.desktop",
                                       "share/icons/hicolor/256x256/apps/mirl.png", "share/man/man1/mirl.1",
                                       "share/man/man1/mirl-render.1", "lib/lv2/mirl.lv2/manifest.ttl",
                                       "lib/lv2/mirl.lv2/mirl.ttl", "lib/lv2/mirl.lv2/mirl.so"};
    for (const auto &e : fs::directory_iterator(desk::sourceDir() + "/graphics"))
        if (e.path().filename() != "mirl-icon.png") want.insert("share/mirl/graphics/" + e.path().filename().string());
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) got.insert(fs::relative(e.path(), root).string());
    for (const std::string &f : want) EXPECT_EQ(got.count(prefix + f), 1u) << prefix + f;
    EXPECT_EQ(got.size(), want.size()) << "files beyond the expected ones";
}

// Installed into a prefix and unpacked from the Debian package, started from an empty folder.
TEST(Install, PrefixAndPackageHoldEveryFileAndShowTheSameFace)
{
    std::string prefix = desk::tempDir("install-prefix"), empty = desk::tempDir("install-empty"), out = desk::tempDir("install-deb"),
                arch, version, depends;
    std::vector<uint32_t> fromSource = face(desk::mirlPath(), desk::sourceDir());
    ASSERT_EQ(run({"cmake", "--install", MIRL_BINARY_DIR, "--prefix", prefix}), 0);
    expectFiles(prefix, "");
    EXPECT_EQ(run({"desktop-file-validate", prefix + "/share/applications/mirl.desktop"}), 0);
    std::string icon = desk::readFile(prefix + "/share/icons/hicolor/256x256/apps/mirl.png") + std::string(24, ' ');
    EXPECT_TRUE(icon.substr(1, 3) == "PNG" && icon.substr(16, 8) == std::string("\0\0\1\0\0\0\1\0", 8)) << "a 256 x 256 PNG";
    for (const char *page : {"mirl.1", "mirl-render.1"})
        EXPECT_NE(desk::readFile(prefix + "/share/man/man1/" + page).find(".SH EXAMPLE"), std::string::npos) << page;
    EXPECT_TRUE(!fromSource.empty() && face(prefix + "/bin/mirl", empty) == fromSource) << "the installed program draws another face";
    EXPECT_TRUE(fs::is_empty(empty)) << "nothing is written where it was started";

    std::string packed;
    ASSERT_EQ(run({"cpack", "-G", "DEB", "--config", MIRL_BINARY_DIR "/CPackConfig.cmake", "-B", out}, &packed), 0) << packed;
    run({"dpkg", "--print-architecture"}, &arch);
    run({"sh", "-c", "grep -o 'CPACK_PACKAGE_VERSION \"[^\"]*' " MIRL_BINARY_DIR "/CPackConfig.cmake | cut -d'\"' -f2"}, &version);
    std::string deb = out + "/mirl_" + version + "_" + arch + ".deb";
    // The libraries the binaries link, found by dpkg-shlibdeps, and the GL one GLFW opens itself.
    run({"dpkg-deb", "-f", deb, "Depends"}, &depends);
    for (const char *lib : {"libportmidi0", "libsndfile1", "libsmf0", "libx11-6", "libstdc++6", "libgl1"})
        EXPECT_NE(depends.find(lib), std::string::npos) << lib << " in " << depends;
    ASSERT_EQ(run({"dpkg-deb", "-x", deb, out + "/root"}), 0) << deb;
    expectFiles(out + "/root", "usr/");
    EXPECT_TRUE(face(out + "/root/usr/bin/mirl", empty) == fromSource) << "the packaged program draws another face";
    fs::remove_all(prefix), fs::remove_all(empty), fs::remove_all(out);
}

}  // namespace
