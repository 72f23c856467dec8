#include "formats/batch.h"

#include <sys/stat.h>

#include <filesystem>

#include "codec/wif_direct.h"
#include "engine/image.h"
#include "engine/notice.h"
#include "formats/output_depth.h"
#include "formats/rwimage.h"

const char* vxBatchExtension(int type) {
  switch (type) {
    case TypeBMP:
      return ".bmp";
    case TypeGIF:
      return ".gif";
    case TypeJPEG:
      return ".jpg";
    case TypePCX:
      return ".pcx";
    case TypePGM:
      return ".pgm";
    case TypePPM:
      return ".ppm";
    case TypeTGA:
      return ".tga";
    case TypeTIFF:
      return ".tif";
    case TypeWIF:
      return ".wif";
    default:
      return "";
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

bool vxBatchCanWrite(int type, std::string* reason) {
  std::string why;
  if (type == TypeGIF) {
    why = "GIF files can be read but not written; choose another output type";
  } else if (*vxBatchExtension(type) == '\0') {
    why = "not an output type";
  } else {
    vxRWImage* writer = vxImage::CreateRWImage(type);
    if (!writer) why = "no writer for this file type";
    delete writer;
  }
  if (reason) *reason = why;
  return why.empty();
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

// Whether vxConvertForOutput would change the image, known before it runs so
// that the depth stage is reported only when there is one.
bool NeedsDepthChange(const vxImage& image, int type) {
  const bool is24 = image.BitCount() == 24;
  const bool grey = !is24 && image.IsGrayScale() != 0;
  switch (type) {
    case TypeWIF:
    case TypeJPEG:
      return !is24 && !grey;
    case TypePPM:
      return !is24;
    case TypePGM:
      return is24 || !grey;
    default:
      return false;
  }
}

void Report(const vxBatchStageCallback& stage, vxBatchStage what) {
  if (stage) stage(what);
}

}  // namespace

bool vxBatchRun::Claim(const std::string& output, const std::string& input, std::string& owner) {
  const std::string key = Canonical(output);
  const std::string self = Canonical(input);
  std::lock_guard lock(mutex_);
  const auto [it, inserted] = claimed_.try_emplace(key, Owner{self, input});
  owner = it->second.given;
  // The same input again (a second run of the dialog's list, or the same
  // file named twice) may rewrite its own output.
  return inserted || it->second.canonical == self;
}

bool vxBatchRun::Reserve(const std::string& input, const std::string& outDir, int type,
                         std::string* owner) {
  std::string holder;
  const bool ok = Claim(vxBatchOutputPath(input, outDir, type), input, holder);
  if (owner) *owner = holder;
  return ok;
}

vxBatchResult vxBatchRun::Convert(const std::string& input, const std::string& outDir, int type,
                                  const vxSaveOptions* options, const vxBatchStageCallback& stage) {
  vxBatchResult result;
  result.output = vxBatchOutputPath(input, outDir, type);
  if (!vxBatchCanWrite(type, &result.reason)) return result;
  if (SameFile(input, result.output)) {
    result.reason = "output would replace the input";
    return result;
  }
  std::string owner;
  if (!Claim(result.output, input, owner)) {
    result.reason = "name collision: " + result.output + " is the output of " + owner;
    return result;
  }
  vxSaveOptions defaults;
  defaults.quality = type == TypeJPEG ? vxDefaultJpegQuality : vxDefaultWifQuality;
  const vxSaveOptions* use = options ? options : &defaults;
  // A portable map going to WIF, or WIF going to the portable map of its
  // kind, is converted without an image between.
  int saved = 0;
  bool inputFailed = false;
  const bool direct = type == TypeWIF
                          ? vxConvertPortableMapToWif(input.c_str(), result.output.c_str(), use,
                                                      &saved, &result.bitCount)
                          : vxConvertWifToPortableMap(input.c_str(), result.output.c_str(), type,
                                                      &saved, &inputFailed);
  if (direct) {
    if (type != TypeWIF) result.bitCount = type == TypePPM ? 24 : 8;
    if (saved != 0) {
      result.reason = vxLastError().empty() ? "the file could not be written" : vxLastError();
      return result;
    }
    result.status = vxBatchResult::Written;
    return result;
  }
  Report(stage, vxBatchStage::Loading);
  // The image's block goes with the scope whatever the outcome.
  vxScopedImage image;
  const int loaded = image.LoadImage(input.c_str());
  if (loaded != 0) {
    result.reason = vxLastError().empty() ? "cannot load the image" : vxLastError();
    return result;
  }
  vxLinearizeGrey(image);
  if (NeedsDepthChange(image, type)) {
    Report(stage, vxBatchStage::ConvertingDepth);
    vxClearLastError();
    if (vxConvertForOutput(image, type) != 1) {
      result.reason = "cannot convert the colour depth";
      if (!vxLastError().empty()) result.reason += ": " + vxLastError();
      return result;
    }
    result.converted = true;
  }
  result.bitCount = image.BitCount();
  const bool hasOptions = type == TypeWIF || type == TypeJPEG;
  vxSaveOptions copy = *use;  // SaveImage takes a non-const record
  Report(stage, vxBatchStage::Saving);
  saved = image.SaveImage(result.output.c_str(), type, hasOptions ? &copy : nullptr);
  if (saved != 0) {
    result.reason = vxLastError().empty() ? "the file could not be written" : vxLastError();
    return result;
  }
  result.status = vxBatchResult::Written;
  return result;
}
