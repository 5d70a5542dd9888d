// Runs the brindle binary with whole command lines and checks what the user
// sees: the usage text, the run header, the exit status and the messages of
// a rejected command line, and how options and their values are read.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/common/test_support.h"

namespace {

using testing_support::fixture_path;
using testing_support::read_file;
using testing_support::results_body;
using testing_support::run_brindle;
using testing_support::run_result;
using testing_support::scratch_folder;
using testing_support::split_lines;

const char* const banner = "brindle ver: 0.95";

// Written to standard error for a help request, byte for byte. The -base10
// line ends with a blank; the raw string is closed right after it so that
// the blank cannot be lost to an editor trimming line ends.
const std::string usage_text = std::string(77, '-') + "\n\n" + banner + "\n\nusage:\n\n" +
                               R"USAGE( Running 'brindle' on an extracted $MFT file
  brindle -mftfile <name> [-opts]         = source is extract $MFT file

 Running 'brindle' on a disk/partition image captured w/ a 'dd' type tool
  brindle -image <file> [-offset <vol>]   = dd image
    (or E01, split raw .001, VHD/VHDX, QCOW2, VMDK: the first file)
  -verify_image                           = check the image digest an E01 stores

 Running 'brindle' on a VMWare monolithic virtual volume
  -vmdk "disk1 | disk2 | ..."             = VMWare VMDK disk(s)

 Filter 'OR' logic options
  -filter_ext "ext1 | ext2 | ..."         = extract using exts
  -filter_name "name1 | name2 | ..."      = extract using partial names
  -filter_fullname "name1 | name2 | ..."  = extract using full names
  -filter_dir "dir1 | dir2 | ..."         = extract using dirs
  -filter_file "path/file1 | ..."         = extract specified files
  -filter_dir_inode "inode1 | inode2 .."  = extract using dir inodes
  -filter_inode "inode1 | inode2 | ..."   = extract specified inodes
  -filter_sig "mz | hive | evt | sqlite"  = extract using signatures
  -filter_max_size <size>                 = extract if doesn't exceed size
  -filter_min_ads_size <size>             = extract ADS sizes greater than

 Filter 'AND' logic options
  -filter_start_time <date time>          = format "mm/dd/yyyy hh:mm:ss"
  -filter_stop_time <date time>           = format "mm/dd/yyyy hh:mm:ss"
  -filter_deleted_files                   = analyzes only filerecs in $MFT
  -filter_deleted_files_all               = analyzes both $MFT and unalloc
  -filter_unalloc_clusters                = analyze unallocated clusters
  -filter_all_clusters                    = analyze $MFT & unalloc clusters

 Extraction options
  -action_copy_files <dir> [-raw]         = extract file into dir
         [-raw]                           = incl slack & skip sparse clusters
         [-skip_sparse_clusters]          = don't incl sparse clusters
  -action_include_header                  = extracts 0x20 bytes from file
  -action_find_strings_in_hdr             = find strings in first 0x100 bytes
  -action_include_clusterinfo             = show cluster info
  -action_include_zoneinfo                = show any ADS: Zone info
  -action_include_ownersid                = show owner SID

 Results file format options
  -csv                                    = csv format, has most output
  -csvl2t                                 = log2timeline format
  -bodyfile                               = bodyfile format
  -csvperpath                             = only one csv entry/pathfile
  -hashfile  "md5 | sha1 | sha256"        = display hashes in output
  -jsonl                                  = JSON Lines, one object per path
  -jsonl_timeline                         = JSON Lines, one object per time

 More evidence from the volume (after the MFT)
  -usnjrnl                                = rows of the change journal ($J)
  -usnfile <file>                         = rows of an extracted $J file
  -indx_slack                             = deleted entries in $I30 index slack

 General purpose options
  -out <results file>                     = output results to this file
  -hide_dos_fntimes                       = don't include dos 8.3 fn time
  -hostname <name>                        = output hostname
  -base10                                 = use base10 vice std::hex )USAGE" +
                               "\n" + R"USAGE(  -use_orig_ext                           = only for [-action_copy_files]
  -script <file>                          = use file to express options
  -mftstart <value> [-mftrange <value>]   = only process these inodes
  -filerecord_offset                      = output the offset of the filerec
  -quiet                                  = suppress progress during run
  -dateformat mm/dd/yy                    = "yyyy-mm-dd" is the default
  -timeformat hh:mm:ss                    = "hh:mm:ss.xxx" is the default
  -pair_datetime                          = combine date/time into 1 field
  -no_whitespace                          = remove whitespace between delims
  -csv_separator "|"                      = use a pipe char for separator
  -version                                = version and compiled-in features

 Experimental option [split processing into multiple instances]
  -cpu <#instances> -out <file> = merge instances into 1 file
         [-tempdir <folder>]    = use this temp dir for file merge
         [-separate_files]      = don't merge; each instance is separate file

)USAGE";

std::string mft() { return fixture_path("basic.mft"); }

// Record size of the fixture volume, so the extracted $MFT holds size / 1024
// entries.
constexpr std::uint64_t record_size_bytes = 1024;

std::uint64_t fixture_entry_count() { return std::filesystem::file_size(mft()) / record_size_bytes; }

// First line of the output of a shell command, without its line end.
std::string command_line_output(const std::string& command) {
  std::string text;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
    ::pclose(pipe);
  }
  const auto end = text.find('\n');
  return end == std::string::npos ? text : text.substr(0, end);
}

std::string utc_date_text(const char* form) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, form, &parts);
  return text;
}

// Standard output of a run that wrote its header and then nothing else.
void expect_header_only(const std::string& out) {
  const auto lines = split_lines(out);
  ASSERT_EQ(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0], banner);
  EXPECT_EQ(lines[3], "");
  EXPECT_TRUE(out.ends_with("\"\n\n")) << out;
}

// MFT entry numbers named by the result lines (the first field, hexadecimal
// by default); the column heading line is skipped.
std::set<std::uint64_t> reported_entries(const std::string& out) {
  std::set<std::uint64_t> entries;
  for (const auto& line : split_lines(results_body(out))) {
    if (!line.starts_with("0x")) continue;
    entries.insert(std::stoull(line.substr(0, line.find_first_of(" ,|")), nullptr, 16));
  }
  return entries;
}

std::set<std::uint64_t> entries_between(const std::set<std::uint64_t>& all, std::uint64_t first,
                                        std::uint64_t end) {
  std::set<std::uint64_t> inside;
  for (const auto entry : all) {
    if (entry >= first && entry < end) inside.insert(entry);
  }
  return inside;
}

run_result run_quiet(std::vector<std::string> arguments) {
  std::vector<std::string> full{"-mftfile", mft(), "-quiet"};
  full.insert(full.end(), arguments.begin(), arguments.end());
  return run_brindle(full);
}

TEST(CommandLine, HelpRequestsWriteTheUsageTextAndNothingElse) {
  const std::vector<std::vector<std::string>> requests = {
      {},
      {"/?"},
      {"-mftfile", mft(), "--HELP", "-csv"},
      {"-h"},
      {"-help"},
      {"-quiet", "-HeLp"},
  };
  for (const auto& request : requests) {
    const run_result run = run_brindle(request);
    SCOPED_TRACE(request.empty() ? std::string("no arguments") : request.back());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, usage_text);
    EXPECT_EQ(run.out, "");
  }

  // Only whole arguments ask for help.
  const run_result not_help = run_quiet({"-mftstart", "5", "-helpme", "-h1"});
  EXPECT_EQ(not_help.exit_status, 0);
  EXPECT_EQ(not_help.err.find("usage:"), std::string::npos);
  EXPECT_EQ(reported_entries(not_help.out), (std::set<std::uint64_t>{5}));
}

TEST(CommandLine, RunHeaderNamesDateHostSystemAndTheQuotedCommandLine) {
  const std::string date_before = utc_date_text("%m/%d/%Y");
  const run_result run = run_quiet({"-mftstart", "5", "-hostname", "case 17 host"});
  const std::string date_after = utc_date_text("%m/%d/%Y");
  ASSERT_EQ(run.exit_status, 0);

  const auto lines = split_lines(run.out);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], banner);

  // Run line: "label: date time suffix; label: host; label: system", then
  // optionally the provenance markers.
  const std::string& run_line = lines[1];
  std::vector<std::string> fields = testing_support::split_fields(run_line, "; ");
  ASSERT_GE(fields.size(), 3u) << run_line;
  std::smatch when;
  ASSERT_TRUE(std::regex_match(fields[0], when,
                               std::regex(R"(\w+: (\d\d/\d\d/\d{4}) \d\d:\d\d:\d\d(\.\d+)? \S+)")))
      << fields[0];
  EXPECT_TRUE(when[1] == date_before || when[1] == date_after) << when[1];
  const std::string host = command_line_output("hostname");
  ASSERT_FALSE(host.empty());
  const auto host_at = fields[1].find(": ");
  ASSERT_NE(host_at, std::string::npos) << fields[1];
  EXPECT_TRUE(std::regex_match(fields[1].substr(0, host_at), std::regex(R"(\w+)"))) << fields[1];
  EXPECT_EQ(fields[1].substr(host_at + 2), host);
  // The system description is the rest of the line up to any markers.
  std::string system = fields[2];
  std::size_t marker_fields = 0;
  if (fields.size() > 3) {
    marker_fields = 1;
    EXPECT_TRUE(std::regex_match(fields.back(), std::regex(R"((<~>)?(:=)?)"))) << fields.back();
    EXPECT_FALSE(fields.back().empty());
  }
  for (std::size_t i = 3; i + marker_fields < fields.size(); ++i) system += "; " + fields[i];
  std::size_t at = 0;
  for (const char* part : {"-s", "-r", "-v", "-m"}) {
    const std::string piece = command_line_output(std::string("uname ") + part);
    ASSERT_FALSE(piece.empty());
    const auto found = system.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "uname " << part << " '" << piece << "' in " << system;
    at = found + piece.size();
  }

  // Command line: program path first, an argument holding a blank in single
  // quotes, all in double quotes.
  const std::string expected_arguments = std::string(BRINDLE_BINARY) + " -mftfile " + mft() +
                                         " -quiet -mftstart 5 -hostname 'case 17 host'\"";
  EXPECT_TRUE(lines[2].starts_with("\"")) << lines[2];
  EXPECT_TRUE(lines[2].ends_with(": " + expected_arguments)) << lines[2];
  EXPECT_EQ(lines[2].find(": "), lines[2].size() - expected_arguments.size() - 2) << lines[2];
  EXPECT_EQ(lines[3], "");
  EXPECT_TRUE(lines[4].starts_with("mft entry")) << lines[4];
}

TEST(CommandLine, RunHeaderDateFollowsDateformatAndMarksPipedRuns) {
  const std::string date_before = utc_date_text("%Y-%m-%d");
  const run_result run = run_quiet({"-mftstart", "5", "-pipe", "-dateformat", "yyyy-mm-dd"});
  const std::string date_after = utc_date_text("%Y-%m-%d");
  ASSERT_EQ(run.exit_status, 0);
  const auto lines = split_lines(run.out);
  ASSERT_GE(lines.size(), 4u);
  std::smatch when;
  ASSERT_TRUE(std::regex_search(lines[1], when, std::regex(R"(^\w+: (\d{4}-\d\d-\d\d) )"))) << lines[1];
  EXPECT_TRUE(when[1] == date_before || when[1] == date_after) << when[1];

  const std::string piped = ": <filelist> ... | " + std::string(BRINDLE_BINARY) + " -mftfile ";
  EXPECT_TRUE(lines[2].starts_with("\"")) << lines[2];
  EXPECT_NE(lines[2].find(piped), std::string::npos) << lines[2];
}

TEST(CommandLine, ResultsFileStartsWithTheHeaderThatStandardOutputShowsOnce) {
  const scratch_folder scratch("command-line-out");
  const run_result to_console = run_quiet({"-mftstart", "5", "-mftrange", "4"});
  ASSERT_EQ(to_console.exit_status, 0);
  const std::string console_body = results_body(to_console.out);
  ASSERT_NE(console_body.find("0x00000008"), std::string::npos);

  // A second -out is left unread: its folder is not made and its file not
  // written.
  const std::string first = scratch.file("first.txt");
  const std::string second = scratch.file("unused/second.txt");
  const run_result run = run_quiet({"-mftstart", "5", "-out", first, "-mftrange", "4", "-out", second});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  expect_header_only(run.out);
  const std::string file = read_file(first);
  EXPECT_TRUE(file.starts_with(run.out)) << file.substr(0, 400);
  EXPECT_EQ(results_body(file), console_body);
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "unused"));

  // Back slashes in the results path are folder separators; missing folders
  // are made.
  const std::string windows_style = scratch.path().string() + "\\made\\deeper\\r.txt";
  const run_result slashes = run_quiet({"-mftstart", "5", "-mftrange", "4", "-out", windows_style});
  ASSERT_EQ(slashes.exit_status, 0) << slashes.err;
  EXPECT_EQ(results_body(read_file(scratch.file("made/deeper/r.txt"))), console_body);
}

TEST(CommandLine, RejectedCommandLinesEndWithTheirMessageAndStatus) {
  const scratch_folder scratch("command-line-fail");
  testing_support::write_bytes(scratch.file("plain"), {'x'});

  // A results file that cannot be created is a bad command line; the header
  // is out before the options are read.
  const std::string blocked = scratch.file("plain/results.txt");
  const run_result bad_out = run_quiet({"-out", blocked});
  EXPECT_EQ(bad_out.exit_status, 255);
  expect_header_only(bad_out.out);
  EXPECT_EQ(bad_out.err,
            "prob opening file " + blocked + " for output, aborting\ninvalid cmd options, aborting\n");

  // A value that is not a number: the parser reports it itself.
  const run_result bad_number = run_quiet({"-mftstart", "five"});
  EXPECT_EQ(bad_number.exit_status, 255);
  expect_header_only(bad_number.out);
  EXPECT_FALSE(bad_number.err.empty());
  EXPECT_EQ(bad_number.err.find("invalid cmd options"), std::string::npos) << bad_number.err;
  EXPECT_EQ(bad_number.err.find("usage:"), std::string::npos) << bad_number.err;

  // Several instances need a results file to merge into.
  const run_result two_cpus = run_quiet({"-cpu", "2"});
  EXPECT_EQ(two_cpus.exit_status, 255);
  expect_header_only(two_cpus.out);
  EXPECT_EQ(two_cpus.err, "Need to specify an output file to put the merged results in [-out <file>]\n");

  // One instance is an ordinary run.
  const run_result plain = run_quiet({"-mftstart", "5", "-mftrange", "3"});
  const run_result one_cpu = run_quiet({"-cpu", "1", "-mftstart", "5", "-mftrange", "3"});
  EXPECT_EQ(one_cpu.exit_status, 0);
  EXPECT_EQ(one_cpu.err, "");
  EXPECT_EQ(reported_entries(one_cpu.out), (std::set<std::uint64_t>{5, 6, 7}));
  EXPECT_EQ(results_body(one_cpu.out), results_body(plain.out));

  // No input source: reported, and the run fails.
  const run_result no_source = run_brindle({"-csv", "-quiet"});
  EXPECT_EQ(no_source.exit_status, 255);
  expect_header_only(no_source.out);
  EXPECT_EQ(no_source.err,
            "error: need to specify at least an input source [-mftfile, -image, -drivenum, -partition, -vmdk]\n");

  // A $MFT file that does not exist: named with the reason.
  const run_result missing = run_brindle({"-mftfile", scratch.file("absent.mft"), "-quiet"});
  EXPECT_EQ(missing.exit_status, 255);
  EXPECT_EQ(missing.err, "error: reading " + scratch.file("absent.mft") + ": No such file or directory\n");
  expect_header_only(missing.out);
}

TEST(CommandLine, OptionNamesMatchWholeArgumentsInAnyLetterCase) {
  const run_result lower = run_quiet({"-mftstart", "5", "-mftrange", "2", "-csv"});
  const run_result upper = run_quiet({"-MFTSTART", "5", "-MftRange", "2", "-CSV"});
  const run_result longer = run_quiet({"-mftstart", "5", "-mftrange", "2", "-csvx"});
  const run_result plain = run_quiet({"-mftstart", "5", "-mftrange", "2"});
  ASSERT_EQ(lower.exit_status, 0);
  const std::string csv_body = results_body(lower.out);
  EXPECT_TRUE(csv_body.starts_with("mft entry,mft seqnum,")) << csv_body.substr(0, 200);
  EXPECT_EQ(reported_entries(lower.out), (std::set<std::uint64_t>{5, 6}));
  EXPECT_EQ(results_body(upper.out), csv_body);
  EXPECT_EQ(upper.exit_status, 0);
  EXPECT_EQ(longer.exit_status, 0);
  EXPECT_EQ(results_body(longer.out), results_body(plain.out));
  EXPECT_NE(results_body(plain.out), csv_body);
}

TEST(CommandLine, MftstartAndMftrangeChooseTheEntriesWalked) {
  const run_result whole = run_quiet({});
  ASSERT_EQ(whole.exit_status, 0);
  const std::set<std::uint64_t> all = reported_entries(whole.out);
  ASSERT_FALSE(all.empty());
  const std::uint64_t entry_count = fixture_entry_count();
  ASSERT_GT(entry_count, 100u);
  ASSERT_LE(*all.rbegin(), entry_count - 1);

  for (const char* sixteen : {"0x10", "x10", "o20", "16", "0X10", " 16 "}) {
    const run_result run = run_quiet({"-mftstart", sixteen});
    EXPECT_EQ(run.exit_status, 0) << sixteen;
    EXPECT_EQ(reported_entries(run.out), (std::set<std::uint64_t>{16})) << sixteen;
  }

  // Entries 0 to 15 are the system files and reserved records of every NTFS
  // volume, so all of 5..14 are in use.
  const run_result five_on = run_quiet({"-mftstart", "5", "-mftrange", "10"});
  EXPECT_EQ(reported_entries(five_on.out), (std::set<std::uint64_t>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));

  const run_result first_hundred = run_quiet({"-mftrange", "100"});
  const auto hundred = reported_entries(first_hundred.out);
  EXPECT_EQ(hundred, entries_between(all, 0, 100));
  EXPECT_EQ(*hundred.begin(), 0u);

  // A range running past the last entry reports what exists, quietly.
  const std::uint64_t tail_start = entry_count - 8;
  const run_result tail =
      run_quiet({"-mftstart", std::to_string(tail_start), "-mftrange", "100"});
  EXPECT_EQ(tail.exit_status, 0);
  EXPECT_EQ(tail.err, "");
  const auto tail_entries = reported_entries(tail.out);
  EXPECT_FALSE(tail_entries.empty());
  EXPECT_EQ(tail_entries, entries_between(all, tail_start, tail_start + 100));
}

TEST(CommandLine, DateAndTimeFormsOfAWrongShapeKeepTheDefaults) {
  const run_result plain = run_quiet({"-mftstart", "5", "-mftrange", "3"});
  const run_result wrong = run_quiet({"-mftstart", "5", "-mftrange", "3", "-dateformat", "m/d/yy",
                                      "-timeformat", "hh.mm.ss"});
  EXPECT_EQ(wrong.exit_status, 0);
  EXPECT_EQ(wrong.err, "invalid m/d/yy, using default format\ninvalid hh.mm.ss, using default format\n");
  EXPECT_EQ(results_body(wrong.out), results_body(plain.out));
  EXPECT_NE(results_body(plain.out).find(" | 2024-03-01 | 09:00:00.000 | "), std::string::npos);

  // Lengths just outside the accepted ones.
  const run_result lengths =
      run_quiet({"-mftstart", "5", "-dateformat", "yyyy-mm-d", "-timeformat", "hh:mm"});
  EXPECT_EQ(lengths.err, "invalid yyyy-mm-d, using default format\ninvalid hh:mm, using default format\n");
  const run_result too_long = run_quiet({"-mftstart", "5", "-timeformat", "hh:mm:ss.xxxxxxxxxx"});
  EXPECT_EQ(too_long.err, "invalid hh:mm:ss.xxxxxxxxxx, using default format\n");
  const run_result longest =
      run_quiet({"-mftstart", "5", "-dateformat", "yy-mm-dd", "-timeformat", "hh:mm:ss.xxxxxxxxx"});
  EXPECT_EQ(longest.err, "");

  // Forms of the accepted shapes are taken without a word.
  const run_result right = run_quiet({"-mftstart", "5", "-mftrange", "3", "-dateformat", "mm/dd/yyyy",
                                      "-timeformat", "hh:mm:ss"});
  EXPECT_EQ(right.err, "");
  EXPECT_NE(results_body(right.out).find(" | 03/01/2024 | 09:00:00 "), std::string::npos)
      << results_body(right.out).substr(0, 600);
}

TEST(CommandLine, ProgressProfileAndDiagnosticsReports) {
  const std::regex elapsed(R"(->[0-9]+(\.[0-9]+)?(e[-+][0-9]+)? secs)");

  // Progress goes to standard error, erased and rewritten in place (the
  // first entry at once, later ones at most ten times a second); -quiet
  // leaves standard error untouched and the results unchanged.
  const run_result loud = run_brindle({"-mftfile", mft()});
  const run_result quiet = run_quiet({});
  ASSERT_EQ(loud.exit_status, 0);
  const std::string count = std::to_string(fixture_entry_count());
  EXPECT_NE(loud.err.find("\x1b[2K\r    \ranalyzing entry 0 of " + count + "\r"), std::string::npos);
  EXPECT_EQ(loud.err.find("analyzing entry 1 of"), std::string::npos);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(results_body(quiet.out), results_body(loud.out));

  const run_result profiled = run_quiet({"-mftstart", "5", "-profile"});
  EXPECT_EQ(profiled.exit_status, 0);
  std::smatch match;
  EXPECT_TRUE(std::regex_match(profiled.err, match, std::regex(R"(->\S+ secs\n)"))) << profiled.err;
  EXPECT_TRUE(std::regex_search(profiled.err, elapsed)) << profiled.err;
  EXPECT_EQ(reported_entries(profiled.out), (std::set<std::uint64_t>{5}));

  const scratch_folder scratch("command-line-diags");
  const std::string log_path = scratch.file("trace.log");
  testing_support::write_bytes(log_path, std::vector<std::uint8_t>(5000, 'z'));
  const run_result traced = run_quiet({"-diags", log_path, "-mftstart", "5", "-mftrange", "10"});
  EXPECT_EQ(traced.exit_status, 0);
  EXPECT_EQ(traced.err, "");
  EXPECT_EQ(reported_entries(traced.out), (std::set<std::uint64_t>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
  const std::string log = read_file(log_path);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.find("zzz"), std::string::npos) << "the log replaces an existing file";
  EXPECT_NE(log.find("range of inodes to analyze: 5 -> 15"), std::string::npos) << log.substr(0, 400);
  const auto last_line = log.substr(log.find_last_of('\n', log.size() - 2) + 1);
  EXPECT_TRUE(std::regex_match(last_line, std::regex(R"(->\S+ secs\n?)"))) << last_line;
  EXPECT_TRUE(std::regex_search(last_line, elapsed)) << last_line;

  const run_result whole_traced = run_quiet({"-diags", log_path});
  EXPECT_NE(read_file(log_path).find("range of inodes to analyze: 0 -> " + count), std::string::npos);
  EXPECT_EQ(results_body(whole_traced.out), results_body(quiet.out));
}

}  // namespace
