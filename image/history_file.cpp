#include "history_file.h"

#include <fcntl.h>
#include <json-c/json.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "history.h"
#include "json_members.h"

namespace {

using M = json_member;

constexpr size_t LINE_MAX_BYTES = size_t{256} * 1024;  // a change's line takes a few KiB

json_object *member(json_object *object, M key) {
    json_object *value = nullptr;
    return json_object_object_get_ex(object, json_member_name(key), &value) ? value : nullptr;
}

bool number(json_object *object, M key, int64_t *out) {
    json_object *value = member(object, key);
    if (!value || !json_object_is_type(value, json_type_int)) return false;
    *out = json_object_get_int64(value);
    return true;
}

void text(json_object *object, M key, char *out, size_t size) {
    json_object *value = member(object, key);
    snprintf(
        out, size, "%s",
        value && json_object_is_type(value, json_type_string) ? json_object_get_string(value) : "");
}

long long seconds_of(const char *rfc3339) {
    struct tm utc {};
    const char *end = strptime(rfc3339, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return end && !*end ? static_cast<long long>(timegm(&utc)) : 0;
}

bool card_of(json_object *line, change_entry *e) {
    json_object *card = member(line, M::CARD);
    int64_t id = 0, board = 0, index = 0;
    if (!card || !number(card, M::CARD_ID, &id) || id < 0 || id > UINT32_MAX ||
        !number(card, M::BOARD_TYPE, &board) || board < INT32_MIN || board > INT32_MAX)
        return false;
    e->card_id = static_cast<uint32_t>(id);
    e->board_type = static_cast<int32_t>(board);
    e->has_index = number(card, M::INDEX, &index) && index >= 0 && index <= UINT32_MAX;
    e->index = e->has_index ? static_cast<uint32_t>(index) : 0;
    return true;
}

bool changes_of(json_object *line, change_entry *e) {
    json_object *changes = member(line, M::CHANGES);
    if (!changes || !json_object_is_type(changes, json_type_array)) return false;
    const size_t count = json_object_array_length(changes);
    for (size_t k = 0; k < count; k++) {
        json_object *c = json_object_array_get_idx(changes, k);
        int64_t loc = 0, before = 0, after = 0;
        if (!c || !number(c, M::LOCATION, &loc) || loc < 0 || loc > UINT32_MAX ||
            !number(c, M::AFTER, &after) || after < 0 || after > UINT32_MAX)
            return false;
        const uint32_t l = static_cast<uint32_t>(loc);
        const bool known = number(c, M::BEFORE, &before) && before >= 0 && before <= UINT32_MAX;
        if (l >= CONFIG_LOCATIONS) {  // sorvit's write of a location past them
            e->has_far = e->far_written = true;
            e->far_location = l;
            e->far_before_known = known;
            e->far_before = static_cast<uint32_t>(before);
            e->far_after = static_cast<uint32_t>(after);
            continue;
        }
        e->locations |= bit(l);
        e->after[l] = static_cast<uint32_t>(after);
        e->before_known |= known ? bit(l) : 0;
        e->before[l] = static_cast<uint32_t>(before);
    }
    e->written = e->locations;
    return true;
}

// A line of at most LINE_MAX_BYTES, without its line feed; a longer one is
// passed over. false at the end.
bool next_line(FILE *f, char *line, bool *whole) {
    if (!fgets(line, LINE_MAX_BYTES, f)) return false;
    size_t n = strlen(line);
    *whole = n > 0 && line[n - 1] == '\n';
    if (!*whole && !feof(f)) {
        int c;
        while ((c = fgetc(f)) != EOF && c != '\n') {
        }
    }
    return true;
}

}  // namespace

bool change_of(json_object *line, change_entry *e, char *outcome, size_t outcome_size) {
    *e = change_entry{};
    int64_t uid = 0;
    char when[40];
    if (!line || !json_object_is_type(line, json_type_object) || !card_of(line, e) ||
        !changes_of(line, e) || !number(line, M::UID, &uid) || uid < 0)
        return false;
    e->uid = static_cast<uid_t>(uid);
    text(line, M::TIME, when, sizeof when);
    e->time = seconds_of(when);
    text(line, M::USER, e->user, sizeof e->user);
    text(line, M::TOOL, e->tool, sizeof e->tool);
    text(line, M::ACTION, e->action, sizeof e->action);
    text(line, M::RUN, e->run, sizeof e->run);
    text(line, M::FILE_NAME, e->image, sizeof e->image);
    text(line, M::OUTCOME, outcome, outcome_size);
    return true;
}

bool read_history(change_run *run, bool (*each)(json_object *line, void *context), void *context,
                  failure_log *log) {
    const int folder = state_folder(run, false, log);
    if (folder < 0) return log->text == nullptr;  // no state folder yet: no history
    int fd = openat(folder, HISTORY_FILE, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return true;
    FILE *f = fd >= 0 ? fdopen(fd, "r") : nullptr;
    char *line = f ? static_cast<char *>(malloc(LINE_MAX_BYTES)) : nullptr;
    if (!line) {
        log_failure(log, "Cannot read the history of changes %s/%s: %s\n", run->state.path,
                    HISTORY_FILE, strerror(errno ? errno : ENOMEM));
        if (f) fclose(f);
        else if (fd >= 0) close(fd);
        return false;
    }
    bool whole = false, more = true;
    while (more && next_line(f, line, &whole)) {
        json_object *parsed = whole ? json_tokener_parse(line) : nullptr;
        if (parsed) more = each(parsed, context);
        json_object_put(parsed);
    }
    free(line);
    fclose(f);
    return true;
}

namespace {

bool index_line(json_object *line, void *context) {
    auto *index = static_cast<history_index *>(context);
    change_entry e;
    char outcome[24];
    if (!change_of(line, &e, outcome, sizeof outcome)) return true;
    snprintf(index->newest_run, sizeof index->newest_run, "%s", e.run);
    if (change_written_count(e) == 0) return true;
    size_t k = 0;
    while (k < index->count && index->changes[k].card_id != e.card_id) k++;
    if (k == index->count && (k & (k - 1)) == 0) {  // full at each power of two
        void *more = reallocarray(index->changes, k ? k * 2 : 16, sizeof e);
        if (!more) return false;
        index->changes = static_cast<change_entry *>(more);
    }
    if (k == index->count) index->count++;
    index->changes[k] = e;
    return true;
}

}  // namespace

bool index_history(change_run *run, history_index *out, failure_log *log) {
    *out = history_index{};
    return read_history(run, index_line, out, log);
}

const change_entry *last_change_of(const history_index &index, uint32_t card_id) {
    for (size_t k = 0; k < index.count; k++)
        if (index.changes[k].card_id == card_id) return &index.changes[k];
    return nullptr;
}

void free_history_index(history_index *index) {
    free(index->changes);
    *index = history_index{};
}
