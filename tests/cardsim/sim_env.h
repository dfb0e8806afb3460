// A temporary bank for one test: VELQOR2_SIM_BANK points into a fresh
// folder for the life of the object.
#ifndef TESTS_CARDSIM_SIM_ENV_H
#define TESTS_CARDSIM_SIM_ENV_H

#include <cstdlib>
#include <string>

#include "process.h"
#include "velqor2.h"

struct sim_bank_env {
    temp_dir dir;
    std::string bank = dir.file("bank");
    sim_bank_env() { setenv("VELQOR2_SIM_BANK", bank.c_str(), 1); }
    ~sim_bank_env() {
        unsetenv("VELQOR2_SIM_BANK");
        unsetenv("VELQOR2_SIM_TRACE");
    }
    void write(const std::string &text) const { write_file(bank, text); }
};

// Card 5, 16 bits, 64 words, with the given extra settings.
inline std::string small_card(const std::string &extra = "", uint32_t id = 5) {
    return "[card]\nid = " + std::to_string(id) +
           "\nboard_type = 3\nword_bits = 16\neeprom_words = 64\nserial = 0x1234\nmodel = Small\n" +
           extra + "0x0: 1111 2222 3333 4444 5555 6666 7777 8888\n";
}

inline VELQOR2_HANDLE open_or_zero(uint32_t id) {
    VELQOR2_HANDLE h = 0;
    return VELQOR2_OpenCard(id, &h) == VELQOR2_SUCCESS ? h : 0;
}

#endif
