// The banner and the usage text.
#pragma once

namespace app {

inline constexpr const char* version_text = "ver: 0.95";
inline constexpr const char* banner_text = "brindle ver: 0.95";

// Writes the usage text to standard error.
void print_usage(const char* program_path);

}  // namespace app
