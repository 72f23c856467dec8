// The engine's image operations, offered to scripts as options of `convert`
// (and `batch`), applied in the order given.
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "engine/notice.h"
#include "engine/quantizer.h"

namespace cli {

const char* const kOperationHelp =
    "  --grey              make a grey 8-bit image\n"
    "  --colour            make a 24-bit colour image\n"
    "  --quantize METHOD   reduce a 24-bit image to a palette: median, best or fast\n"
    "  --colours N         palette size for --quantize (2..256, default 256)\n"
    "  --rotate 90|-90     turn a quarter clockwise (90) or counter-clockwise (-90)\n"
    "  --flip h|v          mirror left-right (h) or upside down (v)\n"
    "  --invert            invert the colours\n"
    "  --filter NAME       lowpass1..3, highpass1..3, difference1..3, laplace1..4\n"
    "  --brightness N      -100..100, on palette images\n"
    "  --contrast N        -100..100, on palette images\n"
    "  --resize WxH        resample into a W x H picture, keeping the aspect ratio\n";

namespace {

constexpr const char* kFilterNames[] = {
    "lowpass1",    "lowpass2",    "lowpass3", "highpass1", "highpass2", "highpass3", "difference1",
    "difference2", "difference3", "laplace1", "laplace2",  "laplace3",  "laplace4",
};

int FilterIndex(const std::string& name) {
  for (int i = 0; i < 13; ++i) {
    if (name == kFilterNames[i]) return i;
  }
  return -1;
}

bool ParseSize(const std::string& text, int& w, int& h) {
  const auto x = text.find_first_of("xX");
  return x != std::string::npos && ParseInt(text.substr(0, x), w) &&
         ParseInt(text.substr(x + 1), h) && w > 0 && h > 0;
}

bool Validate(const Operation& op, std::string& error) {
  int n = 0, w = 0, h = 0;
  const std::string& v = op.value;
  if (op.name == "quantize" && v != "median" && v != "best" && v != "fast") {
    error = "--quantize takes median, best or fast, not '" + v + "'";
  } else if (op.name == "colours" && (!ParseInt(v, n) || n < 2 || n > 256)) {
    error = "--colours takes a number from 2 to 256, not '" + v + "'";
  } else if (op.name == "rotate" && v != "90" && v != "-90") {
    error = "--rotate takes 90 or -90, not '" + v + "'";
  } else if (op.name == "flip" && v != "h" && v != "v") {
    error = "--flip takes h or v, not '" + v + "'";
  } else if (op.name == "filter" && FilterIndex(v) < 0) {
    error = "unknown filter '" + v + "' (lowpass1..3, highpass1..3, difference1..3, laplace1..4)";
  } else if ((op.name == "brightness" || op.name == "contrast") &&
             (!ParseInt(v, n) || n < -100 || n > 100)) {
    error = "--" + op.name + " takes a number from -100 to 100, not '" + v + "'";
  } else if (op.name == "resize" && !ParseSize(v, w, h)) {
    error = "--resize takes WIDTHxHEIGHT, not '" + v + "'";
  }
  return error.empty();
}

bool Quantize(vxImage& image, const std::string& method, int colours, std::string& error) {
  if (image.BitCount() != 24) {
    error = "--quantize needs a 24-bit image";
    return false;
  }
  const vxColorReduction how = method == "best"   ? BestQuantization
                               : method == "fast" ? FastQuantization
                                                  : MedianCut;
  vxQuantizer quantizer;
  vxBMINFO* block = quantizer.Quantize(image.bits, image.Width(), image.Height(), colours, how);
  if (!block) {
    error = "--quantize failed: " + EngineReason("not enough memory");
    return false;
  }
  image.AdoptBlock(block);
  return true;
}

bool AdjustPalette(vxImage& image, const Operation& op, std::string& error) {
  if (image.BitCount() != 8) {
    error = "--" + op.name + " works on palette images; add --grey or --quantize before it";
    return false;
  }
  const int amount = std::atoi(op.value.c_str());
  const int count = image.ColoursUsed();
  if (count == 0) return true;  // no palette, nothing to adjust
  // The adjustments recompute the palette from a kept source palette.
  const std::vector<vxRGBA> source(image.palette, image.palette + count);
  const int adjusted = op.name == "brightness" ? image.Brightness(source.data(), amount)
                                               : image.Contrast(source.data(), amount);
  const int baked = adjusted == 1 ? image.ApplyColorMap() : adjusted;
  if (baked != 1) {
    error = "--" + op.name + " failed: " + EngineReason("code " + std::to_string(baked));
    return false;
  }
  return true;
}

}  // namespace

bool ParseOperation(const Args& args, size_t& i, std::vector<Operation>& ops, std::string& error) {
  const std::string& a = args[i];
  if (a == "--grey" || a == "--gray" || a == "--colour" || a == "--color" || a == "--invert") {
    ops.push_back({a == "--gray" ? "grey" : a == "--color" ? "colour" : a.substr(2), ""});
    return true;
  }
  static const char* const kWithValue[] = {"--quantize",   "--colours",  "--colors",
                                           "--rotate",     "--flip",     "--filter",
                                           "--brightness", "--contrast", "--resize"};
  for (const char* name : kWithValue) {
    if (a != name) continue;
    if (i + 1 >= args.size()) {
      error = a + " needs a value";
      return true;
    }
    Operation op{a == "--colors" ? "colours" : a.substr(2), args[++i]};
    if (Validate(op, error)) ops.push_back(op);
    return true;
  }
  return false;
}

bool ApplyOperations(vxImage& image, const std::vector<Operation>& ops, std::string& error) {
  int colours = 256;
  for (const Operation& op : ops) {
    if (op.name == "colours") ParseInt(op.value, colours);
  }
  for (const Operation& op : ops) {
    vxClearLastError();
    int r = 1;
    if (op.name == "grey") {
      r = image.BitCount() == 24 ? image.Make8Bit() : image.MakeGrayScale();
    } else if (op.name == "colour") {
      r = image.BitCount() == 24 ? 1 : image.Make24Bit();
    } else if (op.name == "quantize") {
      if (!Quantize(image, op.value, colours, error)) return false;
    } else if (op.name == "rotate") {
      r = image.Rotate(std::atoi(op.value.c_str()));
    } else if (op.name == "flip") {
      r = image.Flip(op.value == "h" ? 1 : 0);
      if (r == 0) r = 1;
    } else if (op.name == "invert") {
      r = image.InvertColor();
      if (r == 0) r = 1;
    } else if (op.name == "filter") {
      r = image.Filter(FilterIndex(op.value));
    } else if (op.name == "brightness" || op.name == "contrast") {
      if (!AdjustPalette(image, op, error)) return false;
    } else if (op.name == "resize") {
      int w = 0, h = 0;
      ParseSize(op.value, w, h);
      r = image.ZoomImage(w, h);
      if (r == 0) r = -3;  // the new block could not be allocated
    }
    if (r != 1) {
      error = "--" + op.name + " failed: " +
              EngineReason(r == -3 ? "not enough memory" : "code " + std::to_string(r));
      return false;
    }
  }
  return true;
}

}  // namespace cli
