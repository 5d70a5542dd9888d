// Options kept in a script file: how its text becomes arguments. How they
// join the command line of a run, and the files refused, are golden runs
// (script_file) over the scripts in fixtures/golden/scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/script_file.h"

namespace {

using arguments = std::vector<std::string>;

TEST(ScriptFile, TextBecomesArguments) {
  // The line-end style is judged on the first 1024 bytes only; "-a " + long_value
  // puts the line end at byte 1023.
  const std::string long_value(1020, 'v');
  const std::string shorter_value(1014, 'v');  // "-a 1\r\n-b " + value: the same
  const std::string long_comment = "//" + std::string(1100, 'c');
  struct row { std::string text; arguments expected; const char* what; };
  const arguments ab{"-a", "1", "-b", "2"};
  const row rows[] = {
      {"-a 1\r\n-b 2\r\n", ab, "CR LF"}, {"-a 1\n-b 2", ab, "LF, no end on the last line"}, {"-a 1\r-b 2\r", ab, "CR"},
      {"-a 1\n\r-b 2\n\r", ab, "LF CR"}, {"-a 1\r\n-b 2\n", {}, "CR LF, LF"}, {"-a 1\n-b 2\r", {}, "LF, CR"},
      {"-a 1\n\r-b 2\n", {}, "LF CR, LF"}, {"-a 1\r-b 2\r\n", {}, "CR, CR LF"}, {"", {}, "empty"},
      {"-mftfile case.mft", {}, "one line without a line end"},
      {"-a " + long_value + "\n-b 2\n", {"-a", long_value, "-b", "2"}, "first line end at byte 1023"},
      {"-a x" + long_value + "\n-b 2\n", {}, "first line end at byte 1024"},
      {"-a 1\r\n-b " + shorter_value + "\r\n-c 3\r\n", {"-a", "1", "-b", shorter_value, "-c", "3"},
       "CR LF across byte 1024"},
      {"-a 1\r\n" + long_comment + "\r\n-b 2\n-c 3\r\n", {"-a", "1", "-b", "2", "-c", "3"},
       "a lone LF after byte 1024 is white space"},
      {"// -a 1\n\n \t \n-b 2\n   // -c 3\n\t-d\n", {"-b", "2", "-d"}, "comments and blank lines"},
      {"-a 1 -b\t2   -c\n", {"-a", "1", "-b", "2", "-c"}, "several options on a line"},
      {"-name \"two  words\" -x\n", {"-name", "two words", "-x"}, "quoted value"},
      {"-name \"one\" \"\" -x\n", {"-name", "one", "", "-x"}, "quoted single words"},
  };
  for (const row& r : rows) EXPECT_EQ(app::script_arguments(r.text), r.expected) << r.what;
}

}  // namespace
