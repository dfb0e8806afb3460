// sorvit under stress: many processes writing one card at once, writers
// killed at random moments, a hostile environment and hostile command
// lines. Nothing is lost, nothing crashes, every failure is one line.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli_bank.h"
#include "process.h"

namespace {

struct bank_dir {
    temp_dir dir;
    std::string bank = dir.file("bank");
    bank_dir() {
        write_file(bank, cli_bank());
        chmod(dir.path.c_str(), 0755);  // reachable by the unprivileged runs below
    }
    process_result sorvit(std::vector<std::string> args,
                          std::function<void()> in_child = {}) const {
        program_run run;
        run.args = std::move(args);
        run.env = {{"VELQOR2_SIM_BANK", bank}};
        run.in_child = std::move(in_child);
        return run_program(SORVIT_BINARY, run);
    }
    // The same, from a copy of sorvit and its library inside the folder, for
    // runs as another user, who may not reach the build tree.
    process_result sorvit_copy(std::vector<std::string> args,
                               std::function<void()> in_child) const {
        namespace fs = std::filesystem;
        fs::path bin = dir.file("bin");
        fs::create_directory(bin);
        fs::copy_file(SORVIT_BINARY, bin / "sorvit", fs::copy_options::overwrite_existing);
        fs::copy_file(SORVIT_LIBRARY, bin / SORVIT_LIBRARY_SONAME,
                      fs::copy_options::overwrite_existing);
        fs::permissions(bin, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
        program_run run;
        run.args = std::move(args);
        // The sanitizer build's leak suppressions may lie out of that user's
        // reach too; leaks are checked by every other run.
        run.env = {{"VELQOR2_SIM_BANK", bank},
                   {"LD_LIBRARY_PATH", bin},
                   {"ASAN_OPTIONS", "detect_leaks=0"}};
        run.in_child = std::move(in_child);
        return run_program(bin / "sorvit", run);
    }
    // Location -> value, from a dump of card 0.
    std::map<unsigned, unsigned long> dump() const {
        process_result r = sorvit({});
        EXPECT_EQ(r.status, 0) << r.out;
        std::map<unsigned, unsigned long> words;
        std::regex cell("\\[0x([0-9A-F]{2})\\] = 0x([0-9A-F]{8})");
        for (auto m = std::sregex_iterator(r.out.begin(), r.out.end(), cell);
             m != std::sregex_iterator(); ++m)
            words[static_cast<unsigned>(std::stoul((*m)[1], nullptr, 16))] =
                std::stoul((*m)[2], nullptr, 16);
        EXPECT_EQ(words.size(), 64u);
        return words;
    }
};

unsigned long original(unsigned location) { return 0xAB000000ul | location << 8 | location; }

void wait_all(const std::vector<pid_t> &children) {
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST(Stress, ConcurrentWritersEachKeepEveryWrite) {
    bank_dir b;
    constexpr unsigned PROCESSES = 8, WRITES = 8;
    std::vector<pid_t> children;
    for (unsigned p = 0; p < PROCESSES; p++) {
        pid_t pid = fork();
        if (pid == 0) {
            int failed = 0;
            for (unsigned w = 0; w < WRITES; w++) {
                unsigned loc = p * WRITES + w;
                failed |=
                    b.sorvit({"+f", std::to_string(loc), std::to_string(0x1000 * (p + 1) + loc)})
                        .status;
            }
            _exit(failed ? 1 : 0);
        }
        children.push_back(pid);
    }
    wait_all(children);
    auto words = b.dump();
    for (unsigned loc = 0; loc < PROCESSES * WRITES; loc++)
        EXPECT_EQ(words[loc], 0x1000ul * (loc / WRITES + 1) + loc) << "location " << loc;
    printf("[stress] %u processes x %u writes: %u values checked\n", PROCESSES, WRITES,
           PROCESSES * WRITES);
}

TEST(Stress, TwoWritersOfOneLocationLeaveOneOfTheirValues) {
    bank_dir b;
    for (int round = 0; round < 10; round++) {
        std::vector<pid_t> children;
        for (unsigned long value : {0x11111111ul + round, 0x22222222ul + round}) {
            pid_t pid = fork();
            if (pid == 0) _exit(b.sorvit({"+f", "5", std::to_string(value)}).status);
            children.push_back(pid);
        }
        wait_all(children);
        unsigned long v = b.dump()[5];
        EXPECT_TRUE(v == 0x11111111ul + round || v == 0x22222222ul + round) << std::hex << v;
    }
}

TEST(Stress, WritersKilledAtRandomMomentsLeaveOldOrNewValues) {
    bank_dir b;
    std::mt19937 random(2026);
    constexpr int KILLS = 20;
    for (int kill_round = 1; kill_round <= KILLS; kill_round++) {
        pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            for (unsigned loc = 0;; loc = (loc + 1) % 64)
                b.sorvit({"+f", std::to_string(loc), std::to_string(kill_round << 8 | loc)});
        }
        setpgid(pid, pid);
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + random() % 30000));
        kill(-pid, SIGKILL);  // the loop and the sorvit it is running
        waitpid(pid, nullptr, 0);
        auto words = b.dump();
        for (unsigned loc = 0; loc < 64; loc++) {
            unsigned long v = words[loc];
            EXPECT_TRUE(v == original(loc) ||
                        ((v & 0xFFFF00FFul) == loc && (v >> 8 & 0xFF) <= kill_round))
                << "round " << kill_round << " location " << loc << " holds " << std::hex << v;
        }
    }
    printf("[stress] %d writers killed with SIGKILL; the bank loaded after each\n", KILLS);
}

// Runs the rest of a child as an unprivileged user, so that file
// permissions hold even when the tests run as root.
void as_nobody() {
    if (geteuid() != 0) return;
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
}

TEST(Stress, HostileEnvironmentGivesOneLineAndKeepsTheBank) {
    const struct {
        const char *name;
        std::function<void(const bank_dir &)> setup;
        std::vector<std::string> args;
        std::function<void()> in_child;
        std::string expected;  // "%s" stands for the bank's path
    } cases[] = {
        {"read-only folder",
         [](const bank_dir &b) { chmod(b.dir.path.c_str(), 0555); },
         {"+f", "0x40", "1"},
         as_nobody,
         "Failed to write EEPROM location 0x40: cannot write bank file %s: cannot open its lock "
         "file %s.lock: Permission denied\n"},
        {"unreadable bank",
         [](const bank_dir &b) { chmod(b.bank.c_str(), 0600); },
         {"0x40"},
         as_nobody,
         "Failed to open card with ID 0: cannot read bank file %s: Permission denied\n"},
        {"malformed bank",
         [](const bank_dir &b) {
             write_file(b.bank, "[card]\nid = 0\nboard_type = 12\nword_bits = 32\n0: x\n");
         },
         {},
         {},
         "Failed to open card with ID 0: bank file %s is malformed at line 5: expected hexadecimal "
         "word values\n"},
        {"truncated bank",
         [](const bank_dir &b) { write_file(b.bank, cli_bank().substr(0, 30)); },
         {},
         {},
         "Failed to open card with ID 0: bank file %s is malformed at line 1: expected id, "
         "board_type and word_bits in this card\n"},
        {"directory",
         [](const bank_dir &b) {
             unlink(b.bank.c_str());
             mkdir(b.bank.c_str(), 0755);
         },
         {"/index", "0"},
         {},
         "Failed to open card with index 0: cannot read bank file %s: not a regular file\n"},
        {"dangling symlink",
         [](const bank_dir &b) {
             unlink(b.bank.c_str());
             symlink("gone", b.bank.c_str());
         },
         {},
         {},
         "Failed to open card with ID 0: cannot read bank file %s: dangling symbolic link\n"},
        {"empty bank",
         [](const bank_dir &b) { write_file(b.bank, ""); },
         {},
         {},
         "Failed to open card with ID 0: no card with ID 0 in bank file %s\n"},
        {"disk full",
         [](const bank_dir &) {},
         {"+f", "0x40", "1"},
         [] {
             signal(SIGXFSZ, SIG_IGN);
             rlimit limit{1024, 1024};
             setrlimit(RLIMIT_FSIZE, &limit);
         },
         "Failed to write EEPROM location 0x40: cannot write bank file %s: File too large\n"},
    };
    for (const auto &c : cases) {
        bank_dir b;
        c.setup(b);
        std::string before = read_file(b.bank);
        process_result r = b.sorvit_copy(c.args, c.in_child);
        std::string expected = std::regex_replace(c.expected, std::regex("%s"), b.bank);
        EXPECT_EQ(r.out, expected) << c.name;
        EXPECT_EQ(r.status, 255) << c.name;
        EXPECT_EQ(read_file(b.bank), before) << c.name;
        chmod(b.dir.path.c_str(), 0755);
        for (const auto &entry : std::filesystem::directory_iterator(b.dir.path)) {
            std::string name = entry.path().filename();
            EXPECT_TRUE(name == "bank" || name == "bank.lock" || name == "bin")
                << c.name << ": left behind " << name;
        }
    }
}

TEST(Stress, HostileCommandLinesNeverCrash) {
    bank_dir b;
    std::string huge(100000, 'x');  // one argument may be at most 128 KiB
    std::vector<std::string> thousands(5000, "1");
    thousands.insert(thousands.begin(), "+f");
    const struct {
        const char *name;
        std::vector<std::string> args;
        std::string expected;
        int status;
    } cases[] = {
        {"huge option", {"/" + huge}, ("Unknown option: /" + huge).substr(0, 1023), 255},
        {"huge option value", {"/card", huge}, "Value of uint option /card is invalid: xxx", 255},
        {"huge number",
         {std::string(100000, '9')},
         "Value of uint parameter 1 is invalid: 999",
         255},
        {"thousands of arguments", thousands, "", 0},
        {"empty arguments", {"", ""}, "Value of uint parameter 1 is invalid: \n", 255},
        {"high bytes", {"/\xff\xfe\x80"}, "Unknown option: /\xff\xfe\x80\n", 255},
        {"high bytes as number",
         {"\xc3\xa9"},
         "Value of uint parameter 1 is invalid: \xc3\xa9\n",
         255},
    };
    for (const auto &c : cases) {
        program_run run;
        run.args = c.args;
        run.env = {{"VELQOR2_SIM_BANK", b.bank}};
        process_result r = run_program(SORVIT_BINARY, run);
        EXPECT_LT(r.status, 1000) << c.name << ": killed by a signal";
        EXPECT_EQ(r.status, c.status) << c.name;
        if (!c.expected.empty())
            EXPECT_EQ(r.out.substr(0, c.expected.size()), c.expected) << c.name;
    }
}

}  // namespace
