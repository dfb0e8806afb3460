#include "render.h"

#include "image_file.h"
#include "metrics.h"

bool start_renderers(renderers *r, const run_description &run, bool json,
                     const char *metrics_file) {
    *r = renderers{};
    r->run = run;
    r->text = !json;
    r->prompt = json ? stderr : stdout;
    if (json && !(r->json = json_start(run))) {
        report_failure("Out of memory for the JSON document\n");
        return false;
    }
    if (metrics_file && !(r->metrics = metrics_start())) {
        json_discard(r->json);
        return false;
    }
    return true;
}

void render_card(renderers *r, const card_record &record) {
    // One card that was never reached: the run stopped before it.
    if (!r->run.all && r->run.action != action_kind::LIST && !record.has_card) r->stopped = true;
    if (r->text) text_card(r->run, record);
    if (r->json) json_card(r->json, record);
    if (r->metrics) metrics_card(r->metrics, record);
}

int finish_renderers(renderers *r, int status, double seconds, const char *metrics_file) {
    if (r->json && !json_finish(r->json, r->failures, status)) {
        report_failure("Out of memory for the JSON document: none written\n");
        status = -1;
    }
    image_error err;
    if (r->metrics && !metrics_finish(r->metrics, metrics_file, !r->stopped, seconds, &err)) {
        report_failure("%s", err.text);
        status = -1;
    }
    clear_failures(&r->failures);
    *r = renderers{};
    return status;
}
