// A change to a card is one unit: the card's lock held from the read that
// decides what to write through the final read back (card_lock.h), the
// change journaled before its first write (journal.h), and recorded in the
// history (history.h) and the system log once it is over. A run of a tool
// keeps its changes in one change_run; the folders are reached when first
// needed, and a run that only reads never makes one.
#ifndef CHANGE_CHANGE_H
#define CHANGE_CHANGE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "card_lock.h"
#include "journal.h"
#include "report.h"
#include "safe_path.h"

struct change_run {
    const char *tool;                    // "sorvit-image"
    const char *action;                  // "load"
    char who[48];                        // "sorvit-image load": how a waiter is told of this run
    char run[48];                        // the run's name, from its first change and its process
    safe_place runtime, state, journal;  // each reached once; folder -1 until then
    bool state_made;                     // the state folder was made, not only looked for
    bool state_absent;                   // looked for to read, and not there: not looked for again
    journal_writer writer;
    journal_reader reader;
    int history_fd;            // the history last appended to, flushed at the end
    unsigned left_unfinished;  // changes of this run left unfinished: its journal stays
    char host[256];
    uid_t uid;
    char user[64];
};

// run starts zeroed (value-initialized, or static): it is large, and most
// of it is never written.
void start_change_run(change_run *run, const char *tool, const char *action);

// The state folder's descriptor, made when make is set; -1 when it is not
// there (reported, and kept in log, unless only not made yet).
int state_folder(change_run *run, bool make, failure_log *log);

// The card's lock: exclusive for a change, shared for a read that must not
// see half a change. 0, or -1 with the failure reported and kept in log.
int lock_card_for(change_run *run, uint32_t card_id, lock_mode mode, card_lock *lock,
                  failure_log *log);

// The card's unfinished change: true with it. Reliable when the card's lock
// is held (no live run changes it then).
bool card_unfinished(change_run *run, uint32_t card_id, change_entry *out);
// A run of many cards says, before its first change, what it will write to
// each card (the card's locations, after, image), so that a recover can
// finish the run. false when memory runs out.
bool plan_change(change_run *run, const change_entry &card);
// The cards that dead runs planned and never began: *out owned (free() it).
bool planned_changes(change_run *run, change_entry **out, size_t *count);
// A planned card that a recover changed: no longer planned.
void close_plan(change_run *run, const change_entry &plan);
// After +all recover or undo: the journals of dead runs that hold no
// unfinished change any more go.
void tidy_journals(change_run *run);

// The newest dead run that left its journal (an unfinished change, or a
// plan it never began), into out ("" when none).
void newest_unfinished_run(change_run *run, char *out, size_t size);
// "Card N(0xN) has an unfinished change: ..., and the two ways out.
void describe_unfinished(const change_entry &entry, char *out, size_t size);

// A change of the card by this run; the caller adds each location, its
// value before (when it was read) and after.
void new_change(change_run *run, change_entry *entry, uint32_t card_id, int32_t board_type,
                unsigned word_bits, const char *image);
// Makes the change durable before its first write. 0, or -1 with the
// failure reported and kept in log: nothing may be written then.
int begin_change(change_run *run, const change_entry &entry, failure_log *log);
void change_written(change_run *run, change_entry *entry, uint32_t location);
// The change is over: closed in the journal, a line in the history and in
// the system log.
void end_change(change_run *run, const change_entry &entry, const char *outcome);
// A change that a failure cut short after its first write: it stays in the
// journal, unfinished, when the run ends, for recover or undo to settle.
void leave_unfinished(change_run *run, const change_entry &entry);
// An unfinished change of a dead run, which recover or undo settled: closed
// in its journal, and in the history as interrupted.
void settle_change(change_run *run, const change_entry &entry);

// The run's end: the history flushed, the journal removed. 0, or -1 with
// the failure reported and kept in log.
int finish_change_run(change_run *run, failure_log *log);

#endif
