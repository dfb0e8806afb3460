// Fuzzes the bank parser. Whatever it accepts must format and parse back
// to the same bank; and a write that copies the lines of the cards it finds
// in the writer's own shape must put down exactly the bytes of one that
// writes every card again, from the input and from its formatted text.
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

// The text of a write that changes nothing, copying what it can.
char *render_copying(const char *text, size_t length, size_t *out_length) {
    bank_scan scan;
    scan_start(&scan, text, length, "fuzz");
    sim_error err{};
    char *out = nullptr;
    if (scan_all(&scan, &err)) {
        auto *copies = static_cast<card_copy *>(calloc(scan.bank.count + 1, sizeof(card_copy)));
        bool copied = false;
        if (copies && scan_plan_copies(&scan, NO_CARD, copies, &copied, &err))
            out = bank_render(&scan.bank, copies, out_length);
        free(copies);
    }
    scan_free(&scan);
    return out;
}

bool same_text(const char *text, size_t length, const char *expected, size_t expected_length) {
    size_t out_length = 0;
    char *out = render_copying(text, length, &out_length);
    bool same = out && out_length == expected_length && memcmp(out, expected, out_length) == 0;
    free(out);
    return same;
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
    if (!same_text(reinterpret_cast<const char *>(data), size, text, length) ||
        !same_text(text, length, text, length))
        __builtin_trap();
    free(text);
    bank_free(&bank);
    bank_free(&back);
    return 0;
}
