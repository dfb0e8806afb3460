// The argument module's own routines, reachable by its tests.
#ifndef ARGS_ARGS_INTERNAL_H
#define ARGS_ARGS_INTERNAL_H

#include "args.h"

// Display names of the eight value types; type_name gives "?" for others.
extern const char *const type_names[8];
const char *type_name(value_type type);

// Frees the slot's text and stores a heap copy of text (null stays null;
// a failed allocation leaves the slot null).
void replace_string(char **slot, const char *text);

// In place: "/" becomes "\", surrounding white space goes, and one trailing
// "\" goes from a text longer than one character.
void normalize_path(char *text);

void reset_option(option_desc *option);
// The numeric conversions return -1 and leave the value as it was unless
// the whole text is one number that fits the type.
int set_option_value(option_desc *option, const char *text);
int set_value(arg_value *slot, value_type type, const char *text);
// A positional single (the parser's own conversion of ARG_FLOAT).
int set_single_value(arg_value *slot, const char *text);

// The option's default as text, in a static buffer that each call reuses.
const char *value_to_string(const option_desc *option);

option_desc *find_option(const command_args *args, const char *name);
void show_usage(const command_args *args);

// Set once by the parser: the record asked for errors on standard error.
extern bool g_errors_to_stderr;

[[noreturn]] void fatal_error(int code, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Ends the process. In its own file, so that a harness (the fuzzer) can
// link a replacement that returns control to it.
[[noreturn]] void args_exit(int status);

#endif
