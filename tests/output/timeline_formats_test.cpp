// The timeline layouts read by other people's tools: -bodyfile next to The
// Sleuth Kit's fls -m listing of the same volume, and -csvl2t / -csv read by Python's csv
// module, the log2timeline MACB letters checked against istat.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <regex>
#include <set>
#include <tuple>

#include "tests/common/tsk_agreement.h"

using namespace testing_support;

namespace {

bool have_tool(const std::string& name) { return std::system(("command -v " + name + " >/dev/null").c_str()) == 0; }

void write_text(const std::string& path, const std::string& text) { write_bytes(path, {text.begin(), text.end()}); }

std::string without_stream(const std::string& path) {
  const auto slash = path.rfind('/');
  return path.substr(0, path.find(':', slash == std::string::npos ? 0 : slash));
}

// Our "[root]\dir\file" as TSK names it, "/dir/file". Where the parent record
// was reused we say "<path corrupted>"; TSK files the name under its virtual
// $OrphanFiles folder.
std::string tsk_path(std::string path) {
  if (path.starts_with("[root]")) path.erase(0, 6);
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.starts_with("/<path corrupted>/")) path.replace(0, 17, "/$OrphanFiles");
  return path;
}

// A bodyfile line reduced to what both tools mean by it, keyed by
// "name|entry": the name is "/dir/file[:stream]", then " ($FILE_NAME)" for
// $FILE_NAME times and " (deleted)" for a record not in use; the values are
// size, access, modify, MFT change and create seconds.
using body_values = std::array<std::int64_t, 5>;
using canonical_body = std::map<std::string, body_values>;

void add_row(canonical_body& rows, const std::string& name, std::uint64_t entry, const body_values& values) {
  const auto [at, fresh] = rows.emplace(name + "|" + std::to_string(entry), values);
  EXPECT_TRUE(fresh || at->second == values) << "two different lines for " << at->first;
}

// fls -m's lines as normalise-fls.py reduced them: "name|entry|size|times".
canonical_body canonical_fls(const std::string& volume) {
  canonical_body rows;
  for (const std::string& text : split_lines(read_file(source_fixture_path(volume + ".fls-body.txt")))) {
    const std::vector<std::string> fields = split_fields(text, "|");
    body_values values{};
    for (int f = 0; f < 5; ++f) values[f] = std::stoll(fields[2 + f]);
    add_row(rows, fields[0], std::stoull(fields[1]), values);
  }
  return rows;
}

struct our_body {
  canonical_body rows;
  std::set<std::string> extension_names;    // keys of $FILE_NAME rows of names held by extension records
  std::set<std::uint64_t> extension_bases;  // base records with such names
};

our_body read_our_bodyfile(const std::vector<std::string>& arguments) {
  const run_result run = run_brindle(arguments);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  const std::vector<std::string> raw = split_lines(results_body(run.out));
  our_body body;
  if (raw.empty()) return body;
  EXPECT_EQ(raw[0], "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time");
  for (std::size_t i = 1; i < raw.size(); ++i) {
    const std::vector<std::string> fields = split_fields(raw[i], "|");
    const std::size_t open = fields.size() == 11 ? fields[1].rfind(" (") : std::string::npos;
    if (open == std::string::npos || fields[0] != "0" || fields[3] != "" || fields[4] != "0" || fields[5] != "0") {
      ADD_FAILURE() << "not one of our bodyfile lines: " << raw[i];
      continue;
    }
    body_values values{};
    for (int f = 0; f < 5; ++f) {
      values[f] = std::stoll(fields[6 + f]);
      EXPECT_EQ(std::to_string(values[f]), fields[6 + f]) << "whole seconds, as fls -m of TSK 4.11 writes";
    }
    const std::string name = tsk_path(fields[1].substr(0, open)), notes = fields[1].substr(open + 2);
    const std::uint64_t entry = std::stoull(fields[2]);
    const bool in_extension = notes.find("refinode [") != std::string::npos;
    const std::string state = notes.starts_with(" deleted;") ? " (deleted)" : "";
    const bool both = notes.ends_with("SI & FN times match)");
    const bool si = both || notes.ends_with("SI times)"), fn = both || notes.ends_with("FN times)");
    EXPECT_TRUE(si || fn) << raw[i];
    if (si) add_row(body.rows, name + state, entry, values);
    if (!fn) continue;
    // We repeat the $FILE_NAME times on each stream's pass; fls writes them
    // once per name.
    values[0] = 0;
    const std::string fn_name = without_stream(name) + " ($FILE_NAME)" + state;
    add_row(body.rows, fn_name, entry, values);
    if (!in_extension) continue;
    body.extension_names.insert(fn_name + "|" + std::to_string(entry));
    body.extension_bases.insert(entry);
  }
  return body;
}

// TSK keeps Unix seconds in 32 unsigned bits after dividing the wrapped
// 64-bit difference: a time t < 0 comes out as (2^64 / 10^7 + t) mod 2^32 =
// 2133437386 + t, or one more when the fraction dropped is large, and
// FILETIME 0 as 2076-11-29 08:54:34. We write t and 0; where TSK shows the
// value predicted, take it.
void adopt_tsk_wraparound(canonical_body& ours, const canonical_body& tsk) {
  constexpr std::int64_t two_32 = 1LL << 32;
  for (auto& [key, values] : ours) {
    const auto theirs = tsk.find(key);
    for (int f = 1; theirs != tsk.end() && f < 5; ++f) {
      if (values[f] > 0) continue;
      const std::int64_t wrapped = values[f] == 0 ? std::int64_t{seconds_as_tsk_keeps(0)}
                                                  : ((2133437386 + values[f]) % two_32 + two_32) % two_32;
      const std::int64_t shown = theirs->second[f];
      if (shown == wrapped || (values[f] < 0 && shown == wrapped + 1)) values[f] = shown;
    }
  }
}

bool is_dos_name(const std::string& name) {
  const std::string last = name.substr(name.rfind('/') + 1);
  const auto tilde = last.find('~');
  return tilde != std::string::npos && tilde < 7 && std::isdigit(static_cast<unsigned char>(last[tilde + 1])) &&
         std::none_of(last.begin(), last.end(), [](unsigned char c) { return std::islower(c); });
}

// Takes out of both sides the lines that differ by design, counted by
// class; whatever else differs is a disagreement.
std::map<std::string, int> set_aside_designed_differences(canonical_body& ours, const our_body& body,
                                                          canonical_body& tsk) {
  std::set<std::uint64_t> tsk_entries;
  for (const auto& [key, values] : tsk) tsk_entries.insert(std::stoull(key.substr(key.rfind('|') + 1)));
  std::map<std::string, int> classes;
  for (auto it = ours.begin(); it != ours.end();) {
    if (const auto same = tsk.find(it->first); same != tsk.end() && same->second == it->second) {
      ++it;
      continue;
    }
    const std::string name = it->first.substr(0, it->first.rfind('|'));
    const std::uint64_t entry = std::stoull(it->first.substr(it->first.rfind('|') + 1));
    const auto fn_at = name.find(" ($FILE_NAME)");
    std::string why;
    if (body.extension_names.count(it->first)) {
      // Such a name is the base record's, with its SI times, as fls lists
      // it; fls does not reach that $FILE_NAME for an FN line of its own.
      why = "FN line of a name in an extension record";
    } else if (fn_at != std::string::npos && body.extension_bases.count(entry)) {
      why = "FN line of a record with names in extension records (fls writes none)";
    } else if (entry == 5 && without_stream(name).starts_with("/.")) {
      why = "root directory (fls -r lists what is in it)";
    } else if (name == "<no filename attribute>" && !tsk_entries.count(entry)) {
      why = "allocated record without a name (fls lists unallocated ones only)";
    } else if (is_dos_name(name) && tsk_entries.count(entry)) {
      why = "DOS 8.3 name (fls lists the long name only)";
    }
    if (!why.empty()) ++classes[why];
    it = why.empty() ? std::next(it) : ours.erase(it);
  }
  return classes;
}

// The rows in bodyfile form, leaving out those `other` has too.
std::string as_body_text(const canonical_body& rows, const canonical_body& other) {
  std::string text;
  for (const auto& [key, values] : rows) {
    if (other.count(key) && other.at(key) == values) continue;
    text += "0|" + key.substr(0, key.rfind('|')) + "|" + key.substr(key.rfind('|') + 1) + "||0|0";
    for (const std::int64_t value : values) text += "|" + std::to_string(value);
    text += "\n";
  }
  return text;
}

class BodyfileTimeline : public ::testing::TestWithParam<tsk_volume> {};

TEST_P(BodyfileTimeline, SameLinesAsFlsAfterNormalising) {
  const tsk_volume& v = GetParam();
  std::vector<std::string> arguments = v.image_source();
  arguments.insert(arguments.end(), {"-bodyfile", "-quiet"});
  const our_body body = read_our_bodyfile(arguments);
  canonical_body tsk = canonical_fls(v.name), ours = body.rows;
  EXPECT_GT(tsk.size(), 40u);
  adopt_tsk_wraparound(ours, tsk);
  for (const auto& [why, count] : set_aside_designed_differences(ours, body, tsk)) {
    std::printf("  %s: %d lines set aside, %s\n", v.name, count, why.c_str());
  }
  EXPECT_EQ(as_body_text(ours, tsk), "") << "lines only we write";
  EXPECT_EQ(as_body_text(tsk, ours), "") << "lines only fls writes";
}

INSTANTIATE_TEST_SUITE_P(Volumes, BodyfileTimeline, ::testing::ValuesIn(tsk_volumes), tsk_volume_label);

// Bodyfile lines of streams, '|' in names, FILETIME 0 and times before 1970
// are kept as a golden run (bodyfile_edges).

// The rows of each CSV text as Python's csv module reads it (strict RFC 4180).
using csv_rows = std::vector<std::vector<std::string>>;
std::vector<csv_rows> python_csv(const scratch_folder& folder, const std::vector<std::string>& texts) {
  write_text(
      folder.file("read.py"),
      "import csv,sys\n"
      "for name in sys.argv[1:]:\n"
      "  with open(name, newline='', encoding='utf-8') as f:\n"
      "    for row in csv.reader(f, strict=True): sys.stdout.buffer.write('\\x1f'.join(row).encode() + b'\\x1e')\n"
      "  sys.stdout.buffer.write(b'\\x1d')\n");
  std::string command = "python3 '" + folder.file("read.py") + "'";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    write_text(folder.file(std::to_string(i) + ".csv"), texts[i]);
    command += " '" + folder.file(std::to_string(i) + ".csv") + "'";
  }
  const int status = std::system((command + " >'" + folder.file("rows") + "'").c_str());
  const std::vector<std::string> parts = split_fields(read_file(folder.file("rows")) + (status ? "\nexit" : ""), "\x1d");
  EXPECT_EQ(parts.size(), texts.size() + 1) << "Python's csv module refused the text: " << parts.back();
  std::vector<csv_rows> files(texts.size());
  for (std::size_t i = 0; i < files.size() && i < parts.size(); ++i) {
    for (const std::string& row : split_fields(parts[i], "\x1e")) {
      if (!row.empty()) files[i].push_back(split_fields(row, "\x1f"));
    }
  }
  return files;
}

const std::vector<std::string> l2t_columns = {"date",     "time",  "timezone", "MACB",   "source", "sourcetype",
                                              "type",     "user",  "host",     "short",  "desc",   "version",
                                              "filename", "inode", "notes",    "format", "extra"};

class CsvTimeline : public ::testing::TestWithParam<std::string> {};

TEST_P(CsvTimeline, L2tRowsAgreeWithFlsAndIstat) {
  const std::string volume = GetParam(), image = fixture_path(volume + ".img");
  const scratch_folder folder("l2t-" + volume);
  const run_result run = run_brindle({"-image", image, "-csvl2t", "-quiet", "-username", "bob", "-hostname", "box",
                                      "-timeformat", "hh:mm:ss.xxxxxxx"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  csv_rows rows;
  if (have_tool("python3")) {
    rows = python_csv(folder, {results_body(run.out)})[0];
  } else {
    // Unquoted, a ',' inside a value is written as a blank: split at ','.
    for (const std::string& line : split_lines(results_body(run.out))) rows.push_back(split_fields(line, ","));
  }
  ASSERT_GT(rows.size(), 40u);
  EXPECT_EQ(rows[0], l2t_columns);
  // ',' separates our fields, so a name's ',' is written as a blank.
  std::set<std::pair<std::string, std::uint64_t>> fls_names;
  for (fls_line& line : read_fls(volume)) {
    fls_names.emplace(std::regex_replace(line.path, std::regex(","), " "), line.entry);
  }
  const auto istat = read_istat(volume);
  // (inode, desc, type label) -> the time of the line showing M, A, C, B
  std::map<std::tuple<std::uint64_t, std::string, std::string>, std::array<std::string, 4>> groups;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    const std::vector<std::string>& f = rows[r];
    ASSERT_EQ(f.size(), 17u) << r;
    EXPECT_EQ(std::vector<std::string>({f[2], f[4], f[5], f[7], f[8], f[11], f[12], f[15]}),
              (std::vector<std::string>{"UTC", "FILE", "NTFS$MFT", "bob", "box", "2", image, "brindle (corvane)"}));
    const std::string label = f[6].substr(0, f[6].find(' '));
    EXPECT_TRUE(label == "$SI:" || label == "$FN:" || label == "$FN8.3:") << f[6];
    EXPECT_EQ(f[6], label + " [" + f[3] + "]");
    EXPECT_EQ(f[10].substr(f[10].rfind('\\') + 1), f[9]) << "short is the last part of desc";
    // fls lists neither the root nor DOS 8.3 names.
    const std::uint64_t inode = std::stoull(f[13], nullptr, 16);
    const std::string path = tsk_path(f[10]), state = f[14].substr(0, f[14].find(';'));
    const bool unlisted = f[14].find("FN8.3") != std::string::npos || (inode == 5 && path == "/.");
    EXPECT_TRUE(unlisted || fls_names.count({path, inode})) << "fls has no " << path << " at entry " << inode;
    EXPECT_TRUE(state == "file" || state == "dir" || state == "deleted" || state == "deleted (dir)") << f[14];
    EXPECT_TRUE(!istat.count(inode) || state.starts_with("deleted") != istat.at(inode).allocated) << f[10];
    auto& times = groups[{inode, f[10], label}];
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(f[3][i] == '.' || f[3][i] == "MACB"[i]) << f[3];
      if (f[3][i] != "MACB"[i]) continue;
      EXPECT_EQ(times[i], "") << f[10] << " " << label << ": "
                              << "MACB"[i] << " on two lines";
      times[i] = f[0] + " " + f[1];
    }
  }
  std::size_t checked = 0;
  for (const auto& [key, times] : groups) {
    const auto& [inode, desc, label] = key;
    if (!istat.count(inode)) continue;
    const std::string* shown = label == "$SI:" ? istat.at(inode).si_times : nullptr;
    for (const istat_name& name : istat.at(inode).file_names) {
      if (!shown && desc.ends_with("\\" + std::regex_replace(name.name, std::regex(","), " "))) shown = name.times;
    }
    if (!shown) continue;  // a name in an extension record, whose $FILE_NAME istat does not show
    // M, A, C, B against istat's modified, accessed, MFT modified, created.
    for (int i = 0; i < 4; ++i) {
      const std::string where = desc + " " + label + " " + "MACB"[i];
      if (times[i].empty()) {
        // FILETIME 0 gives no line; TSK shows it as 2076-11-29 08:54:34.
        EXPECT_TRUE(shown[i].starts_with("2076-11-29 08:54:34.0000000")) << where;
      } else if (times[i] == " ") {
        // Not printable: within the first second of 1970 (istat shows
        // 0000-00-00) or before 1900 (1601 wraps around in TSK to 2076).
        EXPECT_TRUE(shown[i].starts_with("0000-00-00") || shown[i].starts_with("2076-11-29")) << where;
      } else {
        EXPECT_EQ(as_istat_prints(times[i]), shown[i]) << where;
      }
    }
    ++checked;
  }
  EXPECT_GT(checked, 20u);
}

TEST_P(CsvTimeline, EveryCsvLayoutParsesWithOneColumnCount) {
  if (!have_tool("python3")) GTEST_SKIP() << "python3 not installed";
  const std::vector<std::vector<std::string>> variants = {
      {"-csv"}, {"-csv", "-enable_quoted_csv_fields"}, {"-csv", "-pair_datetime"}, {"-csvl2t", "-pair_datetime"}};
  std::vector<std::string> texts;
  for (const std::vector<std::string>& options : variants) {
    std::vector<std::string> arguments = {"-image", fixture_path(GetParam() + ".img"), "-quiet"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const run_result run = run_brindle(arguments);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    texts.push_back(results_body(run.out));
  }
  std::vector<csv_rows> parsed = python_csv(scratch_folder("csv-" + GetParam()), texts);
  for (std::size_t v = 0; v < variants.size(); ++v) {
    const std::string option = variants[v].back();
    csv_rows& rows = parsed[v];
    ASSERT_GT(rows.size(), 30u) << option;
    for (const auto& row : rows) EXPECT_EQ(row.size(), rows[0].size()) << option << ": " << row[0];
    // -pair_datetime puts the l2t date and time in one column. The quoting
    // of ',' and '"' in names is in the golden layouts.
    EXPECT_TRUE(rows[0][0].starts_with(variants[v][0] == "-csvl2t" ? "date/time" : "mft entry")) << option;
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, CsvTimeline, ::testing::Values("basic", "streams"));

}  // namespace
