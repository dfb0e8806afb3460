// Image files on disk: read without blocking on any kind of file, written
// whole or not at all.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The mode a new file gets: what the umask allows of 0666.
mode_t new_file_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Where to put the file: a symbolic link's target, so the link survives.
// Anything that exists and is not a regular file is refused: renaming over
// a device or a folder is never what was meant.
bool resolve_target(const char *path, char *target, mode_t *mode) {
    struct stat st;
    if (stat(path, &st) != 0) {
        if (errno != ENOENT) return false;
        *mode = new_file_mode();
        if (snprintf(target, PATH_MAX, "%s", path) < PATH_MAX) return true;
        errno = ENAMETOOLONG;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    *mode = st.st_mode & 07777;
    return realpath(path, target) != nullptr;
}

bool write_whole(FILE *file, const char *text, size_t length) {
    return fwrite(text, 1, length, file) == length && fflush(file) == 0 && fsync(fileno(file)) == 0;
}

// Writes text to a new temporary file beside target, flushed to the disk.
// On failure nothing is left behind and errno says why.
bool write_temporary(const char *target, mode_t mode, const char *text, size_t length,
                     char temp[PATH_MAX + 8]) {
    if (snprintf(temp, PATH_MAX + 8, "%s.XXXXXX", target) >= PATH_MAX + 8) {
        errno = ENAMETOOLONG;
        return false;
    }
    int fd = mkstemp(temp);
    if (fd < 0) return false;
    FILE *file = fchmod(fd, mode) == 0 ? fdopen(fd, "w") : nullptr;
    if (!file) {
        int saved = errno;
        close(fd);
        unlink(temp);
        errno = saved;
        return false;
    }
    bool ok = write_whole(file, text, length);
    int saved = errno;
    if (fclose(file) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) unlink(temp);
    errno = saved ? saved : EIO;
    return ok;
}

// Makes the rename itself durable; a folder that cannot be synced changes
// nothing about the file being whole.
void sync_folder(const char *target) {
    char folder[PATH_MAX];
    snprintf(folder, sizeof folder, "%s", target);
    char *slash = strrchr(folder, '/');
    if (!slash) snprintf(folder, sizeof folder, ".");
    else slash[slash == folder ? 1 : 0] = '\0';
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

}  // namespace

bool is_standard_stream(const char *path) { return strcmp(path, "-") == 0; }

const char *image_name(const char *path) {
    return is_standard_stream(path) ? "(standard input)" : path;
}

bool read_image_file(const char *path, eeprom_image *out) {
    int fd = open_for_reading(path);
    if (fd < 0) {
        printf("Cannot read image file %s: %s\n", image_name(path), strerror(errno));
        return false;
    }
    static char text[IMAGE_MAX_BYTES + 1];
    size_t length = 0;
    bool ok = read_up_to(fd, text, IMAGE_MAX_BYTES, &length);
    int saved = errno;
    if (fd != STDIN_FILENO) close(fd);
    if (!ok) {
        printf("Cannot read image file %s: %s\n", image_name(path), strerror(saved));
        return false;
    }
    image_error err;
    if (parse_image(text, length, image_name(path), out, &err)) return true;
    printf("%s", err.text);
    return false;
}

bool write_image_file(const char *path, const char *text, size_t length) {
    if (is_standard_stream(path)) return fwrite(text, 1, length, stdout) == length;
    char target[PATH_MAX], temp[PATH_MAX + 8];
    mode_t mode = 0;
    bool ok =
        resolve_target(path, target, &mode) && write_temporary(target, mode, text, length, temp);
    if (ok && rename(temp, target) != 0) {
        int saved = errno;
        unlink(temp);
        errno = saved;
        ok = false;
    }
    if (!ok) {
        printf("Cannot write image file %s: %s\n", path, strerror(errno));
        return false;
    }
    sync_folder(target);
    return true;
}
