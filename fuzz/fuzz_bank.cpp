// Fuzzes the bank parser. Whatever it accepts must format and parse back
// to the same bank, an open that reads only as far as its card must find
// that card as the whole parse does, and a write's text (one card written
// again, spliced in) must read back as the scan that moved onto it has it.
#include <cstdlib>
#include <cstring>

#include "bank.h"
#include "bank_scan.h"

namespace {

bool same_set(const location_set &a, const location_set &b) {
    return a.count == b.count && (a.count == 0 || memcmp(a.at, b.at, a.count * sizeof *a.at) == 0);
}

bool same(const sim_bank &a, const sim_bank &b) {
    if (a.count != b.count) return false;
    for (size_t i = 0; i < a.count; i++) {
        const sim_card &x = a.cards[i], &y = b.cards[i];
        if (x.id != y.id || x.board_type != y.board_type || x.word_bits != y.word_bits ||
            x.eeprom_words != y.eeprom_words || x.serial != y.serial || x.faults != y.faults ||
            !same_set(x.read_faults, y.read_faults) || !same_set(x.write_faults, y.write_faults) ||
            strcmp(x.model, y.model) != 0 ||
            memcmp(x.words, y.words, x.eeprom_words * sizeof(uint32_t)) != 0)
            return false;
    }
    return true;
}

// What an open reads of a bank that parses whole: the card it selects, by
// index and by ID, exactly as the whole parse has it.
bool open_agrees(const char *text, size_t length, const sim_bank &whole, size_t index) {
    const sim_card &card = whole.cards[index];
    const bank_selection selections[] = {{false, true, static_cast<uint32_t>(index)},
                                         {false, false, card.id}};
    for (const bank_selection &which : selections) {
        sim_bank part{};
        sim_error err{};
        bool ok =
            bank_parse(text, length, "fuzz", which, &part, &err) && part.count > index &&
            part.cards[index].words &&
            memcmp(part.cards[index].words, card.words, card.eeprom_words * sizeof(uint32_t)) == 0;
        bank_free(&part);
        if (!ok) return false;
    }
    return true;
}

// A write of the card at index, as the writer makes it: its first word
// changed, its lines written again and spliced into the text. The scan that
// moves onto the new text holds the bank a fresh parse of it finds, the
// cards' lines included.
bool write_agrees(const char *input, size_t size, size_t index) {
    auto *scan = static_cast<bank_scan *>(calloc(1, sizeof(bank_scan)));
    if (!scan) return true;
    scan_start(scan, input, size, "fuzz");
    sim_error err{};
    bool ok = scan_all(scan, &err) && scan_decode(scan, index, &err);
    sim_card *card = &scan->bank.cards[index];
    if (ok) card->words[0] ^= 1;  // fits either width
    size_t lines_length = 0, length = 0;
    char *lines =
        ok ? card_format(*card, index, index + 1 < scan->bank.count, &lines_length) : nullptr;
    char *text = lines ? scan_splice(scan, index, lines, lines_length, &length) : nullptr;
    sim_bank fresh{};
    if (text) {
        scan_moved(scan, index, text, length);
        ok = bank_parse(text, length, "fuzz", BANK_ALL, &fresh, &err);
        for (size_t k = 0; ok && k < scan->bank.count; k++)
            ok = scan_decode(scan, k, &err) &&
                 (k == index || scan->bank.cards[k].line == fresh.cards[k].line);
        ok = ok && same(scan->bank, fresh);
    }
    scan_free(scan);
    bank_free(&fresh);
    free(scan);
    free(lines);
    free(text);
    return ok || !text;  // out of memory is no finding
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    sim_bank bank{};
    sim_error err{};
    if (!bank_parse(reinterpret_cast<const char *>(data), size, "fuzz", BANK_ALL, &bank, &err)) {
        if (err.text[0] == '\0') __builtin_trap();  // every refusal explains itself
        return 0;
    }
    size_t length = 0;
    char *text = bank_format(&bank, &length);
    if (!text) __builtin_trap();
    sim_bank back{};
    if (!bank_parse(text, length, "fuzz", BANK_ALL, &back, &err) || !same(bank, back))
        __builtin_trap();
    const char *input = reinterpret_cast<const char *>(data);
    if (bank.count > 0 &&
        (!open_agrees(input, size, bank, 0) || !open_agrees(input, size, bank, bank.count - 1) ||
         !write_agrees(input, size, 0) || !write_agrees(input, size, bank.count - 1)))
        __builtin_trap();
    free(text);
    bank_free(&bank);
    bank_free(&back);
    return 0;
}
