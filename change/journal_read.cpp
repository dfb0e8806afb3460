// The journal's lines read back (journal_text.h): a text that a power cut
// may have cut anywhere, taken as far as its last whole line.
#include "journal_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "number.h"

namespace {

change_entry change_entry_with_far(change_entry e, uint32_t loc, bool known, uint32_t before,
                                   uint32_t after) {
    e.has_far = true;
    e.far_location = loc;
    e.far_before_known = known;
    e.far_before = before;
    e.far_after = after;
    return e;
}

struct span {
    const char *begin, *end;
};

// The next line of the text, without its line feed; false at the end.
bool next_line(const char *text, size_t length, size_t *pos, span *line) {
    if (*pos >= length) return false;
    const char *begin = text + *pos;
    const char *nl = static_cast<const char *>(memchr(begin, '\n', length - *pos));
    if (!nl) return false;  // a line cut short was never written whole
    *line = {begin, nl};
    *pos = static_cast<size_t>(nl - text) + 1;
    return true;
}

// The next word of the line; false, and an empty word, when none is left.
bool next_word(span *line, span *word) {
    while (line->begin < line->end && *line->begin == ' ') line->begin++;
    *word = span{line->end, line->end};
    if (line->begin == line->end) return false;
    const char *end = static_cast<const char *>(
        memchr(line->begin, ' ', static_cast<size_t>(line->end - line->begin)));
    word->begin = line->begin;
    word->end = end ? end : line->end;
    line->begin = word->end;
    return true;
}

bool is(span word, const char *text) {
    size_t n = strlen(text);
    return static_cast<size_t>(word.end - word.begin) == n && memcmp(word.begin, text, n) == 0;
}

bool number_of(span word, uint32_t *value) {
    number_read r;
    if (!read_number(word.begin, word.end, NUMBER_PREFIX, &r)) return false;
    *value = r.value;
    return true;
}

// The line's first word and, when it has one, its card.
bool line_card(span *line, span *kind, uint32_t *card_id) {
    span word;
    return next_word(line, kind) && next_word(line, &word) && number_of(word, card_id);
}

// Percent-decodes value into out, cut to fit. Exactly two hexadecimal
// digits follow a '%' that encodes; the text is read no further than the
// value's end (a journal's text has no terminating zero).
void decode(span value, char *out, size_t size) {
    size_t n = 0;
    for (const char *c = value.begin; c < value.end && n + 1 < size; c++) {
        number_read byte;
        if (*c == '%' && value.end - c >= 3 && read_number(c + 1, c + 3, NUMBER_HEX, &byte)) {
            out[n++] = static_cast<char>(byte.value);
            c += 2;
        } else {
            out[n++] = *c;
        }
    }
    out[n] = '\0';
}

// "key=value" words of a change line, into the entry.
void read_field(span word, change_entry *e) {
    const char *eq = static_cast<const char *>(
        memchr(word.begin, '=', static_cast<size_t>(word.end - word.begin)));
    if (!eq) return;
    const span key{word.begin, eq}, value{eq + 1, word.end};
    uint32_t n = 0;
    const bool numeric = number_of(value, &n);
    if (is(key, "index")) {
        e->has_index = numeric;
        e->index = n;
    } else if (is(key, "board")) {
        number_read r;
        if (read_number(value.begin, value.end, NUMBER_SIGN, &r))
            e->board_type = static_cast<int32_t>(r.value);
    } else if (is(key, "bits") && numeric) {
        e->word_bits = n;
    } else if (is(key, "time")) {
        e->time = 0;
        for (const char *c = value.begin; c < value.end && *c >= '0' && *c <= '9'; c++)
            if (e->time < (1LL << 52)) e->time = e->time * 10 + (*c - '0');
    } else if (is(key, "uid") && numeric) {
        e->uid = n;
    } else if (is(key, "user")) {
        decode(value, e->user, sizeof e->user);
    } else if (is(key, "tool")) {
        decode(value, e->tool, sizeof e->tool);
    } else if (is(key, "action")) {
        decode(value, e->action, sizeof e->action);
    } else if (is(key, "image")) {
        decode(value, e->image, sizeof e->image);
    }
}

// "loc LOCATION BEFORE AFTER", into the entry.
void read_location(span line, change_entry *e) {
    span word;
    uint32_t loc = 0, before = 0, after = 0;
    if (!next_word(&line, &word) || !number_of(word, &loc)) return;
    if (!next_word(&line, &word)) return;
    const bool known = number_of(word, &before);
    if (!next_word(&line, &word) || !number_of(word, &after)) return;
    if (loc >= CONFIG_LOCATIONS) {
        *e = change_entry_with_far(*e, loc, known, before, after);
        return;
    }
    e->locations |= bit(loc);
    if (known) e->before_known |= bit(loc);
    e->before[loc] = before;
    e->after[loc] = after;
}

struct card_event {
    uint32_t card_id;
    size_t order;
    bool open;  // "ready"; a "done" closes
};

int by_card(const void *a, const void *b) {
    const auto *x = static_cast<const card_event *>(a), *y = static_cast<const card_event *>(b);
    if (x->card_id != y->card_id) return x->card_id < y->card_id ? -1 : 1;
    return x->order < y->order ? -1 : x->order > y->order;
}

}  // namespace

bool unfinished_cards(const char *text, size_t length, card_ids *out) {
    *out = card_ids{};
    size_t count = 0, size = 0, pos = 0;
    card_event *events = nullptr;
    span line, kind;
    uint32_t card_id = 0, changing = 0;
    bool in_change = false;  // a "change" line was read, and not yet its "ready"
    while (next_line(text, length, &pos, &line)) {
        const bool has_card = line_card(&line, &kind, &card_id);
        if (is(kind, "change")) {
            in_change = has_card;
            changing = card_id;
        }
        // A "ready" ends the entry its "change" line began (as parse_entry
        // reads it): one without is no whole entry.
        const bool ready = has_card && is(kind, "ready") && in_change && changing == card_id;
        if (ready) in_change = false;
        if (!ready && !(has_card && is(kind, "done"))) continue;
        if (count == size) {
            void *more = reallocarray(events, size = size ? size * 2 : 64, sizeof *events);
            if (!more) return free(events), false;
            events = static_cast<card_event *>(more);
        }
        events[count] = card_event{card_id, count, is(kind, "ready")};
        count++;
    }
    if (count) qsort(events, count, sizeof *events, by_card);
    out->ids = static_cast<uint32_t *>(malloc((count ? count : 1) * sizeof(uint32_t)));
    if (!out->ids) return free(events), false;
    for (size_t k = 0; k < count; k++)
        if ((k + 1 == count || events[k + 1].card_id != events[k].card_id) && events[k].open)
            out->ids[out->count++] = events[k].card_id;  // its last event opened it
    free(events);
    return true;
}

void free_card_ids(card_ids *ids) {
    free(ids->ids);
    *ids = card_ids{};
}

bool holds_card(const card_ids &ids, uint32_t card_id) {
    size_t low = 0, high = ids.count;
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        if (ids.ids[mid] == card_id) return true;
        if (ids.ids[mid] < card_id) low = mid + 1;
        else high = mid;
    }
    return false;
}

namespace {

// The run's name, from the journal's first line.
bool read_run(span line, char *run, size_t size) {
    span word;
    if (!next_word(&line, &word) || !is(word, "sorvit") || !next_word(&line, &word) ||
        !is(word, "journal") || !next_word(&line, &word) || !next_word(&line, &word))
        return false;
    snprintf(run, size, "%.*s", static_cast<int>(word.end - word.begin), word.begin);
    return true;
}

}  // namespace

bool parse_entry(const char *text, size_t length, uint32_t card_id, change_entry *out) {
    change_entry draft{};
    bool ours = false, found = false, open = false;
    size_t pos = 0;
    span line, kind, word;
    uint32_t id = 0;
    while (next_line(text, length, &pos, &line)) {
        if (read_run(line, draft.run, sizeof draft.run)) continue;
        span rest = line;
        if (next_word(&rest, &kind) && is(kind, "loc")) {
            if (ours) read_location(rest, &draft);
            continue;
        }
        const bool this_card = line_card(&line, &kind, &id) && id == card_id;
        if (is(kind, "change")) {
            ours = this_card;
            if (!ours) continue;
            const change_entry head = draft;  // keeps the run's name
            draft = change_entry{};
            memcpy(draft.run, head.run, sizeof draft.run);
            draft.card_id = id;
            while (next_word(&line, &word)) read_field(word, &draft);
        } else if (!this_card) {
            continue;
        } else if (is(kind, "ready") && ours) {
            *out = draft;
            found = open = true;
            ours = false;
        } else if (is(kind, "w") && found && next_word(&line, &word) && number_of(word, &id)) {
            if (id < CONFIG_LOCATIONS) out->written |= bit(id);
            else if (out->has_far && id == out->far_location) out->far_written = true;
        } else if (is(kind, "left") && found) {
            out->left = true;
        } else if (is(kind, "done")) {
            open = false;
        }
    }
    return found && open;
}

namespace {

// The plans of the text, in order: each card's values, and whether a change
// of it began after it was planned.
struct plan_reader {
    change_entry *plans;
    size_t first, count, size;  // the plans of this text begin at first
    bool lost;
    change_entry *find(uint32_t card_id) {
        for (size_t k = first; k < count; k++)
            if (plans[k].card_id == card_id) return &plans[k];
        return nullptr;
    }
    change_entry *add() {
        if (count == size) {
            void *more = reallocarray(plans, size = size ? size * 2 : 16, sizeof *plans);
            if (!more) return lost = true, nullptr;
            plans = static_cast<change_entry *>(more);
        }
        plans[count] = change_entry{};
        return &plans[count++];
    }
};

}  // namespace

bool parse_plans(const char *text, size_t length, change_entry **out, size_t *count) {
    plan_reader r{*out, *count, *count, *count, false};
    const size_t first = *count;
    char run[sizeof r.plans->run] = "";
    change_entry *current = nullptr;
    size_t pos = 0;
    span line, kind, word;
    uint32_t id = 0, loc = 0, value = 0;
    while (!r.lost && next_line(text, length, &pos, &line)) {
        if (read_run(line, run, sizeof run)) continue;
        span rest = line;
        if (next_word(&rest, &kind) && is(kind, "t")) {
            if (current && next_word(&rest, &word) && number_of(word, &loc) &&
                loc < CONFIG_LOCATIONS && next_word(&rest, &word) && number_of(word, &value)) {
                current->locations |= bit(loc);
                current->after[loc] = value;
            }
            continue;
        }
        if (!line_card(&line, &kind, &id)) continue;
        if (is(kind, "plan") && (current = r.add())) {
            current->card_id = id;
            memcpy(current->run, run, sizeof current->run);
            while (next_word(&line, &word)) read_field(word, current);
        } else if (is(kind, "change") || is(kind, "done")) {
            if (change_entry *began = r.find(id)) began->locations = 0;  // no longer only a plan
            current = nullptr;
        }
    }
    size_t kept = first;
    for (size_t k = first; k < r.count; k++)
        if (r.plans[k].locations) r.plans[kept++] = r.plans[k];
    *out = r.plans;
    *count = kept;
    return !r.lost;
}

bool journal_all_done(int fd) {
    journal_text text;
    if (!read_journal(fd, &text)) return false;
    card_ids ids;
    bool all_done = unfinished_cards(text.data, text.length, &ids) && ids.count == 0;
    free_card_ids(&ids);
    free_journal_text(&text);
    return all_done;
}
