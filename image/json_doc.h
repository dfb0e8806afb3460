// The JSON document that +json puts on standard output: one object, built
// with json-c. The library is opened when +json asks for it, so that a run
// without it does not pay for loading the library.
#ifndef IMAGE_JSON_DOC_H
#define IMAGE_JSON_DOC_H

#include <cstddef>
#include <cstdint>

struct json_object;  // json-c's

namespace json {

// Opens json-c; false, with why, when it cannot be had.
bool start(char *why, size_t size);

json_object *object();
json_object *array();
// An absent value (null) is written as JSON null.
void set(json_object *object, const char *key, json_object *value);
void set_int(json_object *object, const char *key, int64_t value);
void set_string(json_object *object, const char *key, const char *value);
void set_bool(json_object *object, const char *key, bool value);
void push(json_object *array, json_object *value);
size_t length(json_object *array);

// Writes the document and a line feed to standard output, and frees it;
// false, with nothing written, when memory ran out while it was built (a
// part missing would make it say what is not so).
bool write(json_object *document);

}  // namespace json

#endif
