// Checking the disks named by -vmdk before the run: every file must open as
// a VMware disk (a sparse extent with its descriptor, or a descriptor file
// and its extents), and every snapshot's parent must be among them or
// be found through the parent file name hint the snapshot carries.
#pragma once

#include <string>
#include <vector>

#include "storage/vmdk_disk.h"
#include "support/utf.h"

namespace storage {

// Report texts; each ends a report line.
inline constexpr const char* vmdk_cant_be_opened = " can't be opened";  // after the path
inline constexpr const char* vmdk_cid_errors = "Child VMDK CID errors, aborting";
inline constexpr const char* vmdk_missing_parent = "Child VMDK points to a parent VMDK that doesn't exist, aborting";
inline constexpr const char* vmdk_mapping_failed = "prob creating virtual vmware disk mapping";

// Opens the files of `paths` (absolute paths, any order), finds parents that
// are missing through the hints, and links the set. True when the set forms
// one chain; `chain_paths` then lists the given files (each once) followed
// by the parents found, to be opened with disk_reader(vmdk_chain_paths{...}).
//
// `report` gets one line (ending in a newline) per finding:
//   "<path> can't be opened"                  a file does not open or parse
//   "Child VMDK CID errors, aborting"         a disk names itself as parent,
//       two files share a content id, a hinted parent's content id is not
//       the one the snapshot names, or the set is not one line of disks
//   "Child VMDK points to a parent VMDK that doesn't exist, aborting"
//   "=> vmdk file: <child>" and " depends on parent vmdk <parent>", for
//       each parent found through a hint (not a failure)
//   "prob creating virtual vmware disk mapping"   out of memory
bool check_chain(const std::vector<uni::wide_string>& paths, std::string& report,
                 std::vector<uni::wide_string>& chain_paths);

// Where to look for a snapshot's parent, in order: the hint itself (taken in
// the snapshot's folder when it names no folder, or a relative one), then a
// file of the hint's name in the snapshot's folder. The hint's folders are
// separated by "\" when the descriptor's encoding names a Windows code page,
// by "/" otherwise.
std::vector<uni::wide_string> parent_path_candidates(const vmdk_disk& child);

}  // namespace storage
