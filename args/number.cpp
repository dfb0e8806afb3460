#include "number.h"

#include <cstring>

namespace {

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }  // isspace, "C" locale

unsigned digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a') + 10;
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A') + 10;
    return 99;
}

// "0x" (or "0X") with a digit after it: a "0x" alone is no prefix.
bool has_prefix(const char *c, const char *end, unsigned flags) {
    return end - c > 2 && c[0] == '0' &&
           (c[1] == 'x' || (c[1] == 'X' && (flags & NUMBER_UPPER_X))) && digit_value(c[2]) < 16;
}

}  // namespace

bool read_number(const char *begin, const char *end, unsigned flags, number_read *out) {
    const char *c = begin;
    if (flags & NUMBER_BLANKS) {
        while (c < end && is_blank(*c)) c++;
        while (end > c && is_blank(end[-1])) end--;
    }
    number_read r{0, false, (flags & NUMBER_HEX) != 0};
    const bool signed_ = (flags & NUMBER_SIGN) && c < end && (*c == '-' || *c == '+');
    if (signed_) r.negative = *c++ == '-';
    const unsigned prefix_flags = flags & NUMBER_HEX ? flags | NUMBER_UPPER_X : flags;
    if ((flags & (NUMBER_PREFIX | NUMBER_HEX)) && has_prefix(c, end, prefix_flags)) {
        r.hex = true;
        c += 2;
    }
    if (c == end || (signed_ && r.hex && !(flags & NUMBER_SIGNED_HEX))) return false;
    const unsigned base = r.hex ? 16 : 10;
    uint64_t magnitude = 0;
    for (; c < end; c++) {
        const unsigned d = digit_value(*c);
        if (d >= base) return false;
        magnitude = magnitude * base + d;
        if (magnitude > 0xFFFFFFFFu) return false;  // checked at each digit: no length overflows
    }
    if (r.negative && magnitude > 0x80000000u) return false;
    r.value = r.negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
    *out = r;
    return true;
}

bool read_number(const char *text, unsigned flags, number_read *out) {
    return read_number(text, text + strlen(text), flags, out);
}
