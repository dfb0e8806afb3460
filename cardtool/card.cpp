#include "card.h"

#include <cstdio>
#include <cstring>

#include "board.h"
#include "report.h"

namespace {

enum family_option { OPT_CARD, OPT_INDEX, OPT_FORCE, OPT_UNLOCK };

void declare_options(const family_declaration &declaration, option_desc *options) {
    options[OPT_CARD] = {"card", ARG_UINT, "ID of card to use", {.u = 0}, 0, {}};
    options[OPT_INDEX] = {"index", ARG_UINT, "index of card to use", {.u = 0}, 0, {}};
    options[OPT_FORCE] = {"f", ARG_BOOLEAN, "If TRUE, don't confirm when writing", {.b = 0}, 0, {}};
    options[OPT_UNLOCK] = {"unlock", ARG_BOOLEAN, "If TRUE, allow write to protected locations",
                           {.b = 0}, 0,           {}};
    for (int k = 0; k < declaration.flag_count && k < MAX_PROGRAM_FLAGS; k++) {
        const program_flag &flag = declaration.flags[k];
        static char nothing[1];  // an option with a value shows no default
        arg_value none{};
        if (flag.type != ARG_BOOLEAN) none.s = nothing;
        options[FAMILY_OPTION_COUNT + k] = {flag.name, flag.type, flag.description, none, 0, {}};
    }
}

bool is_on(const option_desc &option) { return option.value.b != 0; }

}  // namespace

bool option_takes_value(const family_declaration &declaration, const char *word) {
    if (const builtin_option *builtin = find_builtin(word)) return builtin->missing != nullptr;
    option_desc options[FAMILY_OPTION_COUNT + MAX_PROGRAM_FLAGS]{};
    declare_options(declaration, options);
    for (const option_desc &o : options)
        if (o.name && strcmp(o.name, word) == 0) return o.type != ARG_BOOLEAN;
    return false;
}

card_choice parse_family_command(int argc, char *argv[], const family_declaration &declaration,
                                 family_command *command) {
    declare_options(declaration, command->options);
    const int flags =
        declaration.flag_count < MAX_PROGRAM_FLAGS ? declaration.flag_count : MAX_PROGRAM_FLAGS;
    command_args &args = command->args;
    args = command_args{};
    args.option_count = FAMILY_OPTION_COUNT + flags;
    args.param_types = declaration.parameters.types;
    args.param_names = declaration.parameters.names;
    args.param_descs = declaration.parameters.descriptions;
    args.param_count = declaration.parameters.count;
    args.required_count = declaration.parameters.required;
    args.options = command->options;
    args.errors_to_stderr = declaration.errors_to_stderr;
    args.options_first = 1;
    parse_command_line(argc, argv, &args);

    const option_desc *o = command->options;
    card_choice choice{};
    choice.card_given = o[OPT_CARD].specified != 0;
    choice.index_given = o[OPT_INDEX].specified != 0;
    choice.card_id = o[OPT_CARD].value.u;
    choice.index = o[OPT_INDEX].value.u;
    choice.force = is_on(o[OPT_FORCE]);
    choice.unlock = is_on(o[OPT_UNLOCK]);
    for (int k = 0; k < flags; k++) {
        const option_desc &option = o[FAMILY_OPTION_COUNT + k];
        if (option.type == ARG_BOOLEAN) choice.flags[k] = is_on(option);
        else choice.texts[k] = option.specified ? option.value.s : nullptr;
    }
    return choice;
}

namespace {

int open_card(const card_choice &choice, VELQOR2_HANDLE *handle, failure_log *log) {
    if (choice.card_given && choice.index_given) {
        log_failure(log, "Do not specify both /card and /index\n");
        return -1;
    }
    bool by_index = !choice.card_given && choice.index_given;
    VELQOR2_STATUS status = by_index ? VELQOR2_OpenCardByIndex(choice.index, handle)
                                     : VELQOR2_OpenCard(choice.card_id, handle);
    if (status == VELQOR2_SUCCESS) return 0;
    log_failure(log,
                by_index ? "Failed to open card with index %lu: %s\n"
                         : "Failed to open card with ID %lu: %s\n",
                static_cast<unsigned long>(by_index ? choice.index : choice.card_id),
                VELQOR2_GetStatusString(status));
    return -1;
}

}  // namespace

int open_card_info(const card_choice &choice, card_session *card) {
    *card = card_session{0, 0, 0, 0, card->log};
    if (open_card(choice, &card->handle, card->log) != 0) return -1;
    card_info_room room{};
    VELQOR2_STATUS status = VELQOR2_GetCardInfo(card->handle, &room.info);
    if (status != VELQOR2_SUCCESS) {
        log_failure(card->log, "Failed to get card info: %s\n", VELQOR2_GetStatusString(status));
        return -1;
    }
    card->card_id = room.info.card_id;
    card->board_type = room.info.board_type;
    card->word_width = classify_board(card->board_type);
    return 0;
}

int open_selected_card(const card_choice &choice, card_session *card) {
    if (open_card_info(choice, card) != 0) return -1;
    if (card->word_width != 0) return 0;
    print_supported_cards(card->log);
    return -1;
}

int reopen_card(card_session *card) {
    card_choice by_id{};
    by_id.card_given = true;
    by_id.card_id = card->card_id;
    close_card(card);
    if (open_card(by_id, &card->handle, card->log) != 0) return -1;
    return confirm_card_unchanged(card);
}

int confirm_card_unchanged(const card_session *card) {
    card_info_room room{};
    VELQOR2_STATUS status = VELQOR2_GetCardInfo(card->handle, &room.info);
    if (status != VELQOR2_SUCCESS) {
        log_failure(card->log,
                    "Failed to get card info again after the question: %s: nothing written\n",
                    VELQOR2_GetStatusString(status));
        return -1;
    }
    const int32_t now = room.info.board_type;
    if (now == card->board_type && classify_board(now) == card->word_width) return 0;
    log_failure(card->log,
                "Card %s changed from board type %ld to %ld while the question was open: "
                "nothing written\n",
                label_of(card->card_id).text, static_cast<long>(card->board_type),
                static_cast<long>(now));
    return -1;
}

void close_card(card_session *card) {
    if (card->handle != 0) VELQOR2_CloseCard(card->handle);
    card->handle = 0;
}

void print_card_line(FILE *stream, const card_session *card) {
    if (stream) fprintf(stream, "%s\n", card_line(card->card_id).text);
}

int value_digits(const card_session *card) { return card->word_width == 4 ? 8 : 4; }
