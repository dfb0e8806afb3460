// The scan of bank text: lines, settings and cards (see bank_scan.h). It
// works on the text in place, a line at a time, and keeps its place, so a
// process that opens every card reads the bank once.
#include "bank_scan.h"

#include <cstdlib>
#include <cstring>

#include "bank_lex.h"
#include "sim_status.h"

using namespace bank_lex;

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

bool fail_at(bank_scan *s, unsigned line, const char *expected) {
    s->failed = true;
    sim_error_set(&s->error, SIM_BANK_MALFORMED,
                  "bank file %s is malformed at line %u: expected %s", s->path, line, expected);
    return false;
}

bool fail(bank_scan *s, const char *expected) { return fail_at(s, s->line, expected); }

bool out_of_memory(bank_scan *s) {
    s->failed = true;
    sim_error_set(&s->error, SIM_NO_MEMORY, "out of memory reading bank file %s", s->path);
    return false;
}

// --- the ID index: open addressing, at most half full -----------------------

size_t id_slot(const id_index &ids, uint32_t id) {
    return static_cast<uint32_t>(id * 2654435761u) & (ids.capacity - 1);  // Fibonacci hashing
}

size_t id_lookup(const bank_scan *s, uint32_t id) {
    const id_index &ids = s->ids;
    if (ids.capacity == 0) return NO_CARD;
    for (size_t i = id_slot(ids, id);; i = (i + 1) & (ids.capacity - 1)) {
        uint32_t slot = ids.slots[i];
        if (slot == 0) return NO_CARD;
        if (s->bank.cards[slot - 1].id == id) return slot - 1;
    }
}

void id_place(id_index *ids, uint32_t id, size_t place) {
    size_t i = id_slot(*ids, id);
    while (ids->slots[i] != 0) i = (i + 1) & (ids->capacity - 1);
    ids->slots[i] = static_cast<uint32_t>(place + 1);
}

// Cards are indexed in their order: place is the next one.
bool id_insert(bank_scan *s, uint32_t id, size_t place) {
    id_index *ids = &s->ids;
    if (ids->capacity == 0) {  // zeroed with the scan
        ids->slots = ids->small;
        ids->capacity = sizeof ids->small / sizeof *ids->small;
    }
    if (2 * (ids->used + 1) > ids->capacity) {
        size_t capacity = ids->capacity * 2;
        auto *slots = static_cast<uint32_t *>(calloc(capacity, sizeof(uint32_t)));
        if (!slots) return false;
        if (ids->slots != ids->small) free(ids->slots);
        ids->slots = slots;
        ids->capacity = capacity;
        for (size_t k = 0; k < place; k++) id_place(ids, s->bank.cards[k].id, k);
        ids->used = place;
    }
    id_place(ids, id, place);
    ids->used++;
    return true;
}

// --- settings ---------------------------------------------------------------

// "read <location>" or "write <location>": the fault of one location.
bool parse_located_fault(bank_scan *s, span value, bool *matched) {
    static const struct {
        const char *word;
        location_set sim_card::*set;
        const char *missing;
    } kinds[] = {{"read", &sim_card::read_faults, "a location after 'fault = read'"},
                 {"write", &sim_card::write_faults, "a location after 'fault = write'"}};
    for (const auto &k : kinds) {
        const char *rest = value.after(k.word);
        if (!rest || rest == value.end || !is_space(*rest)) continue;
        *matched = true;
        uint32_t location;
        if (!parse_u32(trim({rest, value.end}), false, &location)) return fail(s, k.missing);
        return location_set_add(&(s->draft.*k.set), location) || out_of_memory(s);
    }
    *matched = false;
    return false;
}

bool parse_fault(bank_scan *s, span value) {
    static const struct {
        const char *word;
        unsigned bit;
    } words[] = {
        {"open", FAULT_OPEN}, {"info", FAULT_INFO}, {"read", FAULT_READ}, {"write", FAULT_WRITE}};
    for (const auto &w : words)
        if (value.is(w.word)) {
            s->draft.faults |= w.bit;
            return true;
        }
    bool matched = false;
    bool ok = parse_located_fault(s, value, &matched);
    if (matched) return ok;
    return fail(s, "fault = open, info, read, read <location>, write or write <location>");
}

bool set_setting(bank_scan *s, unsigned bit, span value) {
    sim_card *d = &s->draft;
    switch (bit) {
    case KEY_ID:
        return parse_u32(value, false, &d->id) || fail(s, "an unsigned 32-bit card id");
    case KEY_BOARD_TYPE:
        return parse_i32(value, &d->board_type) || fail(s, "a signed 32-bit board type");
    case KEY_WORD_BITS:
        return (parse_u32(value, false, &d->word_bits) &&
                (d->word_bits == 16 || d->word_bits == 32)) ||
               fail(s, "word_bits = 16 or 32");
    case KEY_EEPROM_WORDS:
        return (parse_u32(value, false, &d->eeprom_words) && d->eeprom_words >= 1 &&
                d->eeprom_words <= BANK_MAX_WORDS) ||
               fail(s, "eeprom_words from 1 to 65536");
    case KEY_SERIAL:
        return parse_u32(value, false, &d->serial) || fail(s, "an unsigned 32-bit serial number");
    default:  // KEY_MODEL
        if (value.size() > BANK_MODEL_MAX) return fail(s, "a model name of at most 43 characters");
        // The draft starts zeroed and a setting comes once: only the name is
        // copied, eight bytes a time, as no call would be cheaper.
        size_t i = 0;
        for (; i + 8 <= value.size(); i += 8) __builtin_memcpy(d->model + i, value.begin + i, 8);
        for (; i < value.size(); i++) d->model[i] = value.begin[i];
        return true;
    }
}

bool parse_setting(bank_scan *s, span key, span value) {
    static const struct {
        const char *name;
        unsigned bit;
    } keys[] = {{"id", KEY_ID},
                {"board_type", KEY_BOARD_TYPE},
                {"word_bits", KEY_WORD_BITS},
                {"eeprom_words", KEY_EEPROM_WORDS},
                {"serial", KEY_SERIAL},
                {"model", KEY_MODEL}};
    if (!s->in_card) return fail(s, "'[card]' before the first setting");
    if (s->added) return fail(s, "settings before the card's first data line");
    if (key.size() > 0 && *key.begin == 'f' && key.is("fault")) return parse_fault(s, value);
    unsigned bit = 0;
    for (const auto &k : keys)  // the names differ in their first letter
        if (key.size() > 0 && *key.begin == k.name[0]) {
            if (key.is(k.name)) bit = k.bit;
            break;
        }
    if (bit == 0)
        return fail(s,
                    "a setting: id, board_type, word_bits, eeprom_words, serial, model or fault");
    if (s->seen & bit) return fail(s, "each setting once per card");
    s->seen |= bit;
    return set_setting(s, bit, value);
}

// --- cards ------------------------------------------------------------------

// Adds the draft to the bank once its settings are complete, at its first
// data line or at its end; its data lines start at data_begin.
bool add_card(bank_scan *s, size_t data_begin) {
    const unsigned required = KEY_ID | KEY_BOARD_TYPE | KEY_WORD_BITS;
    if ((s->seen & required) != required)
        return fail_at(s, s->card_line, "id, board_type and word_bits in this card");
    const sim_card &d = s->draft;
    if (s->bank.count >= BANK_MAX_CARDS)
        return fail_at(s, s->card_line, "at most 4096 cards in a bank (the simulator's limit)");
    s->total_words += d.eeprom_words;
    if (s->total_words > BANK_MAX_TOTAL_WORDS)
        return fail_at(s, s->card_line,
                       "at most 4194304 words in all cards together (the simulator's limit)");
    if (id_lookup(s, d.id) != NO_CARD)
        return fail_at(s, s->card_line, "a card id not used by an earlier card");
    sim_card *card = bank_add_card(&s->bank, d);
    if (!card) return out_of_memory(s);
    s->draft.read_faults = location_set{};  // the card owns them now
    s->draft.write_faults = location_set{};
    card->line = s->card_line;
    card->text_begin = s->card_begin;
    card->data_begin = card->data_end = data_begin;
    card->data_line = s->line;
    s->added = true;
    if (!id_insert(s, card->id, s->bank.count - 1)) return out_of_memory(s);
    const bool wanted = s->want_by_id ? card->id == s->want_id : s->bank.count - 1 == s->want_index;
    sim_error ignored;  // a card without its words is decoded, and fails, when used
    s->decoding = wanted && card_words_begin(card, s->path, &ignored);
    return true;
}

// Ends the current card at the line that starts at end.
bool finish_card(bank_scan *s, size_t end) {
    if (!s->in_card) return true;
    if (!s->added && !add_card(s, end)) return false;
    s->bank.cards[s->bank.count - 1].data_end = end;
    s->in_card = s->added = s->decoding = false;
    return true;
}

void start_card(bank_scan *s, size_t line_start) {
    s->in_card = true;
    s->card_line = s->line;
    s->card_begin = line_start;
    s->seen = 0;
    s->draft = sim_card{};
    s->draft.eeprom_words = BANK_DEFAULT_WORDS;
}

// A data line of the card the caller asked for. A line it refuses leaves
// the card to be decoded when used, which then fails naming the line.
void decode_wanted(bank_scan *s, span text, const char *colon) {
    sim_card *card = &s->bank.cards[s->bank.count - 1];
    sim_error ignored;
    if (decode_data_line(s->path, card, s->line, text.begin, colon, text.end, &ignored)) return;
    free(card->words);
    card->words = nullptr;
    s->decoding = false;
}

bool scan_text(bank_scan *s, const char *begin, const char *end, size_t line_start) {
    // A data line as the writer puts it down, "0xNNNN: values", of a card
    // being decoded: decoded at once. Any other shape, or one the decoder
    // refuses, takes the general way, which then reports it.
    // Of any other card, the line only needs to be a data line: it is
    // decoded, or checked, when the card is used.
    if (s->added && end - begin > 7 && begin[0] == '0' && begin[1] == 'x' && begin[6] == ':' &&
        !memchr(begin, '=', static_cast<size_t>(end - begin))) {
        sim_error ignored;
        if (!s->decoding) return true;
        if (decode_data_line(s->path, &s->bank.cards[s->bank.count - 1], s->line, begin, begin + 6,
                             end, &ignored))
            return true;
    }
    while (begin < end && is_space(*begin)) begin++;
    if (begin == end || *begin == '#') return true;  // most lines a bank holds
    if (const void *hash = memchr(begin, '#', static_cast<size_t>(end - begin)))
        end = static_cast<const char *>(hash);
    span text = trim({begin, end});
    if (text.begin == text.end) return true;
    if (*text.begin == '[' && text.is("[card]")) {
        if (!finish_card(s, line_start)) return false;
        start_card(s, line_start);
        return true;
    }
    if (const void *eq = memchr(text.begin, '=', text.size())) {
        const char *at = static_cast<const char *>(eq);
        const char *key_end = at;
        while (key_end > text.begin && key_end[-1] == ' ') key_end--;  // the writer's padding
        return parse_setting(s, trim({text.begin, key_end}), trim({at + 1, text.end}));
    }
    if (const void *colon = memchr(text.begin, ':', text.size())) {
        if (!s->in_card) return fail(s, "'[card]' before the first data line");
        if (!s->added && !add_card(s, line_start)) return false;
        // Any other card's lines are decoded when it is used.
        if (s->decoding) decode_wanted(s, text, static_cast<const char *>(colon));
        return true;
    }
    return fail(s, "'[card]', 'key = value' or 'location: values'");
}

// Whether the text holds a NUL byte before limit, searched a block at a
// time as far as the scan has come.
inline bool nul_before(bank_scan *s, size_t limit) {
    while (s->nul_searched < limit) {
        size_t block = s->length - s->nul_searched < 4096 ? s->length - s->nul_searched : 4096;
        const void *nul = memchr(s->text + s->nul_searched, '\0', block);
        if (nul) return static_cast<const char *>(nul) < s->text + limit;
        s->nul_searched += block;
    }
    return false;
}

// Reads one more line, or notes the end of the text.
bool step(bank_scan *s) {
    if (s->pos >= s->length) {
        if (!finish_card(s, s->length)) return false;
        s->finished = true;
        return true;
    }
    s->line++;
    const size_t start = s->pos;
    const char *begin = s->text + start;
    const void *nl = memchr(begin, '\n', s->length - start);
    size_t n = nl ? static_cast<size_t>(static_cast<const char *>(nl) - begin) : s->length - start;
    s->pos += n + (nl ? 1 : 0);
    if (n >= MAX_LINE) return fail(s, "a line shorter than 4096 bytes");
    if (nul_before(s, start + n)) return fail(s, "text, not a NUL byte");
    return scan_text(s, begin, begin + n, start);
}

bool failed(const bank_scan *s, sim_error *err) {
    *err = s->error;
    return false;
}

}  // namespace

void scan_start(bank_scan *scan, const char *text, size_t length, const char *path) {
    *scan = bank_scan{};
    scan->text = text;
    scan->length = length;
    scan->path = path;
}

void scan_free(bank_scan *scan) {
    bank_free(&scan->bank);
    if (scan->ids.slots != scan->ids.small) free(scan->ids.slots);
    location_set_free(&scan->draft.read_faults);
    location_set_free(&scan->draft.write_faults);
    scan->ids = id_index{};
}

bool scan_adopt(bank_scan *scan, sim_bank *bank, const char *path) {
    scan_start(scan, nullptr, 0, path);
    scan->finished = true;
    scan->bank = *bank;
    *bank = sim_bank{};
    for (size_t k = 0; k < scan->bank.count; k++)
        if (!id_insert(scan, scan->bank.cards[k].id, k)) return false;
    return true;
}

size_t scan_complete(const bank_scan *scan) {
    return scan->bank.count - (scan->in_card && scan->added ? 1 : 0);
}

bool scan_to_index(bank_scan *scan, size_t index, bool *found, sim_error *err) {
    scan->want_by_id = false;
    scan->want_index = index;
    while (scan_complete(scan) <= index && !scan->finished)
        if (scan->failed || !step(scan)) return failed(scan, err);
    *found = index < scan_complete(scan);
    return true;
}

bool scan_find_id(bank_scan *scan, uint32_t id, size_t *index, sim_error *err) {
    scan->want_by_id = true;
    scan->want_id = id;
    size_t checked = NO_CARD;  // the complete count last looked at
    for (;;) {
        size_t complete = scan_complete(scan);
        if (complete != checked) {
            size_t place = id_lookup(scan, id);
            if (place < complete) {
                *index = place;
                return true;
            }
            checked = complete;
        }
        if (scan->finished) {
            *index = NO_CARD;
            return true;
        }
        if (scan->failed || !step(scan)) return failed(scan, err);
    }
}

bool scan_all(bank_scan *scan, sim_error *err) {
    scan->want_by_id = false;
    scan->want_index = NO_CARD;
    while (!scan->finished)
        if (scan->failed || !step(scan)) return failed(scan, err);
    return true;
}

bool scan_decode_all(bank_scan *scan, sim_error *err) {
    for (size_t k = 0; k < scan->bank.count; k++)
        if (!scan_decode(scan, k, err)) return false;
    return true;
}
