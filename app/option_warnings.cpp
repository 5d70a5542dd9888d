#include "app/option_warnings.h"

#include <cstdio>

#include "app/run_driver.h"

namespace app {

namespace {

// Whether the word after items[i] looks like its value, not an option.
bool takes_value(const std::vector<std::string>& items, std::size_t i) {
  return i + 1 < items.size() && (items[i + 1].empty() || items[i + 1].front() != '-');
}

}  // namespace

void warn_unapplied_options(const run_options& options, const argument_list& leftovers) {
  const std::vector<std::string>& items = leftovers.items();
  for (std::size_t i = 1; i < items.size(); ++i) {
    const std::string& item = items[i];
    if (leftovers.lacked_value(item)) {
      std::fprintf(stderr, "warning: ignoring option '%s' without its value\n", item.c_str());
    } else if (leftovers.asked_for(item)) {
      // A repeat: the first occurrence was taken (the command line's over a
      // script's, one script's over a script it names).
      if (takes_value(items, i)) ++i;
    } else if (item.size() > 1 && item.front() == '-') {
      std::fprintf(stderr, "warning: ignoring unknown option '%s'\n", item.c_str());
      // The word after an unknown option is taken to be its value.
      if (takes_value(items, i)) ++i;
    } else {
      std::fprintf(stderr, "warning: ignoring argument '%s'\n", item.c_str());
    }
  }
  if (options.ignore_image_size && !options.offset_given) {
    std::fputs("warning: ignoring -ignore_image_size without -offset\n", stderr);
  }
  // A split run's instances walk the set within their own slices.
  if (inode_set_scan(options) && options.instance_number == 0xFFFFFFFF) {
    if (options.range_given) std::fputs("warning: -filter_inode walks only its entries: ignoring -mftstart/-mftrange\n", stderr);
    if (options.unallocated_scan || options.all_clusters_scan) {
      std::fputs("warning: -filter_inode walks only its entries: ignoring the free-cluster scan\n", stderr);
    }
  }
}

}  // namespace app
