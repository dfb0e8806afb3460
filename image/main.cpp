// sorvit-image: whole-EEPROM images of the cards of a host.
//
//   sorvit-image [options] list          the host's cards
//   sorvit-image [options] save FILE     the selected card's EEPROM to FILE
//   sorvit-image [options] check FILE    the card against FILE
//   sorvit-image [options] load FILE     FILE back onto the card
//
// main parses, picks the action and ends the run through the output
// check; each action opens and closes its card itself.
#include <cstdio>
#include <cstring>

#include "actions.h"

namespace {

enum param_index { PARAM_ACTION, PARAM_FILE, PARAM_COUNT };

struct action {
    const char *name;
    int (*run)(const option_desc *options, const char *file);  // null: list
};

const action ACTIONS[] = {
    {"list", nullptr},
    {"save", save_image},
    {"check", check_image},
    {"load", load_image},
};

int run_action(command_args *args) {
    const char *name = args->values[PARAM_ACTION].s;
    const action *chosen = nullptr;
    for (const action &a : ACTIONS)
        if (name && strcmp(name, a.name) == 0) chosen = &a;
    if (!chosen) {
        printf("Unknown action '%s': use list, save, check or load\n", name ? name : "");
        return -1;
    }
    int wanted = chosen->run ? 2 : 1;
    require_parameters(args, wanted);
    if (args->supplied_count > wanted) {
        printf("Too many parameters supplied: %s takes %s. Use %s /? to get help.\n", chosen->name,
               chosen->run ? "one file" : "no file", APP_NAME);
        return -1;
    }
    if (!chosen->run) return list_cards();
    const char *file = args->values[PARAM_FILE].s;
    return chosen->run(args->options, file ? file : "");
}

}  // namespace

int main(int argc, char *argv[]) {
    static const value_type types[PARAM_COUNT] = {ARG_STRING, ARG_STRING};
    static const char *const names[PARAM_COUNT] = {"action", "file"};
    static const char *const descriptions[PARAM_COUNT] = {
        "list, save, check or load", "image file; '-' is standard input or output"};
    static family_command command;
    parse_family_command(argc, argv, {types, names, descriptions, PARAM_COUNT, 1}, &command);
    return finish_output(run_action(&command.args));
}
