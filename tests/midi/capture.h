// Catches what the program writes to standard output (fd 1, from any thread)
// in a temporary file while a Capture lives.
#pragma once
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace cap {

class Capture {
public:
    // Points fd 1 at a fresh temporary file.
    Capture()
    {
        char name[] = "/tmp/mirl-midi-out-XXXXXX";
        int fd = mkstemp(name);
        fcntl(fd, F_SETFL, O_APPEND);   // writes after a take start at the new end
        path = name;
        std::fflush(stdout);
        saved = dup(1);
        dup2(fd, 1);
        close(fd);
    }
    // Everything written since the capture began or since the last take.
    std::string take()
    {
        std::fflush(stdout);
        std::string text;
        if (FILE *f = std::fopen(path.c_str(), "r")) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
            std::fclose(f);
        }
        if (saved >= 0 && ftruncate(1, 0) != 0) text += "(capture could not be emptied)";
        return text;
    }
    // Restores fd 1 and returns what was written since the last take.
    std::string end()
    {
        std::string text = take();
        if (saved >= 0) {
            dup2(saved, 1);
            close(saved);
            saved = -1;
            unlink(path.c_str());
        }
        return text;
    }
    // A test that stops early still gets its own output (failure messages) back.
    ~Capture()
    {
        if (saved >= 0) std::fputs(end().c_str(), stdout);
    }

private:
    int saved = -1;
    std::string path;
};

}  // namespace cap
