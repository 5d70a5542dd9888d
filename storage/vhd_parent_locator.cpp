#include "storage/vhd_parent_locator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "support/byte_reader.h"
#include "support/file_io.h"
#include "support/utf.h"

namespace storage {

namespace {

using guid_bytes = std::array<std::uint8_t, 16>;

constexpr std::uint64_t footer_bytes = 512;
constexpr std::uint64_t dynamic_header_bytes = 1024;
namespace vhd_offset {
constexpr std::size_t footer_data_offset = 16;  // 64-bit: where the dynamic header is
constexpr std::size_t first_locator = 576;      // in the dynamic header
constexpr std::size_t locator_code = 0;         // within a 24-byte entry
constexpr std::size_t locator_length = 8;       // bytes of path
constexpr std::size_t locator_data = 16;        // 64-bit file offset of the path
}  // namespace vhd_offset
constexpr std::size_t vhd_locator_count = 8;
constexpr std::size_t vhd_locator_bytes = 24;

constexpr std::uint64_t vhdx_region_tables[] = {192 * 1024, 256 * 1024};
namespace vhdx_offset {
// Region table: "regi", a checksum, the entry count; 32-byte entries from 16.
constexpr std::size_t region_count = 8;
constexpr std::size_t regions = 16;
constexpr std::size_t region_file_offset = 16;  // 64-bit, within an entry
constexpr std::size_t region_length = 24;       // 32-bit
// Metadata table: "metadata", 2 reserved bytes, the entry count; 32-byte
// entries from 32.
constexpr std::size_t item_count = 10;
constexpr std::size_t items = 32;
constexpr std::size_t item_offset = 16;  // 32-bit, from the start of the region
constexpr std::size_t item_length = 20;  // 32-bit
// Parent locator item: its type GUID, 2 reserved bytes, the count of
// key/value pairs; 12-byte pair entries from 20 (key offset, value offset,
// both from the start of the item, then key length and value length).
constexpr std::size_t pair_count = 18;
constexpr std::size_t pairs = 20;
constexpr std::size_t key_offset = 0;
constexpr std::size_t value_offset = 4;
constexpr std::size_t key_length = 8;
constexpr std::size_t value_length = 10;
}  // namespace vhdx_offset
constexpr std::size_t vhdx_entry_bytes = 32;
constexpr std::size_t vhdx_max_entries = 2047;
constexpr std::size_t vhdx_pair_bytes = 12;
constexpr guid_bytes metadata_region = {0x06, 0xA2, 0x7C, 0x8B, 0x90, 0x47, 0x9A, 0x4B,
                                        0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E};
constexpr guid_bytes parent_locator_item = {0x2D, 0x5F, 0xD3, 0xA8, 0x0B, 0xB3, 0x4D, 0x45,
                                            0xAB, 0xF7, 0xD3, 0xD8, 0x48, 0x34, 0xAB, 0x0C};
// The one parent locator type defined: a VHDX parent.
constexpr guid_bytes vhdx_locator_type = {0xB7, 0xEF, 0x4A, 0xB0, 0x9E, 0xD1, 0x81, 0x4A,
                                          0xB7, 0x89, 0x25, 0xB8, 0xE9, 0x44, 0x59, 0x13};
// A Windows path holds at most 32767 UTF-16 units; a locator item holds a
// few such paths.
constexpr std::uint64_t max_path_bytes = 65534;
constexpr std::uint64_t max_locator_item_bytes = 4 * 65536;

// Reads of the child file, refused when they would leave it.
class file_bytes {
 public:
  explicit file_bytes(const std::string& path) : m_descriptor(uni::open_file(path, O_RDONLY, 0)) {
    struct stat status {};
    if (m_descriptor >= 0 && ::fstat(m_descriptor, &status) == 0 && status.st_size > 0) {
      m_size = static_cast<std::uint64_t>(status.st_size);
    }
  }
  ~file_bytes() {
    if (m_descriptor >= 0) ::close(m_descriptor);
  }
  file_bytes(const file_bytes&) = delete;
  file_bytes& operator=(const file_bytes&) = delete;

  std::uint64_t size() const { return m_size; }

  // The `length` bytes at `offset`, or an empty vector.
  std::vector<std::uint8_t> read(std::uint64_t offset, std::uint64_t length) const {
    std::vector<std::uint8_t> bytes;
    if (length == 0 || offset > m_size || length > m_size - offset) return bytes;
    bytes.resize(length);
    if (uni::pread_fully(m_descriptor, bytes.data(), bytes.size(), offset) != static_cast<std::int64_t>(length)) {
      bytes.clear();
    }
    return bytes;
  }

 private:
  int m_descriptor;
  std::uint64_t m_size = 0;
};

bool starts_with(std::span<const std::uint8_t> bytes, const char* text) {
  const std::size_t length = std::strlen(text);
  return bytes.size() >= length && std::memcmp(bytes.data(), text, length) == 0;
}

bool same_guid(std::span<const std::uint8_t> bytes, const guid_bytes& guid) {
  return bytes.size() == guid.size() && std::equal(guid.begin(), guid.end(), bytes.begin());
}

// UTF-16LE text as UTF-8, cut at a NUL (some writers pad with them); "" when
// it is not valid UTF-16.
std::string path_text(std::span<const std::uint8_t> utf16le) {
  std::string text;
  if (!uni::utf16_to_utf8(utf16le, text)) return "";
  text.resize(std::min(text.size(), text.find('\0')));
  return text;
}

std::string vhd_relative_path(const file_bytes& file) {
  std::vector<std::uint8_t> footer = file.read(file.size() - std::min(file.size(), footer_bytes), footer_bytes);
  if (!starts_with(footer, "conectix")) footer = file.read(0, footer_bytes);
  if (!starts_with(footer, "conectix")) return "";
  const std::vector<std::uint8_t> header =
      file.read(support::byte_reader(footer).be64(vhd_offset::footer_data_offset), dynamic_header_bytes);
  if (!starts_with(header, "cxsparse")) return "";
  support::byte_reader h(header);
  for (std::size_t i = 0; i < vhd_locator_count; ++i) {
    const std::size_t entry = vhd_offset::first_locator + i * vhd_locator_bytes;
    if (!starts_with(h.sub(entry + vhd_offset::locator_code, 4), "W2ru")) continue;
    const std::uint64_t length = h.be32(entry + vhd_offset::locator_length);
    if (length > max_path_bytes) continue;
    const std::string text = path_text(file.read(h.be64(entry + vhd_offset::locator_data), length));
    if (!text.empty()) return text;
  }
  return "";
}

// The entry naming `guid` in a VHDX table of 32-byte entries, each starting
// with a GUID, whose first entry is `first` bytes after `table_at`; empty
// when it is not there.
std::vector<std::uint8_t> vhdx_entry(const file_bytes& file, std::uint64_t table_at, std::size_t first,
                                     std::uint64_t count, const guid_bytes& guid) {
  if (count > vhdx_max_entries) return {};
  const std::vector<std::uint8_t> entries = file.read(table_at + first, count * vhdx_entry_bytes);
  support::byte_reader r(entries);
  for (std::size_t i = 0; i < count; ++i) {
    const std::span<const std::uint8_t> entry = r.sub(i * vhdx_entry_bytes, vhdx_entry_bytes);
    if (same_guid(entry.first(std::min(entry.size(), guid.size())), guid)) return {entry.begin(), entry.end()};
  }
  return {};
}

std::string vhdx_relative_path(const file_bytes& file) {
  std::vector<std::uint8_t> region;
  for (const std::uint64_t table_at : vhdx_region_tables) {
    const std::vector<std::uint8_t> head = file.read(table_at, vhdx_offset::regions);
    if (!starts_with(head, "regi")) continue;
    region = vhdx_entry(file, table_at, vhdx_offset::regions,
                        support::byte_reader(head).le32(vhdx_offset::region_count), metadata_region);
    if (!region.empty()) break;
  }
  support::byte_reader r(region);
  const std::uint64_t metadata_at = r.le64(vhdx_offset::region_file_offset);
  const std::uint64_t metadata_length = r.le32(vhdx_offset::region_length);
  if (!r.ok()) return "";
  const std::vector<std::uint8_t> head = file.read(metadata_at, vhdx_offset::items);
  if (!starts_with(head, "metadata")) return "";
  const std::vector<std::uint8_t> entry =
      vhdx_entry(file, metadata_at, vhdx_offset::items, support::byte_reader(head).le16(vhdx_offset::item_count),
                 parent_locator_item);
  support::byte_reader e(entry);
  const std::uint64_t item_at = e.le32(vhdx_offset::item_offset);
  const std::uint64_t item_length = e.le32(vhdx_offset::item_length);
  if (!e.ok() || item_length > max_locator_item_bytes || item_at > metadata_length ||
      item_length > metadata_length - item_at) {
    return "";
  }
  const std::vector<std::uint8_t> item = file.read(metadata_at + item_at, item_length);
  support::byte_reader l(item);
  if (!same_guid(l.sub(0, vhdx_locator_type.size()), vhdx_locator_type)) return "";
  static constexpr std::uint8_t key[] = {'r', 0, 'e', 0, 'l', 0, 'a', 0, 't', 0, 'i', 0, 'v', 0,
                                         'e', 0, '_', 0, 'p', 0, 'a', 0, 't', 0, 'h', 0};
  const std::size_t pairs = l.le16(vhdx_offset::pair_count);
  for (std::size_t i = 0; i < pairs && l.ok(); ++i) {
    const std::size_t pair = vhdx_offset::pairs + i * vhdx_pair_bytes;
    const std::span<const std::uint8_t> name =
        l.sub(l.le32(pair + vhdx_offset::key_offset), l.le16(pair + vhdx_offset::key_length));
    if (!std::equal(name.begin(), name.end(), std::begin(key), std::end(key))) continue;
    return path_text(l.sub(l.le32(pair + vhdx_offset::value_offset), l.le16(pair + vhdx_offset::value_length)));
  }
  return "";
}

}  // namespace

std::string read_relative_parent_path(const std::string& path) {
  const file_bytes file(path);
  return starts_with(file.read(0, 8), "vhdxfile") ? vhdx_relative_path(file) : vhd_relative_path(file);
}

}  // namespace storage
