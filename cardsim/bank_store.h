// Writing the bank file: one word of one card at a time.
#ifndef CARDSIM_BANK_STORE_H
#define CARDSIM_BANK_STORE_H

#include "bank.h"
#include "snapshot.h"

// Stores one word of one card of the bank that held names. Under the lock
// file "<bank>.lock" it takes the bank as the file is then (the snapshot it
// already has when the file is unchanged), checks the location and value
// against the card as stored, and replaces the file whole: a temporary file,
// flushed, renamed over the bank, and the folder flushed. Creates the file
// and its folder on the first write. Afterwards the process's snapshot is
// the new bank. Call without the mutex.
bool bank_store_word(bank_snapshot *held, uint32_t card_id, uint32_t location, uint32_t value,
                     sim_error *err);

#endif
