// The question before a write, and what the reply means.
#ifndef CARDTOOL_CONFIRM_H
#define CARDTOOL_CONFIRM_H

#include <cstdio>

enum reply {
    REPLY_YES,     // the reply began with 'y' or 'Y'
    REPLY_NO,      // any other reply: the user declined
    REPLY_NONE,    // no reply could be read (input ended, closed or failing)
    REPLY_UNSEEN,  // the question could not be written out: nothing was read
};

// Prints "Are you sure you want to continue (y/n)? " on the stream (standard
// output unless given), makes sure that it and everything before it reached
// the stream, and reads the reply: the first character of one line of
// standard input.
reply ask_to_continue(FILE *stream = stdout);

#endif
