// Display text derived from attributes: the label of each attribute type in
// the all-attributes table, object-id GUIDs, volume version names and file
// attribute flags as words.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ntfs {

// The label of an attribute type in the all-attributes table.
std::string_view attribute_label(std::uint32_t type, bool named);

// Object id GUID text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x".
std::string guid_text(std::span<const std::uint8_t, 16> guid);

// "ver: 3:1 (WinXP)" and the like.
std::string volume_version_text(std::uint8_t major, std::uint8_t minor);

// $STANDARD_INFORMATION file attribute flags as words ("read-only, hidden").
std::string file_attribute_text(std::uint32_t flags);

}  // namespace ntfs
