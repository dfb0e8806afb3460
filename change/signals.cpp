#include "signals.h"

void hold_signals(held_signals *held) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, &held->before);
}

void release_signals(const held_signals *held) { sigprocmask(SIG_SETMASK, &held->before, nullptr); }
