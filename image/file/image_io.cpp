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
#include "safe_path.h"

namespace {

constexpr int ENOTREG = -1;  // a FIFO, a socket or a device

// Opens a regular file only, through links root or this user made: a
// FIFO, a socket or a device would make the read wait on whoever holds its
// other end. trust says who else can change the file.
int open_for_reading(const image_path &path, image_trust *trust, int *error) {
    if (is_standard_stream(path.shown)) return STDIN_FILENO;
    safe_place place;
    *error = safe_walk(path.name, SAFE_NOTE_CHANGEABLE, 0, &place, path.folder);
    if (*error == EPERM) snprintf(trust->refused, sizeof trust->refused, "%s", place.refused);
    if (*error) return -1;
    int fd = -1;
    if (!place.exists) *error = ENOENT;
    else if (!S_ISREG(place.st.st_mode)) *error = ENOTREG;
    else if (place.st.st_nlink > 1 && (place.folder_st.st_mode & 022)) {
        // Where others may add names, a second name is someone else's doing.
        snprintf(trust->refused, sizeof trust->refused,
                 "it has %lu names, in a folder that others can write (mode %04o)",
                 static_cast<unsigned long>(place.st.st_nlink),
                 static_cast<unsigned>(place.folder_st.st_mode & 07777));
        *error = EPERM;
    } else
        fd = openat(place.folder, place.name,
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !same_file(st, place.st))) {
        close(fd);  // replaced since the walk
        fd = -1;
        errno = EAGAIN;
    }
    if (fd < 0 && !*error) *error = errno;
    snprintf(trust->changeable, sizeof trust->changeable, "%s", place.changeable);
    safe_release(&place);
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

bool failed(image_error *err, const char *what, const char *path, int error,
            const char *refused = "") {
    const char *why = error == ENOTREG ? "not a regular file"
                      : refused[0]     ? refused
                                       : strerror(error);
    set_image_error(err, "Cannot %s image file %s: %s", what, path, why);
    return false;
}

}  // namespace

bool sync_image_folder(const safe_place &folder, const char *shown, image_error *err) {
    int error = atomic_sync_folder(folder.folder);
    if (error) set_image_error(err, "Cannot flush folder %s: %s", shown, strerror(error));
    return error == 0;
}

bool is_standard_stream(const char *path) { return strcmp(path, "-") == 0; }

const char *image_name(const char *path) {
    return is_standard_stream(path) ? "(standard input)" : path;
}

bool read_image_file(const image_path &path, eeprom_image *out, image_trust *trust,
                     image_error *err) {
    *trust = image_trust{};
    const char *name = image_name(path.shown);
    int error = 0, fd = open_for_reading(path, trust, &error);
    if (fd < 0) return failed(err, "read", name, error, trust->refused);
    // One image is read at a time, and 64 KiB is kept off the stack.
    static char text[IMAGE_MAX_BYTES + 1];
    size_t length = 0;
    bool ok = read_up_to(fd, text, IMAGE_MAX_BYTES, &length);
    int saved = errno;
    if (fd != STDIN_FILENO) close(fd);
    if (!ok) return failed(err, "read", name, saved);
    return parse_image(text, length, name, out, err);
}

bool write_whole_file(const image_path &path, const char *what, const char *text, size_t length,
                      bool flush_folder, image_error *err) {
    if (is_standard_stream(path.shown)) {
        if (fwrite(text, 1, length, stdout) == length) return true;
        set_image_error(err, "Cannot write %s (standard output): %s", what,
                        strerror(errno ? errno : EIO));
        return false;
    }
    safe_place place;
    atomic_temp temp;
    // A missing folder is made, as the umask allows, and only under folders
    // that nobody else has a say in.
    int error =
        atomic_resolve(path.name, SAFE_MAKE_FOLDERS | SAFE_STRICT, 0755, &place, path.folder);
    // Readable by all, as a saved configuration is; by its owner only where
    // anyone may add files beside it.
    const mode_t mode = place.folder_st.st_mode & S_IWOTH ? 0600 : 0644;
    if (!error) error = atomic_check_writable(&place);
    // What a save killed in the moment its file had a name left behind
    // (a run over many files removes those once, for all of them).
    if (!error && !path.folder) atomic_remove_temps(&place, TEMP_SUFFIX);
    if (!error) error = atomic_write_temp(&place, TEMP_SUFFIX, text, length, mode, &temp);
    if (!error) error = atomic_commit(&temp, &place, false);
    if (error)
        set_image_error(err, "Cannot write %s %s: %s", what, path.shown,
                        error == EPERM ? place.refused : strerror(error));
    else if (flush_folder) {
        error = atomic_sync_folder(place.folder);
        if (error)
            set_image_error(err, "Cannot flush the folder of %s %s: %s", what, path.shown,
                            strerror(error));
    }
    safe_release(&place);
    return error == 0;
}

bool write_image_file(const image_path &path, const char *text, size_t length, bool flush_folder,
                      image_error *err) {
    return write_whole_file(path, "image file", text, length, flush_folder, err);
}
