// A card's writes are not cut short by a signal that can wait: while a
// change writes and reads back its card, SIGINT, SIGTERM and SIGHUP (a
// dropped connection) are held, and take effect once the card is whole.
// Only what nothing can hold (SIGKILL, a power cut) leaves a change
// unfinished, for the journal to settle.
#ifndef CHANGE_SIGNALS_H
#define CHANGE_SIGNALS_H

#include <signal.h>

struct held_signals {
    sigset_t before;
};

void hold_signals(held_signals *held);
void release_signals(const held_signals *held);

#endif
