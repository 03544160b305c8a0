// The installed files: written in one call, then stamped with the record's time.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/linux_platform.h"
#include "platform/platform.h"

int PlatformOpenForWrite(const char* path) {
    char host_path[PATH_MAX];
    if (!MapWindowsPath(path, host_path, sizeof host_path)) return -1;
    // 0666 under the umask: readable and writable by the user, as a new file on Windows is.
    return open(host_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

int32_t PlatformWriteFile(int file, const uint8_t* bytes, int32_t count) {
    if (count < 0) return -1;
    // One call and no retry: a short count is the caller's to report.
    const ssize_t written = write(file, bytes, size_t(count));
    return written < 0 ? -1 : int32_t(written);
}

void PlatformCloseFile(int file) { close(file); }

bool PlatformSetFileTimes(const char* path, int32_t timestamp) {
    char host_path[PATH_MAX];
    if (!MapWindowsPath(path, host_path, sizeof host_path)) return false;
    const timespec times[2] = {{timestamp, 0}, {timestamp, 0}};
    return utimensat(AT_FDCWD, host_path, times, 0) == 0;
}
