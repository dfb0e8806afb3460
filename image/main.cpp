// sorvit-image: whole-EEPROM images of the cards of a host.
//
//   sorvit-image [options] list          the host's cards
//   sorvit-image [options] save FILE     the selected card's EEPROM to FILE
//   sorvit-image [options] check FILE    the card against FILE
//   sorvit-image [options] load FILE     FILE back onto the card
//
// main parses, picks the action and ends the run through the output
// check; each action opens and closes its card itself. Results go to
// standard output, and nothing else does: failures and warnings go to
// standard error, so "save -" and a script's pipe stay clean.
#include <cstring>

#include "actions.h"
#include "atomic_file.h"
#include "report.h"

namespace {

enum param_index { PARAM_ACTION, PARAM_FILE, PARAM_COUNT };

struct action {
    const char *name;
    int (*run)(const card_choice &choice, const char *file);  // null: list
};

const action ACTIONS[] = {
    {"list", nullptr},
    {"save", save_image},
    {"check", check_image},
    {"load", load_image},
};

int run_action(const command_args &args, const card_choice &choice) {
    const char *name = args.values[PARAM_ACTION].s;
    const action *chosen = nullptr;
    for (const action &a : ACTIONS)
        if (name && strcmp(name, a.name) == 0) chosen = &a;
    if (!chosen) {
        report_failure("Unknown action '%s': use list, save, check or load\n", name ? name : "");
        return -1;
    }
    int wanted = chosen->run ? 2 : 1;
    require_parameters(&args, wanted);
    if (args.supplied_count > wanted) {
        report_failure("Too many parameters supplied: %s takes %s. Use %s /? to get help.\n",
                       chosen->name, chosen->run ? "one file" : "no file", APP_NAME);
        return -1;
    }
    if (!chosen->run) return list_cards();
    const char *file = args.values[PARAM_FILE].s;
    return chosen->run(choice, file ? file : "");
}

}  // namespace

int main(int argc, char *argv[]) {
    static const value_type types[PARAM_COUNT] = {ARG_STRING, ARG_STRING};
    static const char *const names[PARAM_COUNT] = {"action", "file"};
    static const char *const descriptions[PARAM_COUNT] = {
        "list, save, check or load", "image file; '-' is standard input or output"};
    // A save stopped by a signal or a file-size limit leaves no temporary file.
    atomic_cleanup_on_signals();
    static family_command command;
    const family_declaration declaration{
        {types, names, descriptions, PARAM_COUNT, 1}, nullptr, 0, true};
    const card_choice choice = parse_family_command(argc, argv, declaration, &command);
    return finish_output(run_action(command.args, choice));
}
