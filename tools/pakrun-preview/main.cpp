// pakrun-preview: what Pakrun.exe would do with a settings file (see README.md).
#include <iostream>
#include <string>
#include <vector>

#include "tools/pakrun-preview/preview.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return preview::PreviewMain(args, std::cout, std::cerr);
}
