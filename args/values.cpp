// Typed values: every conversion between text and arg_value.
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "args_internal.h"
#include "number.h"

const char *const type_names[8] = {"float", "float",  "int",     "uint",
                                   "hex",   "string", "boolean", "path"};

const char *type_name(value_type type) { return type >= 0 && type < 8 ? type_names[type] : "?"; }

namespace {

// Slots are read and written over the width of their type only.
template <typename T>
T slot_read(const arg_value &slot) {
    T value;
    memcpy(&value, &slot, sizeof value);
    return value;
}
template <typename T>
void slot_write(arg_value *slot, T value) {
    memcpy(slot, &value, sizeof value);
}

void slot_replace_text(arg_value *slot, const char *text, bool is_path) {
    char *stored = slot_read<char *>(*slot);
    replace_string(&stored, text);
    if (is_path && stored) normalize_path(stored);
    slot_write(slot, stored);
}

// Numbers are taken only when the whole text is one: optional white space,
// the number, optional white space. A typo must never become a value.
bool only_space_left(const char *s) { return *skip_blanks(s) == '\0'; }

// uint: hexadecimal after a leading "0x" (or "0X" where allowed), with no
// sign; otherwise decimal, where a minus gives the 32-bit two's complement.
bool scan_uint(arg_value *slot, const char *text, bool upper_x) {
    number_read r;
    unsigned flags = NUMBER_BLANKS | NUMBER_PREFIX | NUMBER_SIGN | (upper_x ? NUMBER_UPPER_X : 0);
    if (!read_number(text, flags, &r)) return false;
    slot_write(slot, r.value);
    return true;
}

// hex, and int (decimal, -2^31 to 2^31 - 1): both keep the 32 bits.
bool scan_signed(arg_value *slot, const char *text, unsigned base, bool int_range) {
    number_read r;
    unsigned flags =
        NUMBER_BLANKS | NUMBER_SIGN | (base == 16 ? NUMBER_HEX | NUMBER_SIGNED_HEX : 0);
    if (!read_number(text, flags, &r)) return false;
    if (int_range && !r.negative && r.value > 0x7FFFFFFFu) return false;  // '-' stops at -2^31
    slot_write(slot, r.value);
    return true;
}

// What the single-precision conversion reads; a magnitude beyond the
// single's range is refused, a tiny one becomes zero or subnormal.
bool scan_single(arg_value *slot, const char *text, bool widen) {
    const char *start = skip_blanks(text);
    char *end;
    errno = 0;
    float value = strtof(start, &end);
    if (end == start || !only_space_left(end)) return false;
    if (errno == ERANGE && std::isinf(value)) return false;
    if (widen) slot_write(slot, static_cast<double>(value));
    else slot_write(slot, value);
    return true;
}

bool equals_lowered(const char *text, const char *lower) {
    for (; *text && *lower; text++, lower++)
        if ((*text >= 'A' && *text <= 'Z' ? *text - 'A' + 'a' : *text) != *lower) return false;
    return *text == *lower;
}

enum class source { OPTION, PARAMETER };

// Every conversion of the module. The two paths differ in two visible ways:
// a uint option takes only a lower-case "0x" while a parameter takes "0X"
// too, and a boolean option is set by its prefix while a boolean parameter
// is spelled "true" or "false".
int convert(arg_value *slot, value_type type, const char *text, source from) {
    switch (type) {
    case ARG_FLOAT:
        if (from == source::PARAMETER) break;  // the parser scans these itself
        return scan_single(slot, text, false) ? 0 : -1;
    case ARG_DOUBLE:
        return scan_single(slot, text, true) ? 0 : -1;
    case ARG_INT:
        return scan_signed(slot, text, 10, true) ? 0 : -1;
    case ARG_UINT:
        return scan_uint(slot, text, from == source::PARAMETER) ? 0 : -1;
    case ARG_HEX:
        return scan_signed(slot, text, 16, false) ? 0 : -1;
    case ARG_STRING:
    case ARG_PATH:
        slot_replace_text(slot, text, type == ARG_PATH);
        return 0;
    case ARG_BOOLEAN:
        if (from == source::OPTION) return 0;
        if (equals_lowered(text, "true")) slot_write(slot, uint8_t{1});
        else if (equals_lowered(text, "false")) slot_write(slot, uint8_t{0});
        else return -1;
        return 0;
    }
    if (from == source::OPTION) return 0;
    fprintf(args_error_stream(), "*** internal error in args:set_value()\n");
    return -1;
}

}  // namespace

void replace_string(char **slot, const char *text) {
    free(*slot);
    *slot = nullptr;
    if (!text) return;
    *slot = strdup(text);  // its length plus one byte; null when that cannot be had
}

void normalize_path(char *text) {
    for (char *c = text; *c; c++)
        if (*c == '/') *c = '\\';
    size_t start = 0;
    while (is_blank(text[start])) start++;
    size_t length = strlen(text + start);
    memmove(text, text + start, length + 1);
    while (length > 0 && is_blank(text[length - 1])) text[--length] = '\0';
    if (length > 1 && text[length - 1] == '\\') text[length - 1] = '\0';
}

void reset_option(option_desc *option) {
    option->specified = 0;
    const arg_value &from = option->default_value;
    arg_value *to = &option->value;
    switch (option->type) {
    case ARG_FLOAT:
    case ARG_INT:
    case ARG_UINT:
    case ARG_HEX:
        slot_write(to, slot_read<uint32_t>(from));
        break;
    case ARG_DOUBLE:
        slot_write(to, slot_read<double>(from));
        break;
    case ARG_BOOLEAN:
        slot_write(to, slot_read<uint8_t>(from));
        break;
    case ARG_STRING:
    case ARG_PATH: {
        // The row comes straight from the tool's declaration: nothing to free.
        char *copy = nullptr;
        replace_string(&copy, slot_read<char *>(from));
        slot_write(to, copy);
        break;
    }
    }
}

int set_option_value(option_desc *option, const char *text) {
    option->specified = 1;
    return convert(&option->value, option->type, text, source::OPTION);
}

int set_single_value(arg_value *slot, const char *text) {
    return scan_single(slot, text, false) ? 0 : -1;
}

int set_value(arg_value *slot, value_type type, const char *text) {
    return convert(slot, type, text, source::PARAMETER);
}

const char *value_to_string(const option_desc *option) {
    static char buffer[128];
    const arg_value &v = option->default_value;
    buffer[0] = '\0';
    switch (option->type) {
    case ARG_FLOAT:
        snprintf(buffer, sizeof buffer, "%f", static_cast<double>(slot_read<float>(v)));
        break;
    case ARG_DOUBLE:
        snprintf(buffer, sizeof buffer, "%lf", slot_read<double>(v));
        break;
    case ARG_INT:
        snprintf(buffer, sizeof buffer, "%ld", static_cast<long>(slot_read<int32_t>(v)));
        break;
    case ARG_UINT:
        snprintf(buffer, sizeof buffer, "%lu", static_cast<unsigned long>(slot_read<uint32_t>(v)));
        break;
    case ARG_HEX:
        snprintf(buffer, sizeof buffer, "0x%lx",
                 static_cast<unsigned long>(slot_read<uint32_t>(v)));
        break;
    case ARG_STRING:
    case ARG_PATH: {
        const char *text = slot_read<const char *>(v);
        snprintf(buffer, sizeof buffer, "%s", text ? text : "(null)");
        break;
    }
    case ARG_BOOLEAN:
        snprintf(buffer, sizeof buffer, "%s", slot_read<uint8_t>(v) ? "TRUE" : "FALSE");
        break;
    }
    return buffer;
}

option_desc *find_option(const command_args *args, const char *name) {
    for (int i = 0; i < args->option_count; i++) {
        option_desc *option = &args->options[i];
        if (option->name && strcmp(option->name, name) == 0) return option;
    }
    return nullptr;
}

void fatal_error(int code, const char *format, ...) {
    char message[1024];  // longer messages are cut to 1023 characters
    va_list ap;
    va_start(ap, format);
    if (vsnprintf(message, sizeof message, format, ap) < 0) message[0] = '\0';
    va_end(ap);
    fprintf(args_error_stream(), "%s", message);
    args_exit(code);
}
