#include <iostream>

#include "tools/packfile/cli/packfile.h"

int main(int argc, char** argv) {
  return PackfileMain(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr, std::cin);
}
