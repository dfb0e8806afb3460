#include "change.h"

#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atomic_file.h"
#include "cells.h"
#include "folders.h"
#include "history.h"
#include "syslog_line.h"

namespace {

void user_name(uid_t uid, char *out, size_t size) {
    char buffer[4096];
    passwd pw{}, *found = nullptr;
    if (getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found)
        snprintf(out, size, "%s", found->pw_name);
    else snprintf(out, size, "uid %lu", static_cast<unsigned long>(uid));
}

// The state folder and its journal/, made for a change, looked for only
// otherwise. false when it is not there (a reader: nothing to find).
bool reach_state(change_run *run, bool make, failure_log *log) {
    if (run->journal.folder >= 0 && (run->state_made || !make)) return true;
    if (run->state_absent && !make) return false;  // a host where nothing was ever changed
    safe_release(&run->state);
    safe_release(&run->journal);
    char why[SAFE_TEXT_MAX];
    int error = open_family_folder(family_folder::STATE, "", make, &run->state, why, sizeof why);
    if (!error)
        error = open_family_folder(family_folder::STATE, "journal", make, &run->journal, why,
                                   sizeof why, &run->state);
    if (error && (make || error != ENOENT))
        log_failure(log, "Cannot %s the journal of changes: %s\n", make ? "keep" : "read", why);
    run->state_made = !error && make;
    run->state_absent = error == ENOENT && !make;
    return !error;
}

}  // namespace

int state_folder(change_run *run, bool make, failure_log *log) {
    return reach_state(run, make, log) ? run->state.folder : -1;
}

void start_change_run(change_run *run, const char *tool, const char *action) {
    run->tool = tool;
    run->action = action;
    snprintf(run->who, sizeof run->who, "%s %s", tool, action);
    run->runtime.folder = run->state.folder = run->journal.folder = -1;
    run->writer.fd = -1;
    run->history_fd = -1;
    run->uid = geteuid();
}

namespace {

// The run's name, who and where: asked of the system (the time zone, the
// user database) only by a run that changes a card. Names sort as the runs
// began to change cards (the newest run is the one +all undo takes back):
// two of one second by their nanoseconds, not by their process numbers,
// which do not sort as text.
void identify(change_run *run) {
    if (run->user[0]) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const time_t seconds = now.tv_sec;
    struct tm utc;
    char when[24] = "0";
    if (gmtime_r(&seconds, &utc)) strftime(when, sizeof when, "%Y%m%dT%H%M%S", &utc);
    snprintf(run->run, sizeof run->run, "%s.%09ldZ-%ld", when, static_cast<long>(now.tv_nsec),
             static_cast<long>(getpid()));
    user_name(run->uid, run->user, sizeof run->user);
    if (gethostname(run->host, sizeof run->host - 1) != 0)
        snprintf(run->host, sizeof run->host, "?");
}

}  // namespace

int lock_card_for(change_run *run, uint32_t card_id, lock_mode mode, card_lock *lock,
                  failure_log *log) {
    *lock = card_lock{-1, card_id};
    if (run->runtime.folder < 0) {
        char why[SAFE_TEXT_MAX];
        if (open_family_folder(family_folder::RUNTIME, "", true, &run->runtime, why, sizeof why)) {
            log_failure(log, "Cannot lock card %s: %s\n", label_of(card_id).text, why);
            return -1;
        }
    }
    return lock_card(run->runtime, card_id, mode, run->who, lock, log);
}

bool card_unfinished(change_run *run, uint32_t card_id, change_entry *out) {
    failure_log ignored{};
    bool reachable = reach_state(run, false, &ignored);
    clear_failures(&ignored);
    return reachable && find_unfinished(&run->reader, run->journal.folder, card_id, out);
}

bool plan_change(change_run *run, const change_entry &card) {
    return journal_plan(&run->writer, card);
}

bool planned_changes(change_run *run, change_entry **out, size_t *count) {
    failure_log ignored{};
    *out = nullptr;
    *count = 0;
    bool reachable = reach_state(run, false, &ignored);
    clear_failures(&ignored);
    return !reachable || planned_cards(&run->reader, run->journal.folder, out, count);
}

void newest_unfinished_run(change_run *run, char *out, size_t size) {
    failure_log ignored{};
    out[0] = '\0';
    if (reach_state(run, false, &ignored))
        newest_journal_run(&run->reader, run->journal.folder, out, size);
    clear_failures(&ignored);
}

void describe_unfinished(const change_entry &e, char *out, size_t size) {
    const card_label card = label_of(e.card_id);
    const unsigned written = change_written_count(e), total = change_size(e);
    snprintf(out, size,
             "Card %s has an unfinished change: %s%s%s by %s at %s, %u of %u location%s written; "
             "`sorvit-image /card %lu recover` finishes it, `sorvit-image /card %lu undo` "
             "restores what the card held",
             card.text, e.action, e.image[0] ? " of " : "", e.image, e.user,
             readable_time(e.time).text, written, total, total == 1 ? "" : "s",
             static_cast<unsigned long>(e.card_id), static_cast<unsigned long>(e.card_id));
}

void new_change(change_run *run, change_entry *e, uint32_t card_id, int32_t board_type,
                unsigned word_bits, const char *image) {
    identify(run);
    *e = change_entry{};
    snprintf(e->run, sizeof e->run, "%s", run->run);
    e->card_id = card_id;
    e->board_type = board_type;
    e->word_bits = word_bits;
    e->time = static_cast<long long>(time(nullptr));
    e->uid = run->uid;
    snprintf(e->user, sizeof e->user, "%s", run->user);
    snprintf(e->tool, sizeof e->tool, "%s", run->tool);
    snprintf(e->action, sizeof e->action, "%s", run->action);
    snprintf(e->image, sizeof e->image, "%s", image ? image : "");
}

int begin_change(change_run *run, const change_entry &e, failure_log *log) {
    if (!reach_state(run, true, log)) return -1;
    int error = journal_add(&run->writer, run->journal.folder, e);
    snprintf(run->reader.own, sizeof run->reader.own, "%s", run->writer.name);
    if (error == 0) return 0;
    log_failure(log, "Cannot journal the change of card %s in %s: %s: nothing written\n",
                label_of(e.card_id).text, run->journal.path, strerror(error));
    return -1;
}

void change_written(change_run *run, change_entry *e, uint32_t location) {
    if (location < CONFIG_LOCATIONS) e->written |= bit(location);
    else e->far_written = true;
    journal_written(&run->writer, e->card_id, location);
}

namespace {

// The change, in one line of the system log.
void log_change(const change_run *run, const change_entry &e, const char *outcome) {
    char message[1024];
    const unsigned count = change_written_count(e);
    int n =
        snprintf(message, sizeof message, "%s (uid %lu) %s card %s: %s%s%s, %u location%s:", e.user,
                 static_cast<unsigned long>(e.uid), e.tool, label_of(e.card_id).text, e.action,
                 e.image[0] ? " of " : "", e.image, count, count == 1 ? "" : "s");
    const auto more = [&](uint32_t loc, uint32_t value) {
        if (n > 0 && static_cast<size_t>(n) < sizeof message)
            n += snprintf(message + n, sizeof message - static_cast<size_t>(n), " 0x%02lX=0x%lX",
                          static_cast<unsigned long>(loc), static_cast<unsigned long>(value));
    };
    for (uint32_t loc = 0; loc < CONFIG_LOCATIONS; loc++)
        if (e.written & bit(loc)) more(loc, e.after[loc]);
    if (e.has_far && e.far_written) more(e.far_location, e.far_after);
    if (n > 0 && static_cast<size_t>(n) < sizeof message)
        snprintf(message + n, sizeof message - static_cast<size_t>(n), "; %s", outcome);
    syslog_notice(run->tool, message);
}

void record(change_run *run, const change_entry &e, const char *outcome) {
    identify(run);
    char *line = history_line(e, outcome, run->host);
    if (line && run->state.folder >= 0)
        (void)history_append(run->state.folder, line, &run->history_fd);
    free(line);
    log_change(run, e, outcome);
}

}  // namespace

void end_change(change_run *run, const change_entry &e, const char *outcome) {
    // The history first: a run cut between the two leaves a change that
    // undo still finds in the journal, never one it can find nowhere.
    if (change_written_count(e)) record(run, e, outcome);
    journal_done(&run->writer, e.card_id, outcome);
}

void leave_unfinished(change_run *run, const change_entry &e) {
    journal_left(&run->writer, e.card_id);
    run->left_unfinished++;
}

void close_plan(change_run *run, const change_entry &plan) {
    failure_log ignored{};
    if (reach_state(run, true, &ignored)) settle_unfinished(run->journal.folder, plan, "finished");
    clear_failures(&ignored);
}

void tidy_journals(change_run *run) {
    failure_log ignored{};
    if (reach_state(run, false, &ignored))
        remove_settled_journals(&run->reader, run->journal.folder, run->writer);
    clear_failures(&ignored);
}

void settle_change(change_run *run, const change_entry &e) {
    failure_log ignored{};
    if (reach_state(run, true, &ignored)) {
        settle_unfinished(run->journal.folder, e, "settled");
        if (change_written_count(e)) record(run, e, "interrupted");
    }
    clear_failures(&ignored);
}

int finish_change_run(change_run *run, failure_log *log) {
    int error = history_flush(&run->history_fd);
    if (error)
        log_failure(log, "Cannot flush the history of changes in %s: %s\n", run->state.path,
                    strerror(error));
    // A journal with a change left unfinished stays, for the next run to
    // find: closing it releases its lock, as a run that died would.
    int removed = 0;
    if (run->left_unfinished) journal_close(&run->writer, run->journal.folder);
    else if (run->journal.folder >= 0) removed = journal_remove(&run->writer, run->journal.folder);
    if (removed)
        log_failure(log, "Cannot remove the journal of changes in %s: %s\n", run->journal.path,
                    strerror(removed));
    free(run->writer.plan);  // a plan without a change: nothing was written
    run->writer.plan = nullptr;
    free_journal_reader(&run->reader);
    safe_release(&run->journal);
    safe_release(&run->state);
    safe_release(&run->runtime);
    return error || removed ? -1 : 0;
}
