#include "confirm.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "args.h"

namespace {

constexpr int MAX_REPLY_LINE = 4096;  // a reply longer than this is cut, not waited for

ssize_t read_byte(char *c) {
    ssize_t n;
    while ((n = read(STDIN_FILENO, c, 1)) < 0 && errno == EINTR) {
    }
    return n;
}

}  // namespace

reply ask_to_continue(FILE *stream) {
    fprintf(stream, "Are you sure you want to continue (y/n)? ");
    // An answer to a question nobody saw is no answer.
    if (stream == stdout ? !flush_output() : fflush(stream) != 0) return REPLY_UNSEEN;
    // The reply is its first character; the rest of its line is read too, and
    // no more, so a script can answer several questions a line each, and a
    // terminal leaves nothing of the line to the shell.
    char first = 0;
    if (read_byte(&first) != 1) return REPLY_NONE;
    char c = first;
    for (int rest = 0; c != '\n' && rest < MAX_REPLY_LINE && read_byte(&c) == 1; rest++) {
    }
    return first == 'y' || first == 'Y' ? REPLY_YES : REPLY_NO;
}
