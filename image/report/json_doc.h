// Building a JSON document with json-c, its members named by the table of
// json_members.h. A part that memory did not allow is remembered, and a
// document missing a part is never written: it would say what is not so.
#ifndef IMAGE_REPORT_JSON_DOC_H
#define IMAGE_REPORT_JSON_DOC_H

#include <cstddef>
#include <cstdint>

#include "json_members.h"

struct json_object;  // json-c's

namespace json {

struct builder {
    bool lost;  // some part of the document could not be made
};

json_object *object(builder *b);
json_object *array(builder *b);
// An absent value (null) is written as JSON null.
void set(builder *b, json_object *object, json_member key, json_object *value);
void set_int(builder *b, json_object *object, json_member key, int64_t value);
void set_string(builder *b, json_object *object, json_member key, const char *value);
void set_bool(builder *b, json_object *object, json_member key, bool value);
// Puts value at place index of the array (the places before it stay null
// until they are filled).
void put_at(builder *b, json_object *array, size_t index, json_object *value);
size_t length(json_object *array);
// Another hold on a value, for it to be in a document too.
json_object *share(json_object *value);
// Frees a value that is in no document (null: nothing).
void release(json_object *value);

// Writes the document and a line feed to standard output, and frees it;
// false, with nothing written, when a part of it was lost.
bool write(builder *b, json_object *document);

}  // namespace json

#endif
