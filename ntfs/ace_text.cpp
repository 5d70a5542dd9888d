#include "ntfs/ace_text.h"

#include <array>

namespace ntfs {

namespace {

struct right_name {
  std::uint32_t bit;
  std::string_view name;
};

// Generic rights first, then the standard rights, then the two special ones.
constexpr std::array<right_name, 11> right_names{{
    {31, "GENERIC_READ"},
    {30, "GENERIC_WRITE"},
    {29, "GENERIC_EXECUTE"},
    {28, "GENERIC_ALL"},
    {16, "DELETE"},
    {17, "READ_CONTROL"},
    {18, "WRITE_DAC"},
    {19, "WRITE_OWNER"},
    {20, "SYNCHRONIZE"},
    {24, "ACCESS_SYSTEM_SECURITY"},
    {25, "MAXIMUM_ALLOWED"},
}};

constexpr std::array<std::string_view, 9> long_type_names{
    "ACCESS_ALLOWED_ACE_TYPE",
    "ACCESS_DENIED_ACE_TYPE",
    "SYSTEM_AUDIT_ACE_TYPE",
    "SYSTEM_ALARM_ACE_TYPE",
    "ACCESS_ALLOWED_COMPOUND_ACE_TYPE",
    "ACCESS_ALLOWED_OBJECT_ACE_TYPE",
    "ACCESS_DENIED_OBJECT_ACE_TYPE",
    "SYSTEM_AUDIT_OBJECT_ACE_TYPE",
    "SYSTEM_ALARM_OBJECT_ACE_TYPE",
};

constexpr std::array<std::string_view, 9> short_type_names{
    "access allowed", "access denied", "system audit", "system alarm", "access allowed",
    "access allowed", "access denied", "system audit", "system alarm",
};

constexpr std::string_view separator = " | ";

}  // namespace

std::string_view ace_type_name(std::uint8_t type, bool short_form) {
  if (type >= long_type_names.size()) return "unknown";
  return short_form ? short_type_names[type] : long_type_names[type];
}

void append_access_mask_text(std::string& out, std::uint32_t mask) {
  bool first = true;
  for (const auto& right : right_names) {
    if ((mask >> right.bit & 1u) == 0) continue;
    if (!first) out.append(separator);
    out.append(right.name);
    first = false;
  }
}

std::string access_mask_text(std::uint32_t mask) {
  std::string text;
  append_access_mask_text(text, mask);
  return text;
}

}  // namespace ntfs
