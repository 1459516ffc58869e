#pragma once
// For the end-to-end tests on Linux: a private X server, and the PPM that
// ImageMagick's import writes of a window.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace test_display {

// A private X server on a free display, stopped with the object.
class Xvfb {
public:
    Xvfb()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 3);
            int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (!number.empty())
            display_ = ":" + number;
    }
    ~Xvfb()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

// Reads a binary PPM (P6, maxval 255) as 0x00RRGGBB pixels.
inline bool read_ppm(const std::vector<uint8_t>& b, int* w, int* h, std::vector<uint32_t>* px)
{
    size_t pos = 2;
    int v[3];
    if (b.size() < 2 || b[0] != 'P' || b[1] != '6')
        return false;
    for (int& x : v) {
        while (pos < b.size() && isspace(b[pos]))
            ++pos;
        x = 0;
        while (pos < b.size() && isdigit(b[pos]))
            x = x * 10 + (b[pos++] - '0');
    }
    ++pos;
    *w = v[0];
    *h = v[1];
    if (v[2] != 255 || b.size() < pos + size_t(*w) * size_t(*h) * 3)
        return false;
    px->resize(size_t(*w) * size_t(*h));
    for (size_t i = 0; i < px->size(); ++i, pos += 3)
        (*px)[i] = uint32_t(b[pos]) << 16 | uint32_t(b[pos + 1]) << 8 | b[pos + 2];
    return true;
}

}  // namespace test_display
