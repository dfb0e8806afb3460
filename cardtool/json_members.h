// The members of the family's JSON, each named once: sorvit-image's
// documents and the lines of the history of changes are written by these
// names, and the schema test reads this table and checks it against the
// schemas both ways (a name here that no schema defines, or a member of a
// schema missing here, fails it).
#ifndef CARDTOOL_JSON_MEMBERS_H
#define CARDTOOL_JSON_MEMBERS_H

#include <cstddef>

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
    M(RESULT, "result")                       \
    M(UNFINISHED_CHANGE, "unfinished_change") \
    M(TIME, "time")                           \
    M(UID, "uid")                             \
    M(USER, "user")                           \
    M(HOST, "host")                           \
    M(RUN, "run")                             \
    M(OUTCOME, "outcome")                     \
    M(LOCATIONS_WRITTEN, "locations_written")

enum class json_member {
#define SORVIT_JSON_MEMBER_ID(id, name) id,
    SORVIT_JSON_MEMBERS(SORVIT_JSON_MEMBER_ID)
#undef SORVIT_JSON_MEMBER_ID
};

inline const char *json_member_name(json_member member) {
    static const char *const NAMES[] = {
#define SORVIT_JSON_MEMBER_NAME(id, name) name,
        SORVIT_JSON_MEMBERS(SORVIT_JSON_MEMBER_NAME)
#undef SORVIT_JSON_MEMBER_NAME
    };
    return NAMES[static_cast<size_t>(member)];
}

#endif
