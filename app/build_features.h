// What `brindle -version` prints: the version, then each optional feature
// compiled into this build with the library that provides it.
#pragma once

#include <string>

namespace app {

// "brindle 0.95" and one "  feature: library" line per feature.
std::string version_report();

}  // namespace app
