// An extracted $MFT file as a source of file records.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "ntfs/record_source.h"
#include "support/file_io.h"

namespace ntfs {

class mft_file_source final : public record_source {
 public:
  // Bytes read at a time during a sequential walk: few enough that the
  // window is still in the core's cache when its records are copied out,
  // which costs less than the extra reads (measured against 256 KiB).
  static constexpr std::size_t window_bytes = 64 * 1024;

  bool open(const uni::wide_string& path);
  void close();
  bool is_open() const { return m_file.is_open(); }
  const uni::wide_string& path() const { return m_file.path(); }
  std::uint64_t file_size_bytes() const { return m_file.size(); }

  bool is_bare_mft_file() const override { return true; }
  bool record_size(std::uint32_t& size_bytes) override;
  bool read_record(entry_number entry, std::span<std::uint8_t> out, read_intent intent) override;
  std::uint64_t record_capacity() override;
  bool extension_records_of(entry_number base, std::vector<entry_number>& out) override;

  // Shares `other`'s index of extension records (one pass over the file,
  // made by whichever source needs it first), so that several readers of
  // one file on several threads build it once.
  void share_extension_index(const mft_file_source& other) { m_extensions = other.m_extensions; }

 private:
  uni::fileio m_file;
  std::uint32_t m_record_size = 0;  // bytes; 0 until learnt
  std::vector<std::uint8_t> m_window;
  std::uint64_t m_window_offset = 0;  // bytes into the file
  std::size_t m_window_length = 0;    // bytes held
  // Base entry to its extension records; built by one pass over the file the
  // first time it is needed.
  struct extension_index {
    std::once_flag built;
    std::unordered_map<entry_number, std::vector<entry_number>> bases;
  };
  std::shared_ptr<extension_index> m_extensions = std::make_shared<extension_index>();
};

}  // namespace ntfs
