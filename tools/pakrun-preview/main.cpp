// pakrun-preview: what Pakrun.exe would do with a settings file (see README.md).
#include <iostream>
#include <string>
#include <vector>

#include "tools/pakrun-preview/preview.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

// On Windows the arguments are taken as the system holds them, in UTF-16, and handed on
// in UTF-8, as on Linux: a file of any name opens, and an option's text reaches the
// substitute machine as the same bytes on both builds. The output goes out unchanged
// (no carriage return added before each line feed), so that both builds write the same
// bytes.
namespace {

bool ToUtf8(const wchar_t* text, std::string* utf8) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  std::string converted(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, &converted[0], size, nullptr, nullptr) != size)
    return false;
  converted.pop_back();  // the terminator
  *utf8 = std::move(converted);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string arg;
    if (!ToUtf8(argv[i], &arg)) {
      std::cerr << "pakrun-preview: argument " << i << " is not valid Unicode\n";
      return preview::kUnusable;
    }
    args.push_back(std::move(arg));
  }
  return preview::PreviewMain(args, std::cout, std::cerr);
}

#else

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return preview::PreviewMain(args, std::cout, std::cerr);
}

#endif
