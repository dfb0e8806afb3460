/* Times whole runs of two commands, alternating so that both see the same
 * machine, and prints each one's median wall time in microseconds.
 * Usage: spawn_timer RUNS -- COMMAND_A ... -- COMMAND_B ... */
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

static double run_once(char **argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1 /* O_WRONLY */, 0);
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid;
    if (posix_spawn(&pid, argv[0], &actions, NULL, argv, environ) != 0) {
        perror(argv[0]);
        exit(1);
    }
    int status;
    waitpid(pid, &status, 0);
    clock_gettime(CLOCK_MONOTONIC, &end);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s failed\n", argv[0]);
        exit(1);
    }
    return (double)(end.tv_sec - start.tv_sec) * 1e6 + (double)(end.tv_nsec - start.tv_nsec) / 1e3;
}

static int by_value(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv) {
    if (argc < 5 || strcmp(argv[2], "--") != 0) {
        fprintf(stderr, "usage: spawn_timer RUNS -- COMMAND_A ... -- COMMAND_B ...\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    char **a = argv + 3, **b = NULL;
    for (int i = 3; i < argc; i++)
        if (strcmp(argv[i], "--") == 0) {
            argv[i] = NULL;
            b = argv + i + 1;
        }
    if (runs < 1 || !*a || !b || !*b) return 2; /* each command has a program */
    double *ta = calloc((size_t)runs, sizeof *ta), *tb = calloc((size_t)runs, sizeof *tb);
    if (!ta || !tb) {
        free(ta);
        free(tb);
        return 1;
    }
    for (int i = 0; i < runs; i++) {
        ta[i] = run_once(a);
        tb[i] = run_once(b);
    }
    qsort(ta, (size_t)runs, sizeof *ta, by_value);
    qsort(tb, (size_t)runs, sizeof *tb, by_value);
    printf("%.1f %.1f\n", ta[runs / 2], tb[runs / 2]);
    free(ta);
    free(tb);
    return 0;
}
