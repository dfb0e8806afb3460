// The bank file: where it is, loading it and changing one word.
#ifndef CARDSIM_BANK_STORE_H
#define CARDSIM_BANK_STORE_H

#include "bank.h"
#include "bank_files.h"

// How long a writer waits for another writer's lock before it gives up.
constexpr unsigned BANK_LOCK_WAIT_SECONDS = 5;

// Where a loaded bank came from, for messages.
struct bank_origin {
    bank_location where;
    bool is_default;  // the built-in bank: the file does not exist yet
};

// Loads the bank as it is, without any lock and without creating anything:
// every replacement is a rename, so a reader sees a whole bank. The built-in
// default bank when the file does not exist.
bool bank_load(const bank_selection &which, sim_bank *out, bank_origin *origin, sim_error *err);

// Stores one word of one card: under the lock file "<bank>.lock", re-reads
// the bank, checks the location and value against the card as stored, and
// replaces the file atomically (temporary file, flush, rename). Creates the
// file and its folder on the first write.
bool bank_store_word(uint32_t card_id, uint32_t location, uint32_t value, sim_error *err);

#endif
