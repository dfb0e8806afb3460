// The simulated library through its seven operations: bank location,
// default bank, statuses and their texts, fault marks and the call trace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "process.h"
#include "sim_env.h"
#include "sim_status.h"
#include "velqor2.h"

namespace {

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string status_text(VELQOR2_STATUS s) { return VELQOR2_GetStatusString(s); }

TEST(SimLibrary, DefaultBankUntilTheFirstWriteCreatesFileAndFolder) {
    sim_bank_env env;
    std::string nested = env.dir.file("a/b/bank");
    setenv("VELQOR2_SIM_BANK", nested.c_str(), 1);
    VELQOR2_HANDLE h = 0;
    ASSERT_EQ(VELQOR2_OpenCardByIndex(1, &h), VELQOR2_SUCCESS);
    VELQOR2_CARD_INFO info{};
    ASSERT_EQ(VELQOR2_GetCardInfo(h, &info), VELQOR2_SUCCESS);
    EXPECT_EQ(info.card_id, 101u);
    EXPECT_EQ(info.card_index, 1u);
    EXPECT_EQ(info.board_type, 0);
    EXPECT_EQ(info.eeprom_words, 256u);
    EXPECT_STREQ(info.model_name, "VQ-2100 Capture");  // the simulator's own fields
    uint32_t v = 0;
    EXPECT_EQ(VELQOR2_ReadConfig(h, 0, &v), VELQOR2_SUCCESS);
    EXPECT_FALSE(exists(nested)) << "reading must not create the bank";
    ASSERT_EQ(VELQOR2_WriteConfig(h, 0x40, 0xABCD), VELQOR2_SUCCESS) << status_text(0);
    EXPECT_TRUE(exists(nested));
    EXPECT_EQ(VELQOR2_CloseCard(h), VELQOR2_SUCCESS);

    // The new file holds the default bank with the one change.
    h = open_or_zero(101);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(VELQOR2_ReadConfig(h, 0x40, &v), VELQOR2_SUCCESS);
    EXPECT_EQ(v, 0xABCDu);
    EXPECT_EQ(VELQOR2_ReadConfig(h, 0, &v), VELQOR2_SUCCESS);
    EXPECT_EQ(v, 0x5651u);
    VELQOR2_CloseCard(h);
}

TEST(SimLibrary, BankPathFollowsTheEnvironment) {
    temp_dir state, home;
    const struct {
        const char *xdg;
        std::string expected;
    } cases[] = {{state.path.c_str(), state.file("velqor2-sim/bank")},
                 {"", home.file(".local/state/velqor2-sim/bank")}};
    for (const auto &c : cases) {
        auto r = run_in_child([&] {
            unsetenv("VELQOR2_SIM_BANK");
            setenv("XDG_STATE_HOME", c.xdg, 1);
            setenv("HOME", home.path.c_str(), 1);
            VELQOR2_HANDLE h = 0;
            VELQOR2_OpenCard(0, &h);
            exit(VELQOR2_WriteConfig(h, 0x50, 1) == VELQOR2_SUCCESS ? 0 : 1);
        });
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(exists(c.expected)) << c.expected;
    }
}

TEST(SimLibrary, FailuresHaveStatusesThatSayWhatWentWrong) {
    sim_bank_env env;
    env.write(small_card());
    VELQOR2_HANDLE h = 77;
    EXPECT_EQ(VELQOR2_OpenCard(6, &h), SIM_NO_SUCH_ID);
    EXPECT_EQ(h, 77u) << "a failed open leaves the handle";
    EXPECT_EQ(status_text(SIM_NO_SUCH_ID), "no card with ID 6 in bank file " + env.bank);
    EXPECT_EQ(VELQOR2_OpenCardByIndex(1, &h), SIM_NO_SUCH_INDEX);
    EXPECT_EQ(h, 77u);
    EXPECT_NE(status_text(SIM_NO_SUCH_INDEX).find("no card at index 1"), std::string::npos);

    h = open_or_zero(5);
    ASSERT_NE(h, 0u);
    uint32_t v = 0;
    EXPECT_EQ(VELQOR2_ReadConfig(h, 64, &v), SIM_BAD_LOCATION);
    EXPECT_EQ(status_text(SIM_BAD_LOCATION),
              "location 0x40 is beyond the card's EEPROM of 64 words");
    EXPECT_EQ(VELQOR2_WriteConfig(h, 0xFFFFFFFF, 1), SIM_BAD_LOCATION);
    std::string before = read_file(env.bank);
    EXPECT_EQ(VELQOR2_WriteConfig(h, 1, 0x10000), SIM_VALUE_TOO_WIDE);
    EXPECT_EQ(status_text(SIM_VALUE_TOO_WIDE), "value 0x10000 does not fit the card's 16-bit word");
    EXPECT_EQ(read_file(env.bank), before) << "a refused value stores nothing";
    EXPECT_EQ(VELQOR2_ReadConfig(h, 1, &v), VELQOR2_SUCCESS);
    EXPECT_EQ(v, 0x2222u);
    EXPECT_EQ(VELQOR2_ReadConfig(h, 1, nullptr), SIM_NULL_ARGUMENT);
    EXPECT_EQ(VELQOR2_GetCardInfo(h, nullptr), SIM_NULL_ARGUMENT);
    EXPECT_EQ(VELQOR2_CloseCard(h), VELQOR2_SUCCESS);
    EXPECT_EQ(VELQOR2_CloseCard(h), SIM_INVALID_HANDLE);
    EXPECT_EQ(VELQOR2_ReadConfig(h, 1, &v), SIM_INVALID_HANDLE);
    EXPECT_EQ(VELQOR2_ReadConfig(0, 1, &v), SIM_INVALID_HANDLE);
}

TEST(SimLibrary, EveryStatusHasAText) {
    for (VELQOR2_STATUS s : {0u, 1u, 0x100u, unsigned{SIM_NO_SUCH_ID}, unsigned{SIM_NO_MEMORY},
                             unsigned{SIM_NO_MEMORY} + 1, 0xFFFFFFFFu}) {
        const char *text = VELQOR2_GetStatusString(s);
        ASSERT_NE(text, nullptr) << s;
        EXPECT_GT(strlen(text), 0u) << s;
    }
    EXPECT_STREQ(VELQOR2_GetStatusString(0xFFFFFFFF), "unknown status 0xFFFFFFFF");
}

TEST(SimLibrary, BadBankFilesAreReportedWithPathAndReason) {
    sim_bank_env env;
    env.write(small_card() + "bogus line\n");
    VELQOR2_HANDLE h = 0;
    EXPECT_EQ(VELQOR2_OpenCard(5, &h), SIM_BANK_MALFORMED);
    EXPECT_EQ(
        status_text(SIM_BANK_MALFORMED),
        "bank file " + env.bank +
            " is malformed at line 9: expected '[card]', 'key = value' or 'location: values'");
    unlink(env.bank.c_str());
    mkdir(env.bank.c_str(), 0755);
    EXPECT_EQ(VELQOR2_OpenCard(5, &h), SIM_BANK_UNREADABLE);
    EXPECT_EQ(status_text(SIM_BANK_UNREADABLE),
              "cannot read bank file " + env.bank + ": not a regular file");
    rmdir(env.bank.c_str());
    ASSERT_EQ(symlink(env.dir.file("missing").c_str(), env.bank.c_str()), 0);
    EXPECT_EQ(VELQOR2_OpenCard(5, &h), SIM_BANK_UNREADABLE);
    EXPECT_EQ(status_text(SIM_BANK_UNREADABLE),
              "cannot read bank file " + env.bank + ": dangling symbolic link");
    EXPECT_EQ(h, 0u);
}

TEST(SimLibrary, WritesGoThroughASymbolicLinkToItsTarget) {
    sim_bank_env env;
    std::string target = env.dir.file("real-bank");
    write_file(target, small_card());
    ASSERT_EQ(symlink(target.c_str(), env.bank.c_str()), 0);
    VELQOR2_HANDLE h = open_or_zero(5);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(VELQOR2_WriteConfig(h, 2, 0xBEEF), VELQOR2_SUCCESS);
    VELQOR2_CloseCard(h);
    struct stat st;
    ASSERT_EQ(lstat(env.bank.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(read_file(target).find("1111 2222 BEEF"), std::string::npos);
}

// A handle answers from the bank as it is at each call: what another process
// wrote, or an edit of the file, is seen at once; a card or a bank that is
// gone fails the call and says why.
TEST(SimLibrary, EveryCallSeesTheBankAsItIsNow) {
    const struct {
        const char *name;
        std::function<void(const sim_bank_env &)> change;
        VELQOR2_STATUS status;  // of the read of location 1, then the card information
        uint32_t value;
        uint32_t serial;
        const char *text;  // of a failure, after the bank's path
    } cases[] = {
        {"another process writes",
         [](const sim_bank_env &) {
             run_in_child([] {
                 VELQOR2_HANDLE h = open_or_zero(5);
                 exit(VELQOR2_WriteConfig(h, 1, 0xBEEF) == VELQOR2_SUCCESS ? 0 : 1);
             });
         },
         VELQOR2_SUCCESS, 0xBEEF, 0x1234, ""},
        {"the file is edited",
         [](const sim_bank_env &env) {
             env.write(std::regex_replace(small_card(), std::regex("0x1234"), "0x99") +
                       small_card("", 6));
         },
         VELQOR2_SUCCESS, 0x2222, 0x99, ""},
        {"the card is removed", [](const sim_bank_env &env) { env.write(small_card("", 6)); },
         SIM_NO_SUCH_ID, 0, 0, "card 5 is no longer in bank file "},
        {"the bank no longer loads",
         [](const sim_bank_env &env) { env.write(small_card() + "garbage\n"); }, SIM_BANK_MALFORMED,
         0, 0, "bank file "},
        {"the bank is removed: the built-in bank has no card 5",
         [](const sim_bank_env &env) { unlink(env.bank.c_str()); }, SIM_NO_SUCH_ID, 0, 0,
         "card 5 is no longer in the default bank ("},
    };
    for (const auto &c : cases) {
        sim_bank_env env;
        env.write(small_card() + small_card("", 6));
        VELQOR2_HANDLE h = open_or_zero(5);
        ASSERT_NE(h, 0u);
        uint32_t v = 0;
        ASSERT_EQ(VELQOR2_ReadConfig(h, 1, &v), VELQOR2_SUCCESS);  // the snapshot is taken
        c.change(env);
        VELQOR2_CARD_INFO info{};
        EXPECT_EQ(VELQOR2_ReadConfig(h, 1, &v), c.status) << c.name;
        EXPECT_EQ(VELQOR2_GetCardInfo(h, &info), c.status) << c.name;
        if (c.status == VELQOR2_SUCCESS) {
            EXPECT_EQ(v, c.value) << c.name;
            EXPECT_EQ(info.serial_number, c.serial) << c.name;
        } else {
            EXPECT_EQ(status_text(c.status).rfind(c.text, 0), 0u) << status_text(c.status);
        }
        EXPECT_EQ(VELQOR2_CloseCard(h), VELQOR2_SUCCESS) << c.name;
    }
}

// A handle on the built-in bank sees the file that a write creates.
TEST(SimLibrary, TheBuiltInBankGivesWayToTheFile) {
    sim_bank_env env;
    VELQOR2_HANDLE h = open_or_zero(101);
    uint32_t v = 0;
    ASSERT_EQ(VELQOR2_ReadConfig(h, 0x40, &v), VELQOR2_SUCCESS);
    EXPECT_EQ(v, 0xFFFFu);
    run_in_child([] {
        VELQOR2_HANDLE other = open_or_zero(101);
        exit(VELQOR2_WriteConfig(other, 0x40, 0x1234) == VELQOR2_SUCCESS ? 0 : 1);
    });
    ASSERT_TRUE(exists(env.bank));
    EXPECT_EQ(VELQOR2_ReadConfig(h, 0x40, &v), VELQOR2_SUCCESS);
    EXPECT_EQ(v, 0x1234u);
    VELQOR2_CloseCard(h);
}

// A write puts its card down again and keeps every other line of the file;
// the process that wrote reads the bank as a fresh process reads it.
TEST(SimLibrary, AWriteRewritesOnlyItsCard) {
    const std::string bank = "# my bank\n" + small_card("# first\n") + "\n# between\n" +
                             small_card("# second\n", 6) + small_card("# third\n", 7);
    const struct {
        uint32_t id;
        std::vector<const char *> kept, gone;
    } cases[] = {
        {5,
         {"# second", "# third"},
         {"# my bank", "# first", "# between"}},  // and what precedes it
        {6, {"# my bank", "# first", "# between", "# third"}, {"# second"}},
        {7, {"# my bank", "# between", "# second"}, {"# third"}},
    };
    auto words = [] {  // location 3 and 0 of each card, opened afresh
        std::string seen;
        for (uint32_t id : {5u, 6u, 7u}) {
            VELQOR2_HANDLE h = open_or_zero(id);
            uint32_t a = 0, b = 0;
            VELQOR2_ReadConfig(h, 3, &a);
            VELQOR2_ReadConfig(h, 0, &b);
            VELQOR2_CloseCard(h);
            seen += std::to_string(a) + "," + std::to_string(b) + " ";
        }
        return seen;
    };
    for (const auto &c : cases) {
        sim_bank_env env;
        env.write(bank);
        VELQOR2_HANDLE h = open_or_zero(c.id);
        ASSERT_EQ(VELQOR2_WriteConfig(h, 3, 0xABCD), VELQOR2_SUCCESS) << c.id;
        VELQOR2_CloseCard(h);
        const std::string text = read_file(env.bank);
        for (const char *line : c.kept)
            EXPECT_NE(text.find(line), std::string::npos) << c.id << line;
        for (const char *line : c.gone)
            EXPECT_EQ(text.find(line), std::string::npos) << c.id << line;
        std::string expected;
        for (uint32_t id : {5u, 6u, 7u})
            expected += (id == c.id ? "43981" : "17476") + std::string(",4369 ");
        EXPECT_EQ(words(), expected) << c.id;
        EXPECT_EQ(run_in_child([&] { fputs(words().c_str(), stdout); }).out, expected) << c.id;
    }
}

// Which of open, info, read 3, read 4, write fails under each fault mark.
TEST(SimLibrary, EachFaultMarkFailsExactlyItsOperation) {
    const struct {
        const char *mark;
        bool open, info, read3, read4, write;
    } cases[] = {
        {"", false, false, false, false, false},
        {"fault = open\n", true, false, false, false, false},
        {"fault = info\n", false, true, false, false, false},
        {"fault = read\n", false, false, true, true, false},
        {"fault = read 4\n", false, false, false, true, false},
        {"fault = read 4\nfault = read 3\nfault = read 4\n", false, false, true, true, false},
        {"fault = write\n", false, false, false, false, true},
    };
    for (const auto &c : cases) {
        sim_bank_env env;
        env.write(small_card(c.mark) + small_card("", 6));
        VELQOR2_HANDLE h = 0;
        VELQOR2_STATUS open = VELQOR2_OpenCard(5, &h);
        EXPECT_EQ(open, c.open ? SIM_FAULT : VELQOR2_SUCCESS) << c.mark;
        if (c.open) {
            EXPECT_EQ(status_text(open), "simulated fault: open of card 5");
            continue;
        }
        VELQOR2_CARD_INFO info;
        uint32_t v;
        EXPECT_EQ(VELQOR2_GetCardInfo(h, &info), c.info ? SIM_FAULT : VELQOR2_SUCCESS) << c.mark;
        EXPECT_EQ(VELQOR2_ReadConfig(h, 3, &v), c.read3 ? SIM_FAULT : VELQOR2_SUCCESS) << c.mark;
        EXPECT_EQ(VELQOR2_ReadConfig(h, 4, &v), c.read4 ? SIM_FAULT : VELQOR2_SUCCESS) << c.mark;
        EXPECT_EQ(VELQOR2_WriteConfig(h, 4, 9), c.write ? SIM_FAULT : VELQOR2_SUCCESS) << c.mark;
        VELQOR2_CloseCard(h);
        // The other card is never affected.
        h = open_or_zero(6);
        EXPECT_EQ(VELQOR2_ReadConfig(h, 4, &v), VELQOR2_SUCCESS) << c.mark;
        VELQOR2_CloseCard(h);
    }
}

TEST(SimLibrary, TraceHasOneLinePerCall) {
    sim_bank_env env;
    env.write(small_card());
    std::string trace = env.dir.file("trace");
    setenv("VELQOR2_SIM_TRACE", trace.c_str(), 1);
    VELQOR2_HANDLE h = open_or_zero(5);
    uint32_t v;
    VELQOR2_ReadConfig(h, 64, &v);
    VELQOR2_GetStatusString(SIM_BAD_LOCATION);
    VELQOR2_WriteConfig(h, 7, 0x42);
    VELQOR2_CloseCard(h);
    char hex[32];
    snprintf(hex, sizeof hex, "0x%llX", static_cast<unsigned long long>(h));
    std::string handle = hex;
    EXPECT_EQ(read_file(trace),
              "OpenCard id=5 -> 0\n"
              "ReadConfig handle=" +
                  handle + " location=64 -> " + std::to_string(SIM_BAD_LOCATION) +
                  "\n"
                  "GetStatusString status=" +
                  std::to_string(SIM_BAD_LOCATION) +
                  "\n"
                  "WriteConfig handle=" +
                  handle +
                  " location=7 value=0x42 -> 0\n"
                  "CloseCard handle=" +
                  handle + " -> 0\n");
}

}  // namespace
