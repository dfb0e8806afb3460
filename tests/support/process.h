// Running code and programs in child processes, with standard output
// captured: how the tests see exits, messages and exit statuses.
#ifndef TESTS_SUPPORT_PROCESS_H
#define TESTS_SUPPORT_PROCESS_H

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct process_result {
    std::string out;  // everything written to standard output
    int status;       // exit status 0..255, or 1000 + signal number
    std::string err;  // everything written to standard error (programs only)
};

// Runs body in a forked child; its exit status is body's call of exit, or
// 0 when body returns.
process_result run_in_child(const std::function<void()> &body);

struct program_run {
    std::vector<std::string> args;                         // after argv[0]
    std::vector<std::pair<std::string, std::string>> env;  // set on top of ours
    std::vector<std::string> unset_env;                    // removed
    std::optional<std::string> input;  // standard input; nullopt: closed at once
    std::function<void()> in_child;    // runs in the child just before exec
};

process_result run_program(const std::string &path, const program_run &run);

// Runs the program until its standard output shows prompt, then runs
// at_prompt, then writes reply to its standard input (run.input is unused).
process_result run_answering(const std::string &path, const program_run &run,
                             const std::string &prompt, const std::function<void()> &at_prompt,
                             const std::string &reply);

// A fresh folder, removed with everything in it when the object goes.
struct temp_dir {
    std::string path;
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// For a child that runs a tool without run_program: the tools' state
// (journal, history, locks) in the folder, not the host's.
void keep_tool_state(const std::string &folder);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);

#endif
