#include "card_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cells.h"
#include "number.h"

namespace {

constexpr unsigned DEFAULT_WAIT_MS = 10000, MAX_WAIT_MS = 600000;

flock range(lock_mode mode) {
    flock f{};
    f.l_type = mode == lock_mode::EXCLUSIVE ? F_WRLCK : F_RDLCK;
    f.l_whence = SEEK_SET;
    return f;  // the whole file
}

// What the lock file says of its last holder: "PID WHO".
void note_holder(int fd, const char *who) {
    char line[128];
    int n = snprintf(line, sizeof line, "%ld %s\n", static_cast<long>(getpid()), who);
    if (n > 0 && static_cast<size_t>(n) < sizeof line &&
        pwrite(fd, line, static_cast<size_t>(n), 0) == n)
        (void)!ftruncate(fd, n);
}

// The holder in the way, as a waiter is told of it, and what it does.
struct holder_text {
    char text[160];
    const char *doing;
};

holder_text holder_of(int fd, lock_mode mode) {
    flock f = range(mode);
    holder_text h;
    snprintf(h.text, sizeof h.text, "another process");
    h.doing = "using";
    if (fcntl(fd, F_GETLK, &f) != 0 || f.l_type == F_UNLCK || f.l_pid <= 0) return h;
    h.doing = f.l_type == F_WRLCK ? "changing" : "reading";
    char line[128] = "";
    ssize_t n = pread(fd, line, sizeof line - 1, 0);
    line[n > 0 ? n : 0] = '\0';
    char *end = nullptr;
    long pid = strtol(line, &end, 10);
    const char *who = end && *end == ' ' && pid == f.l_pid ? end + 1 : "";
    size_t length = strcspn(who, "\n");
    if (length)
        snprintf(h.text, sizeof h.text, "process %ld (%.*s)", static_cast<long>(f.l_pid),
                 static_cast<int>(length), who);
    else snprintf(h.text, sizeof h.text, "process %ld", static_cast<long>(f.l_pid));
    return h;
}

// card-ID.lock, opened without following a link and without blocking.
int open_lock_file(const safe_place &folder, uint32_t card_id, failure_log *log) {
    char name[32];
    snprintf(name, sizeof name, "card-%lu.lock", static_cast<unsigned long>(card_id));
    int fd = openat(folder.folder, name,
                    O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    struct stat st;
    const char *problem = fd < 0 && errno == ELOOP                   ? "it is a symbolic link"
                          : fd < 0                                   ? strerror(errno)
                          : fstat(fd, &st) != 0                      ? strerror(errno)
                          : !S_ISREG(st.st_mode)                     ? "not a regular file"
                          : st.st_uid != geteuid() && st.st_uid != 0 ? "it is owned by another user"
                                                                     : nullptr;
    if (!problem) return fd;
    log_failure(log, "Cannot lock card %s: %s/%s: %s\n", label_of(card_id).text, folder.path, name,
                problem);
    if (fd >= 0) close(fd);
    return -1;
}

void wake(int) {}  // only to end the wait

// Waits for the lock in the kernel's queue of waiters (fair to each
// waiter, unlike retrying), for at most ms: an alarm ends the wait. errno.
int wait_for_lock(int fd, lock_mode mode, unsigned ms) {
    if (ms == 0) return EAGAIN;
    struct sigaction alarm_action {
    }, before{};
    alarm_action.sa_handler = wake;  // no SA_RESTART: the wait ends with EINTR
    sigemptyset(&alarm_action.sa_mask);
    sigaction(SIGALRM, &alarm_action, &before);
    itimerval timer{}, none{};
    timer.it_value.tv_sec = ms / 1000;
    timer.it_value.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
    setitimer(ITIMER_REAL, &timer, nullptr);
    flock f = range(mode);
    int error = 0;
    while (fcntl(fd, F_SETLKW, &f) != 0) {
        error = errno;
        getitimer(ITIMER_REAL, &timer);
        // A signal other than the alarm: wait on while the time lasts.
        if (error != EINTR || (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0)) break;
        error = 0;
    }
    setitimer(ITIMER_REAL, &none, nullptr);
    sigaction(SIGALRM, &before, nullptr);
    return error;
}

}  // namespace

unsigned card_lock_wait_ms() {
    const char *text = getenv("SORVIT_LOCK_WAIT_MS");
    number_read r;
    if (!text || !read_number(text, 0, &r) || r.value > MAX_WAIT_MS) return DEFAULT_WAIT_MS;
    return r.value;
}

int lock_card(const safe_place &folder, uint32_t card_id, lock_mode mode, const char *who,
              card_lock *lock, failure_log *log) {
    *lock = card_lock{-1, card_id};
    int fd = open_lock_file(folder, card_id, log);
    if (fd < 0) return -1;
    flock f = range(mode);
    int error = fcntl(fd, F_SETLK, &f) == 0 ? 0 : errno;
    holder_text holder{};
    if (error == EACCES || error == EAGAIN) {
        holder = holder_of(fd, mode);
        report_warning("Waiting for card %s: %s is %s it\n", label_of(card_id).text, holder.text,
                       holder.doing);
        error = wait_for_lock(fd, mode, card_lock_wait_ms());
    }
    if (error) {
        const unsigned waited = card_lock_wait_ms();
        if (error == EINTR || error == EACCES || error == EAGAIN)
            log_failure(log, "Card %s is still locked by %s after %u %s\n", label_of(card_id).text,
                        holder.text, waited % 1000 ? waited : waited / 1000,
                        waited % 1000 ? "ms" : "s");
        else log_failure(log, "Cannot lock card %s: %s\n", label_of(card_id).text, strerror(error));
        close(fd);
        return -1;
    }
    note_holder(fd, who);
    lock->fd = fd;
    return 0;
}

void unlock_card(card_lock *lock) {
    if (lock->fd >= 0) close(lock->fd);  // closing releases the record lock
    lock->fd = -1;
}
