// Image files on disk: read without blocking on any kind of file, written
// whole or not at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "atomic_file.h"
#include "image_file.h"

namespace {

// Opens for reading without waiting for a writer (a FIFO), then reads as
// usual; a folder is refused here rather than by a failing read.
int open_for_reading(const char *path) {
    if (is_standard_stream(path)) return STDIN_FILENO;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) errno = EISDIR;
        close(fd);
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads up to limit + 1 bytes, so that a file over the limit shows as such.
bool read_up_to(int fd, char *buffer, size_t limit, size_t *length) {
    size_t done = 0;
    while (done <= limit) {
        ssize_t n = read(fd, buffer + done, limit + 1 - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    *length = done;
    return true;
}

bool failed(image_error *err, const char *what, const char *path, int error) {
    set_image_error(err, "Cannot %s image file %s: %s", what, path, strerror(error));
    return false;
}

}  // namespace

bool is_standard_stream(const char *path) { return strcmp(path, "-") == 0; }

const char *image_name(const char *path) {
    return is_standard_stream(path) ? "(standard input)" : path;
}

bool read_image_file(const char *path, eeprom_image *out, image_error *err) {
    int fd = open_for_reading(path);
    if (fd < 0) return failed(err, "read", image_name(path), errno);
    static char text[IMAGE_MAX_BYTES + 1];
    size_t length = 0;
    bool ok = read_up_to(fd, text, IMAGE_MAX_BYTES, &length);
    int saved = errno;
    if (fd != STDIN_FILENO) close(fd);
    if (!ok) return failed(err, "read", image_name(path), saved);
    return parse_image(text, length, image_name(path), out, err);
}

bool write_image_file(const char *path, const char *text, size_t length, image_error *err) {
    if (is_standard_stream(path)) {
        if (fwrite(text, 1, length, stdout) == length) return true;
        return failed(err, "write", "(standard output)", errno ? errno : EIO);
    }
    atomic_target target;
    atomic_temp temp;
    int error = atomic_resolve(path, &target);
    if (!error) error = atomic_check_writable(&target);
    if (!error) error = atomic_write_temp(&target, ".", text, length, &temp);
    if (!error) error = atomic_commit(&temp, &target);
    return error == 0 || failed(err, "write", path, error);
}
