// Typed values: every conversion between text and arg_value.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "args_internal.h"

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

// The numeric scans keep the low 32 bits of what the platform's 64-bit long
// conversion reads (which saturates beyond 64 bits). A text without a number
// leaves the slot as it was.
void scan_single(arg_value *slot, const char *text, bool widen) {
    char *end;
    float value = strtof(text, &end);
    if (end == text) return;
    if (widen) slot_write(slot, static_cast<double>(value));
    else slot_write(slot, value);
}

void scan_unsigned(arg_value *slot, const char *text, int base) {
    char *end;
    unsigned long value = strtoul(text, &end, base);
    if (end != text) slot_write(slot, static_cast<uint32_t>(value));
}

void scan_signed(arg_value *slot, const char *text) {
    char *end;
    long value = strtol(text, &end, 10);
    if (end != text) slot_write(slot, static_cast<int32_t>(static_cast<uint32_t>(value)));
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
        scan_single(slot, text, false);
        return 0;
    case ARG_DOUBLE:
        scan_single(slot, text, true);
        return 0;
    case ARG_INT:
        scan_signed(slot, text);
        return 0;
    case ARG_UINT: {
        bool hex =
            text[0] == '0' && (text[1] == 'x' || (from == source::PARAMETER && text[1] == 'X'));
        if (hex) scan_unsigned(slot, text + 2, 16);
        else scan_unsigned(slot, text, 10);
        return 0;
    }
    case ARG_HEX:
        scan_unsigned(slot, text, 16);
        return 0;
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
    printf("*** internal error in args:set_value()\n");
    return -1;
}

}  // namespace

void replace_string(char **slot, const char *text) {
    free(*slot);
    *slot = nullptr;
    if (!text) return;
    size_t size = strlen(text) + 1;
    char *copy = static_cast<char *>(malloc(size));
    if (copy) *slot = static_cast<char *>(memcpy(copy, text, size));
}

void normalize_path(char *text) {
    for (char *c = text; *c; c++)
        if (*c == '/') *c = '\\';
    size_t start = 0;
    while (isspace(static_cast<unsigned char>(text[start]))) start++;
    size_t length = strlen(text + start);
    memmove(text, text + start, length + 1);
    while (length > 0 && isspace(static_cast<unsigned char>(text[length - 1])))
        text[--length] = '\0';
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

void set_option_value(option_desc *option, const char *text) {
    convert(&option->value, option->type, text, source::OPTION);
    option->specified = 1;
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
    printf("%s", message);
    args_exit(code);
}
