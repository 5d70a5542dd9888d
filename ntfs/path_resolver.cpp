#include "ntfs/path_resolver.h"

#include <algorithm>
#include <utility>

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
  if (!fill_node(record, record.entry, m_node_scratch)) return;
  const auto key = file_reference::make(record.entry, effective_sequence(m_node_scratch));
  bool added = false;
  path_cache_node& kept = m_nodes.slot_for(key.value, added);
  if (added) std::swap(kept, m_node_scratch);
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
  if (const path_cache::resolved_path* found = cache.m_resolved.find(parent.value)) {
    ok = found->ok;
    return found->text;
  }

  static const std::string corrupted = path_corrupted_text;
  auto& components = cache.m_components;
  std::size_t depth = 0;
  const auto push_component = [&](const std::string& name) {
    if (depth == components.size()) components.emplace_back();
    components[depth++].assign(name);
  };
  auto& visited = cache.m_visited;
  visited.clear();

  file_reference current = parent;
  ok = true;
  while (current.entry() != root_directory_entry) {
    const file_reference previous = current;
    if (const path_cache_node* hit = cache.m_nodes.find(current.value)) {
      push_component(hit->name);
      current = hit->parents.front();
    } else {
      if (context.log) context.log->write("... trying to resolve [next] parent subdir ...");
      path_cache_node& node = cache.m_node_scratch;
      // A parent that cannot be read is a broken chain like any other: the
      // file must not appear to sit in the root.
      if (!read_directory_node(current.entry(), context, cache, node)) {
        push_component(corrupted);
        ok = false;
        break;
      }
      if (!(node.flags & record_flag_directory)) {
        push_component(corrupted);
        ok = false;
        break;
      }
      const std::uint16_t sequence = effective_sequence(node);
      std::uint16_t expected = current.sequence();
      if (expected == 0) {
        expected = sequence;
      } else if (expected != sequence) {
        push_component(corrupted);
        ok = false;
        break;
      }
      const auto key = file_reference::make(current.entry(), expected);
      bool added = false;
      path_cache_node& kept = cache.m_nodes.slot_for(key.value, added);
      if (added) std::swap(kept, node);
      push_component(kept.name);
      current = kept.parents.front();
    }
    // A chain that comes back on itself, or a directory that names itself as
    // its parent (other than the root), can never reach the root.
    const bool seen = !visited.insert(current.value).second;
    if (seen || current == previous) {
      push_component(corrupted);
      ok = false;
      break;
    }
  }

  bool added = false;
  path_cache::resolved_path& kept = cache.m_resolved.slot_for(parent.value, added);
  kept.ok = ok;
  std::string& text = kept.text;
  text.assign(path_root_text).push_back('\\');
  while (depth > 0) {
    const std::string& part = components[--depth];
    if (part.empty() || part == ".") continue;
    text.append(part).push_back('\\');
  }
  return text;
}

}  // namespace ntfs
