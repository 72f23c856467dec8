#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>

namespace testing_support {

std::string DataPath(const std::string& name) { return std::string(LUNARK_TEST_DATA) + "/" + name; }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/lunark-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data())) path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string RunCapture(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    if (status) *status = -1;
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int s = pclose(pipe);
  if (status) *status = (s != -1 && WIFEXITED(s)) ? WEXITSTATUS(s) : -1;
  return out;
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v '" + name + "' >/dev/null 2>&1") == 0;
}

void MakePattern(vxImage& image, int width, int height, int bitCount, uint32_t seed) {
  image.Delete();
  image.Create(width, height, bitCount, bitCount == 24 ? 0 : 256);
  std::mt19937 rng(seed);
  for (int y = 0; y < height; ++y) {
    unsigned char* row = image.Row(y);
    for (int x = 0; x < width; ++x) {
      // Smooth gradients with a little noise: realistic enough for codecs,
      // asymmetric enough to catch flips and channel swaps.
      const int noise = static_cast<int>(rng() % 16);
      if (bitCount == 24) {
        row[3 * x + 0] =
            static_cast<unsigned char>((x * 255 / std::max(width - 1, 1) + noise) & 0xFF);
        row[3 * x + 1] = static_cast<unsigned char>((y * 255 / std::max(height - 1, 1)) & 0xFF);
        row[3 * x + 2] = static_cast<unsigned char>(((x + 2 * y) * 3 + noise) & 0xFF);
      } else {
        row[x] = static_cast<unsigned char>(
            ((x + y) * 255 / std::max(width + height - 2, 1) + noise) & 0xFF);
      }
    }
  }
}

std::vector<uint8_t> TopDownRGB(const vxImage& image) {
  std::vector<uint8_t> out;
  if (image.IsEmpty()) return out;
  const int w = image.Width(), h = image.Height();
  out.reserve(static_cast<size_t>(w) * h * 3);
  for (int y = h - 1; y >= 0; --y) {
    const unsigned char* row = image.Row(y);
    for (int x = 0; x < w; ++x) {
      if (image.BitCount() == 24) {
        out.push_back(row[3 * x + 2]);
        out.push_back(row[3 * x + 1]);
        out.push_back(row[3 * x + 0]);
      } else {
        const vxRGBA e = image.PaletteEntry(row[x]);
        out.push_back(e.red);
        out.push_back(e.green);
        out.push_back(e.blue);
      }
    }
  }
  return out;
}

bool ReadNetpbmRGB(const std::string& path, int& width, int& height, std::vector<uint8_t>& rgb) {
  std::ifstream in(path, std::ios::binary);
  // A header number, after white space and whole-line comments.
  const auto number = [&in] {
    while ((in >> std::ws).peek() == '#')
      in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    int v = 0;
    in >> v;
    return v;
  };
  std::string magic;
  if (!(in >> magic) || (magic != "P5" && magic != "P6")) return false;
  width = number();
  height = number();
  const int maxval = number();
  in.get();  // the single white-space byte before the samples
  const size_t channels = magic == "P6" ? 3 : 1;
  std::vector<uint8_t> raw(static_cast<size_t>(width) * height * channels);
  in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
  if (!in || maxval != 255 || raw.empty()) return false;
  rgb.clear();
  if (channels == 3) {
    rgb = std::move(raw);
  } else {
    rgb.reserve(raw.size() * 3);
    for (uint8_t v : raw) rgb.insert(rgb.end(), {v, v, v});
  }
  return true;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

}  // namespace testing_support
