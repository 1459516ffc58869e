// The file the save command writes: create, write, stamp, close.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "host/desktop.h"

namespace {

// FILETIME ticks from 1601-01-01 to 1970-01-01, and ticks per second.
constexpr int64_t UNIX_EPOCH_TICKS = 116444736000000000LL;
constexpr int64_t TICKS_PER_SECOND = 10000000;

timespec unix_time(uint64_t file_time)
{
    // FILETIMEs beyond what time_t and int64 hold are cut to the largest.
    int64_t ticks = file_time > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(file_time);
    int64_t since = ticks - UNIX_EPOCH_TICKS;
    int64_t seconds = since / TICKS_PER_SECOND;
    int64_t rest = since % TICKS_PER_SECOND;
    if (rest < 0) {
        rest += TICKS_PER_SECOND;
        --seconds;
    }
    timespec t;
    t.tv_sec = time_t(seconds);
    t.tv_nsec = long(rest * 100);
    return t;
}

}  // namespace

int desktop_write_copy(const char* path, const uint8_t* data, int64_t length, bool set_time, uint64_t time)
{
    if (!path || !path[0])
        return -1;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    int result = 0;
    while (length > 0 && data) {
        ssize_t n = write(fd, data, size_t(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            result = -1;
            break;
        }
        data += n;
        length -= n;
    }
    if (set_time) {
        timespec times[2] = {unix_time(time), unix_time(time)};
        futimens(fd, times);
    }
    if (close(fd) != 0)
        result = -1;
    return result;
}
