// Parent path resolution over small MFT files built record by record: live,
// deleted and reused directories, parents that are files or unreadable,
// loops, and a very deep chain.
#include "ntfs/path_resolver.h"

#include <gtest/gtest.h>

#include <string>

#include "ntfs/mft_file_source.h"
#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

constexpr std::uint16_t in_use_file = 1;
constexpr std::uint16_t in_use_directory = 3;
constexpr std::uint16_t deleted_directory = 2;

byte_vector directory(std::uint32_t entry, std::uint16_t sequence, std::uint16_t flags, std::uint64_t parent,
                      const std::u16string& name) {
  return record_builder()
      .entry(entry)
      .sequence(sequence)
      .flags(flags)
      .standard_information(filetime_of_unix(1709373600), 0x10)
      .file_name(parent, name, 1, filetime_of_unix(1709373600), (flags & 2) != 0)
      .build(static_cast<std::uint16_t>(entry + 1));
}

// The MFT every case below reads. Entries not set are all zeros.
mft_image small_volume() {
  mft_image image;
  image.set(0, record_builder().entry(0).standard_information(filetime_of_unix(1709373600), 6)
                   .file_name(reference_of(5, 5), u"$MFT").build());
  image.set(5, directory(5, 5, in_use_directory, reference_of(5, 5), u"."));
  image.set(30, directory(30, 3, in_use_directory, reference_of(5, 5), u"alive"));
  // Freed once: its sequence number went from 3 to 4 and nobody took it.
  image.set(31, directory(31, 4, deleted_directory, reference_of(30, 3), u"deleted_dir"));
  // Taken over by a new directory: sequence 3 was freed (4) and reused (5).
  image.set(32, directory(32, 5, in_use_directory, reference_of(5, 5), u"reused"));
  // Freed, reused and freed again.
  image.set(33, directory(33, 6, deleted_directory, reference_of(5, 5), u"gone_twice"));
  image.set(34, record_builder().entry(34).flags(in_use_file)
                    .standard_information(filetime_of_unix(1709373600))
                    .file_name(reference_of(5, 5), u"plain.txt").build());
  image.set(35, directory(35, 1, in_use_directory, reference_of(36, 1), u"ping"));
  image.set(36, directory(36, 1, in_use_directory, reference_of(35, 1), u"pong"));
  image.set(37, directory(37, 1, in_use_directory, reference_of(37, 1), u"self"));
  image.set(38, directory(38, 1, in_use_directory, reference_of(41, 1), u"orphaned"));  // 41 stays zero
  image.set(39, directory(39, 1, in_use_directory, reference_of(34, 1), u"under_a_file"));
  image.set(42, record_builder().entry(42).flags(in_use_directory).standard_information(0).build());  // no name
  image.set(45, record_builder().entry(45).sequence(0).flags(in_use_directory)
                    .standard_information(filetime_of_unix(1709373600), 0x10)
                    .file_name(reference_of(5, 5), u"sequence_zero", 1, filetime_of_unix(1709373600), true)
                    .build());
  image.set(50, byte_vector(1024, 0));
  return image;
}

class PathResolution : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = new scratch_folder("path-resolution");
    s_mft = s_folder->file("small.mft");
    write_bytes(s_mft, small_volume().bytes());
  }
  static void TearDownTestSuite() {
    delete s_folder;
    s_folder = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(m_file.open(uni::to_wide(s_mft)));
    m_context.source = &m_counter;
  }

  std::string resolve(std::uint64_t entry, std::uint16_t sequence, bool expect_ok) {
    std::string path;
    EXPECT_EQ(ntfs::resolve_parent_path(path, ntfs::file_reference::make(entry, sequence), m_context, m_cache),
              expect_ok)
        << entry << "-" << sequence << ": " << path;
    return path;
  }

  static inline scratch_folder* s_folder = nullptr;
  static inline std::string s_mft;
  ntfs::mft_file_source m_file;
  counting_source m_counter{m_file};
  ntfs::record_context m_context;
  ntfs::path_cache m_cache;
};

TEST_F(PathResolution, ReferencesResolveToPathsOrACorruptedMark) {
  const std::string corrupted = "[root]\\<path corrupted>\\";
  struct test_case {
    std::uint64_t entry;
    std::uint16_t sequence;
    bool ok;
    std::string path;
  };
  const test_case cases[] = {
      {5, 5, true, "[root]\\"},
      {5, 0, true, "[root]\\"},  // the root needs no read
      {30, 3, true, "[root]\\alive\\"},
      // The child still names sequence 3; the freed record says 4.
      {31, 3, true, "[root]\\alive\\deleted_dir\\"},
      {31, 3, true, "[root]\\alive\\deleted_dir\\"},
      // Reused: only the sequence it has now matches.
      {32, 3, false, corrupted},
      {32, 4, false, corrupted},
      {32, 5, true, "[root]\\reused\\"},
      {32, 6, false, corrupted},
      // Deleted at sequence 6: only references with sequence 5 still match.
      {33, 4, false, corrupted},
      {33, 6, false, corrupted},
      {33, 5, true, "[root]\\gone_twice\\"},
      // Sequence 0 accepts whatever the parent has; a directory whose own
      // sequence is 0 matches only references of 0.
      {32, 0, true, "[root]\\reused\\"},
      {31, 0, true, "[root]\\alive\\deleted_dir\\"},
      {45, 0, true, "[root]\\sequence_zero\\"},
      {45, 1, false, corrupted},
      // A file is no parent.
      {34, 1, false, corrupted},
      {39, 1, false, corrupted + "under_a_file\\"},
      // Past the end of the MFT, a record of zeros, one without any name, a
      // 48-bit entry number no MFT reaches.
      {5000, 1, false, corrupted},
      {41, 1, false, corrupted},
      {50, 1, false, corrupted},
      {42, 1, false, corrupted},
      {0x0000FFFFFFFFFFFFULL, 1, false, corrupted},
      {38, 1, false, corrupted + "orphaned\\"},
  };
  ntfs::path_cache tiny(1, 1);  // forgets almost everything: the same paths
  for (const auto& c : cases) {
    EXPECT_EQ(resolve(c.entry, c.sequence, c.ok), c.path) << c.entry << "-" << c.sequence;
    std::string path;
    EXPECT_EQ(ntfs::resolve_parent_path(path, ntfs::file_reference::make(c.entry, c.sequence), m_context, tiny), c.ok);
    EXPECT_EQ(path, c.path) << c.entry << "-" << c.sequence << " through a tiny cache";
  }
  EXPECT_EQ(m_counter.reads_of(5), 0);
  // All ones is no reference at all.
  std::string path = "left over";
  EXPECT_FALSE(ntfs::resolve_parent_path(path, ntfs::no_reference, m_context, m_cache));
  EXPECT_EQ(path.find("left over"), std::string::npos);
}

TEST_F(PathResolution, DirectoriesAreReadOnceAndLoopsEnd) {
  resolve(31, 3, true);
  resolve(31, 3, true);
  EXPECT_EQ(m_counter.reads_of(30), 1);
  EXPECT_EQ(m_counter.reads_of(31), 1);
  for (const std::uint64_t entry : {35, 36, 37}) {
    const std::string path = resolve(entry, 1, false);
    EXPECT_NE(path.find("<path corrupted>"), std::string::npos) << path;
    EXPECT_EQ(path.rfind("[root]\\", 0), 0u) << path;
    EXPECT_LT(path.size(), 200u) << path;
    EXPECT_LE(m_counter.reads_of(entry), 1);
  }
}

TEST(PathResolutionDeep, AChainOfFiveThousandDirectoriesResolves) {
  constexpr std::uint32_t first = 100;
  constexpr std::uint32_t depth = 5000;
  mft_image image;
  image.set(0, record_builder().entry(0).standard_information(1).file_name(reference_of(5, 5), u"$MFT").build());
  image.set(5, directory(5, 5, in_use_directory, reference_of(5, 5), u"."));
  for (std::uint32_t i = 0; i < depth; ++i) {
    const std::uint32_t entry = first + i;
    const std::uint64_t parent = i == 0 ? reference_of(5, 5) : reference_of(entry - 1, 1);
    image.set(entry, directory(entry, 1, in_use_directory, parent, u"d"));
  }
  scratch_folder folder("path-resolution-deep");
  write_bytes(folder.file("deep.mft"), image.bytes());
  ntfs::mft_file_source file;
  ASSERT_TRUE(file.open(uni::to_wide(folder.file("deep.mft"))));
  counting_source counter(file);
  ntfs::record_context context;
  context.source = &counter;
  ntfs::path_cache cache;

  std::string expected = "[root]\\";
  for (std::uint32_t i = 0; i < depth; ++i) expected += "d\\";
  std::string path;
  EXPECT_TRUE(ntfs::resolve_parent_path(path, ntfs::file_reference::make(first + depth - 1, 1), context, cache));
  EXPECT_EQ(path, expected);
  EXPECT_EQ(counter.total_reads(), static_cast<int>(depth));

  // Every level below is now known: resolving any of them reads nothing.
  counter.forget_reads();
  EXPECT_TRUE(ntfs::resolve_parent_path(path, ntfs::file_reference::make(first + depth / 2, 1), context, cache));
  EXPECT_EQ(path.size(), std::string("[root]\\").size() + 2 * (depth / 2 + 1));
  EXPECT_EQ(counter.total_reads(), 0);
}

}  // namespace
