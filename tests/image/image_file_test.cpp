// The image format: what it takes, and every way it refuses a file, with
// the line and what was expected there.
#include <gtest/gtest.h>

#include <string>

#include "image_file.h"

namespace {

bool parse(const std::string &text, eeprom_image *image, image_error *err) {
    return parse_image(text.data(), text.size(), "a.img", image, err);
}

TEST(ImageFile, TakesSavedImagesDumpsAndPatches) {
    eeprom_image im;
    image_error err{};
    ASSERT_TRUE(
        parse("# saved\ncard_id    = 0x65\nboard_type = -1\nword_bits  = 16\r\n"
              "[0x00] = 0x5651\n\n[0x3F] = 0xffff # last\n",
              &im, &err))
        << err.text;
    EXPECT_EQ(im.listed, uint64_t{1} | uint64_t{1} << 63);
    EXPECT_EQ(im.card_id, 0x65u);
    EXPECT_EQ(im.board_type, -1);
    EXPECT_EQ(im.values[63], 0xFFFFu);
    // The dump's own lines, two cells a line; its card line names the card.
    ASSERT_TRUE(parse("Selected card ID is 101(0x65)\n\n   [0x00] = 0x5651\t\t[0x20] = 0x7FF0\n",
                      &im, &err))
        << err.text;
    EXPECT_TRUE(im.has_card_id);
    EXPECT_EQ(im.card_id, 101u);
    EXPECT_FALSE(im.has_board_type || im.has_word_bits);
    EXPECT_EQ(im.values[0x20], 0x7FF0u);
    ASSERT_TRUE(parse("card_id = 101\nSelected card ID is 101(0x65)\n[0x00] = 0x1\n", &im, &err))
        << err.text;
}

TEST(ImageFile, RefusesWithTheLineAndWhatWasExpected) {
    const struct {
        std::string text;
        const char *error;
    } cases[] = {
        {"[0x40] = 0x1\n", "at line 1: expected a location from 0x00 to 0x3F, not 0x40"},
        {"[0x05] = 0x1\n[0x5] = 0x2\n",
         "at line 2: expected each location once: 0x05 is also at line 1"},
        {"word_bits = 16\n[0x01] = 0x10000\n",
         "at line 2: expected a value that fits 16-bit words at 0x01"},
        {"[0x21] = 0x????\n", "at line 1: expected a value at 0x21, not question marks"},
        {"[0x01] = 0x1FFFFFFFF\n", "at line 1: expected a hexadecimal value '0x...' of at most 32"},
        {"[0x01] = 12\n", "at line 1: expected a hexadecimal value"},
        {"[0x01] 0x12\n", "at line 1: expected '=' after the location"},
        {"[1] = 0x12\n", "at line 1: expected a cell '[0xNN] = 0xVALUE'"},
        {"[0x01] = 0x12x\n", "at line 1: expected a hexadecimal value"},
        {"\n0x01: 12\n", "at line 2: expected a cell '[0xNN] = 0xVALUE', a setting"},
        {"colour = red\n", "at line 1: expected a setting: card_id, board_type or word_bits"},
        {"word_bits = 8\n", "at line 1: expected word_bits = a number (16 or 32)"},
        {"card_id = 1\ncard_id = 1\n", "at line 2: expected each setting once"},
        {"card_id = 7\nSelected card ID is 8(0x8)\n",
         "at line 2: expected card 7, the card that line 1 names"},
        {"Selected card ID is 8(0x8)\ncard_id = 7\n",
         "at line 2: expected card 8, the card that line 1 names"},
        {"Selected card ID is 8(0x9)\n", "at line 1: expected a card line 'Selected card ID"},
        {"Selected card ID is 4294967296(0x100000000)\n", "at line 1: expected a card line"},
        {"card_id = 4294967296\n", "at line 1: expected card_id = a number"},
        {"board_type = 2147483648\n", "at line 1: expected board_type = a number"},
        {std::string("[0x01] = 0x1\0\n", 14), "at line 1: expected text, not a NUL byte"},
        {"# nothing\n", "a.img is invalid: it lists no location"},
        {std::string(IMAGE_MAX_BYTES + 1, '#'), "a.img is invalid: larger than 64 KiB"},
    };
    for (const auto &c : cases) {
        eeprom_image im;
        image_error err{};
        EXPECT_FALSE(parse(c.text, &im, &err)) << c.text;
        std::string text = err.text;
        EXPECT_NE(text.find(c.error), std::string::npos) << text;
        EXPECT_EQ(text.rfind("Image file a.img is invalid", 0), 0u) << text;
        EXPECT_EQ(text.back(), '\n') << text;
    }
}

}  // namespace
