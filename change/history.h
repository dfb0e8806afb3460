// The history of every change: history.jsonl in the state folder, one JSON
// object a line (its members named by json_members.h), appended whole or
// not at all and readable while other runs append. Each append opens the
// file by its name, so a file rotated away is made again; the run flushes
// the last one it wrote to once, at its end.
#ifndef CHANGE_HISTORY_H
#define CHANGE_HISTORY_H

#include <cstddef>

#include "journal.h"

constexpr char HISTORY_FILE[] = "history.jsonl";

// The line of a change that is over: the locations it wrote (before and
// after) and what it came to; host is the host's name. Null when memory
// runs out; free() it.
char *history_line(const change_entry &entry, const char *outcome, const char *host);

// Appends the line to the history in the state folder; *kept is the file
// last appended to, flushed by history_flush. errno.
int history_append(int folder, const char *line, int *kept);
int history_flush(int *kept);

// A time as the history and the messages show it: RFC 3339 in UTC
// ("2026-12-09T10:41:02Z"), or with a blank for people ("2026-12-09
// 10:41:02 UTC").
struct time_text {
    char text[40];
};
time_text rfc3339(long long seconds);
time_text readable_time(long long seconds);

#endif
