// sorvit as a user runs it: the built binary against the simulated library
// with a bank of the test's own, whole standard output and exit status
// compared, the reply fed on standard input, the library's calls traced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "cli_bank.h"
#include "process.h"

namespace {

const std::string GOLDEN = SORVIT_GOLDEN_DIR;

using sorvit_run = tool_run;

sorvit_run run_sorvit(const temp_dir &dir, const std::vector<std::string> &args,
                      std::optional<std::string> input = std::nullopt) {
    return run_tool(SORVIT_BINARY, dir, args, std::move(input));
}

size_t count_matches(const std::string &text, const std::string &pattern) {
    std::regex re(pattern);
    return static_cast<size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

// Whatever happened, every card opened was closed again.
void expect_closed(const sorvit_run &r, const std::string &what) {
    EXPECT_EQ(count_matches(r.trace, "OpenCard(ByIndex)? [a-z]+=[0-9]+ -> 0\n"),
              count_matches(r.trace, "CloseCard [^\n]* -> 0\n"))
        << what << "\n"
        << r.trace;
}

struct cli_case {
    std::vector<std::string> args;
    std::optional<std::string> input;
    std::string out;  // literal, or "@file" for a file in the golden folder
    int status;
};

std::string expected_out(const std::string &out) {
    return out.rfind('@', 0) == 0 ? read_file(GOLDEN + "/" + out.substr(1)) : out;
}

std::string joined(const std::vector<std::string> &args) {
    std::string s;
    for (const auto &a : args) s += "'" + a + "' ";
    return s;
}

// A run that fails changes nothing: the bank stays as it was, byte for byte.
void run_cases(const std::vector<cli_case> &cases) {
    for (const auto &c : cases) {
        temp_dir dir;
        write_file(dir.file("bank"), cli_bank());
        sorvit_run r = run_sorvit(dir, c.args, c.input);
        EXPECT_EQ(r.result.out, expected_out(c.out)) << joined(c.args);
        EXPECT_EQ(r.result.status, c.status) << joined(c.args);
        expect_closed(r, joined(c.args));
        if (c.status != 0) EXPECT_EQ(read_file(dir.file("bank")), cli_bank()) << joined(c.args);
    }
}

const std::string CARD0 = "Selected card ID is 0(0x0)\n";
const std::string CARD7 = "Selected card ID is 7(0x7)\n";
const std::string ASK = "Are you sure you want to continue (y/n)? ";
const std::string DENIED = "Permission denied to protected location.\n";

std::string warning(const std::string &card, const std::string &decimal, const std::string &hex,
                    const std::string &location) {
    return card + "Warning: this will write the value " + decimal + "/0x" + hex +
           " to EEPROM location 0x" + location + "\n" + ASK;
}

TEST(Cli, Dumps) {
    run_cases({
        {{}, std::nullopt, "@dump_card0.txt", 0},
        {{"/index", "1"}, std::nullopt, "@dump_card7.txt", 0},
        {{"/card", "9"}, std::nullopt, "@dump_card9.txt", 0},
        {{"/card", "15"}, std::nullopt, "@dump_read_fault_at.txt", 255},
        {{"/card", "16"}, std::nullopt, "@dump_read_fault_all.txt", 255},
    });
}

TEST(Cli, DumpReadsLocationsInColumnOrder) {
    temp_dir dir;
    write_file(dir.file("bank"), cli_bank());
    sorvit_run r = run_sorvit(dir, {});
    std::string order;
    std::regex re("ReadConfig [^ ]+ location=([0-9]+)");
    for (auto m = std::sregex_iterator(r.trace.begin(), r.trace.end(), re);
         m != std::sregex_iterator(); ++m)
        order += (*m)[1].str() + ",";
    std::string expected;
    for (int row = 0; row < 32; row++)
        expected += std::to_string(row) + "," + std::to_string(row + 32) + ",";
    EXPECT_EQ(order, expected);
    EXPECT_EQ(r.trace.rfind("OpenCard id=0 -> 0\nGetCardInfo ", 0), 0u) << r.trace;
}

TEST(Cli, DefaultBankWhenNoFileExists) {
    temp_dir dir;
    sorvit_run r = run_sorvit(dir, {});
    EXPECT_EQ(r.result.out, read_file(GOLDEN + "/dump_default.txt"));
    EXPECT_EQ(r.result.status, 0);
}

TEST(Cli, ReadsOneLocation) {
    run_cases({
        {{"0x10"}, std::nullopt, CARD0 + "[0x10] = 0xab001010\n", 0},
        {{"0X10"}, std::nullopt, CARD0 + "[0x10] = 0xab001010\n", 0},
        {{"/card", "7", "16"}, std::nullopt, CARD7 + "[0x10] = 0xc010\n", 0},
        {{"/card", "4294967295", "0"},
         std::nullopt,
         "Selected card ID is 4294967295(0xffffffff)\n[0x0] = 0xab000000\n",
         0},
        {{"/card", "0x7", "16"}, std::nullopt, CARD7 + "[0x10] = 0xc010\n", 0},
        {{"0x100"},
         std::nullopt,
         CARD0 + "Failed to read EEPROM location 0x100: location 0x100 is beyond the card's EEPROM "
                 "of 256 words\n",
         255},
        {{"/card", "15", "0x21"},
         std::nullopt,
         "Selected card ID is 15(0xf)\nFailed to read EEPROM location 0x21: simulated fault: read "
         "of location 0x21 on card 15\n",
         255},
        {{"/card", "15", "0x22"},
         std::nullopt,
         "Selected card ID is 15(0xf)\n[0x22] = 0xc022\n",
         0},
    });
}

// The protected ranges at their edges, for each class of board.
TEST(Cli, ProtectedLocations) {
    std::vector<cli_case> cases;
    const struct {
        const char *card;
        unsigned first_free;
    } boards[] = {{"7", 43}, {"10", 43}, {"8", 45}, {"9", 45}, {"0", 0}};
    for (const auto &b : boards) {
        std::string id = b.card;
        std::string card = "Selected card ID is " + id + "(0x" + (id == "10" ? "a" : id) + ")\n";
        if (b.first_free > 0) {
            std::string last = std::to_string(b.first_free - 1);
            char hex[16];
            snprintf(hex, sizeof hex, "%x", b.first_free - 1);
            cases.push_back(
                {{"/card", id, last, "7"}, "y\n", warning(card, "7", "7", hex) + DENIED, 255});
            cases.push_back(
                {{"/card", id, "+unlock", last, "7"}, "y\n", warning(card, "7", "7", hex), 0});
        }
        std::string first = std::to_string(b.first_free);
        char hex[16];
        snprintf(hex, sizeof hex, "%x", b.first_free);
        cases.push_back({{"/card", id, first, "7"}, "y\n", warning(card, "7", "7", hex), 0});
    }
    run_cases(cases);
}

TEST(Cli, WritesAfterTheRightReplyOnly) {
    const std::string ask_at_50 = warning(CARD7, "4660", "1234", "32");
    run_cases({
        {{"/card", "7", "50", "0x1234"}, "y\n", ask_at_50, 0},
        {{"/card", "7", "50", "0x1234"}, "Y", ask_at_50, 0},
        {{"/card", "7", "50", "0x1234"}, "yes\n", ask_at_50, 0},
        {{"/card", "7", "50", "0x1234"}, "n\n", ask_at_50 + "Aborted.\n", 0},
        {{"/card", "7", "50", "0x1234"}, " y\n", ask_at_50 + "Aborted.\n", 0},
        {{"/card", "7", "50", "0x1234"}, "\n", ask_at_50 + "Aborted.\n", 0},
        {{"/card", "7", "5", "0x1234"}, "n\n", warning(CARD7, "4660", "1234", "5") + DENIED, 255},
        // An option after the numbers is refused before any card is opened:
        // it would otherwise be dropped, or send the write to card 0.
        {{"/card", "8", "44", "7", "+unlock"},
         "y\n",
         "Option +unlock must come before the location\n",
         255},
        {{"+f", "0x30", "0x12", "/card", "101"},
         std::nullopt,
         "Option /card must come before the location\n",
         255},
        {{"0x30", "0x12", "-f"}, "y\n", "Option -f must come before the location\n", 255},
        {{"0x30", "0x12", "/?"}, "y\n", "Option /? must come before the location\n", 255},
        {{"70", "1"}, "y\n", warning(CARD0, "1", "1", "46"), 0},
        {{"1", "2", "3"}, "y\n", warning(CARD0, "2", "2", "1"), 0},
        {{"0", "4294967295"}, "y\n", warning(CARD0, "4294967295", "ffffffff", "0"), 0},
        {{"+f", "2", "9"}, std::nullopt, "", 0},
    });
}

// Typos and writes that did not happen: each fails, and the card is untouched.
TEST(Cli, TyposAndUndoneWritesFail) {
    const auto invalid = [](const char *what, const char *text) {
        return std::string("Value of uint ") + what + " is invalid: " + text + "\n";
    };
    run_cases({
        {{"+f", "O5", "7"}, std::nullopt, invalid("parameter 1", "O5"), 255},
        {{"+f", "0x40", "abc"}, std::nullopt, invalid("parameter 2", "abc"), 255},
        {{"+f", "0x40", ""}, std::nullopt, invalid("parameter 2", ""), 255},
        {{"+f", "0x40", "1,000"}, std::nullopt, invalid("parameter 2", "1,000"), 255},
        {{"+f", "4294967360", "0x11"}, std::nullopt, invalid("parameter 1", "4294967360"), 255},
        {{"+f", "0x42", "0x1CAFEF00D"}, std::nullopt, invalid("parameter 2", "0x1CAFEF00D"), 255},
        {{"/card", "0X7", "+f", "0x30", "1"}, std::nullopt, invalid("option /card", "0X7"), 255},
        {{"-index", "abc", "+f", "0x30", "1"}, std::nullopt, invalid("option -index", "abc"), 255},
        {{"7", "/card", "3"}, std::nullopt, "Option /card must come before the location\n", 255},
        {{"7", "/Card", "3"}, std::nullopt, invalid("parameter 2", "/Card"), 255},
        {{"/card", "10", "+f", "2", "9"}, std::nullopt, DENIED, 255},
        {{"/card", "7", "50", "0x1234"},
         std::nullopt,  // no reply at all is not a decision
         warning(CARD7, "4660", "1234", "32") + "Aborted.\n",
         255},
    });
}

TEST(Cli, WriteReachesTheCardAndReadsBack) {
    const struct {
        std::vector<std::string> write, read;
        std::optional<std::string> reply;
        std::string read_out;
    } cases[] = {
        {{"/card", "7", "50", "0x1234"}, {"/card", "7", "50"}, "y\n", CARD7 + "[0x32] = 0x1234\n"},
        {{"/card", "7", "50", "0x1234"}, {"/card", "7", "50"}, "n\n", CARD7 + "[0x32] = 0xc032\n"},
        {{"/card", "7", "+unlock", "5", "0xBEEF"},
         {"/card", "7", "5"},
         "y",
         CARD7 + "[0x5] = 0xbeef\n"},
        {{"/card", "7", "5", "0xBEEF"}, {"/card", "7", "5"}, "y", CARD7 + "[0x5] = 0xc005\n"},
        {{"+f", "70", "0xCAFE"}, {"70"}, std::nullopt, CARD0 + "[0x46] = 0x0000cafe\n"},
        {{"+f", "0x40", "-1"}, {"0x40"}, std::nullopt, CARD0 + "[0x40] = 0xffffffff\n"},
        {{"+f", "0x40", " 7 "}, {"0x40"}, std::nullopt, CARD0 + "[0x40] = 0x00000007\n"},
        {{"+f", "-f", "1", "2"}, {"1"}, "n", CARD0 + "[0x1] = 0xab000101\n"},
    };
    for (const auto &c : cases) {
        temp_dir dir;
        write_file(dir.file("bank"), cli_bank());
        run_sorvit(dir, c.write, c.reply);
        EXPECT_EQ(run_sorvit(dir, c.read).result.out, c.read_out) << joined(c.write);
    }
}

TEST(Cli, FailedWritesAreReported) {
    const std::string fault =
        "Failed to write EEPROM location 0x32: simulated fault: write of location 0x32 on card "
        "14\n";
    run_cases({
        {{"/card", "14", "50", "1"},
         "y\n",
         warning("Selected card ID is 14(0xe)\n", "1", "1", "32") + fault,
         255},
        {{"/card", "14", "+f", "50", "1"}, std::nullopt, fault, 255},
        {{"/card", "14", "50", "1"},
         "n\n",
         warning("Selected card ID is 14(0xe)\n", "1", "1", "32") + "Aborted.\n",
         0},
        // A value wider than the word is refused before the question, and
        // the library is never called with it.
        {{"/card", "7", "+f", "50", "0x12345"},
         std::nullopt,
         "Value 0x12345 does not fit the card's 16-bit word\n",
         255},
        {{"/index", "1", "0x30", "0x12344"},
         "y\n",
         CARD7 + "Value 0x12344 does not fit the card's 16-bit word\n",
         255},
        {{"+f", "0x100", "1"},
         std::nullopt,
         "Failed to write EEPROM location 0x100: location 0x100 is beyond the card's EEPROM of 256 "
         "words\n",
         255},
    });
}

TEST(Cli, CardSelectionAndBoardErrors) {
    std::string supported = read_file(GOLDEN + "/supported_cards.txt");
    run_cases({
        {{"/card", "0", "/index", "0"},
         std::nullopt,
         "Do not specify both /card and /index\n",
         255},
        {{"/index", "2"}, std::nullopt, "@dump_card8.txt", 0},
        {{"/card", "11"}, std::nullopt, supported, 255},
        {{"/card", "12", "0"}, std::nullopt, supported, 255},
        {{"/card", "13", "0", "1"}, "y\n", supported, 255},
        {{"/card", "17"},
         std::nullopt,
         "Failed to get card info: simulated fault: card information of card 17\n",
         255},
        {{"/card", "18"},
         std::nullopt,
         "Failed to open card with ID 18: simulated fault: open of card 18\n",
         255},
    });
}

TEST(Cli, OpenFailuresNameTheBank) {
    temp_dir dir;
    write_file(dir.file("bank"), cli_bank());
    std::string bank = dir.file("bank");
    EXPECT_EQ(run_sorvit(dir, {"/card", "5"}).result.out,
              "Failed to open card with ID 5: no card with ID 5 in bank file " + bank + "\n");
    EXPECT_EQ(run_sorvit(dir, {"/index", "14"}).result.out,
              "Failed to open card with index 14: no card at index 14 in bank file " + bank +
                  " (it holds 14)\n");
    write_file(bank, "[card]\nid = 0\nboard_type = 12\nword_bits = 8\n");
    sorvit_run r = run_sorvit(dir, {});
    EXPECT_EQ(r.result.out, "Failed to open card with ID 0: bank file " + bank +
                                " is malformed at line 4: expected word_bits = 16 or 32\n");
    EXPECT_EQ(r.result.status, 255);
}

TEST(Cli, RefusedBoardsAreClosedBeforeAnyRead) {
    temp_dir dir;
    write_file(dir.file("bank"), cli_bank());
    sorvit_run r = run_sorvit(dir, {"/card", "11"});
    EXPECT_EQ(std::regex_replace(r.trace, std::regex("handle=[0-9A-Fx]+"), "h"),
              "OpenCard id=11 -> 0\nGetCardInfo h -> 0\nCloseCard h -> 0\n");
}

TEST(Cli, CommandLineErrorsOpenNoCard) {
    const struct {
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        {{"/f"}, "Boolean option f should be specified as -f or +f\n", 255},
        {{"/card"}, "/card option requires parameter: ID of card to use\n", 255},
        {{"/Card", "3"}, "Unknown option: /Card\n", 255},
        {{"/card", "0", "/index", "0"}, "Do not specify both /card and /index\n", 255},
        {{"/?"}, read_file(GOLDEN + "/usage.txt"), 0},
        {{"/sdk", "x", "-h", "/xyz"}, read_file(GOLDEN + "/usage.txt"), 0},
    };
    for (const auto &c : cases) {
        temp_dir dir;
        write_file(dir.file("bank"), cli_bank());
        sorvit_run r = run_sorvit(dir, c.args);
        EXPECT_EQ(r.result.out, c.out) << joined(c.args);
        EXPECT_EQ(r.result.status, c.status) << joined(c.args);
        EXPECT_EQ(r.trace.find("Open"), std::string::npos) << joined(c.args);
    }
}

TEST(Cli, SdkSettingsChangeNothing) {
    temp_dir dir;
    write_file(dir.file("bank"), cli_bank());
    sorvit_run plain = run_sorvit(dir, {"0x10"});
    sorvit_run with_sdk = run_sorvit(dir, {"/sdk", "C:/sdk", "/bitdir", "B", "0x10"});
    EXPECT_EQ(with_sdk.result.out, plain.result.out);
}

// Output that never reached its reader is a failure, not a success, named
// by the error of the write that failed; a question nobody saw writes nothing.
// Each output failure is named by its own error: a full disk, a reader that
// went away (no SIGPIPE ends the tool), a standard output that was closed
// (and that no file opened later takes the place of).
TEST(Cli, OutputThatCannotBeWrittenFails) {
    const std::vector<std::string> runs[] = {{}, {"0x10"}, {"/?"}, {"/Card"}, {"60", "6"}};
    const struct {
        const char *error;
        void (*make)();  // in the child: standard output as the case has it
    } outputs[] = {
        {"No space left on device", [] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); }},
        {"Broken pipe",
         [] {
             int ends[2];
             if (pipe(ends) != 0) _exit(126);
             close(ends[0]);
             dup2(ends[1], STDOUT_FILENO);
         }},
        {"Bad file descriptor", [] { close(STDOUT_FILENO); }},
    };
    for (const auto &o : outputs)
        for (const auto &args : runs) {
            temp_dir dir;
            write_file(dir.file("bank"), cli_bank());
            program_run run;
            run.args = args;
            run.env = {{"VELQOR2_SIM_BANK", dir.file("bank")}};
            run.input = "y\n";
            std::string errors = dir.file("stderr");
            run.in_child = [&errors, &o] {
                dup2(open(errors.c_str(), O_WRONLY | O_CREAT, 0600), STDERR_FILENO);
                o.make();
            };
            EXPECT_EQ(run_program(SORVIT_BINARY, run).status, 255) << joined(args);
            EXPECT_EQ(read_file(errors),
                      std::string("sorvit: cannot write standard output: ") + o.error + "\n")
                << joined(args) << o.error;
            EXPECT_EQ(read_file(dir.file("bank")), cli_bank()) << joined(args);
        }
}

// A reply is one line: a script answers several questions a line each, and
// whatever follows is left for the next reader.
TEST(Cli, EachQuestionReadsOneLineOfInput) {
    temp_dir dir;
    write_file(dir.file("bank"), cli_bank());
    program_run run;
    const std::string sorvit = SORVIT_BINARY;
    run.args = {"-c", sorvit + " 60 6 >/dev/null; " + sorvit + " 61 7 >/dev/null; cat"};
    run.env = {{"VELQOR2_SIM_BANK", dir.file("bank")}};
    run.input = "yes please\nno\nleft over\n";
    EXPECT_EQ(run_program("/bin/sh", run).out, "left over\n");
    EXPECT_EQ(run_sorvit(dir, {"60"}).result.out, CARD0 + "[0x3c] = 0x00000006\n");
    EXPECT_EQ(run_sorvit(dir, {"61"}).result.out, CARD0 + "[0x3d] = 0xab003d3d\n");
}

// The question must reach a pipe before sorvit waits for the reply: a
// script that answers only after seeing it would otherwise hang.
TEST(Cli, QuestionIsFlushedBeforeTheReplyIsRead) {
    temp_dir dir;
    write_file(dir.file("bank"), cli_bank());
    int out[2], in[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(in), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(in[0], STDIN_FILENO);
        for (int fd : {out[0], out[1], in[0], in[1]}) close(fd);
        setenv("VELQOR2_SIM_BANK", dir.file("bank").c_str(), 1);
        keep_tool_state(dir.path);
        execl(SORVIT_BINARY, SORVIT_BINARY, "60", "1", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    std::string seen;
    pollfd p{out[0], POLLIN, 0};
    while (seen.find("(y/n)? ") == std::string::npos && poll(&p, 1, 10000) == 1) {
        char buffer[256];
        ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(seen, warning(CARD0, "1", "1", "3c"));
    EXPECT_EQ(write(in[1], "y\n", 2), 2);
    close(in[1]);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
