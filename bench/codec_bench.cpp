// Speed of the WIF codec's hot path, in memory:
//   transform forward and inverse (megapixels per second, single-threaded),
//   block coding and run/value arithmetic coding (values per second),
//   encode and decode of 4096 x 4096 grey and colour mosaics of the test
//   photos at quality 50 (megapixels per second, peak memory), with one
//   thread and with all (threads:0), on the plain reference loops (kernels:0)
//   and on the best vector path of the processor (kernels:2, AVX2 or SSE2).
//   Compare the rows of one run: wall time, since threads are involved.
// Run by hand: build/bench/codec_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "codec/block_coder.h"
#include "codec/byte_stream.h"
#include "codec/compress.h"
#include "codec/decoder.h"
#include "codec/kernels.h"
#include "codec/run_value.h"
#include "codec/scan.h"
#include "codec/wavelet.h"
#include "codec/wif_format.h"

namespace {

constexpr int kMosaicSide = 4096;

struct Photo {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // top-down
};

bool ReadNumber(FILE* f, int& value) {
  int c = std::fgetc(f);
  while (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '#') {
    if (c == '#') {
      while (c != EOF && c != '\n') c = std::fgetc(f);
    }
    c = std::fgetc(f);
  }
  if (c < '0' || c > '9') return false;
  value = 0;
  while (c >= '0' && c <= '9') {
    value = value * 10 + (c - '0');
    c = std::fgetc(f);
  }
  return true;
}

Photo LoadPhoto(const char* name) {
  Photo p;
  const std::string path = std::string(LUNARK_TEST_DATA) + "/" + name;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return p;
  int maxval = 0;
  const bool colour = std::fgetc(f) == 'P' && std::fgetc(f) == '6';
  if (ReadNumber(f, p.width) && ReadNumber(f, p.height) && ReadNumber(f, maxval) && maxval == 255) {
    const size_t n = static_cast<size_t>(p.width) * p.height;
    std::vector<uint8_t> raw(n * (colour ? 3 : 1));
    if (std::fread(raw.data(), 1, raw.size(), f) == raw.size()) {
      p.rgb.resize(n * 3);
      for (size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) p.rgb[3 * i + c] = colour ? raw[3 * i + c] : raw[i];
      }
    }
  }
  std::fclose(f);
  return p;
}

// A side x side picture tiled with the test photos, alternating, as the
// codec's buffer (bottom-up rows, blue-green-red for colour).
const std::vector<uint8_t>& Mosaic(bool colour) {
  static std::vector<uint8_t> cache[2];
  std::vector<uint8_t>& pixels = cache[colour];
  if (!pixels.empty()) return pixels;
  const Photo photos[2] = {LoadPhoto("camera.pgm"), LoadPhoto("chelsea.ppm")};
  const size_t stride = wif::RowStride(kMosaicSide, colour);
  pixels.assign(stride * kMosaicSide, 0);
  for (int y = 0; y < kMosaicSide; ++y) {
    uint8_t* row = pixels.data() + stride * static_cast<size_t>(kMosaicSide - 1 - y);
    for (int x = 0; x < kMosaicSide; ++x) {
      const int tile = (x / 512 + y / 512) % 2;
      const Photo& p = photos[tile];
      if (p.rgb.empty()) continue;
      const uint8_t* s = p.rgb.data() + 3 * (static_cast<size_t>(y % 512 % p.height) * p.width + x % 512 % p.width);
      if (colour) {
        row[3 * x] = s[2];
        row[3 * x + 1] = s[1];
        row[3 * x + 2] = s[0];
      } else {
        row[x] = static_cast<uint8_t>((s[0] + s[1] + s[2]) / 3);
      }
    }
  }
  return pixels;
}

void SetRate(benchmark::State& state, double perIteration, const char* name) {
  state.counters[name] = benchmark::Counter(perIteration, benchmark::Counter::kIsIterationInvariantRate);
}

// ---------------------------------------------------------------------------
// Transform

constexpr int kTransformSide = 2048;
constexpr int kTransformLevels = 7;

void LoadGreyRows(wif::FirstLevelForward<int8_t>& forward, const std::vector<uint8_t>& pixels,
                  std::vector<float>& row) {
  const size_t stride = wif::RowStride(kMosaicSide, false);
  for (int y = 0; y < kTransformSide; ++y) {
    const uint8_t* src = pixels.data() + stride * static_cast<size_t>(y);
    for (int x = 0; x < kTransformSide; ++x) row[x] = src[x];
    forward.PushRow(row.data());
  }
  forward.Finish();
}

void BM_TransformForward(benchmark::State& state) {
  const auto& pixels = Mosaic(false);
  const int64_t half = kTransformSide / 2;
  wif::QuadBuf quad;
  quad.Allocate(half, half, nullptr);
  wif::PyramidTransform pyramid;
  pyramid.Init(half, half, nullptr);
  std::vector<float> row(kTransformSide);
  for (auto _ : state) {
    wif::FirstLevelForward<int8_t> forward;
    forward.Init(kTransformSide, kTransformSide, 52.0f / 3, quad, nullptr);
    LoadGreyRows(forward, pixels, row);
    pyramid.Forward(quad.low.data(), kTransformLevels - 1);
    benchmark::DoNotOptimize(quad.low.data());
  }
  SetRate(state, kTransformSide * 1e-6 * kTransformSide, "MP/s");
}
BENCHMARK(BM_TransformForward)->Unit(benchmark::kMillisecond);

void BM_TransformInverse(benchmark::State& state) {
  const auto& pixels = Mosaic(false);
  const int64_t half = kTransformSide / 2;
  wif::QuadBuf quad;
  quad.Allocate(half, half, nullptr);
  wif::PyramidTransform pyramid;
  pyramid.Init(half, half, nullptr);
  std::vector<float> row(kTransformSide);
  wif::FirstLevelForward<int8_t> forward;
  forward.Init(kTransformSide, kTransformSide, 52.0f / 3, quad, nullptr);
  LoadGreyRows(forward, pixels, row);
  pyramid.Forward(quad.low.data(), kTransformLevels - 1);
  std::vector<float> coefficients(quad.low.data(), quad.low.data() + half * half);
  wif::LastLevelInverse<int8_t> last;
  last.Init(quad, kTransformSide, kTransformSide, 52.0 / 3, nullptr);
  std::vector<uint8_t> out(static_cast<size_t>(kTransformSide) * kTransformSide);
  struct Context {
    uint8_t* out;
  } context{out.data()};
  for (auto _ : state) {
    std::memcpy(quad.low.data(), coefficients.data(), coefficients.size() * sizeof(float));
    pyramid.Inverse(quad.low.data(), kTransformLevels - 1);
    last.Run(
        [](void* c, const float* r, int64_t y) {
          uint8_t* dst = static_cast<Context*>(c)->out + y * kTransformSide;
          for (int x = 0; x < kTransformSide; ++x) dst[x] = static_cast<uint8_t>(r[x]);
        },
        &context);
    benchmark::DoNotOptimize(out.data());
  }
  SetRate(state, kTransformSide * 1e-6 * kTransformSide, "MP/s");
}
BENCHMARK(BM_TransformInverse)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Entropy coders, on the coefficients of a real plane at quality 50

struct CoderInput {
  std::vector<int32_t> coarse;  // lowest band and coarse levels, for the block coder
  std::vector<int32_t> detail;  // a first-level detail plane, for the run/value code
};

const CoderInput& Coefficients() {
  static CoderInput input;
  if (!input.coarse.empty()) return input;
  const auto& pixels = Mosaic(false);
  const int64_t half = kTransformSide / 2;
  wif::QuadBuf quad;
  quad.Allocate(half, half, nullptr);
  wif::PyramidTransform pyramid;
  pyramid.Init(half, half, nullptr);
  std::vector<float> row(kTransformSide);
  // Quality 10 keeps the block-coded part large enough to time.
  wif::FirstLevelForward<int8_t> forward;
  forward.Init(kTransformSide, kTransformSide, 12.0f / 3, quad, nullptr);
  LoadGreyRows(forward, pixels, row);
  pyramid.Forward(quad.low.data(), kTransformLevels - 1);
  const wif::PlaneLayout layout = wif::LumaLayout(kTransformSide, kTransformSide, kTransformLevels,
                                                  kTransformLevels - 1);
  input.coarse.resize(static_cast<size_t>(layout.PlaneSize()));
  wif::QuantizeCoarse(quad.low.data(), layout, input.coarse.data());
  input.detail.resize(static_cast<size_t>(layout.PlaneSize()));
  wif::ScanDetailPlane(quad.hh.data(), layout, wif::Band::HH, true, input.detail.data());
  return input;
}

void BM_BlockEncode(benchmark::State& state) {
  const auto& values = Coefficients().coarse;
  std::vector<int32_t> work(values.size());
  size_t bytes = 0;
  for (auto _ : state) {
    work = values;
    wif::ByteSink sink;
    wif::BitWriter w(sink);
    wif::BlockEncode(work.data(), work.size(), w);
    w.Terminate();
    bytes = sink.bytes().size();
  }
  SetRate(state, static_cast<double>(values.size()), "values/s");
  state.counters["bits/value"] = 8.0 * bytes / values.size();
}
BENCHMARK(BM_BlockEncode)->Unit(benchmark::kMillisecond);

void BM_BlockDecode(benchmark::State& state) {
  auto values = Coefficients().coarse;
  wif::ByteSink sink;
  wif::BitWriter w(sink);
  wif::BlockEncode(values.data(), values.size(), w);
  w.Terminate();
  std::vector<int32_t> out(values.size());
  for (auto _ : state) {
    wif::ByteSource source(sink.bytes().data(), sink.bytes().size());
    wif::BitReader r(source);
    benchmark::DoNotOptimize(wif::BlockDecode(r, out.data(), out.size()));
  }
  SetRate(state, static_cast<double>(values.size()), "values/s");
}
BENCHMARK(BM_BlockDecode)->Unit(benchmark::kMillisecond);

void BM_ArithEncode(benchmark::State& state) {
  const auto& values = Coefficients().detail;
  size_t bytes = 0;
  for (auto _ : state) {
    wif::ByteSink sink;
    wif::BitWriter w(sink);
    wif::AdaptiveModel model;
    wif::ArithEncoder coder(w, model);
    coder.Start();
    wif::EncodeSweep(coder, model, values.data(), 0, static_cast<int64_t>(values.size()));
    coder.Finish();
    w.Terminate();
    bytes = sink.bytes().size();
  }
  SetRate(state, static_cast<double>(values.size()), "values/s");
  state.counters["bits/value"] = 8.0 * bytes / values.size();
}
BENCHMARK(BM_ArithEncode)->Unit(benchmark::kMillisecond);

void BM_ArithDecode(benchmark::State& state) {
  const auto& values = Coefficients().detail;
  wif::ByteSink sink;
  wif::BitWriter w(sink);
  wif::AdaptiveModel model;
  wif::ArithEncoder coder(w, model);
  coder.Start();
  wif::EncodeSweep(coder, model, values.data(), 0, static_cast<int64_t>(values.size()));
  coder.Finish();
  w.Terminate();
  std::vector<int32_t> out(values.size());
  for (auto _ : state) {
    wif::ByteSource source(sink.bytes().data(), sink.bytes().size());
    wif::BitReader r(source);
    wif::AdaptiveModel readModel;
    wif::ArithDecoder dec(r, readModel);
    dec.Start();
    benchmark::DoNotOptimize(
        wif::DecodeSweep(dec, readModel, r, out.data(), 0, static_cast<int64_t>(out.size())));
  }
  SetRate(state, static_cast<double>(values.size()), "values/s");
}
BENCHMARK(BM_ArithDecode)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// Whole pictures

constexpr int kQuality = 50;
constexpr double kMiB = 1024.0 * 1024.0;

// Applies the thread count and kernel path of a benchmark's arguments 1 and 2.
struct Setting {
  explicit Setting(benchmark::State& state) {
    wif::SetThreads(static_cast<int>(state.range(1)));
    wif::SetKernelPath(state.range(2) == 0 ? wif::KernelPath::Plain : wif::BestKernelPath());
    state.SetLabel(wif::KernelPathName(wif::ActiveKernelPath()) + std::string(" threads ") +
                   std::to_string(wif::Threads()));
  }
  ~Setting() {
    wif::SetThreads(0);
    wif::SetKernelPath(wif::BestKernelPath());
  }
};

void CodecArguments(benchmark::internal::Benchmark* b) {
  b->ArgNames({"colour", "threads", "kernels"});
  for (int colour : {1, 0}) {
    b->Args({colour, 1, 0});
    b->Args({colour, 1, 2});
    b->Args({colour, 0, 2});
  }
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void BM_Encode(benchmark::State& state) {
  const bool colour = state.range(0) != 0;
  const Setting setting(state);
  const auto& pixels = Mosaic(colour);
  wif::EncodeRequest request;
  request.pixels = pixels.data();
  request.colour = colour;
  request.width = kMosaicSide;
  request.height = kMosaicSide;
  request.quality = kQuality;
  uint64_t codecPeak = 0;
  size_t fileBytes = 0;
  for (auto _ : state) {
    wif::ByteSink sink;
    wif::Compress compress(sink);
    if (compress.Run(request) != wif::Status::Ok) state.SkipWithError("encode failed");
    codecPeak = compress.PeakBytes();
    fileBytes = sink.bytes().size();
  }
  const double pixelsPerPicture = static_cast<double>(kMosaicSide) * kMosaicSide;
  SetRate(state, pixelsPerPicture * 1e-6, "MP/s");
  state.counters["bpp"] = 8.0 * fileBytes / pixelsPerPicture;
  state.counters["codec_MiB"] = codecPeak / kMiB;
  state.counters["peak_MiB"] = (codecPeak + pixels.size() + fileBytes) / kMiB;
  state.counters["raw_MiB"] = pixels.size() / kMiB;
}
BENCHMARK(BM_Encode)->Apply(CodecArguments);

void BM_Decode(benchmark::State& state) {
  const bool colour = state.range(0) != 0;
  const Setting setting(state);
  const auto& pixels = Mosaic(colour);
  wif::EncodeRequest request;
  request.pixels = pixels.data();
  request.colour = colour;
  request.width = kMosaicSide;
  request.height = kMosaicSide;
  request.quality = kQuality;
  wif::ByteSink sink;
  wif::Compress compress(sink);
  compress.Run(request);
  const std::vector<uint8_t> file = sink.TakeBytes();
  std::vector<uint8_t> out(pixels.size());
  uint64_t codecPeak = 0;
  double psnr = 0;
  for (auto _ : state) {
    wif::ByteSource source(file.data(), file.size());
    wif::decoder d(source, out.data());
    if (d.Run() != wif::Status::Ok) state.SkipWithError("decode failed");
    codecPeak = d.PeakBytes();
  }
  double sum = 0;
  for (size_t i = 0; i < out.size(); ++i) sum += (double(out[i]) - pixels[i]) * (double(out[i]) - pixels[i]);
  psnr = 10 * std::log10(255.0 * 255.0 / (sum / out.size()));
  SetRate(state, static_cast<double>(kMosaicSide) * kMosaicSide * 1e-6, "MP/s");
  state.counters["PSNR"] = psnr;
  state.counters["codec_MiB"] = codecPeak / kMiB;
  state.counters["peak_MiB"] = (codecPeak + out.size() + file.size()) / kMiB;
  state.counters["raw_MiB"] = pixels.size() / kMiB;
}
BENCHMARK(BM_Decode)->Apply(CodecArguments);

}  // namespace

BENCHMARK_MAIN();
