// The family's one number reader: the argument module, the image parser
// and the simulated card library's bank parser all read numbers with it,
// so that "0x10" or " 16" means the same wherever a user writes it.
//
// A text is taken only when the whole of it is one number: a typo must
// never become a value. The flags say what a caller's syntax allows.
#ifndef ARGS_NUMBER_H
#define ARGS_NUMBER_H

#include <cstdint>

constexpr unsigned NUMBER_PREFIX = 1;       // "0x" makes it hexadecimal
constexpr unsigned NUMBER_UPPER_X = 2;      // "0X" too
constexpr unsigned NUMBER_HEX = 4;          // hexadecimal, with or without "0x" (or "0X")
constexpr unsigned NUMBER_SIGN = 8;         // a '+' or '-' before a decimal number
constexpr unsigned NUMBER_SIGNED_HEX = 16;  // and before a hexadecimal one (and its prefix)
constexpr unsigned NUMBER_BLANKS = 32;      // white space before and after

struct number_read {
    uint32_t value;  // the 32 bits: with a minus, the two's complement
    bool negative;   // a minus was read (its magnitude at most 2^31)
    bool hex;        // it was hexadecimal
};

// Reads [begin, end): true, with *out, when it is one number of at most 32
// bits as the flags allow.
bool read_number(const char *begin, const char *end, unsigned flags, number_read *out);

// The number at the front of [begin, end), as far as its digits go: the
// byte after its last digit, or null when no number of at most 32 bits
// starts there. The caller says what may follow it.
const char *read_number_at(const char *begin, const char *end, unsigned flags, number_read *out);

// The same, of a whole NUL-terminated text.
bool read_number(const char *text, unsigned flags, number_read *out);

// White space as the "C" locale has it, around numbers and words alike.
inline bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline const char *skip_blanks(const char *s) {
    while (is_blank(*s)) s++;
    return s;
}

#endif
