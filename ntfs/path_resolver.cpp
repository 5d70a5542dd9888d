#include "ntfs/path_resolver.h"

#include <algorithm>

namespace ntfs {

void path_cache::clear() {
  m_nodes.clear();
  m_resolved.clear();
}

namespace {

bool fill_node(const mft_record& record, entry_number entry, path_cache_node& node) {
  const file_name_entry* best = best_file_name(record, entry);
  if (!best || record.parents.empty()) return false;
  node.entry = entry;
  node.sequence = record.sequence;
  node.flags = record.header.flags;
  node.name = best->name_utf8;
  node.parents.clear();
  for (const auto& link : record.parents) node.parents.push_back(link.parent);  // already ascending
  return true;
}

// Freeing a record raises its sequence number; a deleted directory that was
// not reused is still the parent its children name.
std::uint16_t effective_sequence(const path_cache_node& node) {
  if (!(node.flags & record_flag_in_use) && node.sequence != 0) return node.sequence - 1;
  return node.sequence;
}

}  // namespace

void path_cache::remember_directory(const mft_record& record) {
  if (!record.header.is_directory() || record.header.kind != record_kind::file) return;
  path_cache_node node;
  if (!fill_node(record, record.entry, node)) return;
  const auto key = file_reference::make(record.entry, effective_sequence(node));
  m_nodes.try_emplace(key.value, std::move(node));
}

bool read_directory_node(entry_number entry, record_context& context, path_cache& cache, path_cache_node& node) {
  mft_record& record = cache.m_scratch;
  if (!read_file_record(record, context, entry, false, read_intent::random)) return false;
  return fill_node(record, entry, node);
}

bool resolve_parent_path(std::string& path_out, file_reference parent, record_context& context, path_cache& cache) {
  bool ok = false;
  path_out = resolved_parent_path(parent, context, cache, ok);
  return ok;
}

std::string_view resolved_parent_path(file_reference parent, record_context& context, path_cache& cache, bool& ok) {
  ok = false;
  if (parent.is_none()) return {};
  if (auto found = cache.m_resolved.find(parent.value); found != cache.m_resolved.end()) {
    ok = found->second.ok;
    return found->second.text;
  }

  static const std::string corrupted = path_corrupted_text;
  auto& components = cache.m_components;
  auto& visited = cache.m_visited;
  components.clear();
  visited.clear();

  file_reference current = parent;
  ok = true;
  std::string path_out;
  while (current.entry() != root_directory_entry) {
    const file_reference previous = current;
    auto hit = cache.m_nodes.find(current.value);
    if (hit != cache.m_nodes.end()) {
      components.push_back(&hit->second.name);
      current = hit->second.parents.front();
    } else {
      if (context.log) context.log->write("... trying to resolve [next] parent subdir ...");
      path_cache_node node;
      // A parent that cannot be read is a broken chain like any other: the
      // file must not appear to sit in the root.
      if (!read_directory_node(current.entry(), context, cache, node)) {
        components.push_back(&corrupted);
        ok = false;
        break;
      }
      if (!(node.flags & record_flag_directory)) {
        components.push_back(&corrupted);
        ok = false;
        break;
      }
      const std::uint16_t sequence = effective_sequence(node);
      std::uint16_t expected = current.sequence();
      if (expected == 0) {
        expected = sequence;
      } else if (expected != sequence) {
        components.push_back(&corrupted);
        ok = false;
        break;
      }
      const auto key = file_reference::make(current.entry(), expected);
      auto [inserted, added] = cache.m_nodes.emplace(key.value, std::move(node));
      components.push_back(&inserted->second.name);
      current = inserted->second.parents.front();
    }
    // A chain that comes back on itself, or a directory that names itself as
    // its parent (other than the root), can never reach the root.
    const bool seen = !visited.insert(current.value).second;
    if (seen || current == previous) {
      components.push_back(&corrupted);
      ok = false;
      break;
    }
  }

  path_out.append(path_root_text).push_back('\\');
  for (auto it = components.rbegin(); it != components.rend(); ++it) {
    const std::string& part = **it;
    if (part.empty() || part == ".") continue;
    path_out.append(part).push_back('\\');
  }
  auto [kept, added] = cache.m_resolved.emplace(parent.value, path_cache::resolved_path{std::move(path_out), ok});
  return kept->second.text;
}

}  // namespace ntfs
