// tarvion-icon FILE: the window icon at every size of the icon file, as .ico.
// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <cstdio>
#include <vector>

#include "platform/win32/win32_pictures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: tarvion-icon FILE.ico\n", stderr);
    return 2;
  }
  std::vector<uint8_t> file = tarvion::window_icon_file(tarvion::kIconFileSizes);
  std::FILE* out = file.empty() ? nullptr : std::fopen(argv[1], "wb");
  if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
      std::fclose(out) != 0) {
    std::fprintf(stderr, "tarvion-icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
