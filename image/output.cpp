#include "output.h"

#include <cstdarg>

namespace {

bool g_json;

}  // namespace

void set_json_output(bool on) { g_json = on; }
bool json_output() { return g_json; }

void result_printf(const char *format, ...) {
    if (g_json) return;
    va_list ap;
    va_start(ap, format);
    vprintf(format, ap);
    va_end(ap);
}

FILE *prompt_stream() { return g_json ? stderr : stdout; }
