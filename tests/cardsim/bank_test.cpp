// The bank's text format: what it reads, what it refuses, and that what
// it writes reads back the same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bank.h"
#include "bank_files.h"
#include "sim_status.h"

namespace {

struct parsed {
    bool ok;
    sim_bank bank;
    sim_error err;
    ~parsed() { bank_free(&bank); }
};

void parse_into(parsed *p, const std::string &text) {
    p->bank = {};
    p->err = {};
    p->ok = bank_parse(text.data(), text.size(), "/b/bank", BANK_ALL, &p->bank, &p->err);
}

std::vector<uint32_t> locations(const location_set &set) {
    return std::vector<uint32_t>(set.at, set.at + set.count);
}

void expect_same(const sim_bank &a, const sim_bank &b) {
    ASSERT_EQ(a.count, b.count);
    for (size_t i = 0; i < a.count; i++) {
        const sim_card &x = a.cards[i], &y = b.cards[i];
        EXPECT_EQ(x.id, y.id);
        EXPECT_EQ(x.board_type, y.board_type);
        EXPECT_EQ(x.word_bits, y.word_bits);
        EXPECT_EQ(x.serial, y.serial);
        EXPECT_STREQ(x.model, y.model);
        EXPECT_EQ(x.faults, y.faults);
        EXPECT_EQ(locations(x.read_faults), locations(y.read_faults));
        EXPECT_EQ(locations(x.write_faults), locations(y.write_faults));
        ASSERT_EQ(x.eeprom_words, y.eeprom_words);
        for (uint32_t w = 0; w < x.eeprom_words; w++)
            ASSERT_EQ(x.words[w], y.words[w]) << "card " << i << " word " << w;
    }
}

void expect_round_trip(const sim_bank &bank) {
    size_t length = 0;
    char *text = bank_format(&bank, &length);
    ASSERT_NE(text, nullptr);
    parsed back;
    parse_into(&back, std::string(text, length));
    free(text);
    ASSERT_TRUE(back.ok) << back.err.text;
    expect_same(bank, back.bank);
}

TEST(Bank, DefaultBankHasEveryKindOfBoardAndPlausibleContents) {
    sim_bank bank{};
    ASSERT_TRUE(bank_default(&bank));
    ASSERT_EQ(bank.count, 4u);
    for (size_t i = 0; i < 4; i++) ASSERT_TRUE(bank_default_words(&bank.cards[i]));
    const struct {
        uint32_t id;
        int32_t board_type;
        uint32_t bits;
    } expected[] = {{0, 12, 32}, {101, 0, 16}, {102, 25, 16}, {103, 20, 32}};
    for (size_t i = 0; i < 4; i++) {
        const sim_card &c = bank.cards[i];
        EXPECT_EQ(c.id, expected[i].id);
        EXPECT_EQ(c.board_type, expected[i].board_type);
        EXPECT_EQ(c.word_bits, expected[i].bits);
        EXPECT_EQ(c.eeprom_words, BANK_DEFAULT_WORDS);
        uint32_t distinct_from_previous = 0;
        for (uint32_t w = 0; w < 64; w++) {
            EXPECT_NE(c.words[w], 0u);
            EXPECT_TRUE(word_fits(&c, c.words[w]));
            if (w > 0 && c.words[w] != c.words[w - 1] + 1) distinct_from_previous++;
        }
        EXPECT_GT(distinct_from_previous, 60u) << "looks like a counter";
    }
    expect_round_trip(bank);
    bank_free(&bank);
}

TEST(Bank, EverySettingSurvivesARoundTrip) {
    parsed p;
    parse_into(&p,
               "# comment\r\n"
               "[card]\r\n"
               "id = 0xFFFFFFFF\n"
               "board_type = -1\n"
               "word_bits = 32\n"
               "eeprom_words = 9\n"
               "serial = 4294967295\n"
               "model = A model: with = signs\n"
               "fault = read 0x3   # trailing comment\n"
               "fault = write\n"
               "fault = write 0x7\n"
               "fault = read 0x100\n"
               "fault = read 3\n"
               "fault = open\n"
               "0x0: 0 1 2\n"
               "8: DEADBEEF\n"
               "\n[card]\nid=7\nboard_type=0x7FFFFFFF\nword_bits=16\nfault = info\nfault=read\n");
    ASSERT_TRUE(p.ok) << p.err.text;
    ASSERT_EQ(p.bank.count, 2u);
    const sim_card &c = p.bank.cards[0];
    EXPECT_EQ(c.id, 0xFFFFFFFFu);
    EXPECT_EQ(c.board_type, -1);
    EXPECT_STREQ(c.model, "A model: with = signs");
    EXPECT_EQ(c.faults, unsigned{FAULT_WRITE | FAULT_OPEN});
    EXPECT_EQ(locations(c.read_faults),
              (std::vector<uint32_t>{3, 0x100}));  // any number, once each
    EXPECT_EQ(locations(c.write_faults), std::vector<uint32_t>{7});
    EXPECT_EQ(c.words[1], 1u);
    EXPECT_EQ(c.words[3], 0xFFFFFFFFu);  // never listed: erased
    EXPECT_EQ(c.words[8], 0xDEADBEEFu);
    EXPECT_EQ(p.bank.cards[1].eeprom_words, BANK_DEFAULT_WORDS);
    EXPECT_EQ(p.bank.cards[1].words[0], 0xFFFFu);
    expect_round_trip(p.bank);
}

// An open reads up to the card it selects, and the data lines of the cards
// before it not at all; a write reads everything.
TEST(Bank, AnOpenParsesOnlyWhatItNeeds) {
    const std::string text =
        "[card]\nid = 9\nboard_type = 0\nword_bits = 16\n0: garbage\n"
        "[card]\nid = 3\nboard_type = 0\nword_bits = 16\n0: 0000abcd 1\n"
        "[card]\nmore garbage\n";
    sim_bank bank{};
    sim_error err{};
    ASSERT_TRUE(bank_parse(text.data(), text.size(), "b", {false, false, 3}, &bank, &err))
        << err.text;
    ASSERT_EQ(bank.count, 2u);
    EXPECT_EQ(bank.cards[0].words, nullptr);
    EXPECT_EQ(bank.cards[1].words[0], 0xABCDu);
    EXPECT_EQ(bank.cards[1].words[1], 1u);
    bank_free(&bank);
    EXPECT_FALSE(bank_parse(text.data(), text.size(), "b", BANK_ALL, &bank, &err));
    EXPECT_FALSE(bank_parse(text.data(), text.size(), "b", {false, true, 2}, &bank, &err));
}

TEST(Bank, EmptyTextIsAnEmptyBank) {
    parsed p;
    parse_into(&p, "# nothing here\n\n");
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.bank.count, 0u);
}

// n cards of five lines each, IDs from 0; the card at place k starts at
// line 5k + 1.
std::string many_cards(unsigned n, unsigned words) {
    std::string text;
    for (unsigned k = 0; k < n; k++)
        text += "[card]\nid = " + std::to_string(k) +
                "\nboard_type = 0\nword_bits = 16\neeprom_words = " + std::to_string(words) + "\n";
    return text;
}

TEST(Bank, MalformedBanksAreRefusedNamingTheLine) {
    const std::string card = "[card]\nid = 1\nboard_type = 0\nword_bits = 16\n";  // lines 1-4
    struct malformed_case {
        std::string text;
        unsigned line;
        const char *expected;
    };
    std::vector<malformed_case> cases = {
        {"id = 1\n", 1, "'[card]' before the first setting"},
        {"0: 1\n", 1, "'[card]' before the first data line"},
        {card + "colour = red\n", 5, "a setting"},
        {"[card]\nid = 1\nid = 2\n", 3, "each setting once"},
        {"[card]\nid = x\n", 2, "unsigned 32-bit card id"},
        {"[card]\nid = 4294967296\n", 2, "unsigned 32-bit card id"},
        {"[card]\nid = -1\n", 2, "unsigned 32-bit card id"},
        {"[card]\nboard_type = 2147483648\n", 2, "signed 32-bit board type"},
        {"[card]\nboard_type = 1\nword_bits = 16\n", 1, "id, board_type and word_bits"},
        {"[card]\nword_bits = 24\n", 2, "word_bits = 16 or 32"},
        {card + "eeprom_words = 0\n", 5, "eeprom_words from 1"},
        {card + "eeprom_words = 65537\n", 5, "eeprom_words from 1"},
        {card + card, 5, "a card id not used"},
        {card + "0: 10000\n", 5, "fit the card's word_bits"},
        {card + "eeprom_words = 4\n0x3: 1 2\n", 6, "below the card's eeprom_words"},
        {card + "0xZZ: 1\n", 5, "hexadecimal location"},
        {card + "0: 1 x\n", 5, "hexadecimal word values"},
        {card + "0: 1\nserial = 5\n", 6, "settings before the card's first data line"},
        {card + "fault = sometimes\n", 5, "fault = open, info"},
        {card + "fault = read x\n", 5, "a location after"},
        {card + "fault = write -1\n", 5, "a location after 'fault = write'"},
        {card + "model = " + std::string(44, 'm') + "\n", 5, "at most 43 characters"},
        {card + "garbage\n", 5, "'[card]', 'key = value'"},
        {card + std::string("a\0b\n", 4), 5, "not a NUL byte"},
        {card + std::string(5000, ' ') + "\n", 5, "shorter than 4096"},
        {card + "0: 0000abcd0\n", 5, "fit the card's word_bits"},
        // The limits every load and write share.
        {many_cards(65, 65536), 321, "at most 4194304 words in all cards together"},
        {many_cards(4097, 1), 20481, "at most 4096 cards in a bank"},
        {many_cards(4096, 1) + "[card]\nid = 7\n", 20481, "id, board_type and word_bits"},
        {many_cards(3000, 1) + card, 15001, "a card id not used by an earlier card"},
    };
    // Eight-digit values are read eight bytes at a time: every byte just
    // outside the digits and the letters is refused.
    for (char outside : std::string("/:@G`g\xe1"))
        cases.push_back({card + "0: 0000abc" + outside + "\n", 5, "hexadecimal word values"});
    for (const auto &c : cases) {
        parsed p;
        parse_into(&p, c.text);
        EXPECT_FALSE(p.ok) << c.text;
        EXPECT_EQ(p.err.status, SIM_BANK_MALFORMED) << c.text;
        std::string prefix =
            "bank file /b/bank is malformed at line " + std::to_string(c.line) + ": expected ";
        EXPECT_EQ(std::string(p.err.text).rfind(prefix, 0), 0u) << p.err.text;
        EXPECT_NE(std::string(p.err.text).find(c.expected), std::string::npos) << p.err.text;
        EXPECT_EQ(p.bank.count, 0u);
    }
}

// The writers' wait for the lock: VELQOR2_SIM_LOCK_WAIT_MS when it is a
// whole number of milliseconds from 0 to 60000, else 5 s.
TEST(Bank, LockWaitComesFromTheEnvironmentWithinItsRange) {
    const struct {
        const char *value;  // null: unset
        unsigned ms;
    } cases[] = {
        {nullptr, 5000}, {"", 5000},   {"0", 0},      {"250", 250}, {"60000", 60000},
        {"60001", 5000}, {"-1", 5000}, {"12x", 5000}, {" 5", 5000}, {"99999999999999999999", 5000}};
    for (const auto &c : cases) {
        if (c.value) setenv("VELQOR2_SIM_LOCK_WAIT_MS", c.value, 1);
        else unsetenv("VELQOR2_SIM_LOCK_WAIT_MS");
        EXPECT_EQ(lock_wait_ms(), c.ms) << (c.value ? c.value : "(unset)");
    }
    unsetenv("VELQOR2_SIM_LOCK_WAIT_MS");
}

}  // namespace
