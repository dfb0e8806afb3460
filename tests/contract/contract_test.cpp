// Contract of the card-access library, through velqor2.h alone, so that it
// runs against any implementation: the simulator here, the maker's library
// on a host with a card. It keeps to what the interface defines: opening by
// ID and by index, card_id and board_type (byte 0 and byte 8 of the card
// record, whose size and other bytes are the library's own), reads, writes
// and status texts. What only the simulator promises is tested with it. It
// works on the card at VELQOR2_CONTRACT_INDEX (default 0) and writes only
// when VELQOR2_CONTRACT_WRITE_LOCATION names a location it may change (the
// original value is put back).
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

// The record in room for 1 KiB, as the tools hand it over: a library whose
// record is larger than ours writes into the room.
union info_room {
    VELQOR2_CARD_INFO info;
    unsigned char bytes[1024];
};

class Contract : public ::testing::Test {
  protected:
    void SetUp() override {
        index_ = env_number("VELQOR2_CONTRACT_INDEX", 0);
        ASSERT_EQ(VELQOR2_OpenCardByIndex(index_, &handle_), VELQOR2_SUCCESS);
        ASSERT_NE(handle_, 0u);
        ASSERT_EQ(VELQOR2_GetCardInfo(handle_, &room_.info), VELQOR2_SUCCESS);
    }
    void TearDown() override {
        if (handle_) EXPECT_EQ(VELQOR2_CloseCard(handle_), VELQOR2_SUCCESS);
    }
    uint32_t index_ = 0;
    VELQOR2_HANDLE handle_ = 0;
    info_room room_{};
    const VELQOR2_CARD_INFO &info_ = room_.info;
};

TEST_F(Contract, OpeningByIdAndByIndexAgree) {
    VELQOR2_HANDLE by_id = 0;
    ASSERT_EQ(VELQOR2_OpenCard(info_.card_id, &by_id), VELQOR2_SUCCESS);
    info_room again{};
    EXPECT_EQ(VELQOR2_GetCardInfo(by_id, &again.info), VELQOR2_SUCCESS);
    EXPECT_EQ(again.info.card_id, info_.card_id);
    EXPECT_EQ(again.info.board_type, info_.board_type);
    EXPECT_EQ(VELQOR2_CloseCard(by_id), VELQOR2_SUCCESS);
}

TEST_F(Contract, ReadsAreRepeatable) {
    for (uint32_t loc : {0u, 0x3Fu}) {  // the first and the last location a dump reads
        uint32_t first = 0, second = 0;
        ASSERT_EQ(VELQOR2_ReadConfig(handle_, loc, &first), VELQOR2_SUCCESS);
        ASSERT_EQ(VELQOR2_ReadConfig(handle_, loc, &second), VELQOR2_SUCCESS);
        EXPECT_EQ(first, second);
    }
}

TEST_F(Contract, OpeningACardThatIsNotThereFails) {
    VELQOR2_HANDLE h = 0;
    EXPECT_NE(VELQOR2_OpenCardByIndex(0xFFFFFFFF, &h), VELQOR2_SUCCESS);
    EXPECT_NE(VELQOR2_OpenCard(0xFFFFFFFE, &h), VELQOR2_SUCCESS);
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
        info_room room{};
        ok = ok && VELQOR2_GetCardInfo(h, &room.info) == VELQOR2_SUCCESS &&
             room.info.card_id == info_.card_id;
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
