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
#include <time.h>

#include <cstdio>
#include <cstring>

#include "actions.h"
#include "all_cards.h"
#include "atomic_file.h"
#include "image_file.h"
#include "json_doc.h"
#include "metrics.h"
#include "output.h"
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
    const char *metrics = choice.texts[FLAG_METRICS];
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
    else if (metrics && !metrics[0])
        report_failure("/metrics needs a file name, or - for standard output\n");
    else if (metrics && is_standard_stream(metrics) &&
             (choice.flags[FLAG_JSON] || (file && is_standard_stream(file) && !all)))
        report_failure(
            "/metrics - does not go with +json or with - as the file: standard output "
            "holds those\n");
    else return chosen;
    return nullptr;
}

// What every document of the tool begins with: its format and the tool.
json_object *document_head() {
    json_object *doc = json::object(), *tool = json::object();
    json::set_int(doc, "format_version", 1);
    json::set_string(tool, "name", APP_NAME);
    json::set_string(tool, "version", tool_version().text);
    json::set(doc, "tool", tool);
    return doc;
}

// The run's JSON document: its head, what the action found, and the run's
// own failure when it got no further than that.
json_object *start_document(const action &chosen, bool all, const char *file) {
    json_object *doc = document_head();
    json::set_string(doc, "action", chosen.name);
    if (all) {
        json::set_bool(doc, "all", true);
        json::set_string(doc, "folder", file);
    }
    return doc;
}

double seconds_since(const timespec &start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) +
           static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// The action's records, to the JSON document and the metrics as asked.
int act(const action &chosen, const card_choice &choice, const char *file, renderers *r,
        json_object *doc) {
    const bool all = choice.flags[FLAG_ALL];
    if (all || !chosen.run) {
        int status = all ? on_all_cards(chosen.kind, choice, file, r) : list_cards(r);
        if (doc) json::set(doc, "cards", r->cards);
        // Not one card reached: the failure is the run's.
        if (doc && status < 0 && r->failures.text && json::length(r->cards) == 0)
            json::set(doc, "error", error_json(failure_text(&r->failures)));
        return status;
    }
    static card_outcome out;
    start_outcome(&out, file);
    int status = chosen.run(choice, file, &out);
    if (r->text) print_card_text(chosen.kind, out);
    if (doc) add_outcome(doc, chosen.kind, out);
    if (r->metrics) metrics_card(r->metrics, chosen.kind, out);
    r->stopped = !out.has_card;  // not even the card was reached
    return status;
}

int run_action(const command_args &args, const card_choice &choice) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
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
    renderers r{};
    r.text = !json_on;
    const char *metrics_file = choice.texts[FLAG_METRICS];
    if (metrics_file && !(r.metrics = metrics_start())) return -1;
    json_object *doc = json_on ? start_document(*chosen, all, file) : nullptr;
    r.cards = json_on && (all || !chosen->run) ? json::array() : nullptr;
    int status = act(*chosen, choice, file, &r, doc);
    if (doc && !json::write(doc)) {
        report_failure("Out of memory for the JSON document: none written\n");
        status = -1;
    }
    image_error err;
    if (r.metrics &&
        !metrics_finish(r.metrics, metrics_file, !r.stopped, seconds_since(start), &err)) {
        report_failure("%s", err.text);
        status = -1;
    }
    clear_failures(&r.failures);
    return status;
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
    char why[512];
    if (!json::start(why, sizeof why)) {
        report_failure("%s\n", why);
        return -1;
    }
    return json::write(document_head()) ? 0 : -1;
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
        "list, save, check or load",
        "image file, or folder with +all; '-' is standard input or "
        "output"};
    // A save stopped by a signal or a file-size limit leaves no temporary file.
    atomic_cleanup_on_signals();
    static family_command command;
    const family_declaration declaration{
        {types, names, descriptions, PARAM_COUNT, 1}, FLAGS, FLAG_COUNT, true};
    int version = version_asked(argc, argv, declaration);
    if (version >= 0) return finish_output(version);
    metrics_option_first(argc, argv);
    const card_choice choice = parse_family_command(argc, argv, declaration, &command);
    return finish_output(run_action(command.args, choice));
}
