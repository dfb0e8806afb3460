// Fuzzes the journal's reader, which every run uses on files that a power
// cut may have left cut anywhere. Each card found unfinished has a whole
// entry; that entry, written out again, reads back the same; plans parse.
#include <cstdlib>
#include <cstring>
#include <string>

#include "journal_text.h"

namespace {

bool same(const change_entry &a, const change_entry &b) {
    return strcmp(a.run, b.run) == 0 && a.card_id == b.card_id && a.has_index == b.has_index &&
           (!a.has_index || a.index == b.index) && a.board_type == b.board_type &&
           a.word_bits == b.word_bits && a.time == b.time && a.uid == b.uid &&
           strcmp(a.user, b.user) == 0 && strcmp(a.tool, b.tool) == 0 &&
           strcmp(a.action, b.action) == 0 && strcmp(a.image, b.image) == 0 &&
           a.locations == b.locations && a.before_known == b.before_known &&
           memcmp(a.before, b.before, sizeof a.before) == 0 &&
           memcmp(a.after, b.after, sizeof a.after) == 0 && a.has_far == b.has_far &&
           (!a.has_far ||
            (a.far_location == b.far_location && a.far_before_known == b.far_before_known &&
             a.far_before == b.far_before && a.far_after == b.far_after));
}

// The entry as its run writes it, under the journal's first line.
bool round_trip(const change_entry &e) {
    journal_text t{};
    if (!format_entry(e, &t)) return true;  // out of memory: nothing to compare
    const std::string text =
        "sorvit journal 1 " + std::string(e.run) + "\n" + std::string(t.data, t.length);
    free_journal_text(&t);
    static change_entry back;
    return parse_entry(text.data(), text.size(), e.card_id, &back) && same(e, back) &&
           back.written == 0 && !back.far_written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    card_ids ids{};
    if (!unfinished_cards(text, size, &ids)) return 0;
    static change_entry e;
    for (size_t k = 0; k < ids.count && k < 16; k++) {
        if (!parse_entry(text, size, ids.ids[k], &e) || e.card_id != ids.ids[k])
            __builtin_trap();  // listed unfinished, yet no whole entry
        if (!round_trip(e)) __builtin_trap();
    }
    free_card_ids(&ids);
    change_entry *plans = nullptr;
    size_t count = 0;
    (void)parse_plans(text, size, &plans, &count);
    free(plans);
    return 0;
}
