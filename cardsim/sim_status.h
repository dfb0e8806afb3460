// Status codes of the simulated card library. Only the simulator's own
// tests use these; the tool sees nothing but "zero or not" and the text.
#ifndef CARDSIM_SIM_STATUS_H
#define CARDSIM_SIM_STATUS_H

#include "velqor2.h"

enum : VELQOR2_STATUS {
    SIM_NO_SUCH_ID = 0x101,  // no card with that identifier
    SIM_NO_SUCH_INDEX,       // no card at that index
    SIM_INVALID_HANDLE,      // handle never given out, or closed
    SIM_BAD_LOCATION,        // location beyond the card's EEPROM
    SIM_VALUE_TOO_WIDE,      // value does not fit the card's word
    SIM_BANK_UNREADABLE,     // bank file could not be read
    SIM_BANK_MALFORMED,      // bank file could not be parsed
    SIM_BANK_UNWRITABLE,     // bank file could not be written
    SIM_FAULT,               // a fault marked in the bank
    SIM_NULL_ARGUMENT,       // an out pointer was null
    SIM_TOO_MANY_OPEN,       // the handle table is full
    SIM_NO_MEMORY,           // an allocation failed
    SIM_BANK_LOCKED,         // another process held the bank's lock too long
};

#endif
