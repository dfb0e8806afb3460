// The bank's words and numbers, read in place: spans of the text, numbers,
// and the tokens of data lines, fast enough that an open costs little.
// Inline, for the parser's inner loops.
#ifndef CARDSIM_BANK_LEX_H
#define CARDSIM_BANK_LEX_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "number.h"

namespace bank_lex {

// A piece of the text, [begin, end).
struct span {
    const char *begin;
    const char *end;
    size_t size() const { return static_cast<size_t>(end - begin); }
    // Whether the span starts with word; then, whether that is all of it.
    const char *after(const char *word) const {
        const char *c = begin;
        for (; *word; word++, c++)
            if (c == end || *c != *word) return nullptr;
        return c;
    }
    bool is(const char *word) const { return after(word) == end; }
};

// White space as isspace() has it in the "C" locale.
inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline span trim(span s) {
    while (s.begin < s.end && is_space(*s.begin)) s.begin++;
    while (s.end > s.begin && is_space(s.end[-1])) s.end--;
    return s;
}

// The value of a hexadecimal digit; 99 for any other byte.
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
inline constexpr digit_table DIGITS;

// A whole span as an unsigned 32-bit number: decimal, or hexadecimal with
// "0x"; with hex_only, hexadecimal with or without "0x".
inline bool parse_u32(span s, bool hex_only, uint32_t *out) {
    number_read r;
    const unsigned flags = hex_only ? NUMBER_HEX : NUMBER_PREFIX | NUMBER_UPPER_X;
    if (!read_number(s.begin, s.end, flags, &r)) return false;
    *out = r.value;
    return true;
}

// Signed decimal, or a 32-bit pattern in hexadecimal ("0xFFFFFFFF" is -1).
inline bool parse_i32(span s, int32_t *out) {
    number_read r;
    const unsigned flags = NUMBER_PREFIX | NUMBER_UPPER_X | NUMBER_SIGN | NUMBER_SIGNED_HEX;
    if (!read_number(s.begin, s.end, flags, &r)) return false;
    if (!r.hex && !r.negative && r.value > 0x7FFFFFFFu) return false;
    *out = static_cast<int32_t>(r.value);
    return true;
}

inline bool is_separator(const char *c, const char *end) {
    return c == end || *c == ' ' || *c == '\t';
}

// Eight hexadecimal digits, the token that the bank's writer puts down for a
// 32-bit word, decoded eight bytes at a time; false for any other token.
inline bool read_eight_digits(const char *c, const char *end, uint32_t *value) {
    if (end - c < 8 || !is_separator(c + 8, end)) return false;
    constexpr uint64_t ONES = 0x0101010101010101u, HIGH = 0x8080808080808080u;
    uint64_t x;
    memcpy(&x, c, 8);  // byte i is c[i]
    // With every byte below 0x80, adding to a byte never carries into the next.
    uint64_t lower = x | ONES * 0x20;
    uint64_t digit = (x + ONES * (0x80 - '0')) & ~(x + ONES * (0x80 - '9' - 1)) & HIGH;
    uint64_t letter = (lower + ONES * (0x80 - 'a')) & ~(lower + ONES * (0x80 - 'f' - 1)) & HIGH;
    if ((x & HIGH) != 0 || (digit | letter) != HIGH) return false;
    uint64_t nibbles = (x & ONES * 0x0F) + (letter >> 7) * 9;  // byte i: the value of c[i]
    uint64_t pairs = (nibbles << 4 | nibbles >> 8) & 0x00FF00FF00FF00FFu;  // bytes 0, 2, 4, 6
    uint64_t quads = (pairs | pairs >> 8) & 0x0000FFFF0000FFFFu;           // bytes 0, 1, 4, 5
    *value = __builtin_bswap32(static_cast<uint32_t>(quads | quads >> 16));
    return true;
}

// Exactly eight, or four, upper-case hexadecimal digits, as the bank's
// writer puts them down: eight bytes checked at a time.
inline bool upper_hex_swar(uint64_t x, uint32_t *value) {
    constexpr uint64_t ONES = 0x0101010101010101u, HIGH = 0x8080808080808080u;
    uint64_t digit = (x + ONES * (0x80 - '0')) & ~(x + ONES * (0x80 - '9' - 1)) & HIGH;
    uint64_t letter = (x + ONES * (0x80 - 'A')) & ~(x + ONES * (0x80 - 'F' - 1)) & HIGH;
    if ((x & HIGH) != 0 || (digit | letter) != HIGH) return false;
    uint64_t nibbles = (x & ONES * 0x0F) + (letter >> 7) * 9;
    uint64_t pairs = (nibbles << 4 | nibbles >> 8) & 0x00FF00FF00FF00FFu;
    uint64_t quads = (pairs | pairs >> 8) & 0x0000FFFF0000FFFFu;
    *value = __builtin_bswap32(static_cast<uint32_t>(quads | quads >> 16));
    return true;
}
// The check alone, for text that is only compared, not decoded.
inline bool upper_hex_valid(uint64_t x) {
    constexpr uint64_t ONES = 0x0101010101010101u, HIGH = 0x8080808080808080u;
    uint64_t digit = (x + ONES * (0x80 - '0')) & ~(x + ONES * (0x80 - '9' - 1));
    uint64_t letter = (x + ONES * (0x80 - 'A')) & ~(x + ONES * (0x80 - 'F' - 1));
    return ((x & HIGH) | ((digit | letter) & HIGH)) == HIGH;
}
inline bool upper_hex8(const char *c, uint32_t *value) {
    uint64_t x;
    memcpy(&x, c, 8);  // byte i is c[i]
    return upper_hex_swar(x, value);
}
inline bool upper_hex4(const char *c, uint32_t *value) {
    uint32_t four;
    memcpy(&four, c, 4);
    uint64_t x = uint64_t{0x30303030} << 32 | four;  // padded with '0' digits
    if (!upper_hex_swar(x, value)) return false;
    *value >>= 16;
    return true;
}

// Four digits, the token of a 16-bit word: unrolled, no branch per digit.
inline bool read_four_digits(const char *c, const char *end, uint32_t *value) {
    constexpr int N = 4;
    if (end - c < N || !is_separator(c + N, end)) return false;
    unsigned bad = 0, v = 0;
#pragma GCC unroll 4
    for (int i = 0; i < N; i++) {
        unsigned d = static_cast<unsigned>(DIGITS.value[static_cast<unsigned char>(c[i])]);
        bad |= d;
        v = v << 4 | (d & 15u);
    }
    *value = v;
    return bad < 16;
}

// A token of any length: hexadecimal digits that fit in 32 bits.
inline const char *read_digits(const char *c, const char *end, uint32_t *value) {
    const char *token = c;
    while (c < end && DIGITS.value[static_cast<unsigned char>(*c)] < 16) c++;
    number_read r;
    if (!is_separator(c, end) || !read_number(token, c, NUMBER_HEX, &r)) return nullptr;
    *value = r.value;
    return c;
}

// A NUL byte is refused in any line that is read. The text is searched a
// block at a time, as far as the parse has come: an open that stops early
// does not search the rest.
struct nul_search {
    const char *end;
    const char *searched;  // up to here
    const char *found;
    bool found_before(const char *limit) {
        while (!found && searched < limit) {
            size_t block = end - searched < 4096 ? static_cast<size_t>(end - searched) : 4096;
            found = static_cast<const char *>(memchr(searched, '\0', block));
            searched += block;
        }
        return found && found < limit;
    }
};

}  // namespace bank_lex

#endif
