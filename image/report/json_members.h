// The members of sorvit-image's JSON documents, each named once: the JSON
// renderer writes them by these names, and the schema test reads this table
// and checks it against the schemas both ways (a name here that no schema
// defines, or a member of a schema missing here, fails it).
#ifndef IMAGE_REPORT_JSON_MEMBERS_H
#define IMAGE_REPORT_JSON_MEMBERS_H

#define SORVIT_JSON_MEMBERS(M)                \
    M(FORMAT_VERSION, "format_version")       \
    M(TOOL, "tool")                           \
    M(NAME, "name")                           \
    M(VERSION, "version")                     \
    M(ACTION, "action")                       \
    M(ALL, "all")                             \
    M(FOLDER, "folder")                       \
    M(CARDS, "cards")                         \
    M(ERROR, "error")                         \
    M(MESSAGE, "message")                     \
    M(INDEX, "index")                         \
    M(CARD, "card")                           \
    M(CARD_ID, "card_id")                     \
    M(LABEL, "label")                         \
    M(BOARD_TYPE, "board_type")               \
    M(WORD_BITS, "word_bits")                 \
    M(SUPPORTED, "supported")                 \
    M(PROTECTED, "protected")                 \
    M(FIRST, "first")                         \
    M(LAST, "last")                           \
    M(SKIPPED, "skipped")                     \
    M(FILE_NAME, "file")                      \
    M(LOCATIONS, "locations")                 \
    M(MATCHES, "matches")                     \
    M(LOCATIONS_CHECKED, "locations_checked") \
    M(DIFFERENCES, "differences")             \
    M(CHANGES, "changes")                     \
    M(LOCATION, "location")                   \
    M(IMAGE, "image")                         \
    M(BEFORE, "before")                       \
    M(AFTER, "after")                         \
    M(WRITTEN, "written")                     \
    M(VERIFIED, "verified")                   \
    M(RESULT, "result")

enum class json_member {
#define SORVIT_JSON_MEMBER_ID(id, name) id,
    SORVIT_JSON_MEMBERS(SORVIT_JSON_MEMBER_ID)
#undef SORVIT_JSON_MEMBER_ID
};

const char *json_member_name(json_member member);

#endif
