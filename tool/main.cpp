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

const value_type PARAM_TYPES[] = {ARG_UINT, ARG_UINT};
const char *const PARAM_NAMES[] = {"location", "data"};
const char *const PARAM_DESCS[] = {"EEPROM location", "Data value to write"};

int run_mode(const command_args &args, const card_choice &choice, const card_session *card) {
    switch (args.supplied_count) {
    case 0:
        return dump_eeprom(card);
    case 1:
        return read_location(card, args.values[0].u);
    default:  // numbers after the second are ignored
        return write_location(card, args.values[0].u, args.values[1].u, choice);
    }
}

}  // namespace

int main(int argc, char *argv[]) {
    watch_standard_streams();
    static family_command command;
    const family_declaration declaration{
        {PARAM_TYPES, PARAM_NAMES, PARAM_DESCS, 2, 0}, nullptr, 0, false};
    const card_choice choice = parse_family_command(argc, argv, declaration, &command);

    card_session card{};
    int status = open_selected_card(choice, &card);
    if (status == 0) status = run_mode(command.args, choice, &card);
    close_card(&card);
    // A dump that never reached its reader is a failure, not a success.
    return finish_output(status);
}
