// What every program of the family does with a card before its own work:
// the options that select it, the open, the card information and the board
// classification, and the card line.
#ifndef CARDTOOL_CARD_H
#define CARDTOOL_CARD_H

#include <cstdint>

#include "args.h"
#include "velqor2.h"

// The family's options, in the order of the usage screen.
enum card_option { OPT_CARD, OPT_INDEX, OPT_FORCE, OPT_UNLOCK, CARD_OPTION_COUNT };

// A program's positional parameters, as the argument module takes them.
struct parameter_list {
    const value_type *types;
    const char *const *names;
    const char *const *descriptions;
    int count;
    int required;
};

// The command line of a program of the family: the family's options and
// the program's own parameters. The record lives as long as the process.
struct family_command {
    option_desc options[CARD_OPTION_COUNT];
    command_args args;
};

// Declares the options and parameters and parses the command line; returns
// with the results, or ends the process (the usage screen, an error).
void parse_family_command(int argc, char *argv[], const parameter_list &parameters,
                          family_command *command);

struct card_session {
    VELQOR2_HANDLE handle;  // 0 while no card is open
    VELQOR2_CARD_INFO info;
    uint32_t card_id;
    int32_t board_type;
    unsigned word_width;  // bytes: 2 or 4
};

// Opens the card that the options select ("/card", "/index", or card 0),
// reads its information and classifies its board. Returns 0, or prints why
// not and returns -1; the card may then be open all the same, so call
// close_card on every path.
int open_selected_card(const option_desc options[CARD_OPTION_COUNT], card_session *card);
void close_card(card_session *card);

// "Selected card ID is N(0xN)" and a line feed.
void print_card_line(const card_session *card);

// Hexadecimal digits a value is shown with: 4 or 8, as the word is wide
// (a wider value shows all its digits).
int value_digits(const card_session *card);

#endif
