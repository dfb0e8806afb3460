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
#include "all_cards.h"
#include "atomic_file.h"
#include "image_file.h"
#include "json_doc.h"
#include "output.h"
#include "report.h"

namespace {

enum param_index { PARAM_ACTION, PARAM_FILE, PARAM_COUNT };
enum program_flag_index { FLAG_JSON, FLAG_ALL, FLAG_COUNT };

const program_flag FLAGS[FLAG_COUNT] = {
    {"json", "If TRUE, print one JSON document"},
    {"all", "If TRUE, act on every card: FILE is a folder"},
};

struct action {
    const char *name;
    action_kind kind;
    int (*run)(const card_choice &choice, const char *file, card_outcome *out);  // null: list
};

const action ACTIONS[] = {
    {"list", action_kind::LIST, nullptr},
    {"save", action_kind::SAVE, save_card},
    {"check", action_kind::CHECK, check_card},
    {"load", action_kind::LOAD, load_card},
};

// The action the command line names, with its parameters checked; null
// when it is refused (reported).
const action *chosen_action(const command_args &args, const card_choice &choice) {
    const char *name = args.values[PARAM_ACTION].s;
    const action *chosen = nullptr;
    for (const action &a : ACTIONS)
        if (name && strcmp(name, a.name) == 0) chosen = &a;
    if (!chosen) {
        report_failure("Unknown action '%s': use list, save, check or load\n", name ? name : "");
        return nullptr;
    }
    int wanted = chosen->run ? 2 : 1;
    require_parameters(&args, wanted);
    const char *file = wanted == 2 ? args.values[PARAM_FILE].s : nullptr;
    const bool all = choice.flags[FLAG_ALL];
    if (args.supplied_count > wanted)
        report_failure("Too many parameters supplied: %s takes %s. Use %s /? to get help.\n",
                       chosen->name, chosen->run ? "one file" : "no file", APP_NAME);
    else if (all && !chosen->run)
        report_failure("+all goes with save, check or load: list shows every card already\n");
    else if (all && (choice.card_given || choice.index_given))
        report_failure("Do not specify /card or /index with +all: it acts on every card\n");
    else if (!chosen->run && (choice.card_given || choice.index_given))
        report_failure("Do not specify /card or /index with list: it shows every card\n");
    else if (all && file && is_standard_stream(file))
        report_failure("+all needs a folder for the cards' images, not -\n");
    else if (choice.flags[FLAG_JSON] && chosen->kind == action_kind::SAVE && file &&
             is_standard_stream(file))
        report_failure("+json does not go with save -: the image itself is the output there\n");
    else return chosen;
    return nullptr;
}

// The run's JSON document: its head, what the action found, and the run's
// own failure when it got no further than that.
json_object *start_document(const action &chosen, bool all, const char *file) {
    json_object *doc = json::object();
    json::set_int(doc, "format_version", 1);
    json_object *tool = json::object();
    char version[32];
    snprintf(version, sizeof version, "%u.%u.%u", APP_VERSION.major, APP_VERSION.minor,
             APP_VERSION.patch);
    json::set_string(tool, "name", APP_NAME);
    json::set_string(tool, "version", version);
    json::set(doc, "tool", tool);
    json::set_string(doc, "action", chosen.name);
    if (all) {
        json::set_bool(doc, "all", true);
        json::set_string(doc, "folder", file);
    }
    return doc;
}

int run_action(const command_args &args, const card_choice &choice) {
    const action *chosen = chosen_action(args, choice);
    if (!chosen) return -1;
    const bool json_on = choice.flags[FLAG_JSON], all = choice.flags[FLAG_ALL];
    const char *file = chosen->run ? args.values[PARAM_FILE].s : nullptr;
    if (chosen->run && !file) file = "";
    char why[512];
    if (json_on && !json::start(why, sizeof why)) {
        report_failure("%s\n", why);
        return -1;
    }
    set_json_output(json_on);
    json_object *doc = json_on ? start_document(*chosen, all, file) : nullptr;
    json_object *cards = json_on && (all || !chosen->run) ? json::array() : nullptr;
    clear_reported_failures();
    int status;
    if (all || !chosen->run) {
        status = all ? on_all_cards(chosen->kind, choice, file, cards) : list_cards(cards);
        if (doc) json::set(doc, "cards", cards);
        // Not one card reached: the failure is the run's.
        if (doc && status < 0 && reported_failures()[0] && json::length(cards) == 0)
            json::set(doc, "error", error_json(reported_failures()));
    } else {
        static card_outcome out;
        start_outcome(&out, file);
        status = chosen->run(choice, file, &out);
        if (doc) add_outcome(doc, chosen->kind, out);
    }
    if (doc && !json::write(doc)) {
        report_failure("Out of memory for the JSON document: none written\n");
        return -1;
    }
    return status;
}

}  // namespace

int main(int argc, char *argv[]) {
    static const value_type types[PARAM_COUNT] = {ARG_STRING, ARG_STRING};
    static const char *const names[PARAM_COUNT] = {"action", "file"};
    static const char *const descriptions[PARAM_COUNT] = {
        "list, save, check or load",
        "image file, or folder with +all; '-' is standard input or "
        "output"};
    // A save stopped by a signal or a file-size limit leaves no temporary file.
    atomic_cleanup_on_signals();
    static family_command command;
    const family_declaration declaration{
        {types, names, descriptions, PARAM_COUNT, 1}, FLAGS, FLAG_COUNT, true};
    const card_choice choice = parse_family_command(argc, argv, declaration, &command);
    return finish_output(run_action(command.args, choice));
}
