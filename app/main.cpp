#include <iostream>
#include <string>
#include <vector>

#include "app/run_driver.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> arguments(argv, argv + argc);
  return app::run_program(arguments);
}
