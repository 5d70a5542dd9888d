// The banner and the usage text.
#pragma once

namespace app {

// BRINDLE_VERSION comes from the build (the project version in CMakeLists.txt).
inline constexpr const char* version_text = "ver: " BRINDLE_VERSION;
inline constexpr const char* banner_text = "brindle ver: " BRINDLE_VERSION;

// Writes the usage text to standard error.
void print_usage(const char* program_path);

}  // namespace app
