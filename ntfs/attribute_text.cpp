#include "ntfs/attribute_text.h"

#include <cstdio>

#include "ntfs/attribute_header.h"
#include "support/byte_reader.h"

namespace ntfs {

std::string_view attribute_label(std::uint32_t type, bool named) {
  switch (type) {
    case attribute_type::object_id: return "obj id";
    case attribute_type::security_descriptor: return "security descr";
    case attribute_type::volume_name: return "vol name";
    case attribute_type::volume_information: return "vol info";
    case attribute_type::data: return named ? "ads" : "unnamed data";
    case attribute_type::index_root: return "indx root";
    case attribute_type::index_allocation: return "indx alloc";
    case attribute_type::bitmap: return "bitmap";
    case attribute_type::reparse_point: return "reparse point";
    case attribute_type::ea_information: return "extended attribs info";
    case attribute_type::ea: return "extended attribs";
    case attribute_type::property_set: return "property set";
    case attribute_type::logged_utility_stream: return "logged stream";
    default: return "unk";
  }
}

std::string guid_text(std::span<const std::uint8_t, 16> guid) {
  support::byte_reader r(guid);
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", r.le32(0), r.le16(4),
                r.le16(6), guid[8], guid[9], guid[10], guid[11], guid[12], guid[13], guid[14], guid[15]);
  return text;
}

std::string volume_version_text(std::uint8_t major, std::uint8_t minor) {
  std::string text = "ver: " + std::to_string(major) + ":" + std::to_string(minor);
  if (major == 1 && minor == 2) return text + " (WinNT)";
  if (major == 3 && minor == 0) return text + " (Win2k)";
  if (major == 3 && minor == 1) return text + " (WinXP)";
  if (major == 3) return text + " (Windows)";
  return text + "(Unk version)";
}

std::string file_attribute_text(std::uint32_t flags) {
  static constexpr struct {
    std::uint32_t bit;
    const char* word;
  } words[] = {
      {0x0001, "read-only"},  {0x0002, "hidden"},      {0x0004, "system"},        {0x0010, "directory"},
      {0x0020, "archive"},    {0x0040, "device"},      {0x0080, "normal"},        {0x0100, "temporary"},
      {0x0200, "sparse"},     {0x0400, "reparse"},     {0x0800, "compressed"},    {0x1000, "offline"},
      {0x2000, "not indexed"}, {0x4000, "encrypted"},  {0x10000000, "directory"}, {0x20000000, "index view"},
  };
  std::string text;
  for (const auto& w : words) {
    if (!(flags & w.bit)) continue;
    if (!text.empty()) text += ", ";
    text += w.word;
  }
  return text;
}

}  // namespace ntfs
