#include "output.h"

#include "args.h"

namespace {

bool g_json;

}  // namespace

void set_json_output(bool on) { g_json = on; }
bool json_output() { return g_json; }

version_text tool_version() {
    version_text v;
    snprintf(v.text, sizeof v.text, "%u.%u.%u", APP_VERSION.major, APP_VERSION.minor,
             APP_VERSION.patch);
    return v;
}

FILE *prompt_stream() { return g_json ? stderr : stdout; }
