// Standard output is checked, not trusted: output that never reached its
// reader makes the run a failure, named by the error of the write that
// failed.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "args.h"

namespace {

int g_output_error;    // errno of the first failed write; 0 while none failed
bool g_stdout_closed;  // the tool was started with standard output closed

void note_output_error(int error) {
    if (g_output_error == 0) g_output_error = error;
}

// What standard output's stream writes through: the descriptor, with the
// errno of a failure kept (stdio keeps only that something failed).
ssize_t write_out(void *, const char *data, size_t size) {
    size_t done = 0;
    while (done < size && !g_stdout_closed) {
        ssize_t n = write(STDOUT_FILENO, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            note_output_error(n < 0 ? errno : EIO);
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (g_stdout_closed) note_output_error(EBADF);
    return done == size ? static_cast<ssize_t>(done) : -1;
}

}  // namespace

void watch_standard_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) g_stdout_closed = true;
        int null = open("/dev/null", O_RDWR);  // takes the lowest free number: fd
        if (null >= 0 && null != fd) close(null);
    }
    // A reader that went away is a failed write to report, not a reason to
    // die between two writes to a card.
    signal(SIGPIPE, SIG_IGN);
    cookie_io_functions_t io{nullptr, write_out, nullptr, nullptr};
    FILE *out = fopencookie(nullptr, "w", io);
    if (!out) return;  // the plain stream stays: its failures are then said as EIO
    setvbuf(out, nullptr, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, BUFSIZ);
    stdout = out;
}

bool g_errors_to_stderr;  // set by the parser from the record

FILE *args_error_stream() { return g_errors_to_stderr ? stderr : stdout; }

bool flush_output() {
    if (fflush(stdout) != 0) note_output_error(errno ? errno : EIO);
    // A write inside printf can fail unseen; the stream remembers that it did.
    if (ferror(stdout)) note_output_error(EIO);
    return g_output_error == 0;
}

int finish_output(int status) {
    if (flush_output()) return status;
    dprintf(STDERR_FILENO, "%s: cannot write standard output: %s\n", APP_NAME,
            strerror(g_output_error));
    return -1;
}
