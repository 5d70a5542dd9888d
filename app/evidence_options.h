// The options of the scans after the MFT walk (-usnjrnl, -usnfile,
// -indx_slack, -indxfile) and of the JSON Lines layouts (-jsonl,
// -jsonl_timeline), which win over every other layout.
#pragma once

#include "app/argument_list.h"
#include "app/options.h"

namespace app {

void parse_evidence_options(run_options& options, argument_list& arguments);

// True when the arguments ask for a JSON Lines layout: the results then hold
// nothing but JSON, and the run header goes to the diagnostics log.
bool json_lines_requested(const argument_list& arguments);

}  // namespace app
