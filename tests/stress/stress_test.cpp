// sorvit under stress: many processes writing one card at once, writers
// killed at random moments, a hostile environment and hostile command
// lines. Nothing is lost, nothing crashes, every failure is one line.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_bank.h"
#include "process.h"

namespace {

struct bank_dir {
    temp_dir dir;
    std::string bank = dir.file("bank");
    explicit bank_dir(const std::string &text = cli_bank()) {
        write_file(bank, text);
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

// Location -> value of the first card, read from the bank file itself.
std::map<unsigned, unsigned long> first_card_words(const std::string &text) {
    std::map<unsigned, unsigned long> words;
    size_t first_card = text.find("\n[card]");
    std::istringstream lines(
        text.substr(first_card, text.find("\n[card]", first_card + 1) - first_card));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("0x", 0) != 0) continue;  // data lines: "0xNNNN: values"
        std::istringstream values(line.substr(line.find(':') + 1));
        unsigned loc = static_cast<unsigned>(std::stoul(line, nullptr, 16));
        for (std::string v; values >> v;) words[loc++] = std::stoul(v, nullptr, 16);
    }
    return words;
}

// Writers, readers dumping all the while, and something that keeps removing
// the lock file (as an age-based /tmp cleaner does): no write is lost and
// no read fails.
TEST(Stress, ConcurrentWritersReadersAndARemovedLockLoseNothing) {
    bank_dir b(cli_card(0, 12, 32, "eeprom_words = 512\n"));
    constexpr unsigned WRITERS = 8, WRITES = 50, READERS = 2;
    std::vector<pid_t> writers, others;
    for (unsigned p = 0; p < WRITERS; p++) {
        pid_t pid = fork();
        if (pid == 0) {
            // On a loaded machine a writer may wait long for its turn; what
            // is tested here is that no write is lost, not the wait.
            setenv("VELQOR2_SIM_LOCK_WAIT_MS", "60000", 1);
            setenv("SORVIT_LOCK_WAIT_MS", "60000", 1);
            int failed = 0;
            for (unsigned w = 0; w < WRITES; w++) {
                unsigned loc = p * WRITES + w;
                process_result r =
                    b.sorvit({"+f", std::to_string(loc), std::to_string(0x10000 * (p + 1) + loc)});
                if (r.status != 0) fprintf(stderr, "[stress] write failed: %s", r.out.c_str());
                failed |= r.status;
            }
            _exit(failed ? 1 : 0);
        }
        writers.push_back(pid);
    }
    std::string failed_reads = b.dir.file("failed-reads");
    for (unsigned r = 0; r < READERS; r++) {
        pid_t pid = fork();
        if (pid == 0) {
            for (;;)
                if (b.sorvit({}).status != 0) write_file(failed_reads, "a read failed");
        }
        others.push_back(pid);
    }
    pid_t remover = fork();
    if (remover == 0)
        for (;;) {
            unlink((b.bank + ".lock").c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    others.push_back(remover);
    wait_all(writers);
    for (pid_t pid : others) kill(pid, SIGKILL);
    for (pid_t pid : others) waitpid(pid, nullptr, 0);
    auto words = first_card_words(read_file(b.bank));
    unsigned lost = 0;
    for (unsigned loc = 0; loc < WRITERS * WRITES; loc++)
        lost += words[loc] != 0x10000ul * (loc / WRITES + 1) + loc;
    EXPECT_EQ(lost, 0u);
    EXPECT_EQ(read_file(failed_reads), "");
    printf(
        "[stress] %u writers x %u writes, %u readers, lock file removed all the while: "
        "%u of %u values lost\n",
        WRITERS, WRITES, READERS, lost, WRITERS * WRITES);
}

// A reader never waits for a lock; a writer waits a bounded time for one
// that another process holds (stopped, or simply holding it), then says so.
TEST(Stress, ReadersNeverWaitAndWritersWaitABoundedTime) {
    bank_dir b;
    std::string before = read_file(b.bank);
    int fd = open((b.bank + ".lock").c_str(), O_RDONLY | O_CREAT, 0644);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(b.sorvit({"0x10"}).status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    start = std::chrono::steady_clock::now();
    process_result r =
        b.sorvit({"+f", "0x10", "1"}, [] { setenv("VELQOR2_SIM_LOCK_WAIT_MS", "300", 1); });
    auto waited = std::chrono::steady_clock::now() - start;
    close(fd);
    EXPECT_EQ(r.out, "Failed to write EEPROM location 0x10: bank file " + b.bank +
                         " is locked by another process: gave up after waiting 300 ms for " +
                         b.bank + ".lock\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_EQ(read_file(b.bank), before);
}

// An image of card 0's 64 locations, each holding value.
std::string whole_image(unsigned long value) {
    std::string text;
    for (unsigned loc = 0; loc < 64; loc++) {
        char cell[40];
        snprintf(cell, sizeof cell, "[0x%02X] = 0x%08lX\n", loc, value);
        text += cell;
    }
    return text;
}

// The values the trace shows written, in order.
std::vector<std::string> written_values(const std::string &trace) {
    std::vector<std::string> values;
    std::regex write("WriteConfig .* value=(0x[0-9A-F]+) -> 0");
    for (auto m = std::sregex_iterator(trace.begin(), trace.end(), write);
         m != std::sregex_iterator(); ++m)
        values.push_back((*m)[1]);
    return values;
}

// Two writers of one card, again and again, the second started 0.05 to 0.3 s
// after the first: a load of an image, or sorvit's write. One waits for the
// other (the trace never shows their writes interleaved), each that says the
// card matches its image did match it at its read back, and the card ends as
// the writer that finished last left it.
TEST(Stress, TwoWritersOfOneCardNeverInterleave) {
    bank_dir b;
    const std::string images[2] = {b.dir.file("a.img"), b.dir.file("b.img")};
    write_file(images[0], whole_image(0x11111111));
    write_file(images[1], whole_image(0x22222222));
    const std::string trace = b.dir.file("trace");
    const auto run = [&](const char *binary, const std::vector<std::string> &args) {
        program_run r;
        r.args = args;
        r.env = {{"VELQOR2_SIM_BANK", b.bank}, {"VELQOR2_SIM_TRACE", trace}};
        return run_program(binary, r);
    };
    std::mt19937 random(28);
    for (int round = 0; round < 30; round++) {
        const bool with_sorvit = round % 5 == 4;  // sorvit's write meets a load
        unlink(trace.c_str());
        process_result results[2];
        std::chrono::steady_clock::time_point ended[2];
        std::thread second([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50 + random() % 250));
            results[1] = with_sorvit ? run(SORVIT_BINARY, {"+f", "0x30", "0x33333333"})
                                     : run(SORVIT_IMAGE_BINARY, {"+f", "load", images[1]});
            ended[1] = std::chrono::steady_clock::now();
        });
        results[0] = run(SORVIT_IMAGE_BINARY, {"+f", "load", images[0]});
        ended[0] = std::chrono::steady_clock::now();
        second.join();
        for (const auto &r : results) EXPECT_EQ(r.status, 0) << "round " << round << r.out << r.err;
        // One writer's values, then the other's.
        std::vector<std::string> values = written_values(read_file(trace));
        size_t changes = 0;
        for (size_t k = 1; k < values.size(); k++) changes += values[k] != values[k - 1];
        EXPECT_LE(changes, 1u) << "round " << round;
        const int last = ended[1] > ended[0] ? 1 : 0;
        if (with_sorvit && last == 1) EXPECT_EQ(b.dump()[0x30], 0x33333333ul) << "round " << round;
        else
            EXPECT_EQ(run(SORVIT_IMAGE_BINARY, {"check", images[last]}).status, 0)
                << "round " << round;
    }
}

// A host of cards for changes that are cut short: cards 0 to N-1, 32-bit,
// their images in old/ and, with locations changed, in new/.
struct cut_host {
    bank_dir b;
    explicit cut_host(unsigned cards, unsigned changed) : b(bank_of(cards)) {
        EXPECT_EQ(image({"+all", "save", b.dir.file("old")}).status, 0);
        std::filesystem::create_directory(b.dir.file("new"));
        for (unsigned id = 0; id < cards; id++) {
            std::string text;
            for (unsigned loc = 0; loc < 64; loc++) {
                char cell[40];
                const unsigned long value =
                    loc < changed ? 0xCD000000ul | id << 8 | loc : original(loc) + id * 0x10000ul;
                snprintf(cell, sizeof cell, "[0x%02X] = 0x%08lX\n", loc, value);
                text += cell;
            }
            write_file(b.dir.file("new/card-" + std::to_string(id) + ".img"), text);
        }
    }
    static std::string bank_of(unsigned cards) {
        std::string text;
        for (unsigned id = 0; id < cards; id++) {
            text += "[card]\nid = " + std::to_string(id) + "\nboard_type = 12\nword_bits = 32\n";
            for (unsigned row = 0; row < 64; row += 8) {
                char line[128];
                int n = snprintf(line, sizeof line, "0x%02X:", row);
                for (unsigned loc = row; loc < row + 8; loc++)
                    n += snprintf(line + n, sizeof line - static_cast<size_t>(n), " %08lX",
                                  original(loc) + id * 0x10000ul);
                text += std::string(line) + "\n";
            }
        }
        return text;
    }
    process_result image(const std::vector<std::string> &args,
                         const std::function<void()> &in_child = {}) const {
        program_run run;
        run.args = args;
        run.env = {{"VELQOR2_SIM_BANK", b.bank}, {"SORVIT_STATE_DIR", b.dir.file("state")}};
        run.in_child = in_child;
        return run_program(SORVIT_IMAGE_BINARY, run);
    }
    // The runs' journals there are.
    std::set<std::string> journals() const {
        std::set<std::string> names;
        std::error_code ignored;
        for (const auto &entry :
             std::filesystem::directory_iterator(b.dir.file("state/journal"), ignored))
            if (entry.path().extension() == ".journal") names.insert(entry.path().filename());
        return names;
    }
    // Whether a journal that was not there before is: a load is in its writes.
    bool journaling(const std::set<std::string> &before = {}) const {
        for (const auto &name : journals())
            if (!before.count(name)) return true;
        return false;
    }
    void cut(unsigned card, unsigned after) const {
        std::string text = read_file(b.bank);
        std::string id = "\nid = " + std::to_string(card) + "\n";
        text.replace(text.find(id), id.size(), id + "fault = cut " + std::to_string(after) + "\n");
        write_file(b.bank, text);
    }
    void mend() const {
        write_file(b.bank,
                   std::regex_replace(read_file(b.bank), std::regex("fault *= *cut .*\n"), ""));
    }
};

// Loads cut short by a power cut (the simulator's "fault = cut N") after
// each number of writes of a 64-location load, and a 4-card +all load at
// each card: the card's check fails naming the unfinished change; recover
// leaves every card whole with the new image, and after the same cut undo
// leaves every card whole with the old one; the history holds the change.
TEST(Stress, LoadsCutShortAreFinishedOrUndone) {
    struct cut_case {
        unsigned cards, card, after;
    };
    std::vector<cut_case> cases;
    for (unsigned after = 0; after < 64; after++) cases.push_back({1, 0, after});
    for (unsigned card = 0; card < 4; card++) cases.push_back({4, card, 7});
    for (const auto &c : cases)
        for (const char *way_out : {"recover", "undo"}) {
            const bool all = c.cards > 1, recovered = std::string(way_out) == "recover";
            const std::string what = std::to_string(c.cards) + " cards, card " +
                                     std::to_string(c.card) + " cut after " +
                                     std::to_string(c.after) + " writes, then " + way_out;
            cut_host h(c.cards, 64);
            h.cut(c.card, c.after);
            const std::string image = h.b.dir.file("new/card-" + std::to_string(c.card) + ".img");
            process_result load = all ? h.image({"+all", "+f", "load", h.b.dir.file("new")})
                                      : h.image({"+f", "load", image});
            EXPECT_EQ(load.status, 1000 + SIGKILL) << what;
            h.mend();
            process_result check = h.image({"/card", std::to_string(c.card), "check", image});
            EXPECT_EQ(check.status, 255) << what;
            EXPECT_NE(check.err.find(std::to_string(c.after) +
                                     " of 64 locations written; "
                                     "`sorvit-image /card " +
                                     std::to_string(c.card) + " recover`"),
                      std::string::npos)
                << what << check.err;
            std::vector<std::string> settle = {"+f", way_out};
            if (all) settle.insert(settle.begin(), "+all");
            EXPECT_EQ(h.image(settle).status, 0) << what;
            EXPECT_EQ(h.image({"+all", "check", h.b.dir.file(recovered ? "new" : "old")}).status, 0)
                << what;
            const std::string history = h.image({"history"}).out;
            EXPECT_EQ(history.find("interrupted") != std::string::npos, c.after > 0) << what;
        }
}

// An output that fails under a +all load of 64 cards (its reader gone, as
// with `| head -1`, or a full disk) never ends the load between two
// writes: every card is loaded and checked, and the run fails naming the
// output's error.
TEST(Stress, OutputFailingUnderALoadEndsNoCardHalfWritten) {
    const struct {
        const char *error;
        void (*make)();  // in the child: standard output as the case has it
    } outputs[] = {
        {"Broken pipe",
         [] {
             int ends[2];
             if (pipe(ends) != 0) _exit(126);
             close(ends[0]);
             dup2(ends[1], STDOUT_FILENO);
         }},
        {"No space left on device", [] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); }},
    };
    for (const auto &o : outputs) {
        cut_host h(64, 64);
        process_result load = h.image({"+all", "+f", "load", h.b.dir.file("new")}, o.make);
        EXPECT_EQ(load.status, 255) << o.error;
        EXPECT_NE(load.err.find(std::string("cannot write standard output: ") + o.error),
                  std::string::npos)
            << load.err;
        EXPECT_EQ(h.image({"+all", "check", h.b.dir.file("new")}).status, 0) << o.error;
        process_result list = h.image({"list"}, o.make);  // read-only: the same failure
        EXPECT_EQ(list.status, 255) << o.error;
        EXPECT_EQ(list.err,
                  std::string("sorvit-image: cannot write standard output: ") + o.error + "\n");
    }
}

// A +all load of 1,024 cards killed with SIGKILL at random moments,
// SORVIT_STRESS_KILLS times (20): after each kill, +all recover leaves
// every card with its new image, or +all undo every card as it was.
TEST(Stress, AllLoadsKilledAtRandomMomentsAreFinishedOrUndone) {
    const char *kills = getenv("SORVIT_STRESS_KILLS");
    const int KILLS = kills ? std::min(atoi(kills), 20) : 20;
    cut_host h(1024, 1);  // one location a card
    std::mt19937 random(1024);
    const char *holds = "old";  // what every card holds
    for (int round = 0; round < KILLS; round++) {
        const char *target = std::string(holds) == "old" ? "new" : "old";
        const std::set<std::string> before = h.journals();  // a dead run's may still be there
        pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            h.image({"+all", "+f", "load", h.b.dir.file(target)});
            _exit(0);
        }
        setpgid(pid, pid);
        // In the writes, past the preview of the cards (or after them).
        for (int wait = 0;
             wait < 3000 && !h.journaling(before) && waitpid(pid, nullptr, WNOHANG) == 0; wait++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));
        kill(-pid, SIGKILL);  // the child and the load it is running
        waitpid(pid, nullptr, 0);
        for (int wait = 0; wait < 500 && kill(-pid, 0) == 0; wait++)  // the load gone too
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const bool recover = round % 2 == 0;
        process_result settled = h.image({"+all", "+f", recover ? "recover" : "undo"});
        if (recover) holds = target;
        EXPECT_EQ(h.image({"+all", "check", h.b.dir.file(holds)}).status, 0)
            << "round " << round << ": " << settled.err;
    }
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

// Names in the bank's folder other than the bank and its lock.
std::vector<std::string> files_beside(const bank_dir &b) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(b.dir.path)) {
        std::string name = entry.path().filename();
        if (name != "bank" && name != "bank.lock") names.push_back(name);
    }
    return names;
}

// Killed writers leave the old value or the new, and the next writer
// removes the temporary files they left. SORVIT_STRESS_KILLS runs longer.
TEST(Stress, WritersKilledAtRandomMomentsLeaveOldOrNewValues) {
    bank_dir b;
    std::mt19937 random(2026);
    const char *kills = getenv("SORVIT_STRESS_KILLS");
    const int KILLS = kills ? atoi(kills) : 40;
    int unfinished = 0;
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
        // A write killed between its journal and its end is an unfinished
        // change, which the next writes refuse until it is settled.
        program_run recover;
        recover.args = {"/card", "0", "+f", "recover"};
        recover.env = {{"VELQOR2_SIM_BANK", b.bank}};
        process_result settled = run_program(SORVIT_IMAGE_BINARY, recover);
        EXPECT_EQ(settled.status, 0) << settled.err;
        unfinished += settled.out.find("nothing to recover") == std::string::npos;
        auto words = b.dump();
        for (unsigned loc = 0; loc < 64; loc++) {
            unsigned long v = words[loc];
            EXPECT_TRUE(v == original(loc) ||
                        ((v & 0xFF) == loc && (v >> 8) <= static_cast<unsigned long>(kill_round)))
                << "round " << kill_round << " location " << loc << " holds " << std::hex << v;
        }
    }
    size_t left = files_beside(b).size();
    EXPECT_EQ(b.sorvit({"+f", "0", "0"}).status, 0);
    EXPECT_EQ(files_beside(b), std::vector<std::string>{});
    printf(
        "[stress] %d writers killed with SIGKILL; the bank loaded after each; %d unfinished "
        "writes recovered; %zu files left beside it, 0 after one more write\n",
        KILLS, unfinished, left);
}

// A new bank, its lock and its folders: the modes the umask allows, 0700
// for the private state folder, and no relative XDG_STATE_HOME.
TEST(Stress, NewFilesAndFoldersGetTheModesTheUmaskAllows) {
    temp_dir home;
    program_run run;
    run.args = {"+f", "0x40", "1"};
    run.env = {{"HOME", home.path}, {"XDG_STATE_HOME", "relative/state"}};
    run.unset_env = {"VELQOR2_SIM_BANK"};
    run.in_child = [] { umask(027); };
    ASSERT_EQ(run_program(SORVIT_BINARY, run).status, 0);
    const auto mode = [](const std::string &path) {
        struct stat st {};
        stat(path.c_str(), &st);
        return st.st_mode & 07777;
    };
    std::string state = home.path + "/.local/state";
    EXPECT_EQ(mode(home.path + "/.local"), 0700u);
    EXPECT_EQ(mode(state + "/velqor2-sim"), 0700u);
    EXPECT_EQ(mode(state + "/velqor2-sim/bank"), 0640u);
    EXPECT_EQ(mode(state + "/velqor2-sim/bank.lock"), 0640u);
    run.env = {{"VELQOR2_SIM_BANK", home.file("named/bank")}};
    run.unset_env = {};
    ASSERT_EQ(run_program(SORVIT_BINARY, run).status, 0);
    EXPECT_EQ(mode(home.file("named")), 0750u);
    EXPECT_FALSE(std::filesystem::exists("relative"));
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
        {"FIFO as the bank",
         [](const bank_dir &b) {
             unlink(b.bank.c_str());
             mkfifo(b.bank.c_str(), 0644);
         },
         {"+f", "0x40", "1"},
         [] { alarm(10); },  // a blocking open would hang here
         "Failed to open card with ID 0: cannot read bank file %s: not a regular file\n"},
        {"bank made read-only by its owner",
         [](const bank_dir &b) { chmod(b.bank.c_str(), 0444); },
         {"+f", "0x40", "1"},
         {},
         "Failed to write EEPROM location 0x40: cannot write bank file %s: Permission denied\n"},
        {"lock file planted as a link",
         [](const bank_dir &b) {
             symlink((b.dir.path + "/planted").c_str(), (b.bank + ".lock").c_str());
         },
         {"+f", "0x40", "1"},
         {},
         "Failed to write EEPROM location 0x40: cannot write bank file %s: cannot open its lock "
         "file %s.lock: it is a symbolic link\n"},
        // Its target is hidden under the lock's name: the folder holds nothing new.
        {"bank reached through another user's link",
         [](const bank_dir &b) {
             rename(b.bank.c_str(), (b.bank + ".lock").c_str());
             symlink("bank.lock", b.bank.c_str());
             lchown(b.bank.c_str(), 65534, 65534);
         },
         {"+f", "0x40", "1"},
         {},
         "Failed to write EEPROM location 0x40: cannot write bank file %s: not following symbolic "
         "link %s: it is owned by uid 65534\n"},
        {"bank beyond the limits",
         [](const bank_dir &b) {
             std::string text;
             for (int k = 0; k < 65; k++)
                 text += "[card]\nid=" + std::to_string(k) +
                         "\nboard_type=12\nword_bits=32\neeprom_words=65536\n";
             write_file(b.bank, text);
         },
         {"/card", "64", "+f", "0x40", "1"},
         {},
         "Failed to open card with ID 64: bank file %s is malformed at line 321: expected at most "
         "4194304 words in all cards together (the simulator's limit)\n"},
        // Each fault is taken in constant time: a million of them, given
        // in descending order, are read well within the alarm.
        {"a million location faults",
         [](const bank_dir &b) {
             std::string text = "[card]\nid=0\nboard_type=12\nword_bits=32\n";
             for (int loc = 1000000; loc > 0; loc--)
                 text += "fault=read " + std::to_string(loc) + "\n";
             write_file(b.bank, text);
         },
         {"0x40"},
         [] { alarm(10); },
         "Selected card ID is 0(0x0)\nFailed to read EEPROM location 0x40: simulated fault: read "
         "of "
         "location 0x40 on card 0\n"},
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
        const auto contents = [&b] {  // a FIFO is never opened here: that would block
            return std::filesystem::is_regular_file(b.bank) ? read_file(b.bank) : "not a file";
        };
        std::string before = contents();
        process_result r = b.sorvit_copy(c.args, c.in_child);
        std::string expected = std::regex_replace(c.expected, std::regex("%s"), b.bank);
        EXPECT_EQ(r.out, expected) << c.name;
        EXPECT_EQ(r.status, 255) << c.name;
        EXPECT_EQ(contents(), before) << c.name;
        chmod(b.dir.path.c_str(), 0755);
        EXPECT_EQ(files_beside(b), std::vector<std::string>{"bin"}) << c.name;
    }
}

int g_held = -1;  // a file that a row keeps locked, as a live writer would

// What save finds at the image's path: an image its owner made read-only
// is kept; root's own link is followed whether or not its target exists
// yet, as a shell's redirection does, and another user's is not; a file of
// another user becomes root's, without its setuid bits or any write bit
// for others; a folder that anyone may rename files in is refused; a file-size limit fails the
// save. Nothing is ever left beside the image.
TEST(Stress, SaveKeepsWhatItFindsAndLeavesNothing) {
    const struct {
        const char *name;
        std::function<void(const bank_dir &)> setup;
        std::function<void()> in_child;
        std::string err;                 // "%s" stands for the image's path
        std::vector<std::string> files;  // in the folder afterwards, "bank" aside
        std::function<void(const bank_dir &)> then;
        std::string image = "a.img";  // in the folder
    } cases[] = {
        {"read-only image",
         [](const bank_dir &b) {
             write_file(b.dir.file("a.img"), "kept\n");
             chmod(b.dir.file("a.img").c_str(), 0444);
         },
         {},
         "Cannot write image file %s: Permission denied\n",
         {"a.img"}},
        {"dangling link",
         [](const bank_dir &b) { symlink("target.img", b.dir.file("a.img").c_str()); },
         {},
         "",
         {"a.img", "target.img"},
         // The link survives, and its target holds the image.
         [](const bank_dir &b) {
             EXPECT_TRUE(std::filesystem::is_symlink(b.dir.file("a.img")));
             EXPECT_NE(read_file(b.dir.file("target.img")).find("card_id    = 0"),
                       std::string::npos);
         }},
        {"another user's link",
         [](const bank_dir &b) {
             symlink("target.img", b.dir.file("a.img").c_str());
             lchown(b.dir.file("a.img").c_str(), 65534, 65534);
         },
         {},
         "Cannot write image file %s: not following symbolic link %s: it is owned by uid 65534\n",
         {"a.img"}},
        {"another user's file, setuid",
         [](const bank_dir &b) {
             write_file(b.dir.file("a.img"), "theirs\n");
             chown(b.dir.file("a.img").c_str(), 65534, 65534);
             chmod(b.dir.file("a.img").c_str(), 06777);
         },
         {},
         "",
         {"a.img"},
         [](const bank_dir &b) {
             struct stat st {};
             lstat(b.dir.file("a.img").c_str(), &st);
             EXPECT_EQ(st.st_mode & 07777, 0755u);
             EXPECT_EQ(st.st_uid, 0u);
             EXPECT_EQ(st.st_gid, 65534u);
         }},
        {"folder anyone may write",
         [](const bank_dir &b) { chmod(b.dir.path.c_str(), 0777); },
         {},
         "Cannot write image file %s: folder %d is writable by group and others (owner uid 0, "
         "mode 0777; 0755 would be safe)\n",
         {}},
        {"new image in a shared sticky folder",
         [](const bank_dir &b) { chmod(b.dir.path.c_str(), 01777); },
         {},
         "",
         {"a.img"},
         [](const bank_dir &b) {
             struct stat st {};
             lstat(b.dir.file("a.img").c_str(), &st);
             EXPECT_EQ(st.st_mode & 07777, 0600u);
         }},
        {"file-size limit",
         [](const bank_dir &) {},
         [] {
             rlimit limit{512, 512};
             setrlimit(RLIMIT_FSIZE, &limit);
         },
         "Cannot write image file %s: File too large\n",
         {}},
        // Root writes only where nobody else has a say.
        {"folder of another user",
         [](const bank_dir &b) { chown(b.dir.path.c_str(), 65534, 65534); },
         {},
         "Cannot write image file %s: folder %d is owned by uid 65534, not by root or uid 0 "
         "(mode 0755)\n",
         {}},
        {"folder its group may write",
         [](const bank_dir &b) {
             chown(b.dir.path.c_str(), 0, 65534);
             chmod(b.dir.path.c_str(), 0775);
         },
         {},
         "Cannot write image file %s: folder %d is writable by group (owner uid 0, mode 0775; "
         "0755 would be safe)\n",
         {}},
        {"new folder in a folder anyone may write",
         [](const bank_dir &b) {
             mkdir(b.dir.file("ow").c_str(), 0777);
             chmod(b.dir.file("ow").c_str(), 0777);
         },
         {},
         "Cannot write image file %s: folder %d/ow is writable by group and others (owner uid 0, "
         "mode 0777; 0755 would be safe)\n",
         {"ow"},
         [](const bank_dir &b) { EXPECT_TRUE(std::filesystem::is_empty(b.dir.file("ow"))); },
         "ow/new/a.img"},
        {"another user's file in a sticky folder",
         [](const bank_dir &b) {
             chmod(b.dir.path.c_str(), 01777);
             write_file(b.dir.file("a.img"), "planted\n");
             chown(b.dir.file("a.img").c_str(), 65534, 65534);
             chmod(b.dir.file("a.img").c_str(), 0666);
         },
         {},
         "Cannot write image file %s: file %s is owned by uid 65534, not by root or uid 0 (mode "
         "0666)\n",
         {"a.img"}},
        // Anyone could have given root's link its second name.
        {"root's link with a second name",
         [](const bank_dir &b) {
             symlink("target.img", b.dir.file("rlink").c_str());
             link(b.dir.file("rlink").c_str(), b.dir.file("a.img").c_str());
         },
         {},
         "Cannot write image file %s: not following symbolic link %s: it has 2 names\n",
         {"a.img", "rlink"}},
        {"a killed save's temporary file",
         [](const bank_dir &b) { write_file(b.dir.file("a.img.Ab12Cd"), "half"); },
         {},
         "",
         {"a.img"}},
        {"a live save's temporary file",
         [](const bank_dir &b) {
             write_file(b.dir.file("a.img.Ab12Cd"), "half");
             g_held = open(b.dir.file("a.img.Ab12Cd").c_str(), O_RDONLY);
             flock(g_held, LOCK_EX);
         },
         {},
         "",
         {"a.img", "a.img.Ab12Cd"},
         [](const bank_dir &) { close(g_held); }},
        {"the longest name",
         [](const bank_dir &) {},
         {},
         "",
         {std::string(255, 'n')},
         {},
         std::string(255, 'n')},
    };
    for (const auto &c : cases) {
        bank_dir b;
        c.setup(b);
        std::string image = b.dir.file(c.image), before = read_file(image);
        program_run run;
        run.args = {"save", image};
        run.env = {{"VELQOR2_SIM_BANK", b.bank}};
        run.in_child = c.in_child;
        process_result r = run_program(SORVIT_IMAGE_BINARY, run);
        std::string err = std::regex_replace(c.err, std::regex("%s"), image);
        EXPECT_EQ(r.err, std::regex_replace(err, std::regex("%d"), b.dir.path)) << c.name;
        EXPECT_EQ(r.status, c.err.empty() ? 0 : 255) << c.name;
        std::vector<std::string> files = files_beside(b);
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files) << c.name;
        if (!c.err.empty()) EXPECT_EQ(read_file(image), before) << c.name;
        if (c.then) c.then(b);
    }
}

// Images that could make root wait or write another user's choice: a
// FIFO with a writer, a socket and a device are refused at once; a folder
// or file that another user can change is refused by load, before any
// question, and only warned about by check. "@" stands for the folder.
TEST(Stress, ImageReadsNeitherWaitNorTrustOtherUsers) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to own files as another user";
    int writer = -1;  // holds a FIFO open for writing, as a planted writer would
    const std::string NOT_REGULAR = "Cannot read image file @g/card-0.img: not a regular file\n";
    const std::string SHARED =
        "folder @g is writable by group and others (owner uid 0, mode 0777; 0755 would be safe)";
    const std::string TWO_NAMES =
        "Cannot read image file @g/card-0.img: it has 2 names, in a "
        "folder that others can write (mode 1777)\n";
    const auto second_name_in_sticky = [](const std::string &g) {
        chmod(g.c_str(), 01777);
        link((g + "/card-0.img").c_str(), (g + "-old.img").c_str());
    };
    const struct {
        const char *name;
        std::function<void(const std::string &folder)> setup;
        std::vector<std::string> args;
        std::string out, err;
        int status;
    } cases[] = {
        {"FIFO with a writer",
         [&writer](const std::string &g) {
             unlink((g + "/card-0.img").c_str());
             mkfifo((g + "/card-0.img").c_str(), 0644);
             writer = open((g + "/card-0.img").c_str(), O_RDWR | O_NONBLOCK);
         },
         {"+all", "check", "@g"},
         "",
         NOT_REGULAR,
         255},
        {"socket",
         [](const std::string &g) {
             unlink((g + "/card-0.img").c_str());
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             snprintf(address.sun_path, sizeof address.sun_path, "%s/card-0.img", g.c_str());
             int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
             close(fd);
         },
         {"check", "@g/card-0.img"},
         "",
         NOT_REGULAR,
         255},
        {"device",
         [](const std::string &) {},
         {"check", "/dev/zero"},
         "",
         "Cannot read image file /dev/zero: not a regular file\n",
         255},
        {"load from a folder others may write",
         [](const std::string &g) { chmod(g.c_str(), 0777); },
         {"+all", "load", "@g"},
         "",
         "Cannot load from @g: " + SHARED + "\n",
         255},
        {"check from a folder others may write",
         [](const std::string &g) { chmod(g.c_str(), 0777); },
         {"+all", "check", "@g"},
         "Selected card ID is 0(0x0)\nAll 64 locations of @g/card-0.img match the card\n",
         "Warning: " + SHARED + "; checking all the same\n",
         0},
        {"load of another user's image",
         [](const std::string &g) { chown((g + "/card-0.img").c_str(), 65534, 65534); },
         {"+f", "load", "@g/card-0.img"},
         "",
         "Cannot load image file @g/card-0.img: file @g/card-0.img is owned by uid 65534, not by "
         "root or uid 0 (mode 0644)\n",
         255},
        // A second name in a folder that others may write is someone else's doing.
        {"check of an image with a second name in a sticky folder",
         second_name_in_sticky,
         {"+all", "check", "@g"},
         "",
         TWO_NAMES,
         255},
        {"load of an image with a second name in a sticky folder",
         second_name_in_sticky,
         {"+f", "load", "@g/card-0.img"},
         "",
         TWO_NAMES,
         255},
        {"+all save through root's folder link with a second name",
         [](const std::string &g) {
             symlink(g.c_str(), (g + "-link").c_str());
             link((g + "-link").c_str(), (g + "-link2").c_str());
         },
         {"+all", "save", "@g-link2/new"},
         "",
         "Cannot save to @g-link2/new: not following symbolic link @g-link2: it has 2 names\n",
         255},
        {"+all save into a folder of another user",
         [](const std::string &g) { chown(g.c_str(), 65534, 65534); },
         {"+all", "save", "@g/new"},
         "",
         "Cannot save to @g/new: folder @g is owned by uid 65534, not by root or uid 0 (mode "
         "0755)\n",
         255},
        {"metrics into a folder its group may write",
         [](const std::string &g) {
             chown(g.c_str(), 0, 65534);
             chmod(g.c_str(), 0775);
         },
         {"/metrics", "@g/m.prom", "check", "@g-none.img"},
         "",
         "Cannot read image file @g-none.img: No such file or directory\n"
         "Cannot write metrics file @g/m.prom: folder @g is writable by group (owner uid 0, mode "
         "0775; 0755 would be safe)\n",
         255},
    };
    for (const auto &c : cases) {
        bank_dir b(cli_card(0, 12, 32));
        const std::string g = b.dir.file("g");
        program_run run;
        run.env = {{"VELQOR2_SIM_BANK", b.bank}};
        run.args = {"+all", "save", g};
        ASSERT_EQ(run_program(SORVIT_IMAGE_BINARY, run).status, 0);
        c.setup(g);
        const auto here = [&b](const std::string &text) {
            return std::regex_replace(text, std::regex("@"), b.dir.path + "/");
        };
        run.args.clear();
        for (const auto &a : c.args) run.args.push_back(here(a));
        run.in_child = [] { alarm(10); };
        const auto start = std::chrono::steady_clock::now();
        process_result r = run_program(SORVIT_IMAGE_BINARY, run);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.name;
        EXPECT_EQ(r.out, here(c.out)) << c.name;
        EXPECT_EQ(r.err, here(c.err)) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
        if (writer >= 0) close(writer);
        writer = -1;
    }
}

// A save ended by SIGINT, SIGTERM or SIGHUP while its temporary file exists
// removes it. The file that replaces an image has a name only just before
// its rename (a new one is linked in under its own name, with no rename):
// strace holds the save in that rename, so the signal lands there.
TEST(Stress, SaveStoppedBySignalLeavesNothing) {
    if (system("strace -o /dev/null true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace cannot trace here";
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        bank_dir b;
        temp_dir state;
        std::string image = b.dir.file("a.img");
        program_run first;  // the image the save replaces
        first.args = {"save", image};
        first.env = {{"VELQOR2_SIM_BANK", b.bank},
                     {"SORVIT_STATE_DIR", state.path + "/state"},
                     {"SORVIT_RUNTIME_DIR", state.path + "/run"}};
        ASSERT_EQ(run_program(SORVIT_IMAGE_BINARY, first).status, 0);
        pid_t tracer = fork();
        if (tracer == 0) {
            setenv("VELQOR2_SIM_BANK", b.bank.c_str(), 1);
            keep_tool_state(state.path);
            execlp("strace", "strace", "-f", "-o", "/dev/null", "-e", "trace=renameat,renameat2",
                   "-e", "inject=renameat,renameat2:delay_enter=1000000", SORVIT_IMAGE_BINARY,
                   "save", image.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        pid_t saver = 0;
        for (int wait = 0; wait < 500 && saver == 0; wait++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            bool temp = false;
            for (const auto &name : files_beside(b)) temp = temp || name.rfind("a.img.", 0) == 0;
            std::ifstream children("/proc/" + std::to_string(tracer) + "/task/" +
                                   std::to_string(tracer) + "/children");
            if (temp) children >> saver;
        }
        ASSERT_NE(saver, 0) << "the save never reached its temporary file";
        kill(saver, sig);
        int status = 0;
        waitpid(tracer, &status, 0);
        // The rename may have been under way: then the image is there, whole.
        for (const auto &name : files_beside(b)) {
            EXPECT_EQ(name, "a.img") << strsignal(sig);
            EXPECT_NE(read_file(image).find("card_id"), std::string::npos) << strsignal(sig);
        }
    }
    // A folder that cannot be flushed fails the save: the image may not last.
    bank_dir flushed;
    const std::string image = flushed.dir.file("a.img");
    program_run traced;
    traced.args = {"-f",
                   "-o",
                   "/dev/null",
                   "-e",
                   "trace=fsync",
                   "-e",
                   "inject=fsync:error=EIO:when=2",
                   SORVIT_IMAGE_BINARY,
                   "save",
                   image};
    const char *sanitizer = getenv("ASAN_OPTIONS");  // the leak check cannot run traced
    traced.env = {{"VELQOR2_SIM_BANK", flushed.bank},
                  {"ASAN_OPTIONS", std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0"}};
    process_result r = run_program("/usr/bin/strace", traced);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Cannot flush the folder of image file " + image + ": Input/output error\n");
    // SIGKILL cannot be handled: the file has no name until just before it
    // replaces the image; one killed in that moment leaves it, unlocked,
    // and the next save removes it. They never pile up.
    bank_dir b;
    std::mt19937 random(50);
    for (int round = 0; round < 50; round++) {
        pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            program_run run;
            run.args = {"save", b.dir.file("a.img")};
            run.env = {{"VELQOR2_SIM_BANK", b.bank}};
            _exit(run_program(SORVIT_IMAGE_BINARY, run).status);
        }
        setpgid(pid, pid);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
        kill(-pid, SIGKILL);  // the child and the save it is running
        waitpid(pid, nullptr, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the save's end, in the kernel
        int temps = 0;
        for (const auto &name : files_beside(b)) {
            const bool temp = name.size() == 12 && name.rfind("a.img.", 0) == 0;
            temps += temp;
            EXPECT_TRUE(name == "a.img" || temp) << name << ", round " << round;
        }
        EXPECT_LE(temps, 1) << "round " << round;
    }
    program_run last;
    last.args = {"save", b.dir.file("a.img")};
    last.env = {{"VELQOR2_SIM_BANK", b.bank}};
    EXPECT_EQ(run_program(SORVIT_IMAGE_BINARY, last).status, 0);
    EXPECT_EQ(files_beside(b), std::vector<std::string>{"a.img"});
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
