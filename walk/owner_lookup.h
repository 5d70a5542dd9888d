// The owner SID of a record: from the volume's shared descriptors in
// $Secure:$SDS by the security id in $STANDARD_INFORMATION, or from the
// record's own resident $SECURITY_DESCRIPTOR (older volumes, and files
// written by drivers that keep a descriptor per file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/secure_sds.h"

namespace walk {

class owner_lookup {
 public:
  // Reads $Secure of the volume once; without a volume only records with
  // their own descriptor have an owner.
  void volume_opened(ntfs::ntfs_volume* volume);
  // The owner SID text, or false.
  bool owner_of(const ntfs::mft_record& record, std::string& out) const;
  // Owner and group from the volume's shared descriptors only, as the
  // record dump shows them; false when $Secure lacks the record's id.
  bool shared_owner_and_group(const ntfs::mft_record& record, std::string& owner, std::string& group) const;

 private:
  ntfs::security_table m_table;
  ntfs::ntfs_volume* m_volume = nullptr;
  mutable std::vector<std::uint8_t> m_descriptor;  // a non-resident descriptor, read
};

}  // namespace walk
