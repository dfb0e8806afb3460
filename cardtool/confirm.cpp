#include "confirm.h"

#include <cstdio>

#include "args.h"

reply ask_to_continue() {
    printf("Are you sure you want to continue (y/n)? ");
    // An answer to a question nobody saw is no answer.
    if (!flush_output()) return REPLY_UNSEEN;
    int c = getchar();
    if (c == EOF) return REPLY_NONE;
    return c == 'y' || c == 'Y' ? REPLY_YES : REPLY_NO;
}
