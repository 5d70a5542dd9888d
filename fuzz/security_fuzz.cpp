// $SDS entries and self-relative security descriptors: headers, SIDs, ACLs
// and ACEs, and the descriptor text the record dump prints.
#include <cstddef>
#include <cstdint>

#include "ntfs/secure_sds.h"
#include "ntfs/security_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  ntfs::sds_record record;
  ntfs::parse_sds_entry(bytes, record, true);
  static std::string text;
  static ntfs::descriptor_scratch scratch;
  text.clear();
  ntfs::descriptor_to_text(text, bytes, "  ", scratch);
  ntfs::security_table table;
  if (table.build(bytes, true)) {
    for (const auto& [id, entry] : table.records()) (void)ntfs::lookup_owner_sid(table, id);
  }
  return 0;
}
