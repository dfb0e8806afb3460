#include "journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atomic_file.h"
#include "journal_text.h"

namespace {

constexpr char SUFFIX[] = ".journal";

int write_all(int fd, const char *text, size_t length) {
    for (size_t done = 0; done < length;) {
        ssize_t n = write(fd, text + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// The run's file, new, locked for as long as the run lives.
int create_journal(journal_writer *j, int folder, const char *run) {
    snprintf(j->name, sizeof j->name, "%s%s", run, SUFFIX);
    int fd = openat(folder, j->name,
                    O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    flock f{};
    f.l_type = F_WRLCK;
    f.l_whence = SEEK_SET;
    char head[96];
    int n = snprintf(head, sizeof head, "sorvit journal 1 %s\n", run);
    int error = fcntl(fd, F_SETLK, &f) == 0 ? write_all(fd, head, static_cast<size_t>(n)) : errno;
    if (error) {
        close(fd);
        unlinkat(folder, j->name, 0);
        return error;
    }
    j->fd = fd;
    return 0;
}

void append_line(int fd, const char *line) {
    (void)write_all(fd, line, strlen(line));  // a lost line costs a recount, not a change
}

}  // namespace

bool journal_plan(journal_writer *j, const change_entry &card) {
    journal_text text;
    if (!format_plan(card, &text)) return false;
    void *more = realloc(j->plan, j->plan_length + text.length);
    if (more) {
        j->plan = static_cast<char *>(more);
        memcpy(j->plan + j->plan_length, text.data, text.length);
        j->plan_length += text.length;
    }
    free_journal_text(&text);
    return more != nullptr;
}

int journal_add(journal_writer *j, int folder, const change_entry &entry) {
    const bool first = j->fd < 0;
    if (first) {
        if (int error = create_journal(j, folder, entry.run)) return error;
    }
    journal_text text;
    if (!format_entry(entry, &text)) return ENOMEM;
    // The plan goes with the first change, flushed with it.
    int error = j->plan ? write_all(j->fd, j->plan, j->plan_length) : 0;
    free(j->plan);
    j->plan = nullptr;
    j->plan_length = 0;
    if (!error) error = write_all(j->fd, text.data, text.length);
    free_journal_text(&text);
    if (!error && fdatasync(j->fd) != 0) error = errno;
    if (!error && first) error = atomic_sync_folder(folder);
    return error;
}

void journal_written(journal_writer *j, uint32_t card_id, uint32_t location) {
    char line[48];
    snprintf(line, sizeof line, "w %lu 0x%02lX\n", static_cast<unsigned long>(card_id),
             static_cast<unsigned long>(location));
    if (j->fd >= 0) append_line(j->fd, line);
}

void journal_done(journal_writer *j, uint32_t card_id, const char *outcome) {
    char line[64];
    snprintf(line, sizeof line, "done %lu %s\n", static_cast<unsigned long>(card_id), outcome);
    if (j->fd >= 0) append_line(j->fd, line);
}

int journal_remove(journal_writer *j, int folder) {
    free(j->plan);
    j->plan = nullptr;
    if (j->fd < 0) return 0;
    int error = unlinkat(folder, j->name, 0) == 0 ? 0 : errno;
    if (!error) error = atomic_sync_folder(folder);
    close(j->fd);  // and its lock
    j->fd = -1;
    return error;
}

void journal_left(journal_writer *j, uint32_t card_id) {
    char line[48];
    snprintf(line, sizeof line, "left %lu\n", static_cast<unsigned long>(card_id));
    if (j->fd >= 0) append_line(j->fd, line);
}

void journal_close(journal_writer *j, int folder) {
    if (j->fd < 0) return;
    int fd = openat(folder, j->name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && journal_all_done(fd)) journal_remove(j, folder);
    if (fd >= 0) close(fd);
    if (j->fd >= 0) close(j->fd);
    j->fd = -1;
}

void settle_unfinished(int folder, const change_entry &entry, const char *outcome) {
    char name[NAME_MAX + 1];
    snprintf(name, sizeof name, "%s%s", entry.run, SUFFIX);
    int fd = openat(folder, name, O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return;
    char line[64];
    snprintf(line, sizeof line, "done %lu %s\n", static_cast<unsigned long>(entry.card_id),
             outcome);
    append_line(fd, line);
    // The last change of a dead run closed: its file goes, unless another
    // settler holds it.
    flock f{};
    f.l_type = F_WRLCK;
    f.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &f) == 0 && journal_all_done(fd)) {
        unlinkat(folder, name, 0);
        atomic_sync_folder(folder);
    }
    close(fd);
}

// --- finding the unfinished changes -------------------------------------------

struct journal_file_seen {
    char name[NAME_MAX + 1];
    struct stat st;
    card_ids unfinished;  // as the file was when st was taken
    bool listed;          // in the folder when its names were last read
};

namespace {

bool unchanged(const struct stat &a, const struct stat &b) {
    return same_file(a, b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool read_named(int folder, const char *name, journal_text *text) {
    int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = read_journal(fd, text);
    close(fd);
    return ok;
}

// The file's record, read again when it changed; null when memory runs out.
journal_file_seen *seen_file(journal_reader *r, int folder, const char *name,
                             const struct stat &st) {
    journal_file_seen *f = nullptr;
    for (size_t k = 0; k < r->count && !f; k++)
        if (strcmp(r->files[k].name, name) == 0) f = &r->files[k];
    if (!f) {
        void *more = reallocarray(r->files, r->count + 1, sizeof *r->files);
        if (!more) return nullptr;
        r->files = static_cast<journal_file_seen *>(more);
        f = &r->files[r->count++];
        *f = journal_file_seen{};
        snprintf(f->name, sizeof f->name, "%s", name);
    } else if (unchanged(f->st, st)) {
        return f;
    }
    free_card_ids(&f->unfinished);
    f->st = st;
    journal_text text;
    if (read_named(folder, name, &text)) {
        unfinished_cards(text.data, text.length, &f->unfinished);
        free_journal_text(&text);
    }
    return f;
}

bool is_journal(const char *name) {
    const size_t n = strlen(name);
    return n > sizeof SUFFIX - 1 && strcmp(name + n - (sizeof SUFFIX - 1), SUFFIX) == 0;
}

// Whether another process holds the lock of the open journal: its run is
// alive.
bool run_alive(int fd) {
    flock f{};
    f.l_type = F_RDLCK;
    f.l_whence = SEEK_SET;
    return fcntl(fd, F_GETLK, &f) == 0 && f.l_type != F_UNLCK;
}

// The card's unfinished change in the file: its entry without "done", of a
// dead run or left by a live one (a live run's other open entry is a
// change in progress). The lock is looked at before the file is read: a
// run appends "done" before it lets go of its lock, so a run found gone
// has said all it will.
bool entry_in(int folder, const char *name, uint32_t card_id, change_entry *out) {
    int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;  // gone: the run ended
    const bool alive = run_alive(fd);
    journal_text text;
    bool found = read_journal(fd, &text) && parse_entry(text.data, text.length, card_id, out);
    free_journal_text(&text);
    close(fd);
    return found && (out->left || !alive);
}

}  // namespace

namespace {

// Calls each(file) for every journal file of the folder, read again when it
// changed, until it returns true; true when one did.
// Each journal of the folder as last listed, when the folder is unchanged
// since (names are added and removed by rename, link and unlink, which
// change it): until each returns true.
template <typename F>
bool any_listed_journal(journal_reader *r, int folder, F each) {
    bool found = false;
    struct stat st;
    for (size_t k = 0; k < r->count && !found; k++) {
        char name[NAME_MAX + 1];  // seen_file may move the files it keeps
        memcpy(name, r->files[k].name, sizeof name);
        if (!r->files[k].listed || fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        const journal_file_seen *f = seen_file(r, folder, name, st);
        found = f && each(folder, *f);
    }
    return found;
}

template <typename F>
bool any_journal(journal_reader *r, int folder, F each) {
    struct stat now;
    const bool dated = folder >= 0 && fstat(folder, &now) == 0;
    if (dated && r->listed && unchanged(now, r->folder_st))
        return any_listed_journal(r, folder, each);
    int fd = folder >= 0 ? openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) close(fd);
        return false;
    }
    bool found = false, whole = true;  // whole: every name was read, and kept
    struct stat st;
    for (size_t k = 0; k < r->count; k++) r->files[k].listed = false;
    r->listed = false;
    while (!found && (errno = 0, true)) {
        const dirent *entry = readdir(dir);
        if (!entry) break;
        if (!is_journal(entry->d_name) || strcmp(entry->d_name, r->own) == 0 ||
            fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        journal_file_seen *f = seen_file(r, fd, entry->d_name, st);
        if (f) f->listed = true;
        whole = whole && f;
        found = f && each(fd, *f);
    }
    closedir(dir);
    if (!found && whole && dated && errno == 0) {  // read to the end: it stands for the folder
        r->folder_st = now;
        r->listed = true;
    }
    return found;
}

}  // namespace

bool find_unfinished(journal_reader *r, int folder, uint32_t card_id, change_entry *out) {
    return any_journal(r, folder, [&](int fd, const journal_file_seen &f) {
        return holds_card(f.unfinished, card_id) && entry_in(fd, f.name, card_id, out);
    });
}

bool planned_cards(journal_reader *r, int folder, change_entry **out, size_t *count) {
    *out = nullptr;
    *count = 0;
    bool ok = true;
    any_journal(r, folder, [&](int fd, const journal_file_seen &f) {
        int file = openat(fd, f.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        journal_text text;
        if (file >= 0 && !run_alive(file) && read_journal(file, &text)) {
            ok = parse_plans(text.data, text.length, out, count) && ok;
            free_journal_text(&text);
        }
        if (file >= 0) close(file);
        return false;
    });
    return ok;
}

void newest_journal_run(journal_reader *r, int folder, char *out, size_t size) {
    out[0] = '\0';
    any_journal(r, folder, [&](int fd, const journal_file_seen &f) {
        const size_t n = strlen(f.name) - (sizeof SUFFIX - 1);
        int file = openat(fd, f.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file >= 0 && !run_alive(file) && n < size && (strncmp(f.name, out, n) > 0 || !out[0]))
            snprintf(out, size, "%.*s", static_cast<int>(n), f.name);
        if (file >= 0) close(file);
        return false;
    });
}

void remove_settled_journals(journal_reader *r, int folder, const journal_writer &own) {
    (void)own;  // passed over by any_journal
    any_journal(r, folder, [&](int fd, const journal_file_seen &f) {
        if (f.unfinished.count) return false;
        int file = openat(fd, f.name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        flock lock{};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        // Taken only when no run holds it: a dead run's, and nobody settling it.
        if (file >= 0 && fcntl(file, F_SETLK, &lock) == 0 && journal_all_done(file))
            unlinkat(fd, f.name, 0);
        if (file >= 0) close(file);
        return false;
    });
}

void free_journal_reader(journal_reader *r) {
    for (size_t k = 0; k < r->count; k++) free_card_ids(&r->files[k].unfinished);
    free(r->files);
    *r = journal_reader{};
}
