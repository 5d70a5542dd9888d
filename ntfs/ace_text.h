// Names of access control entry (ACE) types and of the rights in an access
// mask, as shown for the ACLs of a security descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ntfs {

namespace ace_type {
inline constexpr std::uint8_t access_allowed = 0;
inline constexpr std::uint8_t access_denied = 1;
inline constexpr std::uint8_t system_audit = 2;
inline constexpr std::uint8_t system_alarm = 3;
inline constexpr std::uint8_t access_allowed_compound = 4;
inline constexpr std::uint8_t access_allowed_object = 5;
inline constexpr std::uint8_t access_denied_object = 6;
inline constexpr std::uint8_t system_audit_object = 7;
inline constexpr std::uint8_t system_alarm_object = 8;
}  // namespace ace_type

// The long form is the Windows constant ("ACCESS_ALLOWED_ACE_TYPE"); the
// short form groups the object and compound variants with their plain type
// ("access allowed", "access denied", "system audit", "system alarm").
// Types from 9 up are "unknown" in both forms.
std::string_view ace_type_name(std::uint8_t type, bool short_form);

// Appends the names of the generic and standard rights set in `mask`, in the
// order GENERIC_READ, GENERIC_WRITE, GENERIC_EXECUTE, GENERIC_ALL, DELETE,
// READ_CONTROL, WRITE_DAC, WRITE_OWNER, SYNCHRONIZE, ACCESS_SYSTEM_SECURITY,
// MAXIMUM_ALLOWED, joined by " | ". The object-specific rights (bits 0 to 15)
// mean something different for every kind of object and are not named, so a
// mask with only those appends nothing.
void append_access_mask_text(std::string& out, std::uint32_t mask);
std::string access_mask_text(std::uint32_t mask);

}  // namespace ntfs
