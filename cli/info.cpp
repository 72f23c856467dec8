// lunark info FILE...: type, size, depth and file size of each file.
#include <cstdio>

#include "cli/cli.h"
#include "engine/notice.h"

namespace cli {

int RunInfo(const Args& args) {
  if (args.empty()) {
    Fail("", "info: no file given (see lunark --help)");
    return 2;
  }
  int status = 0;
  for (const std::string& file : args) {
    vxClearLastError();
    const int type = vxImage::GetFileType(file.c_str());
    if (type < 0) {
      std::FILE* f = std::fopen(file.c_str(), "rb");
      Fail(file, f ? "not a recognised image file" : "cannot open the file");
      if (f) std::fclose(f);
      status = 1;
      continue;
    }
    vxFileInfo info{};
    if (vxImage::GetInfo(file.c_str(), &info) != 0) {
      Fail(file, EngineReason(std::string(TypeName(type)) + " file whose header cannot be read"));
      status = 1;
      continue;
    }
    std::printf("%s: %s, %u x %u, %u bits per pixel, %u bytes\n", file.c_str(), TypeName(type),
                info.width, info.height, info.bitsPerPixel, info.fileSize);
  }
  return status;
}

}  // namespace cli
