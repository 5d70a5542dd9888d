#include "app/source_options.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/image_verification.h"
#include "app/option_values.h"
#include "ntfs/ntfs_volume.h"
#include "storage/container_image.h"
#include "storage/disk_reader.h"
#include "storage/vmdk_chain_check.h"
#include "storage/volume_selection.h"

namespace app {
namespace {

// An absolute, "/"-separated form of `path`; empty when it cannot be made.
std::string absolute_path(const std::string& path) {
  if (path.empty()) return {};
  std::error_code error;
  const auto full = std::filesystem::absolute(path, error);
  if (error) return {};
  return full.lexically_normal().string();
}

// Chooses the NTFS volume on an opened disk or volume. A refusal prints
// what the disk holds instead.
bool choose_volume(run_options& options, storage::disk_reader& reader) {
  std::string report;
  bool found = false;
  std::uint64_t offset = options.volume_offset;
  if (!storage::select_volume(report, found, offset, reader, options.ignore_image_size && options.offset_given)) {
    std::fprintf(stderr, "%s\n", report.c_str());
    return false;
  }
  options.volume_offset = offset;
  return true;
}

// The container's acquisition details as one "label: value; ..." line.
std::string details_of(const storage::container_image& container) {
  std::string line;
  for (const auto& [label, value] : container.metadata()) {
    if (!line.empty()) line += "; ";
    line += label + ": " + value;
  }
  return line;
}

// -image and -mounted_vmdk: a file holding a disk or a single volume, plain
// or in a container.
bool take_disk_file(run_options& options, const std::string& path, bool mounted_vmdk, bool verify) {
  const std::string absolute = absolute_path(path);
  if (absolute.empty()) {
    std::fprintf(stderr, "prob reading: %s, aborting\n", path.c_str());
    return false;
  }
  storage::disk_reader reader(uni::to_wide(absolute));
  if (!reader.failure().empty()) {
    std::fprintf(stderr, "error: %s\n", reader.failure().c_str());
    return false;
  }
  if (!reader.is_open()) {
    std::fprintf(stderr, "invalid image: %s\n", absolute.c_str());
    return false;
  }
  if (const storage::container_image* container = reader.container()) {
    options.container_kind = container->kind_name();
    options.container_files = container->member_files();
    options.image_details = details_of(*container);
  }
  if (verify) {
    std::string note;
    if (!verify_image_digest(reader, note)) return false;
    options.image_details += (options.image_details.empty() ? "" : "; ") + note;
  }
  if (!choose_volume(options, reader)) return false;
  if (mounted_vmdk) {
    options.mounted_vmdk_path = uni::to_wide(absolute);
  } else if (!options.offset_given && options.volume_offset == 0) {
    options.volume_image_path = uni::to_wide(absolute);
  } else {
    options.disk_image_path = uni::to_wide(absolute);
  }
  return true;
}

bool take_drive(run_options& options, const std::string& text) {
  std::uint64_t number = 0;
  if (!parse_number(text, number) || number >= 0xFFFFFFFFULL) {
    std::fprintf(stderr, "error: -drivenum needs a number, not '%s'\n", text.c_str());
    return false;
  }
  storage::disk_reader reader(storage::physical_drive{static_cast<std::uint32_t>(number)});
  if (!reader.is_open()) {
    std::fprintf(stderr, "problems accessing physical disk #%u, aborting \n", static_cast<unsigned>(number));
    return false;
  }
  if (!choose_volume(options, reader)) return false;
  options.drive_number = static_cast<std::uint32_t>(number);
  return true;
}

// -vmdk "disk1 | disk2 | ...": the files of one VMware sparse disk and its
// snapshots, in any order; parents missing from the list are looked for
// through the hints the snapshots carry.
bool take_vmdk(run_options& options, const std::string& value) {
  std::vector<uni::wide_string> given;
  std::size_t from = 0;
  while (from <= value.size()) {
    std::size_t end = value.find_first_of("|,;", from);
    if (end == std::string::npos) end = value.size();
    std::string piece = value.substr(from, end - from);
    const auto first = piece.find_first_not_of(" \t");
    piece = first == std::string::npos ? "" : piece.substr(first, piece.find_last_not_of(" \t") - first + 1);
    if (!piece.empty()) given.push_back(uni::to_wide(absolute_path(piece)));
    from = end + 1;
  }
  std::string report;
  std::vector<uni::wide_string> chain;
  const bool linked = !given.empty() && storage::check_chain(given, report, chain);
  if (!report.empty()) std::fputs(report.c_str(), stderr);
  if (!linked) {
    if (report.empty()) std::fprintf(stderr, "invalid disk collection of snaps \n");
    return false;
  }
  storage::disk_reader disk(storage::vmdk_chain_paths{chain});
  if (!disk.is_open()) {
    std::fprintf(stderr, "invalid disk collection of snaps \n");
    return false;
  }
  if (!choose_volume(options, disk)) return false;
  options.vmdk_given = std::move(given);
  options.vmdk_chain = std::move(chain);
  return true;
}

}  // namespace

bool take_partition(run_options& options, const std::string& path) {
  const std::string absolute = path.rfind("/dev/", 0) == 0 ? path : absolute_path(path);
  bool usable = false;
  if (!absolute.empty()) {
    storage::disk_reader reader(uni::to_wide(absolute));
    if (reader.is_open()) {
      ntfs::ntfs_volume volume(reader, 0);
      usable = volume.validate();
    }
  }
  if (!usable) {
    std::fprintf(stderr, "prob validating volume %s as a NTFS partition, aborting...\n", path.c_str());
    return false;
  }
  options.partition_path = uni::to_wide(absolute);
  options.source_kind = absolute.rfind("/dev/", 0) == 0 ? 35 : 32;
  return true;
}

namespace {

int check_first_source(run_options& options, argument_list& arguments) {
  std::string value;
  const bool verify = arguments.flag("-verify_image");
  if (arguments.value("-image", value)) return take_disk_file(options, value, false, verify) ? 0 : -1;
  if (verify) {
    std::fputs("error: -verify_image needs an -image whose container stores a digest (E01)\n", stderr);
    return -1;
  }
  if (arguments.value("-mounted_vmdk", value)) return take_disk_file(options, value, true, false) ? 0 : -1;
  if (arguments.value("-drivenum", value)) return take_drive(options, value) ? 0 : -1;
  if (arguments.value("-vmdk", value)) return take_vmdk(options, value) ? 0 : -1;
  if (arguments.value("-indxfile", value)) {
    options.indx_file_path = value;
    return 0;
  }
  return 1;
}

}  // namespace

int check_source_options(run_options& options, argument_list& arguments) {
  const int first = check_first_source(options, arguments);
  // Sources after the first are never opened (their order of precedence is
  // documented); they are taken off the list as used.
  std::string value;
  for (const char* option : {"-mounted_vmdk", "-drivenum", "-vmdk", "-indxfile"}) {
    while (arguments.value(option, value)) {
    }
  }
  if (first != 1) return first;
  if (options.partition_path.empty() && options.mft_file_path.empty()) {
    std::fprintf(stderr,
                 "error: need to specify at least an input source [-mftfile, -image, -drivenum, -partition, -vmdk]\n");
    return -3;
  }
  return 0;
}

}  // namespace app
