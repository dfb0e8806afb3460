// Bank records: allocation, location sets and error text.
#include "bank.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim_status.h"

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

bool location_set_add(location_set *set, uint32_t location) {
    if (set->count == set->capacity) {
        uint32_t capacity = set->capacity ? set->capacity * 2 : 4;
        void *grown = realloc(set->at, size_t{capacity} * sizeof(uint32_t));
        if (!grown) return false;
        set->at = static_cast<uint32_t *>(grown);
        set->capacity = capacity;
    }
    set->at[set->count++] = location;
    return true;
}

void location_set_settle(location_set *set) {
    std::sort(set->at, set->at + set->count);
    set->count = static_cast<uint32_t>(std::unique(set->at, set->at + set->count) - set->at);
}

void location_set_free(location_set *set) {
    free(set->at);
    *set = location_set{};
}

bool bank_check_word(const sim_card *card, uint32_t location, const uint32_t *value,
                     sim_error *err) {
    if (location >= card->eeprom_words) {
        sim_error_set(err, SIM_BAD_LOCATION,
                      "location 0x%X is beyond the card's EEPROM of %u words", location,
                      card->eeprom_words);
        return false;
    }
    if (value && !word_fits(card, *value)) {
        sim_error_set(err, SIM_VALUE_TOO_WIDE, "value 0x%X does not fit the card's 16-bit word",
                      *value);
        return false;
    }
    return true;
}

void bank_free(sim_bank *bank) {
    for (size_t i = 0; i < bank->count; i++) {
        sim_card *card = &bank->cards[i];
        free(card->words);
        location_set_free(&card->read_faults);
        location_set_free(&card->write_faults);
    }
    free(bank->cards);
    *bank = sim_bank{};
}

sim_card *bank_add_card(sim_bank *bank, const sim_card &settings) {
    if (bank->count == bank->capacity) {
        size_t capacity = bank->capacity ? bank->capacity * 2 : 8;
        void *grown = realloc(bank->cards, capacity * sizeof(sim_card));
        if (!grown) return nullptr;
        bank->cards = static_cast<sim_card *>(grown);
        bank->capacity = capacity;
    }
    sim_card *card = &bank->cards[bank->count++];
    *card = settings;
    card->words = nullptr;
    return card;
}

bool card_erase_words(sim_card *card) {
    auto *words = static_cast<uint32_t *>(malloc(size_t{card->eeprom_words} * sizeof(uint32_t)));
    if (!words) return false;
    for (uint32_t i = 0; i < card->eeprom_words; i++) words[i] = erased_word(card);
    free(card->words);
    card->words = words;
    return true;
}
