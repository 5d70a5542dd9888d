#include "app/options.h"

namespace app {

namespace {

// Returns every field of `options` to its default, keeping the version text
// handed in by the run driver and the diagnostics log object (closed).
template <typename Options>
void reset_keeping_log(Options& options) {
  auto diagnostics = std::move(options.diagnostics);
  std::string version = std::move(options.version_text);
  options = Options{};
  options.version_text = std::move(version);
  if (diagnostics) diagnostics->close();
  options.diagnostics = std::move(diagnostics);
}

}  // namespace

void shared_options::reset() { reset_keeping_log(*this); }

void run_options::reset() { reset_keeping_log(*this); }

}  // namespace app
