#include "number.h"

#include <cstring>

namespace {

// The value of each byte as a digit, 99 for a byte that is none: the
// simulator's bank reads every word of a bank through here.
struct digit_table {
    unsigned char value[256];
    constexpr digit_table() : value() {
        for (int c = 0; c < 256; c++)
            value[c] = static_cast<unsigned char>(c >= '0' && c <= '9'   ? c - '0'
                                                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                         : 99);
    }
};
constexpr digit_table DIGITS;

unsigned digit_value(char c) { return DIGITS.value[static_cast<unsigned char>(c)]; }

// "0x" (or "0X") with a digit after it: a "0x" alone is no prefix.
bool has_prefix(const char *c, const char *end, unsigned flags) {
    return end - c > 2 && c[0] == '0' &&
           (c[1] == 'x' || (c[1] == 'X' && (flags & NUMBER_UPPER_X))) && digit_value(c[2]) < 16;
}

}  // namespace

const char *read_number_at(const char *begin, const char *end, unsigned flags, number_read *out) {
    const char *c = begin;
    number_read r{0, false, (flags & NUMBER_HEX) != 0};
    const bool signed_ = (flags & NUMBER_SIGN) && c < end && (*c == '-' || *c == '+');
    if (signed_) r.negative = *c++ == '-';
    const unsigned prefix_flags = flags & NUMBER_HEX ? flags | NUMBER_UPPER_X : flags;
    if ((flags & (NUMBER_PREFIX | NUMBER_HEX)) && has_prefix(c, end, prefix_flags)) {
        r.hex = true;
        c += 2;
    }
    if (signed_ && r.hex && !(flags & NUMBER_SIGNED_HEX)) return nullptr;
    const char *digits = c;
    uint64_t magnitude = 0;
    // Checked at each digit: no length overflows.
    for (unsigned d; r.hex && c < end && (d = digit_value(*c)) < 16; c++)
        if ((magnitude = magnitude << 4 | d) > 0xFFFFFFFFu) return nullptr;
    for (unsigned d; !r.hex && c < end && (d = digit_value(*c)) < 10; c++)
        if ((magnitude = magnitude * 10 + d) > 0xFFFFFFFFu) return nullptr;
    if (c == digits || (r.negative && magnitude > 0x80000000u)) return nullptr;
    r.value = r.negative ? 0u - static_cast<uint32_t>(magnitude) : static_cast<uint32_t>(magnitude);
    *out = r;
    return c;
}

bool read_number(const char *begin, const char *end, unsigned flags, number_read *out) {
    if (flags & NUMBER_BLANKS) {
        while (begin < end && is_blank(*begin)) begin++;
        while (end > begin && is_blank(end[-1])) end--;
    }
    number_read r;
    if (read_number_at(begin, end, flags, &r) != end) return false;
    *out = r;
    return true;
}

bool read_number(const char *text, unsigned flags, number_read *out) {
    return read_number(text, text + strlen(text), flags, out);
}
