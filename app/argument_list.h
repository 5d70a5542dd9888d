// The command line as a list of arguments that option readers consume: a
// matched option is removed together with its value, so each option is taken
// once, from its first occurrence.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace app {

class argument_list {
 public:
  argument_list() = default;
  explicit argument_list(std::vector<std::string> arguments) : m_arguments(std::move(arguments)) {}

  const std::vector<std::string>& items() const { return m_arguments; }
  std::size_t size() const { return m_arguments.size(); }
  void append(std::string argument) { m_arguments.push_back(std::move(argument)); }

  // True when `option` is present (whole argument, any letter case); the
  // argument is removed unless `keep` is set.
  bool flag(std::string_view option, bool keep = false);

  // True when `option` is present and followed by another argument, which
  // is returned in `value`; both are removed. An option that is the last
  // argument yields false and stays.
  bool value(std::string_view option, std::string& value);

  // The argument after `option`, searched from `first`, without removing
  // anything.
  bool peek_value(std::string_view option, std::string& value, std::size_t first = 1) const;

  // Removes `option` and the argument after it, wherever it is.
  void remove_with_value(std::string_view option);

  // Whether value() met `argument` as an option with nothing after it.
  bool lacked_value(const std::string& argument) const { return m_lacking_value.count(argument) > 0; }
  // Whether `argument` names an option some reader asked for (lower case
  // or not): left in the list, it is a repeat the first occurrence beat.
  bool asked_for(const std::string& argument) const;

 private:
  std::vector<std::string> m_arguments;
  std::set<std::string> m_lacking_value;
  std::set<std::string, std::less<>> m_asked;  // lower case
  void note_asked(std::string_view option);
};

bool equals_ignoring_case(std::string_view a, std::string_view b);

}  // namespace app
