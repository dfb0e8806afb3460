// Fuzzes the image file parser. A refusal is one line; an image it takes,
// written out again as settings and cells, reads back the same.
#include <cstdio>
#include <cstring>
#include <string>

#include "image_file.h"

namespace {

std::string written_out(const eeprom_image &im) {
    std::string text;
    char line[64];
    if (im.has_card_id) text += "card_id = " + std::to_string(im.card_id) + "\n";
    if (im.has_board_type) text += "board_type = " + std::to_string(im.board_type) + "\n";
    if (im.has_word_bits) text += "word_bits = " + std::to_string(im.word_bits) + "\n";
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (image_lists(&im, loc)) {
            snprintf(line, sizeof line, "[0x%02X] = 0x%X\n", static_cast<unsigned>(loc),
                     static_cast<unsigned>(im.values[loc]));
            text += line;
        }
    return text;
}

bool same(const eeprom_image &a, const eeprom_image &b) {
    return a.listed == b.listed && memcmp(a.values, b.values, sizeof a.values) == 0 &&
           a.has_card_id == b.has_card_id && a.card_id == b.card_id &&
           a.has_board_type == b.has_board_type && a.board_type == b.board_type &&
           a.has_word_bits == b.has_word_bits && a.word_bits == b.word_bits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static eeprom_image image, back;
    image_error err{};
    if (!parse_image(reinterpret_cast<const char *>(data), size, "fuzz", &image, &err)) {
        const char *nl = strchr(err.text, '\n');
        if (!nl || nl[1] != '\0') __builtin_trap();  // exactly one line
        return 0;
    }
    if (image.listed == 0) __builtin_trap();
    std::string text = written_out(image);
    if (!parse_image(text.data(), text.size(), "fuzz", &back, &err) || !same(image, back))
        __builtin_trap();
    return 0;
}
