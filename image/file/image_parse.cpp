// Reads the image text format (see image_file.h).
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cells.h"
#include "image_file.h"
#include "number.h"
#include "utf8.h"

namespace {

struct parser {
    const char *name;
    unsigned line;
    eeprom_image *image;
    image_error *err;
    unsigned card_line;    // where the card was named, by card_id or the dump's card line
    bool card_id_setting;  // card_id was given as a setting
};

bool fail(const parser *p, const char *format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace

void set_image_error(image_error *err, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(err->text, sizeof err->text - 1, format, ap);
    va_end(ap);
    size_t length = n < 0 ? 0 : strnlen(err->text, sizeof err->text - 2);
    if (n > 0 && static_cast<size_t>(n) > length) length = utf8_trim_partial(err->text, length);
    memcpy(err->text + length, "\n", 2);
}

namespace {

bool fail(const parser *p, const char *format, ...) {
    char expected[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(expected, sizeof expected, format, ap);
    va_end(ap);
    set_image_error(p->err, "Image file %s is invalid at line %u: expected %s", p->name, p->line,
                    expected);
    return false;
}

char *trim(char *s) {
    while (is_blank(*s)) s++;
    size_t n = strlen(s);
    while (n > 0 && is_blank(s[n - 1])) s[--n] = '\0';
    return s;
}

// "0x" and hexadecimal digits, at most 32 bits; returns the end or null.
const char *read_hex(const char *s, uint32_t *out) {
    const char *end = s[0] == '0' && (s[1] == 'x' || s[1] == 'X') ? s + 2 : s;
    while (isxdigit(static_cast<unsigned char>(*end))) end++;
    number_read r;
    if (!read_number(s, end, NUMBER_PREFIX | NUMBER_UPPER_X, &r) || !r.hex) return nullptr;
    *out = r.value;
    return end;
}

// A whole setting value: decimal, or "0x" hexadecimal; a sign for the
// signed board type.
bool read_setting(const char *s, bool is_signed, uint32_t *out) {
    number_read r;
    const unsigned sign = is_signed ? NUMBER_SIGN | NUMBER_SIGNED_HEX : 0;
    if (!read_number(s, NUMBER_PREFIX | NUMBER_UPPER_X | sign, &r)) return false;
    if (is_signed && !r.hex && !r.negative && r.value > 0x7FFFFFFFu) return false;
    *out = r.value;
    return true;
}

// The ID of the dump's card line (cells.h), whose prefix the caller found;
// null when the rest is not "N(0xN)" of one number.
const char *card_line_id(const char *text, uint32_t *id) {
    const char *digits = text + sizeof CARD_LINE_PREFIX - 1, *s = digits;
    while (*s >= '0' && *s <= '9') s++;
    number_read decimal;
    uint32_t hex = 0;
    if (*s != '(' || !read_number(digits, s, 0, &decimal)) return nullptr;
    s = read_hex(s + 1, &hex);
    if (!s || *s != ')' || hex != decimal.value || *skip_blanks(s + 1) != '\0') return nullptr;
    *id = hex;
    return s;
}

// Names the image's card, once, by card_id or by the dump's card line: two
// namings must agree.
bool name_card(parser *p, uint32_t id) {
    eeprom_image *im = p->image;
    if (im->has_card_id && im->card_id != id)
        return fail(p, "card %lu, the card that line %u names",
                    static_cast<unsigned long>(im->card_id), p->card_line);
    if (!im->has_card_id) p->card_line = p->line;
    im->has_card_id = true;
    im->card_id = id;
    return true;
}

bool parse_setting(parser *p, const char *key, const char *value) {
    eeprom_image *im = p->image;
    bool *seen;
    bool ok;
    if (strcmp(key, "card_id") == 0) {
        uint32_t id = 0;
        if (p->card_id_setting) return fail(p, "each setting once");
        if (!read_setting(value, false, &id)) return fail(p, "card_id = a number");
        p->card_id_setting = true;
        return name_card(p, id);
    } else if (strcmp(key, "board_type") == 0) {
        seen = &im->has_board_type;
        uint32_t bits = 0;
        ok = read_setting(value, true, &bits);
        im->board_type = static_cast<int32_t>(bits);
    } else if (strcmp(key, "word_bits") == 0) {
        seen = &im->has_word_bits;
        ok = read_setting(value, false, &im->word_bits) &&
             (im->word_bits == 16 || im->word_bits == 32);
    } else {
        return fail(p, "a setting: card_id, board_type or word_bits");
    }
    if (*seen) return fail(p, "each setting once");
    *seen = true;
    return ok || fail(p, "%s = a number%s", key, *key == 'w' ? " (16 or 32)" : "");
}

// One cell (CELL_SYNTAX); returns the end or null.
const char *parse_cell(parser *p, const char *s) {
    uint32_t location, value;
    const char *end = s[0] == '[' ? read_hex(s + 1, &location) : nullptr;
    if (!end || *end != ']') {
        fail(p, "a cell '%s'", CELL_SYNTAX);
        return nullptr;
    }
    end = skip_blanks(end + 1);
    if (*end != '=') {
        fail(p, "'=' after the location in a cell '%s'", CELL_SYNTAX);
        return nullptr;
    }
    end = skip_blanks(end + 1);
    if (strncmp(end, "0x?", 3) == 0 || strncmp(end, "0X?", 3) == 0) {
        fail(p, "a value at 0x%02X, not question marks (the dump could not read it)",
             static_cast<unsigned>(location));
        return nullptr;
    }
    const char *after = read_hex(end, &value);
    if (!after || (*after != '\0' && !is_blank(*after))) {
        fail(p, "a hexadecimal value '0x...' of at most 32 bits at 0x%02X",
             static_cast<unsigned>(location));
        return nullptr;
    }
    eeprom_image *im = p->image;
    if (location >= CONFIG_LOCATIONS) {
        fail(p, "a location from 0x00 to 0x%02X, not 0x%X", CONFIG_LOCATIONS - 1,
             static_cast<unsigned>(location));
        return nullptr;
    }
    if (image_lists(im, location)) {
        fail(p, "each location once: 0x%02X is also at line %u", static_cast<unsigned>(location),
             im->lines[location]);
        return nullptr;
    }
    im->listed |= uint64_t{1} << location;
    im->values[location] = value;
    im->lines[location] = p->line;
    return after;
}

bool parse_line(parser *p, char *line) {
    if (char *hash = strchr(line, '#')) *hash = '\0';
    const char *text = skip_blanks(line);
    if (*text == '\0') return true;
    uint32_t id;
    if (strncmp(text, CARD_LINE_PREFIX, sizeof CARD_LINE_PREFIX - 1) == 0)
        return card_line_id(text, &id) ? name_card(p, id)
                                       : fail(p, "a card line '%sN(0xN)'", CARD_LINE_PREFIX);
    if (*text == '[') {
        for (const char *s = text; *s; s = skip_blanks(s))
            if (!(s = parse_cell(p, s))) return false;
        return true;
    }
    char *eq = strchr(line, '=');
    if (!eq) return fail(p, "a cell '%s', a setting 'key = value' or a comment", CELL_SYNTAX);
    *eq = '\0';
    return parse_setting(p, trim(line), trim(eq + 1));
}

// Values must fit the word width the image declares.
bool check_widths(parser *p) {
    if (!p->image->has_word_bits || p->image->word_bits == 32) return true;
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (image_lists(p->image, loc) && p->image->values[loc] > 0xFFFFu) {
            p->line = p->image->lines[loc];
            return fail(p, "a value that fits 16-bit words at 0x%02X", static_cast<unsigned>(loc));
        }
    return true;
}

}  // namespace

bool parse_image(const char *text, size_t length, const char *name, eeprom_image *out,
                 image_error *err) {
    *out = eeprom_image{};
    parser p{name, 0, out, err, 0, false};
    if (length > IMAGE_MAX_BYTES) {
        set_image_error(err, "Image file %s is invalid: larger than %zu KiB", name,
                        IMAGE_MAX_BYTES / 1024);
        return false;
    }
    // A line is at most the whole text; one image is parsed at a time, and
    // 64 KiB is kept off the stack.
    static char line[IMAGE_MAX_BYTES + 1];
    for (size_t pos = 0; pos < length;) {
        p.line++;
        const char *start = text + pos;
        const void *nl = memchr(start, '\n', length - pos);
        size_t n = nl ? static_cast<size_t>(static_cast<const char *>(nl) - start) : length - pos;
        pos += n + (nl ? 1 : 0);
        if (memchr(start, '\0', n)) return fail(&p, "text, not a NUL byte");
        memcpy(line, start, n);
        line[n] = '\0';
        if (!parse_line(&p, line)) return false;
    }
    if (out->listed == 0) {
        set_image_error(err, "Image file %s is invalid: it lists no location", name);
        return false;
    }
    return check_widths(&p);
}
