// The volume's shared security descriptors: the "$SDS" stream of $Secure
// (MFT entry 9) and the table from security id to owner SID built from it.
//
// Since NTFS 3.0 a file's $STANDARD_INFORMATION carries a security id (u32
// at 52) instead of a descriptor of its own; the descriptor is stored once
// per volume in "$SDS". Each entry there, aligned to 16 bytes:
//   hash u32 at 0, security id u32 at 4, offset of this entry within the
//   stream u64 at 8, entry length u32 at 16 (header included), the
//   self-relative descriptor from 20.
// The stream is written in 256 KiB blocks, each followed by a mirror copy of
// itself; the copies keep the offset of their original, which is how they
// are told apart and skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "ntfs/cluster_source.h"
#include "ntfs/record_source.h"
#include "ntfs/security_descriptor.h"

namespace ntfs {

class ntfs_volume;

namespace sds_offset {
inline constexpr std::size_t hash = 0;
inline constexpr std::size_t security_id = 4;
inline constexpr std::size_t entry_offset = 8;
inline constexpr std::size_t entry_length = 16;
inline constexpr std::size_t descriptor = 20;
}  // namespace sds_offset
inline constexpr std::size_t sds_header_bytes = 20;
inline constexpr std::size_t sds_alignment = 16;
// Shorter entries cannot hold a descriptor with an owner and are not taken.
inline constexpr std::uint32_t sds_min_entry_length = 41;

inline constexpr std::uint64_t secure_entry = 9;  // $Secure

// One security id's descriptor, as kept by the table.
struct sds_record {
  std::uint64_t stream_offset = 0;  // bytes into "$SDS"
  std::uint32_t security_id = 0;
  std::uint32_t hash = 0;
  std::string owner_sid;  // SID text; empty when absent or unreadable
  std::string group_sid;
  // Filled only when asked for (see security_table::load): the ACLs of every
  // descriptor of a large volume take far more memory than the owners.
  ace_table sacl;
  ace_table dacl;
};

// Fills `out` from the $SDS entry at the start of `entry` (the bytes from the
// entry to the end of the stream at most). False when the bytes are fewer
// than the header or than the entry's own length field says, or that length
// is shorter than the header. Owner and group SIDs are converted when their
// offsets are non-zero (an unreadable one stays empty); with `with_acls` the
// SACL and DACL are parsed too.
bool parse_sds_entry(std::span<const std::uint8_t> entry, sds_record& out, bool with_acls = true);

// Security id -> descriptor summary for one volume. Empty until loaded; a
// failed load leaves it empty and may be retried.
class security_table {
 public:
  // Scans a whole "$SDS" stream from offset 0: the entry at position p is
  // taken when its offset field equals p, its length exceeds 40 and it ends
  // inside the stream; p then moves on by the length rounded up to 16.
  // Anything else moves p on by 16. A security id seen again keeps its first
  // entry. Replaces the contents; true when the table is not empty.
  bool build(std::span<const std::uint8_t> sds_stream, bool with_acls = false);

  // Reads "$SDS" of entry 9 through `records` and `clusters` and builds the
  // table from it. Does nothing and returns true when the table is already
  // filled. False (table empty) when the record, the stream or any valid
  // entry is missing.
  bool load(record_source& records, cluster_source& clusters, bool with_acls = false);

  bool empty() const { return m_records.empty(); }
  std::size_t size() const { return m_records.size(); }
  const std::map<std::uint32_t, sds_record>& records() const { return m_records; }
  void clear() { m_records.clear(); }

  // The entry of `security_id`, or null.
  const sds_record* find(std::uint32_t security_id) const;

 private:
  std::map<std::uint32_t, sds_record> m_records;
};

// The table of a validated volume (see security_table::load).
bool load_security_table(ntfs_volume& volume, security_table& table, bool with_acls = false);

// The owner SID text of `security_id` (the u32 at 52 of a record's
// $STANDARD_INFORMATION), or null when the table is empty or lacks the id.
const std::string* lookup_owner_sid(const security_table& table, std::uint32_t security_id);

}  // namespace ntfs
