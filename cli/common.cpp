#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "cli/cli.h"
#include "engine/notice.h"
#include "formats/rwimage.h"

namespace cli {

namespace {

struct TypeName_ {
  const char* name;
  int type;
};

constexpr TypeName_ kNames[] = {
    {"bmp", TypeBMP},  {"dib", TypeBMP},   {"pcx", TypePCX},  {"ppm", TypePPM},
    {"pgm", TypePGM},  {"tga", TypeTGA},   {"vst", TypeTGA},  {"tif", TypeTIFF},
    {"tiff", TypeTIFF}, {"jpg", TypeJPEG}, {"jpeg", TypeJPEG}, {"wif", TypeWIF},
    {"vxw", TypeWIF},  {"gif", TypeGIF},
};

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

}  // namespace

void Fail(std::string_view file, std::string_view reason) {
  if (file.empty()) {
    std::cerr << "lunark: " << reason << '\n';
  } else {
    std::cerr << "lunark: " << file << ": " << reason << '\n';
  }
}

std::string EngineReason(std::string_view fallback) {
  const std::string& last = vxLastError();
  return last.empty() ? std::string(fallback) : last;
}

std::string LoadFailure(int result) {
  switch (result) {
    case -1: return EngineReason("cannot open the file or not a recognised image");
    case -2: return EngineReason("not a valid image file (corrupt or unsupported)");
    case -3: return EngineReason("out of memory");
    default: return EngineReason("cannot load the image");
  }
}

std::string SaveFailure(int result) {
  switch (result) {
    case vxSaveCancelled: return "cancelled";
    case -3: return EngineReason("out of memory or no writer for this type");
    default: return EngineReason("the file could not be written");
  }
}

int TypeFromName(std::string_view name) {
  const std::string lower = Lower(name);
  for (const auto& n : kNames) {
    if (lower == n.name) return n.type;
  }
  return -1;
}

int TypeFromPath(std::string_view path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return -1;
  return TypeFromName(path.substr(dot + 1));
}

const char* TypeName(int type) {
  switch (type) {
    case TypeWIF: return "WIF";
    case TypeBMP: return "BMP";
    case TypePCX: return "PCX";
    case TypePPM: return "PPM";
    case TypePGM: return "PGM";
    case TypeTIFF: return "TIFF";
    case TypeTGA: return "TGA";
    case TypeGIF: return "GIF";
    case TypeJPEG: return "JPEG";
    default: return "unknown";
  }
}

const char* TypeExtension(int type) {
  switch (type) {
    case TypeWIF: return ".wif";
    case TypeBMP: return ".bmp";
    case TypePCX: return ".pcx";
    case TypePPM: return ".ppm";
    case TypePGM: return ".pgm";
    case TypeTIFF: return ".tif";
    case TypeTGA: return ".tga";
    case TypeGIF: return ".gif";
    case TypeJPEG: return ".jpg";
    default: return "";
  }
}

bool IsWritableType(int type) {
  if (type == TypeGIF) return false;  // GIF is read-only
  vxRWImage* rw = vxImage::CreateRWImage(type);
  const bool exists = rw != nullptr;
  delete rw;
  return exists;
}

bool ParseInt(std::string_view text, int& value) {
  if (text.empty()) return false;
  const char* first = text.data();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseMemorySize(std::string_view text, uint64_t& bytes) {
  uint64_t shift = 20;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K': case 'k': shift = 10; text.remove_suffix(1); break;
      case 'M': case 'm': shift = 20; text.remove_suffix(1); break;
      case 'G': case 'g': shift = 30; text.remove_suffix(1); break;
      default: break;
    }
  }
  uint64_t number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return false;
  constexpr uint64_t kMost = uint64_t{1} << 40;
  if (number == 0 || number > (kMost >> shift)) return false;
  bytes = number << shift;
  return true;
}

bool TakeMemoryOption(Args& args, std::string& error) {
  for (size_t i = 0; i < args.size();) {
    if (args[i] != "--max-memory") {
      ++i;
      continue;
    }
    uint64_t bytes = 0;
    if (i + 1 >= args.size() || !ParseMemorySize(args[i + 1], bytes)) {
      error = "--max-memory needs a size such as 2048 (MiB), 512M or 4G, from 1K to 1024G" +
              (i + 1 < args.size() ? ", not '" + args[i + 1] + "'" : std::string());
      return false;
    }
    vxSetMaxImageBytes(bytes);
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
  }
  return true;
}

void InstallNoticePrinter() {
  vxSetNoticeSink([](const vxNotice& n) {
    std::string text = n.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char& c : text) {
      if (c == '\n') c = ' ';
    }
    const char* kind = n.kind == vxNoticeKind::Error ? "error" : (n.kind == vxNoticeKind::Warning ? "warning" : "note");
    if (n.file.empty()) {
      std::cerr << "lunark: " << kind << ": " << text << '\n';
    } else {
      std::cerr << "lunark: " << n.file << ": " << kind << ": " << text << '\n';
    }
  });
}

}  // namespace cli
