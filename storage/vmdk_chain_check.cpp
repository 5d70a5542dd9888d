#include "storage/vmdk_chain_check.h"

#include <algorithm>
#include <memory>
#include <new>

#include "storage/vmdk_chain.h"
#include "storage/vmdk_descriptor.h"

namespace storage {

namespace {

bool names_windows_code_page(const std::string& encoding) {
  std::string lower = encoding;
  uni::ascii_to_lower(lower);
  return lower.find("windows") != std::string::npos;
}

std::string joined(const std::string& folder, const std::string& name) {
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

void report_line(std::string& report, const std::string& text) {
  report += text;
  report += '\n';
}

}  // namespace

std::vector<uni::wide_string> parent_path_candidates(const vmdk_disk& child) {
  std::vector<uni::wide_string> candidates;
  const bool windows = names_windows_code_page(child.encoding());
  // A Windows code page hint is read as Latin-1, close enough for the file
  // names a VMware host writes; otherwise the hint is UTF-8 already.
  std::string hint = windows ? uni::latin1_to_utf8(child.parent_file_name_hint()) : child.parent_file_name_hint();
  if (hint.empty()) return candidates;
  const char separator = windows ? '\\' : '/';
  const std::string folder = folder_of(child.narrow_path());

  const std::size_t last = hint.rfind(separator);
  const std::string name = last == std::string::npos ? hint : hint.substr(last + 1);
  std::string first;
  if (last == std::string::npos) {
    first = joined(folder, hint);
  } else {
    if (windows) std::replace(hint.begin(), hint.end(), '\\', '/');
    first = hint.front() == '/' ? hint : joined(folder, hint);
  }
  candidates.push_back(uni::to_wide(first));
  if (!name.empty()) {
    const std::string second = joined(folder, name);
    if (second != first) candidates.push_back(uni::to_wide(second));
  }
  return candidates;
}

namespace {

enum class parent_search { found, missing, wrong_content_id };

// Opens the first candidate that is a disk with the content id `child`
// names as its parent.
parent_search find_parent(const vmdk_disk& child, std::unique_ptr<vmdk_disk>& parent) {
  bool opened_any = false;
  for (const auto& candidate : parent_path_candidates(child)) {
    auto disk = std::make_unique<vmdk_disk>();
    if (!disk->open_disk(candidate)) continue;
    opened_any = true;
    if (!same_content_id(disk->content_id(), child.parent_content_id())) continue;
    parent = std::move(disk);
    return parent_search::found;
  }
  return opened_any ? parent_search::wrong_content_id : parent_search::missing;
}

bool check_chain_unguarded(const std::vector<uni::wide_string>& paths, std::string& report,
                           std::vector<uni::wide_string>& chain_paths) {
  vmdk_chain chain;
  // The disks in the order given, then the parents found; parents of the
  // parents are searched as they are added.
  std::vector<vmdk_disk*> disks;
  for (const auto& path : paths) {
    auto disk = std::make_unique<vmdk_disk>();
    if (!disk->open_disk(path)) {
      // A subformat or extent that cannot be read is named.
      const std::string reason = disk->failure().empty() ? "" : ": " + disk->failure();
      report_line(report, uni::wide_to_utf8(path) + vmdk_cant_be_opened + reason);
      return false;
    }
    if (same_content_id(disk->content_id(), disk->parent_content_id())) {
      report_line(report, vmdk_cid_errors);
      return false;
    }
    vmdk_disk* added = disk.get();
    switch (chain.add_disk(std::move(disk))) {
      case vmdk_chain::add_result::same_file:
        continue;
      case vmdk_chain::add_result::content_id_taken:
        report_line(report, vmdk_cid_errors);
        return false;
      case vmdk_chain::add_result::added:
        break;
    }
    disks.push_back(added);
    chain_paths.push_back(path);
  }

  for (std::size_t i = 0; i < disks.size(); ++i) {
    const vmdk_disk& child = *disks[i];
    if (same_content_id(child.parent_content_id(), base_parent_content_id)) continue;
    if (chain.find(child.parent_content_id()) != nullptr) continue;
    std::unique_ptr<vmdk_disk> parent;
    switch (find_parent(child, parent)) {
      case parent_search::missing:
        report_line(report, vmdk_missing_parent);
        return false;
      case parent_search::wrong_content_id:
        report_line(report, vmdk_cid_errors);
        return false;
      case parent_search::found:
        break;
    }
    if (same_content_id(parent->content_id(), parent->parent_content_id())) {
      report_line(report, vmdk_cid_errors);
      return false;
    }
    report_line(report, "=> vmdk file: " + child.narrow_path());
    report_line(report, " depends on parent vmdk " + parent->narrow_path());
    vmdk_disk* added = parent.get();
    chain_paths.push_back(parent->path());
    // Its content id was not in the set, so it is added.
    chain.add_disk(std::move(parent));
    disks.push_back(added);
  }

  if (!chain.link_chain()) {
    report_line(report, vmdk_cid_errors);
    return false;
  }
  return true;
}

}  // namespace

bool check_chain(const std::vector<uni::wide_string>& paths, std::string& report,
                 std::vector<uni::wide_string>& chain_paths) {
  chain_paths.clear();
  if (paths.empty()) return false;
  try {
    if (check_chain_unguarded(paths, report, chain_paths)) return true;
  } catch (const std::bad_alloc&) {
    report_line(report, vmdk_mapping_failed);
  }
  chain_paths.clear();
  return false;
}

}  // namespace storage
