// The bank file under concurrent writers and under writers killed at any
// moment: no write is lost and the bank always loads.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim_env.h"
#include "sim_status.h"
#include "velqor2.h"

namespace {

constexpr uint32_t CARD = 5;

// Writes value(location) to each location in [first, first + count).
int write_range(uint32_t first, uint32_t count, uint32_t tag) {
    VELQOR2_HANDLE h = open_or_zero(CARD);
    if (!h) return 1;
    for (uint32_t loc = first; loc < first + count; loc++)
        if (VELQOR2_WriteConfig(h, loc, (tag << 8 | loc) & 0xFFFF) != VELQOR2_SUCCESS) return 2;
    VELQOR2_CloseCard(h);
    return 0;
}

TEST(BankStore, ConcurrentWritersLoseNothing) {
    sim_bank_env env;
    env.write(small_card());
    constexpr uint32_t WRITERS = 6, WRITES = 10;
    std::vector<pid_t> children;
    for (uint32_t k = 0; k < WRITERS; k++) {
        pid_t pid = fork();
        if (pid == 0) _exit(write_range(k * WRITES, WRITES, k + 1));
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    VELQOR2_HANDLE h = open_or_zero(CARD);
    ASSERT_NE(h, 0u);
    for (uint32_t k = 0; k < WRITERS; k++)
        for (uint32_t loc = k * WRITES; loc < (k + 1) * WRITES; loc++) {
            uint32_t v = 0;
            ASSERT_EQ(VELQOR2_ReadConfig(h, loc, &v), VELQOR2_SUCCESS);
            EXPECT_EQ(v, ((k + 1) << 8 | loc) & 0xFFFF) << "location " << loc;
        }
    VELQOR2_CloseCard(h);
}

TEST(BankStore, WriterKilledAtAnyMomentLeavesALoadableBank) {
    sim_bank_env env;
    env.write(small_card());
    std::mt19937 random(12345);
    constexpr int KILLS = 12;
    unsigned written = 0;
    for (int kill_round = 0; kill_round < KILLS; kill_round++) {
        pid_t pid = fork();
        if (pid == 0) {
            for (uint32_t round = 1;; round++) write_range(8, 40, round & 0xFF);
        }
        // The first round lets the writer finish some writes whatever the disk's pace.
        auto pause = kill_round == 0 ? 300000 : 2000 + random() % 20000;
        std::this_thread::sleep_for(std::chrono::microseconds(pause));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        VELQOR2_HANDLE h = open_or_zero(CARD);
        ASSERT_NE(h, 0u) << "round " << kill_round << ": " << VELQOR2_GetStatusString(1);
        for (uint32_t loc = 8; loc < 48; loc++) {
            uint32_t v = 0;
            ASSERT_EQ(VELQOR2_ReadConfig(h, loc, &v), VELQOR2_SUCCESS);
            // Each location holds its old (erased) value or one a writer wrote.
            EXPECT_TRUE(v == 0xFFFF || (v & 0xFF) == loc) << "location " << loc << " holds " << v;
            written += v != 0xFFFF;
        }
        VELQOR2_CloseCard(h);
    }
    EXPECT_GT(written, 0u) << "the writers never got a write in";
}

}  // namespace

namespace {

// A bank that became a special file after the open: the write is refused
// and nothing is created beside it, not even the lock file.
TEST(BankStore, WriterCreatesNothingBesideASpecialFile) {
    sim_bank_env env;
    env.write(small_card());
    VELQOR2_HANDLE h = open_or_zero(CARD);
    ASSERT_NE(h, 0u);
    ASSERT_EQ(unlink(env.bank.c_str()), 0);
    ASSERT_EQ(mkfifo(env.bank.c_str(), 0644), 0);
    VELQOR2_STATUS status = VELQOR2_WriteConfig(h, 1, 2);
    EXPECT_EQ(status, SIM_BANK_UNREADABLE);
    EXPECT_EQ(std::string(VELQOR2_GetStatusString(status)),
              "cannot read bank file " + env.bank + ": not a regular file");
    EXPECT_NE(access((env.bank + ".lock").c_str(), F_OK), 0);
    VELQOR2_CloseCard(h);
}

}  // namespace
