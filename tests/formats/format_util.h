// Helpers of the format tests: files made by hand or by other programs,
// readers and the hostile-input loops.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/notice.h"
#include "formats/registry.h"
#include "formats/rwimage.h"
#include "support/test_support.h"

namespace format_test {

using namespace testing_support;

// A picture as top-down RGB triples.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  bool operator==(const Picture&) const = default;
};

// Failure messages show the size and the first pixel.
inline void PrintTo(const Picture& p, std::ostream* os) {
  *os << p.width << " x " << p.height;
  if (p.rgb.size() >= 3) *os << ", first " << +p.rgb[0] << "," << +p.rgb[1] << "," << +p.rgb[2];
}

inline Picture PictureOf(const vxImage& image) {
  return {image.Width(), image.Height(), TopDownRGB(image)};
}

inline std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
inline std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Little-endian helpers for building files by hand.
inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)});
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(v >> shift));
}

// LoadImage's result; the picture is filled on success.
inline int LoadPicture(const std::string& path, Picture& picture) {
  vxScopedImage image;
  const int result = image.LoadImage(path.c_str());
  if (result == 0) picture = PictureOf(image);
  return result;
}

// Read's result of one format class; what was read goes to `image`, or is freed.
inline int ReadDirect(int type, const std::string& path, vxImage* image = nullptr) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
  if (!rw) return vxCannotOpen;
  vxBitmapInfoHeader* header = nullptr;
  vxRGBA* palette = nullptr;
  unsigned char* bits = nullptr;
  int count = -1;
  const int r = rw->Read(path.c_str(), &count, &header, &palette, &bits, nullptr);
  if (r != 0) return r;
  EXPECT_EQ(palette, vxBlockPalette(header));
  EXPECT_EQ(bits, vxBlockBits(header));
  vxScopedImage owner;
  (image ? *image : owner).AdoptBlock(header);
  return r;
}

// The file information of one format class, or its failure code.
inline int ClassInfo(int type, const std::string& path) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
  vxFileInfo info{};
  return rw->GetFileInfo(path.c_str(), &info);
}

inline int WriteWith(int type, const std::string& path, vxBitmapInfoHeader* header, vxRGBA* palette,
                     unsigned char* bits, void* options = nullptr) {
  std::unique_ptr<vxRWImage> rw(vxImage::CreateRWImage(type));
  return rw->Write(path.c_str(), header, palette, bits, options);
}
inline int WriteWith(int type, const std::string& path, vxImage& image, void* options = nullptr) {
  return WriteWith(type, path, image.header, image.palette, image.bits, options);
}

// What InfoOf should say (the size taken from the file).
inline std::string Info(int width, int height, int bits, const std::string& path,
                        uint64_t size = UINT64_MAX) {
  if (size == UINT64_MAX) size = std::filesystem::file_size(path);
  return std::to_string(width) + " x " + std::to_string(height) + ", " + std::to_string(bits) +
         " bits, " + std::to_string(size) + " bytes";
}
inline std::string InfoOf(const std::string& path) {
  vxFileInfo info{};
  const int r = vxImage::GetInfo(path.c_str(), &info);
  return r ? "failed: " + std::to_string(r)
           : Info(info.width, info.height, info.bitsPerPixel, path, info.fileSize);
}

inline void Shell(const std::string& command) {
  ASSERT_EQ(RunCommand("(" + command + ") 2>/dev/null"), 0) << command;
}

// A crop of a picture of tests/data, as a netpbm file in `dir`.
inline std::string Crop(const TempDir& dir, const std::string& photo, int width, int height,
                        int left, int top) {
  const std::string out =
      dir.File(std::to_string(width) + "x" + std::to_string(height) + "-" + photo);
  Shell("pamcut -left " + std::to_string(left) + " -top " + std::to_string(top) + " -width " +
        std::to_string(width) + " -height " + std::to_string(height) + " " +
        Quote(DataPath(photo)) + " > " + Quote(out));
  return out;
}

// The first picture that `command` (a shell pipeline writing netpbm images
// to standard output) gives, normalised to 8-bit RGB; empty when it failed.
inline Picture ByTool(const std::string& command, const TempDir& dir) {
  const std::string raw = dir.File("tool-output.pnm"), out = dir.File("tool-output.ppm");
  const std::string script = dir.File("tool.sh");
  WriteFileBytes(script, Bytes("set -o pipefail\n(" + command + ") 2>/dev/null > " + Quote(raw) +
                               " && ppmtoppm < " + Quote(raw) + " 2>/dev/null | pamdepth 255 > " +
                               Quote(out) + " 2>/dev/null\n"));
  Picture p;
  const bool ran =
      RunCommand("bash " + Quote(script)) == 0 && ReadNetpbmRGB(out, p.width, p.height, p.rgb);
  EXPECT_TRUE(ran) << command;
  return ran ? p : Picture{};
}

inline void ExpectLoadsLike(const std::string& path, const std::string& toolCommand,
                            const TempDir& dir) {
  Picture ours;
  ASSERT_EQ(LoadPicture(path, ours), 0) << path << ": " << vxLastError();
  EXPECT_EQ(ours, ByTool(toolCommand, dir)) << path;
}

struct ToolFile {  // a file and the command that writes it to standard output
  std::string name, command;
};

// Each file is detected as `type` (when given) and loads as `judge` decodes it.
inline void ExpectToolFilesLoadLike(const TempDir& dir, const std::vector<ToolFile>& files,
                                    const std::string& judge, int type = -1) {
  for (const ToolFile& f : files) {
    SCOPED_TRACE(f.name);
    const std::string path = dir.File(f.name);
    Shell("(" + f.command + ") > " + Quote(path));
    EXPECT_TRUE(type < 0 || vxImage::GetFileType(path.c_str()) == type);
    ExpectLoadsLike(path, judge + " " + Quote(path), dir);
  }
}

// Saves `image` as `type`; `judge` reads `expected` (the image's own pixels
// when empty). Returns the file's bytes.
inline std::vector<uint8_t> ExpectSavedFileReads(vxImage& image, int type, const std::string& judge,
                                                 const TempDir& dir,
                                                 std::vector<uint8_t> expected = {}) {
  const Picture shown{image.Width(), image.Height(),
                      expected.empty() ? TopDownRGB(image) : expected};
  const std::string path = dir.File("saved");
  EXPECT_EQ(image.SaveImage(path.c_str(), type), 0) << vxLastError();
  EXPECT_EQ(ByTool(judge + " " + Quote(path), dir), shown) << judge;
  return ReadFileBytes(path);
}

// An image of 1, 4 or 8 bits a pixel (4-bit packed two a byte, 1-bit a byte
// each, as the engine holds them) with `colours` entries; returns what it shows.
inline std::vector<uint8_t> MakeIndexed(vxImage& image, int width, int height, int bits,
                                        int colours) {
  image.Delete();
  image.Create(width, height, bits, colours);
  for (int i = 0; i < colours; ++i)
    image.palette[i] = {uint8_t(i * 16), uint8_t(255 - i * 15), uint8_t(i * 67), 0};
  std::vector<uint8_t> rgb;
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const int v = (x * x + 3 * y + x / 3) % colours;
      unsigned char& b = image.Row(y)[bits == 4 ? x / 2 : x];
      b = uint8_t(bits != 4 ? v : x & 1 ? (b & 0xF0) | v : (b & 0x0F) | v << 4);
      rgb.insert(rgb.end(), {image.palette[v].red, image.palette[v].green, image.palette[v].blue});
    }
  }
  return rgb;
}

// Four flat quadrants: lossy codecs keep them, every flip or turn changes them.
inline void MakeQuadrants(vxImage& image, int width, int height) {
  const unsigned char colours[4][3] = {// bottom left, bottom right, top left, top right
                                       {20, 40, 210},
                                       {200, 200, 40},
                                       {230, 30, 30},
                                       {20, 220, 30}};
  image.Delete();
  image.Create(width, height, 24, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned char* c = colours[2 * (y >= height / 2) + (x >= width / 2)];
      image.SetColor(x, y, c[0], c[1], c[2]);
    }
  }
}

inline void WritePpm(const std::string& path, const vxImage& image) {
  WriteFileBytes(path, Concat(Bytes("P6\n" + std::to_string(image.Width()) + " " +
                                    std::to_string(image.Height()) + "\n255\n"),
                              TopDownRGB(image)));
}

// A TIFF directory entry; a SHORT value sits in the first two bytes of its field.
struct IfdEntry {
  uint16_t tag, type;
  uint32_t count, value;
};

// A TIFF header and directory 0 at `offset`, with no next directory.
inline std::vector<uint8_t> TiffDirectory(bool bigEndian, const std::vector<IfdEntry>& entries,
                                          uint32_t offset = 8) {
  std::vector<uint8_t> t = {uint8_t(bigEndian ? 'M' : 'I'), uint8_t(bigEndian ? 'M' : 'I')};
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) t.push_back(uint8_t(v >> 8 * (bigEndian ? n - 1 - i : i)));
  };
  put(42, 2);
  put(offset, 4);
  t.resize(std::max<size_t>(t.size(), offset), 0);
  put(static_cast<uint32_t>(entries.size()), 2);
  for (const IfdEntry& e : entries) {
    put(e.tag, 2);
    put(e.type, 2);
    put(e.count, 4);
    put(e.type == 3 && bigEndian ? e.value << 16 : e.value, 4);
  }
  put(0, 4);
  return t;
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

  std::vector<vxNotice> notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }
  // Notices whose text contains `piece`, under `caption` when one is given.
  int Count(const std::string& piece, const char* caption = nullptr) const {
    int n = 0;
    for (const vxNotice& notice : notices())
      n += notice.text.find(piece) != std::string::npos && (!caption || notice.caption == caption);
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<vxNotice> notices_;
  vxNoticeSink previous_;
};

// Lowers the file-size limit of the process while it lives, with SIGXFSZ
// ignored, so that writes beyond `bytes` fail with EFBIG as on a full disk.
struct FileSizeLimit {
  rlimit saved{};
  sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit lowered{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
  }
};

// Sends the process's standard error to `path` while it lives.
struct StderrToFile {
  const int saved = (fflush(stderr), dup(2));
  explicit StderrToFile(const std::string& path) {
    const int sink = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(sink, 2);
    close(sink);
  }
  ~StderrToFile() {
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
  }
};

inline long OpenDescriptors() {
  using std::filesystem::directory_iterator;
  return std::distance(directory_iterator("/proc/self/fd"), directory_iterator());
}

// Writes to `path` every `step`-th prefix of `bytes` (check(n)), then
// `damaged` copies with a few bytes overwritten, mostly in the headers, a
// quarter also cut short (check(SIZE_MAX)).
inline void ForEachHostileCopy(const std::vector<uint8_t>& bytes, const std::string& path,
                               size_t step, int damaged, uint32_t seed,
                               const std::function<void(size_t)>& check) {
  for (size_t n = 0; step && n <= bytes.size(); n += step) {
    WriteFileBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
    check(n);
  }
  std::mt19937 next(seed);
  for (int round = 0; round < damaged; ++round) {
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
    check(SIZE_MAX);
  }
}

// Loads (and describes) every prefix and `damaged` copies of `path`: each
// fails or gives a picture of its announced size. A prefix shows the whole
// file's pixels or unread ones (index 0), but for `stray` (a cut-off line of
// a planar format mixes its planes).
inline void LoadHostileCopies(const std::string& path, const TempDir& dir, uint32_t seed,
                              int damaged = 300, bool prefixes = true, size_t stray = 0) {
  vxScopedImage whole;
  ASSERT_EQ(whole.LoadImage(path.c_str()), 0) << path;
  const Picture wholePicture = PictureOf(whole);
  const vxRGBA blank = whole.PaletteEntry(0);
  const std::string copy = dir.File("hostile.bin");
  ForEachHostileCopy(ReadFileBytes(path), copy, prefixes, damaged, seed, [&](size_t n) {
    SCOPED_TRACE(n == SIZE_MAX ? "damaged" : "prefix " + std::to_string(n));
    Picture p;
    const int result = LoadPicture(copy, p);
    vxFileInfo info{};
    vxImage::GetInfo(copy.c_str(), &info);
    ASSERT_LE(result, 0);
    if (result != 0) return;
    ASSERT_EQ(p.rgb.size(), static_cast<size_t>(p.width) * p.height * 3);
    if (n == SIZE_MAX) return;
    ASSERT_EQ(p.rgb.size(), wholePicture.rgb.size());
    size_t differing = 0;
    for (size_t i = 0; i < p.rgb.size(); i += 3) {
      const auto at = p.rgb.begin() + i;
      const bool unread = at[0] == blank.red && at[1] == blank.green && at[2] == blank.blue;
      differing += !unread && !std::equal(at, at + 3, wholePicture.rgb.begin() + i);
    }
    EXPECT_LE(differing, stray);
  });
}

// The same through the class of `type`: Read gives a picture or one of
// `failures`, GetFileInfo 0 or vxNotRecognised.
inline void ReadHostileCopies(const std::vector<uint8_t>& bytes, const TempDir& dir, size_t step,
                              int damaged, int type, const std::vector<int>& failures) {
  const std::string copy = dir.File("hostile.bin");
  ForEachHostileCopy(bytes, copy, step, damaged, 12345, [&](size_t n) {
    vxScopedImage image;
    const int result = ReadDirect(type, copy, &image);
    EXPECT_TRUE(result == 0 ? !image.IsEmpty()
                            : std::count(failures.begin(), failures.end(), result))
        << result << ", prefix " << n;
    const int info = ClassInfo(type, copy);
    EXPECT_TRUE(info == 0 || info == vxNotRecognised) << info << ", prefix " << n;
  });
}

}  // namespace format_test
