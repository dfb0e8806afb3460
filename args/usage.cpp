// The usage screen, drawn from the record's declaration.
#include <cstdio>

#include "args_internal.h"

namespace {

const char COPYRIGHT[] = "Copyright (c) 2011-2026 Velqor Card Systems";

const char *text_or_null(const char *text) { return text ? text : "(null)"; }

void print_row(const char *option, const char *type, const char *default_text,
               const char *meaning) {
    printf("%12s  %7s  %12s  %s\n", option, type, default_text, meaning);
}

}  // namespace

void show_usage(const command_args *args) {
    printf("%s V%u.%u.%u %s\n", APP_TITLE, APP_VERSION.major, APP_VERSION.minor, APP_VERSION.patch,
           COPYRIGHT);
    printf("Usage: %s [option ...]", APP_NAME);
    for (int k = 0; k < args->param_count; k++) {
        bool required = k < args->required_count;
        printf(" %s%s%s", required ? "" : "[", text_or_null(args->param_names[k]),
               required ? "" : "]");
    }
    if (args->param_count != 0) printf("\n");
    printf("\n");
    for (int k = 0; k < args->param_count; k++)
        printf("%10s = %s\n", text_or_null(args->param_names[k]),
               text_or_null(args->param_descs[k]));
    printf("\n");
    printf("%12s  %7s  %12s  %s\n\n", "Option", "Type", "Default", "Meaning");
    for (const builtin_option &builtin : BUILTIN_OPTIONS) {
        char words[32] = "";
        size_t n = 0;
        for (const char *word : builtin.words)
            if (word && n < sizeof words)
                n += static_cast<size_t>(
                    snprintf(words + n, sizeof words - n, "%s/%s", n ? " " : "", word));
        print_row(words, builtin.missing ? type_name(ARG_STRING) : "", "", builtin.meaning);
    }
    for (int k = 0; k < args->option_count; k++) {
        const option_desc *option = &args->options[k];
        char name[17];  // names longer than the column are cut
        snprintf(name, sizeof name, "%s%s", option->type == ARG_BOOLEAN ? "-/+" : "/",
                 text_or_null(option->name));
        print_row(name, type_name(option->type), value_to_string(option),
                  text_or_null(option->description));
    }
}
