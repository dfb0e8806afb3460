// Reading the history of changes (history.h of the change library): each
// line a JSON object, read with json-c; a line that is not one (cut short
// by a full disk, say) is passed over.
#ifndef IMAGE_HISTORY_FILE_H
#define IMAGE_HISTORY_FILE_H

#include <cstddef>
#include <cstdint>

#include "change.h"

struct json_object;

// Calls each(line, context) for every line of the history, oldest first,
// until it returns false; false when the history cannot be read (a history
// that is not there yet is an empty one).
bool read_history(change_run *run, bool (*each)(json_object *line, void *context), void *context,
                  failure_log *log);

// What a line says of its change: the card, the locations written with
// their values before (when known) and after, who, when and how; false for
// a line that is not a change.
bool change_of(json_object *line, change_entry *e, char *outcome, size_t outcome_size);

// Each card's last change that wrote something, and the run of the newest
// change of all, read once for a run that undoes.
struct history_index {
    change_entry *changes;  // owned, by card ID ascending
    size_t count;
    char newest_run[48];  // "" when the history holds no change
};
bool index_history(change_run *run, history_index *out, failure_log *log);
const change_entry *last_change_of(const history_index &index, uint32_t card_id);
void free_history_index(history_index *index);

#endif
