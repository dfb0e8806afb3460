// Fuzzes parse_command_line and every conversion behind it with arbitrary
// argument vectors: the input, split at NUL bytes, is the argument list.
// The first byte picks the declaration and whether VELQOR_SDK5 is set.
// The process exit of the parser returns here through args_exit.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "args_internal.h"

const char APP_NAME[] = "sorvit";
const char APP_TITLE[] = "SORVIT utility";
const app_version APP_VERSION = {5, 0, 0};

namespace {

jmp_buf g_exit_point;

constexpr size_t MAX_ARGS = 8192;

struct declaration {
    option_desc options[10];
    value_type types[10];
    const char *names[10];
    command_args args;
};

void declare(declaration *d, bool every_type) {
    static const option_desc TOOL[] = {
        {"card", ARG_UINT, "ID of card to use", {.u = 0}, 0, {}},
        {"index", ARG_UINT, "index of card to use", {.u = 0}, 0, {}},
        {"f", ARG_BOOLEAN, "If TRUE, don't confirm when writing", {.b = 0}, 0, {}},
        {"unlock", ARG_BOOLEAN, "If TRUE, allow write to protected locations", {.b = 0}, 0, {}},
    };
    static char default_text[] = "C:/default/";
    static const option_desc ALL[] = {
        {"fl", ARG_FLOAT, "float", {.f = 1.5f}, 0, {}},
        {"db", ARG_DOUBLE, "double", {.d = 2.5}, 0, {}},
        {"in", ARG_INT, "int", {.i = -1}, 0, {}},
        {"ui", ARG_UINT, "uint", {.u = 7}, 0, {}},
        {"hx", ARG_HEX, "hex", {.u = 255}, 0, {}},
        {"st", ARG_STRING, "string", {.s = nullptr}, 0, {}},
        {"bo", ARG_BOOLEAN, "boolean", {.b = 1}, 0, {}},
        {"pa", ARG_PATH, "path", {.s = default_text}, 0, {}},
        {"xx", static_cast<value_type>(11), "odd", {.u = 0}, 0, {}},
        {"", ARG_UINT, "empty name", {.u = 0}, 0, {}},
    };
    *d = declaration{};
    int count = every_type ? 10 : 4;
    memcpy(d->options, every_type ? ALL : TOOL, sizeof(option_desc) * static_cast<size_t>(count));
    for (int k = 0; k < 10; k++) {
        d->types[k] = static_cast<value_type>(every_type ? k : ARG_UINT);
        d->names[k] = "p";
    }
    d->args = {count,
               d->types,
               d->names,
               d->names,
               every_type ? 10 : 2,
               every_type ? 3 : 0,
               d->options,
               0,
               nullptr,
               nullptr,
               nullptr,
               nullptr};
}

// The module keeps what it stores for the life of a process; a fuzzer runs
// many parses in one, so release it here.
void release(declaration *d) {
    command_args &a = d->args;
    for (int k = 0; k < a.option_count; k++)
        if (a.options[k].type == ARG_STRING || a.options[k].type == ARG_PATH)
            free(a.options[k].value.s);
    for (int j = 0; a.values && j < a.supplied_count; j++) {
        bool text =
            j >= a.param_count || a.param_types[j] == ARG_STRING || a.param_types[j] == ARG_PATH;
        if (text) free(a.values[j].s);
    }
    free(a.values);
    free(a.program_name);
    free(a.sdk_path);
    free(a.bitstream_dir);
}

}  // namespace

void args_exit(int) { longjmp(g_exit_point, 1); }

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (!freopen("/dev/null", "w", stdout)) abort();  // usage screens and errors
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    uint8_t mode = data[0];
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    std::vector<const char *> argv{"sorvit"};
    // NUL bytes already end each argument inside the text.
    for (size_t start = 0; !text.empty() && start <= text.size() && argv.size() < MAX_ARGS;) {
        size_t end = text.find('\0', start);
        argv.push_back(text.c_str() + start);
        start = end == std::string::npos ? text.size() + 1 : end + 1;
    }
    if (mode & 2) setenv("VELQOR_SDK5", argv.back(), 1);
    else unsetenv("VELQOR_SDK5");
    static declaration d;  // static: it must survive the jump back
    declare(&d, mode & 1);
    if (setjmp(g_exit_point) == 0)
        parse_command_line(static_cast<int>(argv.size()), argv.data(), &d.args);
    fflush(stdout);
    release(&d);
    return 0;
}
