// parse_command_line: what it stores, and every way it ends the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "args_internal.h"
#include "process.h"

namespace {

// sorvit's own declaration.
struct tool_declaration {
    option_desc options[4] = {
        {"card", ARG_UINT, "ID of card to use", {.u = 0}, 0, {}},
        {"index", ARG_UINT, "index of card to use", {.u = 0}, 0, {}},
        {"f", ARG_BOOLEAN, "If TRUE, don't confirm when writing", {.b = 0}, 0, {}},
        {"unlock", ARG_BOOLEAN, "If TRUE, allow write to protected locations", {.b = 0}, 0, {}},
    };
    const value_type types[2] = {ARG_UINT, ARG_UINT};
    const char *const names[2] = {"location", "data"};
    const char *const descs[2] = {"EEPROM location", "Data value to write"};
    command_args args{4, types, names, descs, 2, 0, options, 0, nullptr, nullptr, nullptr, nullptr};
    option_desc &card() { return options[0]; }
    option_desc &index() { return options[1]; }
    option_desc &force() { return options[2]; }
};

void parse(command_args *args, std::vector<const char *> words) {
    words.insert(words.begin(), "sorvit");
    parse_command_line(static_cast<int>(words.size()), words.data(), args);
}

// Runs the parse in a child process, where it may end the process.
process_result parse_in_child(command_args *args, std::vector<const char *> words) {
    return run_in_child([&] { parse(args, words); });
}

class Parse : public ::testing::Test {
  protected:
    void SetUp() override { unsetenv("VELQOR_SDK5"); }
    tool_declaration t;
};

TEST_F(Parse, NoArgumentsKeepsDefaults) {
    parse(&t.args, {});
    EXPECT_EQ(t.args.supplied_count, 0);
    EXPECT_EQ(t.args.values, nullptr);
    EXPECT_FALSE(t.card().specified);
    EXPECT_EQ(t.card().value.u, 0u);
    EXPECT_STREQ(t.args.program_name, "sorvit");
    EXPECT_EQ(t.args.sdk_path, nullptr);
    EXPECT_EQ(t.args.bitstream_dir, nullptr);
}

TEST_F(Parse, EveryPrefixSetsAnOptionAndTheFirstNumberEndsTheScan) {
    for (const char *flag : {"/card", "-card", "+card"}) {
        tool_declaration d;
        parse(&d.args, {flag, "3", "7"});
        EXPECT_TRUE(d.card().specified) << flag;
        EXPECT_EQ(d.card().value.u, 3u) << flag;
        ASSERT_EQ(d.args.supplied_count, 1) << flag;
        EXPECT_EQ(d.args.values[0].u, 7u) << flag;
    }
    parse(&t.args, {"7", "9", "/card"});
    EXPECT_FALSE(t.card().specified);
    ASSERT_EQ(t.args.supplied_count, 3);
    EXPECT_EQ(t.args.values[0].u, 7u);
    EXPECT_EQ(t.args.values[1].u, 9u);
    EXPECT_STREQ(t.args.values[2].s, "/card");  // past the declared ones: text
}

TEST_F(Parse, BooleansFollowThePrefixAndAreNeverMarkedSpecified) {
    parse(&t.args, {"+f"});
    EXPECT_EQ(t.force().value.b, 1);
    EXPECT_FALSE(t.force().specified);
    tool_declaration d;
    parse(&d.args, {"+f", "-f"});
    EXPECT_EQ(d.force().value.b, 0);
}

TEST_F(Parse, TheLastOfAnOptionGivenTwiceWins) {
    parse(&t.args, {"/index", "5", "/index", "0x10"});
    EXPECT_TRUE(t.index().specified);
    EXPECT_EQ(t.index().value.u, 16u);
    EXPECT_EQ(t.args.supplied_count, 0);
}

TEST_F(Parse, SdkAndBitstreamDirectories) {
    parse(&t.args, {"/sdk", "C:/tools/sdk/"});
    EXPECT_STREQ(t.args.sdk_path, "C:\\tools\\sdk");
    EXPECT_STREQ(t.args.bitstream_dir, "C:\\tools\\sdk\\bit");

    tool_declaration given;
    parse(&given.args, {"/bitdir", "B", "/sdk", "S"});
    EXPECT_STREQ(given.args.bitstream_dir, "B");
    EXPECT_STREQ(given.args.sdk_path, "S");

    setenv("VELQOR_SDK5", "D:/x/", 1);
    tool_declaration env;
    parse(&env.args, {});
    EXPECT_STREQ(env.args.sdk_path, "D:/x/");  // from the environment: not normalised
    EXPECT_STREQ(env.args.bitstream_dir, "D:/x/\\bit");

    tool_declaration overridden;
    parse(&overridden.args, {"-sdk", "E:/y"});
    EXPECT_STREQ(overridden.args.sdk_path, "E:\\y");

    setenv("VELQOR_SDK5", "", 1);
    tool_declaration empty;
    parse(&empty.args, {});
    EXPECT_STREQ(empty.args.sdk_path, "");
    EXPECT_STREQ(empty.args.bitstream_dir, "\\bit");
}

TEST_F(Parse, ArgumentCountBelowOneReadsNothing) {
    const char *none[] = {nullptr};
    EXPECT_EQ(parse_command_line(0, none, &t.args), 0);
    EXPECT_EQ(t.args.supplied_count, 0);
}

struct exit_case {
    std::vector<const char *> words;
    std::string out;
    int status;
};

TEST_F(Parse, ErrorsPrintOneLineAndExitWithMinusOne) {
    const exit_case cases[] = {
        {{"/f"}, "Boolean option f should be specified as -f or +f\n", 255},
        {{"/unlock", "+f"},
         "Boolean option unlock should be specified as -unlock or +unlock\n",
         255},
        {{"/card"}, "/card option requires parameter: ID of card to use\n", 255},
        {{"-card"}, "-card option requires parameter: ID of card to use\n", 255},
        {{"+index"}, "+index option requires parameter: index of card to use\n", 255},
        {{"/Card", "3"}, "Unknown option: /Card\n", 255},
        {{"/xyz", "/?"}, "Unknown option: /xyz\n", 255},
        {{"/HELP"}, "Unknown option: /HELP\n", 255},
        {{"/Sdk", "x"}, "Unknown option: /Sdk\n", 255},
        {{"-"}, "Unknown option: -\n", 255},
        {{"+f", "/sdk"}, "/sdk option requires parameter: path to VELQOR SDK root\n", 255},
        {{"/bitdir"}, "/bitdir option requires parameter: path to bitstream directory\n", 255},
        // The next argument is the value whatever it looks like, and must be a number.
        {{"/card", "/?"}, "Value of uint option /card is invalid: /?\n", 255},
        {{"-index", "0X10"}, "Value of uint option -index is invalid: 0X10\n", 255},
        {{"+card", ""}, "Value of uint option +card is invalid: \n", 255},
        {{"/card", "1", "/index", "1x", "/?"}, "Value of uint option /index is invalid: 1x\n", 255},
        {{"7", "/card", "3"}, "Value of uint parameter 2 is invalid: /card\n", 255},
        {{"", "/card"}, "Value of uint parameter 1 is invalid: \n", 255},  // positional
        {{"4294967296"}, "Value of uint parameter 1 is invalid: 4294967296\n", 255},
        {{"1", " 0x1 0"}, "Value of uint parameter 2 is invalid:  0x1 0\n", 255},
    };
    for (const auto &c : cases) {
        tool_declaration d;
        auto r = parse_in_child(&d.args, c.words);
        EXPECT_EQ(r.out, c.out) << c.words[0];
        EXPECT_EQ(r.status, c.status) << c.words[0];
    }
}

TEST_F(Parse, HelpEndsTheScanWithStatusZero) {
    for (std::vector<const char *> words :
         {std::vector<const char *>{"/?", "/xyz"}, {"-h"}, {"+help"}, {"/card", "1", "/h"}}) {
        tool_declaration d;
        auto r = parse_in_child(&d.args, words);
        EXPECT_EQ(r.status, 0) << words[0];
        EXPECT_EQ(r.out.rfind("SORVIT utility V5.0.0 ", 0), 0u) << words[0];
    }
}

TEST_F(Parse, LongMessagesAreCutTo1023Characters) {
    std::string word = "/" + std::string(3000, 'z');
    auto r = parse_in_child(&t.args, {word.c_str()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, ("Unknown option: " + word).substr(0, 1023));
}

TEST(ParseOtherDeclarations, RefusedParameterNamesTypeAndPlace) {
    option_desc options[] = {{"x", ARG_UINT, "an x", {.u = 0}, 0, {}}};
    const value_type types[] = {ARG_BOOLEAN, static_cast<value_type>(9)};
    const char *const names[] = {"flag", "odd"};
    command_args args{1, types, names, names, 2, 0, options, 0, nullptr, nullptr, nullptr, nullptr};
    auto r = parse_in_child(&args, {"/x", "5", "maybe"});
    EXPECT_EQ(r.out, "Value of boolean parameter 1 is invalid: maybe\n");
    EXPECT_EQ(r.status, 255);
    r = parse_in_child(&args, {"/x", "5.0", "true"});
    EXPECT_EQ(r.out, "Value of uint option /x is invalid: 5.0\n");
    EXPECT_EQ(r.status, 255);
    r = parse_in_child(&args, {"TRUE", "1"});
    EXPECT_EQ(r.out,
              "*** internal error in args:set_value()\nValue of ? parameter 2 is invalid: 1\n");
    EXPECT_EQ(r.status, 255);
}

TEST(ParseOtherDeclarations, TooFewParametersAndNullRecord) {
    const value_type types[] = {ARG_STRING, ARG_PATH, ARG_FLOAT};
    const char *const names[] = {"a", "b", "c"};
    command_args args{0, types, names, names, 3, 2, nullptr, 0, nullptr, nullptr, nullptr, nullptr};
    auto r = parse_in_child(&args, {"one"});
    EXPECT_EQ(r.out, "Too few parameters supplied. Use sorvit /? to get help.\n");
    EXPECT_EQ(r.status, 255);

    parse(&args, {"one", " p/q/ ", "2.5"});
    EXPECT_STREQ(args.values[0].s, "one");
    EXPECT_STREQ(args.values[1].s, "p\\q");
    EXPECT_EQ(args.values[2].f, 2.5f);
    r = parse_in_child(&args, {"one", "two", "2.5.1"});
    EXPECT_EQ(r.out, "Value of float parameter 3 is invalid: 2.5.1\n");
    EXPECT_EQ(r.status, 255);

    r = run_in_child([] {
        const char *argv[] = {"sorvit"};
        parse_command_line(1, argv, nullptr);
    });
    EXPECT_EQ(r.out, "parse_command_line(): argument 'args' is NULL (must not be NULL)\n");
    EXPECT_EQ(r.status, 255);
}

TEST(ParseOtherDeclarations, BuiltInWordsComeBeforeTheTable) {
    option_desc options[] = {{"sdk", ARG_UINT, "shadowed", {.u = 0}, 0, {}}};
    command_args args{1,       nullptr, nullptr, nullptr, 0,       0,
                      options, 0,       nullptr, nullptr, nullptr, nullptr};
    parse(&args, {"/sdk", "9"});
    EXPECT_FALSE(options[0].specified);
    EXPECT_STREQ(args.sdk_path, "9");
}

}  // namespace
