// The bank that the command-line tests run against: one card of each board
// class, and cards marked with each fault. Words 0x00..0x3F hold values
// that show their location, so a swapped read shows in the output.
#ifndef TESTS_CLI_CLI_BANK_H
#define TESTS_CLI_CLI_BANK_H

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "process.h"

inline std::string cli_card(unsigned id, int board_type, unsigned bits,
                            const std::string &extra = "") {
    std::string text = "[card]\nid = " + std::to_string(id) +
                       "\nboard_type = " + std::to_string(board_type) +
                       "\nword_bits = " + std::to_string(bits) + "\nmodel = Test board\n" + extra;
    for (unsigned row = 0; row < 64; row += 8) {
        char line[128];
        int n = snprintf(line, sizeof line, "0x%02X:", row);
        for (unsigned loc = row; loc < row + 8; loc++)
            n += snprintf(line + n, sizeof line - static_cast<size_t>(n),
                          bits == 16 ? " %04X" : " %08X",
                          bits == 16 ? 0xC000 | loc : 0xAB000000 | loc << 8 | loc);
        text += std::string(line) + "\n";
    }
    return text;
}

inline std::string cli_bank() {
    return cli_card(0, 12, 32) +                                  // index 0: 32-bit words
           cli_card(7, 0, 16) +                                   // index 1: protected below 43
           cli_card(8, 3, 16) +                                   // index 2: protected below 45
           cli_card(9, 25, 16) +                                  // index 3: protected below 45
           cli_card(10, 1, 16) +                                  // index 4: protected below 43
           cli_card(11, 20, 32) + cli_card(12, 26, 32) +          // refused boards
           cli_card(13, -1, 32) + cli_card(4294967295u, 4, 32) +  // the largest identifier
           cli_card(14, 12, 32, "fault = write\n") + cli_card(15, 0, 16, "fault = read 0x21\n") +
           cli_card(16, 12, 32, "fault = read\n") + cli_card(17, 12, 32, "fault = info\n") +
           cli_card(18, 12, 32, "fault = open\n");
}

struct tool_run {
    process_result result;
    std::string trace;  // the library's calls, one a line
};

// Runs a tool of the family on the bank file "bank" in dir (none: the file
// does not exist yet), with its library calls traced.
inline tool_run run_tool(const std::string &binary, const temp_dir &dir,
                         const std::vector<std::string> &args,
                         std::optional<std::string> input = std::nullopt) {
    program_run run;
    run.args = args;
    run.env = {{"VELQOR2_SIM_BANK", dir.file("bank")}, {"VELQOR2_SIM_TRACE", dir.file("trace")}};
    run.unset_env = {"VELQOR_SDK5"};
    run.input = std::move(input);
    tool_run r{run_program(binary, run), ""};
    r.trace = read_file(dir.file("trace"));
    unlink(dir.file("trace").c_str());
    return r;
}

#endif
