// The built-in bank, used until the first write creates the bank file.
// One card of each kind of board, with contents shaped like a real card's
// configuration: identity words, serial, MAC address, calibration values
// and a checksum; locations past 0x3F are erased.
#include <cstring>

#include "bank.h"

namespace {

struct default_card {
    uint32_t id;
    int32_t board_type;
    uint32_t word_bits;
    uint32_t serial;
    const char *model;
    uint32_t device_id;
};

const default_card DEFAULT_CARDS[] = {
    {0, 12, 32, 0x4812A001u, "VQ-4812 Quad Link", 0x4812u},
    {101, 0, 16, 0x2100B017u, "VQ-2100 Capture", 0x2100u},
    {102, 25, 16, 0x2525C042u, "VQ-2525 Capture Duo", 0x2525u},
    {103, 20, 32, 0x2000D003u, "VQ-2000 Prototype", 0x2000u},
};

constexpr uint32_t VENDOR_ID = 0x5651;  // "VQ"
constexpr uint32_t CONFIG_WORDS = 64;
constexpr uint32_t CHECKSUM_TARGET = 0xBABA;

void fill_contents(sim_card *card, const default_card &d) {
    const uint32_t mask = card->word_bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;
    const bool wide = card->word_bits == 32;
    // Identity, serial number, build date and MAC address, laid out as the
    // 16-bit boards and the 32-bit boards each lay them out.
    uint32_t *w = card->words;
    w[0x00] = wide ? (VENDOR_ID << 16 | d.device_id) : VENDOR_ID;
    w[0x01] = wide ? (0x0102u << 16 | 0x0003u) : d.device_id;
    w[0x02] = wide ? d.serial : d.serial >> 16;
    w[0x03] = wide ? 0x20240917u : d.serial & 0xFFFFu;
    w[0x04] = wide ? 0x00A0C9F1u : 0x2437;
    w[0x05] = wide ? 0x4E2D0000u | (d.serial & 0xFFFFu) : 0x00A0;
    w[0x06] = wide ? 0x000000C3u : 0xC9F1;
    w[0x07] = wide ? 0x00010000u : 0x4E2D;
    // Calibration values cluster around mid-scale, as trimmed DACs do: a
    // fixed pseudo-random sequence, so every new user sees the same card.
    uint32_t state = d.serial;
    for (uint32_t i = 0x08; i < CONFIG_WORDS - 1; i++) {
        state = state * 1664525u + 1013904223u;
        uint32_t spread = state >> 20;  // 0 .. 0xFFF
        w[i] = ((mask >> 1) + 1 - 0x800 + spread) & mask;
    }
    // The last configuration word makes the 16-bit sum of all come out fixed.
    uint32_t sum = 0;
    for (uint32_t i = 0; i < CONFIG_WORDS - 1; i++) sum += w[i];
    w[CONFIG_WORDS - 1] = (CHECKSUM_TARGET - sum) & 0xFFFFu;
}

}  // namespace

bool bank_default(sim_bank *out) {
    *out = sim_bank{};
    for (const default_card &d : DEFAULT_CARDS) {
        sim_card settings{};
        settings.id = d.id;
        settings.board_type = d.board_type;
        settings.word_bits = d.word_bits;
        settings.eeprom_words = BANK_DEFAULT_WORDS;
        settings.serial = d.serial;
        strncpy(settings.model, d.model, BANK_MODEL_MAX);
        sim_card *card = bank_add_card(out, settings);
        if (!card || !bank_default_words(card)) {
            bank_free(out);
            return false;
        }
    }
    return true;
}

bool bank_default_words(sim_card *card) {
    if (!card_erase_words(card)) return false;
    for (const default_card &d : DEFAULT_CARDS)
        if (d.id == card->id) fill_contents(card, d);
    return true;
}
