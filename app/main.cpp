#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/run_driver.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // Past a file size limit a write then fails with EFBIG, and the run ends
  // naming the file, instead of being killed mid-line by SIGXFSZ.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> arguments(argv, argv + argc);
  return app::run_program(arguments);
}
