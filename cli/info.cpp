// lunark info FILE...: type, size, depth and file size of each file.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/cli.h"
#include "engine/notice.h"
#include "formats/rwimage.h"

namespace cli {

namespace {

// Why a file that is not recognised as an image could not be: it is missing
// or unreadable, a folder, or not in a known format.
std::string UnreadableReason(const std::string& file) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0)
    return std::string("cannot open the file: ") + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a folder, not a file";
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return std::string("cannot open the file: ") + std::strerror(errno);
  std::fclose(f);
  return "not a recognised image file";
}

}  // namespace

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
      Fail(file, UnreadableReason(file));
      status = 1;
      continue;
    }
    if (!std::unique_ptr<vxRWImage>(vxImage::CreateRWImage(type))) {
      Fail(file, std::string("no reader for ") + TypeName(type) + " files");
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
                static_cast<unsigned>(info.width), static_cast<unsigned>(info.height),
                static_cast<unsigned>(info.bitsPerPixel), static_cast<unsigned>(info.fileSize));
  }
  return status;
}

}  // namespace cli
