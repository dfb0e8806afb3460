#include "metrics.h"

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "identity.h"
#include "report.h"
#include "utf8.h"

// What the metrics keep of each card's record.
struct card_metric {
    bool has_card, has_index, up_known, up, compared, image_only;
    bool id_known;  // the card, or the image that names it
    uint32_t card_id, index;
    int32_t board_type;
    unsigned word_bits;
    unsigned differing, protected_differing;
    bool change_known, unfinished;
    char *image;  // owned; for an image without its card
};

struct metrics {
    card_metric *cards;
    size_t count, capacity;
    bool out_of_memory;
};

namespace {

// The text of the file, grown as it is written.
struct text {
    char *data;
    size_t length, capacity;
    bool failed;
};

void add(text *t, const char *format, ...) __attribute__((format(printf, 2, 3)));

bool make_room(text *t, size_t more) {
    if (t->failed) return false;
    if (t->length + more < t->capacity) return true;
    size_t grown = t->capacity ? t->capacity : 4096;
    while (grown <= t->length + more && grown < SIZE_MAX / 2) grown *= 2;
    char *data = grown > t->length + more ? static_cast<char *>(realloc(t->data, grown)) : nullptr;
    if (!data) {
        t->failed = true;  // what was written is freed with the text
        return false;
    }
    t->data = data;
    t->capacity = grown;
    return true;
}

void add(text *t, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    if (n < 0 || !make_room(t, static_cast<size_t>(n) + 1)) return;
    va_start(ap, format);
    vsnprintf(t->data + t->length, t->capacity - t->length, format, ap);
    va_end(ap);
    t->length += static_cast<size_t>(n);
}

// A label value as the format wants it: backslash, double quote and line
// feed escaped, and UTF-8 (a byte that is no character becomes U+FFFD).
void add_label_value(text *t, const char *value) {
    const auto *in = reinterpret_cast<const unsigned char *>(value);
    const size_t length = strlen(value);
    for (size_t k = 0; k < length;) {
        size_t bytes = utf8_character(in + k, length - k);
        if (bytes == 0) add(t, "\xEF\xBF\xBD");
        else if (in[k] == '\\') add(t, "\\\\");
        else if (in[k] == '"') add(t, "\\\"");
        else if (in[k] == '\n') add(t, "\\n");
        else add(t, "%.*s", static_cast<int>(bytes), value + k);
        k += bytes ? bytes : 1;
    }
}

void add_family(text *t, const char *name, const char *help) {
    add(t, "# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
}

// Cards by ID, then the indices without one: a card that two indices show
// under one ID gives its series once, as the format allows no duplicate.
int by_card(const void *a, const void *b) {
    const auto *x = static_cast<const card_metric *>(a), *y = static_cast<const card_metric *>(b);
    if (x->id_known != y->id_known) return x->id_known ? -1 : 1;
    if (x->card_id != y->card_id) return x->card_id < y->card_id ? -1 : 1;
    return x->index < y->index ? -1 : x->index > y->index;
}

bool repeats(const metrics *m, size_t k) {
    return k > 0 && m->cards[k].id_known && m->cards[k - 1].id_known &&
           m->cards[k].card_id == m->cards[k - 1].card_id;
}

void add_card_info(text *t, const metrics *m) {
    add_family(t, "sorvit_card_info", "A card found: what the card-access library tells of it.");
    for (size_t k = 0; k < m->count; k++) {
        const card_metric &c = m->cards[k];
        if (!c.has_card || repeats(m, k)) continue;
        const unsigned bits = c.word_bits;
        char index[16] = "", word_bits[16] = "";
        if (c.has_index) snprintf(index, sizeof index, "%lu", static_cast<unsigned long>(c.index));
        if (bits) snprintf(word_bits, sizeof word_bits, "%u", bits);
        add(t,
            "sorvit_card_info{card_id=\"%lu\",index=\"%s\",board_type=\"%ld\",word_bits=\"%s\"} "
            "1\n",
            static_cast<unsigned long>(c.card_id), index, static_cast<long>(c.board_type),
            word_bits);
    }
}

void add_card_up(text *t, const metrics *m) {
    add_family(t, "sorvit_card_up", "1 when the card could be opened and read, 0 when not.");
    for (size_t k = 0; k < m->count; k++) {
        const card_metric &c = m->cards[k];
        if (!c.up_known || repeats(m, k)) continue;
        if (c.id_known)
            add(t, "sorvit_card_up{card_id=\"%lu\"} %d\n", static_cast<unsigned long>(c.card_id),
                c.up ? 1 : 0);
        else
            add(t, "sorvit_card_up{index=\"%lu\"} %d\n", static_cast<unsigned long>(c.index),
                c.up ? 1 : 0);
    }
}

void add_comparisons(text *t, const metrics *m) {
    static const struct {
        const char *name, *help;
    } FAMILIES[] = {
        {"sorvit_card_matches", "check: 1 when the card matches its image, 0 when it differs."},
        {"sorvit_card_differing_locations", "check: the locations where card and image differ."},
        {"sorvit_card_protected_differences",
         "check: the differing locations that only +unlock writes."},
    };
    for (int family = 0; family < 3; family++) {
        bool any = false;
        for (size_t k = 0; k < m->count; k++) {
            const card_metric &c = m->cards[k];
            if (!c.compared || !c.has_card || repeats(m, k)) continue;
            if (!any) add_family(t, FAMILIES[family].name, FAMILIES[family].help);
            any = true;
            const unsigned value = family == 0   ? c.differing == 0
                                   : family == 1 ? c.differing
                                                 : c.protected_differing;
            add(t, "%s{card_id=\"%lu\"} %u\n", FAMILIES[family].name,
                static_cast<unsigned long>(c.card_id), value);
        }
    }
}

void add_unfinished_changes(text *t, const metrics *m) {
    bool any = false;
    for (size_t k = 0; k < m->count; k++) {
        const card_metric &c = m->cards[k];
        if (!c.change_known || repeats(m, k)) continue;
        if (!any)
            add_family(t, "sorvit_card_unfinished_change",
                       "1 when a change of the card was cut short: recover or undo settles it.");
        any = true;
        add(t, "sorvit_card_unfinished_change{card_id=\"%lu\"} %d\n",
            static_cast<unsigned long>(c.card_id), c.unfinished ? 1 : 0);
    }
}

void add_images_without_cards(text *t, const metrics *m) {
    bool any = false;
    for (size_t k = 0; k < m->count; k++) {
        if (!m->cards[k].image_only) continue;
        if (!any)
            add_family(t, "sorvit_image_without_card", "An image whose card is not on this host.");
        any = true;
        add(t, "sorvit_image_without_card{image=\"");
        add_label_value(t, m->cards[k].image ? m->cards[k].image : "");
        add(t, "\"} 1\n");
    }
}

void add_run(text *t, bool success, double duration) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    add_family(t, "sorvit_run_success",
               "1 when the run went through its cards, 0 when it stopped before them.");
    add(t, "sorvit_run_success %d\n", success ? 1 : 0);
    add_family(t, "sorvit_run_duration_seconds", "How long the run took.");
    add(t, "sorvit_run_duration_seconds %.6f\n", duration);
    add_family(t, "sorvit_run_timestamp_seconds",
               "When the run ended, in seconds since the epoch.");
    add(t, "sorvit_run_timestamp_seconds %lld.%03ld\n", static_cast<long long>(now.tv_sec),
        now.tv_nsec / 1000000);
    add_family(t, "sorvit_build_info", "The version of sorvit-image that wrote these metrics.");
    add(t, "sorvit_build_info{version=\"%s\"} 1\n", tool_version().text);
}

void free_metrics(metrics *m) {
    for (size_t k = 0; k < m->count; k++) free(m->cards[k].image);
    free(m->cards);
    free(m);
}

}  // namespace

metrics *metrics_start() {
    auto *m = static_cast<metrics *>(calloc(1, sizeof(metrics)));
    if (!m) report_failure("Out of memory for the metrics\n");
    return m;
}

void metrics_card(metrics *m, const card_record &r) {
    if (m->count == m->capacity) {
        size_t grown = m->capacity ? m->capacity * 2 : 64;
        void *more = reallocarray(m->cards, grown, sizeof(card_metric));
        if (!more) {
            m->out_of_memory = true;
            return;
        }
        m->cards = static_cast<card_metric *>(more);
        m->capacity = grown;
    }
    card_metric c{};
    c.has_card = r.has_card;
    c.has_index = r.has_index;
    c.card_id = r.card.card_id;
    c.index = r.index;
    c.board_type = r.card.board_type;
    c.word_bits = r.card.word_bits;
    // A golden image names a card the host should have: it is down.
    c.id_known = r.has_card || r.image_only;
    c.up_known = c.id_known || (r.has_index && r.card_failed);
    c.up = r.has_card && !r.card_failed;
    c.compared = r.action == action_kind::CHECK && r.check.compared;
    if (c.compared) {
        c.differing = count_bits(r.check.differ);
        c.protected_differing = count_bits(r.check.differ & protected_locations(r.card));
    }
    c.change_known = r.change_known && r.has_card;
    c.unfinished = r.unfinished;
    c.image_only = r.image_only;
    if (r.image_only && r.file) {
        c.image = strdup(r.file);
        if (!c.image) m->out_of_memory = true;
    }
    m->cards[m->count++] = c;
}

bool metrics_finish(metrics *m, const char *file, bool run_success, double duration,
                    image_error *err) {
    if (m->count) qsort(m->cards, m->count, sizeof(card_metric), by_card);
    text t{};
    add_card_info(&t, m);
    add_card_up(&t, m);
    add_comparisons(&t, m);
    add_unfinished_changes(&t, m);
    add_images_without_cards(&t, m);
    add_run(&t, run_success, duration);
    const bool complete = !t.failed && !m->out_of_memory;
    free_metrics(m);
    // Half the metrics would say what is not so: none are written then.
    bool ok =
        complete && write_whole_file(path_named(file), "metrics file", t.data, t.length, true, err);
    if (!complete) set_image_error(err, "Out of memory for the metrics: none written");
    free(t.data);
    return ok;
}
