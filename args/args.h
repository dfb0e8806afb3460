// The argument module: a tool declares its options and positional
// parameters in one command_args record, and parse_command_line fills it
// from the command line, or ends the process with the usage screen
// (status 0) or a one-line error (status -1).
//
// Besides the tool's own options, every tool understands the SDK-wide
// "/h /? /help", "/sdk <path>" and "/bitdir <path>", and the environment
// variable VELQOR_SDK5.
#ifndef ARGS_ARGS_H
#define ARGS_ARGS_H

#include <cstdint>
#include <cstdio>

enum value_type : int32_t {
    ARG_FLOAT = 0,    // single
    ARG_DOUBLE = 1,   // double, converted with single precision
    ARG_INT = 2,      // signed 32-bit
    ARG_UINT = 3,     // unsigned 32-bit, decimal or "0x" hexadecimal
    ARG_HEX = 4,      // unsigned 32-bit, hexadecimal
    ARG_STRING = 5,   // owned text
    ARG_BOOLEAN = 6,  // one byte, 0 or 1
    ARG_PATH = 7,     // owned text, normalised when it came from the command line
};

// One value of any type. Only the member of the value's type is meaningful;
// declare defaults with that member, e.g. {.u = 0} for ARG_UINT.
union arg_value {
    float f;
    double d;
    int32_t i;
    uint32_t u;
    char *s;
    uint8_t b;
};
static_assert(sizeof(arg_value) == 8, "arg_value is an 8-byte slot");

struct option_desc {
    const char *name;  // the word after the prefix character, case-sensitive
    value_type type;
    const char *description;  // one line, shown by the usage screen
    arg_value default_value;
    uint8_t specified;  // set by the parser: given with its value
    arg_value value;    // set by the parser
};

struct command_args {
    // Declared by the tool.
    int option_count;
    const value_type *param_types;
    const char *const *param_names;
    const char *const *param_descs;
    int param_count;
    int required_count;
    option_desc *options;
    // Filled by the parser; the texts and the array are owned by the module
    // and live until the process ends. (The tool's two choices below come
    // after the results, so that a record declared as before keeps them off.)
    int supplied_count;
    arg_value *values;  // one per positional argument; null when none
    char *program_name;
    char *sdk_path;
    char *bitstream_dir;
    // Declared by the tool, both off unless set.
    uint8_t errors_to_stderr;  // command-line errors on standard error, not output
    uint8_t options_first;     // an option word among the positional arguments is refused
};

// The SDK-wide options that every tool understands before its own: the
// parser, the usage screen and a tool's look at its command line all read
// this table.
enum builtin_kind { BUILTIN_HELP, BUILTIN_SDK, BUILTIN_BITDIR };
struct builtin_option {
    builtin_kind kind;
    const char *words[3];  // after the prefix, as the usage screen shows them; null ends
    const char *meaning;   // the usage screen's
    const char *missing;   // the error when its value is missing; null: it takes none
};
constexpr int BUILTIN_OPTION_COUNT = 3;
extern const builtin_option BUILTIN_OPTIONS[BUILTIN_OPTION_COUNT];
// The built-in option with this word (without its prefix), or null.
const builtin_option *find_builtin(const char *word);

// Returns 0, or ends the process.
int parse_command_line(int argc, const char *const argv[], command_args *args);

// Ends the process with the too-few-parameters message (status -1) when
// fewer than count positional arguments were given: for a tool whose
// parameters depend on an earlier one.
void require_parameters(const command_args *args, int count);

// Where the module's error messages go: standard output, unless the
// record asked for standard error.
FILE *args_error_stream();

// Called first in main. The three standard streams are made sure to be
// open (a closed one gets /dev/null, so no file opened later takes its
// number and receives the output), a closed pipe gives an error rather
// than SIGPIPE, and every failed write to standard output is kept with its
// errno (EBADF when it was closed), for finish_output to name.
void watch_standard_streams();

// Writes out what standard output holds; false when this or any earlier
// write failed. Call it before waiting for input, so the question is seen.
bool flush_output();

// The exit status of a run that ends now: status, or -1 when any output was
// lost, which is then said in one line on standard error, naming the error.
int finish_output(int status);

// The identity of the tool: each tool that links the module defines these.
struct app_version {
    unsigned major;
    unsigned minor;
    unsigned patch;
};
extern const char APP_NAME[];
extern const char APP_TITLE[];
extern const app_version APP_VERSION;

#endif
