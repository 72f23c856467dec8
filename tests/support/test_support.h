// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image.h"

namespace testing_support {

// Path of a file in tests/data.
std::string DataPath(const std::string& name);

// A fresh empty folder for one test, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Lowers (or raises) the ceiling on one image's pixel area while it lives.
struct ImageCeiling {
  const uint64_t old = vxMaxImageBytes();
  explicit ImageCeiling(uint64_t bytes) { vxSetMaxImageBytes(bytes); }
  ~ImageCeiling() { vxSetMaxImageBytes(old); }
  ImageCeiling(const ImageCeiling&) = delete;
  ImageCeiling& operator=(const ImageCeiling&) = delete;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);
// Runs a shell command and captures its standard output.
std::string RunCapture(const std::string& command, int* status = nullptr);
// True when an external program is on the PATH.
bool HaveTool(const std::string& name);

// Fills `image` with a deterministic test pattern (24-bit colour or 8-bit grey).
void MakePattern(vxImage& image, int width, int height, int bitCount, uint32_t seed = 1);

// Pixels of an image as top-down RGB triples (palette resolved), for comparing
// two images whatever their depth.
std::vector<uint8_t> TopDownRGB(const vxImage& image);

// Reads a binary PPM/PGM file (maxval 255) as top-down RGB triples; false when
// it is not one.
bool ReadNetpbmRGB(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb);

// Peak signal-to-noise ratio of two equally sized sample arrays, in dB
// (infinity when equal).
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace testing_support
