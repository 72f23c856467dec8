// Helpers for the format tests: loading through the engine, decoding with
// other programs, and hostile-input loops.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/notice.h"
#include "formats/rwimage.h"
#include "support/test_support.h"

namespace format_test {

using testing_support::DataPath;
using testing_support::HaveTool;
using testing_support::MakePattern;
using testing_support::ReadFileBytes;
using testing_support::RunCommand;
using testing_support::TempDir;
using testing_support::TopDownRGB;
using testing_support::WriteFileBytes;

// A picture as top-down RGB triples.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  bool operator==(const Picture&) const = default;
};

// Failure messages show the size and the first pixel.
inline void PrintTo(const Picture& p, std::ostream* os) {
  *os << p.width << " x " << p.height << " (" << p.rgb.size() << " samples";
  if (p.rgb.size() >= 3)
    *os << ", first " << int(p.rgb[0]) << "," << int(p.rgb[1]) << "," << int(p.rgb[2]);
  *os << ")";
}

inline std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Loads a file through the engine (type detection included). Returns the
// LoadImage result; the picture is filled on success.
inline int LoadPicture(const std::string& path, Picture& picture) {
  vxScopedImage image;
  const int result = image.LoadImage(path.c_str());
  if (result == 0) {
    picture.width = image.Width();
    picture.height = image.Height();
    picture.rgb = testing_support::TopDownRGB(image);
  }
  return result;
}

// Reads a file with one format class directly, as a library caller would;
// returns Read's result and frees what it returned.
inline int ReadDirect(int type, const std::string& path) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
  if (!rw) return vxCannotOpen;
  vxBitmapInfoHeader* header = nullptr;
  vxRGBA* palette = nullptr;
  unsigned char* bits = nullptr;
  int count = -1;
  const int r = rw->Read(path.c_str(), &count, &header, &palette, &bits, nullptr);
  if (r == 0) vxFreeBlock(header);
  return r;
}

// GetInfo's answer for a file as "W x H, B bits, S bytes", or its failure code.
inline std::string InfoOf(const std::string& path) {
  vxFileInfo info{};
  const int r = vxImage::GetInfo(path.c_str(), &info);
  if (r != 0) return "failed: " + std::to_string(r);
  return std::to_string(info.width) + " x " + std::to_string(info.height) + ", " +
         std::to_string(info.bitsPerPixel) + " bits, " + std::to_string(info.fileSize) + " bytes";
}
// What InfoOf should say for `path`, whose size is taken from the file itself.
inline std::string Info(int width, int height, int bits, const std::string& path) {
  return std::to_string(width) + " x " + std::to_string(height) + ", " + std::to_string(bits) +
         " bits, " + std::to_string(std::filesystem::file_size(path)) + " bytes";
}

// Runs `command` (a shell pipeline writing any netpbm image to standard
// output), normalises it to an 8-bit PPM and reads it. False when the
// command failed.
inline bool ToolPicture(const std::string& command, const TempDir& dir, Picture& picture) {
  const std::string out = dir.File("tool-output.ppm");
  const std::string script = dir.File("tool.sh");
  const std::string text = "set -o pipefail\n(" + command +
                           ") 2>/dev/null | ppmtoppm 2>/dev/null | pamdepth 255 > " + Quote(out) +
                           " 2>/dev/null\n";
  WriteFileBytes(script, std::vector<uint8_t>(text.begin(), text.end()));
  if (RunCommand("bash " + Quote(script)) != 0) return false;
  return testing_support::ReadNetpbmRGB(out, picture.width, picture.height, picture.rgb);
}

// Runs a shell command and fails the test when it does not succeed.
inline void Shell(const std::string& command) {
  ASSERT_EQ(RunCommand("(" + command + ") 2>/dev/null"), 0) << command;
}

// Expects the engine's reading of `path` to equal the picture that
// `toolCommand` decodes, pixel for pixel.
inline void ExpectLoadsLike(const std::string& path, const std::string& toolCommand,
                            const TempDir& dir) {
  Picture ours, theirs;
  ASSERT_EQ(LoadPicture(path, ours), 0) << path << ": " << vxLastError();
  ASSERT_TRUE(ToolPicture(toolCommand, dir, theirs)) << toolCommand;
  ASSERT_EQ(ours.width, theirs.width) << path;
  ASSERT_EQ(ours.height, theirs.height) << path;
  size_t firstDiff = 0;
  while (firstDiff < ours.rgb.size() && ours.rgb[firstDiff] == theirs.rgb[firstDiff]) ++firstDiff;
  EXPECT_EQ(firstDiff, ours.rgb.size())
      << path << ": first difference at pixel " << firstDiff / 3 << " (x "
      << (firstDiff / 3) % ours.width << ", y " << (firstDiff / 3) / ours.width << ")";
}

// Collects the notices posted while it lives (from any thread).
class NoticeCapture {
 public:
  NoticeCapture() {
    previous_ = vxSetNoticeSink([this](const vxNotice& n) {
      std::lock_guard lock(mutex_);
      notices_.push_back(n);
    });
  }
  ~NoticeCapture() { vxSetNoticeSink(previous_); }
  NoticeCapture(const NoticeCapture&) = delete;
  NoticeCapture& operator=(const NoticeCapture&) = delete;

  std::vector<vxNotice> notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }
  // Notices whose text is exactly `text`.
  int Count(const std::string& text) const {
    int n = 0;
    for (const vxNotice& notice : notices()) n += notice.text == text;
    return n;
  }
  // Notices under `caption` whose text contains `part`.
  int Count(const std::string& caption, const std::string& part) const {
    int n = 0;
    for (const vxNotice& notice : notices())
      n += notice.caption == caption && notice.text.find(part) != std::string::npos;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<vxNotice> notices_;
  vxNoticeSink previous_;
};

// Sets the picture memory ceiling while it lives.
class MemoryCeiling {
 public:
  explicit MemoryCeiling(uint64_t bytes) : old_(vxMaxImageBytes()) { vxSetMaxImageBytes(bytes); }
  ~MemoryCeiling() { vxSetMaxImageBytes(old_); }

 private:
  uint64_t old_;
};

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

// Sends the process's standard error to `path` while it lives.
class StderrToFile {
 public:
  explicit StderrToFile(const std::string& path) {
    fflush(stderr);
    saved_ = dup(2);
    const int sink = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(sink, 2);
    close(sink);
  }
  ~StderrToFile() {
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }

 private:
  int saved_;
};

// The number of descriptors the process has open.
inline int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    ++n;
  return n;
}

// Loads every prefix of the file at `path` through the engine: each load
// fails cleanly or gives a picture whose pixels are those of the whole file
// or unread (index 0, black for 24-bit pictures). `stray` pixels may differ
// (a cut-off line of a planar format mixes its planes). With `failuresSayWhy`
// every failed load of two bytes or more leaves a message. ASan/UBSan catch
// what the assertions cannot.
inline void LoadEveryPrefix(const std::string& path, const TempDir& dir, size_t stray = 0,
                            bool failuresSayWhy = false) {
  vxScopedImage whole;
  ASSERT_EQ(whole.LoadImage(path.c_str()), 0) << path;
  const auto wholeRgb = testing_support::TopDownRGB(whole);
  const vxRGBA blank = whole.PaletteEntry(0);
  const auto bytes = ReadFileBytes(path);
  const std::string prefix = dir.File("prefix.bin");
  for (size_t n = 0; n <= bytes.size(); ++n) {
    WriteFileBytes(prefix, std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
    Picture p;
    vxClearLastError();
    const int result = LoadPicture(prefix, p);
    ASSERT_LE(result, 0) << "prefix " << n;
    vxFileInfo info{};
    vxImage::GetInfo(prefix.c_str(), &info);
    if (result != 0) {
      if (failuresSayWhy && n >= 2) {
        EXPECT_FALSE(vxLastError().empty()) << "prefix " << n;
      }
      continue;
    }
    ASSERT_EQ(p.rgb.size(), wholeRgb.size()) << "prefix " << n;
    size_t differing = 0;
    for (size_t i = 0; i < p.rgb.size(); i += 3) {
      const bool same = std::equal(p.rgb.begin() + i, p.rgb.begin() + i + 3, wholeRgb.begin() + i);
      const bool unread =
          p.rgb[i] == blank.red && p.rgb[i + 1] == blank.green && p.rgb[i + 2] == blank.blue;
      differing += !same && !unread;
    }
    EXPECT_LE(differing, stray) << "prefix " << n;
  }
  // The whole file again, as a last prefix, must give the whole picture.
  Picture last;
  ASSERT_EQ(LoadPicture(path, last), 0);
  EXPECT_EQ(last.rgb, wholeRgb);
}

// Loads `count` corrupted copies of `bytes`: a few bytes overwritten with
// random or extreme values, mostly near the start where the headers are.
// Each load must fail cleanly or give a picture of the size it announces.
inline void LoadMutations(const std::vector<uint8_t>& bytes, const TempDir& dir, uint32_t seed,
                          int count = 300) {
  const std::string path = dir.File("mutant.bin");
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (int round = 0; round < count; ++round) {
    std::vector<uint8_t> m = bytes;
    const int changes = 1 + static_cast<int>(next() % 4);
    for (int c = 0; c < changes; ++c) {
      const size_t span = (next() % 2) ? std::min<size_t>(m.size(), 800) : m.size();
      const size_t at = next() % span;
      const uint32_t kind = next() % 3;
      m[at] = kind == 0 ? 0xFF : kind == 1 ? 0x00 : static_cast<uint8_t>(next());
    }
    if (next() % 4 == 0) m.resize(next() % (m.size() + 1));
    WriteFileBytes(path, m);
    Picture p;
    const int result = LoadPicture(path, p);
    vxFileInfo info{};
    vxImage::GetInfo(path.c_str(), &info);
    EXPECT_LE(result, 0) << "round " << round;
    if (result == 0) {
      EXPECT_EQ(p.rgb.size(), static_cast<size_t>(p.width) * p.height * 3) << "round " << round;
    }
  }
}

// Little-endian helpers for building files by hand.
inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace format_test
