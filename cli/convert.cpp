// lunark convert INPUT OUTPUT [--type TYPE] [--quality Q] [--levels N] [operations]
#include <cstdio>
#include <memory>

#include "cli/cli.h"
#include "codec/wif_direct.h"
#include "engine/notice.h"
#include "engine/options.h"
#include "formats/output_depth.h"

namespace cli {

namespace {

bool ParseQuality(const std::string& text, int type, int& quality, std::string& error) {
  const int high = type == TypeJPEG ? 100 : 255;
  if (!ParseInt(text, quality) || quality < 1 || quality > high) {
    error = "quality must be a whole number from 1 to " + std::to_string(high) + " for " +
            TypeName(type) + " output, not '" + text + "'";
    return false;
  }
  return true;
}

}  // namespace

int RunConvert(const Args& args) {
  std::vector<std::string> files;
  std::vector<Operation> ops;
  std::string typeName, qualityText, levelsText;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string error;
    if (a == "--type" || a == "--quality" || a == "--levels") {
      if (i + 1 >= args.size()) {
        Fail("", "convert: " + a + " needs a value");
        return 2;
      }
      (a == "--type" ? typeName : a == "--quality" ? qualityText : levelsText) = args[++i];
    } else if (ParseOperation(args, i, ops, error)) {
      if (!error.empty()) {
        Fail("", "convert: " + error);
        return 2;
      }
    } else if (!error.empty()) {
      Fail("", "convert: " + error);
      return 2;
    } else if (a.size() > 1 && a[0] == '-') {
      Fail("", "convert: unknown option " + a + " (see lunark --help)");
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) {
    Fail("", "convert: give one input and one output file (see lunark --help)");
    return 2;
  }
  const std::string& input = files[0];
  const std::string& output = files[1];

  const int type = typeName.empty() ? TypeFromPath(output) : TypeFromName(typeName);
  if (type < 0) {
    Fail(output, typeName.empty() ? "cannot tell the output type from the extension; use --type"
                                  : "unknown type '" + typeName + "'");
    return 2;
  }
  if (type == TypeGIF) {
    Fail(output, "GIF is a read-only format here; choose another output type");
    return 2;
  }
  if (!IsWritableType(type)) {
    Fail(output, std::string("no writer for ") + TypeName(type) + " files");
    return 2;
  }
  vxSaveOptions options;
  options.quality = type == TypeJPEG ? vxDefaultJpegQuality : vxDefaultWifQuality;
  std::string error;
  if (!qualityText.empty() && !ParseQuality(qualityText, type, options.quality, error)) {
    Fail("", "convert: " + error);
    return 2;
  }
  if (!levelsText.empty()) {
    if (!ParseInt(levelsText, options.levels) || options.levels < 1 || options.levels > 8) {
      Fail("", "convert: wavelet levels must be a whole number from 1 to 8, not '" + levelsText + "'");
      return 2;
    }
  }

  // Portable maps going to WIF unchanged, and WIF going to the portable map
  // of its kind, are converted without an image between.
  int saved = 0;
  bool inputFailed = false;
  if (ops.empty() && type == TypeWIF &&
      vxConvertPortableMapToWif(input.c_str(), output.c_str(), &options, &saved)) {
    if (saved != 0) {
      Fail(output, SaveFailure(saved));
      return 1;
    }
    return 0;
  }
  if (ops.empty() &&
      vxConvertWifToPortableMap(input.c_str(), output.c_str(), type, &saved, &inputFailed)) {
    if (saved != 0) {
      Fail(inputFailed ? input : output, inputFailed ? LoadFailure(saved) : SaveFailure(saved));
      return 1;
    }
    return 0;
  }
  vxScopedImage image;
  const int loaded = image.LoadImage(input.c_str());
  if (loaded != 0) {
    Fail(input, LoadFailure(loaded));
    return 1;
  }
  vxLinearizeGrey(image);
  if (!ApplyOperations(image, ops, error)) {
    Fail(input, error);
    return 1;
  }
  if (vxConvertForOutput(image, type) < 0) {
    Fail(input, std::string("cannot convert the colour depth for ") + TypeName(type) + " output");
    return 1;
  }
  const bool hasOptions = type == TypeWIF || type == TypeJPEG;
  saved = image.SaveImage(output.c_str(), type, hasOptions ? &options : nullptr);
  if (saved != 0) {
    Fail(output, SaveFailure(saved));
    return 1;
  }
  return 0;
}

}  // namespace cli
