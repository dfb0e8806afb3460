// Text as UTF-8, for what is cut to fit a buffer and what goes into JSON:
// names come from users and file systems, which promise no encoding.
#ifndef CARDTOOL_UTF8_H
#define CARDTOOL_UTF8_H

#include <cstddef>

// Bytes of the well-formed character at s (1 to 4; no overlong form, no
// surrogate, nothing past U+10FFFF), or 0 when the bytes there are not one.
inline size_t utf8_character(const unsigned char *s, size_t left) {
    if (left == 0) return 0;
    if (s[0] < 0x80) return 1;
    const size_t n = s[0] >= 0xF0 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC2 ? 2 : 0;
    if (n == 0 || s[0] > 0xF4 || left < n) return 0;
    for (size_t k = 1; k < n; k++)
        if ((s[k] & 0xC0) != 0x80) return 0;
    if (n == 3 && s[0] == 0xE0 && s[1] < 0xA0) return 0;   // overlong
    if (n == 3 && s[0] == 0xED && s[1] >= 0xA0) return 0;  // a surrogate
    if (n == 4 && s[0] == 0xF0 && s[1] < 0x90) return 0;   // overlong
    if (n == 4 && s[0] == 0xF4 && s[1] >= 0x90) return 0;  // past U+10FFFF
    return n;
}

// Where to cut text of this length to at most max bytes without splitting
// a character: max, or less by the bytes of the character it would split.
inline size_t utf8_cut(const char *text, size_t length, size_t max) {
    if (length <= max) return length;
    size_t at = max;
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) at--;
    return at;
}

// The length of text without a character that a cut at its end split.
inline size_t utf8_trim_partial(const char *text, size_t length) {
    size_t lead = length;
    while (lead > 0 && lead + 4 > length &&
           (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80)
        lead--;
    if (lead == 0) return length;
    const auto first = static_cast<unsigned char>(text[lead - 1]);
    const size_t wanted = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    return length - (lead - 1) < wanted ? lead - 1 : length;
}

#endif
