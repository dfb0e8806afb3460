// The usage screen, whole, for a declaration that exercises every column.
#include <gtest/gtest.h>

#include "args_internal.h"
#include "process.h"

namespace {

TEST(Usage, ShowsRequiredAndOptionalParametersAndEveryOptionRow) {
    option_desc options[] = {
        {"count", ARG_INT, "how many", {.i = -3}, 0, {}},
        {"mask", ARG_HEX, "bit mask", {.u = 255}, 0, {}},
        {"name", ARG_STRING, "a name", {.s = nullptr}, 0, {}},
        {"averyveryverylongname",
         ARG_PATH,
         "cut to the column",
         {.s = const_cast<char *>("C:/p")},
         0,
         {}},
        {"v", ARG_BOOLEAN, "verbose", {.b = 1}, 0, {}},
        {"odd", static_cast<value_type>(12), "unknown type", {.u = 1}, 0, {}},
    };
    const value_type types[] = {ARG_UINT, ARG_UINT, ARG_STRING};
    const char *const names[] = {"first", "second", "third"};
    const char *const descs[] = {"the first", "the second", "the third"};
    command_args args{6, types, names, descs, 3, 2, options, 0, nullptr, nullptr, nullptr, nullptr};
    auto r = run_in_child([&] { show_usage(&args); });
    EXPECT_EQ(r.out,
              "SORVIT utility V5.0.0 Copyright (c) 2011-2026 Velqor Card Systems\n"
              "Usage: sorvit [option ...] first second [third]\n"
              "\n"
              "     first = the first\n"
              "    second = the second\n"
              "     third = the third\n"
              "\n"
              "      Option     Type       Default  Meaning\n"
              "\n"
              " /h /? /help                         Show this help\n"
              "        /sdk   string                Specify base directory of VELQOR SDK\n"
              "     /bitdir   string                Specify bitstream directory\n"
              "      /count      int            -3  how many\n"
              "       /mask      hex          0xff  bit mask\n"
              "       /name   string        (null)  a name\n"
              "/averyveryverylo     path          C:/p  cut to the column\n"
              "        -/+v  boolean          TRUE  verbose\n"
              "        /odd        ?                unknown type\n");
}

TEST(Usage, WithoutParametersTheUsageLineEndsOnce) {
    command_args args{0,       nullptr, nullptr, nullptr, 0,       0,
                      nullptr, 0,       nullptr, nullptr, nullptr, nullptr};
    auto r = run_in_child([&] { show_usage(&args); });
    EXPECT_NE(r.out.find("Usage: sorvit [option ...]\n\n      Option"), std::string::npos) << r.out;
}

}  // namespace
