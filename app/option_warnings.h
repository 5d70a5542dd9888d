// Options a run will not apply get one warning line each on standard error;
// the run goes on without them.
#pragma once

#include "app/argument_list.h"
#include "app/options.h"

namespace app {

// `leftovers` is the argument list after the parser took what it knows:
// anything still in it (past the program path) was not used.
void warn_unapplied_options(const run_options& options, const argument_list& leftovers);

}  // namespace app
