// Contract of the card-access library, through velqor2.h alone, so that it
// runs against any implementation: the simulator here, the maker's library
// on a host with a card. It works on the card at VELQOR2_CONTRACT_INDEX
// (default 0) and writes only when VELQOR2_CONTRACT_WRITE_LOCATION names a
// location it may change (the original value is put back).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "velqor2.h"

namespace {

uint32_t env_number(const char *name, uint32_t fallback) {
    const char *text = getenv(name);
    return text && *text ? static_cast<uint32_t>(strtoul(text, nullptr, 0)) : fallback;
}

class Contract : public ::testing::Test {
  protected:
    void SetUp() override {
        index_ = env_number("VELQOR2_CONTRACT_INDEX", 0);
        ASSERT_EQ(VELQOR2_OpenCardByIndex(index_, &handle_), VELQOR2_SUCCESS);
        ASSERT_NE(handle_, 0u);
        ASSERT_EQ(VELQOR2_GetCardInfo(handle_, &info_), VELQOR2_SUCCESS);
    }
    void TearDown() override {
        if (handle_) EXPECT_EQ(VELQOR2_CloseCard(handle_), VELQOR2_SUCCESS);
    }
    uint32_t index_ = 0;
    VELQOR2_HANDLE handle_ = 0;
    VELQOR2_CARD_INFO info_{};
};

TEST_F(Contract, CardInfoDescribesTheCardOpened) {
    EXPECT_EQ(info_.card_index, index_);
    EXPECT_GT(info_.eeprom_words, 0u);
    EXPECT_NE(memchr(info_.model_name, '\0', sizeof info_.model_name), nullptr);
    VELQOR2_HANDLE by_id = 0;
    ASSERT_EQ(VELQOR2_OpenCard(info_.card_id, &by_id), VELQOR2_SUCCESS);
    VELQOR2_CARD_INFO again{};
    EXPECT_EQ(VELQOR2_GetCardInfo(by_id, &again), VELQOR2_SUCCESS);
    EXPECT_EQ(again.card_id, info_.card_id);
    EXPECT_EQ(again.board_type, info_.board_type);
    EXPECT_EQ(VELQOR2_CloseCard(by_id), VELQOR2_SUCCESS);
}

TEST_F(Contract, ReadsAreRepeatableAndBoundedByTheEeprom) {
    uint32_t first = 0, second = 0;
    ASSERT_EQ(VELQOR2_ReadConfig(handle_, 0, &first), VELQOR2_SUCCESS);
    ASSERT_EQ(VELQOR2_ReadConfig(handle_, 0, &second), VELQOR2_SUCCESS);
    EXPECT_EQ(first, second);
    uint32_t last = 0;
    EXPECT_EQ(VELQOR2_ReadConfig(handle_, info_.eeprom_words - 1, &last), VELQOR2_SUCCESS);
    EXPECT_NE(VELQOR2_ReadConfig(handle_, info_.eeprom_words, &last), VELQOR2_SUCCESS);
    EXPECT_NE(VELQOR2_ReadConfig(handle_, 0xFFFFFFFF, &last), VELQOR2_SUCCESS);
}

TEST_F(Contract, FailedOpensLeaveTheHandleAndClosedHandlesAreRefused) {
    VELQOR2_HANDLE h = 12345;
    EXPECT_NE(VELQOR2_OpenCardByIndex(0xFFFFFFFF, &h), VELQOR2_SUCCESS);
    EXPECT_EQ(h, 12345u);
    EXPECT_NE(VELQOR2_OpenCard(0xFFFFFFFE, &h), VELQOR2_SUCCESS);
    EXPECT_EQ(h, 12345u);
    VELQOR2_HANDLE other = 0;
    ASSERT_EQ(VELQOR2_OpenCardByIndex(index_, &other), VELQOR2_SUCCESS);
    EXPECT_EQ(VELQOR2_CloseCard(other), VELQOR2_SUCCESS);
    uint32_t v;
    VELQOR2_CARD_INFO info;
    EXPECT_NE(VELQOR2_ReadConfig(other, 0, &v), VELQOR2_SUCCESS);
    EXPECT_NE(VELQOR2_GetCardInfo(other, &info), VELQOR2_SUCCESS);
    EXPECT_NE(VELQOR2_WriteConfig(other, 0, 0), VELQOR2_SUCCESS);
    EXPECT_NE(VELQOR2_CloseCard(other), VELQOR2_SUCCESS);
    EXPECT_NE(VELQOR2_ReadConfig(0, 0, &v), VELQOR2_SUCCESS);
}

// Threads with handles of their own, reading at once (and one writing, when
// a write is allowed): every call succeeds, and a read gives what a read
// alone gave.
TEST_F(Contract, ThreadsWithHandlesOfTheirOwn) {
    constexpr uint32_t LOCATIONS = 16;  // every card has the dump's 64
    constexpr int READERS = 6, ROUNDS = 100;
    const char *where = getenv("VELQOR2_CONTRACT_WRITE_LOCATION");
    const bool writes = where && *where;
    const uint32_t written = env_number("VELQOR2_CONTRACT_WRITE_LOCATION", 0);
    uint32_t expected[LOCATIONS] = {};
    for (uint32_t loc = 0; loc < LOCATIONS; loc++)
        ASSERT_EQ(VELQOR2_ReadConfig(handle_, loc, &expected[loc]), VELQOR2_SUCCESS);
    std::atomic<int> failures{0};
    const auto on_own_handle = [this, &failures](const std::function<bool(VELQOR2_HANDLE)> &work) {
        VELQOR2_HANDLE h = 0;
        bool ok = VELQOR2_OpenCardByIndex(index_, &h) == VELQOR2_SUCCESS && work(h);
        VELQOR2_CARD_INFO info{};
        ok =
            ok && VELQOR2_GetCardInfo(h, &info) == VELQOR2_SUCCESS && info.card_id == info_.card_id;
        if (!ok || VELQOR2_CloseCard(h) != VELQOR2_SUCCESS) failures++;
    };
    std::vector<std::thread> threads;
    threads.reserve(READERS + 1);
    for (int t = 0; t < READERS; t++)
        threads.emplace_back(on_own_handle, [&](VELQOR2_HANDLE h) {
            for (int round = 0; round < ROUNDS; round++)
                for (uint32_t loc = 0; loc < LOCATIONS; loc++) {
                    uint32_t v = 0;
                    if (writes && loc == written) continue;
                    if (VELQOR2_ReadConfig(h, loc, &v) != VELQOR2_SUCCESS || v != expected[loc])
                        return false;
                }
            return true;
        });
    if (writes)
        threads.emplace_back(on_own_handle, [written](VELQOR2_HANDLE h) {
            uint32_t original = 0;
            bool ok = VELQOR2_ReadConfig(h, written, &original) == VELQOR2_SUCCESS;
            for (int round = 0; ok && round < 10; round++)
                ok = VELQOR2_WriteConfig(h, written, original ^ (round % 2 ? 0 : 0x5A5A)) ==
                     VELQOR2_SUCCESS;
            return ok;  // an even number of changes: the value is put back
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(Contract, EveryStatusHasAText) {
    for (VELQOR2_STATUS s = 0; s < 0x400; s++) ASSERT_NE(VELQOR2_GetStatusString(s), nullptr) << s;
    EXPECT_NE(VELQOR2_GetStatusString(0xFFFFFFFF), nullptr);
}

TEST_F(Contract, WrittenValueReadsBack) {
    const char *where = getenv("VELQOR2_CONTRACT_WRITE_LOCATION");
    if (!where || !*where) GTEST_SKIP() << "set VELQOR2_CONTRACT_WRITE_LOCATION to allow a write";
    uint32_t location = env_number("VELQOR2_CONTRACT_WRITE_LOCATION", 0);
    uint32_t original = 0, now = 0;
    ASSERT_EQ(VELQOR2_ReadConfig(handle_, location, &original), VELQOR2_SUCCESS);
    uint32_t changed = original ^ 0x5A5A;
    ASSERT_EQ(VELQOR2_WriteConfig(handle_, location, changed), VELQOR2_SUCCESS);
    EXPECT_EQ(VELQOR2_ReadConfig(handle_, location, &now), VELQOR2_SUCCESS);
    EXPECT_EQ(now, changed);
    VELQOR2_HANDLE fresh = 0;
    ASSERT_EQ(VELQOR2_OpenCardByIndex(index_, &fresh), VELQOR2_SUCCESS);
    EXPECT_EQ(VELQOR2_ReadConfig(fresh, location, &now), VELQOR2_SUCCESS);
    EXPECT_EQ(now, changed) << "a new open sees the write";
    EXPECT_EQ(VELQOR2_CloseCard(fresh), VELQOR2_SUCCESS);
    EXPECT_EQ(VELQOR2_WriteConfig(handle_, location, original), VELQOR2_SUCCESS);
}

}  // namespace
