// Bank records: allocation, lookup and error text.
#include "bank.h"

#include "sim_status.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void sim_error_vset(sim_error *err, VELQOR2_STATUS status, const char *format, va_list ap) {
    err->status = status;
    vsnprintf(err->text, sizeof err->text, format, ap);
}

void sim_error_set(sim_error *err, VELQOR2_STATUS status, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    sim_error_vset(err, status, format, ap);
    va_end(ap);
}

bool bank_check_word(const sim_card *card, uint32_t location, const uint32_t *value,
                     sim_error *err) {
    if (location >= card->eeprom_words) {
        sim_error_set(err, SIM_BAD_LOCATION,
                      "location 0x%X is beyond the card's EEPROM of %u words",
                      static_cast<unsigned>(location), static_cast<unsigned>(card->eeprom_words));
        return false;
    }
    if (value && !word_fits(card, *value)) {
        sim_error_set(err, SIM_VALUE_TOO_WIDE, "value 0x%X does not fit the card's 16-bit word",
                      static_cast<unsigned>(*value));
        return false;
    }
    return true;
}

void bank_free(sim_bank *bank) {
    for (size_t i = 0; i < bank->count; i++) free(bank->cards[i].words);
    free(bank->cards);
    *bank = sim_bank{};
}

sim_card *bank_find_id(const sim_bank *bank, uint32_t id) {
    for (size_t i = 0; i < bank->count; i++)
        if (bank->cards[i].id == id) return &bank->cards[i];
    return nullptr;
}

sim_card *bank_add_card(sim_bank *bank, uint32_t id, int32_t board_type, uint32_t word_bits,
                        uint32_t eeprom_words, bool with_words) {
    if (bank->count == bank->capacity) {
        size_t capacity = bank->capacity ? bank->capacity * 2 : 8;
        void *grown = bank->cards ? realloc(bank->cards, capacity * sizeof(sim_card))
                                  : malloc(capacity * sizeof(sim_card));
        if (!grown) return nullptr;
        bank->cards = static_cast<sim_card *>(grown);
        bank->capacity = capacity;
    }
    uint32_t *words = nullptr;
    if (with_words) {
        words = static_cast<uint32_t *>(malloc(size_t{eeprom_words} * sizeof(uint32_t)));
        if (!words) return nullptr;
    }
    sim_card *card = &bank->cards[bank->count++];
    *card = sim_card{};
    card->id = id;
    card->board_type = board_type;
    card->word_bits = word_bits;
    card->eeprom_words = eeprom_words;
    card->words = words;
    if (!words) return card;
    // Two words a store: an open fills a whole card before it reads any line.
    const uint32_t erased = erased_word(card);
    const uint64_t two = uint64_t{erased} << 32 | erased;
    uint32_t i = 0;
    for (; i + 2 <= eeprom_words; i += 2) memcpy(&words[i], &two, sizeof two);
    if (i < eeprom_words) words[i] = erased;
    return card;
}
