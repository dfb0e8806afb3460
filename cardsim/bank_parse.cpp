// Reads the bank's text format (documented in the README):
//
//   [card]                     starts a card; its index is its place, from 0
//   key = value                settings: id, board_type, word_bits,
//                              eeprom_words, serial, model, fault
//   address: value value ...   word values from that location on (hex)
//
// '#' starts a comment. Settings come before a card's first data line, so
// that every data line can be checked against the card's size and width.
// The parser works on the text in place, a line at a time: an open reads
// the bank once per run, so this is most of what the library costs.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bank.h"
#include "bank_lex.h"
#include "sim_status.h"

namespace {

using namespace bank_lex;

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
    bank_selection which;
    sim_bank bank;
    uint64_t total_words;  // declared by the cards so far
    bool in_card;
    unsigned card_line;  // line of the current card's "[card]"
    unsigned seen;       // setting_bit of the settings given
    sim_card draft;      // settings of the current card
    sim_card *card;      // the current card, once its first data line is read
    bool selected_found;
    bool done;  // the selected card is complete: an open needs no more
    sim_error *err;
};

bool fail(parser *p, const char *expected) {
    sim_error_set(p->err, SIM_BANK_MALFORMED, "bank file %s is malformed at line %u: expected %s",
                  p->path, p->line, expected);
    return false;
}

bool fail_at(parser *p, unsigned line, const char *expected) {
    p->line = line;
    return fail(p, expected);
}

// "read <location>" or "write <location>": the fault of one location.
bool parse_located_fault(parser *p, span value, bool *matched) {
    static const struct {
        const char *word;
        unsigned bit;
        uint32_t sim_card::*location;
        const char *once;
        const char *missing;
    } kinds[] = {{"read", FAULT_READ_AT, &sim_card::read_fault_at,
                  "one 'fault = read <location>' per card", "a location after 'fault = read'"},
                 {"write", FAULT_WRITE_AT, &sim_card::write_fault_at,
                  "one 'fault = write <location>' per card", "a location after 'fault = write'"}};
    for (const auto &k : kinds) {
        const char *rest = value.after(k.word);
        if (!rest || rest == value.end || !is_space(*rest)) continue;
        *matched = true;
        if (p->draft.faults & k.bit) return fail(p, k.once);
        if (!parse_u32(trim({rest, value.end}), false, &(p->draft.*k.location)))
            return fail(p, k.missing);
        p->draft.faults |= k.bit;
        return true;
    }
    *matched = false;
    return false;
}

bool parse_fault(parser *p, span value) {
    static const struct {
        const char *word;
        unsigned bit;
    } words[] = {
        {"open", FAULT_OPEN}, {"info", FAULT_INFO}, {"read", FAULT_READ}, {"write", FAULT_WRITE}};
    for (const auto &w : words)
        if (value.is(w.word)) {
            p->draft.faults |= w.bit;
            return true;
        }
    bool matched = false;
    bool ok = parse_located_fault(p, value, &matched);
    if (matched) return ok;
    return fail(p, "fault = open, info, read, read <location>, write or write <location>");
}

bool set_setting(parser *p, unsigned bit, span value) {
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
        if (value.size() > BANK_MODEL_MAX) return fail(p, "a model name of at most 43 characters");
        for (size_t i = 0; i < sizeof d->model; i++)
            d->model[i] = i < value.size() ? value.begin[i] : '\0';
        return true;
    }
}

bool parse_setting(parser *p, span key, span value) {
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
    if (key.is("fault")) return parse_fault(p, value);
    unsigned bit = 0;
    for (const auto &k : keys)
        if (key.is(k.name)) bit = k.bit;
    if (bit == 0)
        return fail(p,
                    "a setting: id, board_type, word_bits, eeprom_words, serial, model or fault");
    if (p->seen & bit) return fail(p, "each setting once per card");
    p->seen |= bit;
    return set_setting(p, bit, value);
}

// Turns the draft into a card of the bank, once its settings are complete;
// with its words only when the load selects it.
bool materialise(parser *p) {
    const unsigned required = KEY_ID | KEY_BOARD_TYPE | KEY_WORD_BITS;
    if ((p->seen & required) != required)
        return fail_at(p, p->card_line, "id, board_type and word_bits in this card");
    const sim_card &d = p->draft;
    if (p->bank.count >= BANK_MAX_CARDS)
        return fail_at(p, p->card_line, "at most 4096 cards in a bank (the simulator's limit)");
    p->total_words += d.eeprom_words;
    if (p->total_words > BANK_MAX_TOTAL_WORDS)
        return fail_at(p, p->card_line,
                       "at most 4194304 words in all cards together (the simulator's limit)");
    const bank_selection &w = p->which;
    bool selected =
        w.all || (w.by_index ? p->bank.count == w.key : d.id == w.key && !p->selected_found);
    p->selected_found |= selected;
    p->card = bank_add_card(&p->bank, d.id, d.board_type, d.word_bits, d.eeprom_words, selected);
    if (!p->card) {
        sim_error_set(p->err, SIM_NO_MEMORY, "out of memory reading bank file %s", p->path);
        return false;
    }
    p->card->serial = d.serial;
    p->card->faults = d.faults;
    p->card->read_fault_at = d.read_fault_at;
    p->card->write_fault_at = d.write_fault_at;
    p->card->line = p->card_line;
    memcpy(p->card->model, d.model, sizeof d.model);
    return true;
}

bool finish_card(parser *p) {
    if (p->in_card && !p->card && !materialise(p)) return false;
    if (p->in_card && p->card->words && !p->which.all) p->done = true;
    p->in_card = false;
    return true;
}

bool parse_data(parser *p, span address_text, span values) {
    if (!p->in_card) return fail(p, "'[card]' before the first data line");
    if (!p->card && !materialise(p)) return false;
    sim_card *card = p->card;
    if (!card->words) return true;  // a card this load leaves out
    uint32_t address;
    if (!parse_u32(trim(address_text), true, &address))
        return fail(p, "a hexadecimal location before ':'");
    // Values in one pass over the text: this is most of what a load reads.
    const char *c = values.begin;
    const char *const end = values.end;
    for (;;) {
        while (c < end && (*c == ' ' || *c == '\t')) c++;
        if (c == end) return true;
        if (end - c >= 2 && c[0] == '0' && (c[1] == 'x' || c[1] == 'X')) c += 2;
        uint32_t value;
        if (read_eight_digits(c, end, &value)) c += 8;
        else if (read_four_digits(c, end, &value)) c += 4;
        else if (!(c = read_digits(c, end, &value))) return fail(p, "hexadecimal word values");
        if (address >= card->eeprom_words)
            return fail(p, "locations below the card's eeprom_words");
        if (!word_fits(card, value)) return fail(p, "values that fit the card's word_bits");
        card->words[address++] = value;
    }
}

void start_card(parser *p) {
    p->in_card = true;
    p->card_line = p->line;
    p->seen = 0;
    p->card = nullptr;
    p->draft = sim_card{};
    p->draft.eeprom_words = BANK_DEFAULT_WORDS;
}

bool parse_line(parser *p, const char *begin, const char *end) {
    while (begin < end && is_space(*begin)) begin++;
    if (begin == end || *begin == '#') return true;  // most lines a bank holds
    if (const void *hash = memchr(begin, '#', static_cast<size_t>(end - begin)))
        end = static_cast<const char *>(hash);
    span text = trim({begin, end});
    if (text.begin == text.end) return true;
    if (text.is("[card]")) {
        if (!finish_card(p)) return false;
        if (!p->done) start_card(p);
        return true;
    }
    if (const void *eq = memchr(text.begin, '=', text.size())) {
        const char *at = static_cast<const char *>(eq);
        return parse_setting(p, trim({text.begin, at}), trim({at + 1, text.end}));
    }
    if (const void *colon = memchr(text.begin, ':', text.size())) {
        const char *at = static_cast<const char *>(colon);
        return parse_data(p, {text.begin, at}, {at + 1, text.end});
    }
    return fail(p, "'[card]', 'key = value' or 'location: values'");
}

struct id_line {
    uint32_t id;
    unsigned line;
};

int by_id_then_line(const void *a, const void *b) {
    const auto *x = static_cast<const id_line *>(a);
    const auto *y = static_cast<const id_line *>(b);
    if (x->id != y->id) return x->id < y->id ? -1 : 1;
    return x->line < y->line ? -1 : x->line > y->line ? 1 : 0;
}

// Duplicate IDs, in O(n log n): the first card, in file order, whose ID an
// earlier card already has.
bool check_unique_ids(parser *p) {
    size_t n = p->bank.count;
    if (n < 2) return true;
    auto *order = static_cast<id_line *>(malloc(n * sizeof(id_line)));
    if (!order) {
        sim_error_set(p->err, SIM_NO_MEMORY, "out of memory reading bank file %s", p->path);
        return false;
    }
    for (size_t i = 0; i < n; i++) order[i] = {p->bank.cards[i].id, p->bank.cards[i].line};
    qsort(order, n, sizeof(id_line), by_id_then_line);
    unsigned first_repeat = 0;
    for (size_t i = 1; i < n; i++)
        if (order[i].id == order[i - 1].id && (first_repeat == 0 || order[i].line < first_repeat))
            first_repeat = order[i].line;
    free(order);
    return first_repeat == 0 || fail_at(p, first_repeat, "a card id not used by an earlier card");
}

}  // namespace

bool bank_parse(const char *text, size_t length, const char *path, const bank_selection &which,
                sim_bank *out, sim_error *err) {
    parser p{};
    p.path = path;
    p.which = which;
    p.err = err;
    bool ok = true;
    nul_search nul{text + length, text, nullptr};
    for (size_t pos = 0; ok && !p.done && pos < length;) {
        p.line++;
        const char *start = text + pos;
        const void *nl = memchr(start, '\n', length - pos);
        size_t n = nl ? static_cast<size_t>(static_cast<const char *>(nl) - start) : length - pos;
        pos += n + (nl ? 1 : 0);
        if (n >= MAX_LINE) ok = fail(&p, "a line shorter than 4096 bytes");
        else if (nul.found_before(start + n)) ok = fail(&p, "text, not a NUL byte");
        else ok = parse_line(&p, start, start + n);
    }
    if (ok && !p.done) ok = finish_card(&p);
    if (ok) ok = check_unique_ids(&p);
    if (!ok) {
        bank_free(&p.bank);
        return false;
    }
    *out = p.bank;
    return true;
}
