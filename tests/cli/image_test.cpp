// sorvit-image as a user runs it, on the simulated library: list, and the
// round trip of save, check and load, with the library's faults.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_bank.h"
#include "process.h"

namespace {

struct image_dir {
    temp_dir dir;
    explicit image_dir(const std::string &bank = cli_bank()) { write_file(dir.file("bank"), bank); }
    process_result image(std::vector<std::string> args, std::optional<std::string> in = {}) const {
        for (auto &a : args) a = std::regex_replace(a, std::regex("^@"), dir.path + "/");
        return run_tool(SORVIT_IMAGE_BINARY, dir, args, std::move(in)).result;
    }
    process_result sorvit(const std::vector<std::string> &args) const {
        return run_tool(SORVIT_BINARY, dir, args).result;
    }
    std::string bank() const { return read_file(dir.file("bank")); }
    // "@" in an expected text stands for the test's folder.
    std::string here(const std::string &text) const {
        return std::regex_replace(text, std::regex("@"), dir.path + "/");
    }
};

// What a user runs first, on the default bank, as the README shows it.
TEST(Image, RoundTripOnTheDefaultBank) {
    temp_dir dir;
    const auto image = [&dir](const std::vector<std::string> &args) {
        return run_tool(SORVIT_IMAGE_BINARY, dir, args).result;
    };
    process_result list = image({"list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out,
              "Index  ID                        Board  Word         Protected\n"
              "    0  0 (0x0)                      12  32-bit       none\n"
              "    1  101 (0x65)                    0  16-bit       0x00-0x2A\n"
              "    2  102 (0x66)                   25  16-bit       0x00-0x2C\n"
              "    3  103 (0x67)                   20  unsupported  -\n");
    std::string file = dir.file("a.img");
    EXPECT_EQ(image({"save", file}).status, 0);
    EXPECT_EQ(read_file(file).find("serial"), std::string::npos)
        << "only what the interface defines";
    EXPECT_EQ(run_tool(SORVIT_BINARY, dir, {"+f", "0x30", "0x1234"}).result.status, 0);
    process_result check = image({"check", file});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out,
              "Selected card ID is 0(0x0)\n"
              "   [0x30] = 0x00001234 on the card, 0x800002E3 in the image\n"
              "1 of 64 locations of " +
                  file + " differs from the card\n");
    EXPECT_EQ(image({"+f", "load", file}).status, 0);
    EXPECT_EQ(image({"check", file}).out,
              "Selected card ID is 0(0x0)\nAll 64 locations of " + file + " match the card\n");
    // A dump saved by sorvit is an image of the card it shows.
    write_file(dir.file("d.txt"), run_tool(SORVIT_BINARY, dir, {}).result.out);
    EXPECT_EQ(image({"check", dir.file("d.txt")}).status, 0);
}

// The tools read of the card record only what the interface defines: with a
// library whose record is 1 KiB of its own bytes after card_id and
// board_type, list and save show the same as with ours.
TEST(Image, OnlyTheDefinedFieldsOfTheCardRecordAreRead) {
    temp_dir dir;
    const auto run = [&dir](const std::vector<std::string> &args, bool foreign) {
        program_run r;
        r.args = args;
        r.env = {{"VELQOR2_SIM_BANK", dir.file("bank")}};
        if (foreign) r.env.emplace_back("LD_LIBRARY_PATH", SORVIT_FOREIGN_LIBRARY_DIR);
        return run_program(SORVIT_IMAGE_BINARY, r);
    };
    const auto saved = [&dir](const std::string &name) {  // the comment line names the time
        std::string text = read_file(dir.file(name));
        return text.substr(text.find('\n'));
    };
    EXPECT_EQ(run({"list"}, true).out, run({"list"}, false).out);
    ASSERT_EQ(run({"/index", "1", "save", dir.file("foreign.img")}, true).status, 0);
    ASSERT_EQ(run({"/index", "1", "save", dir.file("own.img")}, false).status, 0);
    EXPECT_EQ(saved("foreign.img"), saved("own.img"));
}

// list goes on past an index that fails, and says so; eight answers of "no
// such card" in a row are the end of the cards, and a run of one same other
// failure is said once; no card at all is a failure.
TEST(Image, ListShowsEveryIndexThatFails) {
    const std::string bad_data = cli_card(3, 0, 16) + "0x40: zz\n";
    // Eight cards in a row that fail to open hide nothing after them.
    std::string ten = cli_card(200, 12, 32), ten_out, ten_err;
    for (int k = 1; k <= 8; k++) {
        ten += cli_card(200 + k, 12, 32, "fault = open\n");
        const std::string why =
            "open card: simulated fault: open of card " + std::to_string(200 + k) + "\n";
        ten_out += "    " + std::to_string(k) + "  Failed to " + why;
        ten_err += "Failed to open card with index " + std::to_string(k) + ": " +
                   why.substr(std::string("open card: ").size());
    }
    ten += cli_card(209, 12, 32);
    const struct {
        std::string bank;
        std::string out, err;
        int status;
        std::vector<std::string> args = {"list"};
    } cases[] = {
        {ten,
         "    0  200 (0xc8)                   12  32-bit       none\n" + ten_out +
             "    9  209 (0xd1)                   12  32-bit       none\n",
         ten_err, 255},
        {ten, "", ten_err, 255, {"+all", "save", "@i"}},
        {cli_card(1, 12, 32) + cli_card(2, 0, 16, "fault = open\n") + bad_data +
             cli_card(4, 20, 32, "fault = info\n") + cli_card(5, 25, 16),
         "    0  1 (0x1)                      12  32-bit       none\n"
         "    1  Failed to open card: simulated fault: open of card 2\n"
         "    2  Failed to open card: bank file @bank is malformed at line 41: expected "
         "hexadecimal word values\n"
         "    3  Failed to get card info: simulated fault: card information of card 4\n"
         "    4  5 (0x5)                      25  16-bit       0x00-0x2C\n",
         "Failed to open card with index 1: simulated fault: open of card 2\n"
         "Failed to open card with index 2: bank file @bank is malformed at line 41: expected "
         "hexadecimal word values\n"
         "Failed to get card info of card with index 3: simulated fault: card information of "
         "card 4\n",
         255},
        // A failing last card is told from the end of the cards by what the
        // library answers: "no such card" for an index past every card.
        {cli_card(1, 12, 32) + cli_card(2, 0, 16, "fault = open\n"),
         "    0  1 (0x1)                      12  32-bit       none\n"
         "    1  Failed to open card: simulated fault: open of card 2\n",
         "Failed to open card with index 1: simulated fault: open of card 2\n", 255},
        {cli_card(1, 12, 32) + cli_card(2, 12, 32) + "bogus\n",
         "    0  1 (0x1)                      12  32-bit       none\n"
         "    1  Failed to open card: bank file @bank is malformed at line 27: expected '[card]', "
         "'key = value' or 'location: values'\n",
         "Failed to open card with index 1: bank file @bank is malformed at line 27: expected "
         "'[card]', 'key = value' or 'location: values'\n",
         255},
        {"", "",
         "Failed to open card with index 0: no card at index 0 in bank file @bank (it holds 0)\n",
         255},
    };
    for (const auto &c : cases) {
        image_dir d(c.bank);
        std::filesystem::create_directory(d.dir.file("i"));  // kept, though a card fails
        process_result r = d.image(c.args);
        if (c.args[0] == "+all") {  // the cards on both sides of the failures are saved
            std::vector<std::string> saved;
            for (const auto &e : std::filesystem::directory_iterator(d.dir.file("i")))
                saved.push_back(e.path().filename());
            std::sort(saved.begin(), saved.end());
            EXPECT_EQ(saved, (std::vector<std::string>{"card-200.img", "card-209.img"}));
        } else
            EXPECT_EQ(r.out, c.out.empty() ? ""
                                           : "Index  ID                        Board  Word         "
                                             "Protected\n" +
                                                 d.here(c.out));
        EXPECT_EQ(r.err, d.here(c.err));
        EXPECT_EQ(r.status, c.status);
    }
}

struct image_case {
    std::vector<std::string> args;  // "@name": a file in the test's folder
    std::optional<std::string> input;
    std::string out;  // "@" stands for the test's folder
    std::string err;
    int status;
};

// Runs the case's command and checks what it printed and its status.
void expect_run(const image_dir &d, const image_case &c) {
    process_result r = d.image(c.args, c.input);
    std::string what = c.args.empty() ? "" : c.args.back();
    EXPECT_EQ(r.out, d.here(c.out)) << what;
    EXPECT_EQ(r.err, d.here(c.err)) << what;
    EXPECT_EQ(r.status, c.status) << what;
}

// Each case on a fresh bank, after saving card 7 (16-bit, protected below
// 43) to @a.img and its dump to @d.img, and changing its locations 0x05 and
// 0x30 with sorvit.
void run_image_cases(const std::vector<image_case> &cases) {
    for (const auto &c : cases) {
        image_dir d;
        ASSERT_EQ(d.image({"/card", "7", "save", "@a.img"}).status, 0);
        write_file(d.dir.file("d.img"), d.sorvit({"/card", "7"}).out);
        d.sorvit({"/card", "7", "+f", "+unlock", "5", "0x1111"});
        d.sorvit({"/card", "7", "+f", "0x30", "0x2222"});
        std::string before = d.bank();
        expect_run(d, c);
        if (c.status == 255) EXPECT_EQ(d.bank(), before) << c.args.back();
    }
}

const std::string CARD7 = "Selected card ID is 7(0x7)\n";
const std::string CHANGES =
    "   [0x05] = 0x1111 -> 0xC005  (protected: left unchanged)\n"
    "   [0x30] = 0x2222 -> 0xC030\n";
const std::string ASK =
    "Warning: this will write 1 EEPROM location of card 7(0x7)\n"
    "Are you sure you want to continue (y/n)? ";

const std::string LONG_NAME = [] {
    std::string part;
    for (int k = 0; k < 80; k++) part += "\u00e9";  // two bytes each
    return part + "/" + part + "/" + part;
}();
const std::string CARD15 = "Selected card ID is 15(0xf)\n";
const std::string SPARE_15 = "Image file @a.img was saved from card 7(0x7)\n";
const std::string READ_FAULT =
    "   [0x21] = 0x????\nFailed to read 1 of 64 EEPROM locations: "
    "simulated fault: read of location 0x21 on card 15\n";

TEST(Image, LoadAsksOnceAndHonoursProtection) {
    run_image_cases({
        {{"/card", "7", "load", "@a.img"},
         "y\n",
         CARD7 + CHANGES + ASK +
             "Wrote 1 location; 1 protected location still differs (+unlock writes them)\n",
         "",
         1},
        {{"/card", "7", "load", "@a.img"}, "n\n", CARD7 + CHANGES + ASK + "Aborted.\n", "", 0},
        {{"/card", "7", "load", "@a.img"},
         std::nullopt,
         CARD7 + CHANGES + ASK + "Aborted.\n",
         "No reply to the question: nothing written\n",
         255},
        {{"/card", "7", "+unlock", "+f", "load", "@a.img"},
         std::nullopt,
         CARD7 + "   [0x05] = 0x1111 -> 0xC005  (protected)\n   [0x30] = 0x2222 -> 0xC030\n"
                 "Wrote 2 locations: the card now matches @a.img\n",
         "",
         0},
        {{"/card", "7", "check", "@a.img"},
         std::nullopt,
         CARD7 + "   [0x05] = 0x1111 on the card, 0xC005 in the image\n"
                 "   [0x30] = 0x2222 on the card, 0xC030 in the image\n"
                 "2 of 64 locations of @a.img differ from the card\n",
         "",
         1},
        // Another card of the same kind takes the image; another kind never does.
        {{"/card", "10", "check", "@a.img"},
         std::nullopt,
         "Selected card ID is 10(0xa)\n",
         "Image file @a.img is for board type 0; card 10(0xa) is board type 1\n",
         255},
        // A dump names its card and no board type: only that card takes it.
        {{"/card", "8", "+f", "+unlock", "load", "@d.img"},
         std::nullopt,
         "Selected card ID is 8(0x8)\n",
         "Image file @d.img is of card 7(0x7) and gives no board type: it is checked and loaded "
         "on that card only\n",
         255},
        {{"/card", "7", "+f", "+unlock", "load", "@d.img"},
         std::nullopt,
         CARD7 + "   [0x05] = 0x1111 -> 0xC005  (protected)\n   [0x30] = 0x2222 -> 0xC030\n"
                 "Wrote 2 locations: the card now matches @d.img\n",
         "",
         0},
        // A failed read stops every action before it writes anything.
        {{"/card", "15", "check", "@a.img"}, std::nullopt, CARD15, SPARE_15 + READ_FAULT, 255},
        {{"/card", "15", "+f", "load", "@a.img"}, std::nullopt, CARD15, SPARE_15 + READ_FAULT, 255},
        {{"/card", "15", "save", "@b.img"},
         std::nullopt,
         "",
         READ_FAULT + "No image written.\n",
         255},
        {{"/card", "99", "save", "-"},
         std::nullopt,
         "",
         "Failed to open card with ID 99: no card with ID 99 in bank file @bank\n",
         255},
        {{"/card", "7", "load", "-"},
         "",
         "",
         "An image from standard input needs +f: standard input "
         "cannot also answer the question\n",
         255},
        {{"load", "@a.img", "@a.img"},
         std::nullopt,
         "",
         "Too many parameters supplied: load takes "
         "one file. Use sorvit-image /? to get help.\n",
         255},
        {{"lsit"},
         std::nullopt,
         "",
         "Unknown action 'lsit': use list, save, check, load, recover, undo or history\n",
         255},
        {{"check"},
         std::nullopt,
         "",
         "Too few parameters supplied. Use sorvit-image /? to get "
         "help.\n",
         255},
        {{"/card", "0X7", "list"},
         std::nullopt,
         "",
         "Value of uint option /card is invalid: 0X7\n",
         255},
        {{"save", "@c.img", "/card", "7"},
         std::nullopt,
         "",
         "Option /card must come before the action\n",
         255},
        {{"/card", "7", "save", "@"},
         std::nullopt,
         "",
         "Cannot write image file @: Is a directory\n",
         255},
        {{"/card", "7", "save", "@new/folder/b.img"},
         std::nullopt,
         "Saved locations 0x00 to 0x3F of card 7(0x7) to @new/folder/b.img\n",
         "",
         0},
        // A long name of multibyte characters keeps its reason whole.
        {{"check", "@" + LONG_NAME + "/a.img"},
         std::nullopt,
         "",
         "Cannot read image file @" + LONG_NAME + "/a.img: No such file or directory\n",
         255},
        {{"/version"}, std::nullopt, "sorvit-image 5.0.0\n", "", 0},
        {{"/card", "11", "save", "@c.img"},
         std::nullopt,
         "",
         "Card 11(0xb): board type 20 is not supported\n",
         255},
        {{"/card", "7", "--version", "list"}, std::nullopt, "sorvit-image 5.0.0\n", "", 0},
        {{"+json", "/metrics", "-", "list"},
         std::nullopt,
         "",
         "/metrics - does not go with +json or with - as the file: standard output holds "
         "those\n",
         255},
        {{"/metrics", "", "list"},
         std::nullopt,
         "",
         "/metrics needs a file name, or - for standard output\n",
         255},
        {{"/index", "1", "list"},
         std::nullopt,
         "",
         "Do not specify /card or /index with list: it shows every card\n",
         255},
    });
}

// --help and -h are the usage screen, as /? is.
TEST(Image, LongHelpIsTheUsageScreen) {
    image_dir d;
    const process_result usage = d.image({"/?"});
    ASSERT_EQ(usage.status, 0);
    for (const char *help : {"--help", "-h"}) {
        EXPECT_EQ(d.image({help}).out, usage.out) << help;
        EXPECT_EQ(d.image({"/card", "7", help, "list"}).status, 0) << help;
    }
}

// load reads every location of the image again at the end, written or not:
// what another process did meanwhile is reported, and the card is never
// said to match unless it does.
TEST(Image, LoadChecksEveryLocationAtTheEnd) {
    const struct {
        const char *name;
        std::function<void(const image_dir &)> meanwhile;
        std::string err;
        int status;
    } cases[] = {
        // The answer was to the changes shown: a card that changed since is
        // not written.
        {"another location written",
         [](const image_dir &d) {
             d.sorvit({"+f", "0x31", "0x5555"});
         },
         "Card 0(0x0) changed while the question was open: nothing written (its changes are no "
         "longer the ones shown)\n",
         255},
        {"reads of the written location fail",
         [](const image_dir &d) {
             write_file(d.dir.file("bank"), std::regex_replace(d.bank(), std::regex("\nid *= 0\n"),
                                                               "\nid = 0\nfault = read 0x30\n"));
         },
         "   [0x30] = 0x????????\nFailed to read 1 of 64 EEPROM locations: simulated fault: read "
         "of location 0x30 on card 0\n",
         255},
        {"nothing", [](const image_dir &) {}, "", 0},
    };
    for (const auto &c : cases) {
        image_dir d;
        ASSERT_EQ(d.image({"/card", "0", "save", "@a.img"}).status, 0);
        d.sorvit({"+f", "0x30", "0x1234"});
        program_run run;
        run.args = {"/card", "0", "load", d.dir.file("a.img")};
        run.env = {{"VELQOR2_SIM_BANK", d.dir.file("bank")}};
        process_result r = run_answering(
            SORVIT_IMAGE_BINARY, run, "(y/n)? ", [&] { c.meanwhile(d); }, "y\n");
        EXPECT_EQ(r.err, d.here(c.err)) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.out.find("now matches") != std::string::npos, c.status == 0) << c.name;
    }
}

// What is protected follows from the board type: a card that becomes
// another board while the question is open is not written, by either tool.
TEST(Image, CardChangedDuringTheQuestionIsNotWritten) {
    const std::string CHANGED =
        "Card 0(0x0) changed from board type 12 to 0 while the question was open: nothing "
        "written\n";
    const struct {
        const char *program;
        std::vector<std::string> args;  // "@": the test's folder
        std::string out_tail, err;
    } cases[] = {
        {SORVIT_BINARY, {"0x00", "0xAAAA"}, CHANGED, ""},
        {SORVIT_IMAGE_BINARY, {"/card", "0", "load", "@imgs/card-0.img"}, "", CHANGED},
        {SORVIT_IMAGE_BINARY, {"+all", "load", "@imgs"}, "", CHANGED},
    };
    for (const auto &c : cases) {
        image_dir d(cli_card(0, 12, 32));
        ASSERT_EQ(d.image({"+all", "save", "@imgs"}).status, 0);
        d.sorvit({"+f", "0x30", "0x1234"});
        program_run run;
        for (const auto &a : c.args) run.args.push_back(d.here(a));
        run.env = {{"VELQOR2_SIM_BANK", d.dir.file("bank")}};
        std::string changed;
        process_result r = run_answering(
            c.program, run, "(y/n)? ",
            [&] {
                changed =
                    std::regex_replace(d.bank(), std::regex("board_type *= 12"), "board_type = 0",
                                       std::regex_constants::format_first_only);
                write_file(d.dir.file("bank"), changed);
            },
            "y\n");
        EXPECT_EQ(r.err, c.err) << c.program;
        EXPECT_TRUE(r.out.ends_with(c.out_tail)) << r.out;
        EXPECT_EQ(r.status, 255) << c.program;
        EXPECT_EQ(d.bank(), changed) << c.program;
    }
}

// +all load holds no card across its question: past the library's limit of
// open cards it restores every card, and the trace never shows two open.
TEST(Image, AllLoadOpensOneCardAtATime) {
    std::string bank;
    for (unsigned id = 0; id < 70; id++) bank += cli_card(id, 12, 32);
    image_dir d(bank);
    ASSERT_EQ(d.image({"+all", "save", "@i"}).status, 0);
    d.sorvit({"/card", "68", "+f", "0x30", "1"});
    program_run run;
    run.args = {"+all", "load", d.dir.file("i")};
    run.env = {{"VELQOR2_SIM_BANK", d.dir.file("bank")},
               {"VELQOR2_SIM_TRACE", d.dir.file("trace")}};
    run.input = "y\n";
    process_result r = run_program(SORVIT_IMAGE_BINARY, run);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    std::istringstream trace(read_file(d.dir.file("trace")));
    int open = 0, most = 0;
    for (std::string line; std::getline(trace, line);) {
        if (line.starts_with("OpenCard") && line.ends_with("-> 0")) most = std::max(most, ++open);
        if (line.starts_with("CloseCard")) open--;
    }
    EXPECT_EQ(most, 1);
    EXPECT_EQ(d.sorvit({"/card", "68", "0x30"}).out,
              "Selected card ID is 68(0x44)\n[0x30] = 0xab003030\n");
}

// The metrics name an image whose card is gone as the format wants a label
// value: backslash, double quote and line feed escaped, a byte that is no
// character as U+FFFD; and they go to the file whole, beside the text.
TEST(Image, MetricsLabelsAreEscaped) {
    image_dir d(cli_card(1, 12, 32));
    const std::string folder = d.dir.file("a\"b\\c\nd\xff");
    ASSERT_EQ(d.image({"+all", "save", folder}).status, 0);
    write_file(folder + "/card-9.img", "[0x00] = 0x1\n");
    process_result r = d.image({"+all", "check", folder, "/metrics", d.dir.file("m.prom")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Selected card ID is 1(0x1)\nAll 64 locations of " + folder +
                         "/card-1.img match the card\n");
    const std::string metrics = read_file(d.dir.file("m.prom"));
    EXPECT_NE(metrics.find("sorvit_image_without_card{image=\"" + d.dir.path +
                           "/a\\\"b\\\\c\\nd\xEF\xBF\xBD/card-9.img\"} 1\n"),
              std::string::npos)
        << metrics;
    EXPECT_NE(metrics.find("sorvit_card_up{card_id=\"9\"} 0\n"), std::string::npos);
    EXPECT_NE(metrics.find("sorvit_card_matches{card_id=\"1\"} 1\n"), std::string::npos);
}

// A change cut short, by a write that fails or by the end of the process
// (a power cut after a number of writes): the card is said to have an
// unfinished change, which a check fails on and a load refuses; recover
// finishes it and undo takes it back, and the history holds it.
TEST(Image, ChangeCutShortIsFinishedOrUndone) {
    const struct {
        const char *name, *fault;
        int status;        // of the load
        unsigned written;  // before it was cut short
    } cases[] = {
        {"a write that fails", "fault = write 0x31\n", 255, 1},
        {"a power cut before the first write", "fault = cut 0\n", 1000 + SIGKILL, 0},
        {"a power cut after two writes", "fault = cut 2\n", 1000 + SIGKILL, 2},
    };
    for (const auto &c : cases)
        for (const char *way_out : {"recover", "undo"}) {
            const std::string what = std::string(c.name) + ", then " + way_out;
            image_dir d(cli_card(20, 12, 32, c.fault));
            ASSERT_EQ(d.image({"/card", "20", "save", "@old.img"}).status, 0);
            std::string text = read_file(d.dir.file("old.img"));
            for (const char *loc : {"0x30", "0x31", "0x32"})
                text = std::regex_replace(text, std::regex(std::string("\\[") + loc + "\\] = 0x.*"),
                                          std::string("[") + loc + "] = 0x12345678");
            write_file(d.dir.file("new.img"), text);
            EXPECT_EQ(d.image({"/card", "20", "+f", "load", "@new.img"}).status, c.status) << what;
            write_file(d.dir.file("bank"),
                       std::regex_replace(d.bank(), std::regex("fault .*\n"), ""));
            process_result r = d.image({"/card", "20", "check", "@new.img"});
            EXPECT_EQ(r.status, 255) << what;
            EXPECT_NE(r.err.find("Card 20(0x14) has an unfinished change: load of " +
                                 d.here("@new.img") + " by "),
                      std::string::npos)
                << what << r.err;
            EXPECT_NE(r.err.find(", " + std::to_string(c.written) +
                                 " of 3 locations written; `sorvit-image /card 20 recover` "
                                 "finishes it, `sorvit-image /card 20 undo` restores what the "
                                 "card held\n"),
                      std::string::npos)
                << what << r.err;
            EXPECT_EQ(d.image({"/card", "20", "+f", "load", "@old.img"}).status, 255) << what;
            EXPECT_EQ(d.sorvit({"/card", "20", "+f", "0x30", "1"}).status, 255) << what;
            EXPECT_EQ(d.image({"/card", "20", "+f", way_out}).status, 0) << what;
            const bool recovered = std::string(way_out) == "recover";
            EXPECT_EQ(d.image({"/card", "20", "check", recovered ? "@new.img" : "@old.img"}).status,
                      0)
                << what;
            const std::string history = d.image({"history"}).out;
            EXPECT_EQ(history.find("interrupted") != std::string::npos, c.written > 0)
                << what << history;
            // A second recover finds nothing to finish; a second undo takes
            // the first back, when it wrote anything.
            std::string again = "Card 20(0x14) has no unfinished change: nothing to recover\n";
            if (!recovered && c.written == 0) again = "";
            if (!recovered && c.written > 0) {
                again = "Selected card ID is 20(0x14)\n";
                for (unsigned k = 0; k < c.written; k++)
                    again += "   [0x3" + std::to_string(k) + "] = 0xAB00" +
                             std::to_string(3030 + 101 * k) + " -> 0x12345678\n";
                again += "Wrote " + std::to_string(c.written) + " location" +
                         (c.written > 1 ? "s" : "") +
                         ": card 20(0x14) holds again what it held before its change\n";
            }
            r = d.image({"/card", "20", "+f", way_out});
            EXPECT_EQ(r.out, again) << what;
            EXPECT_EQ(r.status, !recovered && c.written == 0 ? 255 : 0) << what;
        }
}

// +all: every supported card, each with its card-ID.img in the folder; an
// unsupported board is skipped; one card's failure stops no other, and the
// status is the worst of the cards'.
TEST(Image, AllActsOnEverySupportedCard) {
    image_dir d(cli_card(1, 12, 32) + cli_card(2, 0, 16) + cli_card(3, 20, 32));
    const std::string skipped = "Skipped card 3(0x3) at index 2: board type 20 is not supported\n",
                      match1 =
                          "Selected card ID is 1(0x1)\nAll 64 locations of @i/card-1.img "
                          "match the card\n",
                      match2 =
                          "Selected card ID is 2(0x2)\nAll 64 locations of @i/card-2.img "
                          "match the card\n";
    const struct {
        std::function<void(const image_dir &)> before;
        image_case run;
    } steps[] = {
        {nullptr,
         {{"+all", "save", "@i"},
          std::nullopt,
          "Saved locations 0x00 to 0x3F of card 1(0x1) to @i/card-1.img\n"
          "Saved locations 0x00 to 0x3F of card 2(0x2) to @i/card-2.img\n" +
              skipped,
          "",
          0}},
        {nullptr, {{"+all", "check", "@i"}, std::nullopt, match1 + match2 + skipped, "", 0}},
        {[](const image_dir &d) {
             d.sorvit({"/card", "2", "+f", "0x30", "0x1"});
         },
         {{"+all", "check", "@i"},
          std::nullopt,
          match1 +
              "Selected card ID is 2(0x2)\n   [0x30] = 0x0001 on the card, 0xC030 in the "
              "image\n1 of 64 locations of @i/card-2.img differs from the card\n" +
              skipped,
          "",
          1}},
        // One question for every card's changes; then each is written and checked.
        {nullptr,
         {{"+all", "load", "@i"},
          "y\n",
          "Selected card ID is 1(0x1)\nThe card already matches @i/card-1.img: nothing to "
          "write\nSelected card ID is 2(0x2)\n   [0x30] = 0x0001 -> 0xC030\n" +
              skipped +
              "Warning: this will write 1 EEPROM location of card 2(0x2)\n"
              "Are you sure you want to continue (y/n)? "
              "Wrote 1 location: the card now matches @i/card-2.img\n",
          "",
          0}},
        {[](const image_dir &d) {
             write_file(d.dir.file("bank"), std::regex_replace(d.bank(), std::regex("\nid *= 1\n"),
                                                               "\nid = 1\nfault = open\n"));
         },
         {{"+all", "check", "@i"},
          std::nullopt,
          match2 + skipped,
          "Failed to open card with index 0: simulated fault: open of card 1\n"
          "@i/card-1.img: no card with ID 1 on this host\n",
          255}},
        // A new folder appears whole or not at all: a backup never lacks a card.
        {nullptr,
         {{"+all", "save", "@j/day"},
          std::nullopt,
          "Saved locations 0x00 to 0x3F of card 2(0x2) to @j/day/card-2.img\n" + skipped,
          "Failed to open card with index 0: simulated fault: open of card 1\n"
          "Folder @j/day not made: not every card was saved\n",
          255}},
        {[](const image_dir &d) {
             EXPECT_TRUE(std::filesystem::is_empty(d.dir.file("j")));  // nothing of day/ left
             write_file(d.dir.file("bank"),
                        std::regex_replace(d.bank(), std::regex("fault.*\n"), ""));
             unlink(d.dir.file("i/card-1.img").c_str());
         },
         {{"+all", "check", "@i"},
          std::nullopt,
          match2 + skipped,
          "Cannot read image file @i/card-1.img: No such file or directory\n",
          255}},
        {nullptr,
         {{"+all", "/card", "1", "check", "@i"},
          std::nullopt,
          "",
          "Do not specify /card or /index with +all: it acts on every card\n",
          255}},
        {nullptr,
         {{"+all", "list"},
          std::nullopt,
          "",
          "+all goes with save, check, load, recover or undo: list shows every card already\n",
          255}},
        {nullptr,
         {{"+all", "save", "-"},
          std::nullopt,
          "",
          "+all needs a folder for the cards' images, not -\n",
          255}},
        // +all undo takes back the newest run only, also when two runs
        // began in one second.
        {[](const image_dir &d) {
             d.sorvit({"/card", "1", "+f", "0x31", "0x5"});
             d.sorvit({"/card", "2", "+f", "0x31", "0x6"});
         },
         {{"+all", "+f", "undo"},
          std::nullopt,
          "Selected card ID is 2(0x2)\n   [0x31] = 0x0006 -> 0xC031\n" + skipped +
              "Wrote 1 location: card 2(0x2) holds again what it held before its change\n",
          "",
          0}},
    };
    for (const auto &step : steps) {
        if (step.before) step.before(d);
        expect_run(d, step.run);
    }
}

}  // namespace
