// A record's failure log: the lines reported into it, joined as the JSON
// documents carry them, cut to its room on a character and never overrun.
#include <gtest/gtest.h>
#include <limits.h>

#include <string>
#include <vector>

#include "report.h"
#include "utf8.h"

namespace {

bool whole_utf8(const std::string &s) {
    for (size_t at = 0; at < s.size();) {
        size_t n =
            utf8_character(reinterpret_cast<const unsigned char *>(s.data()) + at, s.size() - at);
        if (n == 0) return false;
        at += n;
    }
    return true;
}

std::string repeated(const std::string &piece, size_t times) {
    std::string s;
    for (size_t k = 0; k < times; k++) s += piece;
    return s;
}

TEST(FailureLog, KeepsEachLineOfItsRecordInOrder) {
    const size_t room = size_t{4} * (PATH_MAX + 512);
    const std::string long_line = repeated("\xC3\xA9", 6000) + "\n";  // past one line's buffer
    const struct {
        const char *name;
        std::vector<std::string> lines;
        std::string expected;  // "" with check_cut: only its shape is checked
        bool check_cut;
    } cases[] = {
        {"nothing", {}, "", false},
        {"one line",
         {"Failed to open card with index 1: gone\n"},
         "Failed to open card with index 1: gone",
         false},
        {"two lines", {"a\n", "b\n"}, "a\nb", false},
        {"a line without its line feed", {"a", "b\n"}, "a\nb", false},
        {"a message of several lines",
         {"Must be one of:\n\n", "\tA\n", "\tB\n"},
         "Must be one of:\n\n\tA\n\tB",
         false},
        {"a line longer than a line", {long_line}, "", true},
        {"more than the record's room", std::vector<std::string>(12, long_line), "", true},
    };
    for (const auto &c : cases) {
        failure_log log{};
        for (const auto &line : c.lines) log_failure(&log, "%s", line.c_str());
        const std::string text = failure_text(&log);
        if (c.check_cut) {
            EXPECT_TRUE(whole_utf8(text)) << c.name;
            EXPECT_LE(text.size(), room) << c.name;
            EXPECT_EQ(text.compare(0, 2, "\xC3\xA9"), 0) << c.name;
        } else {
            EXPECT_EQ(text, c.expected) << c.name;
        }
        clear_failures(&log);
        EXPECT_STREQ(failure_text(&log), "") << c.name;
    }
    log_failure(nullptr, "kept nowhere\n");  // a program that keeps nothing
}

}  // namespace
