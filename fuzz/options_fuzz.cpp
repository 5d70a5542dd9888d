// Command lines and script files: the input is split into arguments at NUL
// bytes and also read as a script file's text. Only parsing runs here; any
// file an option names is made relative to the scratch folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/argument_list.h"
#include "app/option_parser.h"
#include "app/options.h"
#include "app/script_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments{"brindle"};
  for (std::string& argument : app::script_arguments(text)) arguments.push_back(std::move(argument));
  std::size_t start = 0;
  for (std::size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      arguments.emplace_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  fuzz::scratch_folder();
  for (std::string& argument : arguments) {
    for (char& c : argument) {
      if (c == '/' || c == '\\') c = '_';
    }
  }
  app::run_options options;
  app::argument_list list(arguments);
  app::parse_options(options, list, "fuzz", {});
  return 0;
}
