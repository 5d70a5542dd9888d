// Writes a consistent extracted $MFT of N records for benchmarks, far faster
// than a real volume could be filled: 1024-byte records with fixups and
// record numbers, the system files with the MFT's own $DATA and $BITMAP
// sized for N, then a directory tree of realistic depth and fan-out. Files
// carry long and 8.3 names, a few hard links, Zone.Identifier streams,
// resident and non-resident data; some records are deleted, and some keep
// their $DATA in an extension record reached through an $ATTRIBUTE_LIST.
//
//   make_large_mft RECORDS OUTPUT [SEED]
//
// The same count and seed give the same bytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t record_bytes = 1024;
constexpr std::size_t cluster_bytes = 4096;
constexpr std::size_t first_user_entry = 24;
constexpr std::uint16_t usa_offset = 0x30;
constexpr std::uint16_t usa_count = record_bytes / 512 + 1;
constexpr std::uint16_t first_attribute = 0x38;
constexpr std::uint32_t end_marker = 0xFFFFFFFF;

// 2010-01-01 and 2024-12-31 as FILETIME (100 ns since 1601).
constexpr std::uint64_t earliest_time = 129067776000000000ULL;
constexpr std::uint64_t latest_time = 133802207990000000ULL;

class random_numbers {
 public:
  explicit random_numbers(std::uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  std::uint64_t next() {
    m_state ^= m_state << 13;
    m_state ^= m_state >> 7;
    m_state ^= m_state << 17;
    return m_state;
  }
  std::uint64_t below(std::uint64_t bound) { return next() % bound; }
  bool chance(unsigned per_thousand) { return below(1000) < per_thousand; }

 private:
  std::uint64_t m_state;
};

void put16(std::uint8_t* at, std::uint64_t value) { for (int i = 0; i < 2; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i)); }
void put32(std::uint8_t* at, std::uint64_t value) { for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i)); }
void put64(std::uint8_t* at, std::uint64_t value) { for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i)); }

std::uint64_t reference(std::uint64_t entry, std::uint16_t sequence) { return entry | std::uint64_t{sequence} << 48; }

// One record under construction: the header, then attributes appended in
// type order, then the end marker and the update-sequence protection.
class record_builder {
 public:
  explicit record_builder(std::uint8_t* bytes) : m_bytes(bytes) {}

  void start(std::uint64_t entry, std::uint16_t sequence, std::uint16_t flags, std::uint64_t base_reference) {
    std::memset(m_bytes, 0, record_bytes);
    std::memcpy(m_bytes, "FILE", 4);
    put16(m_bytes + 4, usa_offset);
    put16(m_bytes + 6, usa_count);
    put64(m_bytes + 8, entry * 4096 + 0x100000);  // $LogFile sequence number
    put16(m_bytes + 16, sequence);
    put16(m_bytes + 20, first_attribute);
    put16(m_bytes + 22, flags);
    put32(m_bytes + 28, record_bytes);
    put64(m_bytes + 32, base_reference);
    put32(m_bytes + 44, static_cast<std::uint32_t>(entry));
    m_end = first_attribute;
    m_next_id = 0;
    m_links = 0;
  }

  // A resident attribute; returns its value for the caller to fill.
  std::uint8_t* resident(std::uint32_t type, const std::u16string& name, std::uint32_t value_bytes,
                         bool indexed = false) {
    const std::uint32_t name_offset = 24;
    const std::uint32_t value_offset = align8(name_offset + 2 * static_cast<std::uint32_t>(name.size()));
    std::uint8_t* at = header(type, value_offset + value_bytes, false, name, name_offset);
    put32(at + 16, value_bytes);
    put16(at + 20, value_offset);
    at[22] = indexed ? 1 : 0;
    return at + value_offset;
  }

  // A non-resident attribute with one run of `clusters` at `lcn` (sparse
  // when `lcn` is 0) covering VCNs [first_vcn, first_vcn + clusters).
  void non_resident(std::uint32_t type, const std::u16string& name, std::uint64_t lcn, std::uint64_t clusters,
                    std::uint64_t size_bytes) {
    const std::uint32_t name_offset = 64;
    const std::uint32_t runs_offset = align8(name_offset + 2 * static_cast<std::uint32_t>(name.size()));
    std::uint8_t runs[24] = {};
    const std::size_t run_bytes = encode_run(runs, lcn, clusters);
    std::uint8_t* at = header(type, align8(runs_offset + static_cast<std::uint32_t>(run_bytes) + 1), true, name,
                              name_offset);
    put64(at + 16, 0);
    put64(at + 24, clusters - 1);
    put16(at + 32, runs_offset);
    put64(at + 40, clusters * cluster_bytes);
    put64(at + 48, size_bytes);
    put64(at + 56, size_bytes);
    std::memcpy(at + runs_offset, runs, run_bytes);
  }

  void standard_information(std::uint64_t time, std::uint32_t attributes) {
    std::uint8_t* value = resident(0x10, u"", 72);
    for (int i = 0; i < 4; ++i) put64(value + 8 * i, time + static_cast<std::uint64_t>(i) * 10000000ULL);
    put32(value + 32, attributes);
    put32(value + 52, 0x100);  // security id
  }

  void file_name(std::uint64_t parent, const std::u16string& name, std::uint8_t name_space, std::uint64_t time,
                 std::uint64_t size_bytes, std::uint32_t attributes) {
    std::uint8_t* value = resident(0x30, u"", 66 + 2 * static_cast<std::uint32_t>(name.size()), true);
    put64(value, parent);
    for (int i = 0; i < 4; ++i) put64(value + 8 + 8 * i, time);
    put64(value + 40, (size_bytes + cluster_bytes - 1) / cluster_bytes * cluster_bytes);
    put64(value + 48, size_bytes);
    put32(value + 56, attributes);
    value[64] = static_cast<std::uint8_t>(name.size());
    value[65] = name_space;
    for (std::size_t i = 0; i < name.size(); ++i) put16(value + 66 + 2 * i, name[i]);
    if (name_space != 2) ++m_links;
  }

  // An empty "$I30" index root: the attribute every directory carries.
  void empty_directory_index() {
    std::uint8_t* value = resident(0x90, u"$I30", 48);
    put32(value, 0x30);
    put32(value + 4, 1);  // collation: file names
    put32(value + 8, 4096);
    value[12] = 1;
    put32(value + 16, 16);  // node header: entries start 16 bytes in
    put32(value + 20, 32);
    put32(value + 24, 32);
    put16(value + 32 + 8, 16);  // the end entry
    put32(value + 32 + 12, 2);
  }

  // An $ATTRIBUTE_LIST naming the base's own attributes and the $DATA held
  // by `extension`.
  void attribute_list(std::uint64_t self, std::uint64_t extension) {
    static constexpr std::uint32_t listed[][2] = {{0x10, 0}, {0x30, 2}, {0x80, 0}};
    std::uint8_t* value = resident(0x20, u"", 32 * 3);
    for (std::size_t i = 0; i < 3; ++i) {
      std::uint8_t* item = value + 32 * i;
      put32(item, listed[i][0]);
      put16(item + 4, 32);
      item[7] = 26;
      put64(item + 16, listed[i][0] == 0x80 ? extension : self);
      put16(item + 24, listed[i][1]);
    }
  }

  void finish(std::uint16_t update_sequence) {
    put32(m_bytes + m_end, end_marker);
    put32(m_bytes + 24, m_end + 8);
    put16(m_bytes + 18, m_links);
    put16(m_bytes + 40, m_next_id);
    // The last two bytes of every 512-byte stride move into the update
    // sequence array; the stride ends with the sequence number instead.
    put16(m_bytes + usa_offset, update_sequence);
    for (std::size_t stride = 1; stride < usa_count; ++stride) {
      std::uint8_t* tail = m_bytes + stride * 512 - 2;
      std::memcpy(m_bytes + usa_offset + 2 * stride, tail, 2);
      put16(tail, update_sequence);
    }
  }

  void empty(std::uint64_t entry, std::uint16_t update_sequence) {
    start(entry, 1, 0, 0);
    finish(update_sequence);
  }

 private:
  static std::uint32_t align8(std::uint32_t value) { return (value + 7) & ~7u; }

  static std::size_t encode_run(std::uint8_t* out, std::uint64_t lcn, std::uint64_t clusters) {
    std::size_t length_bytes = 1;
    while (length_bytes < 8 && (clusters >> (8 * length_bytes)) != 0) ++length_bytes;
    std::size_t offset_bytes = 0;
    if (lcn != 0) {
      offset_bytes = 1;
      // One spare bit for the sign: LCNs are positive.
      while (offset_bytes < 8 && (lcn >> (8 * offset_bytes - 1)) != 0) ++offset_bytes;
    }
    out[0] = static_cast<std::uint8_t>(offset_bytes << 4 | length_bytes);
    for (std::size_t i = 0; i < length_bytes; ++i) out[1 + i] = static_cast<std::uint8_t>(clusters >> (8 * i));
    for (std::size_t i = 0; i < offset_bytes; ++i) out[1 + length_bytes + i] = static_cast<std::uint8_t>(lcn >> (8 * i));
    return 1 + length_bytes + offset_bytes;  // the terminating zero follows
  }

  std::uint8_t* header(std::uint32_t type, std::uint32_t length, bool non_resident, const std::u16string& name,
                       std::uint32_t name_offset) {
    length = align8(length);
    if (m_end + length + 8 > record_bytes) {
      std::fprintf(stderr, "record overflow\n");
      std::exit(1);
    }
    std::uint8_t* at = m_bytes + m_end;
    put32(at, type);
    put32(at + 4, length);
    at[8] = non_resident ? 1 : 0;
    at[9] = static_cast<std::uint8_t>(name.size());
    put16(at + 10, name.empty() ? 0 : name_offset);
    put16(at + 14, m_next_id++);
    for (std::size_t i = 0; i < name.size(); ++i) put16(at + name_offset + 2 * i, name[i]);
    m_end += length;
    return at;
  }

  std::uint8_t* m_bytes;
  std::uint32_t m_end = first_attribute;
  std::uint16_t m_next_id = 0;
  std::uint16_t m_links = 0;
};

std::u16string widen(const std::string& text) { return {text.begin(), text.end()}; }

const char* const file_words[] = {"report", "invoice", "photo", "setup", "readme", "data", "backup", "notes",
                                  "draft", "config", "budget", "meeting minutes", "holiday", "scan", "contract",
                                  "thumbnail", "index", "library", "update", "presentation"};
const char* const extensions[] = {".txt", ".docx", ".jpg", ".exe", ".dll", ".log", ".pdf", ".xlsx", ".png",
                                  ".zip", ".ini", ".dat", ".tmp", ".lnk", ".js", ".html"};
const char* const folder_words[] = {"Users", "Program Files", "Windows", "System32", "Documents", "Projects",
                                    "src", "lib", "cache", "temp", "Downloads", "Pictures", "AppData", "Roaming",
                                    "Local", "Microsoft", "Archive", "2019", "Invoices", "build"};
const std::u16string unicode_names[] = {u"r\u00e9sum\u00e9", u"\u65e5\u672c\u8a9e\u306e\u6587\u66f8",
                                        u"\u0444\u043e\u0442\u043e", u"na\u00efve caf\u00e9"};

struct folder {
  std::uint64_t reference;
  unsigned depth;
};

// Folders are chosen close to the newest one, as a tree filled over time
// looks: deep paths, tens of entries per folder.
class tree_state {
 public:
  explicit tree_state(std::uint64_t root) { m_folders.push_back({root, 0}); }
  const folder& choose(random_numbers& random) {
    const std::size_t recent = std::min<std::size_t>(m_folders.size(), 48);
    return m_folders[m_folders.size() - 1 - random.below(recent)];
  }
  void add(std::uint64_t reference, unsigned depth) {
    if (depth < 14) m_folders.push_back({reference, depth});
  }

 private:
  std::vector<folder> m_folders;
};

void write_system_records(std::uint8_t* out, std::uint64_t records, std::uint64_t time) {
  static const char* const names[] = {"$MFT", "$MFTMirr", "$LogFile", "$Volume", "$AttrDef", ".",
                                      "$Bitmap", "$Boot", "$BadClus", "$Secure", "$UpCase", "$Extend"};
  const std::uint64_t root = reference(5, 5);
  for (std::uint64_t entry = 0; entry < first_user_entry; ++entry) {
    record_builder record(out + entry * record_bytes);
    if (entry >= 12) {
      record.empty(entry, 1);
      continue;
    }
    const bool directory = entry == 5 || entry == 11;
    record.start(entry, entry == 5 ? 5 : static_cast<std::uint16_t>(entry == 0 ? 1 : entry),
                 directory ? 3 : 1, 0);
    record.standard_information(time, 0x6);
    std::uint64_t size = entry == 0 ? records * record_bytes : 0;
    record.file_name(root, widen(names[entry]), 3, time, size, directory ? 0x10000006 : 0x6);
    if (entry == 0) {
      const std::uint64_t clusters = (size + cluster_bytes - 1) / cluster_bytes;
      record.non_resident(0x80, u"", 16, clusters, size);
      const std::uint64_t bitmap = (records + 7) / 8;
      record.non_resident(0xB0, u"", 16 + clusters, (bitmap + cluster_bytes - 1) / cluster_bytes, bitmap);
    } else if (directory) {
      record.empty_directory_index();
    } else {
      record.resident(0x80, u"", 0);
    }
    record.finish(static_cast<std::uint16_t>(entry + 2));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RECORDS OUTPUT [SEED]\n", argv[0]);
    return 2;
  }
  const std::uint64_t records = std::strtoull(argv[1], nullptr, 10);
  const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  if (records < first_user_entry + 2) {
    std::fprintf(stderr, "at least %zu records\n", first_user_entry + 2);
    return 2;
  }
  std::FILE* file = std::fopen(argv[2], "wb");
  if (!file) {
    std::perror(argv[2]);
    return 1;
  }
  constexpr std::size_t block_records = 4096;
  std::vector<std::uint8_t> block(block_records * record_bytes);
  random_numbers random(seed);
  tree_state tree(reference(5, 5));
  std::uint64_t next_lcn = 16 + (records * record_bytes) / cluster_bytes + records / 8 / cluster_bytes + 64;

  write_system_records(block.data(), records, earliest_time);
  std::uint64_t pending_extension = 0;  // base reference waiting for its extension record
  std::uint64_t written = 0;
  for (std::uint64_t entry = first_user_entry; entry <= records; ++entry) {
    const std::size_t slot = static_cast<std::size_t>(entry % block_records);
    if (slot == 0 || entry == records) {
      const std::size_t count = entry == records ? static_cast<std::size_t>(records - written) : block_records;
      if (std::fwrite(block.data(), record_bytes, count, file) != count) {
        std::perror(argv[2]);
        return 1;
      }
      written += count;
      if (entry == records) break;
    }
    record_builder record(block.data() + slot * record_bytes);
    const auto sequence = static_cast<std::uint16_t>(1 + entry % 7);
    const std::uint64_t self = reference(entry, sequence);
    const auto update_sequence = static_cast<std::uint16_t>(1 + (entry * 7) % 0xFFFE);
    const std::uint64_t time = earliest_time + random.below(latest_time - earliest_time);

    if (pending_extension != 0) {
      // The extension record holds the base's $DATA.
      record.start(entry, sequence, 1, pending_extension);
      const std::uint64_t size = 4096 + random.below(1 << 20);
      const std::uint64_t clusters = (size + cluster_bytes - 1) / cluster_bytes;
      record.non_resident(0x80, u"", next_lcn, clusters, size);
      next_lcn += clusters;
      record.finish(update_sequence);
      pending_extension = 0;
      continue;
    }

    const bool deleted = random.chance(50);
    const bool directory = random.chance(80);
    const folder parent = tree.choose(random);
    std::u16string name;
    if (random.chance(10)) {
      name = unicode_names[random.below(std::size(unicode_names))];
    } else if (directory) {
      name = widen(std::string(folder_words[random.below(std::size(folder_words))]) + " " +
                   std::to_string(random.below(1000)));
    } else {
      name = widen(std::string(file_words[random.below(std::size(file_words))]) + "_" +
                   std::to_string(random.below(100000)) + extensions[random.below(std::size(extensions))]);
    }
    const std::uint16_t flags = (deleted ? 0 : 1) | (directory ? 2 : 0);
    const std::uint32_t attributes = directory ? 0x10000010 : 0x20;
    const bool with_list = !directory && entry + 1 < records && random.chance(5);
    std::uint64_t size = directory ? 0 : random.below(64) < 40 ? random.below(600) : 4096 + random.below(1 << 22);
    if (with_list) size = 0;

    record.start(entry, sequence, flags, 0);
    record.standard_information(time, attributes);
    if (with_list) record.attribute_list(self, reference(entry + 1, static_cast<std::uint16_t>(1 + (entry + 1) % 7)));
    const bool long_name = name.size() > 12 || name.find(u' ') != std::u16string::npos;
    if (long_name && !with_list && random.chance(300)) {
      record.file_name(parent.reference, name, 1, time, size, attributes);
      std::u16string short_name = name.substr(0, 6) + u"~1";
      for (char16_t& c : short_name) c = c == u' ' ? u'_' : c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
      record.file_name(parent.reference, short_name, 2, time, size, attributes);
    } else {
      record.file_name(parent.reference, name, long_name ? 1 : 3, time, size, attributes);
    }
    if (!directory && !with_list && random.chance(10)) {
      // A hard link in another folder.
      record.file_name(tree.choose(random).reference, u"link to " + name.substr(0, 32), 1, time, size, attributes);
    }
    if (directory) {
      record.empty_directory_index();
      if (!deleted) tree.add(self, parent.depth + 1);
    } else if (!with_list) {
      if (size < 600) {
        std::uint8_t* value = record.resident(0x80, u"", static_cast<std::uint32_t>(size % 200));
        std::memset(value, 'a' + static_cast<int>(entry % 26), size % 200);
      } else {
        const std::uint64_t clusters = (size + cluster_bytes - 1) / cluster_bytes;
        record.non_resident(0x80, u"", next_lcn, clusters, size);
        next_lcn += clusters;
      }
      if (random.chance(20)) {
        static const char zone[] = "[ZoneTransfer]\r\nZoneId=3\r\n";
        std::memcpy(record.resident(0x80, u"Zone.Identifier", sizeof zone - 1), zone, sizeof zone - 1);
      }
    }
    record.finish(update_sequence);
    if (with_list) pending_extension = self;
  }
  if (std::fclose(file) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}
