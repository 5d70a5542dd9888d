// Containers for the per-record model that keep their storage between
// records: clear() only forgets the elements, so strings and vectors inside
// them keep their capacity and the walk does not allocate per record.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace support {

template <typename T>
class reuse_list {
 public:
  // Returns the next slot. It may hold an earlier record's values: the caller
  // assigns every field.
  T& append() {
    if (m_size == m_items.size()) m_items.emplace_back();
    return m_items[m_size++];
  }
  void drop_last() {
    if (m_size > 0) --m_size;
  }
  void clear() { m_size = 0; }
  std::size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  T& operator[](std::size_t i) { return m_items[i]; }
  const T& operator[](std::size_t i) const { return m_items[i]; }
  T* begin() { return m_items.data(); }
  T* end() { return m_items.data() + m_size; }
  const T* begin() const { return m_items.data(); }
  const T* end() const { return m_items.data() + m_size; }

 private:
  std::vector<T> m_items;
  std::size_t m_size = 0;
};

// An ordered map whose values carry their own key, built on reuse_list.
// Inserting a key that is already present keeps the entry already there.
// KeyOf is a function object returning the key of a value (by value or const
// reference); keys compare with <.
template <typename T, typename KeyOf>
class ordered_table {
 public:
  // Fill the returned slot, then call commit().
  T& begin_insert() { return m_items.append(); }

  // Forgets the slot returned by begin_insert().
  void cancel_insert() { m_items.drop_last(); }

  // Files the slot filled after begin_insert(). Returns the entry that now
  // holds the key and whether the new one was kept.
  std::pair<T*, bool> commit() {
    const std::uint32_t added = static_cast<std::uint32_t>(m_items.size() - 1);
    const auto& key = KeyOf{}(m_items[added]);
    auto at = std::lower_bound(m_order.begin(), m_order.end(), key,
                               [this](std::uint32_t index, const auto& k) { return KeyOf{}(m_items[index]) < k; });
    if (at != m_order.end() && !(key < KeyOf{}(m_items[*at]))) {
      m_items.drop_last();
      return {&m_items[*at], false};
    }
    m_order.insert(at, added);
    return {&m_items[added], true};
  }

  template <typename K>
  T* find(const K& key) {
    auto at = std::lower_bound(m_order.begin(), m_order.end(), key,
                               [this](std::uint32_t index, const K& k) { return KeyOf{}(m_items[index]) < k; });
    if (at != m_order.end() && !(key < KeyOf{}(m_items[*at]))) return &m_items[*at];
    return nullptr;
  }
  template <typename K>
  const T* find(const K& key) const {
    return const_cast<ordered_table*>(this)->find(key);
  }

  void clear() {
    m_items.clear();
    m_order.clear();
  }
  std::size_t size() const { return m_items.size(); }
  bool empty() const { return m_items.empty(); }

  // The first entry in key order.
  const T* first() const { return m_order.empty() ? nullptr : &m_items[m_order.front()]; }
  T* first() { return m_order.empty() ? nullptr : &m_items[m_order.front()]; }

  // Iteration in key order.
  class iterator {
   public:
    iterator(const ordered_table* table, std::size_t position) : m_table(table), m_position(position) {}
    const T& operator*() const { return m_table->m_items[m_table->m_order[m_position]]; }
    const T* operator->() const { return &**this; }
    iterator& operator++() {
      ++m_position;
      return *this;
    }
    bool operator!=(const iterator& other) const { return m_position != other.m_position; }
    bool operator==(const iterator& other) const { return m_position == other.m_position; }

   private:
    const ordered_table* m_table;
    std::size_t m_position;
  };
  iterator begin() const { return iterator(this, 0); }
  iterator end() const { return iterator(this, m_order.size()); }

 private:
  reuse_list<T> m_items;
  std::vector<std::uint32_t> m_order;
};

}  // namespace support
