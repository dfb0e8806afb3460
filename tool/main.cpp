// sorvit: inspects and changes the configuration EEPROM of one card.
//
//   sorvit [options]                  dumps locations 0x00 to 0x3F
//   sorvit [options] location         shows one location
//   sorvit [options] location data    writes one location, after asking
//
// main runs in a fixed order: parse, select and open the card, read its
// information, classify the board, run one mode, close the card.
#include <cstdio>

#include "args.h"
#include "board.h"
#include "modes.h"
#include "velqor2.h"

namespace {

enum option_index { OPT_CARD, OPT_INDEX, OPT_FORCE, OPT_UNLOCK, OPTION_COUNT };

// Opens the card that the options select; prints why when it cannot.
int open_selected_card(const command_args *args, VELQOR2_HANDLE *handle) {
    const option_desc &card = args->options[OPT_CARD];
    const option_desc &index = args->options[OPT_INDEX];
    if (card.specified && index.specified) {
        printf("Do not specify both /card and /index\n");
        return -1;
    }
    bool by_index = !card.specified && index.specified;
    VELQOR2_STATUS status = by_index ? VELQOR2_OpenCardByIndex(index.value.u, handle)
                                     : VELQOR2_OpenCard(card.value.u, handle);
    if (status == VELQOR2_SUCCESS) return 0;
    printf(by_index ? "Failed to open card with index %lu: %s\n"
                    : "Failed to open card with ID %lu: %s\n",
           static_cast<unsigned long>(by_index ? index.value.u : card.value.u),
           VELQOR2_GetStatusString(status));
    return -1;
}

// Everything between the parse and the close.
int run(const command_args *args, VELQOR2_HANDLE *handle) {
    if (open_selected_card(args, handle) != 0) return -1;
    VELQOR2_CARD_INFO info{};
    VELQOR2_STATUS status = VELQOR2_GetCardInfo(*handle, &info);
    if (status != VELQOR2_SUCCESS) {
        printf("Failed to get card info: %s\n", VELQOR2_GetStatusString(status));
        return -1;
    }
    card_session card{*handle, info.card_id, info.board_type, classify_board(info.board_type)};
    if (card.word_width == 0) {
        print_supported_cards();
        return -1;
    }
    const option_desc *options = args->options;
    switch (args->supplied_count) {
    case 0:
        return dump_eeprom(&card);
    case 1:
        return read_location(&card, args->values[0].u);
    default:  // numbers after the second are ignored
        return write_location(&card, args->values[0].u, args->values[1].u,
                              options[OPT_FORCE].value.b != 0, options[OPT_UNLOCK].value.b != 0);
    }
}

}  // namespace

int main(int argc, char *argv[]) {
    option_desc options[OPTION_COUNT] = {
        {"card", ARG_UINT, "ID of card to use", {.u = 0}, 0, {}},
        {"index", ARG_UINT, "index of card to use", {.u = 0}, 0, {}},
        {"f", ARG_BOOLEAN, "If TRUE, don't confirm when writing", {.b = 0}, 0, {}},
        {"unlock", ARG_BOOLEAN, "If TRUE, allow write to protected locations", {.b = 0}, 0, {}},
    };
    static const value_type PARAM_TYPES[] = {ARG_UINT, ARG_UINT};
    static const char *const PARAM_NAMES[] = {"location", "data"};
    static const char *const PARAM_DESCS[] = {"EEPROM location", "Data value to write"};
    command_args args{};
    args.option_count = OPTION_COUNT;
    args.param_types = PARAM_TYPES;
    args.param_names = PARAM_NAMES;
    args.param_descs = PARAM_DESCS;
    args.param_count = 2;
    args.required_count = 0;
    args.options = options;
    parse_command_line(argc, argv, &args);

    VELQOR2_HANDLE handle = 0;
    int status = run(&args, &handle);
    if (handle != 0) VELQOR2_CloseCard(handle);

    // A dump that never reached its reader is a failure, not a success.
    return finish_output(status);
}
