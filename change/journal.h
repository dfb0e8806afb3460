// The journal of changes, SQLite's rollback journal applied to a card:
// before the first location of a card is written, what the change is and
// what each location about to be written holds are made durable, so that a
// change cut short (a kill, a power cut, a write that fails) is found by the
// next run, which finishes it or puts back what the card held.
//
// One file a run, RUN.journal in the state folder's journal/, of lines:
//
//   sorvit journal 1 RUN
//   plan CARD index=I image=F     a run of many cards (+all load) first says
//   t LOCATION VALUE              what it will write to each of them, so that
//   planned CARD                  a recover can finish the run
//   change CARD index=I board=B bits=W time=T uid=U user=U tool=T action=A image=F
//   loc LOCATION BEFORE AFTER     hexadecimal; BEFORE "-" when it could not be read
//   ready CARD                    the entry is whole: written and flushed in one go
//   w CARD LOCATION               a location was written
//   left CARD                     a failure cut the change short: unfinished
//   done CARD OUTCOME             the change is over
//
// Texts are percent-encoded (any byte outside '!' to '~', and '%'). An
// entry without its "ready" line was never whole, so nothing was written
// after it. The run holds a record lock on its file while it lives: an
// entry without "done" is a change in progress while its run lives, and an
// unfinished change once the run is dead or has left it.
#ifndef CHANGE_JOURNAL_H
#define CHANGE_JOURNAL_H

#include <limits.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "config_area.h"
#include "safe_path.h"

struct change_entry {
    char run[48];
    uint32_t card_id;
    bool has_index;
    uint32_t index;
    int32_t board_type;
    unsigned word_bits;
    long long time;  // seconds since the epoch
    uid_t uid;
    char user[64];
    char tool[32];
    char action[16];
    char image[PATH_MAX];        // "" when the change has no image file
    location_mask locations;     // the locations the change writes
    location_mask before_known;  // of those, the ones whose value before was read
    uint32_t before[CONFIG_LOCATIONS], after[CONFIG_LOCATIONS];
    location_mask written;  // the ones written so far
    // A location past the configuration area (sorvit writes any location,
    // one at a time), as above.
    bool has_far, far_before_known, far_written;
    uint32_t far_location, far_before, far_after;
    bool left;  // its run left it unfinished ("left")
};

// How many locations the change writes, and how many it wrote.
inline unsigned change_size(const change_entry &e) { return count_bits(e.locations) + e.has_far; }
inline unsigned change_written_count(const change_entry &e) {
    return count_bits(e.written) + (e.has_far && e.far_written);
}

struct journal_writer {
    int fd;  // -1 until the run's first change
    char name[NAME_MAX + 1];
    char *plan;  // owned: the run's plan, written with its first change
    size_t plan_length;
};

// The run's plan: the card, its image and what it will write (the
// locations, after), said in the journal with the run's first change.
// false when memory runs out.
bool journal_plan(journal_writer *j, const change_entry &card);

// The run's journal, made at its first entry: each entry is flushed before
// the function returns (the first one flushes the folder too).
int journal_add(journal_writer *j, int folder, const change_entry &entry);
void journal_written(journal_writer *j, uint32_t card_id, uint32_t location);
void journal_done(journal_writer *j, uint32_t card_id, const char *outcome);
// Removes the run's journal once every change of it is over; errno.
int journal_remove(journal_writer *j, int folder);
// A change a failure cut short: unfinished from now on, though the run
// goes on.
void journal_left(journal_writer *j, uint32_t card_id);
// Leaves the run's journal, with its changes left unfinished, as a dead
// run's; removes it when they were settled meanwhile.
void journal_close(journal_writer *j, int folder);

// The unfinished changes a run has seen, by journal file: read again only
// when a file changes.
struct journal_file_seen;
struct journal_reader {
    journal_file_seen *files;
    size_t count;
    char own[NAME_MAX + 1];  // this run's journal, which is passed over: its changes are its own
    // The folder as it was when its names were last read: while it is
    // unchanged, so are they, and a run over many cards reads them once.
    struct stat folder_st;
    bool listed;
};
// The card's unfinished change, if the journal folder holds one: true with
// it in *out. Call it holding the card's lock.
bool find_unfinished(journal_reader *r, int folder, uint32_t card_id, change_entry *out);
// Closes an unfinished change of a dead run ("done"), and removes its file
// when that was the last one open.
void settle_unfinished(int folder, const change_entry &entry, const char *outcome);
// The cards that dead runs planned to change and never began, with the
// values they planned (the locations, after, image, run): into *out, owned
// (free() it). false when memory runs out.
bool planned_cards(journal_reader *r, int folder, change_entry **out, size_t *count);
// Removes the journals of dead runs that hold no unfinished change: what
// they planned and never began is finished, or undone, or stale.
void remove_settled_journals(journal_reader *r, int folder, const journal_writer &own);
// The name of the newest dead run that left its journal.
void newest_journal_run(journal_reader *r, int folder, char *out, size_t size);
void free_journal_reader(journal_reader *r);

#endif
