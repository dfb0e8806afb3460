// Conversions between text and typed values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "args_internal.h"
#include "number.h"
#include "process.h"

namespace {

std::string normalized(std::string text) {
    normalize_path(text.data());
    return text.c_str();
}

TEST(NormalizePath, CleansSlashesBlanksAndOneTrailingBackslash) {
    const struct {
        const char *in, *out;
    } cases[] = {
        {"  C:/sdk/files/  ", "C:\\sdk\\files"},
        {"/", "\\"},
        {"//", "\\"},
        {"a\\\\", "a\\"},
        {"   ", ""},
        {"", ""},
        {"\t\v/x/\r\n", "\\x"},
        {"a b", "a b"},
        {"\\", "\\"},
    };
    for (const auto &c : cases) EXPECT_EQ(normalized(c.in), c.out) << "input '" << c.in << "'";
}

constexpr uint32_t UNTOUCHED = 0xDEADBEEF;
constexpr uint32_t REFUSED = UNTOUCHED;  // refused: -1, the slot as it was

struct number_case {
    value_type type;
    const char *text;
    uint32_t as_parameter;  // the slot's 32 bits afterwards, or REFUSED
    uint32_t as_option;
};

// Only a text that is wholly one number of the type, within 32 bits, is taken.
TEST(Conversions, TakeWholeNumbersThatFitAndRefuseEverythingElse) {
    std::vector<number_case> cases = {
        {ARG_UINT, "0x1f", 31, 31},
        {ARG_UINT, "0X1F", 31, REFUSED},  // an option's uint takes only lower-case "0x"
        {ARG_UINT, "31", 31, 31},
        {ARG_UINT, " 12\t", 12, 12},
        {ARG_UINT, " 0x10 ", 16, 16},
        {ARG_UINT, "+12", 12, 12},
        {ARG_UINT, "4294967295", 0xFFFFFFFF, 0xFFFFFFFF},
        {ARG_UINT, "0xFFFFFFFF", 0xFFFFFFFF, 0xFFFFFFFF},
        {ARG_UINT, "-1", 0xFFFFFFFF, 0xFFFFFFFF},
        {ARG_UINT, "-2147483648", 0x80000000, 0x80000000},
        {ARG_UINT, "-0", 0, 0},
        {ARG_HEX, "ff", 255, 255},
        {ARG_HEX, "0XfF ", 255, 255},
        {ARG_HEX, "-1", 0xFFFFFFFF, 0xFFFFFFFF},
        {ARG_HEX, "-0x1", 0xFFFFFFFF, 0xFFFFFFFF},
        {ARG_INT, "-5", static_cast<uint32_t>(-5), static_cast<uint32_t>(-5)},
        {ARG_INT, " 2147483647 ", 0x7FFFFFFF, 0x7FFFFFFF},
        {ARG_INT, "-2147483648", 0x80000000, 0x80000000},
    };
    // Refused on both paths: trailing text, no digits, a second prefix, a prefix
    // not at the start, and values past 32 bits.
    const struct {
        value_type type;
        std::vector<const char *> texts;
    } refused[] = {
        {ARG_UINT,
         {"4294967296", "4294967360", "0x1CAFEF00D", "-2147483649", "99999999999999999999999999",
          "12abc",      "1,000",      "O5",          "abc",         "",
          " ",          "0x",         "0xg",         "0x0x10",      "0x-1",
          "0x 1",       " 0x 10",     "-0x10",       "1e2",         "/card"}},
        {ARG_HEX, {"100000000", "x", "0x", "0x0x10", "fg"}},
        {ARG_INT, {"2147483648", "-2147483649", "4294967295", "0x10", "1e2"}},
    };
    for (const auto &r : refused)
        for (const char *text : r.texts) cases.push_back({r.type, text, REFUSED, REFUSED});
    for (const auto &c : cases) {
        arg_value slot{};
        slot.u = UNTOUCHED;
        int rc = set_value(&slot, c.type, c.text);
        EXPECT_EQ(rc, c.as_parameter == REFUSED ? -1 : 0) << type_name(c.type) << " '" << c.text;
        EXPECT_EQ(slot.u, c.as_parameter) << type_name(c.type) << " parameter '" << c.text << "'";
        option_desc o{};
        o.type = c.type;
        o.value.u = UNTOUCHED;
        rc = set_option_value(&o, c.text);
        EXPECT_EQ(rc, c.as_option == REFUSED ? -1 : 0) << type_name(c.type) << " '" << c.text;
        EXPECT_EQ(o.value.u, c.as_option) << type_name(c.type) << " option '" << c.text << "'";
    }
}

// The one number reader as its other callers use it: the image's settings
// and cells, the bank's settings and words.
TEST(Conversions, TheNumberReaderTakesWhatItsFlagsAllow) {
    constexpr uint32_t NONE = 0xDEADBEEF;
    const unsigned setting = NUMBER_PREFIX | NUMBER_UPPER_X;
    const unsigned signed_setting = setting | NUMBER_SIGN | NUMBER_SIGNED_HEX;
    const struct {
        const char *text;
        unsigned flags;
        uint32_t value;  // NONE: refused
    } cases[] = {
        {"0X1F", NUMBER_PREFIX, NONE},
        {"0X1F", setting, 31},
        {"ff", NUMBER_HEX, 255},
        {"0xff", NUMBER_HEX, 255},
        {"-0x5", NUMBER_PREFIX | NUMBER_SIGN, NONE},
        {"-0x5", signed_setting, 0xFFFFFFFB},
        {"+7", NUMBER_SIGN, 7},
        {"-2147483648", NUMBER_SIGN, 0x80000000},
        {"-2147483649", NUMBER_SIGN, NONE},
        {"4294967296", 0, NONE},
        {"00000000000000000000000001", 0, 1},  // no length overflows it
        {" 12 ", 0, NONE},
        {" 12 ", NUMBER_BLANKS, 12},
        {"0x", setting, NONE},
        {"", 0, NONE},
        {"1_0", 0, NONE},
        {"\xd9\xa3", 0, NONE},  // a digit of another script
    };
    for (const auto &c : cases) {
        number_read r{NONE, false, false};
        bool taken = read_number(c.text, c.flags, &r);
        EXPECT_EQ(taken ? r.value : NONE, c.value) << "'" << c.text << "' flags " << c.flags;
    }
}

TEST(Conversions, FloatsAreWholeAndWithinTheSinglesRange) {
    const struct {
        const char *text;
        bool taken;
        float value;
    } cases[] = {
        {"2.5", true, 2.5f}, {" -1e2 ", true, -100.0f}, {"1e-60", true, 0.0f},
        {"1e39", false, 0},  {"-1e39", false, 0},       {"2.5x", false, 0},
        {"", false, 0},      {"abc", false, 0},         {"1,5", false, 0},
    };
    for (const auto &c : cases) {
        arg_value single{}, wide{};
        EXPECT_EQ(set_single_value(&single, c.text), c.taken ? 0 : -1) << "'" << c.text << "'";
        EXPECT_EQ(set_value(&wide, ARG_DOUBLE, c.text), c.taken ? 0 : -1) << "'" << c.text << "'";
        if (!c.taken) continue;
        EXPECT_EQ(single.f, c.value) << "'" << c.text << "'";
        EXPECT_EQ(wide.d, static_cast<double>(c.value)) << "'" << c.text << "'";
    }
}

TEST(SetValue, ReadsBooleansSpelledOutAndRefusesEverythingElse) {
    const struct {
        const char *text;
        int rc;
        uint8_t value;
    } cases[] = {
        {"TRUE", 0, 1},    {"True", 0, 1}, {"false", 0, 0},  {"FaLsE", 0, 0},
        {"yes", -1, 9},    {"1", -1, 9},   {"true ", -1, 9}, {" true", -1, 9},
        {"falsey", -1, 9}, {"", -1, 9},    {"tru", -1, 9},
    };
    for (const auto &c : cases) {
        arg_value slot{};
        slot.b = 9;
        EXPECT_EQ(set_value(&slot, ARG_BOOLEAN, c.text), c.rc) << "'" << c.text << "'";
        EXPECT_EQ(slot.b, c.value) << "'" << c.text << "'";
    }
}

TEST(SetValue, DoubleCarriesSinglePrecision) {
    arg_value slot{};
    EXPECT_EQ(set_value(&slot, ARG_DOUBLE, "0.1"), 0);
    EXPECT_EQ(slot.d, static_cast<double>(0.1f));
}

TEST(SetValue, StoresTextsAndNormalisesPaths) {
    arg_value text{}, path{};
    text.s = nullptr;
    path.s = nullptr;
    EXPECT_EQ(set_value(&text, ARG_STRING, " a/b/ "), 0);
    EXPECT_EQ(set_value(&path, ARG_PATH, " a/b/ "), 0);
    EXPECT_STREQ(text.s, " a/b/ ");
    EXPECT_STREQ(path.s, "a\\b");
    free(text.s);
    free(path.s);
}

TEST(SetValue, RefusesFloatAndUnknownCodesWithTheInternalErrorLine) {
    for (int code : {0, 8, -1}) {
        auto r = run_in_child([code] {
            arg_value slot{};
            exit(set_value(&slot, static_cast<value_type>(code), "1") == -1 ? 0 : 1);
        });
        EXPECT_EQ(r.out, "*** internal error in args:set_value()\n") << code;
        EXPECT_EQ(r.status, 0) << code;
    }
}

option_desc option_of(value_type type, arg_value default_value) {
    option_desc o{};
    o.name = "x";
    o.type = type;
    o.description = "test";
    o.default_value = default_value;
    reset_option(&o);
    return o;
}

TEST(SetOptionValue, ConvertsEveryType) {
    option_desc f = option_of(ARG_FLOAT, {.f = 0});
    set_option_value(&f, "2.5");
    EXPECT_EQ(f.value.f, 2.5f);
    option_desc i = option_of(ARG_INT, {.i = 0});
    set_option_value(&i, "-7");
    EXPECT_EQ(i.value.i, -7);
    option_desc h = option_of(ARG_HEX, {.u = 0});
    set_option_value(&h, "1F");
    EXPECT_EQ(h.value.u, 31u);
    option_desc b = option_of(ARG_BOOLEAN, {.b = 1});
    set_option_value(&b, "false");  // never reached by the parser: only marks it
    EXPECT_EQ(b.value.b, 1);
    EXPECT_TRUE(b.specified);
    option_desc p = option_of(ARG_PATH, {.s = const_cast<char *>("dflt")});
    set_option_value(&p, "/a/b/");
    EXPECT_STREQ(p.value.s, "\\a\\b");
    free(p.value.s);
}

TEST(ResetOption, CopiesDefaultsAndTextsAndClearsSpecified) {
    char text[] = "default";
    option_desc s = option_of(ARG_STRING, {.s = text});
    EXPECT_STREQ(s.value.s, "default");
    EXPECT_NE(s.value.s, text);  // a copy, owned by the module
    free(s.value.s);
    option_desc p = option_of(ARG_PATH, {.s = nullptr});
    EXPECT_EQ(p.value.s, nullptr);
    option_desc u = option_of(ARG_UINT, {.u = 42});
    u.specified = 1;
    reset_option(&u);
    EXPECT_EQ(u.value.u, 42u);
    EXPECT_FALSE(u.specified);
    option_desc d = option_of(ARG_DOUBLE, {.d = 0.25});
    EXPECT_EQ(d.value.d, 0.25);
}

TEST(ValueToString, ShowsTheDefaultNeverTheValue) {
    const struct {
        value_type type;
        arg_value default_value;
        const char *expected;
    } cases[] = {
        {ARG_STRING, {.s = nullptr}, "(null)"},
        {ARG_PATH, {.s = const_cast<char *>("C:/x")}, "C:/x"},
        {ARG_UINT, {.u = 0}, "0"},
        {ARG_UINT, {.u = 0xFFFFFFFF}, "4294967295"},
        {ARG_HEX, {.u = 255}, "0xff"},
        {ARG_INT, {.i = -5}, "-5"},
        {ARG_BOOLEAN, {.b = 0}, "FALSE"},
        {ARG_BOOLEAN, {.b = 1}, "TRUE"},
        {ARG_FLOAT, {.f = 1.5f}, "1.500000"},
        {ARG_DOUBLE, {.d = -0.25}, "-0.250000"},
        {static_cast<value_type>(8), {.u = 1}, ""},
    };
    for (const auto &c : cases) {
        option_desc o{};
        o.type = c.type;
        o.default_value = c.default_value;
        o.value.u = 77;
        EXPECT_STREQ(value_to_string(&o), c.expected) << type_name(c.type);
    }
}

TEST(ValueToString, CutsLongTextsAt127Characters) {
    option_desc big{};
    big.type = ARG_DOUBLE;
    big.default_value.d = 1e300;
    EXPECT_EQ(strlen(value_to_string(&big)), 127u);
    std::string long_text(500, 'p');
    option_desc s{};
    s.type = ARG_STRING;
    s.default_value.s = long_text.data();
    EXPECT_EQ(std::string(value_to_string(&s)), long_text.substr(0, 127));
}

TEST(TypeNames, NameEveryCodeAndQuestionMarkOutside) {
    const char *expected[] = {"float", "float", "int", "uint", "hex", "string", "boolean", "path"};
    for (int code = 0; code < 8; code++)
        EXPECT_STREQ(type_name(static_cast<value_type>(code)), expected[code]);
    EXPECT_STREQ(type_name(static_cast<value_type>(8)), "?");
    EXPECT_STREQ(type_name(static_cast<value_type>(-1)), "?");
}

TEST(ReplaceString, FreesTheOldTextAndCopiesTheNew) {
    char *slot = nullptr;
    replace_string(&slot, "one");
    EXPECT_STREQ(slot, "one");
    replace_string(&slot, "two");
    EXPECT_STREQ(slot, "two");
    replace_string(&slot, nullptr);
    EXPECT_EQ(slot, nullptr);
}

}  // namespace
