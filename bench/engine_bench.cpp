// Speed of the engine operations on a 12-megapixel colour photograph, in
// megapixels per second, beside a plain copy of the same pixels as baseline.
//
// The picture is the test photograph enlarged to 4000 x 3000 by bilinear
// interpolation with a little noise, so that it has the smooth gradients and
// the many distinct colours of a camera picture.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/quantizer.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Reads a binary PPM with maxval 255 into top-down RGB triples.
bool ReadPpm(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgb) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  int maxval = 0;
  const bool ok =
      std::fscanf(f, "P6 %d %d %d", &w, &h, &maxval) == 3 && maxval == 255 && std::fgetc(f) != EOF;
  if (ok) {
    rgb.resize(static_cast<size_t>(w) * h * 3);
    if (std::fread(rgb.data(), 1, rgb.size(), f) != rgb.size()) rgb.clear();
  }
  std::fclose(f);
  return ok && !rgb.empty();
}

// The shared 24-bit test picture (built once).
const vxImage& Photo() {
  static vxImage photo;
  if (!photo.IsEmpty()) return photo;
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
  if (!ReadPpm(std::string(LUNARK_TEST_DATA) + "/chelsea.ppm", w, h, rgb) ||
      !photo.Create(kWidth, kHeight, 24, 0)) {
    std::fprintf(stderr, "cannot build the test picture\n");
    std::exit(1);
  }
  std::mt19937 rng(1);
  for (int y = 0; y < kHeight; ++y) {
    const double fy = (kHeight - 1 - y) * (h - 1.0) / (kHeight - 1);
    const int y0 = static_cast<int>(fy), y1 = std::min(y0 + 1, h - 1);
    const double ty = fy - y0;
    unsigned char* row = photo.Row(y);
    for (int x = 0; x < kWidth; ++x) {
      const double fx = x * (w - 1.0) / (kWidth - 1);
      const int x0 = static_cast<int>(fx), x1 = std::min(x0 + 1, w - 1);
      const double tx = fx - x0;
      for (int c = 0; c < 3; ++c) {
        const auto at = [&](int xx, int yy) {
          return rgb[(static_cast<size_t>(yy) * w + xx) * 3 + c];
        };
        const double v = (1 - ty) * ((1 - tx) * at(x0, y0) + tx * at(x1, y0)) +
                         ty * ((1 - tx) * at(x0, y1) + tx * at(x1, y1));
        const int noisy = static_cast<int>(v + 0.5) + static_cast<int>(rng() % 5) - 2;
        row[3 * x + 2 - c] = static_cast<unsigned char>(std::clamp(noisy, 0, 255));
      }
    }
  }
  return photo;
}

size_t PixelBytes(const vxImage& image) {
  return image.Stride() * static_cast<size_t>(image.Height());
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6,
                         benchmark::Counter::kIsRate);
}

// A fresh copy of the photo (or of its grey version) in `image`.
void CopyPhoto(vxImage& image, bool grey) {
  const vxImage& photo = Photo();
  image.Delete();
  image.Create(kWidth, kHeight, 24, 0);
  std::memcpy(image.bits, photo.bits, PixelBytes(photo));
  if (grey) image.Make8Bit();
}

void BM_CopyBaseline(benchmark::State& state) {
  const vxImage& photo = Photo();
  std::vector<unsigned char> copy(PixelBytes(photo));
  for (auto _ : state) {
    std::memcpy(copy.data(), photo.bits, copy.size());
    benchmark::DoNotOptimize(copy.data());
  }
  SetRate(state);
}

void BM_Filter(benchmark::State& state) {
  const bool grey = state.range(1) != 0;
  vxScopedImage image;
  for (auto _ : state) {
    state.PauseTiming();
    CopyPhoto(image, grey);
    state.ResumeTiming();
    image.Filter(static_cast<int>(state.range(0)));
  }
  SetRate(state);
}

void BM_Quantize(benchmark::State& state) {
  const vxImage& photo = Photo();
  const auto method = static_cast<vxColorReduction>(state.range(0));
  for (auto _ : state) {
    vxQuantizer quantizer;
    vxBMINFO* block = quantizer.Quantize(photo.bits, kWidth, kHeight, 256, method);
    benchmark::DoNotOptimize(block);
    vxFreeBlock(block);
  }
  SetRate(state);
}

void BM_Rotate(benchmark::State& state) {
  vxScopedImage image;
  CopyPhoto(image, state.range(1) != 0);
  for (auto _ : state) image.Rotate(static_cast<int>(state.range(0)));
  SetRate(state);
}

void BM_Flip(benchmark::State& state) {
  vxScopedImage image;
  CopyPhoto(image, false);
  for (auto _ : state) image.Flip(static_cast<int>(state.range(0)));
  SetRate(state);
}

}  // namespace

BENCHMARK(BM_CopyBaseline)->Unit(benchmark::kMillisecond);
// Low Pass 1 (divisor 9) and High Pass 1 (divisor 1), on colour and on grey.
BENCHMARK(BM_Filter)->Args({0, 0})->Args({3, 0})->Args({0, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Quantize)
    ->Arg(MedianCut)
    ->Arg(BestQuantization)
    ->Arg(FastQuantization)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate)->Args({90, 0})->Args({-90, 0})->Args({90, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flip)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
