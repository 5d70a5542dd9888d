#include "app/evidence_options.h"

namespace app {

void parse_evidence_options(run_options& options, argument_list& arguments) {
  walk::evidence_settings& evidence = options.evidence;
  evidence.journal = arguments.flag("-usnjrnl");
  arguments.value("-usnfile", evidence.journal_file);
  evidence.index_slack = arguments.flag("-indx_slack");
  // -indxfile is also a source on its own; the source options take it
  // from the list when no other source is given.
  arguments.peek_value("-indxfile", evidence.index_file);
  options.json_lines_timeline = arguments.flag("-jsonl_timeline");
  options.json_lines = arguments.flag("-jsonl") && !options.json_lines_timeline;
}

bool json_lines_requested(const argument_list& arguments) {
  argument_list copy = arguments;
  return copy.flag("-jsonl") || copy.flag("-jsonl_timeline");
}

}  // namespace app
