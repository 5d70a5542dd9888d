// Stream reading over hand-made extents in memory, and every $DATA stream of
// the fixture volumes against the MD5 of icat's output (holes as zeros).
#include "ntfs/stream_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>

#include "ntfs/mft_file_source.h"
#include "ntfs/record_reader.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct memory_clusters final : ntfs::cluster_source {
  memory_clusters(bytes volume, std::uint32_t cluster) : m_volume(std::move(volume)), m_cluster(cluster) {}
  std::uint32_t cluster_size() const override { return m_cluster; }
  bool read_clusters(std::uint64_t lcn, std::span<std::uint8_t> out) override {
    const std::uint64_t count = out.size() / m_cluster;
    if (out.empty() || out.size() % m_cluster != 0 || lcn > m_volume.size() / m_cluster - count) return false;
    if (failing_lcn >= lcn && failing_lcn < lcn + count) return false;
    std::copy_n(m_volume.begin() + static_cast<std::ptrdiff_t>(lcn * m_cluster), out.size(), out.begin());
    return true;
  }
  bytes m_volume;
  std::uint32_t m_cluster;
  std::uint64_t failing_lcn = ~0ULL;
};

bytes random_bytes(std::size_t n, unsigned seed) {
  bytes out(n);
  return std::generate(out.begin(), out.end(), std::independent_bits_engine<std::mt19937, 8, unsigned>(seed)), out;
}
bytes slice(const bytes& b, std::size_t from, std::size_t n) { return bytes(b.begin() + from, b.begin() + from + n); }
bytes cat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Eight 512-byte clusters: VCN 0-2 at LCN 10, 3-4 sparse, 5-6 at LCN 40, 7 at LCN 20.
class StreamReaderMemory : public ::testing::Test {
 protected:
  static constexpr std::size_t c = 512;
  StreamReaderMemory() : m_clusters(random_bytes(64 * c, 5), c) {
    for (const auto& e : m_extents)
      for (std::uint32_t i = 0; i < e.count; ++i)
        m_stream = cat({m_stream, e.sparse ? bytes(c, 0) : slice(m_clusters.m_volume, (e.lcn + i) * c, c)});
  }
  // The stream without its sparse clusters.
  bytes packed(std::size_t from, std::size_t n) const {
    bytes out;
    for (std::size_t i = from; i < from + n && i < m_stream.size(); ++i)
      if (i / c < 3 || i / c > 4) out.push_back(m_stream[i]);
    return out;
  }
  memory_clusters m_clusters;
  ntfs::extent_list m_extents = {{10, 0, 0, 3}, {0, 3, 1, 2}, {40, 5, 0, 2}, {20, 7, 0, 1}};
  bytes m_stream;  // what the eight clusters hold, holes as zeros
};

TEST_F(StreamReaderMemory, RangeReads) {
  struct { std::uint64_t offset; std::size_t size; bool skip_sparse; bytes expected; std::uint32_t flags;
           std::uint64_t failing_lcn = ~0ULL; } cases[] = {
      {100, 1000, false, slice(m_stream, 100, 1000), 8},                        // mid-cluster to mid-cluster
      {c, c, false, slice(m_stream, c, c), 8},                                  // exactly one cluster
      {7, 9, false, slice(m_stream, 7, 9), 8},                                  // inside one cluster
      {2 * c + 300, 3 * c, false, slice(m_stream, 2 * c + 300, 3 * c), 8 | 2},  // across the hole
      {2 * c + 300, 3 * c, true, packed(2 * c + 300, 3 * c), 8},                // the hole left out
      {3 * c + 5, c, true, {}, 8},                                              // only hole, skipped
      {7 * c + 500, 100, false, slice(m_stream, 7 * c + 500, 12), 8},           // past the last extent
      {8 * c, 10, false, {}, 8},                                                // starts past it
      {0, 8 * c, false, m_stream, 8 | 2},
      {4 * c + 1, 3 * c, false, slice(m_stream, 4 * c + 1, 2 * c - 1), 8 | 2, 41},  // LCN 41 is VCN 6
  };
  for (const auto& k : cases) {
    bytes buffer(k.size, 0xEE);
    std::size_t got = 0;
    std::uint32_t flags = k.skip_sparse ? ntfs::range_flag::skip_sparse : 0;
    m_clusters.failing_lcn = k.failing_lcn;
    EXPECT_EQ(ntfs::read_stream_range(m_clusters, m_extents, k.offset, buffer, got, flags), !k.expected.empty());
    EXPECT_EQ(slice(buffer, 0, got), k.expected) << k.offset << "+" << k.size;
    EXPECT_EQ(flags, k.flags) << k.offset << "+" << k.size;
  }
}

TEST_F(StreamReaderMemory, WholeStreamsHonourSizesAndOptions) {
  const std::size_t real = 8 * c - 100, valid = 5 * c + 10;  // valid-data size; VCN 3-4 are the hole
  bytes zeroed = slice(m_stream, 0, real), zeroed_packed = packed(0, real);
  std::fill(zeroed.begin() + valid, zeroed.end(), 0);
  std::fill(zeroed_packed.begin() + valid - 2 * c, zeroed_packed.end(), 0);
  struct { const char* name; ntfs::stream_read_options options; bytes expected; } cases[] = {
      {"zeros past the valid data", {}, zeroed},
      {"raw: allocated size, no zeroing", {true, false}, m_stream},
      {"skip sparse", {false, true}, zeroed_packed},
      {"raw and skip sparse", {true, true}, packed(0, 8 * c)},
      {"first bytes only", {false, false, 700}, slice(zeroed, 0, 700)},
  };
  ntfs::attribute_header h;
  h.non_resident = true, h.real_size = real, h.initialized_size = valid, h.allocated_size = 8 * c;
  ntfs::stream_reader reader(m_clusters);
  for (const auto& k : cases) {
    bytes out;
    ntfs::vector_sink sink(out);
    EXPECT_TRUE(reader.read(h, m_extents, sink, k.options)) << k.name;
    EXPECT_EQ(out, k.expected) << k.name;
    EXPECT_EQ(reader.bytes_written(), out.size()) << k.name;
  }
  h.initialized_size = real;  // clusters past the valid data are not read at all
  ntfs::callback_sink refusing([](std::span<const std::uint8_t>) { return false; });
  EXPECT_FALSE(reader.read(h, m_extents, refusing));
  m_clusters.failing_lcn = 20;
  ntfs::vector_sink sink(m_stream);
  EXPECT_FALSE(reader.read(h, m_extents, sink));
}

TEST(StreamReaderCompressed, UnitByUnit) {
  // 16-cluster units of 8192 bytes: 0 stored whole; 1 two chunks and a sparse
  // tail; 2 a hole; 3 (1000 bytes wanted) a stored chunk whose 4098 bytes
  // spill into a ninth cluster, with a sparse tail.
  constexpr std::size_t c = 512;
  const bytes stored = random_bytes(16 * c, 9), tail = random_bytes(4096, 10);
  bytes chunks = {0x03, 0xB0, 0x02, 'A', 0xFC, 0x0F, 0x03, 0xB0, 0x02, 'B', 0xFC, 0x0F};  // 'A', copy 4095 at 1
  bytes last = cat({{0xFF, 0x3F}, tail});
  chunks.resize(c, 0), last.resize(9 * c, 0);
  memory_clusters clusters(cat({stored, chunks, last}), c);
  const ntfs::extent_list extents = {{0, 0, 0, 16}, {16, 16, 0, 1}, {0, 17, 1, 31}, {17, 48, 0, 9}, {0, 57, 1, 7}};
  ntfs::attribute_header h;
  h.non_resident = true, h.flags = ntfs::attribute_flag_compressed, h.compression_unit = 4;
  h.real_size = 3 * 16 * c + 1000, h.allocated_size = 64 * c;
  const bytes letters = cat({bytes(4096, 'A'), bytes(4096, 'B')}), end = slice(tail, 0, 1000);
  const bytes expected = cat({stored, letters, bytes(16 * c, 0), end});
  const bytes part_valid = cat({slice(expected, 0, 16 * c + 5000), bytes(expected.size() - 16 * c - 5000, 0)});
  struct { const char* name; std::uint64_t valid; ntfs::stream_read_options options; bytes expected; } cases[] = {
      {"decompressed", h.real_size, {}, expected},
      {"holes skipped", h.real_size, {false, true}, cat({stored, letters, end})},
      {"raw: clusters as stored", h.real_size, {true, false},
       cat({stored, chunks, bytes(31 * c, 0), last, bytes(7 * c, 0)})},
      {"valid data ends inside a unit", 16 * c + 5000, {}, part_valid},
      {"first bytes", h.real_size, {false, false, 16 * c + 10}, slice(expected, 0, 16 * c + 10)},
  };
  for (const auto& k : cases) {
    h.initialized_size = k.valid;
    bytes out;
    ntfs::vector_sink sink(out);
    EXPECT_TRUE(ntfs::stream_reader(clusters).read(h, extents, sink, k.options)) << k.name;
    EXPECT_EQ(out, k.expected) << k.name;
  }
}

TEST_F(StreamReaderMemory, PrefixOfAResidentValue) {
  const bytes raw = cat({bytes(24, 0), {'M', 'Z', 'h', 'e', 'a', 'd'}});
  ntfs::attr_record resident;
  resident.raw = raw, resident.header.length = 30, resident.header.value_offset = 24;
  bytes out;
  for (const std::uint32_t length : {6u, 7u}) {  // 7: one byte past the attribute
    resident.header.value_length = length;
    EXPECT_EQ(ntfs::read_stream_prefix(m_clusters, resident, 2, out), length == 6);
    EXPECT_EQ(out, length == 6 ? bytes({'M', 'Z'}) : bytes());
  }
}

TEST(StreamReaderVolumes, EveryDataStreamMatchesTheSleuthKit) {
  // basic: compressed 311, 313 (one unit stored, one compressed), 312 (resident); sparse 315, 316 (no valid
  // data); 307's run list split over records 307 and 309; ADS 98. sector4k: 4096-byte sectors and records.
  // streams: compressed text, random and zero data over several units, holes at the start, middle and
  // end, valid data below the size. fragmented: scattered runs and non-resident attribute lists.
  // Cluster size: bytes per sector (boot sector offset 11) times sectors per cluster (offset 13).
  using namespace testing_support;
  for (const auto& [volume, streams] : {std::pair<std::string, int>{"basic", 301}, {"sector4k", 169},
                                      {"streams", 23}, {"fragmented", 288}, {"carving", 165}}) {
    const bytes volume_bytes = read_bytes(fixture_path(volume + ".img"));
    memory_clusters image(volume_bytes, (volume_bytes.at(11) | volume_bytes.at(12) << 8) * volume_bytes.at(13));
    ntfs::mft_file_source mft;
    ASSERT_TRUE(mft.open(uni::to_wide(fixture_path(volume + ".mft"))));
    ntfs::record_context context;
    context.source = &mft;
    ntfs::mft_record record;
    ntfs::stream_reader reader(image);  // one reader for every stream: buffers are reused
    std::istringstream lines(read_file(source_fixture_path(volume + ".md5.txt")));
    int checked = 0;
    for (std::string line; std::getline(lines, line); ++checked) {
      const auto fields = split_fields(line, "|");  // md5|entry-128-id|path
      unsigned long long entry = 0;
      ASSERT_EQ(std::sscanf(fields.at(1).c_str(), "%llu-128-", &entry), 1) << line;
      ASSERT_TRUE(ntfs::read_file_record(record, context, entry, false)) << line;
      // Attribute ids repeat across extension records, so streams are found
      // by name: what follows ':' in the last path component.
      std::string name = fields.back().substr(fields.back().rfind('/') + 1);
      name = name.find(':') == std::string::npos ? "" : name.substr(name.find(':') + 1);
      const ntfs::attr_record* data = nullptr;
      for (const auto& attribute : record.attributes)
        if (attribute.header.type == ntfs::attribute_type::data && attribute.name_utf8 == name) data = &attribute;
      ASSERT_NE(data, nullptr) << line;
      bytes out;
      ntfs::vector_sink sink(out);
      EXPECT_TRUE(reader.read(*data, sink)) << line;
      // icat writes nothing for $BadClus:$Bad, a hole the size of the volume
      // with no valid data (istat 8: init_size 0).
      if (name == "$Bad") EXPECT_EQ(out, bytes(data->header.real_size, 0));
      else EXPECT_EQ(digest_hex_of(out, false), fields[0]) << line << " (" << out.size() << " bytes)";
    }
    EXPECT_EQ(checked, streams) << volume;
  }
}

}  // namespace
