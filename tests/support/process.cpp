#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string drain(int fd) {
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}

int wait_status(pid_t pid) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
}

}  // namespace

process_result run_in_child(const std::function<void()> &body) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(out[1]);
    process_result result{drain(out[0]), 0};
    close(out[0]);
    result.status = wait_status(pid);
    return result;
}

namespace {

// Both pipes at once: a child that fills one while the test waits on the
// other must not hang.
void drain_both(int out_fd, int err_fd, std::string *out, std::string *err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *into[2] = {out, err};
    for (int open = 2; open > 0;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < 2; k++) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buffer[4096];
            ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) into[k]->append(buffer, static_cast<size_t>(n));
            else if (n == 0 || errno != EINTR) {
                fds[k].fd = -1;
                open--;
            }
        }
    }
}

// The tools' state (the journal and history of changes, the cards' locks)
// goes to a folder of the test process's own, never to the host's: one for
// each user and simulated bank (a host of its own), made by the child as
// whichever user it runs as, in a sticky folder that the test process
// removes when it ends. A test that looks at the state names its own
// folders.
std::string g_state_base;
pid_t g_state_owner;  // forked children inherit the exit handler too

void remove_state_base() {
    std::error_code ignored;
    if (getpid() == g_state_owner) std::filesystem::remove_all(g_state_base, ignored);
}

const std::string &state_base() {
    if (g_state_base.empty()) {
        char name[] = "/tmp/sorvit-test-state-XXXXXX";
        if (!mkdtemp(name)) throw std::runtime_error("mkdtemp");
        chmod(name, 01777);
        g_state_base = name;
        g_state_owner = getpid();
        atexit(remove_state_base);
    }
    return g_state_base;
}

// Made when the test process starts, before it forks any child that may
// run a program itself.
const bool g_state_made = !state_base().empty();

void keep_state_apart(const std::string &base) {
    const char *named = getenv("VELQOR2_SIM_BANK");
    std::string bank = named ? named : "default";
    for (char &c : bank)
        if (c == '/') c = '%';
    const std::string user = base + "/" + std::to_string(getuid()), mine = user + "/" + bank;
    mkdir(user.c_str(), 0700);
    mkdir(mine.c_str(), 0700);
    setenv("SORVIT_STATE_DIR", (mine + "/state").c_str(), 0);
    setenv("SORVIT_RUNTIME_DIR", (mine + "/run").c_str(), 0);
}

struct child_pipes {
    int out[2], in[2], err[2];
};

// Starts the program with its three standard streams on pipes.
pid_t start_program(const std::string &path, const program_run &run, child_pipes *p) {
    int *out = p->out, *in = p->in, *err = p->err;
    if (pipe(out) != 0 || pipe(in) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
    // A child that exits before reading its input must not kill the test.
    signal(SIGPIPE, SIG_IGN);
    const std::string &base = state_base();
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(out[1], STDOUT_FILENO);
        dup2(in[0], STDIN_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {out[0], out[1], in[0], in[1], err[0], err[1]}) close(fd);
        for (const auto &[name, value] : run.env) setenv(name.c_str(), value.c_str(), 1);
        for (const auto &name : run.unset_env) unsetenv(name.c_str());
        if (run.in_child) run.in_child();
        keep_state_apart(base);
        // SORVIT_TEST_WRAPPER runs the program under another, e.g. valgrind.
        std::vector<std::string> words;
        if (const char *wrapper = getenv("SORVIT_TEST_WRAPPER")) {
            std::istringstream in(wrapper);
            for (std::string w; in >> w;) words.push_back(w);
        }
        words.push_back(path);
        words.insert(words.end(), run.args.begin(), run.args.end());
        std::vector<char *> argv;
        argv.reserve(words.size() + 1);
        for (auto &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(in[0]);
    close(err[1]);
    return pid;
}

// Gives the program its input, reads both its outputs to their end, adding
// to what result holds, and waits for it.
process_result finish_program(pid_t pid, const child_pipes &p, const std::string &input,
                              process_result result) {
    // Replies are short: they fit the pipe, so writing first cannot block.
    ssize_t written = write(p.in[1], input.data(), input.size());
    (void)written;
    close(p.in[1]);
    drain_both(p.out[0], p.err[0], &result.out, &result.err);
    close(p.out[0]);
    close(p.err[0]);
    result.status = wait_status(pid);
    return result;
}

}  // namespace

process_result run_program(const std::string &path, const program_run &run) {
    child_pipes p;
    pid_t pid = start_program(path, run, &p);
    return finish_program(pid, p, run.input.value_or(""), {"", 0, ""});
}

temp_dir::temp_dir() {
    std::string pattern = std::filesystem::temp_directory_path() / "sorvit-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void keep_tool_state(const std::string &folder) {
    setenv("SORVIT_STATE_DIR", (folder + "/state").c_str(), 1);
    setenv("SORVIT_RUNTIME_DIR", (folder + "/run").c_str(), 1);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

process_result run_answering(const std::string &path, const program_run &run,
                             const std::string &prompt, const std::function<void()> &at_prompt,
                             const std::string &reply) {
    child_pipes p;
    pid_t pid = start_program(path, run, &p);
    process_result result{"", 0, ""};
    pollfd out{p.out[0], POLLIN, 0};
    while (result.out.find(prompt) == std::string::npos && poll(&out, 1, 10000) == 1) {
        char buffer[4096];
        ssize_t n = read(p.out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.out.append(buffer, static_cast<size_t>(n));
    }
    at_prompt();
    return finish_program(pid, p, reply, result);
}
