// The tests' one byte builder: little-endian pokes and peeks, digests,
// the update-sequence ("fixup") protection in both directions, an attribute
// finder, non-resident attribute headers around a run list, SIDs, ACLs,
// security descriptors and $SDS entries, a builder for small but complete
// FILE records, and record sources that serve an in-memory MFT or count the
// reads of another.
//
// The fixup and attribute-walk code here is the tests' own, so fixtures can
// be prepared without relying on the code under test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "ntfs/record_source.h"
#include "support/digest_set.h"
#include "support/digest_text.h"

namespace testing_support {

using byte_vector = std::vector<std::uint8_t>;

inline void poke(std::span<std::uint8_t> bytes, std::size_t at, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline std::uint64_t peek(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value |= std::uint64_t{bytes[at + i]} << (8 * i);
  return value;
}

inline void poke_bytes(std::span<std::uint8_t> bytes, std::size_t at, std::span<const std::uint8_t> values) {
  std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

inline void append_bytes(std::vector<std::uint8_t>& to, std::span<const std::uint8_t> more) {
  to.insert(to.end(), more.begin(), more.end());
}

// MD5 or SHA-256 of some bytes, in lower-case hex as md5sum and sha256sum print it.
inline std::string digest_hex_of(std::span<const std::uint8_t> bytes, bool sha256) {
  support::digest_set digests;
  digests.start(!sha256, false, sha256);
  digests.update(bytes);
  digests.finish();
  char text[64];
  return std::string(sha256 ? support::digest_hex(*digests.sha256_value(), text)
                            : support::digest_hex(*digests.md5_value(), text));
}

inline constexpr std::size_t stride_bytes = 512;
inline constexpr std::uint32_t end_marker = 0xFFFFFFFF;

// FILETIME (100 ns units since 1601) of a Unix time in seconds.
inline std::uint64_t filetime_of_unix(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL;
}

inline std::uint64_t reference_of(std::uint64_t entry, std::uint16_t sequence) {
  return (entry & 0x0000FFFFFFFFFFFFULL) | (std::uint64_t{sequence} << 48);
}

// On-disk form of a record: the last two bytes of every 512-byte stride go
// into the update-sequence array and are replaced by `usn`.
inline void protect_strides(std::span<std::uint8_t> record, std::uint16_t usn) {
  const std::size_t array = peek(record, 4, 2);
  const std::size_t count = peek(record, 6, 2);
  poke(record, array, usn, 2);
  for (std::size_t i = 1; i < count && i * stride_bytes <= record.size(); ++i) {
    const std::size_t tail = i * stride_bytes - 2;
    record[array + 2 * i] = record[tail];
    record[array + 2 * i + 1] = record[tail + 1];
    poke(record, tail, usn, 2);
  }
}

// In-memory form of an on-disk record: each stride tail gets its saved bytes
// back from the array. Returns false when a tail did not hold the sequence
// number (a torn write), but restores it anyway.
inline bool unprotect_strides(std::span<std::uint8_t> record) {
  const std::size_t array = peek(record, 4, 2);
  const std::size_t count = peek(record, 6, 2);
  const std::uint64_t usn = peek(record, array, 2);
  bool intact = true;
  for (std::size_t i = 1; i < count && i * stride_bytes <= record.size(); ++i) {
    const std::size_t tail = i * stride_bytes - 2;
    intact = intact && peek(record, tail, 2) == usn;
    record[tail] = record[array + 2 * i];
    record[tail + 1] = record[array + 2 * i + 1];
  }
  return intact;
}

// Changes an on-disk record in its in-memory form and protects it again
// with the same update sequence number.
template <typename Change>
void rewrite_record(std::span<std::uint8_t> record, Change change) {
  const auto usn = static_cast<std::uint16_t>(peek(record, peek(record, 4, 2), 2));
  unprotect_strides(record);
  change(record);
  protect_strides(record, usn);
}

inline constexpr std::size_t no_attribute = static_cast<std::size_t>(-1);

// Offset of the `nth` attribute of `type` in a record in memory form.
inline std::size_t find_attribute(std::span<const std::uint8_t> record, std::uint32_t type, int nth = 0) {
  std::size_t at = peek(record, 20, 2);
  while (at + 8 <= record.size()) {
    const std::uint64_t found = peek(record, at, 4);
    const std::uint64_t length = peek(record, at + 4, 4);
    if (found == end_marker || length == 0 || length > record.size() - at) break;
    if (found == type && nth-- == 0) return at;
    at += length;
  }
  return no_attribute;
}

// Offset of a resident attribute's value within the record.
inline std::size_t value_offset_of(std::span<const std::uint8_t> record, std::size_t attribute) {
  return attribute + peek(record, attribute + 20, 2);
}

inline byte_vector utf16le(const std::u16string& text) {
  byte_vector out;
  for (char16_t unit : text) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return out;
}

inline std::size_t round_up8(std::size_t n) { return (n + 7) / 8 * 8; }

// A non-resident attribute ($DATA unless told): the 64-byte header, then `runs`.
struct run_list_shape {
  std::uint32_t type = 0x80;
  std::uint64_t first_vcn = 0;
  std::uint16_t run_list_offset = 64;
  std::optional<std::uint32_t> declared_length;  // default: header plus run list, rounded up to 8
  bool exact_length = false;                     // no padding after the run list
};

inline byte_vector non_resident_attribute(const byte_vector& runs, const run_list_shape& shape = {}) {
  const std::size_t length = shape.exact_length ? 64 + runs.size() : round_up8(64 + runs.size());
  byte_vector out(length, 0);
  poke(out, 0, shape.type, 4);
  poke(out, 4, shape.declared_length.value_or(static_cast<std::uint32_t>(length)), 4);
  out[8] = 1;
  poke(out, 16, shape.first_vcn, 8);
  poke(out, 32, shape.run_list_offset, 2);
  poke_bytes(out, 64, runs);
  return out;
}

// Security descriptors, self-relative as NTFS stores them.

// "S-1-5-21-1-2-3" as stored: revision, count, 6-byte big-endian authority,
// little-endian sub-authorities. Written here, not taken from the code.
inline byte_vector sid(const std::string& text) {
  std::vector<std::uint64_t> numbers;
  std::istringstream in(text.substr(2));
  for (std::string part; std::getline(in, part, '-');) numbers.push_back(std::stoull(part));
  byte_vector out{static_cast<std::uint8_t>(numbers.at(0)), static_cast<std::uint8_t>(numbers.size() - 2)};
  for (int i = 5; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(numbers.at(1) >> (8 * i)));
  for (std::size_t i = 2; i < numbers.size(); ++i) {
    out.resize(out.size() + 4);
    poke(out, out.size() - 4, numbers[i], 4);
  }
  return out;
}

struct ace_plan {
  std::uint8_t type;
  std::uint32_t mask;
  std::string who;
  std::uint8_t flags = 0;
};

inline byte_vector ace(const ace_plan& plan) {
  byte_vector out(8);
  out[0] = plan.type;
  out[1] = plan.flags;
  poke(out, 4, plan.mask, 4);
  append_bytes(out, sid(plan.who));
  poke(out, 2, static_cast<std::uint32_t>(out.size()), 2);
  return out;
}

inline byte_vector acl(const std::vector<ace_plan>& aces) {
  byte_vector out(8);
  out[0] = 2;
  for (const auto& plan : aces) append_bytes(out, ace(plan));
  poke(out, 2, static_cast<std::uint32_t>(out.size()), 2);
  poke(out, 4, static_cast<std::uint32_t>(aces.size()), 2);
  return out;
}

// Header, SACL, DACL, owner, group, in the order Windows writes them; an
// empty part gets offset 0.
inline byte_vector descriptor(const std::string& owner, const std::string& group, const byte_vector& sacl, const byte_vector& dacl) {
  byte_vector out(20);
  out[0] = 1;
  std::uint32_t control = 0x8000;  // self-relative
  const auto place = [&out](const byte_vector& part, std::size_t field) {
    if (part.empty()) return;
    poke(out, field, out.size(), 4);
    append_bytes(out, part);
  };
  if (!sacl.empty()) control |= 0x10;
  if (!dacl.empty()) control |= 0x04;
  poke(out, 2, control, 2);
  place(sacl, 12);
  place(dacl, 16);
  place(owner.empty() ? byte_vector{} : sid(owner), 4);
  place(group.empty() ? byte_vector{} : sid(group), 8);
  return out;
}

// An $SDS entry at `offset`: hash, id, offset, length, descriptor; padded to 16.
inline byte_vector sds_entry(std::uint32_t id, std::uint64_t offset, const byte_vector& sd, std::uint32_t hash = 0x1234) {
  byte_vector out(20);
  poke(out, 0, hash, 4);
  poke(out, 4, id, 4);
  poke(out, 8, offset, 8);
  poke(out, 16, 20 + sd.size(), 4);
  append_bytes(out, sd);
  out.resize((out.size() + 15) / 16 * 16);
  return out;
}

// One entry of an $ATTRIBUTE_LIST value.
struct list_entry {
  std::uint32_t type = 0;
  std::uint64_t holder = 0;  // entry number of the record holding the attribute
  std::uint16_t holder_sequence = 1;
  std::uint16_t id = 0;
  std::u16string name;
  std::uint64_t first_vcn = 0;
};

// Builds a FILE record in memory form; build() returns it protected by
// fixups, ready to be written into an MFT image.
class record_builder {
 public:
  explicit record_builder(std::uint32_t size_bytes = 1024) : m_size(size_bytes) {}

  record_builder& sequence(std::uint16_t value) { m_sequence = value; return *this; }
  record_builder& flags(std::uint16_t value) { m_flags = value; return *this; }  // 1 in use, 2 directory
  record_builder& base(std::uint64_t reference) { m_base = reference; return *this; }
  record_builder& entry(std::uint32_t value) { m_entry = value; return *this; }

  record_builder& standard_information(std::uint64_t time, std::uint32_t file_attributes = 0x20) {
    byte_vector value(72, 0);
    for (int i = 0; i < 4; ++i) poke(value, 8 * i, time, 8);
    poke(value, 32, file_attributes, 4);
    return resident(0x10, value);
  }

  record_builder& file_name(std::uint64_t parent_reference, const std::u16string& name, std::uint8_t name_space = 1,
                            std::uint64_t time = filetime_of_unix(1709373600), bool directory = false) {
    byte_vector value(66, 0);
    poke(value, 0, parent_reference, 8);
    for (int i = 0; i < 4; ++i) poke(value, 8 + 8 * i, time, 8);
    poke(value, 56, directory ? 0x10000000 : 0x20, 4);
    value[64] = static_cast<std::uint8_t>(name.size());
    value[65] = name_space;
    const byte_vector units = utf16le(name);
    value.insert(value.end(), units.begin(), units.end());
    return resident(0x30, value);
  }

  record_builder& attribute_list(const std::vector<list_entry>& entries) {
    byte_vector value;
    for (const list_entry& e : entries) {
      const std::size_t length = round_up8(26 + 2 * e.name.size());
      byte_vector item(length, 0);
      poke(item, 0, e.type, 4);
      poke(item, 4, length, 2);
      item[6] = static_cast<std::uint8_t>(e.name.size());
      item[7] = 26;
      poke(item, 8, e.first_vcn, 8);
      poke(item, 16, reference_of(e.holder, e.holder_sequence), 8);
      poke(item, 24, e.id, 2);
      const byte_vector units = utf16le(e.name);
      if (!units.empty()) std::memcpy(item.data() + 26, units.data(), units.size());
      value.insert(value.end(), item.begin(), item.end());
    }
    return resident(0x20, value);
  }

  // A resident attribute; its id is the next free one unless given.
  record_builder& resident(std::uint32_t type, const byte_vector& value, const std::u16string& name = {},
                           int id = -1) {
    const std::size_t value_at = round_up8(24 + 2 * name.size());
    byte_vector attribute(round_up8(value_at + value.size()), 0);
    poke(attribute, 0, type, 4);
    poke(attribute, 4, attribute.size(), 4);
    attribute[9] = static_cast<std::uint8_t>(name.size());
    poke(attribute, 10, name.empty() ? 0 : 24, 2);
    poke(attribute, 14, id < 0 ? m_next_id : static_cast<std::uint16_t>(id), 2);
    poke(attribute, 16, value.size(), 4);
    poke(attribute, 20, value_at, 2);
    const byte_vector units = utf16le(name);
    if (!units.empty()) std::memcpy(attribute.data() + 24, units.data(), units.size());
    if (!value.empty()) std::memcpy(attribute.data() + value_at, value.data(), value.size());
    return raw_attribute(attribute, id);
  }

  // Any attribute bytes, taken as they are.
  record_builder& raw_attribute(const byte_vector& attribute, int id = -1) {
    m_attributes.insert(m_attributes.end(), attribute.begin(), attribute.end());
    if (id < 0) ++m_next_id;
    return *this;
  }

  std::uint16_t next_id() const { return m_next_id; }

  // The record in memory form (no fixups applied).
  byte_vector build_plain() const {
    byte_vector record(m_size, 0);
    const std::size_t count = m_size / stride_bytes + 1;
    const std::size_t first = round_up8(0x30 + 2 * count);
    std::memcpy(record.data(), "FILE", 4);
    poke(record, 4, 0x30, 2);
    poke(record, 6, count, 2);
    poke(record, 16, m_sequence, 2);
    poke(record, 18, 1, 2);
    poke(record, 20, first, 2);
    poke(record, 22, m_flags, 2);
    const std::size_t in_use = first + m_attributes.size() + 8;
    poke(record, 24, in_use, 4);
    poke(record, 28, m_size, 4);
    poke(record, 32, m_base, 8);
    poke(record, 40, m_next_id, 2);
    poke(record, 44, m_entry, 4);
    if (!m_attributes.empty()) {
      std::memcpy(record.data() + first, m_attributes.data(), std::min(m_attributes.size(), m_size - first));
    }
    if (first + m_attributes.size() + 4 <= m_size) poke(record, first + m_attributes.size(), end_marker, 4);
    return record;
  }

  // The record as it lies on disk.
  byte_vector build(std::uint16_t usn = 1) const {
    byte_vector record = build_plain();
    protect_strides(record, usn);
    return record;
  }

 private:
  std::uint32_t m_size;
  std::uint16_t m_sequence = 1;
  std::uint16_t m_flags = 1;
  std::uint64_t m_base = 0;
  std::uint32_t m_entry = 0;
  std::uint16_t m_next_id = 0;
  byte_vector m_attributes;
};

// An MFT as one byte vector of fixed-size records; unset records are zeros.
class mft_image {
 public:
  explicit mft_image(std::uint32_t record_size = 1024) : m_record_size(record_size) {}
  explicit mft_image(byte_vector bytes, std::uint32_t record_size = 1024)
      : m_record_size(record_size), m_bytes(std::move(bytes)) {}

  void set(std::uint64_t entry, const byte_vector& record) {
    const std::size_t at = entry * m_record_size;
    if (m_bytes.size() < at + m_record_size) m_bytes.resize(at + m_record_size, 0);
    std::memcpy(m_bytes.data() + at, record.data(), std::min<std::size_t>(record.size(), m_record_size));
  }
  std::span<std::uint8_t> record(std::uint64_t entry) {
    return std::span<std::uint8_t>(m_bytes).subspan(entry * m_record_size, m_record_size);
  }
  std::size_t record_count() const { return m_bytes.size() / m_record_size; }
  std::uint32_t record_size() const { return m_record_size; }
  byte_vector& bytes() { return m_bytes; }

 private:
  std::uint32_t m_record_size;
  byte_vector m_bytes;
};

// Serves records from an mft_image (no extension index) and counts reads.

// Counts record reads per entry, for sources that tests watch.
class read_counter {
 public:
  int reads_of(ntfs::entry_number entry) const {
    const auto found = m_reads.find(entry);
    return found == m_reads.end() ? 0 : found->second;
  }
  int total_reads() const {
    int total = 0;
    for (const auto& [entry, count] : m_reads) total += count;
    return total;
  }
  void forget_reads() { m_reads.clear(); }

 protected:
  std::map<ntfs::entry_number, int> m_reads;
};

class memory_source final : public ntfs::record_source, public read_counter {
 public:
  explicit memory_source(mft_image& image) : m_image(image) {}
  bool is_bare_mft_file() const override { return true; }
  bool record_size(std::uint32_t& size_bytes) override {
    size_bytes = m_image.record_size();
    return true;
  }
  bool read_record(ntfs::entry_number entry, std::span<std::uint8_t> out, ntfs::read_intent) override {
    ++m_reads[entry];
    if (out.size() != m_image.record_size() || entry >= m_image.record_count()) return false;
    const auto record = m_image.record(entry);
    std::memcpy(out.data(), record.data(), record.size());
    return true;
  }
  std::uint64_t record_capacity() override { return m_image.record_count(); }

 private:
  mft_image& m_image;
};

// Passes every call to another source and counts the record reads.
class counting_source final : public ntfs::record_source, public read_counter {
 public:
  explicit counting_source(ntfs::record_source& inner) : m_inner(inner) {}
  bool is_bare_mft_file() const override { return m_inner.is_bare_mft_file(); }
  bool record_size(std::uint32_t& size_bytes) override { return m_inner.record_size(size_bytes); }
  bool read_record(ntfs::entry_number entry, std::span<std::uint8_t> out, ntfs::read_intent intent) override {
    ++m_reads[entry];
    return m_inner.read_record(entry, out, intent);
  }
  std::uint64_t record_capacity() override { return m_inner.record_capacity(); }
  bool extension_records_of(ntfs::entry_number base, std::vector<ntfs::entry_number>& out) override {
    return m_inner.extension_records_of(base, out);
  }

 private:
  ntfs::record_source& m_inner;
};

}  // namespace testing_support
