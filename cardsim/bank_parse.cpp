// Reads the bank's text format (documented in the README):
//
//   [card]                     starts a card; its index is its place, from 0
//   key = value                settings: id, board_type, word_bits,
//                              eeprom_words, serial, model, fault
//   address: value value ...   word values from that location on (hex)
//
// '#' starts a comment. Settings come before a card's first data line, so
// that every data line can be checked against the card's size and width.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "bank.h"
#include "sim_status.h"

namespace {

constexpr size_t MAX_LINE = 4096;

enum setting_bit : unsigned {
    KEY_ID = 1u << 0,
    KEY_BOARD_TYPE = 1u << 1,
    KEY_WORD_BITS = 1u << 2,
    KEY_EEPROM_WORDS = 1u << 3,
    KEY_SERIAL = 1u << 4,
    KEY_MODEL = 1u << 5,
};

struct parser {
    const char *path;
    unsigned line;
    sim_bank bank;
    bool in_card;
    unsigned card_line;  // line of the current card's "[card]"
    unsigned seen;       // setting_bit of the settings given
    sim_card draft;      // settings of the current card
    sim_card *card;      // the current card, once its first data line is read
    sim_error *err;
};

bool fail(parser *p, const char *expected) {
    sim_error_set(p->err, SIM_BANK_MALFORMED, "bank file %s is malformed at line %u: expected %s",
                  p->path, p->line, expected);
    return false;
}

char *trim(char *s) {
    while (isspace(static_cast<unsigned char>(*s))) s++;
    size_t n = strlen(s);
    while (n > 0 && isspace(static_cast<unsigned char>(s[n - 1]))) s[--n] = '\0';
    return s;
}

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// A whole token as an unsigned 32-bit number: decimal, or hexadecimal with
// "0x"; with hex_only, hexadecimal with or without "0x".
bool parse_u32(const char *s, bool hex_only, uint32_t *out) {
    unsigned base = hex_only ? 16 : 10;
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    if (*s == '\0') return false;
    uint64_t value = 0;
    for (; *s; s++) {
        int d = digit_value(*s);
        if (d >= static_cast<int>(base)) return false;
        value = value * base + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFu) return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

// Signed decimal, or a 32-bit pattern in hexadecimal ("0xFFFFFFFF" is -1).
bool parse_i32(const char *s, int32_t *out) {
    bool negative = s[0] == '-';
    uint32_t magnitude;
    if (!parse_u32(negative ? s + 1 : s, false, &magnitude)) return false;
    if (!negative && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        *out = static_cast<int32_t>(magnitude);
        return true;
    }
    if (negative ? magnitude > 0x80000000u : magnitude > 0x7FFFFFFFu) return false;
    *out = negative ? static_cast<int32_t>(0u - magnitude) : static_cast<int32_t>(magnitude);
    return true;
}

// "read <location>" or "write <location>": the fault of one location.
bool parse_located_fault(parser *p, char *value, bool *matched) {
    static const struct {
        const char *word;
        unsigned bit;
        uint32_t sim_card::*location;
    } kinds[] = {{"read", FAULT_READ_AT, &sim_card::read_fault_at},
                 {"write", FAULT_WRITE_AT, &sim_card::write_fault_at}};
    for (const auto &k : kinds) {
        size_t n = strlen(k.word);
        if (strncmp(value, k.word, n) != 0 || !isspace(static_cast<unsigned char>(value[n])))
            continue;
        *matched = true;
        if (p->draft.faults & k.bit)
            return fail(p, k.bit == FAULT_READ_AT ? "one 'fault = read <location>' per card"
                                                  : "one 'fault = write <location>' per card");
        if (!parse_u32(trim(value + n), false, &(p->draft.*k.location)))
            return fail(p, k.bit == FAULT_READ_AT ? "a location after 'fault = read'"
                                                  : "a location after 'fault = write'");
        p->draft.faults |= k.bit;
        return true;
    }
    *matched = false;
    return false;
}

bool parse_fault(parser *p, char *value) {
    static const struct {
        const char *word;
        unsigned bit;
    } words[] = {
        {"open", FAULT_OPEN}, {"info", FAULT_INFO}, {"read", FAULT_READ}, {"write", FAULT_WRITE}};
    for (const auto &w : words)
        if (strcmp(value, w.word) == 0) {
            p->draft.faults |= w.bit;
            return true;
        }
    bool matched = false;
    bool ok = parse_located_fault(p, value, &matched);
    if (matched) return ok;
    return fail(p, "fault = open, info, read, read <location>, write or write <location>");
}

bool parse_setting(parser *p, const char *key, char *value) {
    static const struct {
        const char *name;
        unsigned bit;
    } keys[] = {{"id", KEY_ID},
                {"board_type", KEY_BOARD_TYPE},
                {"word_bits", KEY_WORD_BITS},
                {"eeprom_words", KEY_EEPROM_WORDS},
                {"serial", KEY_SERIAL},
                {"model", KEY_MODEL}};
    if (!p->in_card) return fail(p, "'[card]' before the first setting");
    if (p->card) return fail(p, "settings before the card's first data line");
    if (strcmp(key, "fault") == 0) return parse_fault(p, value);
    unsigned bit = 0;
    for (const auto &k : keys)
        if (strcmp(key, k.name) == 0) bit = k.bit;
    if (bit == 0)
        return fail(p,
                    "a setting: id, board_type, word_bits, eeprom_words, serial, model or fault");
    if (p->seen & bit) return fail(p, "each setting once per card");
    p->seen |= bit;
    sim_card *d = &p->draft;
    switch (bit) {
    case KEY_ID:
        return parse_u32(value, false, &d->id) || fail(p, "an unsigned 32-bit card id");
    case KEY_BOARD_TYPE:
        return parse_i32(value, &d->board_type) || fail(p, "a signed 32-bit board type");
    case KEY_WORD_BITS:
        return (parse_u32(value, false, &d->word_bits) &&
                (d->word_bits == 16 || d->word_bits == 32)) ||
               fail(p, "word_bits = 16 or 32");
    case KEY_EEPROM_WORDS:
        return (parse_u32(value, false, &d->eeprom_words) && d->eeprom_words >= 1 &&
                d->eeprom_words <= BANK_MAX_WORDS) ||
               fail(p, "eeprom_words from 1 to 65536");
    case KEY_SERIAL:
        return parse_u32(value, false, &d->serial) || fail(p, "an unsigned 32-bit serial number");
    default:  // KEY_MODEL
        if (strlen(value) > BANK_MODEL_MAX) return fail(p, "a model name of at most 43 characters");
        memcpy(d->model, value, strlen(value) + 1);
        return true;
    }
}

// Turns the draft into a card of the bank, once its settings are complete.
bool materialise(parser *p) {
    const unsigned required = KEY_ID | KEY_BOARD_TYPE | KEY_WORD_BITS;
    if ((p->seen & required) != required) {
        p->line = p->card_line;
        return fail(p, "id, board_type and word_bits in this card");
    }
    if (bank_find_id(&p->bank, p->draft.id)) {
        p->line = p->card_line;
        return fail(p, "a card id not used by an earlier card");
    }
    const sim_card &d = p->draft;
    p->card = bank_add_card(&p->bank, d.id, d.board_type, d.word_bits, d.eeprom_words);
    if (!p->card) {
        sim_error_set(p->err, SIM_NO_MEMORY, "out of memory reading bank file %s", p->path);
        return false;
    }
    p->card->serial = d.serial;
    p->card->faults = d.faults;
    p->card->read_fault_at = d.read_fault_at;
    p->card->write_fault_at = d.write_fault_at;
    memcpy(p->card->model, d.model, sizeof d.model);
    return true;
}

bool finish_card(parser *p) {
    if (p->in_card && !p->card && !materialise(p)) return false;
    p->in_card = false;
    return true;
}

bool parse_data(parser *p, char *address_text, char *values) {
    if (!p->in_card) return fail(p, "'[card]' before the first data line");
    if (!p->card && !materialise(p)) return false;
    uint32_t address;
    if (!parse_u32(trim(address_text), true, &address))
        return fail(p, "a hexadecimal location before ':'");
    sim_card *card = p->card;
    char *save = nullptr;
    for (char *tok = strtok_r(values, " \t", &save); tok; tok = strtok_r(nullptr, " \t", &save)) {
        uint32_t value;
        if (!parse_u32(tok, true, &value)) return fail(p, "hexadecimal word values");
        if (address >= card->eeprom_words)
            return fail(p, "locations below the card's eeprom_words");
        if (!word_fits(card, value)) return fail(p, "values that fit the card's word_bits");
        card->words[address++] = value;
    }
    return true;
}

bool parse_line(parser *p, char *line) {
    char *hash = strchr(line, '#');
    if (hash) *hash = '\0';
    char *text = trim(line);
    if (*text == '\0') return true;
    if (strcmp(text, "[card]") == 0) {
        if (!finish_card(p)) return false;
        p->in_card = true;
        p->card_line = p->line;
        p->seen = 0;
        p->card = nullptr;
        p->draft = sim_card{};
        p->draft.eeprom_words = BANK_DEFAULT_WORDS;
        return true;
    }
    if (char *eq = strchr(text, '=')) {
        *eq = '\0';
        return parse_setting(p, trim(text), trim(eq + 1));
    }
    if (char *colon = strchr(text, ':')) {
        *colon = '\0';
        return parse_data(p, text, colon + 1);
    }
    return fail(p, "'[card]', 'key = value' or 'location: values'");
}

}  // namespace

bool bank_parse(const char *text, size_t length, const char *path, sim_bank *out, sim_error *err) {
    parser p{};
    p.path = path;
    p.err = err;
    char line[MAX_LINE];
    size_t pos = 0;
    bool ok = true;
    while (ok && pos < length) {
        p.line++;
        const char *start = text + pos;
        const void *nl = memchr(start, '\n', length - pos);
        size_t n = nl ? static_cast<size_t>(static_cast<const char *>(nl) - start) : length - pos;
        pos += n + (nl ? 1 : 0);
        if (n >= MAX_LINE) ok = fail(&p, "a line shorter than 4096 bytes");
        else if (memchr(start, '\0', n)) ok = fail(&p, "text, not a NUL byte");
        else {
            memcpy(line, start, n);
            line[n] = '\0';
            ok = parse_line(&p, line);
        }
    }
    if (ok) ok = finish_card(&p);
    if (!ok) {
        bank_free(&p.bank);
        return false;
    }
    *out = p.bank;
    return true;
}
