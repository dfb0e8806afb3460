/* The floor for a write's wall time: the I/O that the card library's
 * interface forces on a bank file of the same size, done directly. The
 * file's bytes go to a temporary file beside it, which is flushed and
 * renamed over it; then its folder is flushed.
 * Usage: write_floor FILE */
#include <fcntl.h>
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int fail(const char *what) {
    perror(what);
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 2) return fail("usage: write_floor FILE");
    struct stat st;
    int in = open(argv[1], O_RDONLY);
    if (in < 0 || fstat(in, &st) != 0) return fail(argv[1]);
    char *text = malloc((size_t)st.st_size + 1);
    if (!text || read(in, text, (size_t)st.st_size) != st.st_size) return fail("read");
    close(in);
    char temp[4096], folder[4096];
    snprintf(temp, sizeof temp, "%s.tmp-floor", argv[1]);
    snprintf(folder, sizeof folder, "%s", argv[1]);
    int out = open(temp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || write(out, text, (size_t)st.st_size) != st.st_size || fsync(out) != 0)
        return fail(temp);
    close(out);
    if (rename(temp, argv[1]) != 0) return fail("rename");
    int dir = open(dirname(folder), O_RDONLY | O_DIRECTORY);
    if (dir < 0 || fsync(dir) != 0) return fail("folder");
    close(dir);
    free(text);
    return 0;
}
