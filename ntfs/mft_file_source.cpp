#include "ntfs/mft_file_source.h"

#include <array>
#include <cstring>

#include "ntfs/record_header.h"
#include "support/byte_reader.h"

namespace ntfs {

bool mft_file_source::open(const uni::wide_string& path) {
  close();
  if (!m_file.open(path, false)) return false;
  m_file.advise_sequential();
  return true;
}

void mft_file_source::close() {
  m_file.close();
  m_extensions = std::make_shared<extension_index>();
  m_record_size = 0;
  m_window_length = 0;
  m_window_offset = 0;
}

bool mft_file_source::record_size(std::uint32_t& size_bytes) {
  if (m_record_size == 0) {
    // The first record's update-sequence count gives the record size: one
    // entry per 512-byte stride plus the sequence number itself.
    std::array<std::uint8_t, 1024> first{};
    const std::int64_t got = m_file.read_at(0, first.data(), first.size());
    if (got < static_cast<std::int64_t>(record_offset::update_sequence_count + 2)) return false;
    support::byte_reader r(std::span<const std::uint8_t>(first.data(), static_cast<std::size_t>(got)));
    const std::uint16_t count = r.le16(record_offset::update_sequence_count);
    // Nine entries (4096-byte records) is the largest a valid header allows.
    if (count < 2 || count > 9) return false;
    m_record_size = record_size_from_count(count);
  }
  size_bytes = m_record_size;
  return true;
}

std::uint64_t mft_file_source::record_capacity() {
  std::uint32_t size = 0;
  if (!record_size(size)) return 0;
  return m_file.size() / size;
}

bool mft_file_source::read_record(entry_number entry, std::span<std::uint8_t> out, read_intent intent) {
  if (!m_file.is_open() || out.empty()) return false;
  const std::uint64_t size = out.size();
  if (entry > (~0ULL - size) / size) return false;
  const std::uint64_t offset = entry * size;
  if (offset + size > m_file.size()) return false;

  const auto window_holds = [&] {
    return offset >= m_window_offset && offset + size <= m_window_offset + m_window_length;
  };
  if (!window_holds()) {
    if (intent == read_intent::random) {
      return m_file.read_at(offset, out.data(), out.size()) == static_cast<std::int64_t>(size);
    }
    m_window.resize(window_bytes);
    const std::int64_t got = m_file.read_at(offset, m_window.data(), m_window.size());
    if (got <= 0) {
      m_window_length = 0;
      return false;
    }
    m_window_offset = offset;
    m_window_length = static_cast<std::size_t>(got);
    if (!window_holds()) return false;
  }
  std::memcpy(out.data(), m_window.data() + (offset - m_window_offset), out.size());
  return true;
}

}  // namespace ntfs

namespace ntfs {

bool mft_file_source::extension_records_of(entry_number base, std::vector<entry_number>& out) {
  out.clear();
  std::uint32_t size = 0;
  if (!m_file.is_open() || !record_size(size)) return false;
  extension_index& index = *m_extensions;
  std::call_once(index.built, [&] {
    // The base reference sits in the first stride of the record, before any
    // fixup position, so the raw bytes can be read as they are.
    std::vector<std::uint8_t> chunk(window_bytes - window_bytes % size);
    for (std::uint64_t offset = 0; offset < m_file.size(); offset += chunk.size()) {
      const std::int64_t got = m_file.read_at(offset, chunk.data(), chunk.size());
      if (got <= 0) break;
      for (std::size_t at = 0; at + size <= static_cast<std::size_t>(got); at += size) {
        const auto record = std::span<const std::uint8_t>(chunk).subspan(at, size);
        if (std::memcmp(record.data(), "FILE", 4) != 0) continue;
        support::byte_reader r(record);
        const file_reference owner{r.le64(record_offset::base_record)};
        if (owner.value == 0) continue;
        index.bases[owner.entry()].push_back((offset + at) / size);
      }
    }
  });
  if (auto found = index.bases.find(base); found != index.bases.end()) out = found->second;
  return true;
}

}  // namespace ntfs
