// The run's records as Prometheus metrics, in the text exposition format
// 0.0.4, for the node exporter's textfile collector. The metric names and
// their labels are a contract kept as the JSON format_version is: a metric
// or a label is never renamed, retyped or removed within a major version;
// new ones may come.
//
//   sorvit_card_info{card_id, index, board_type, word_bits}  1 per card found
//   sorvit_card_up{card_id} (or {index})   1 when the card opened and read
//   sorvit_card_matches{card_id}           check: 1 when it matches its image
//   sorvit_card_differing_locations{card_id}, sorvit_card_protected_differences{card_id}
//   sorvit_card_unfinished_change{card_id} 1 when a change of the card was cut short
//   sorvit_image_without_card{image}       1 per image whose card is not here
//   sorvit_run_success, sorvit_run_duration_seconds, sorvit_run_timestamp_seconds,
//   sorvit_build_info{version}
#ifndef IMAGE_REPORT_METRICS_H
#define IMAGE_REPORT_METRICS_H

#include "image_file.h"
#include "record.h"

struct metrics;

// Null, with the failure reported, when memory runs out.
metrics *metrics_start();
void metrics_card(metrics *m, const card_record &record);

// Writes the metrics to file ('-': standard output), whole or not at all,
// and frees them; false with err set when that fails.
bool metrics_finish(metrics *m, const char *file, bool run_success, double duration_seconds,
                    image_error *err);

#endif
