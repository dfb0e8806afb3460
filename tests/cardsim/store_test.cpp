// The bank file under concurrent writers and under writers killed at any
// moment: no write is lost and the bank always loads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// While one thread's write waits for the bank's lock, which another process
// holds, reads on other handles go on at once: the library's own lock is
// never held across that wait.
TEST(BankStore, ReadsGoOnWhileAWriteWaitsForTheLock) {
    sim_bank_env env;
    env.write(small_card() + small_card("", 6));
    setenv("VELQOR2_SIM_LOCK_WAIT_MS", "3000", 1);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    if (holder == 0) {
        int fd = open((env.bank + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
        if (fd < 0 || flock(fd, LOCK_EX) != 0 || write(ready[1], "x", 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    VELQOR2_HANDLE writer = open_or_zero(CARD), reader = open_or_zero(6);
    VELQOR2_STATUS written = 1;
    std::thread waiting([&] { written = VELQOR2_WriteConfig(writer, 1, 0x4242); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the write now waits
    auto slowest = std::chrono::steady_clock::duration::zero();
    for (int k = 0; k < 20; k++) {
        auto start = std::chrono::steady_clock::now();
        uint32_t v = 0;
        EXPECT_EQ(VELQOR2_ReadConfig(reader, 1, &v), VELQOR2_SUCCESS);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    }
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    waiting.join();
    EXPECT_LT(slowest, std::chrono::milliseconds(100));
    EXPECT_EQ(written, VELQOR2_SUCCESS) << "the write goes on once the lock is free";
    uint32_t v = 0;
    EXPECT_EQ(VELQOR2_ReadConfig(reader, 1, &v), VELQOR2_SUCCESS);
    EXPECT_EQ(VELQOR2_ReadConfig(writer, 1, &v), VELQOR2_SUCCESS);
    EXPECT_EQ(v, 0x4242u);
    VELQOR2_CloseCard(writer);
    VELQOR2_CloseCard(reader);
    unsetenv("VELQOR2_SIM_LOCK_WAIT_MS");
    printf("[store] slowest read while a write waited for the lock: %.3f ms\n",
           std::chrono::duration<double, std::milli>(slowest).count());
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
