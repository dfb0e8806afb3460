#include "journal_text.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// --- writing -----------------------------------------------------------------

// Percent-encodes text into out (room for three bytes a byte).
void encode(const char *text, char *out) {
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c; c++) {
        if (*c > ' ' && *c <= '~' && *c != '%') *out++ = static_cast<char>(*c);
        else out += snprintf(out, 4, "%%%02X", *c);
    }
    *out = '\0';
}

struct builder {
    char *data;
    size_t length, size;
    void add(const char *format, ...) __attribute__((format(printf, 2, 3)));
};

void builder::add(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(data + length, size - length, format, ap);
    va_end(ap);
    if (n > 0) length += static_cast<size_t>(n) < size - length ? static_cast<size_t>(n) : 0;
}

}  // namespace

void free_journal_text(journal_text *t) {
    free(t->data);
    *t = journal_text{};
}

bool format_entry(const change_entry &e, journal_text *out) {
    builder b{nullptr, 0,
              sizeof e.image * 3 + sizeof e.user * 3 + 512 + size_t{CONFIG_LOCATIONS} * 48};
    b.data = static_cast<char *>(malloc(b.size));
    char *encoded = static_cast<char *>(malloc(sizeof e.image * 3 + 1));
    if (!b.data || !encoded) {
        free(b.data);
        free(encoded);
        return false;
    }
    char index[16] = "-";
    if (e.has_index) snprintf(index, sizeof index, "%lu", static_cast<unsigned long>(e.index));
    b.add("change %lu index=%s board=%ld bits=%u time=%lld uid=%lu",
          static_cast<unsigned long>(e.card_id), index, static_cast<long>(e.board_type),
          e.word_bits, e.time, static_cast<unsigned long>(e.uid));
    const struct {
        const char *key, *value;
    } texts[] = {{"user", e.user}, {"tool", e.tool}, {"action", e.action}, {"image", e.image}};
    for (const auto &t : texts) {
        encode(t.value, encoded);
        b.add(" %s=%s", t.key, encoded);
    }
    b.add("\n");
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++) {
        if ((e.locations & bit(loc)) == 0) continue;
        char before[16] = "-";
        if (e.before_known & bit(loc))
            snprintf(before, sizeof before, "0x%lX", static_cast<unsigned long>(e.before[loc]));
        b.add("loc 0x%02lX %s 0x%lX\n", static_cast<unsigned long>(loc), before,
              static_cast<unsigned long>(e.after[loc]));
    }
    if (e.has_far) {
        char before[16] = "-";
        if (e.far_before_known)
            snprintf(before, sizeof before, "0x%lX", static_cast<unsigned long>(e.far_before));
        b.add("loc 0x%02lX %s 0x%lX\n", static_cast<unsigned long>(e.far_location), before,
              static_cast<unsigned long>(e.far_after));
    }
    b.add("ready %lu\n", static_cast<unsigned long>(e.card_id));
    free(encoded);
    *out = journal_text{b.data, b.length};
    return true;
}

bool format_plan(const change_entry &e, journal_text *out) {
    builder b{nullptr, 0, sizeof e.image * 3 + 256 + size_t{CONFIG_LOCATIONS} * 32};
    b.data = static_cast<char *>(malloc(b.size));
    char *encoded = static_cast<char *>(malloc(sizeof e.image * 3 + 1));
    if (!b.data || !encoded) {
        free(b.data);
        free(encoded);
        return false;
    }
    char index[16] = "-";
    if (e.has_index) snprintf(index, sizeof index, "%lu", static_cast<unsigned long>(e.index));
    encode(e.image, encoded);
    b.add("plan %lu index=%s image=%s\n", static_cast<unsigned long>(e.card_id), index, encoded);
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (e.locations & bit(loc))
            b.add("t 0x%02lX 0x%lX\n", static_cast<unsigned long>(loc),
                  static_cast<unsigned long>(e.after[loc]));
    b.add("planned %lu\n", static_cast<unsigned long>(e.card_id));
    free(encoded);
    *out = journal_text{b.data, b.length};
    return true;
}

bool read_journal(int fd, journal_text *out) {
    *out = journal_text{};
    size_t size = 0;
    for (;;) {
        if (out->length == size) {
            size = size ? size * 2 : 4096;
            if (size > JOURNAL_MAX_BYTES + 1) break;
            void *more = realloc(out->data, size);
            if (!more) break;
            out->data = static_cast<char *>(more);
        }
        ssize_t n =
            pread(fd, out->data + out->length, size - out->length, static_cast<off_t>(out->length));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0 || (free_journal_text(out), false);
        out->length += static_cast<size_t>(n);
    }
    free_journal_text(out);
    return false;
}
