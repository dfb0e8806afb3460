#include "json_doc.h"

#include <json-c/json.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utf8.h"

namespace {

json_object *made(json::builder *b, json_object *value) {
    if (!value) b->lost = true;
    return value;
}

// JSON is UTF-8: a byte that is not part of a character (a file name can
// hold any) is written as U+FFFD, as decoders show it. Null when memory
// runs out.
json_object *clean_string(const char *value) {
    const auto *in = reinterpret_cast<const unsigned char *>(value);
    const size_t length = strlen(value);
    size_t k = 0;
    while (k < length && utf8_character(in + k, length - k))
        k += utf8_character(in + k, length - k);
    if (k == length) return json_object_new_string(value);
    char *clean = length < SIZE_MAX / 3 ? static_cast<char *>(malloc(length * 3 + 1)) : nullptr;
    if (!clean) return nullptr;
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
    json_object *string = json_object_new_string(clean);
    free(clean);
    return string;
}

}  // namespace

json_object *json::object(builder *b) { return made(b, json_object_new_object()); }
json_object *json::array(builder *b) { return made(b, json_object_new_array()); }

void json::set(builder *b, json_object *object, json_member key, json_object *value) {
    if (!object || json_object_object_add(object, json_member_name(key), value) != 0) {
        b->lost = true;
        json_object_put(value);
    }
}

void json::set_int(builder *b, json_object *object, json_member key, int64_t value) {
    set(b, object, key, made(b, json_object_new_int64(value)));
}

void json::set_string(builder *b, json_object *object, json_member key, const char *value) {
    set(b, object, key, made(b, clean_string(value)));
}

void json::set_bool(builder *b, json_object *object, json_member key, bool value) {
    set(b, object, key, made(b, json_object_new_boolean(value ? 1 : 0)));
}

void json::put_at(builder *b, json_object *array, size_t index, json_object *value) {
    if (!array || json_object_array_put_idx(array, index, value) != 0) {
        b->lost = true;
        json_object_put(value);
    }
}

void json::release(json_object *value) { json_object_put(value); }
json_object *json::share(json_object *value) { return json_object_get(value); }

size_t json::length(json_object *array) { return array ? json_object_array_length(array) : 0; }

bool json::write(builder *b, json_object *document) {
    const char *text = b->lost || !document
                           ? nullptr
                           : json_object_to_json_string_ext(
                                 document, JSON_C_TO_STRING_PRETTY | JSON_C_TO_STRING_SPACED |
                                               JSON_C_TO_STRING_NOSLASHESCAPE);
    if (text) printf("%s\n", text);
    json_object_put(document);
    return text != nullptr;
}
