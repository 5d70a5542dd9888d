#include "app/script_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace app {

namespace {

enum class line_end { none, crlf, lf, cr, lfcr, mixed };

line_end find_line_end(std::string_view text) {
  const std::string_view head = text.substr(0, 1024);
  line_end found = line_end::none;
  for (std::size_t i = 0; i < head.size(); ++i) {
    line_end here;
    // The second byte of a pair may lie just past the first 1024.
    if (head[i] == '\r') {
      here = i + 1 < text.size() && text[i + 1] == '\n' ? line_end::crlf : line_end::cr;
    } else if (head[i] == '\n') {
      here = i + 1 < text.size() && text[i + 1] == '\r' ? line_end::lfcr : line_end::lf;
    } else {
      continue;
    }
    if (here == line_end::crlf || here == line_end::lfcr) ++i;
    if (found == line_end::none) {
      found = here;
    } else if (found != here) {
      return line_end::mixed;
    }
  }
  return found;
}

std::string_view trimmed(std::string_view line) {
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = line.find_last_not_of(" \t\r\n");
  return line.substr(first, last - first + 1);
}

// A line end of another style than the file's (past the first 1024 bytes)
// separates words like a blank.
bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void append_words(std::string_view line, std::vector<std::string>& out) {
  std::string quoted;
  bool in_quotes = false;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_white(line[i])) ++i;
    if (i >= line.size()) break;
    std::size_t end = i;
    while (end < line.size() && !is_white(line[end])) ++end;
    std::string_view word = line.substr(i, end - i);
    i = end;
    if (!in_quotes && word.front() == '"') {
      word.remove_prefix(1);
      in_quotes = true;
      quoted.clear();
    } else if (in_quotes) {
      quoted.push_back(' ');
    }
    if (!in_quotes) {
      out.emplace_back(word);
      continue;
    }
    if (!word.empty() && word.back() == '"') {
      word.remove_suffix(1);
      quoted.append(word);
      out.push_back(quoted);
      in_quotes = false;
    } else {
      quoted.append(word);
    }
  }
  // An unclosed quote keeps what it gathered.
  if (in_quotes) out.push_back(quoted);
}

}  // namespace

std::vector<std::string> script_arguments(std::string_view text) {
  std::vector<std::string> arguments;
  const line_end style = find_line_end(text);
  if (style == line_end::none || style == line_end::mixed) return arguments;
  std::string copy(text);
  std::string_view separator = "\n";
  switch (style) {
    case line_end::crlf: separator = "\r\n"; break;
    case line_end::cr: separator = "\r"; break;
    case line_end::lfcr:
      for (char& c : copy) {
        if (c == '\n') c = ' ';
      }
      separator = "\r";
      break;
    default: break;
  }
  std::size_t start = 0;
  while (start <= copy.size()) {
    std::size_t end = copy.find(separator, start);
    if (end == std::string::npos) end = copy.size();
    const std::string_view line = trimmed(std::string_view(copy).substr(start, end - start));
    if (!line.empty() && line.substr(0, 2) != "//") append_words(line, arguments);
    start = end + separator.size();
  }
  return arguments;
}

bool read_script_file(const std::string& path, std::vector<std::string>& arguments) {
  arguments.clear();
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) {
    std::fprintf(stderr, "error: reading script file %s: %s\n", path.c_str(), error.message().c_str());
    return false;
  }
  // A device or a FIFO given by mistake could be endless.
  if (!std::filesystem::is_regular_file(status)) {
    std::fprintf(stderr, "error: reading script file %s: not a regular file\n", path.c_str());
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > script_limit_bytes) {
    std::fprintf(stderr, "error: reading script file %s: larger than %llu MiB\n", path.c_str(),
                 static_cast<unsigned long long>(script_limit_bytes >> 20));
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text;
  if (in) {
    // One byte past the limit tells a file that grew since it was sized.
    text.resize(script_limit_bytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
  }
  if (!in && !in.eof()) {
    std::fprintf(stderr, "error: reading script file %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  if (text.size() > script_limit_bytes) {
    std::fprintf(stderr, "error: reading script file %s: larger than %llu MiB\n", path.c_str(),
                 static_cast<unsigned long long>(script_limit_bytes >> 20));
    return false;
  }
  // Editors on Windows start UTF-8 text with a byte-order mark.
  std::string_view body = text;
  if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
  arguments = script_arguments(body);
  return true;
}

}  // namespace app
