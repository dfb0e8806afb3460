// The journal's and the history's texts: what a run writes reads back the
// same, a text cut anywhere yields only whole entries, and each history
// line is one JSON object whatever its texts hold.
#include <fcntl.h>
#include <json-c/json.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "history.h"
#include "journal_text.h"

namespace {

change_entry entry(uint32_t card_id, const char *user, const char *image) {
    change_entry e{};
    snprintf(e.run, sizeof e.run, "20261209T101010.000000001Z-42");
    e.card_id = card_id;
    e.has_index = true;
    e.index = 3;
    e.board_type = -7;
    e.word_bits = 32;
    e.time = 1796826610;
    e.uid = 65534;
    snprintf(e.user, sizeof e.user, "%s", user);
    snprintf(e.tool, sizeof e.tool, "sorvit-image");
    snprintf(e.action, sizeof e.action, "load");
    snprintf(e.image, sizeof e.image, "%s", image);
    e.locations = bit(0x30) | bit(0x3F);
    e.before_known = bit(0x30);
    e.before[0x30] = 0xFFFFFFFF;
    e.after[0x30] = 1;
    e.after[0x3F] = 0x80000000;
    return e;
}

change_entry without_index(change_entry e) {
    e.has_index = false;
    return e;
}

// The entry's lines, as its run writes them.
std::string lines_of(const change_entry &e) {
    journal_text t{};
    EXPECT_TRUE(format_entry(e, &t));
    std::string text(t.data, t.length);
    free_journal_text(&t);
    return text;
}

std::string journal_of(const change_entry &e, const std::string &after = "") {
    return "sorvit journal 1 " + std::string(e.run) + "\n" + lines_of(e) + after;
}

TEST(Journal, EntriesReadBackAsWritten) {
    change_entry far = entry(101, "root", "/var/lib/sorvit/golden/card-101.img");
    far.has_far = true;
    far.far_location = 0x1000;
    far.far_after = 7;  // its value before unknown
    const struct {
        const char *name;
        change_entry e;
        const char *after;  // lines the run wrote after the entry
        location_mask written;
        bool far_written, left;
    } cases[] = {
        {"plain", entry(1, "root", "a.img"), "", 0, false, false},
        {"texts to encode", entry(2, "r%20oot x", "/tmp/a b/%41\t\xc3\xa9.img"), "", 0, false,
         false},
        {"no image, no index", without_index(entry(3, "", "")), "", 0, false, false},
        {"written, then left", entry(4, "u", "i"), "w 4 0x30\nw 5 0x3F\nleft 4\n", bit(0x30), false,
         true},
        {"far location written", far, "w 101 0x1000\n", 0, true, false},
    };
    for (const auto &c : cases) {
        const change_entry &e = c.e;
        const std::string text = journal_of(e, c.after);
        change_entry back{};
        ASSERT_TRUE(parse_entry(text.data(), text.size(), e.card_id, &back)) << c.name;
        EXPECT_STREQ(back.run, e.run) << c.name;
        EXPECT_STREQ(back.user, e.user) << c.name;
        EXPECT_STREQ(back.image, e.image) << c.name;
        EXPECT_EQ(lines_of(back), lines_of(e)) << c.name;  // every field the journal keeps
        EXPECT_EQ(back.written, c.written) << c.name;
        EXPECT_EQ(back.far_written, c.far_written) << c.name;
        EXPECT_EQ(back.left, c.left) << c.name;
    }
}

// Only an entry whose "change" and "ready" lines are both whole counts, and
// only until its "done".
TEST(Journal, UnfinishedCardsAreWholeEntriesNotOver) {
    const std::string five = journal_of(entry(5, "root", "a.img")),
                      six = journal_of(entry(6, "root", "b.img"));
    const std::string header = "sorvit journal 1 R\n";
    const struct {
        const char *name;
        std::string text;
        std::vector<uint32_t> unfinished;
    } cases[] = {
        {"one entry, not over", five, {5}},
        {"over", five + "done 5 ok\n", {}},
        {"two cards, one over", five + six + "done 6 ok\n", {5}},
        {"cut before its ready", five.substr(0, five.rfind("ready")), {}},
        {"cut inside its ready", five.substr(0, five.size() - 1), {}},
        {"cut inside its done", five + "done 5 o", {5}},
        {"a ready without its change", header + "loc 0x30 0x1 0x2\nready 5\n", {}},
        {"a ready of another card", header + "change 5 index=0\nready 6\n", {}},
        {"empty lines between", "\n" + five + "\n\n", {5}},
        {"done, then a new entry", five + "done 5 ok\n" + five.substr(five.find("change")), {5}},
        {"nothing", "", {}},
    };
    for (const auto &c : cases) {
        card_ids ids{};
        ASSERT_TRUE(unfinished_cards(c.text.data(), c.text.size(), &ids)) << c.name;
        EXPECT_EQ(std::vector<uint32_t>(ids.ids, ids.ids + ids.count), c.unfinished) << c.name;
        for (uint32_t id : c.unfinished) {  // each has its entry
            change_entry e{};
            EXPECT_TRUE(parse_entry(c.text.data(), c.text.size(), id, &e)) << c.name;
        }
        free_card_ids(&ids);
    }
}

// A history line is one JSON object, its texts whatever bytes they were.
TEST(History, LinesAreJsonWhateverTheirTexts) {
    const struct {
        const char *user, *host, *user_seen;
    } cases[] = {
        {"root", "card-host", "root"},
        {"a \"quoted\\\" one", "h\nwith a line feed", "a \"quoted\\\" one"},
        {"bad \xff byte", "\x01\x1f", "bad \xef\xbf\xbd byte"},
    };
    for (const auto &c : cases) {
        change_entry e = entry(9, c.user, "x.img");
        e.written = e.locations;
        char *line = history_line(e, "ok", c.host);
        ASSERT_NE(line, nullptr);
        const size_t n = strlen(line);
        EXPECT_TRUE(n > 0 && line[n - 1] == '\n' && !memchr(line, '\n', n - 1)) << line;
        json_object *doc = json_tokener_parse(line);
        ASSERT_NE(doc, nullptr) << line;
        json_object *user = nullptr, *time = nullptr;
        EXPECT_TRUE(json_object_object_get_ex(doc, "user", &user)) << line;
        EXPECT_STREQ(json_object_get_string(user), c.user_seen) << line;
        EXPECT_TRUE(json_object_object_get_ex(doc, "time", &time)) << line;
        EXPECT_STREQ(json_object_get_string(time), "2026-12-09T14:30:10Z") << line;
        json_object_put(doc);
        free(line);
    }
}

// An append after a line another writer left cut short ends that line
// first, so that every whole line stays whole.
TEST(History, AppendsStayWholeLines) {
    char dir[] = "/tmp/history-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const int folder = open(dir, O_RDONLY | O_DIRECTORY);
    const std::string file = std::string(dir) + "/history.jsonl";
    const struct {
        const char *before, *after;
    } cases[] = {
        {nullptr, "{\"a\":1}\n"},
        {"{\"a\":1}\n", "{\"a\":1}\n{\"a\":1}\n"},
        {"{\"cut", "{\"cut\n{\"a\":1}\n"},
    };
    for (const auto &c : cases) {
        unlink(file.c_str());
        if (c.before) {
            FILE *f = fopen(file.c_str(), "w");
            fputs(c.before, f);
            fclose(f);
        }
        int kept = -1;
        EXPECT_EQ(history_append(folder, "{\"a\":1}\n", &kept), 0);
        EXPECT_EQ(history_flush(&kept), 0);
        FILE *f = fopen(file.c_str(), "r");
        char text[256] = "";
        text[fread(text, 1, sizeof text - 1, f)] = '\0';
        fclose(f);
        EXPECT_STREQ(text, c.after);
    }
    unlink(file.c_str());
    close(folder);
    rmdir(dir);
}

TEST(History, TimesInUtc) {
    const struct {
        long long seconds;
        const char *rfc3339, *readable;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z", "1970-01-01 00:00:00 UTC"},
        {951782400, "2000-02-29T00:00:00Z", "2000-02-29 00:00:00 UTC"},
        {1796826610, "2026-12-09T14:30:10Z", "2026-12-09 14:30:10 UTC"},
        {4102444799, "2099-12-31T23:59:59Z", "2099-12-31 23:59:59 UTC"},
    };
    setenv("TZ", "America/New_York", 1);  // never the local time
    for (const auto &c : cases) {
        EXPECT_STREQ(rfc3339(c.seconds).text, c.rfc3339);
        EXPECT_STREQ(readable_time(c.seconds).text, c.readable);
    }
}

}  // namespace
