// A card's data lines, "address: value value ...", decoded into its words
// when the card is first used; and bank_parse, the whole read at once.
#include <cstdlib>
#include <cstring>

#include "bank_lex.h"
#include "bank_scan.h"
#include "sim_status.h"

using namespace bank_lex;

namespace {

struct decoder {
    const char *path;
    sim_card *card;
    unsigned line;
    sim_error *err;
};

bool fail(const decoder *d, const char *expected) {
    sim_error_set(d->err, SIM_BANK_MALFORMED, "bank file %s is malformed at line %u: expected %s",
                  d->path, d->line, expected);
    return false;
}

// Values in one pass over the text: this is most of what a load reads.
bool decode_values(const decoder *d, uint32_t address, const char *c, const char *end) {
    sim_card *card = d->card;
    // The writer's own shape first: a blank, then as many digits as the
    // word has. Anything else takes the general way below.
    const bool wide = card->word_bits == 32;
    const uint32_t words = card->eeprom_words;
    for (uint32_t value; end - c > 4 && c[0] == ' ' && address < words; address++) {
        if (wide ? !read_eight_digits(c + 1, end, &value) : !read_four_digits(c + 1, end, &value))
            break;
        card->words[address] = value;
        c += wide ? 9 : 5;
    }
    for (;;) {
        while (c < end && (*c == ' ' || *c == '\t')) c++;
        if (c == end) return true;
        if (end - c >= 2 && c[0] == '0' && (c[1] == 'x' || c[1] == 'X')) c += 2;
        uint32_t value;
        if (read_eight_digits(c, end, &value)) c += 8;
        else if (read_four_digits(c, end, &value)) c += 4;
        else if (!(c = read_digits(c, end, &value))) return fail(d, "hexadecimal word values");
        if (address >= card->eeprom_words)
            return fail(d, "locations below the card's eeprom_words");
        if (!word_fits(card, value)) return fail(d, "values that fit the card's word_bits");
        card->words[address++] = value;
    }
}

bool decode(const decoder *d, const char *begin, const char *colon, const char *end) {
    uint32_t address;
    // The writer's "0xNNNN:" first.
    bool written = colon - begin == 6 && begin[0] == '0' && begin[1] == 'x' &&
                   read_four_digits(begin + 2, begin + 6, &address);
    if (!written && !parse_u32(trim({begin, colon}), true, &address))
        return fail(d, "a hexadecimal location before ':'");
    return decode_values(d, address, colon + 1, end);
}

}  // namespace

bool card_words_begin(sim_card *card, const char *path, sim_error *err) {
    if (card->builtin ? bank_default_words(card) : card_erase_words(card)) return true;
    sim_error_set(err, SIM_NO_MEMORY, "out of memory reading bank file %s", path);
    return false;
}

bool decode_data_line(const char *path, sim_card *card, unsigned line, const char *begin,
                      const char *colon, const char *end, sim_error *err) {
    decoder d{path, card, line, err};
    return decode(&d, begin, colon, end);
}

bool scan_decode(bank_scan *scan, size_t index, sim_error *err) {
    sim_card *card = &scan->bank.cards[index];
    if (card->words) return true;
    if (!card_words_begin(card, scan->path, err)) return false;
    decoder d{scan->path, card, card->data_line, err};
    const char *text = scan->text;
    for (size_t pos = card->data_begin; pos < card->data_end; d.line++) {
        const char *begin = text + pos;
        const void *nl = memchr(begin, '\n', card->data_end - pos);
        const char *end = nl ? static_cast<const char *>(nl) : text + card->data_end;
        pos = static_cast<size_t>(end - text) + (nl ? 1 : 0);
        // Blank lines, comments and data lines: the scan let nothing else through.
        while (begin < end && is_space(*begin)) begin++;
        if (begin == end || *begin == '#') continue;
        if (const void *hash = memchr(begin, '#', static_cast<size_t>(end - begin)))
            end = static_cast<const char *>(hash);
        span line = trim({begin, end});
        const void *colon = memchr(line.begin, ':', line.size());
        if (colon && !decode(&d, line.begin, static_cast<const char *>(colon), line.end)) {
            free(card->words);  // never half a card
            card->words = nullptr;
            return false;
        }
    }
    return true;
}

bool scan_plan_copies(bank_scan *scan, size_t changed, card_copy *copies, bool *copied,
                      sim_error *err) {
    sim_bank &bank = scan->bank;
    for (size_t k = 0; k < bank.count; k++) {
        sim_card &card = bank.cards[k];
        copies[k] = card_copy{};
        if (k == changed || card.words) continue;
        // A card's lines end at the blank line before the next card's.
        size_t end = k + 1 < bank.count ? bank.cards[k + 1].text_begin - 1 : scan->length;
        const char *text = scan->text ? scan->text + card.text_begin : nullptr;
        if (text && end > card.text_begin &&
            card_text_is_written(card, k, text, end - card.text_begin)) {
            copies[k] = {text, end - card.text_begin};
            *copied = true;
        } else if (!scan_decode(scan, k, err)) {  // the built-in bank's cards too
            return false;
        }
    }
    return true;
}

bool bank_parse(const char *text, size_t length, const char *path, const bank_selection &which,
                sim_bank *out, sim_error *err) {
    bank_scan scan;
    scan_start(&scan, text, length, path);
    bool ok;
    if (which.all) {
        ok = scan_all(&scan, err) && scan_decode_all(&scan, err);
    } else {
        size_t index = which.key;
        bool found = false;
        if (which.by_index) {
            ok = scan_to_index(&scan, which.key, &found, err);
        } else {
            ok = scan_find_id(&scan, which.key, &index, err);
            found = index != NO_CARD;
        }
        if (ok && found) ok = scan_decode(&scan, index, err);
    }
    *out = sim_bank{};
    if (ok) {
        *out = scan.bank;
        scan.bank = sim_bank{};
    }
    scan_free(&scan);
    return ok;
}
