// The scan of bank text: lines, settings and cards (see bank_scan.h), and
// the decoding of a card's data lines. One lexer serves both: a line is
// cut at its comment and trimmed, then told apart by what it holds; every
// number goes through the family's number reader.
#include "bank_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "number.h"
#include "sim_status.h"

namespace {

constexpr size_t MAX_LINE = 4096;

// A piece of the text, [begin, end).
struct span {
    const char *begin;
    const char *end;
    size_t size() const { return static_cast<size_t>(end - begin); }
    bool is(const char *word) const {
        return size() == strlen(word) && memcmp(begin, word, size()) == 0;
    }
    const char *find(char c) const { return static_cast<const char *>(memchr(begin, c, size())); }
};

span trim(span s) {
    while (s.begin < s.end && is_blank(*s.begin)) s.begin++;
    while (s.end > s.begin && is_blank(s.end[-1])) s.end--;
    return s;
}

// The line that starts at *pos, without its line feed; *pos moves past it.
span next_line(const char *text, size_t length, size_t *pos) {
    const char *begin = text + *pos;
    const char *nl = static_cast<const char *>(memchr(begin, '\n', length - *pos));
    const char *end = nl ? nl : text + length;
    *pos = static_cast<size_t>(end - text) + (nl ? 1 : 0);
    return {begin, end};
}

// What a line says once its comment is cut: nothing (empty), or its text.
span content(span line) {
    if (const char *hash = line.find('#')) line.end = hash;
    return trim(line);
}

bool read_u32(span s, unsigned flags, uint32_t *out) {
    number_read r;
    if (!read_number(s.begin, s.end, flags, &r)) return false;
    *out = r.value;
    return true;
}
constexpr unsigned DECIMAL_OR_0X = NUMBER_PREFIX | NUMBER_UPPER_X;

// Signed decimal, or a 32-bit pattern in hexadecimal ("0xFFFFFFFF" is -1).
bool read_i32(span s, int32_t *out) {
    number_read r;
    if (!read_number(s.begin, s.end, DECIMAL_OR_0X | NUMBER_SIGN | NUMBER_SIGNED_HEX, &r))
        return false;
    if (!r.hex && !r.negative && r.value > 0x7FFFFFFFu) return false;
    *out = static_cast<int32_t>(r.value);
    return true;
}

bool malformed(sim_error *err, const char *path, unsigned line, const char *expected) {
    sim_error_set(err, SIM_BANK_MALFORMED, "bank file %s is malformed at line %u: expected %s",
                  path, line, expected);
    return false;
}

bool fail_at(bank_scan *s, unsigned line, const char *expected) {
    return malformed(&s->error, s->path, line, expected);
}

// What was expected, written with a number (a limit).
struct expected_text {
    char text[128];
};
expected_text with_number(const char *before, unsigned long long n, const char *after) {
    expected_text e;
    snprintf(e.text, sizeof e.text, "%s%llu%s", before, n, after);
    return e;
}
bool fail(bank_scan *s, const char *expected) { return fail_at(s, s->line, expected); }

bool out_of_memory(sim_error *err, const char *path) {
    sim_error_set(err, SIM_NO_MEMORY, "out of memory reading bank file %s", path);
    return false;
}
bool out_of_memory(bank_scan *s) { return out_of_memory(&s->error, s->path); }

// --- the ID index -----------------------------------------------------------

constexpr size_t ID_SLOTS = size_t{1} << ID_SLOT_BITS;

// The high bits of the product: Fibonacci hashing.
size_t id_slot(uint32_t id) {
    return static_cast<uint32_t>(id * 2654435761u) >> (32 - ID_SLOT_BITS);
}

size_t id_lookup(const bank_scan *s, uint32_t id) {
    for (size_t i = id_slot(id); s->id_slots[i] != 0; i = (i + 1) % ID_SLOTS)
        if (s->bank.cards[s->id_slots[i] - 1].id == id) return s->id_slots[i] - 1;
    return NO_CARD;
}

// Indexes the card at place, whose ID no earlier card has.
void id_insert(bank_scan *s, size_t place) {
    size_t i = id_slot(s->bank.cards[place].id);
    while (s->id_slots[i] != 0) i = (i + 1) % ID_SLOTS;
    s->id_slots[i] = static_cast<uint16_t>(place + 1);
}

// --- settings ---------------------------------------------------------------

enum setting_bit : unsigned {
    KEY_ID = 1u << 0,
    KEY_BOARD_TYPE = 1u << 1,
    KEY_WORD_BITS = 1u << 2,
    KEY_EEPROM_WORDS = 1u << 3,
    KEY_SERIAL = 1u << 4,
    KEY_MODEL = 1u << 5,
};

// "open", "info", "read", "write", or "read <location>", "write <location>".
bool parse_fault(bank_scan *s, sim_card *card, span value) {
    if (value.size() > 3 && memcmp(value.begin, "cut", 3) == 0 && is_blank(value.begin[3])) {
        if (!read_u32(trim({value.begin + 3, value.end}), DECIMAL_OR_0X, &card->cut_after))
            return fail(s, "a number of writes after 'fault = cut'");
        card->has_cut = true;
        return true;
    }
    static const struct {
        const char *word;
        unsigned bit;
        location_set sim_card::*located;
        const char *missing;
    } kinds[] = {
        {"open", FAULT_OPEN, nullptr, nullptr},
        {"info", FAULT_INFO, nullptr, nullptr},
        {"read", FAULT_READ, &sim_card::read_faults, "a location after 'fault = read'"},
        {"write", FAULT_WRITE, &sim_card::write_faults, "a location after 'fault = write'"}};
    span word{value.begin, value.begin};
    while (word.end < value.end && !is_blank(*word.end)) word.end++;
    const span location_text = trim({word.end, value.end});
    for (const auto &k : kinds) {
        if (!word.is(k.word) || (location_text.size() > 0 && !k.located)) continue;
        uint32_t location;
        if (location_text.size() == 0) card->faults |= k.bit;
        else if (!read_u32(location_text, DECIMAL_OR_0X, &location)) return fail(s, k.missing);
        else if (!location_set_add(&(card->*k.located), location)) return out_of_memory(s);
        return true;
    }
    return fail(
        s, "fault = open, info, read, read <location>, write, write <location> or cut <writes>");
}

bool set_setting(bank_scan *s, sim_card *d, unsigned bit, span value) {
    switch (bit) {
    case KEY_ID:
        return read_u32(value, DECIMAL_OR_0X, &d->id) || fail(s, "an unsigned 32-bit card id");
    case KEY_BOARD_TYPE:
        return read_i32(value, &d->board_type) || fail(s, "a signed 32-bit board type");
    case KEY_WORD_BITS:
        return (read_u32(value, DECIMAL_OR_0X, &d->word_bits) &&
                (d->word_bits == 16 || d->word_bits == 32)) ||
               fail(s, "word_bits = 16 or 32");
    case KEY_EEPROM_WORDS:
        return (read_u32(value, DECIMAL_OR_0X, &d->eeprom_words) && d->eeprom_words >= 1 &&
                d->eeprom_words <= BANK_MAX_WORDS) ||
               fail(s, with_number("eeprom_words from 1 to ", BANK_MAX_WORDS, "").text);
    case KEY_SERIAL:
        return read_u32(value, DECIMAL_OR_0X, &d->serial) ||
               fail(s, "an unsigned 32-bit serial number");
    default:  // KEY_MODEL; the card starts zeroed
        if (value.size() > BANK_MODEL_MAX)
            return fail(
                s, with_number("a model name of at most ", BANK_MODEL_MAX, " characters").text);
        memcpy(d->model, value.begin, value.size());
        return true;
    }
}

bool parse_setting(bank_scan *s, sim_card *card, unsigned *seen, span key, span value) {
    static const struct {
        const char *name;
        unsigned bit;
    } keys[] = {{"id", KEY_ID},
                {"board_type", KEY_BOARD_TYPE},
                {"word_bits", KEY_WORD_BITS},
                {"eeprom_words", KEY_EEPROM_WORDS},
                {"serial", KEY_SERIAL},
                {"model", KEY_MODEL}};
    if (key.is("fault")) return parse_fault(s, card, value);
    for (const auto &k : keys) {
        if (!key.is(k.name)) continue;
        if (*seen & k.bit) return fail(s, "each setting once per card");
        *seen |= k.bit;
        return set_setting(s, card, k.bit, value);
    }
    return fail(s, "a setting: id, board_type, word_bits, eeprom_words, serial, model or fault");
}

// --- cards ------------------------------------------------------------------

// A card's settings once they are complete, at its first data line or at
// its end: the error names its "[card]" line.
bool check_card(bank_scan *s, const sim_card &card, unsigned seen) {
    const unsigned required = KEY_ID | KEY_BOARD_TYPE | KEY_WORD_BITS;
    if ((seen & required) != required)
        return fail_at(s, card.line, "id, board_type and word_bits in this card");
    if (s->bank.count > BANK_MAX_CARDS)  // this card is the last in the bank
        return fail_at(
            s, card.line,
            with_number("at most ", BANK_MAX_CARDS, " cards in a bank (the simulator's limit)")
                .text);
    s->total_words += card.eeprom_words;
    if (s->total_words > BANK_MAX_TOTAL_WORDS)
        return fail_at(s, card.line,
                       with_number("at most ", BANK_MAX_TOTAL_WORDS,
                                   " words in all cards together (the simulator's limit)")
                           .text);
    if (id_lookup(s, card.id) != NO_CARD)
        return fail_at(s, card.line, "a card id not used by an earlier card");
    return true;
}

// Takes the next line's content: false, with the error, for a line that is
// no text line.
bool next_text(bank_scan *s, span *text) {
    s->line++;
    const span line = next_line(s->text, s->length, &s->pos);
    if (line.size() >= MAX_LINE)
        return fail(s, with_number("a line shorter than ", MAX_LINE, " bytes").text);
    if (memchr(line.begin, '\0', line.size())) return fail(s, "text, not a NUL byte");
    *text = content(line);
    return true;
}

// The lines of a card after its "[card]": its settings, then its data
// lines, which are only located (decoded when the card is used), up to the
// next card's "[card]" or the end.
bool read_card_lines(bank_scan *s, sim_card *card) {
    unsigned seen = 0;
    bool data = false;
    while (s->pos < s->length) {
        const size_t start = s->pos;
        span text;
        if (!next_text(s, &text)) return false;
        if (text.is("[card]")) {  // the next card's, for the next step
            s->pos = start;
            s->line--;
            break;
        }
        if (const char *eq = text.find('=')) {
            if (data) return fail(s, "settings before the card's first data line");
            if (!parse_setting(s, card, &seen, trim({text.begin, eq}), trim({eq + 1, text.end})))
                return false;
        } else if (text.size() > 0 && !text.find(':')) {
            return fail(s, "'[card]', 'key = value' or 'location: values'");
        } else if (text.size() > 0 && !data) {
            data = true;
            card->data_begin = start;
            card->data_line = s->line;
            if (!check_card(s, *card, seen)) return false;
        }
    }
    if (!data) card->data_begin = s->pos;
    card->data_end = s->pos;
    return data || check_card(s, *card, seen);
}

// Reads a card whole, from its "[card]" line, just taken, which starts at
// begin. A card refused is no card: those before it stay usable.
bool read_card(bank_scan *s, size_t begin) {
    sim_card *card = bank_add_card(&s->bank, sim_card{});
    if (!card) return out_of_memory(s);
    card->eeprom_words = BANK_DEFAULT_WORDS;
    card->line = s->line;
    card->text_begin = s->bank.count == 1 ? 0 : begin;  // the first takes in what precedes it
    if (read_card_lines(s, card)) {
        location_set_settle(&card->read_faults);
        location_set_settle(&card->write_faults);
        id_insert(s, s->bank.count - 1);
        return true;
    }
    s->bank.count--;
    location_set_free(&card->read_faults);
    location_set_free(&card->write_faults);
    return false;
}

// Reads the next card, or a line before the first one.
bool read_line(bank_scan *s) {
    if (s->pos >= s->length) {
        s->finished = true;
        return true;
    }
    const size_t start = s->pos;
    span text;
    if (!next_text(s, &text)) return false;
    if (text.is("[card]")) return read_card(s, start);
    if (text.find('=')) return fail(s, "'[card]' before the first setting");
    if (text.find(':')) return fail(s, "'[card]' before the first data line");
    return text.size() == 0 || fail(s, "'[card]', 'key = value' or 'location: values'");
}

// A refused line refuses every later call too.
bool step(bank_scan *s, sim_error *err) {
    if (s->error.status == 0 && read_line(s)) return true;
    *err = s->error;
    return false;
}

// --- data lines -------------------------------------------------------------

// "address: value value ..." into the card's words.
bool decode_line(const char *path, unsigned line, span text, sim_card *card, sim_error *err) {
    const char *colon = text.find(':');
    uint32_t address;
    if (!read_u32(trim({text.begin, colon}), NUMBER_HEX, &address))
        return malformed(err, path, line, "a hexadecimal location before ':'");
    for (const char *c = colon + 1;;) {
        while (c < text.end && (*c == ' ' || *c == '\t')) c++;
        if (c == text.end) return true;
        number_read value;
        c = read_number_at(c, text.end, NUMBER_HEX, &value);
        if (!c || (c < text.end && *c != ' ' && *c != '\t'))
            return malformed(err, path, line, "hexadecimal word values");
        if (address >= card->eeprom_words)
            return malformed(err, path, line, "locations below the card's eeprom_words");
        if (!word_fits(card, value.value))
            return malformed(err, path, line, "values that fit the card's word_bits");
        card->words[address++] = value.value;
    }
}

}  // namespace

void scan_start(bank_scan *scan, const char *text, size_t length, const char *path) {
    *scan = bank_scan{};
    scan->text = text;
    scan->length = length;
    scan->path = path;
}

bool scan_find(bank_scan *scan, bool by_index, uint32_t key, size_t *index, sim_error *err) {
    for (;;) {
        *index = !by_index ? id_lookup(scan, key) : key < scan->bank.count ? key : NO_CARD;
        if (*index != NO_CARD || scan->finished) return true;
        if (!step(scan, err)) return false;
    }
}

bool scan_all(bank_scan *scan, sim_error *err) {
    while (!scan->finished)
        if (!step(scan, err)) return false;
    return true;
}

bool scan_decode(bank_scan *scan, size_t index, sim_error *err) {
    sim_card *card = &scan->bank.cards[index];
    if (card->words) return true;
    if (!card_erase_words(card)) return out_of_memory(err, scan->path);
    unsigned line = card->data_line;
    // Blank lines, comments and data lines: the scan let nothing else through.
    for (size_t pos = card->data_begin; pos < card->data_end; line++) {
        span text = content(next_line(scan->text, card->data_end, &pos));
        if (text.begin != text.end && !decode_line(scan->path, line, text, card, err)) {
            free(card->words);  // never half a card
            card->words = nullptr;
            return false;
        }
    }
    return true;
}

char *scan_splice(const bank_scan *scan, size_t index, const char *lines, size_t lines_length,
                  size_t *length) {
    const sim_card &card = scan->bank.cards[index];
    const size_t after = scan->length - card.data_end;
    *length = card.text_begin + lines_length + after;
    char *text = static_cast<char *>(malloc(*length + 1));
    if (!text) return nullptr;
    memcpy(text, scan->text, card.text_begin);
    memcpy(text + card.text_begin, lines, lines_length);
    memcpy(text + card.text_begin + lines_length, scan->text + card.data_end, after);
    return text;
}

void scan_moved(bank_scan *scan, size_t index, const char *text, size_t length) {
    sim_card *card = &scan->bank.cards[index];
    const size_t old_end = card->data_end, new_end = old_end + length - scan->length;
    const unsigned lines = static_cast<unsigned>(  // modulo 2^32
        std::count(text + card->text_begin, text + new_end, '\n') -
        std::count(scan->text + card->text_begin, scan->text + old_end, '\n'));
    card->data_begin = card->data_end = new_end;
    for (size_t k = index + 1; k < scan->bank.count; k++) {
        sim_card *later = &scan->bank.cards[k];
        later->text_begin = later->text_begin - old_end + new_end;
        later->data_begin = later->data_begin - old_end + new_end;
        later->data_end = later->data_end - old_end + new_end;
        later->line += lines;
        later->data_line += lines;
    }
    scan->text = text;
    scan->pos = scan->length = length;
}

bool bank_parse(const char *text, size_t length, const char *path, const bank_selection &which,
                sim_bank *out, sim_error *err) {
    bank_scan scan;
    scan_start(&scan, text, length, path);
    size_t index = NO_CARD;
    bool ok =
        which.all ? scan_all(&scan, err) : scan_find(&scan, which.by_index, which.key, &index, err);
    for (size_t k = 0; ok && k < scan.bank.count; k++)
        if (which.all || k == index) ok = scan_decode(&scan, k, err);
    *out = ok ? scan.bank : sim_bank{};
    if (ok) scan.bank = sim_bank{};
    scan_free(&scan);
    return ok;
}
