// The bank file: where it is, its lock, loading it and changing one word.
#ifndef CARDSIM_BANK_STORE_H
#define CARDSIM_BANK_STORE_H

#include "bank.h"

// Loads the bank under a shared lock; the built-in default bank when the
// file does not exist. source receives where the bank came from, for messages.
bool bank_load(sim_bank *out, char *source, size_t source_size, sim_error *err);

// Stores one word of one card: under an exclusive lock, re-reads the bank,
// checks the location and value against the card as stored, and replaces
// the file atomically (temporary file, flush, rename). Creates the file and
// its folder on the first write.
bool bank_store_word(uint32_t card_id, uint32_t location, uint32_t value, sim_error *err);

#endif
