#include "board.h"

#include "report.h"

#include <cstdio>

namespace {

// One row per run of board type codes. Codes are compared as unsigned, so
// negative codes fall past the table and are refused, as is 20.
struct board_class {
    uint32_t first_type;
    uint32_t last_type;
    unsigned word_width;       // bytes
    uint32_t protected_below;  // writes below this location need +unlock
};

const board_class BOARD_CLASSES[] = {
    {0, 2, 2, 43},  {3, 3, 2, 45},  {4, 5, 4, 0},   {6, 7, 2, 45},   {8, 8, 4, 0},
    {9, 11, 2, 45}, {12, 19, 4, 0}, {21, 24, 4, 0}, {25, 25, 2, 45},
};

const board_class *find_class(int32_t board_type) {
    uint32_t code = static_cast<uint32_t>(board_type);
    for (const board_class &c : BOARD_CLASSES)
        if (code >= c.first_type && code <= c.last_type) return &c;
    return nullptr;
}

const char *const SUPPORTED_MODELS[] = {
    "VQ-2100 Capture",
    "VQ-2104 Capture Quad",
    "VQ-2110 Capture LP",
    "VQ-2200 Streamer",
    "VQ-2210 Streamer Plus",
    "VQ-2300 Link",
    "VQ-2310 Link Dual",
    "VQ-2400 Timing / VQ-2400T Timing",
    "VQ-2500 Capture Duo",
    "VQ-2525 Capture Duo",
    "VQ-3100 Router",
    "VQ-3200 Router Plus",
    "VQ-4100 Fabric",
    "VQ-4200 Fabric Plus",
    "VQ-4400 Processor",
    "VQ-4600 Processor Duo",
    "VQ-4800 / VQ-4810 / VQ-4820 Quad Link",
    "VQ-4812 Quad Link",
    "VQ-5100 Gateway",
    "VQ-5200 Gateway Plus",
};
static_assert(sizeof SUPPORTED_MODELS / sizeof *SUPPORTED_MODELS == 20, "twenty model lines");

}  // namespace

unsigned classify_board(int32_t board_type) {
    const board_class *c = find_class(board_type);
    return c ? c->word_width : 0;
}

bool is_protected_location(int32_t board_type, uint32_t location) {
    return location < protected_below(board_type);
}

uint32_t protected_below(int32_t board_type) {
    const board_class *c = find_class(board_type);
    return c ? c->protected_below : 0;
}

void print_supported_cards(failure_log *log) {
    log_failure(log, "This utility must be run on one of the following cards:\n\n");
    for (const char *model : SUPPORTED_MODELS) log_failure(log, "\t%s\n", model);
}
