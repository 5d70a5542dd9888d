#include "output/output_settings.h"

#include <algorithm>
#include <cctype>

namespace output {

void derive_separator(output_settings& settings) {
  std::string lower = settings.separator;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const auto protect = [&settings](char c, char replacement) {
    settings.separator_char = c;
    settings.replacement_char = replacement;
  };
  if (lower == "tab" || lower == "\\t") {
    settings.separator = "\t";
    protect('\t', ' ');
  } else if (lower.find('|') != std::string::npos) {
    protect('|', ';');
  } else if (lower.find(',') != std::string::npos) {
    protect(',', ' ');
  } else if (const auto visible = lower.find_first_not_of(' '); visible != std::string::npos) {
    protect(settings.separator[visible], ' ');
  } else if (!lower.empty()) {
    protect(' ', '_');
  } else {
    protect(0, 0);
  }
  if (settings.quoted_fields) {
    if (settings.separator.find('\t') == std::string::npos) {
      const auto first = settings.separator.find_first_not_of(" \t\r\n");
      const auto last = settings.separator.find_last_not_of(" \t\r\n");
      settings.separator = first == std::string::npos ? std::string() : settings.separator.substr(first, last - first + 1);
    }
    settings.separator_char = 0;
    settings.replacement_char = 0;
  }
}

}  // namespace output
