#include "app/output_paths.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "storage/disk_reader.h"

namespace app {

namespace {

std::string folder_part(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

std::vector<std::string> source_paths(const run_options& options) {
  std::vector<std::string> paths;
  for (const uni::wide_string* path : {&options.mft_file_path, &options.volume_image_path, &options.disk_image_path,
                                       &options.partition_path, &options.mounted_vmdk_path}) {
    if (!path->empty()) paths.push_back(uni::wide_to_utf8(*path));
  }
  for (const auto& disk : options.vmdk_chain) paths.push_back(uni::wide_to_utf8(disk));
  paths.insert(paths.end(), options.container_files.begin(), options.container_files.end());
  // An extracted change journal or INDX stream is evidence too.
  for (const std::string* path : {&options.evidence.journal_file, &options.evidence.index_file}) {
    if (!path->empty()) paths.push_back(*path);
  }
  if (options.drive_number != 0xFFFFFFFF) paths.push_back(storage::drive_device_path(options.drive_number));
  return paths;
}

bool same_file(const std::string& output, const std::string& source) {
  struct stat out {}, in {};
  if (output.empty() || source.empty()) return false;
  if (::stat(output.c_str(), &out) != 0 || ::stat(source.c_str(), &in) != 0) return false;
  if (out.st_dev == in.st_dev && out.st_ino == in.st_ino) return true;
  // Two nodes for one block device (/dev/sdb and a /dev/disk/by-id link's
  // target are one node, but a copy made with mknod is another).
  return S_ISBLK(out.st_mode) && S_ISBLK(in.st_mode) && out.st_rdev == in.st_rdev;
}

bool could_write(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) return !S_ISDIR(status.st_mode) && ::access(path.c_str(), W_OK) == 0;
  const std::string folder = folder_part(path);
  return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

int prepare_outputs(run_options& options) {
  std::vector<std::string> outputs;
  if (options.results_named) outputs.push_back(options.results_path);
  if (!options.diagnostics_path.empty()) outputs.push_back(options.diagnostics_path);
  if (!options.temp_folder.empty()) outputs.push_back(options.temp_folder);
  if (options.copy_files) outputs.push_back(uni::wide_to_utf8(options.copy_folder));
  for (const std::string& source : source_paths(options)) {
    for (const std::string& output : outputs) {
      if (!same_file(output, source)) continue;
      std::fprintf(stderr, "error: output %s is the source %s, aborting\n", output.c_str(), source.c_str());
      return parse_failed_reported;
    }
  }

  if (!options.diagnostics_path.empty()) {
    if (!options.diagnostics) options.diagnostics = std::make_unique<support::diagnostics_log>();
    const int level = options.diagnostics->level();
    if (!options.diagnostics->open(options.diagnostics_path)) {
      std::fprintf(stderr, "prob opening file %s for output, aborting\n", options.diagnostics_path.c_str());
      return parse_bad_command_line;
    }
    options.diagnostics->set_level(level);
  }
  if (options.results_named && !could_write(options.results_path)) {
    std::fprintf(stderr, "prob opening file %s for output, aborting\n", options.results_path.c_str());
    return parse_bad_command_line;
  }
  if (options.copy_files) {
    const std::string folder = uni::wide_to_utf8(options.copy_folder);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) {
      std::fprintf(stderr, "prob creating results directory, %s\n", folder.c_str());
      return parse_failed_reported;
    }
  }
  return parse_ok;
}

}  // namespace app
