// sorvit: inspects and changes the configuration EEPROM of one card.
//
//   sorvit [options]                  dumps locations 0x00 to 0x3F
//   sorvit [options] location         shows one location
//   sorvit [options] location data    writes one location, after asking
//
// main runs in a fixed order: parse, select and open the card, read its
// information, classify the board, run one mode, close the card.
#include "args.h"
#include "card.h"
#include "modes.h"

namespace {

int run_mode(const command_args *args, const card_session *card) {
    const option_desc *options = args->options;
    switch (args->supplied_count) {
    case 0:
        return dump_eeprom(card);
    case 1:
        return read_location(card, args->values[0].u);
    default:  // numbers after the second are ignored
        return write_location(card, args->values[0].u, args->values[1].u,
                              options[OPT_FORCE].value.b != 0, options[OPT_UNLOCK].value.b != 0);
    }
}

}  // namespace

int main(int argc, char *argv[]) {
    option_desc options[CARD_OPTION_COUNT];
    declare_card_options(options);
    static const value_type PARAM_TYPES[] = {ARG_UINT, ARG_UINT};
    static const char *const PARAM_NAMES[] = {"location", "data"};
    static const char *const PARAM_DESCS[] = {"EEPROM location", "Data value to write"};
    command_args args{};
    args.option_count = CARD_OPTION_COUNT;
    args.param_types = PARAM_TYPES;
    args.param_names = PARAM_NAMES;
    args.param_descs = PARAM_DESCS;
    args.param_count = 2;
    args.required_count = 0;
    args.options = options;
    parse_command_line(argc, argv, &args);

    card_session card{};
    int status = open_selected_card(options, &card);
    if (status == 0) status = run_mode(&args, &card);
    close_card(&card);
    // A dump that never reached its reader is a failure, not a success.
    return finish_output(status);
}
