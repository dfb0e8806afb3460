/* What the floors do with the family's state and runtime folders, as the
 * tools must: look for journals of unfinished changes, and hold a card's
 * lock (a record lock on card-ID.lock, naming its holder) while reading it. */
#ifndef STATE_FLOOR_H
#define STATE_FLOOR_H

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* The names in the state folder's journal folder, counted. */
static unsigned floor_journals(void) {
    const char *state = getenv("SORVIT_STATE_DIR");
    char path[4096];
    snprintf(path, sizeof path, "%s/journal", state ? state : "/var/lib/sorvit");
    DIR *d = opendir(path);
    unsigned count = 0;
    if (!d) return 0;
    while (readdir(d)) count++;
    closedir(d);
    return count;
}

/* A shared lock on the card, as a reader takes it; -1 when it cannot. */
static int floor_lock_card(uint32_t card_id) {
    const char *runtime = getenv("SORVIT_RUNTIME_DIR");
    char path[4096], line[64];
    snprintf(path, sizeof path, "%s/card-%lu.lock", runtime ? runtime : "/run/sorvit",
             (unsigned long)card_id);
    int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT && mkdir(runtime ? runtime : "/run/sorvit", 0755) == 0)
        fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    struct flock f = {.l_type = F_RDLCK, .l_whence = SEEK_SET};
    if (fd < 0 || fcntl(fd, F_SETLK, &f) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    int n = snprintf(line, sizeof line, "%ld sorvit-image check\n", (long)getpid());
    if (pwrite(fd, line, (size_t)n, 0) == n) (void)!ftruncate(fd, n);
    return fd;
}

#endif
