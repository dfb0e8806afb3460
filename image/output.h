// sorvit-image's standard output: the results as text (the text renderer),
// or with +json the one document and nothing else. What the user must see
// before answering the question goes to standard error then.
#ifndef IMAGE_OUTPUT_H
#define IMAGE_OUTPUT_H

#include <cstdio>

void set_json_output(bool on);
bool json_output();

// The tool's version, "5.0.0", as the usage screen, the JSON documents and
// the metrics give it.
struct version_text {
    char text[32];
};
version_text tool_version();

// Where the changes and the question go: standard output, or standard
// error with +json.
FILE *prompt_stream();

#endif
