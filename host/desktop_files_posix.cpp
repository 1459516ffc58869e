// The file the save command writes: create, write, stamp, close.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "host/desktop.h"
#include "platform/system.h"

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
    if (close(fd) != 0)
        result = -1;
    if (set_time && result == 0)
        sys_set_file_time(path, time);
    return result;
}
