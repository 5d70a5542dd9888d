// A map from 64-bit keys to values that holds at most a fixed number of
// entries and forgets the least recently used one to make room. Slots live
// in one deque linked into a recency list by index, so a full cache reuses
// the evicted slot (and the heap buffers of its value) for the newcomer.
//
// Once new_epoch() has been called, entries used since its last call are
// never evicted: a caller that hands out references to several values at
// once (the paths of one record's names) keeps them valid by opening an
// epoch first. The cache grows past its capacity only while every entry
// belongs to the current epoch; a cache whose epoch was never opened pins
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>

namespace support {

template <typename Value>
class lru_cache {
 public:
  explicit lru_cache(std::size_t capacity) : m_capacity(capacity == 0 ? 1 : capacity) {}

  std::size_t size() const { return m_index.size(); }
  std::size_t capacity() const { return m_capacity; }

  void clear() {
    m_index.clear();
    m_slots.clear();
    m_newest = m_oldest = no_slot;
  }

  void new_epoch() { ++m_epoch; }

  // The value under `key`, now the most recently used; null when absent.
  Value* find(std::uint64_t key) {
    const auto found = m_index.find(key);
    if (found == m_index.end()) return nullptr;
    touch(found->second);
    return &m_slots[found->second].value;
  }

  // A slot for `key`, the most recently used: the existing value when the
  // key is present (`added` false), else a value to fill in, reused from the
  // evicted entry when the cache is full (its old contents are left for the
  // caller to overwrite).
  Value& slot_for(std::uint64_t key, bool& added) {
    const auto [found, inserted] = m_index.try_emplace(key, no_slot);
    added = inserted;
    if (!inserted) {
      touch(found->second);
      return m_slots[found->second].value;
    }
    std::uint32_t index;
    if (m_index.size() > m_capacity && (m_epoch == 0 || m_slots[m_oldest].epoch != m_epoch)) {
      index = m_oldest;
      m_index.erase(m_slots[index].key);
      unlink(index);
    } else {
      index = static_cast<std::uint32_t>(m_slots.size());
      m_slots.emplace_back();
    }
    found->second = index;
    m_slots[index].key = key;
    link_newest(index);
    return m_slots[index].value;
  }

 private:
  static constexpr std::uint32_t no_slot = 0xFFFFFFFF;
  struct slot {
    std::uint64_t key = 0;
    std::uint64_t epoch = 0;
    std::uint32_t newer = no_slot;
    std::uint32_t older = no_slot;
    Value value{};
  };

  void unlink(std::uint32_t index) {
    slot& s = m_slots[index];
    if (s.newer != no_slot) m_slots[s.newer].older = s.older; else m_newest = s.older;
    if (s.older != no_slot) m_slots[s.older].newer = s.newer; else m_oldest = s.newer;
    s.newer = s.older = no_slot;
  }

  void link_newest(std::uint32_t index) {
    slot& s = m_slots[index];
    s.epoch = m_epoch;
    s.older = m_newest;
    s.newer = no_slot;
    if (m_newest != no_slot) m_slots[m_newest].newer = index;
    m_newest = index;
    if (m_oldest == no_slot) m_oldest = index;
  }

  void touch(std::uint32_t index) {
    if (index != m_newest) {
      unlink(index);
      link_newest(index);
    } else {
      m_slots[index].epoch = m_epoch;
    }
  }

  std::size_t m_capacity;
  std::uint64_t m_epoch = 0;
  std::deque<slot> m_slots;  // a deque: growing it moves no value
  std::unordered_map<std::uint64_t, std::uint32_t> m_index;
  std::uint32_t m_newest = no_slot;
  std::uint32_t m_oldest = no_slot;
};

}  // namespace support
