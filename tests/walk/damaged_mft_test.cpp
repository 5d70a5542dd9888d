// The whole program over damaged copies of the basic volume's $MFT. Each
// copy breaks one thing (a cut, zeros, random bytes, a bad fixup array,
// lengths and offsets pointing out of their attribute or record, attribute
// lists naming odd records, looping parent chains). The run must end
// normally, still report the records that were not touched, and log the
// records it had to refuse.
#include <gtest/gtest.h>

#include <charconv>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>

#include "tests/common/ntfs_record_builder.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

constexpr std::size_t k_record = 1024;
constexpr std::uint64_t k_long_file_name = 88;
constexpr std::uint64_t k_links = 89;
constexpr std::uint64_t k_links_a = 90;
constexpr std::uint64_t k_links_b = 91;
constexpr std::uint64_t k_hard_link = 92;
constexpr std::uint64_t k_interix = 93;
constexpr std::uint64_t k_win_symlink = 94;
constexpr std::uint64_t k_many_streams = 302;
constexpr std::uint64_t k_compressed = 311;
constexpr std::uint64_t k_sparse = 315;
constexpr std::uint64_t k_gone_big = 320;
constexpr std::uint64_t k_report = 327;
constexpr std::uint64_t k_far_future = 337;

// "-mftfile <mft> <layout...> -diags <diags> -quiet"; a run still going
// after 30 s is a hang.
run_result run_on(const std::string& mft, std::vector<std::string> layout, const std::string& diags) {
  layout.insert(layout.begin(), {"-mftfile", mft});
  layout.insert(layout.end(), {"-diags", diags, "-quiet"});
  return run_brindle(layout, 30);
}

// Entry number -> result lines, from the first field ("0x0000005c," or
// "0x0000005c |").
std::map<std::uint64_t, std::vector<std::string>> lines_by_entry(const std::string& results) {
  std::map<std::uint64_t, std::vector<std::string>> lines;
  for (const std::string& line : split_lines(results)) {
    if (line.rfind("0x", 0) != 0) continue;
    lines[std::stoull(line.substr(2, line.find_first_of(", |") - 2), nullptr, 16)].push_back(line);
  }
  return lines;
}

std::string hex_entry(std::uint64_t entry) {
  char text[16];
  return {text, std::to_chars(text, text + sizeof text, entry, 16).ptr};
}

using damage = std::function<void(byte_vector&)>;

struct damage_case {
  const char* name;
  damage apply;
  std::set<std::uint64_t> still_reported;  // untouched entries that must appear
  std::set<std::uint64_t> refused;         // entries logged as "err: mftfixup"
  bool anything_reported = true;
  std::set<std::uint64_t> dumped = {};  // damaged entries also shown with -find_mft
  std::vector<std::string> logged = {};  // further diagnostics lines expected
  // Texts every -csvperpath line of an entry holds (or, when not `present`, none does).
  struct line_text {
    std::uint64_t entry;
    std::string text;
    bool present = true;
  };
  std::vector<line_text> texts = {};
};

std::span<std::uint8_t> record_of(byte_vector& mft, std::uint64_t entry) {
  return std::span<std::uint8_t>(mft).subspan(entry * k_record, k_record);
}

template <typename Change>
void rewrite(byte_vector& mft, std::uint64_t entry, Change change) {
  rewrite_record(record_of(mft, entry), change);
}

// The $FILE_NAME of `record` that is not a DOS name.
std::size_t long_name_attribute(std::span<const std::uint8_t> record) {
  for (int nth = 0; nth < 4; ++nth) {
    const std::size_t at = find_attribute(record, 0x30, nth);
    if (at == no_attribute) break;
    if (record[value_offset_of(record, at) + 65] != 2) return at;
  }
  return no_attribute;
}

void set_parent(byte_vector& mft, std::uint64_t entry, std::uint64_t parent_reference) {
  rewrite(mft, entry, [&](std::span<std::uint8_t> record) {
    for (int nth = 0; nth < 4; ++nth) {
      const std::size_t at = find_attribute(record, 0x30, nth);
      if (at == no_attribute) break;
      poke(record, value_offset_of(record, at), parent_reference, 8);
    }
  });
}

// Random bytes from a fixed seed, so a failure can be repeated.
void randomize(std::span<std::uint8_t> bytes, std::uint32_t seed) {
  std::mt19937 generator(seed);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
}

const std::set<std::uint64_t> k_sample = {0, 5, k_long_file_name, k_hard_link, k_many_streams, k_report, k_far_future};

std::set<std::uint64_t> sample_without(std::initializer_list<std::uint64_t> removed) {
  std::set<std::uint64_t> kept = k_sample;
  for (auto entry : removed) kept.erase(entry);
  return kept;
}

std::vector<damage_case> damage_cases() {
  std::vector<damage_case> cases;
  cases.push_back({"untouched", [](byte_vector&) {}, k_sample, {}, true, {k_many_streams, 307, 95}});
  cases.push_back({"truncated_mid_record", [](byte_vector& mft) { mft.resize(100 * k_record + 500); },
                   {0, 5, k_long_file_name, k_hard_link}, {}});
  cases.push_back({"truncated_inside_the_first_record", [](byte_vector& mft) { mft.resize(700); }, {}, {}, false});
  cases.push_back({"empty", [](byte_vector& mft) { mft.clear(); }, {}, {}, false});
  cases.push_back({"all_zeros", [](byte_vector& mft) { std::fill(mft.begin(), mft.end(), 0); }, {}, {}, false});
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    cases.push_back({"random_whole_file", [seed](byte_vector& mft) { randomize(mft, seed); }, {}, {}, false});
  }

  cases.push_back({"broken_fixup_arrays",
                   [](byte_vector& mft) {
                     poke(record_of(mft, k_long_file_name), 4, 0x2C, 2);  // array offset
                     poke(record_of(mft, k_hard_link), 6, 0xFFFF, 2);     // array count
                     poke(record_of(mft, k_interix), 4, 0x3FE, 2);        // array at the record's end
                     poke(record_of(mft, k_win_symlink), 20, 0x3F8, 2);   // first attribute
                   },
                   sample_without({k_long_file_name, k_hard_link}),
                   {k_long_file_name, k_hard_link, k_interix, k_win_symlink},
                   true,
                   {k_long_file_name, k_hard_link, k_interix, k_win_symlink}});
  cases.push_back({"baad_records",
                   [](byte_vector& mft) {
                     std::memcpy(record_of(mft, k_long_file_name).data(), "BAAD", 4);
                     std::memcpy(record_of(mft, k_links).data(), "BAAD", 4);
                   },
                   sample_without({k_long_file_name}),
                   {},
                   true,
                   {k_long_file_name, k_links},
                   {"err: fixup_mft type: BAAD", "mft entry 88 has bad filerecord", "mft entry 89 has bad filerecord"}});
  cases.push_back({"torn_sector_tails",
                   [](byte_vector& mft) {
                     for (std::uint64_t entry = 64; entry < 300; ++entry) {
                       poke(record_of(mft, entry), stride_bytes - 2, 0xA5A5, 2);
                       poke(record_of(mft, entry), 2 * stride_bytes - 2, 0x5A5A, 2);
                     }
                   },
                   k_sample, {}, true, {k_long_file_name, k_hard_link}});
  cases.push_back({"attribute_lengths_past_the_record",
                   [](byte_vector& mft) {
                     rewrite(mft, k_long_file_name, [](std::span<std::uint8_t> r) {
                       poke(r, find_attribute(r, 0x80) + 4, 0xFFFF, 4);
                     });
                     rewrite(mft, k_hard_link, [](std::span<std::uint8_t> r) {
                       poke(r, find_attribute(r, 0x10) + 4, 0x7FFFFFFF, 4);
                     });
                     rewrite(mft, k_report, [](std::span<std::uint8_t> r) {
                       poke(r, find_attribute(r, 0x30) + 4, 1024 - find_attribute(r, 0x30) + 8, 4);
                     });
                     rewrite(mft, k_interix, [](std::span<std::uint8_t> r) {
                       // A named stream in place of the end marker whose
                       // resident value runs 64 bytes past the record.
                       const std::size_t at = peek(r, 24, 4) - 8;
                       const std::size_t length = 1024 - at + 64;
                       std::fill(r.begin() + static_cast<std::ptrdiff_t>(at), r.end(), 0x41);
                       poke(r, at, 0x80, 4);
                       poke(r, at + 4, length, 4);
                       poke(r, at + 8, 0x0118, 2);  // resident, name of one unit
                       poke(r, at + 10, 24, 2);     // name offset
                       poke(r, at + 14, 0x55, 2);   // id
                       poke(r, at + 16, length - 32, 4);
                       poke(r, at + 20, 32, 2);
                     });
                   },
                   sample_without({k_hard_link}), {}, true, {k_long_file_name, k_hard_link, k_interix, k_report}});
  cases.push_back({"file_name_lengths_past_the_attribute",
                   [](byte_vector& mft) {
                     rewrite(mft, k_long_file_name, [](std::span<std::uint8_t> r) {
                       r[value_offset_of(r, long_name_attribute(r)) + 64] = 255;
                     });
                     rewrite(mft, k_hard_link, [](std::span<std::uint8_t> r) {
                       poke(r, find_attribute(r, 0x30) + 16, 0xFFFF, 4);  // value length
                     });
                     rewrite(mft, k_report, [](std::span<std::uint8_t> r) {
                       poke(r, find_attribute(r, 0x30) + 20, 0xFFF0, 2);  // value offset
                     });
                   },
                   // 88 keeps only its DOS name when the long name claims 255 characters.
                   k_sample, {}, true, {k_long_file_name, k_hard_link, k_report}, {},
                   {{k_long_file_name, "Long File Name.txt", false}}});
  cases.push_back({"run_lists_past_the_attribute",
                   [](byte_vector& mft) {
                     rewrite(mft, k_gone_big, [](std::span<std::uint8_t> r) {
                       const std::size_t data = find_attribute(r, 0x80);
                       poke(r, data + 32, peek(r, data + 4, 4) + 100, 2);
                     });
                     rewrite(mft, k_compressed, [](std::span<std::uint8_t> r) {
                       // Every byte from the run list to the attribute's end a
                       // header asking for 8-byte fields.
                       const std::size_t data = find_attribute(r, 0x80);
                       const std::size_t end = data + peek(r, data + 4, 4);
                       for (std::size_t i = data + peek(r, data + 32, 2); i < end; ++i) r[i] = 0x88;
                     });
                     rewrite(mft, k_sparse, [](std::span<std::uint8_t> r) {
                       poke(r, find_attribute(r, 0x80) + 32, 0xFFFF, 2);
                     });
                     rewrite(mft, 320 - 1, [](std::span<std::uint8_t> r) {
                       const std::size_t data = find_attribute(r, 0x80);
                       if (data == no_attribute) return;
                       r[data + 8] = 1;  // a resident value taken for a run list
                     });
                   },
                   k_sample, {}, true, {k_gone_big, k_compressed, k_sparse, 319}});

  cases.push_back({"attribute_list_entries_pointing_at_themselves_and_past_the_mft",
                   [](byte_vector& mft) {
                     record_builder base;
                     base.entry(k_long_file_name).standard_information(filetime_of_unix(1709373600));
                     const std::uint16_t list_id = base.next_id();
                     base.attribute_list({
                         {0x10, k_long_file_name, 1, 0, u""},
                         {0x20, k_long_file_name, 1, list_id, u""},
                         {0x30, k_long_file_name, 1, 2, u""},
                         {0x80, k_long_file_name, 1, 3, u""},
                         {0x80, k_long_file_name, 1, 3, u"self"},
                         {0x80, 0x0000FFFFFFFFFFFFULL, 1, 0, u"far"},
                         {0x80, 100000, 1, 0, u"beyond"},
                         {0x80, 5, 5, 0, u"root"},
                     });
                     base.file_name(reference_of(5, 5), u"Long File Name.txt").resident(0x80, byte_vector(100, 'x'));
                     const byte_vector record = base.build(7);
                     std::copy(record.begin(), record.end(), record_of(mft, k_long_file_name).begin());
                     // An extension record naming itself as its base, and one
                     // naming an entry past the end of the MFT.
                     poke(record_of(mft, 303), 32, reference_of(303, 1), 8);
                     poke(record_of(mft, 304), 32, reference_of(0x0000FFFFFFFFFFFFULL, 1), 8);
                     // The base record of a non-resident list naming itself.
                     poke(record_of(mft, k_many_streams), 32, reference_of(k_many_streams, 1), 8);
                   },
                   sample_without({k_many_streams}), {}, true, {k_long_file_name, k_many_streams, 303, 304}});
  cases.push_back({"parent_chains_that_loop",
                   [](byte_vector& mft) {
                     set_parent(mft, k_links_a, reference_of(k_links_b, 1));
                     set_parent(mft, k_links_b, reference_of(k_links_a, 1));
                     set_parent(mft, k_links, reference_of(k_links, 1));
                   },
                   // Names in the loop get corrupted paths; outside it nothing changes.
                   k_sample, {}, true, {k_links, k_links_a, k_hard_link}, {},
                   {{k_hard_link, "<path corrupted>"}, {k_win_symlink, "<path corrupted>"},
                    {k_long_file_name, "[root]\\ "}, {k_long_file_name, "<path corrupted>", false}}});
  // /links (89) fails the header test: its children are reported, but never
  // as if they sat in the root; /links/a and /links/b are read, their parent is not.
  cases.push_back({"refused_parent_directory", [](byte_vector& mft) { poke(record_of(mft, k_links), 4, 0x2C, 2); },
                   k_sample, {k_links}, true, {}, {},
                   {{k_links_a, "<path corrupted>"}, {k_interix, "<path corrupted>"},
                    {k_win_symlink, "<path corrupted>"}, {k_hard_link, "[root]\\<path corrupted>\\"}}});

  for (std::uint32_t seed : {11u, 12u, 13u, 14u}) {
    // Records 100-299 (bigdir's files and more) replaced by noise.
    cases.push_back({"random_records",
                     [seed](byte_vector& mft) {
                       randomize(std::span<std::uint8_t>(mft).subspan(100 * k_record, 200 * k_record), seed);
                     },
                     k_sample, {100, 150, 299}, true, {100, 299}});
    // Valid headers, random attributes.
    cases.push_back({"random_attributes",
                     [seed](byte_vector& mft) {
                       for (std::uint64_t entry = 100; entry < 300; ++entry) {
                         rewrite(mft, entry, [&](std::span<std::uint8_t> r) {
                           const std::size_t first = peek(r, 20, 2);
                           randomize(r.subspan(first), seed * 1000 + static_cast<std::uint32_t>(entry));
                         });
                       }
                     },
                     k_sample, {}, true, {100, 101, 150, 299}});
    // Scattered single-byte changes anywhere past the root directory.
    cases.push_back({"random_byte_flips",
                     [seed](byte_vector& mft) {
                       std::mt19937 generator(seed);
                       std::uniform_int_distribution<std::size_t> position(6 * k_record, mft.size() - 1);
                       for (int i = 0; i < 3000; ++i) mft[position(generator)] ^= static_cast<std::uint8_t>(1 + generator() % 255);
                     },
                     {0, 5}, {}, true, {64, 92, 302, 307}});
  }
  return cases;
}

class DamagedMft : public ::testing::TestWithParam<std::size_t> {
 protected:
  static void SetUpTestSuite() { s_basic = read_bytes(fixture_path("basic.mft")); }
  static inline byte_vector s_basic;
};

TEST_P(DamagedMft, RunReportsWhatIsIntact) {
  const damage_case c = damage_cases()[GetParam()];
  ASSERT_EQ(s_basic.size(), 338 * k_record);
  byte_vector mft = s_basic;
  c.apply(mft);
  scratch_folder folder(std::string("damaged-") + c.name + "-" + std::to_string(GetParam()));
  const std::string path = folder.file("damaged.mft");
  write_bytes(path, mft);

  for (const auto& layout : {std::vector<std::string>{"-csv"}, std::vector<std::string>{"-csvperpath"}}) {
    SCOPED_TRACE(layout.front());
    const run_result run = run_on(path, layout, folder.file("diags.txt"));
    ASSERT_FALSE(run.timed_out);
    // Without a usable record 0 nothing can be walked: the run says so.
    EXPECT_EQ(run.exit_status, c.anything_reported ? 0 : 255);
    const std::string diags = read_file(folder.file("diags.txt"));
    const auto lines = lines_by_entry(results_body(run.out));
    EXPECT_EQ(!lines.empty(), c.anything_reported) << run.out.substr(0, 2000);
    for (const std::uint64_t entry : c.still_reported) {
      EXPECT_TRUE(lines.count(entry)) << "entry " << entry << " missing";
    }
    for (const std::uint64_t entry : c.refused) {
      EXPECT_FALSE(lines.count(entry)) << "entry " << entry << " reported";
      EXPECT_NE(diags.find("err: mftfixup " + hex_entry(entry) + "\n"), std::string::npos)
          << "entry " << entry << " not logged";
    }
    for (const auto& [entry, text, present] : c.texts) {
      if (layout.front() != "-csvperpath") break;
      ASSERT_TRUE(lines.count(entry)) << "entry " << entry << " missing";
      for (const std::string& line : lines.at(entry)) EXPECT_EQ(line.find(text) != std::string::npos, present) << line;
    }
    for (const std::string& line : c.logged) {
      EXPECT_NE(diags.find(line + "\n"), std::string::npos) << line;
    }
  }
  // The record dump shows every attribute's bytes, so it reads all that the
  // parser kept of a damaged record.
  for (const std::uint64_t entry : c.dumped) {
    SCOPED_TRACE("-find_mft " + std::to_string(entry));
    const run_result run = run_on(path, {"-find_mft", std::to_string(entry)}, folder.file("dump.txt"));
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_status, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedMft, ::testing::Range<std::size_t>(0, damage_cases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           return std::string(damage_cases()[info.param].name) + "_" + std::to_string(info.param);
                         });

}  // namespace
