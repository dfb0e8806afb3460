#include "history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "json_members.h"
#include "utf8.h"

namespace {

using M = json_member;

// The line, grown as it is written; cut short, it is dropped whole.
struct line_text {
    char *data;
    size_t length, size;
    bool lost;
};

void add(line_text *t, const char *format, ...) __attribute__((format(printf, 2, 3)));

void add(line_text *t, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = t->lost ? -1 : vsnprintf(t->data + t->length, t->size - t->length, format, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= t->size - t->length) t->lost = true;
    else t->length += static_cast<size_t>(n);
}

// A JSON string: quotes, backslashes and control characters escaped, a byte
// that is no UTF-8 character written as U+FFFD.
void add_string(line_text *t, const char *text) {
    add(t, "\"");
    const auto *in = reinterpret_cast<const unsigned char *>(text);
    const size_t length = strlen(text);
    for (size_t k = 0; k < length;) {
        const size_t bytes = utf8_character(in + k, length - k);
        if (bytes == 0) add(t, "\\ufffd");
        else if (in[k] == '"' || in[k] == '\\') add(t, "\\%c", in[k]);
        else if (in[k] < 0x20) add(t, "\\u%04x", in[k]);
        else add(t, "%.*s", static_cast<int>(bytes), text + k);
        k += bytes ? bytes : 1;
    }
    add(t, "\"");
}

void add_key(line_text *t, M key, bool first = false) {
    add(t, "%s\"%s\":", first ? "" : ",", json_member_name(key));
}

void add_change(line_text *t, bool first, uint32_t loc, bool known, uint32_t before,
                uint32_t after) {
    add(t, "%s{", first ? "" : ",");
    add_key(t, M::LOCATION, true);
    add(t, "%lu", static_cast<unsigned long>(loc));
    add_key(t, M::BEFORE);
    if (known) add(t, "%lu", static_cast<unsigned long>(before));
    else add(t, "null");
    add_key(t, M::AFTER);
    add(t, "%lu}", static_cast<unsigned long>(after));
}

void add_changes(line_text *t, const change_entry &e) {
    add_key(t, M::CHANGES);
    add(t, "[");
    bool first = true;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((e.written & bit(loc)) == 0) continue;
        add_change(t, first, loc, (e.before_known & bit(loc)) != 0, e.before[loc], e.after[loc]);
        first = false;
    }
    if (e.has_far && e.far_written)
        add_change(t, first, e.far_location, e.far_before_known, e.far_before, e.far_after);
    add(t, "]");
}

}  // namespace

time_text rfc3339(long long seconds) {
    time_text t{"1970-01-01T00:00:00Z"};
    const time_t when = static_cast<time_t>(seconds);
    struct tm utc;
    if (gmtime_r(&when, &utc)) strftime(t.text, sizeof t.text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return t;
}

time_text readable_time(long long seconds) {
    time_text t{"an unknown time"};
    const time_t when = static_cast<time_t>(seconds);
    struct tm utc;
    if (gmtime_r(&when, &utc)) strftime(t.text, sizeof t.text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return t;
}

char *history_line(const change_entry &e, const char *outcome, const char *host) {
    line_text t{nullptr, 0, sizeof e.image * 6 + 4096 + size_t{CONFIG_LOCATIONS} * 64, false};
    if (!(t.data = static_cast<char *>(malloc(t.size)))) return nullptr;
    add(&t, "{");
    add_key(&t, M::TIME, true);
    add_string(&t, rfc3339(e.time).text);
    add_key(&t, M::UID);
    add(&t, "%lu", static_cast<unsigned long>(e.uid));
    const struct {
        M key;
        const char *value;
    } texts[] = {{M::USER, e.user},
                 {M::HOST, host},
                 {M::TOOL, e.tool},
                 {M::ACTION, e.action},
                 {M::RUN, e.run}};
    for (const auto &text : texts) {
        add_key(&t, text.key);
        add_string(&t, text.value);
    }
    add_key(&t, M::CARD);
    add(&t, "{");
    add_key(&t, M::CARD_ID, true);
    add(&t, "%lu", static_cast<unsigned long>(e.card_id));
    add_key(&t, M::INDEX);
    if (e.has_index) add(&t, "%lu", static_cast<unsigned long>(e.index));
    else add(&t, "null");
    add_key(&t, M::BOARD_TYPE);
    add(&t, "%ld}", static_cast<long>(e.board_type));
    if (e.image[0]) {
        add_key(&t, M::FILE_NAME);
        add_string(&t, e.image);
    }
    add_changes(&t, e);
    add_key(&t, M::OUTCOME);
    add_string(&t, outcome);
    add(&t, "}\n");
    if (t.lost) {
        free(t.data);
        return nullptr;
    }
    return t.data;
}

int history_append(int folder, const char *line, int *kept) {
    // Read as well as written: its last byte tells whether a line was cut.
    int fd = openat(folder, HISTORY_FILE,
                    O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    struct stat st;
    char last = '\n';
    // A line that another writer left cut short (a full disk) is ended, so
    // that this one stays whole.
    if (fstat(fd, &st) == 0 && st.st_size > 0) (void)!pread(fd, &last, 1, st.st_size - 1);
    const size_t length = strlen(line);
    int error = 0;
    if (last != '\n' && write(fd, "\n", 1) != 1) error = errno;
    const ssize_t n = error ? -1 : write(fd, line, length);
    if (!error && n != static_cast<ssize_t>(length)) error = n < 0 ? errno : ENOSPC;
    if (*kept >= 0) close(*kept);
    *kept = fd;
    return error;
}

int history_flush(int *kept) {
    if (*kept < 0) return 0;
    int error = fsync(*kept) == 0 ? 0 : errno;
    close(*kept);
    *kept = -1;
    return error;
}
