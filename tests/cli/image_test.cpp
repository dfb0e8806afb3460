// sorvit-image as a user runs it, on the simulated library: list, and the
// round trip of save, check and load, with the library's faults.
#include <gtest/gtest.h>

#include <regex>
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
};

// What a user runs first, on the default bank, as the README shows it.
TEST(Image, RoundTripOnTheDefaultBank) {
    temp_dir dir;
    const auto image = [&dir](const std::vector<std::string> &args) {
        return run_tool(SORVIT_IMAGE_BINARY, dir, args).result;
    };
    process_result list = image({"list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.substr(list.out.find('\n') + 1),
              "    0  0 (0x0)                      12  32-bit       none       0x4812A001  VQ-4812 "
              "Quad Link\n"
              "    1  101 (0x65)                    0  16-bit       0x00-0x2A  0x2100B017  VQ-2100 "
              "Capture\n"
              "    2  102 (0x66)                   25  16-bit       0x00-0x2C  0x2525C042  VQ-2525 "
              "Capture Duo\n"
              "    3  103 (0x67)                   20  unsupported  -          0x2000D003  VQ-2000 "
              "Prototype\n");
    std::string file = dir.file("a.img");
    EXPECT_EQ(image({"save", file}).status, 0);
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
    // A dump saved by sorvit is an image too.
    write_file(dir.file("d.txt"), run_tool(SORVIT_BINARY, dir, {}).result.out);
    EXPECT_EQ(image({"check", dir.file("d.txt")}).status, 0);
}

struct image_case {
    std::vector<std::string> args;  // "@name": a file in the test's folder
    std::optional<std::string> input;
    std::string out;  // "@" stands for the test's folder
    int status;
};

// Each case on a fresh bank, after saving card 7 (16-bit, protected below
// 43) to @a.img and changing its locations 0x05 and 0x30 with sorvit.
void run_image_cases(const std::vector<image_case> &cases) {
    for (const auto &c : cases) {
        image_dir d;
        ASSERT_EQ(d.image({"/card", "7", "save", "@a.img"}).status, 0);
        d.sorvit({"/card", "7", "+f", "+unlock", "5", "0x1111"});
        d.sorvit({"/card", "7", "+f", "0x30", "0x2222"});
        std::string before = d.bank();
        process_result r = d.image(c.args, c.input);
        std::string what = c.args.empty() ? "" : c.args.back();
        EXPECT_EQ(r.out, std::regex_replace(c.out, std::regex("@"), d.dir.path + "/")) << what;
        EXPECT_EQ(r.status, c.status) << what;
        if (c.status == 255) EXPECT_EQ(d.bank(), before) << what;
    }
}

const std::string CARD7 = "Selected card ID is 7(0x7)\n";
const std::string CHANGES =
    "   [0x05] = 0x1111 -> 0xC005  (protected: left unchanged)\n"
    "   [0x30] = 0x2222 -> 0xC030\n";
const std::string ASK =
    "Warning: this will write 1 EEPROM location of card 7(0x7)\n"
    "Are you sure you want to continue (y/n)? ";

const std::string SPARE_15 =
    "Selected card ID is 15(0xf)\nImage file @a.img was saved from card 7(0x7)\n";
const std::string READ_FAULT =
    "   [0x21] = 0x????\nFailed to read 1 of 64 EEPROM locations: "
    "simulated fault: read of location 0x21 on card 15\n";

TEST(Image, LoadAsksOnceAndHonoursProtection) {
    run_image_cases({
        {{"/card", "7", "load", "@a.img"},
         "y\n",
         CARD7 + CHANGES + ASK +
             "Wrote 1 location; 1 protected location still differs (+unlock writes them)\n",
         1},
        {{"/card", "7", "load", "@a.img"}, "n\n", CARD7 + CHANGES + ASK + "Aborted.\n", 0},
        {{"/card", "7", "load", "@a.img"}, std::nullopt, CARD7 + CHANGES + ASK + "Aborted.\n", 255},
        {{"/card", "7", "+unlock", "+f", "load", "@a.img"},
         std::nullopt,
         CARD7 + "   [0x05] = 0x1111 -> 0xC005  (protected)\n   [0x30] = 0x2222 -> 0xC030\n"
                 "Wrote 2 locations: the card now matches @a.img\n",
         0},
        {{"/card", "7", "check", "@a.img"},
         std::nullopt,
         CARD7 + "   [0x05] = 0x1111 on the card, 0xC005 in the image\n"
                 "   [0x30] = 0x2222 on the card, 0xC030 in the image\n"
                 "2 of 64 locations of @a.img differ from the card\n",
         1},
        // Another card of the same kind takes the image; another kind never does.
        {{"/card", "10", "check", "@a.img"},
         std::nullopt,
         "Selected card ID is 10(0xa)\n"
         "Image file @a.img is for board type 0; card 10 is board type 1\n",
         255},
        // A failed read stops every action before it writes anything.
        {{"/card", "15", "check", "@a.img"}, std::nullopt, SPARE_15 + READ_FAULT, 255},
        {{"/card", "15", "+f", "load", "@a.img"}, std::nullopt, SPARE_15 + READ_FAULT, 255},
        {{"/card", "15", "save", "@b.img"}, std::nullopt, READ_FAULT + "No image written.\n", 255},
        {{"/card", "7", "load", "-"},
         "",
         "An image from standard input needs +f: standard input "
         "cannot also answer the question\n",
         255},
        {{"load", "@a.img", "@a.img"},
         std::nullopt,
         "Too many parameters supplied: load takes "
         "one file. Use sorvit-image /? to get help.\n",
         255},
        {{"lsit"}, std::nullopt, "Unknown action 'lsit': use list, save, check or load\n", 255},
        {{"check"},
         std::nullopt,
         "Too few parameters supplied. Use sorvit-image /? to get "
         "help.\n",
         255},
        {{"/card", "0X7", "list"},
         std::nullopt,
         "Value of uint option /card is invalid: 0X7\n",
         255},
        {{"/card", "7", "save", "@"},
         std::nullopt,
         "Cannot write image file @: Is a directory\n",
         255},
    });
}

// A write that fails halfway says what was written; a second load finishes.
TEST(Image, FailedWriteThenASecondLoadFinishes) {
    image_dir d(cli_card(20, 12, 32, "fault = write 0x31\n"));
    ASSERT_EQ(d.image({"/card", "20", "save", "@a.img"}).status, 0);
    std::string text = read_file(d.dir.file("a.img"));
    for (const char *loc : {"0x30", "0x31", "0x32"})
        text = std::regex_replace(text, std::regex(std::string("\\[") + loc + "\\] = 0x.*"),
                                  std::string("[") + loc + "] = 0x12345678");
    write_file(d.dir.file("a.img"), text);
    process_result r = d.image({"/card", "20", "+f", "load", "@a.img"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("Failed to write EEPROM location 0x31: simulated fault: write of location "
                         "0x31 on card 20\nWrote 1 of 3 locations before the failure (0x30); "
                         "running load again finishes the job (it writes only what still "
                         "differs)\n"),
              std::string::npos)
        << r.out;
    write_file(d.dir.file("bank"), std::regex_replace(d.bank(), std::regex("fault .*\n"), ""));
    r = d.image({"/card", "20", "+f", "load", "@a.img"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Wrote 2 locations: the card now matches"), std::string::npos) << r.out;
    EXPECT_EQ(d.image({"/card", "20", "check", "@a.img"}).status, 0);
}

}  // namespace
