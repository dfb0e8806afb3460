// What every program of the family does with a card before its own work:
// the options that select it, the open, the card information and the board
// classification, and the card line.
#ifndef CARDTOOL_CARD_H
#define CARDTOOL_CARD_H

#include <cstdint>
#include <cstdio>

#include "args.h"
#include "cells.h"
#include "config_area.h"
#include "report.h"
#include "velqor2.h"

// A program's positional parameters, as the argument module takes them.
struct parameter_list {
    const value_type *types;
    const char *const *names;
    const char *const *descriptions;
    int count;
    int required;
};

// A program's own options, shown after the family's: boolean, or with a
// value (ARG_STRING).
struct program_flag {
    const char *name;
    const char *description;
    value_type type = ARG_BOOLEAN;
};
constexpr int MAX_PROGRAM_FLAGS = 4;

struct family_declaration {
    parameter_list parameters;
    const program_flag *flags;
    int flag_count;
    bool errors_to_stderr;  // the program keeps standard output for its results
};

// How the command line chose the card, and what may be done to it: the
// family's options, decoded once. Programs read this, not the option table.
struct card_choice {
    bool card_given;                       // "/card N"
    bool index_given;                      // "/index N"
    uint32_t card_id;                      // "/card", 0 when not given
    uint32_t index;                        // "/index"
    bool force;                            // "+f": no question before writing
    bool unlock;                           // "+unlock": protected locations may be written
    bool flags[MAX_PROGRAM_FLAGS];         // the program's own options, in their order
    const char *texts[MAX_PROGRAM_FLAGS];  // the values of those with one; null when not given
};

// The command line of a program of the family: the family's options and
// the program's own, and its parameters. Lives as long as the process.
constexpr int FAMILY_OPTION_COUNT = 4;
struct family_command {
    option_desc options[FAMILY_OPTION_COUNT + MAX_PROGRAM_FLAGS];
    command_args args;
};

// Declares the options and parameters and parses the command line: an
// option after the first positional argument is refused. Returns the choice,
// or ends the process (the usage screen, an error).
card_choice parse_family_command(int argc, char *argv[], const family_declaration &declaration,
                                 family_command *command);

// Whether the option word (without its prefix) takes the next argument as
// its value, for a program that looks at its command line before parsing.
bool option_takes_value(const family_declaration &declaration, const char *word);

// The card information record, in room for 1 KiB: a library whose record
// is larger than ours writes into the room, never past it. Of it the family
// reads only card_id and board_type, what the interface defines.
union card_info_room {
    VELQOR2_CARD_INFO info;
    unsigned char bytes[1024];
};

struct card_session {
    VELQOR2_HANDLE handle;  // 0 while no card is open
    uint32_t card_id;
    int32_t board_type;
    unsigned word_width;  // bytes: 2 or 4
    failure_log *log;     // where the card's failures are kept too, or null
};

// Opens the card that the choice selects ("/card", "/index", or card 0),
// reads its information and classifies its board. Returns 0, or prints why
// not (on the argument module's error stream, and into the session's log)
// and returns -1; the card may then be open all the same, so call
// close_card on every path.
int open_selected_card(const card_choice &choice, card_session *card);
// The same, without the board's check: word_width is 0 for a board that
// the family does not support, which the caller then reports.
int open_card_info(const card_choice &choice, card_session *card);
void close_card(card_session *card);

// After a question, before the first write: reads the card information
// again, as the protected locations and the word follow from the board type
// the question was asked for. Returns 0 when it is unchanged, or prints why
// nothing will be written and returns -1.
int confirm_card_unchanged(const card_session *card);

// Opens the card again by its ID, after it was closed (so that a host of
// many cards never holds more than one open), and confirms it unchanged as
// above. Call close_card on every path.
int reopen_card(card_session *card);

// The card line (cells.h) and a line feed, on the stream (nowhere when
// it is null).
void print_card_line(FILE *stream, const card_session *card);

// Hexadecimal digits a value is shown with: 4 or 8, as the word is wide
// (a wider value shows all its digits).
int value_digits(const card_session *card);

#endif
