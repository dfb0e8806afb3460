// Where each card's record goes: the text on standard output, the JSON
// document (+json, written at the end) and the metrics (/metrics), chosen
// once at the start of the run. An action hands each card's record to
// render_card once, when the card is done; the renderers do the rest.
#ifndef IMAGE_REPORT_RENDER_H
#define IMAGE_REPORT_RENDER_H

#include <cstdio>

#include "record.h"

struct json_renderer;
struct metrics;

// What the run is, as the documents head it.
struct run_description {
    action_kind action;
    bool all;          // +all: the records are the cards of a folder
    const char *file;  // the image file, or the folder with +all; null for list
    bool has_card_id;  // history: of one card
    uint32_t card_id;
};

struct renderers {
    run_description run;
    bool text;                // the text on standard output (not with +json)
    FILE *prompt;             // what the user sees before a question: standard error with +json
    json_renderer *json;      // +json, or null
    struct metrics *metrics;  // /metrics, or null
    failure_log failures;     // the run's own, not one card's: the document's error
    bool stopped;             // the run stopped before its cards: no card library, a bad folder
};

// Chooses the renderers; false, with the failure reported, when memory for
// them runs out.
bool start_renderers(renderers *r, const run_description &run, bool json, const char *metrics_file);
void render_card(renderers *r, const card_record &record);
// Writes the document and the metrics file, and frees the renderers; the
// run's exit status, which becomes -1 when either cannot be written.
int finish_renderers(renderers *r, int status, double seconds, const char *metrics_file);

// The renderers (text.cpp, json.cpp, metrics.cpp).
void text_card(const run_description &run, const card_record &record);
json_renderer *json_start(const run_description &run);
void json_card(json_renderer *j, const card_record &record);
// false when memory ran out while the document was built: none written.
bool json_finish(json_renderer *j, const failure_log &run_failures, int status);
void json_discard(json_renderer *j);
// The document of "/version +json".
bool json_version();

#endif
