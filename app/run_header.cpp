#include "app/run_header.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "app/argument_list.h"
#include "app/usage.h"
#include "output/cv_time.h"

namespace app {

namespace {

// The program's own file on a network or user-space file system.
bool on_remote_file_system(const char* path) {
  struct statfs info {};
  if (::statfs(path, &info) != 0) return false;
  const auto type = static_cast<unsigned long>(info.f_type);
  return type == 0x517BUL || type == 0x6969UL || type == 0x65735546UL || type == 0xFF534D42UL;
}

// The program's own file on a USB-attached block device.
bool on_usb_device(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0) return false;
  char link[128];
  std::snprintf(link, sizeof link, "%s/%ld:%ld", "/sys/dev/block", static_cast<long>(major(info.st_dev)),
                static_cast<long>(minor(info.st_dev)));
  char resolved[PATH_MAX];
  if (!::realpath(link, resolved)) return false;
  return std::string(resolved).find("usb") != std::string::npos;
}

std::string host_name() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "<unk>";
  return name;
}

std::string system_description() {
  struct utsname info {};
  if (::uname(&info) != 0) return "<unk>";
  return std::string(info.sysname) + " " + info.release + " " + info.version + " " + info.machine;
}

}  // namespace

std::string build_run_header(const std::vector<std::string>& arguments, const std::string& date_pattern) {
  std::string header = banner_text;
  header.push_back('\n');

  cv::time now;
  now.set_time(cv::current_filetime(), cv::filetime);
  std::string date;
  std::string time;
  cv::date_time_text_by_pattern(date, time, now, date_pattern.empty() ? "mm/dd/yyyy" : date_pattern, "hh:mm:ss");
  header += "run: " + date + " " + time + " UTC; host: " + host_name() + "; os: " + system_description();
  const bool remote = on_remote_file_system("/proc/self/exe");
  const bool usb = on_usb_device("/proc/self/exe");
  if (remote || usb) {
    header += "; ";
    if (remote) header += "<~>";
    if (usb) header += ":=";
  }
  header.push_back('\n');

  header += "\"cmd: ";
  for (const auto& argument : arguments) {
    if (equals_ignoring_case(argument, "-pipe")) {
      header += "<filelist> ... | ";
      break;
    }
  }
  bool first = true;
  for (const auto& argument : arguments) {
    if (!first) header.push_back(' ');
    first = false;
    if (argument.find(' ') != std::string::npos) {
      header += "'" + argument + "'";
    } else {
      header += argument;
    }
  }
  header += "\"\n";
  return header;
}

}  // namespace app
