// sorvit-image: whole-EEPROM images of the cards of a host.
//
//   sorvit-image [options] list          the host's cards
//   sorvit-image [options] save FILE     the selected card's EEPROM to FILE
//   sorvit-image [options] check FILE    the card against FILE
//   sorvit-image [options] load FILE     FILE back onto the card
//   sorvit-image [options] recover       finishes the card's unfinished change
//   sorvit-image [options] undo          puts back what its last change replaced
//   sorvit-image [options] history       the changes of the cards
//
// main parses, picks the action and ends the run through the output
// check; each action opens and closes its card itself. Results go to
// standard output, and nothing else does: failures and warnings go to
// standard error, so "save -" and a script's pipe stay clean.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "actions.h"
#include "all_cards.h"
#include "atomic_file.h"
#include "identity.h"
#include "image_file.h"
#include "load.h"
#include "report.h"

namespace {

enum param_index { PARAM_ACTION, PARAM_FILE, PARAM_COUNT };
enum program_flag_index { FLAG_JSON, FLAG_ALL, FLAG_METRICS, FLAG_VERSION, FLAG_COUNT };

const program_flag FLAGS[FLAG_COUNT] = {
    {"json", "If TRUE, print one JSON document"},
    {"all", "If TRUE, act on every card: FILE is a folder"},
    {"metrics", "Also write the run's Prometheus metrics to this file ('-': stdout)", ARG_STRING},
    {"version", "If TRUE, print the version and exit (so does /version)"},
};

// What goes with each action: a file (a folder with +all), +all, and the
// options that choose its card.
enum class card_options { ANY, NONE, ID_ONLY };
struct action {
    action_kind kind;
    bool takes_file;
    bool with_all;
    card_options chooses;
};

const action ACTIONS[] = {
    {action_kind::LIST, false, false, card_options::NONE},
    {action_kind::SAVE, true, true, card_options::ANY},
    {action_kind::CHECK, true, true, card_options::ANY},
    {action_kind::LOAD, true, true, card_options::ANY},
    {action_kind::RECOVER, false, true, card_options::ANY},
    {action_kind::UNDO, false, true, card_options::ANY},
    {action_kind::HISTORY, false, false, card_options::ID_ONLY},
};

// Why the options and parameters do not go with the action; null when
// they do.
const char *refusal(const action &chosen, const card_choice &choice, const char *file) {
    const bool all = choice.flags[FLAG_ALL], json = choice.flags[FLAG_JSON];
    const bool card = choice.card_given || choice.index_given;
    const char *metrics = choice.texts[FLAG_METRICS];
    if (all && chosen.kind == action_kind::LIST)
        return "+all goes with save, check, load, recover or undo: list shows every card already";
    if (all && !chosen.with_all)
        return "+all does not go with history: without /card it shows the changes of every card";
    if (all && card) return "Do not specify /card or /index with +all: it acts on every card";
    if (chosen.chooses == card_options::NONE && card)
        return "Do not specify /card or /index with list: it shows every card";
    if (chosen.chooses == card_options::ID_ONLY && choice.index_given)
        return "Do not specify /index with history: /card N shows the changes of card N";
    if (all && file && is_standard_stream(file))
        return "+all needs a folder for the cards' images, not -";
    if (json && chosen.kind == action_kind::SAVE && file && is_standard_stream(file))
        return "+json does not go with save -: the image itself is the output there";
    if (metrics && !metrics[0]) return "/metrics needs a file name, or - for standard output";
    if (metrics && is_standard_stream(metrics) &&
        (json || (file && is_standard_stream(file) && !all)))
        return "/metrics - does not go with +json or with - as the file: standard output holds "
               "those";
    return nullptr;
}

// The action the command line names, with its parameters checked; null
// when it is refused (reported).
const action *chosen_action(const command_args &args, const card_choice &choice) {
    const char *name = args.values[PARAM_ACTION].s;
    const action *chosen = nullptr;
    for (const action &a : ACTIONS)
        if (name && strcmp(name, action_word(a.kind)) == 0) chosen = &a;
    if (!chosen) {
        report_failure(
            "Unknown action '%s': use list, save, check, load, recover, undo or history\n",
            name ? name : "");
        return nullptr;
    }
    int wanted = chosen->takes_file ? 2 : 1;
    require_parameters(&args, wanted);
    const char *file = wanted == 2 ? args.values[PARAM_FILE].s : nullptr;
    if (args.supplied_count > wanted) {
        report_failure("Too many parameters supplied: %s takes %s. Use %s /? to get help.\n",
                       action_word(chosen->kind), chosen->takes_file ? "one file" : "no file",
                       APP_NAME);
        return nullptr;
    }
    if (const char *why = refusal(*chosen, choice, file)) {
        report_failure("%s\n", why);
        return nullptr;
    }
    return chosen;
}

double seconds_since(const timespec &start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// One card, the one the command line chose.
int on_one_card(image_run *run, action_kind action, const char *file) {
    if (action == action_kind::LOAD) return load_card(run, run->options, file);
    if (action == action_kind::RECOVER || action == action_kind::UNDO)
        return settle_card(run, action, run->options);
    if (action == action_kind::HISTORY) return show_history(run);
    card_record r{};
    start_record(&r, action, 0, file);
    const image_path path = path_named(file);
    int status = action == action_kind::SAVE ? save_card(run, run->options, path, true, &r)
                                             : check_card(run, run->options, path, &r);
    render_card(run->out, r);
    release_record(&r);
    return status;
}

int run_action(const command_args &args, const card_choice &choice) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const action *chosen = chosen_action(args, choice);
    if (!chosen) return -1;
    const bool all = choice.flags[FLAG_ALL];
    const char *file = chosen->takes_file ? args.values[PARAM_FILE].s : nullptr;
    if (chosen->takes_file && !file) file = "";
    const char *metrics_file = choice.texts[FLAG_METRICS];
    renderers out;
    const run_description described{chosen->kind, all, file, choice.card_given, choice.card_id};
    if (!start_renderers(&out, described, choice.flags[FLAG_JSON], metrics_file)) return -1;
    // Once a process, and large (it holds paths for messages): in zeroed
    // storage, whose pages cost nothing until they are written.
    static image_run run;
    run.out = &out;
    run.options = choice;
    start_change_run(&run.changes, APP_NAME, action_word(chosen->kind));
    int status = all                                 ? on_all_cards(&run, chosen->kind, file)
                 : chosen->kind == action_kind::LIST ? list_cards(&run)
                                                     : on_one_card(&run, chosen->kind, file);
    if (finish_change_run(&run.changes, &out.failures) != 0) status = -1;
    free_history_index(&run.history);
    free(run.plans);
    return finish_renderers(&out, status, seconds_since(start), metrics_file);
}

// "/version" (or "+version", "--version") among the options: the version
// and nothing else, as a document with +json; nothing else is parsed, so
// that it answers whatever the rest says. -1 when not asked.
int version_asked(int argc, char *argv[], const family_declaration &declaration) {
    bool asked = false, json_on = false;
    for (int k = 1; k < argc && argv[k][0] && strchr("-/+", argv[k][0]); k++) {
        const char *word = argv[k] + 1;
        if (strcmp(word, "version") == 0 || strcmp(argv[k], "--version") == 0)
            asked = argv[k][0] != '-' || argv[k][1] == '-';  // -version: the flag off
        if (strcmp(argv[k], "+json") == 0) json_on = true;
        if (option_takes_value(declaration, word)) k++;
    }
    if (!asked) return -1;
    if (!json_on) {
        printf("%s %s\n", APP_NAME, tool_version().text);
        return 0;
    }
    return json_version() ? 0 : -1;
}

// "--help", as most commands take it, is the module's "/help".
void long_help_as_builtin(int argc, char *argv[], const family_declaration &declaration) {
    static char help[] = "/help";
    for (int k = 1; k < argc && argv[k][0] && strchr("-/+", argv[k][0]); k++) {
        if (strcmp(argv[k], "--help") == 0) argv[k] = help;
        if (option_takes_value(declaration, argv[k] + 1)) k++;
    }
}

// "/metrics FILE" may also end the command line, after the action and its
// file, as a service's command reads best; every other option comes first.
// Left where it is, the pair would be two more parameters: refused.
void metrics_option_first(int argc, char *argv[]) {
    if (argc < 4) return;
    char *option = argv[argc - 2], *value = argv[argc - 1];
    if ((option[0] != '/' && option[0] != '-') || strcmp(option + 1, "metrics") != 0) return;
    memmove(argv + 3, argv + 1, static_cast<size_t>(argc - 3) * sizeof *argv);
    argv[1] = option;
    argv[2] = value;
}

}  // namespace

int main(int argc, char *argv[]) {
    static const value_type types[PARAM_COUNT] = {ARG_STRING, ARG_STRING};
    static const char *const names[PARAM_COUNT] = {"action", "file"};
    static const char *const descriptions[PARAM_COUNT] = {
        "list, save, check, load, recover, undo or history",
        "for save, check and load: image file, or folder with +all; '-' "
        "is standard input or output"};
    watch_standard_streams();
    // A save stopped by a signal or a file-size limit leaves no temporary file.
    atomic_cleanup_on_signals();
    // The argument module keeps what it stored in the record, and pointers
    // into it, for the life of the process: so does the record.
    static family_command command;
    const family_declaration declaration{
        {types, names, descriptions, PARAM_COUNT, 1}, FLAGS, FLAG_COUNT, true};
    int version = version_asked(argc, argv, declaration);
    if (version >= 0) return finish_output(version);
    metrics_option_first(argc, argv);
    long_help_as_builtin(argc, argv, declaration);
    const card_choice choice = parse_family_command(argc, argv, declaration, &command);
    return finish_output(run_action(command.args, choice));
}
