#include "codec/decoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "codec/block_coder.h"
#include "codec/compress.h"
#include "codec/kernels.h"
#include "codec/rounding.h"
#include "codec/run_value.h"
#include "codec/scan.h"
#include "codec/wavelet_kernels.h"
#include "engine/image.h"

namespace wif {

namespace {

// The largest buffer set of one plane for which the planes are decoded at
// once, all three held until the picture is written: up to pictures of
// about 8192 x 8192.
constexpr uint64_t kParallelPlaneBytes = uint64_t{128} << 20;

inline uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// The bands of rows a picture's output is written in when its planes are
// decoded at once: enough for the two threads to end close together.
constexpr int kWriteBands = 8;

// What the threads of a decode wait on: each plane decoded (events 0, 1 and
// 2), the choice of how the picture is written, and the luma and first
// chroma plane written whole.
enum DecodeEvent { kPlan = 3, kLumaWritten = 4, kChromaWritten = 5, kEvents = 6 };

class DecodeProgress {
 public:
  void Finish(int event, Status status) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      status_[event] = status;
      done_[event] = true;
    }
    changed_.notify_all();
  }
  // Waits until `event` has happened; true when it went well.
  bool Wait(int event) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return done_[event]; });
    return status_[event] == Status::Ok;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Status status_[kEvents] = {};
  bool done_[kEvents] = {};
};

}  // namespace

bool DecodesPlanesAtOnce(const Header& h) {
  if (!h.IsColour() || Threads() < 2 || h.levels == 0) return false;
  const PlaneLayout layout = LumaLayout(h.width, h.height, h.levels, h.split);
  return PlaneBufferBytes(layout.pw2, layout.ph2) <= kParallelPlaneBytes;
}

bool FitsMemoryCeiling(const Header& h) {
  if (h.levels == 0) return false;
  const PlaneLayout layout = LumaLayout(h.width, h.height, h.levels, h.split);
  return PlaneBufferBytes(layout.pw2, layout.ph2) <= vxMaxImageBytes();
}

namespace {

// Sections are found by their terminators; a length is read past.
bool ReadSectionLength(BitReader& in) {
  uint32_t length;
  return in.ReadBigEndian(4, length);
}

}  // namespace

namespace {

// The coarse part through a linear array of every coefficient, then into
// the float plane: for planes whose coarse part is all block coded.
Status DecodeCoarseLinear(BitReader& in, ArithDecoder& coder, AdaptiveModel& model,
                          const PlaneLayout& layout, PlaneBuffers& buffers,
                          MemoryTracker* memory) {
  const size_t count = static_cast<size_t>(layout.PlaneSize());
  if (!buffers.expanse.Allocate(count, memory)) {
    ReportFatal(kMsgExpanse);
    return Status::NoMemory;
  }
  int32_t* lin = buffers.expanse.data();
  uint32_t magnitude;
  if (!in.ReadBigEndian(2, magnitude)) return Status::Corrupt;
  in.Reset();
  Status s = BlockDecode(in, lin, static_cast<size_t>(layout.ncoarse));
  if (s != Status::Ok) return s;
  lin[0] = RestoreDc(lin[0], magnitude);
  if (!in.SkipTerminator()) return Status::Corrupt;
  if (layout.sweeps >= 1) {
    coder.Start();
    int64_t begin = layout.ncoarse;
    for (int r = 1; r <= layout.sweeps; ++r, begin *= 4) {
      s = DecodeSweep(coder, model, in, lin, begin, 4 * begin);
      if (s != Status::Ok) return s;
    }
  }
  UnpredictLowest(lin, layout.w0, layout.h0);
  if (!buffers.quad.low.Allocate(count, memory)) {
    ReportFatal(kMsgQuadBuf);
    return Status::NoMemory;
  }
  UnscanPlane(lin, layout, buffers.quad.low.data());
  buffers.expanse.Release();
  return Status::Ok;
}

// The coarse part with no more memory than the float plane itself. Its last
// quarter-to-end stretch holds the three bands of the finest coarse level,
// three quarters of the plane; everything before it (a quarter) is decoded as
// a linear array at the start of the plane, put in pyramid order at the
// plane's end as a plane of half the size, and moved up into the top-left
// quadrant row by row (each row lands before any row still to move). The
// rest is then written value by value straight into its place in the other
// three quadrants: by the last arithmetic sweep, or, when the whole coarse
// part is block coded, a few blocks at a time.
Status DecodeCoarseInPlace(BitReader& in, ArithDecoder& coder, AdaptiveModel& model,
                           const PlaneLayout& layout, PlaneBuffers& buffers,
                           MemoryTracker* memory) {
  const int64_t count = layout.PlaneSize();
  const int64_t quarter = count / 4;
  const bool swept = layout.sweeps >= 1;
  if (!buffers.quad.low.Allocate(static_cast<uint64_t>(count), memory)) {
    ReportFatal(kMsgQuadBuf);
    return Status::NoMemory;
  }
  float* plane = buffers.quad.low.data();
  static_assert(sizeof(int32_t) == sizeof(float));
  int32_t* lin = reinterpret_cast<int32_t*>(plane);
  uint32_t magnitude;
  if (!in.ReadBigEndian(2, magnitude)) return Status::Corrupt;
  in.Reset();
  Status s = BlockDecode(in, lin, static_cast<size_t>(swept ? layout.ncoarse : quarter));
  if (s != Status::Ok) return s;
  lin[0] = RestoreDc(lin[0], magnitude);
  if (swept) {
    if (!in.SkipTerminator()) return Status::Corrupt;
    coder.Start();
    int64_t begin = layout.ncoarse;
    for (int r = 1; r < layout.sweeps; ++r, begin *= 4) {
      s = DecodeSweep(coder, model, in, lin, begin, 4 * begin);
      if (s != Status::Ok) return s;
    }
  }
  UnpredictLowest(lin, layout.w0, layout.h0);
  PlaneLayout half = layout;
  half.pw2 = layout.pw2 / 2;
  half.ph2 = layout.ph2 / 2;
  half.levels = layout.levels - 1;
  float* compact = plane + 3 * quarter;
  UnscanPlane(lin, half, compact);
  for (int64_t y = 0; y < half.ph2; ++y) {
    std::memmove(plane + y * layout.pw2, compact + y * half.pw2,
                 static_cast<size_t>(half.pw2) * sizeof(float));
  }
  ScanCursor cursor;
  cursor.AddLevel(layout, layout.levels - 1);
  if (swept) return DecodeSweep(coder, model, in, plane, cursor, 3 * quarter);
  // Blocks carry nothing from one to the next: a whole number of them at a
  // time decodes as the one long call would.
  int32_t chunk[4096];
  for (int64_t done = 0; done < 3 * quarter;) {
    const int64_t n = std::min<int64_t>(4096, 3 * quarter - done);
    s = BlockDecode(in, chunk, static_cast<size_t>(n));
    if (s != Status::Ok) return s;
    for (int64_t i = 0; i < n; ++i) plane[cursor.Next()] = static_cast<float>(chunk[i]);
    done += n;
  }
  return in.SkipTerminator() ? Status::Ok : Status::Corrupt;
}

// True when the coarse part can be decoded inside the float plane: its last
// sweep is exactly the finest coarse level, or the whole of it is block
// coded in whole blocks up to that level.
bool CoarseFitsInPlace(const PlaneLayout& layout) {
  if (layout.levels < 2 || layout.pw2 % 2 != 0 || layout.ph2 % 2 != 0) return false;
  const int64_t count = layout.PlaneSize();
  if (layout.sweeps < 1) return layout.ncoarse == count && (count / 4) % 16 == 0;
  int64_t end = layout.ncoarse;
  for (int r = 0; r < layout.sweeps; ++r) end *= 4;
  return end == count;
}

}  // namespace

namespace {

// The coarse part of plane p: the first coefficient's magnitude, the
// block-coded values, then the arithmetic-coded further levels when there
// are any, inverted down to the first level's low band. Plane 0's stream ends
// here (with its own section); a chroma plane's goes on into its details.
Status DecodeCoarsePart(BitReader& in, ArithDecoder& coder, AdaptiveModel& model, int p,
                        const PlaneLayout& layout, PlaneBuffers& buffers,
                        MemoryTracker* memory) {
  Status s = CoarseFitsInPlace(layout)
                 ? DecodeCoarseInPlace(in, coder, model, layout, buffers, memory)
                 : DecodeCoarseLinear(in, coder, model, layout, buffers, memory);
  if (s != Status::Ok) return s;
  if (layout.sweeps >= 1 && p == 0 && !in.SkipTerminator()) return Status::Corrupt;
  if (!buffers.pyramid.Init(layout.pw2, layout.ph2, memory)) {
    ReportFatal(kMsgWriteAlloc);
    return Status::NoMemory;
  }
  buffers.pyramid.Inverse(buffers.quad.low.data(), layout.levels - 1);
  return Status::Ok;
}

// The streams of one section of a stream in memory, from just after its
// length field at `start`.
struct SectionReader {
  SectionReader(const uint8_t* data, size_t size, size_t start)
      : begin(start + 4), source(data + begin, size - begin), bits(source), coder(bits, model) {}
  // Where the reading has got to, as an offset in the stream.
  uint64_t End() { return begin + bits.Position(); }

  size_t begin;
  ByteSource source;
  BitReader bits;
  AdaptiveModel model;
  ArithDecoder coder;
};

// Colour plane p of a stream in memory whose sections start at `starts`,
// from just after the length of section 1, 3 or 4. Planes 0 and 1 must end
// exactly where the next length field starts (Failed otherwise). *end is
// where the plane's data ended, *pastEnd (when given) the bits read past the
// end of the stream.
Status DecodeColourSection(const uint8_t* data, size_t size, const size_t starts[4], int p,
                           const PlaneLayout& layout, PlaneBuffers& buffers, MemoryTracker* memory,
                           uint64_t* end, int* pastEnd) {
  const size_t begin = starts[p == 0 ? 0 : p + 1] + 4;
  ByteSource source(data + begin, size - begin);
  BitReader bits(source);
  const Status s = DecodePlane(bits, p, true, layout, buffers, memory);
  *end = begin + bits.Position();
  if (pastEnd) *pastEnd = bits.readsPastEnd();
  if (s != Status::Ok) return s;
  if (p < 2 && *end != starts[p + 2]) return Status::Failed;
  return Status::Ok;
}

// The three first-level detail planes of plane p, from where its coarse part
// (or, for plane 0, its detail section's length) ends.
Status DecodeDetailPart(BitReader& in, ArithDecoder& coder, AdaptiveModel& model, int p,
                        bool colour, const PlaneLayout& layout, PlaneBuffers& buffers,
                        MemoryTracker* memory) {
  QuadBuf& quad = buffers.quad;
  const size_t count = static_cast<size_t>(layout.PlaneSize());
  const Band bands[3] = {Band::HL, Band::LH, Band::HH};
  const bool runValue = !layout.DetailBlockCoded();
  Status s = Status::Ok;
  if (runValue && (p == 0 || layout.split == layout.levels - 1)) coder.Start();
  if (runValue && BlockSide(layout.levels) == SparseDetail::kSide) {
    // Mostly runs of zeros: each plane is kept as its nonzero values.
    for (int b = 0; b < 3; ++b) {
      ScanCursor cursor;
      cursor.AddBand(bands[b], layout.pw2, layout.ph2, SparseDetail::kSide, layout.pw2, 0);
      s = quad.sparse[b].Init(bands[b], layout.pw2, layout.ph2, memory)
              ? DecodeSweep(coder, model, in, quad.sparse[b], cursor, static_cast<int64_t>(count))
              : Status::NoMemory;
      if (s == Status::NoMemory) ReportFatal(kMsgQuadBuf);
      if (s != Status::Ok) return s;
      quad.sparse[b].Finish();
    }
  } else {
    if (!quad.hl.Allocate(count, memory) || !quad.lh.Allocate(count, memory) ||
        !quad.hh.Allocate(count, memory) || !buffers.details.Allocate(count, memory)) {
      ReportFatal(kMsgQuadBuf);
      return Status::NoMemory;
    }
    int8_t* values = buffers.details.data();
    int8_t* details[3] = {quad.hl.data(), quad.lh.data(), quad.hh.data()};
    if (!runValue) in.Reset();
    for (int b = 0; b < 3; ++b) {
      s = runValue ? DecodeSweep(coder, model, in, values, 0, static_cast<int64_t>(count))
                   : BlockDecode(in, values, count);
      if (s != Status::Ok) return s;
      UnscanDetailPlane(values, layout, bands[b], details[b]);
    }
    buffers.details.Release();
  }
  if (colour && !in.SkipTerminator()) return Status::Corrupt;
  return Status::Ok;
}

}  // namespace

Status DecodePlane(BitReader& in, int p, bool colour, const PlaneLayout& layout,
                   PlaneBuffers& buffers, MemoryTracker* memory) {
  AdaptiveModel model;
  ArithDecoder coder(in, model);
  buffers.quad.pw2 = layout.pw2;
  buffers.quad.ph2 = layout.ph2;
  const Status s = DecodeCoarsePart(in, coder, model, p, layout, buffers, memory);
  if (s != Status::Ok) return s;
  // The detail part of plane 0 has a section of its own, grey or colour.
  if (p == 0 && !ReadSectionLength(in)) return Status::Corrupt;
  return DecodeDetailPart(in, coder, model, p, colour, layout, buffers, memory);
}

void RowWriter::Sink(void* context, const float* row, int64_t y) {
  RowWriter& w = *static_cast<RowWriter*>(context);
  uint8_t* out = w.destination + w.stride * static_cast<size_t>(y - w.firstRow);
  const size_t count = static_cast<size_t>(w.width);
  const WaveletKernels& kernels = ActiveKernels();
  switch (w.mode) {
    case 0:
    case 1:
      kernels.sampleBytes(row, out, count);
      break;
    case 2:
      kernels.chromaValues(row, w.values.data(), count, w.fullRange);
      std::memcpy(out + count, w.values.data(), count * sizeof(int16_t));
      break;
    default:
      // The combined pixels overwrite the row they come from: its luma and
      // first chroma are copied out first.
      std::memcpy(w.luma.data(), out, count);
      std::memcpy(w.firstChroma.data(), out + count, count * sizeof(int16_t));
      kernels.chromaValues(row, w.values.data(), count, w.fullRange);
      kernels.combineColour(w.luma.data(), w.firstChroma.data(), w.values.data(), out, count,
                            w.rgb);
      break;
  }
}

Status decoder::Run() {
  parallelDone_ = false;
  byBands_ = false;
  Status s = init();
  if (s != Status::Ok) return s;
  if (bandSink_) return RunBands();
  const bool colour = header_.IsColour();
  if (DecodesPlanesAtOnce(header_) || (!colour && Threads() >= 2)) {
    // The sections need the whole stream at hand; it is a fraction of the
    // picture's size.
    std::vector<uint8_t> storage;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (in_.Contents(storage, data, size, vxMaxImageBytes()) &&
        (colour ? RunParallel(data, size) : RunGreyParallel(data, size)) == Status::Ok) {
      return Status::Ok;
    }
    parallelDone_ = false;
    s = init();
    if (s != Status::Ok) return s;
  }
  return RunSequential();
}

Status decoder::RunSequential() {
  const bool colour = header_.IsColour();
  const int planes = colour ? 3 : 1;
  const PlaneLayout chroma = ChromaLayout(luma_);
  for (int p = 0; p < planes; ++p) {
    PlaneBuffers buffers;
    Status s = DecodePlane(bits_, p, colour, p == 0 ? luma_ : chroma, buffers, &memory_);
    if (s != Status::Ok) return s;
    if (Threads() >= 2 && header_.height >= 16) {
      // A plane's output is shared out by rows.
      s = WritePlaneInHalves(buffers, p, colour ? p + 1 : 0);
    } else {
      s = WritePlane(buffers, p, colour ? p + 1 : 0);
    }
    if (s != Status::Ok) return s;
    if (p + 1 < planes && !ReadSectionLength(bits_)) return Status::Corrupt;
  }
  consumed_ = bits_.Position();
  return Status::Ok;
}

Status decoder::RunParallel(const uint8_t* data, size_t size) {
  size_t starts[4];
  if (!LocateSections(data, size, header_, starts)) return Status::Failed;
  const PlaneLayout chroma = ChromaLayout(luma_);
  uint64_t end[3] = {0, 0, 0};

  // Each plane's memory is counted apart as well, for the choice below.
  MemoryTracker planeMemory[3] = {MemoryTracker(&memory_), MemoryTracker(&memory_),
                                  MemoryTracker(&memory_)};
  auto decode = [&](int p, PlaneBuffers& buffers, int* pastEnd) {
    return DecodeColourSection(data, size, starts, p, p == 0 ? luma_ : chroma, buffers,
                               &planeMemory[p], &end[p], pastEnd);
  };

  // Here the luma is decoded, on a second thread the chroma planes. When the
  // first chroma plane shows that all three planes fit comfortably (a
  // photograph's detail planes are mostly zeros and take little), the second
  // thread decodes the other chroma plane at once, and then both threads
  // write the picture by bands of rows, each band plane after plane (the last
  // plane combines all three). Otherwise each thread writes its plane whole
  // and releases it first, so that no more than two planes are held, and
  // only the last plane is written by bands.
  PlaneBuffers buffers[3];
  DecodeProgress progress;
  std::atomic<int> nextBand{0};
  std::atomic<bool> failed{false};
  const int64_t height = header_.height;
  const uint64_t raw = static_cast<uint64_t>(header_.width) * header_.height * 3;
  auto writeBands = [&](int firstPlane) {
    if (firstPlane == 2 && (!progress.Wait(kLumaWritten) || !progress.Wait(kChromaWritten))) {
      failed = true;
      return;
    }
    for (int band = nextBand++; band < kWriteBands && !failed; band = nextBand++) {
      const int64_t first = height * band / kWriteBands;
      const int64_t last = height * (band + 1) / kWriteBands;
      for (int p = firstPlane; p < 3 && first < last; ++p) {
        if (!progress.Wait(p) || WritePlane(buffers[p], p, p + 1, first, last) != Status::Ok) {
          failed = true;
          return;
        }
      }
    }
  };
  int pastEnd = 0;
  std::thread chromaThread([&] {
    QuietReports quiet;
    Status s = decode(1, buffers[1], nullptr);
    const bool allThree = s == Status::Ok && 3 * planeMemory[1].Live() <= raw * 5 / 4;
    progress.Finish(kPlan, allThree ? Status::Ok : Status::Failed);
    progress.Finish(1, s);
    if (!allThree) {
      if (s == Status::Ok) s = WritePlane(buffers[1], 1, 2);
      progress.Finish(kChromaWritten, s);
    }
    progress.Finish(2, s == Status::Ok ? decode(2, buffers[2], &pastEnd) : s);
    writeBands(allThree ? 0 : 2);
  });
  QuietReports quiet;
  Status s = decode(0, buffers[0], nullptr);
  progress.Finish(0, s);
  const bool allThree = progress.Wait(kPlan);
  if (!allThree) {
    if (s == Status::Ok) s = WritePlane(buffers[0], 0, 1);
    progress.Finish(kLumaWritten, s);
  }
  writeBands(allThree ? 0 : 2);
  chromaThread.join();
  if (failed) return Status::Failed;
  consumed_ = end[2];
  pastEnd_ = pastEnd;
  parallelDone_ = true;
  byBands_ = allThree;
  return Status::Ok;
}

Status decoder::DecodeGreyAtOnce(const uint8_t* data, size_t size, PlaneBuffers& buffers) {
  size_t starts[4];
  if (!LocateSections(data, size, header_, starts)) return Status::Failed;
  // The coarse part and the detail planes are sections of their own, found
  // by their length fields: the details are decoded on a second thread while
  // the coarse part is decoded and inverted here. The coarse part must end
  // exactly where the detail section's length starts.
  buffers.quad.pw2 = luma_.pw2;
  buffers.quad.ph2 = luma_.ph2;
  Status details = Status::Failed;
  uint64_t detailsEnd = 0;
  int pastEnd = 0;
  std::thread second([&] {
    QuietReports quiet;
    SectionReader section(data, size, starts[1]);
    details = DecodeDetailPart(section.bits, section.coder, section.model, 0, false, luma_,
                               buffers, &memory_);
    detailsEnd = section.End();
    pastEnd = section.bits.readsPastEnd();
  });
  QuietReports quiet;
  SectionReader section(data, size, starts[0]);
  Status s = DecodeCoarsePart(section.bits, section.coder, section.model, 0, luma_, buffers,
                              &memory_);
  if (s == Status::Ok && section.End() != starts[1]) s = Status::Failed;
  second.join();
  if (s != Status::Ok || details != Status::Ok) return Status::Failed;
  consumed_ = detailsEnd;
  pastEnd_ = pastEnd;
  return Status::Ok;
}

Status decoder::RunGreyParallel(const uint8_t* data, size_t size) {
  PlaneBuffers buffers;
  Status s = DecodeGreyAtOnce(data, size, buffers);
  if (s != Status::Ok) return s;
  s = header_.height >= 16 ? WritePlaneInHalves(buffers, 0, 0) : WritePlane(buffers, 0, 0);
  if (s != Status::Ok) return s;
  parallelDone_ = true;
  return Status::Ok;
}

Status decoder::RunBands() {
  {
    PlaneBuffers buffers[3];
    if (Threads() >= 2 && DecodeAllPlanesAtOnce(buffers) == Status::Ok) {
      parallelDone_ = true;
      return WriteBands(buffers);
    }
  }
  parallelDone_ = false;
  Status s = init();
  if (s != Status::Ok) return s;
  PlaneBuffers buffers[3];
  s = DecodeAllPlanesInTurn(buffers);
  return s != Status::Ok ? s : WriteBands(buffers);
}

Status decoder::DecodeAllPlanesAtOnce(PlaneBuffers* buffers) {
  std::vector<uint8_t> storage;
  const uint8_t* data = nullptr;
  size_t size = 0;
  if (!in_.Contents(storage, data, size, vxMaxImageBytes())) return Status::Failed;
  if (!header_.IsColour()) return DecodeGreyAtOnce(data, size, buffers[0]);
  size_t starts[4];
  if (!LocateSections(data, size, header_, starts)) return Status::Failed;
  // The luma here, the chroma planes one after the other on a second thread.
  const PlaneLayout chroma = ChromaLayout(luma_);
  uint64_t end[3] = {0, 0, 0};
  int pastEnd = 0;
  auto decode = [&](int p) {
    QuietReports quiet;
    return DecodeColourSection(data, size, starts, p, p == 0 ? luma_ : chroma, buffers[p],
                               &memory_, &end[p], p == 2 ? &pastEnd : nullptr);
  };
  Status chromaStatus = Status::Failed;
  std::thread second([&] {
    chromaStatus = decode(1);
    if (chromaStatus == Status::Ok) chromaStatus = decode(2);
  });
  const Status s = decode(0);
  second.join();
  if (s != Status::Ok || chromaStatus != Status::Ok) return Status::Failed;
  consumed_ = end[2];
  pastEnd_ = pastEnd;
  return Status::Ok;
}

Status decoder::DecodeAllPlanesInTurn(PlaneBuffers* buffers) {
  const bool colour = header_.IsColour();
  const int planes = colour ? 3 : 1;
  const PlaneLayout chroma = ChromaLayout(luma_);
  for (int p = 0; p < planes; ++p) {
    const Status s = DecodePlane(bits_, p, colour, p == 0 ? luma_ : chroma, buffers[p], &memory_);
    if (s != Status::Ok) return s;
    if (p + 1 < planes && !ReadSectionLength(bits_)) return Status::Corrupt;
  }
  consumed_ = bits_.Position();
  return Status::Ok;
}

Status decoder::WriteBands(PlaneBuffers* buffers) {
  const bool colour = header_.IsColour();
  const int planes = colour ? 3 : 1;
  const int64_t height = header_.height;
  // Bands of about a megabyte, which the three planes' passes find in the
  // cache.
  const int64_t bandRows = std::min<int64_t>(
      height, std::max<int64_t>(16, static_cast<int64_t>((size_t{1} << 20) / stride_)));
  std::atomic<int64_t> nextBand{0};
  std::atomic<int> failure{static_cast<int>(Status::Ok)};
  auto writeBands = [&] {
    Buffer<uint8_t> band;
    LastLevelInverse<int8_t> inverse[3];
    RowWriter writers[3];
    bool ready = band.Allocate(static_cast<uint64_t>(bandRows) * stride_, &memory_);
    for (int p = 0; p < planes && ready; ++p) {
      RowWriter& w = writers[p];
      w.destination = band.data();
      w.stride = stride_;
      w.rgb = redFirst_;
      w.width = header_.width;
      w.mode = colour ? p + 1 : 0;
      w.fullRange = fullRangeChroma_;
      ready = inverse[p].Init(buffers[p].quad, header_.width, height, p == 0 ? step_ : 1.5 * step_,
                              &memory_) &&
              w.values.Allocate(header_.width, &memory_) &&
              (w.mode != 3 || (w.luma.Allocate(header_.width, &memory_) &&
                               w.firstChroma.Allocate(header_.width, &memory_)));
    }
    if (!ready) {
      ReportFatal(kMsgWriteAlloc);
      failure = static_cast<int>(Status::NoMemory);
      return;
    }
    for (int64_t first = nextBand.fetch_add(bandRows);
         first < height && failure == static_cast<int>(Status::Ok);
         first = nextBand.fetch_add(bandRows)) {
      const int64_t last = std::min(height, first + bandRows);
      for (int p = 0; p < planes; ++p) {
        writers[p].firstRow = first;
        inverse[p].Run(&RowWriter::Sink, &writers[p], first, last);
      }
      if (!bandSink_(band.data(), first, last - first)) failure = static_cast<int>(Status::Failed);
    }
  };
  if (Threads() >= 2 && height >= 2 * bandRows) {
    std::thread second(writeBands);
    writeBands();
    second.join();
  } else {
    writeBands();
  }
  for (int p = 0; p < planes; ++p) buffers[p].Release();
  return static_cast<Status>(failure.load());
}

Status decoder::init() {
  bits_.Restart();
  if (!in_.Rewind() || !ReadHeader(in_, header_)) {
    bits_.Fail();
    return Status::Corrupt;
  }
  const Header& h = header_;
  const bool colour = h.kind == kKindColour;
  if (h.magic != kMagic || (h.kind != kKindGrey && h.kind != kKindColour) || h.width == 0 ||
      h.height == 0 ||
      (expecting_ &&
       (h.width != expectWidth_ || h.height != expectHeight_ || colour != expectColour_))) {
    ReportFatal(kMsgWrongFormat);
    return Status::Corrupt;
  }
  // Every picture has at least the first level, the one that runs over the
  // rows; a stream that claims none cannot be decoded.
  if (h.levels == 0) {
    ReportFatal(kMsgNoLevels);
    return Status::Corrupt;
  }
  step_ = StepNumerator(h.quality, h.versionMajor, h.versionMinor) / 3.0;
  luma_ = LumaLayout(h.width, h.height, h.levels, h.split);
  stride_ = RowStride(h.width, colour);

  // The header decides the sizes of the buffers: refuse what exceeds the
  // memory ceiling before allocating anything.
  if (!FitsMemoryCeiling(h)) {
    ReportFatal(kMsgExpanse);
    return Status::NoMemory;
  }
  for (int i = kHeaderBytes; i < h.headerLength; ++i) {
    if (in_.Get() < 0) {
      bits_.Fail();
      return Status::Corrupt;
    }
  }
  return ReadSectionLength(bits_) ? Status::Ok : Status::Corrupt;
}

Status decoder::WritePlaneInHalves(PlaneBuffers& buffers, int p, int mode) {
  const int64_t half = header_.height / 2;
  Status lower = Status::Failed;
  std::thread second([&] { lower = WritePlane(buffers, p, mode, half, header_.height); });
  Status s = WritePlane(buffers, p, mode, 0, half);
  second.join();
  buffers.Release();
  return s == Status::Ok ? lower : s;
}

Status decoder::WritePlane(PlaneBuffers& buffers, int p, int mode, int64_t first, int64_t last) {
  LastLevelInverse<int8_t> inverse;
  RowWriter writer;
  writer.destination = destination_;
  writer.stride = stride_;
  writer.rgb = redFirst_;
  writer.width = header_.width;
  writer.mode = mode;
  writer.fullRange = fullRangeChroma_;
  const bool combining = mode == 3;
  if (!inverse.Init(buffers.quad, header_.width, header_.height, p == 0 ? step_ : 1.5 * step_,
                    &memory_) ||
      !writer.values.Allocate(header_.width, &memory_) ||
      (combining && (!writer.luma.Allocate(header_.width, &memory_) ||
                     !writer.firstChroma.Allocate(header_.width, &memory_)))) {
    ReportFatal(kMsgWriteAlloc);
    return Status::NoMemory;
  }
  inverse.Run(&RowWriter::Sink, &writer, first, last);
  if (first == 0 && last < 0) buffers.Release();
  return Status::Ok;
}

}  // namespace wif

namespace wif {

bool LocateSections(const uint8_t* data, size_t size, const Header& header, size_t starts[4]) {
  const int count = header.IsColour() ? 4 : 2;
  size_t pos = header.headerLength;
  for (int i = 0; i < count; ++i) {
    if (pos > size || size - pos < 4) return false;
    const uint32_t length = (static_cast<uint32_t>(data[pos]) << 24) |
                            (static_cast<uint32_t>(data[pos + 1]) << 16) |
                            (static_cast<uint32_t>(data[pos + 2]) << 8) | data[pos + 3];
    if (length < 4 || length > size - pos) return false;
    starts[i] = pos;
    pos += length;
  }
  return true;
}

int ReducedSide(int side, int levels) {
  for (int i = 0; i < levels; ++i) side = (side + 1) >> 1;
  return side;
}

namespace {

// The coarse part of one plane, from the section data just after its length
// field, up to detail level `lastLevel`, into a float plane of the reduced
// layout, inverted down to the low band of that level's size.
Status DecodeCoarsePlane(const uint8_t* data, size_t size, const PlaneLayout& layout,
                         const PlaneLayout& reduced, Buffer<float>& plane, MemoryTracker* memory) {
  ByteSource source(data, size);
  BitReader in(source);
  AdaptiveModel model;
  ArithDecoder coder(in, model);
  const int64_t need = reduced.PlaneSize();
  Buffer<int32_t> lin;
  if (!lin.Allocate(static_cast<uint64_t>(need), memory)) {
    ReportFatal(kMsgExpanse);
    return Status::NoMemory;
  }
  uint32_t magnitude;
  if (!in.ReadBigEndian(2, magnitude)) return Status::Corrupt;
  in.Reset();
  // The block code goes value by value: when it holds more than the reduced
  // plane needs (fine qualities code every coarse level so), the rest of it
  // is left unread.
  Status s = BlockDecode(in, lin.data(), static_cast<size_t>(std::min(layout.ncoarse, need)));
  if (s != Status::Ok) return s;
  lin[0] = RestoreDc(lin[0], magnitude);
  if (layout.ncoarse < need && !in.SkipTerminator()) return Status::Corrupt;
  if (layout.sweeps >= 1 && layout.ncoarse < need) {
    coder.Start();
    int64_t begin = layout.ncoarse;
    for (int r = 1; r <= layout.sweeps && 4 * begin <= need; ++r, begin *= 4) {
      s = DecodeSweep(coder, model, in, lin.data(), begin, 4 * begin);
      if (s != Status::Ok) return s;
    }
  }
  UnpredictLowest(lin.data(), layout.w0, layout.h0);
  if (!plane.Allocate(static_cast<uint64_t>(need), memory)) {
    ReportFatal(kMsgQuadBuf);
    return Status::NoMemory;
  }
  UnscanPlane(lin.data(), reduced, plane.data());
  lin.Release();
  PyramidTransform pyramid;
  if (!pyramid.Init(reduced.pw2, reduced.ph2, memory)) {
    ReportFatal(kMsgWriteAlloc);
    return Status::NoMemory;
  }
  pyramid.Inverse(plane.data(), reduced.levels - 1);
  return Status::Ok;
}

}  // namespace

Status DecodeReduced(const uint8_t* data, size_t size, int levels, uint8_t* destination,
                     uint64_t* peakBytes) {
  if (!data || size < kHeaderBytes) return Status::Corrupt;
  const Header h = ParseHeader(data);
  const bool colour = h.kind == kKindColour;
  if (h.magic != kMagic || (h.kind != kKindGrey && !colour) || h.width == 0 || h.height == 0) {
    ReportFatal(kMsgWrongFormat);
    return Status::Corrupt;
  }
  if (h.levels == 0 || levels < 1 || levels > h.levels) return Status::Corrupt;
  if (!FitsMemoryCeiling(h)) {
    ReportFatal(kMsgExpanse);
    return Status::NoMemory;
  }
  size_t starts[4];
  if (!LocateSections(data, size, h, starts)) {
    Report(kMsgBadInput);
    return Status::Corrupt;
  }
  MemoryTracker memory;
  const PlaneLayout luma = LumaLayout(h.width, h.height, h.levels, h.split);
  const PlaneLayout chroma = ChromaLayout(luma);
  const double step = StepNumerator(h.quality, h.versionMajor, h.versionMinor) / 3.0;
  const int width = ReducedSide(h.width, levels);
  const int height = ReducedSide(h.height, levels);
  const size_t stride = RowStride(width, colour);
  const int planes = colour ? 3 : 1;
  const int sectionOf[3] = {0, 2, 3};
  for (int p = 0; p < planes; ++p) {
    const PlaneLayout& layout = p == 0 ? luma : chroma;
    // The same linear order up to detail level L - levels, as a smaller plane.
    PlaneLayout reduced = layout;
    reduced.pw2 = layout.pw2 >> (levels - 1);
    reduced.ph2 = layout.ph2 >> (levels - 1);
    reduced.levels = layout.levels - levels + 1;
    const size_t start = starts[sectionOf[p]] + 4;
    Buffer<float> plane;
    const Status s = DecodeCoarsePlane(data + start, size - start, layout, reduced, plane, &memory);
    if (s != Status::Ok) return s;
    // The low band of level d holds 2^d / step times the pixel values: the
    // low-pass filters have a gain of sqrt(2) each way, and the first level
    // divided by the step.
    const double scale = (p == 0 ? step : 1.5 * step) / static_cast<double>(1 << levels);
    for (int y = 0; y < height; ++y) {
      const float* row = plane.data() + static_cast<int64_t>(y) * reduced.pw2;
      uint8_t* out = destination + stride * static_cast<size_t>(y);
      for (int x = 0; x < width; ++x) {
        const float v = static_cast<float>(row[x] * scale);
        if (!colour) {
          out[x] = SampleByte(v);
        } else if (p == 0) {
          out[3 * x] = SampleByte(v);
        } else if (p == 1) {
          const int16_t a = static_cast<int16_t>(ChromaValue(v, true));
          std::memcpy(out + 3 * x + 1, &a, sizeof a);
        } else {
          uint8_t* px = out + 3 * x;
          int16_t a;
          std::memcpy(&a, px + 1, sizeof a);
          const int32_t lum = px[0];
          const int32_t b = ChromaValue(v, true);
          px[0] = Clamp(lum + a + b - 256);
          px[1] = Clamp(lum - a + 128);
          px[2] = Clamp(lum - b + 128);
        }
      }
    }
  }
  if (peakBytes) *peakBytes = memory.Peak();
  return Status::Ok;
}

}  // namespace wif
