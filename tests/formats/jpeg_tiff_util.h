// Helpers of the JPEG, TIFF and EXIF tests.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/notice.h"
#include "formats/rwimage.h"
#include "support/test_support.h"

namespace jt {

using namespace testing_support;

// Collects the notices posted while it lives.
class NoticeCapture {
 public:
  NoticeCapture() {
    previous_ = vxSetNoticeSink([this](const vxNotice& n) {
      std::lock_guard lock(mutex_);
      notices_.push_back(n);
    });
  }
  ~NoticeCapture() { vxSetNoticeSink(previous_); }
  std::vector<vxNotice> notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }
  int Count(const std::string& caption, const std::string& text) const {
    int n = 0;
    for (const vxNotice& notice : notices()) {
      n += notice.caption == caption && notice.text.find(text) != std::string::npos;
    }
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<vxNotice> notices_;
  vxNoticeSink previous_;
};

// Calls a format class directly, as a library caller would.
struct RWResult {
  int result = 0;
  int byteCount = -1;
};

inline RWResult ReadWith(int type, const std::string& path, vxImage& image) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
  RWResult r;
  vxBitmapInfoHeader* header = nullptr;
  vxRGBA* palette = nullptr;
  unsigned char* bits = nullptr;
  r.result = rw->Read(path.c_str(), &r.byteCount, &header, &palette, &bits, nullptr);
  if (r.result == 0) {
    EXPECT_EQ(palette, vxBlockPalette(header));
    EXPECT_EQ(bits, vxBlockBits(header));
    image.AdoptBlock(header);
  }
  return r;
}

inline int WriteWith(int type, const std::string& path, vxBitmapInfoHeader* header, vxRGBA* palette,
                     unsigned char* bits, void* options = nullptr) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
  return rw->Write(path.c_str(), header, palette, bits, options);
}

inline int WriteWith(int type, const std::string& path, vxImage& image, void* options = nullptr) {
  return WriteWith(type, path, image.header, image.palette, image.bits, options);
}

// Top-down RGB of a netpbm file that a shell command wrote to `ppm`.
inline std::vector<uint8_t> ToolRGB(const std::string& command, const std::string& ppm, int& width,
                                    int& height) {
  std::vector<uint8_t> rgb;
  width = height = 0;
  if (RunCommand(command) != 0 || !ReadNetpbmRGB(ppm, width, height, rgb)) {
    ADD_FAILURE() << "tool failed: " << command;
  }
  return rgb;
}

// A picture with distinct flat regions: lossy codecs keep it nearly exact
// and every flip or turn changes it.
inline void MakeQuadrants(vxImage& image, int width, int height) {
  image.Delete();
  image.Create(width, height, 24, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool top = y >= height / 2, left = x < width / 2;
      const unsigned char r = top ? (left ? 230 : 20) : (left ? 20 : 200);
      const unsigned char g = top ? (left ? 30 : 220) : (left ? 40 : 200);
      const unsigned char b = top ? (left ? 30 : 30) : (left ? 210 : 40);
      image.SetColor(x, y, r, g, b);
    }
  }
}

inline std::string Quote(const std::string& path) { return "'" + path + "'"; }

// Writes top-down RGB triples as a binary PPM for the tools to read.
inline void WritePpm(const std::string& path, const std::vector<uint8_t>& rgb, int width,
                     int height) {
  const std::string head =
      "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::vector<uint8_t> bytes(head.begin(), head.end());
  bytes.insert(bytes.end(), rgb.begin(), rgb.end());
  WriteFileBytes(path, bytes);
}

inline void WritePpm(const std::string& path, const vxImage& image) {
  WritePpm(path, TopDownRGB(image), image.Width(), image.Height());
}

// Lowers the file-size limit of the process while it lives, with SIGXFSZ
// ignored, so that writes beyond `bytes` fail with EFBIG as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  sighandler_t previous_;
};

inline int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

// Feeds every prefix of `bytes` (stepping by `step`) and `flips` single-byte
// corruptions to `read`, which must neither crash nor fail in a way other
// than its result code.
inline void Torture(const std::vector<uint8_t>& bytes, const std::string& path, size_t step,
                    int flips, const std::function<void(const std::string&)>& read) {
  for (size_t n = 0; n < bytes.size(); n += step) {
    WriteFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
    read(path);
  }
  uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  for (int i = 0; i < flips; ++i) {
    std::vector<uint8_t> bad = bytes;
    const int hits = 1 + static_cast<int>(next() % 4);
    for (int h = 0; h < hits; ++h)
      bad[next() % bad.size()] ^= static_cast<uint8_t>(1 + next() % 255);
    WriteFileBytes(path, bad);
    read(path);
  }
}

}  // namespace jt
