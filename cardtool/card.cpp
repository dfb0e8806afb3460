#include "card.h"

#include <cstdio>

#include "board.h"

namespace {

void declare_card_options(option_desc options[CARD_OPTION_COUNT]) {
    options[OPT_CARD] = {"card", ARG_UINT, "ID of card to use", {.u = 0}, 0, {}};
    options[OPT_INDEX] = {"index", ARG_UINT, "index of card to use", {.u = 0}, 0, {}};
    options[OPT_FORCE] = {"f", ARG_BOOLEAN, "If TRUE, don't confirm when writing", {.b = 0}, 0, {}};
    options[OPT_UNLOCK] = {"unlock", ARG_BOOLEAN, "If TRUE, allow write to protected locations",
                           {.b = 0}, 0,           {}};
}

}  // namespace

void parse_family_command(int argc, char *argv[], const parameter_list &parameters,
                          family_command *command) {
    declare_card_options(command->options);
    command_args &args = command->args;
    args = command_args{};
    args.option_count = CARD_OPTION_COUNT;
    args.param_types = parameters.types;
    args.param_names = parameters.names;
    args.param_descs = parameters.descriptions;
    args.param_count = parameters.count;
    args.required_count = parameters.required;
    args.options = command->options;
    parse_command_line(argc, argv, &args);
}

namespace {

int open_card(const option_desc options[CARD_OPTION_COUNT], VELQOR2_HANDLE *handle) {
    const option_desc &card = options[OPT_CARD];
    const option_desc &index = options[OPT_INDEX];
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

}  // namespace

int open_selected_card(const option_desc options[CARD_OPTION_COUNT], card_session *card) {
    *card = card_session{};
    if (open_card(options, &card->handle) != 0) return -1;
    VELQOR2_STATUS status = VELQOR2_GetCardInfo(card->handle, &card->info);
    if (status != VELQOR2_SUCCESS) {
        printf("Failed to get card info: %s\n", VELQOR2_GetStatusString(status));
        return -1;
    }
    // A library may leave the model name unterminated: never read past it.
    card->info.model_name[sizeof card->info.model_name - 1] = '\0';
    card->card_id = card->info.card_id;
    card->board_type = card->info.board_type;
    card->word_width = classify_board(card->board_type);
    if (card->word_width == 0) {
        print_supported_cards();
        return -1;
    }
    return 0;
}

void close_card(card_session *card) {
    if (card->handle != 0) VELQOR2_CloseCard(card->handle);
    card->handle = 0;
}

void print_card_line(const card_session *card) {
    printf("Selected card ID is %lu(0x%lx)\n", static_cast<unsigned long>(card->card_id),
           static_cast<unsigned long>(card->card_id));
}

int value_digits(const card_session *card) { return card->word_width == 4 ? 8 : 4; }
