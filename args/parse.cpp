// parse_command_line: options first, then positional arguments.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "args_internal.h"

namespace {

bool is_prefix(char c) { return c == '-' || c == '/' || c == '+'; }

// A built-in option at argv[i]; returns how many arguments it took.
int parse_builtin(int argc, const char *const argv[], int i, const builtin_option &builtin,
                  command_args *args) {
    if (builtin.kind == BUILTIN_HELP) {
        show_usage(args);
        args_exit(0);
    }
    if (i + 1 >= argc) fatal_error(-1, "%s", builtin.missing);
    char **slot = builtin.kind == BUILTIN_SDK ? &args->sdk_path : &args->bitstream_dir;
    replace_string(slot, argv[i + 1]);
    if (*slot) normalize_path(*slot);
    return 2;
}

// Reads one option at argv[i]; returns how many arguments it took.
int parse_option(int argc, const char *const argv[], int i, command_args *args) {
    const char *arg = argv[i];
    const char *word = arg + 1;
    bool has_next = i + 1 < argc;
    if (const builtin_option *builtin = find_builtin(word))
        return parse_builtin(argc, argv, i, *builtin, args);
    option_desc *option = find_option(args, word);
    if (!option) fatal_error(-1, "Unknown option: %s\n", arg);
    if (option->type != ARG_BOOLEAN) {
        if (!has_next)
            fatal_error(-1, "%s option requires parameter: %s\n", arg,
                        option->description ? option->description : "(null)");
        if (set_option_value(option, argv[i + 1]) != 0)
            fatal_error(-1, "Value of %s option %s is invalid: %s\n", type_name(option->type), arg,
                        argv[i + 1]);
        return 2;
    }
    if (arg[0] == '/')
        fatal_error(-1, "Boolean option %s should be specified as -%s or +%s\n", option->name,
                    option->name, option->name);
    uint8_t on = arg[0] == '+';
    memcpy(&option->value, &on, sizeof on);
    return 1;
}

// Whether text would be an option, had it come before the first positional
// argument: a prefix, then a built-in word or the name of an option.
bool is_option_word(const command_args *args, const char *text) {
    if (!is_prefix(text[0])) return false;
    const char *word = text + 1;
    return find_builtin(word) || find_option(args, word);
}

void store_positional(const char *const argv[], int first, command_args *args) {
    // An option typed after the numbers would otherwise be taken as one, or
    // dropped, and the command run without it.
    for (int j = 0; args->options_first && j < args->supplied_count; j++)
        if (is_option_word(args, argv[first + j]))
            fatal_error(-1, "Option %s must come before the %s\n", argv[first + j],
                        args->param_count > 0 && args->param_names[0] ? args->param_names[0]
                                                                      : "parameters");
    args->values = static_cast<arg_value *>(
        calloc(static_cast<size_t>(args->supplied_count), sizeof(arg_value)));
    if (!args->values) fatal_error(-1, "parse_command_line(): failed to allocate 'values'\n");
    for (int j = 0; j < args->supplied_count; j++) {
        const char *text = argv[first + j];
        arg_value *slot = &args->values[j];
        if (j >= args->param_count) {
            char *copy = nullptr;
            replace_string(&copy, text);
            memcpy(slot, &copy, sizeof copy);
            continue;
        }
        value_type type = args->param_types[j];
        int rc = type == ARG_FLOAT ? set_single_value(slot, text) : set_value(slot, type, text);
        if (rc != 0) {
            fatal_error(-1, "Value of %s parameter %d is invalid: %s\n", type_name(type), j + 1,
                        text);
        }
    }
}

// "<sdk>\bit", unless a bitstream directory was given.
void derive_bitstream_dir(command_args *args) {
    if (args->bitstream_dir || !args->sdk_path) return;
    size_t size = strlen(args->sdk_path) + 5;
    char *path = static_cast<char *>(malloc(size));
    if (!path) fatal_error(-1, "parse_command_line(): failed to allocate 'pBitpathStr'\n");
    snprintf(path, size, "%s\\bit", args->sdk_path);
    replace_string(&args->bitstream_dir, path);
    free(path);
}

}  // namespace

const builtin_option BUILTIN_OPTIONS[BUILTIN_OPTION_COUNT] = {
    {BUILTIN_HELP, {"h", "?", "help"}, "Show this help", nullptr},
    {BUILTIN_SDK,
     {"sdk"},
     "Specify base directory of VELQOR SDK",
     "/sdk option requires parameter: path to VELQOR SDK root\n"},
    {BUILTIN_BITDIR,
     {"bitdir"},
     "Specify bitstream directory",
     "/bitdir option requires parameter: path to bitstream directory\n"},
};

const builtin_option *find_builtin(const char *word) {
    for (const builtin_option &builtin : BUILTIN_OPTIONS)
        for (const char *known : builtin.words)
            if (known && strcmp(word, known) == 0) return &builtin;
    return nullptr;
}

int parse_command_line(int argc, const char *const argv[], command_args *args) {
    if (!args)
        fatal_error(-1, "parse_command_line(): argument 'args' is NULL (must not be NULL)\n");
    if (argc < 1 || !argv) argc = 1;  // never delivered by the platform: read no arguments
    g_errors_to_stderr = args->errors_to_stderr != 0;
    args->program_name = nullptr;
    args->sdk_path = nullptr;
    args->bitstream_dir = nullptr;
    replace_string(&args->program_name, APP_NAME);
    for (int k = 0; k < args->option_count; k++) reset_option(&args->options[k]);
    if (const char *sdk = getenv("VELQOR_SDK5")) replace_string(&args->sdk_path, sdk);

    int i = 1;
    while (i < argc && is_prefix(argv[i][0])) i += parse_option(argc, argv, i, args);

    args->supplied_count = argc - i;
    args->values = nullptr;
    if (args->supplied_count > 0) store_positional(argv, i, args);
    require_parameters(args, args->required_count);
    derive_bitstream_dir(args);
    return 0;
}

void require_parameters(const command_args *args, int count) {
    if (args->supplied_count >= count) return;
    fprintf(args_error_stream(), "Too few parameters supplied. Use %s /? to get help.\n",
            args->program_name ? args->program_name : APP_NAME);
    args_exit(-1);
}
