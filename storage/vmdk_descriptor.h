// The text descriptor embedded in a hosted sparse extent: "key=value" lines
// that name the disk's content id (CID), its parent's content id, the text
// encoding and, for a snapshot, where its parent file was.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace storage {

// One line of the extent description: `RW 4192256 SPARSE "disk-s001.vmdk"`
// or `RW 36864 FLAT "disk-f001.vmdk" 0`.
struct vmdk_extent_line {
  std::uint64_t sectors = 0;  // 512-byte sectors of the virtual disk it covers
  std::string type;           // "SPARSE", "FLAT", "ZERO", "VMFS", ... in upper case
  std::string file;           // as written, quotes removed; "" for ZERO
  std::uint64_t offset_sectors = 0;  // FLAT: where the extent's data starts in its file
};

struct vmdk_descriptor {
  // Every line as stored (bytes in the descriptor's encoding), without the
  // line end. The text ends at the first NUL byte: the area is padded.
  std::vector<std::string> lines;
  std::string content_id;         // "CID=" line
  std::string parent_content_id;  // "parentCID=" line; "ffffffff" for a base disk
  std::string encoding;           // "encoding=" line, quotes kept
  std::string parent_file_name_hint;  // "parentFileNameHint=" line, quotes removed
  std::string create_type;            // "createType=" line, quotes removed: the subformat
  std::vector<vmdk_extent_line> extents;  // in the order of the virtual disk
};

// Splits `text` into lines and picks the values above. Keys are matched
// without regard to case at the start of a line; values keep their case and
// lose trailing blanks. A key that appears twice keeps its last value.
void parse_vmdk_descriptor(std::span<const std::uint8_t> text, vmdk_descriptor& descriptor);

// The parent content id of a disk that has no parent.
inline constexpr std::string_view base_parent_content_id = "ffffffff";

// Content ids are hexadecimal numbers: compared without regard to case.
bool same_content_id(std::string_view a, std::string_view b);
// The form used as a key: lower case.
std::string content_id_key(std::string_view content_id);

// The folder a descriptor file is in ("." for a bare name): the names of
// its extents and of its parent are relative to it.
std::string folder_of(const std::string& path);

}  // namespace storage
