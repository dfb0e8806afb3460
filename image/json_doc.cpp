#include "json_doc.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef SORVIT_JSON_C_SONAME
#include <json-c/json.h>

#include "utf8.h"

namespace {

// The few operations used, found in the library once it is open.
struct json_c {
    decltype(&json_object_new_object) new_object;
    decltype(&json_object_new_array) new_array;
    decltype(&json_object_new_int64) new_int64;
    decltype(&json_object_new_string) new_string;
    decltype(&json_object_new_boolean) new_boolean;
    decltype(&json_object_object_add) object_add;
    decltype(&json_object_array_add) array_add;
    decltype(&json_object_array_length) array_length;
    decltype(&json_object_to_json_string_ext) to_string;
    decltype(&json_object_put) put;
};
json_c g_json;
bool g_out_of_memory;  // some part of the document could not be made

json_object *made(json_object *value) {
    if (!value) g_out_of_memory = true;
    return value;
}

template <typename F>
bool find(void *library, const char *name, F *slot) {
    *slot = reinterpret_cast<F>(dlsym(library, name));
    return *slot != nullptr;
}

}  // namespace

bool json::start(char *why, size_t size) {
    void *library = dlopen(SORVIT_JSON_C_SONAME, RTLD_NOW | RTLD_LOCAL);
    json_c &j = g_json;
    bool ok = library && find(library, "json_object_new_object", &j.new_object) &&
              find(library, "json_object_new_array", &j.new_array) &&
              find(library, "json_object_new_int64", &j.new_int64) &&
              find(library, "json_object_new_string", &j.new_string) &&
              find(library, "json_object_new_boolean", &j.new_boolean) &&
              find(library, "json_object_object_add", &j.object_add) &&
              find(library, "json_object_array_add", &j.array_add) &&
              find(library, "json_object_array_length", &j.array_length) &&
              find(library, "json_object_to_json_string_ext", &j.to_string) &&
              find(library, "json_object_put", &j.put);
    if (!ok) snprintf(why, size, "+json needs %s: %s", SORVIT_JSON_C_SONAME, dlerror());
    return ok;
}

json_object *json::object() { return made(g_json.new_object()); }
json_object *json::array() { return made(g_json.new_array()); }

void json::set(json_object *object, const char *key, json_object *value) {
    if (!object || g_json.object_add(object, key, value) != 0) {
        g_out_of_memory = true;
        g_json.put(value);
    }
}

void json::set_int(json_object *object, const char *key, int64_t value) {
    set(object, key, made(g_json.new_int64(value)));
}

void json::set_string(json_object *object, const char *key, const char *value) {
    // JSON is UTF-8: a byte that is not part of a character (a file name
    // can hold any) is written as U+FFFD, as decoders show it.
    const auto *in = reinterpret_cast<const unsigned char *>(value);
    const size_t length = strlen(value);
    size_t k = 0;
    while (k < length && utf8_character(in + k, length - k))
        k += utf8_character(in + k, length - k);
    if (k == length) {
        set(object, key, made(g_json.new_string(value)));
        return;
    }
    char *clean = length < SIZE_MAX / 3 ? static_cast<char *>(malloc(length * 3 + 1)) : nullptr;
    if (!clean) {
        g_out_of_memory = true;
        return;
    }
    size_t n = 0;
    for (k = 0; k < length;) {
        size_t bytes = utf8_character(in + k, length - k);
        if (bytes == 0) {
            memcpy(clean + n, "\xEF\xBF\xBD", 3);
            n += 3;
            k++;
        } else {
            memcpy(clean + n, value + k, bytes);
            n += bytes;
            k += bytes;
        }
    }
    clean[n] = '\0';
    set(object, key, made(g_json.new_string(clean)));
    free(clean);
}

void json::set_bool(json_object *object, const char *key, bool value) {
    set(object, key, made(g_json.new_boolean(value)));
}

void json::push(json_object *array, json_object *value) {
    if (!array || g_json.array_add(array, value) != 0) {
        g_out_of_memory = true;
        g_json.put(value);
    }
}

size_t json::length(json_object *array) { return array ? g_json.array_length(array) : 0; }

bool json::write(json_object *document) {
    const char *text =
        g_out_of_memory || !document
            ? nullptr
            : g_json.to_string(document, JSON_C_TO_STRING_PRETTY | JSON_C_TO_STRING_SPACED |
                                             JSON_C_TO_STRING_NOSLASHESCAPE);
    if (text) printf("%s\n", text);
    g_json.put(document);
    return text != nullptr;
}

#else  // built without json-c's header

bool json::start(char *why, size_t size) {
    snprintf(why, size, "+json is not available: sorvit-image was built without json-c");
    return false;
}
json_object *json::object() { return nullptr; }
json_object *json::array() { return nullptr; }
void json::set(json_object *, const char *, json_object *) {}
void json::set_int(json_object *, const char *, int64_t) {}
void json::set_string(json_object *, const char *, const char *) {}
void json::set_bool(json_object *, const char *, bool) {}
void json::push(json_object *, json_object *) {}
size_t json::length(json_object *) { return 0; }
bool json::write(json_object *) { return false; }

#endif
