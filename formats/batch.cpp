#include "formats/batch.h"

#include <sys/stat.h>

#include <filesystem>

#include "engine/image.h"
#include "engine/notice.h"
#include "formats/output_depth.h"

const char* vxBatchExtension(int type) {
  switch (type) {
    case TypeBMP: return ".bmp";
    case TypeGIF: return ".gif";
    case TypeJPEG: return ".jpg";
    case TypePCX: return ".pcx";
    case TypePGM: return ".pgm";
    case TypePPM: return ".ppm";
    case TypeTGA: return ".tga";
    case TypeTIFF: return ".tif";
    case TypeWIF: return ".wif";
    default: return "";
  }
}

std::string vxBatchOutputPath(const std::string& input, const std::string& outDir, int type) {
  const auto slash = input.find_last_of('/');
  const std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
  const auto dot = name.find_last_of('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  std::string dir = outDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + base + vxBatchExtension(type);
}

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const auto p = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

}  // namespace

bool vxBatchRun::Claim(const std::string& output, const std::string& input, std::string& owner) {
  std::lock_guard lock(mutex_);
  const std::string key = Canonical(output);
  auto it = claimed_.lower_bound({key, std::string()});
  if (it != claimed_.end() && it->first == key) {
    owner = it->second;
    return owner == input;  // the same entry again may rewrite its own output
  }
  claimed_.insert({key, input});
  return true;
}

vxBatchResult vxBatchRun::Convert(const std::string& input, const std::string& outDir, int type,
                                  const vxSaveOptions* options) {
  vxBatchResult result;
  result.output = vxBatchOutputPath(input, outDir, type);
  if (SameFile(input, result.output)) {
    result.reason = "output would replace the input";
    return result;
  }
  std::string owner;
  if (!Claim(result.output, input, owner)) {
    result.reason = "name collision: " + result.output + " was already written from " + owner;
    return result;
  }
  vxScopedImage image;
  const int loaded = image.LoadImage(input.c_str());
  if (loaded != 0) {
    result.reason = vxLastError().empty() ? "cannot load the image" : vxLastError();
    return result;
  }
  vxLinearizeGrey(image);
  const int depth = vxConvertForOutput(image, type);
  if (depth < 0) {
    result.reason = "cannot convert the colour depth";
    return result;
  }
  result.converted = depth == 1;
  vxSaveOptions defaults;
  defaults.quality = type == TypeJPEG ? vxDefaultJpegQuality : vxDefaultWifQuality;
  const vxSaveOptions* use = options ? options : &defaults;
  const bool hasOptions = type == TypeWIF || type == TypeJPEG;
  vxSaveOptions copy = *use;  // SaveImage takes a non-const record
  const int saved = image.SaveImage(result.output.c_str(), type, hasOptions ? &copy : nullptr);
  if (saved != 0) {
    result.reason = vxLastError().empty() ? "the file could not be written" : vxLastError();
    return result;
  }
  result.status = vxBatchResult::Written;
  return result;
}
