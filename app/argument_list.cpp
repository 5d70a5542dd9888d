#include "app/argument_list.h"

#include "support/utf.h"

namespace app {

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

void argument_list::note_asked(std::string_view option) {
  std::string lower(option);
  uni::ascii_to_lower(lower);
  m_asked.insert(std::move(lower));
}

bool argument_list::asked_for(const std::string& argument) const {
  std::string lower = argument;
  uni::ascii_to_lower(lower);
  return m_asked.count(lower) > 0;
}

bool argument_list::flag(std::string_view option, bool keep) {
  note_asked(option);
  for (std::size_t i = 0; i < m_arguments.size(); ++i) {
    if (!equals_ignoring_case(m_arguments[i], option)) continue;
    if (!keep) m_arguments.erase(m_arguments.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

bool argument_list::value(std::string_view option, std::string& value) {
  note_asked(option);
  for (std::size_t i = 0; i < m_arguments.size(); ++i) {
    if (!equals_ignoring_case(m_arguments[i], option)) continue;
    if (i + 1 >= m_arguments.size()) {
      m_lacking_value.insert(m_arguments[i]);
      return false;
    }
    value = m_arguments[i + 1];
    m_arguments.erase(m_arguments.begin() + static_cast<std::ptrdiff_t>(i),
                      m_arguments.begin() + static_cast<std::ptrdiff_t>(i + 2));
    return true;
  }
  return false;
}

bool argument_list::peek_value(std::string_view option, std::string& value, std::size_t first) const {
  for (std::size_t i = first; i + 1 < m_arguments.size(); ++i) {
    if (!equals_ignoring_case(m_arguments[i], option)) continue;
    value = m_arguments[i + 1];
    return true;
  }
  return false;
}

void argument_list::remove_with_value(std::string_view option) {
  for (std::size_t i = 0; i < m_arguments.size(); ++i) {
    if (!equals_ignoring_case(m_arguments[i], option)) continue;
    const std::size_t end = std::min(i + 2, m_arguments.size());
    m_arguments.erase(m_arguments.begin() + static_cast<std::ptrdiff_t>(i),
                      m_arguments.begin() + static_cast<std::ptrdiff_t>(end));
    return;
  }
}

}  // namespace app
