#include "codec/compress.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <optional>
#include <thread>

#include "codec/block_coder.h"
#include "codec/kernels.h"
#include "codec/run_value.h"
#include "codec/scan.h"
#include "codec/wavelet_kernels.h"

namespace wif {

namespace {

// The largest first-level buffer set of one plane for which all three colour
// planes are held at once: up to pictures of about 8192 x 8192.
constexpr uint64_t kThreePlaneQuadBytes = uint64_t{128} << 20;

// The bands of row pairs plane 2's first level is made in, shared between the
// threads.
constexpr int kFirstLevelBands = 8;

// Asks for the `bytes` at `p` to be brought into the cache: the next row of
// the picture, fetched while the transform works on this one (a picture read
// in place from a file is not in the cache, and each plane reads it anew).
void Prefetch(const uint8_t* p, size_t bytes) {
  for (size_t offset = 0; offset < bytes; offset += 64) __builtin_prefetch(p + offset);
}

}  // namespace

size_t RowStride(int64_t width, bool colour) {
  const uint64_t bytes = static_cast<uint64_t>(width) * (colour ? 3 : 1);
  return static_cast<size_t>((bytes + 3) / 4 * 4);
}

Status Compress::Run(const EncodeRequest& request) {
  Status s = init(request);
  if (s != Status::Ok) return s;
  if (!request.colour) {
    QuadBuf quad;
    PlaneScratch scratch;
    if (!quad.Allocate(luma_.pw2, luma_.ph2, &memory_)) {
      ReportFatal(kMsgQuadBuf);
      return Status::NoMemory;
    }
    if (!scratch.Init(luma_, &memory_)) {
      ReportFatal(kMsgCompressInit);
      return Status::NoMemory;
    }
    s = read(request, quad);
    if (s == Status::Ok) {
      s = Threads() >= 2 ? EncodeGreyPlaneAtOnce(out_, quad, luma_, scratch)
                         : EncodePlane(out_, quad, luma_, 0, scratch);
    }
  } else if (Threads() < 2) {
    ByteSink* const sinks[3] = {&out_, &out_, &out_};
    s = EncodeColourPlanes(request, 0, 3, sinks);
  } else {
    ByteSink sinks[3];
    s = EncodeColourPlanesAtOnce(request, sinks);
    for (int p = 0; p < 3 && s == Status::Ok; ++p) {
      out_.PutBytes(sinks[p].bytes().data(), sinks[p].bytes().size());
    }
  }
  if (s == Status::Ok && out_.failed()) s = Status::Failed;
  return s;
}

Status Compress::EncodeColourPlanesAtOnce(const EncodeRequest& r, ByteSink sinks[3]) {
  const int64_t ph2 = luma_.ph2;
  const uint64_t quadBytes = static_cast<uint64_t>(luma_.pw2) * static_cast<uint64_t>(ph2) *
                             (sizeof(float) + 3 * sizeof(int8_t));
  if (quadBytes > kThreePlaneQuadBytes) {
    // Large pictures keep to two planes' buffers at a time: the chroma
    // planes one after the other on a second thread, the luma here.
    ByteSink* const own[3] = {&sinks[0], &sinks[1], &sinks[2]};
    Status chroma = Status::Failed;
    std::thread second([&] { chroma = EncodeColourPlanes(r, 1, 3, own); });
    const Status s = EncodeColourPlanes(r, 0, 1, own);
    second.join();
    return s != Status::Ok ? s : chroma;
  }
  // A plane's first level can be shared out by bands of row pairs, and the
  // luma's detail section (a stream of its own) can be coded by either
  // thread. Here: the luma's first level, bands of plane 2's, the luma's
  // coarse section. On the second thread: plane 1's first level and coding,
  // any bands of plane 2 still left, then, once every band is made, plane
  // 2's coding. Whichever thread is free first then codes the luma's
  // details, so that the two finish close together whichever planes cost
  // more. (A photograph's chroma planes together cost more to code than its
  // luma, so the luma's thread makes most of plane 2.)
  QuadBuf quads[3];
  for (QuadBuf& quad : quads) {
    if (!quad.Allocate(luma_.pw2, ph2, &memory_)) {
      ReportFatal(kMsgQuadBuf);
      return Status::NoMemory;
    }
  }
  const int bands = ph2 >= 16 * kFirstLevelBands ? kFirstLevelBands : 1;
  std::atomic<int> nextBand{0};
  std::atomic<int> bandsMade{0};
  std::atomic<bool> bandFailed{false};
  std::promise<void> allBands;
  std::future<void> allBandsMade = allBands.get_future();
  auto makeBands = [&] {
    for (int band = nextBand++; band < bands; band = nextBand++) {
      const int64_t first = ph2 * band / bands;
      const int64_t last = ph2 * (band + 1) / bands;
      if (FirstLevelColour(r, 2, quads[2], first, last) != Status::Ok) bandFailed = true;
      if (++bandsMade == bands) allBands.set_value();
    }
  };
  // Each thread codes its planes through one scratch set; a plane's buffers
  // are released once it is coded.
  PlaneScratch scratch[2];
  for (PlaneScratch& set : scratch) {
    if (!set.Init(luma_, &memory_)) {
      ReportFatal(kMsgCompressInit);
      return Status::NoMemory;
    }
  }
  Status lumaFirstLevel = Status::Failed;
  std::promise<void> lumaReady;
  std::shared_future<void> lumaFirstLevelMade = lumaReady.get_future().share();
  ByteSink lumaDetails;
  Status details = Status::Ok;
  std::atomic<bool> detailsTaken{false};
  // The luma's details, on the calling thread (its own coding is done),
  // unless the other thread has taken them.
  auto lumaDetailsIfLeft = [&] {
    if (detailsTaken.exchange(true)) return;
    lumaFirstLevelMade.wait();
    if (lumaFirstLevel == Status::Ok) details = EncodeLumaDetails(lumaDetails, quads[0], luma_);
  };
  Status chroma = Status::Failed;
  std::thread second([&] {
    Status s = FirstLevelColour(r, 1, quads[1], 0, ph2);
    if (s == Status::Ok) s = CodePlane(quads[1], 1, sinks[1], scratch[1]);
    quads[1].Release();
    makeBands();
    allBandsMade.wait();
    if (s == Status::Ok && bandFailed) s = Status::NoMemory;
    if (s == Status::Ok) s = CodePlane(quads[2], 2, sinks[2], scratch[1]);
    quads[2].Release();
    lumaDetailsIfLeft();
    chroma = s;
  });
  lumaFirstLevel = FirstLevelColour(r, 0, quads[0], 0, ph2);
  lumaReady.set_value();
  makeBands();
  Status s = lumaFirstLevel;
  if (s == Status::Ok) s = EncodeLumaCoarse(sinks[0], quads[0], luma_, scratch[0]);
  lumaDetailsIfLeft();
  second.join();
  quads[0].Release();
  if (s == Status::Ok) s = details;
  if (s == Status::Ok) sinks[0].PutBytes(lumaDetails.bytes().data(), lumaDetails.bytes().size());
  return s != Status::Ok ? s : chroma;
}

Status Compress::init(const EncodeRequest& r) {
  if (!r.pixels || r.width < 1 || r.height < 1 || r.width > kMaxSide || r.height > kMaxSide ||
      r.quality < kMinQuality || r.quality > kMaxQuality || r.levels < 0 ||
      r.levels > kMaxWriterLevels || r.split > 15) {
    return Status::Failed;
  }
  const int levels = r.levels > 0 ? r.levels : AutomaticLevels(r.width, r.height);
  const int split = r.split > 0 ? r.split : AutomaticSplit(r.quality, levels);

  header_ = Header{};
  header_.kind = r.colour ? kKindColour : kKindGrey;
  header_.width = static_cast<uint16_t>(r.width);
  header_.height = static_cast<uint16_t>(r.height);
  header_.levels = static_cast<uint8_t>(levels);
  header_.split = static_cast<uint8_t>(split);
  header_.quality = static_cast<uint8_t>(r.quality);
  WriteHeaderAndSignature(out_, header_);

  luma_ = LumaLayout(r.width, r.height, levels, split);
  step_ = static_cast<float>(StepNumerator(r.quality, kVersionMajor, kVersionMinor) / 3.0);
  return Status::Ok;
}

// First level of a grey picture, row by row.
Status Compress::read(const EncodeRequest& r, QuadBuf& quad) {
  // With two threads the upper and the lower half of the row pairs are made
  // at once, each from the rows it needs.
  const int64_t ph2 = luma_.ph2;
  const int64_t half = Threads() >= 2 && ph2 >= 16 ? ph2 / 2 : ph2;
  Status lower = Status::Ok;
  std::thread second;
  if (half < ph2) second = std::thread([&] { lower = FirstLevelGrey(r, quad, half, ph2); });
  const Status s = FirstLevelGrey(r, quad, 0, half);
  if (second.joinable()) second.join();
  return s != Status::Ok ? s : lower;
}

Status Compress::FirstLevelGrey(const EncodeRequest& r, QuadBuf& quad, int64_t first,
                                int64_t last) {
  FirstLevelForward<int8_t> forward;
  if (!forward.Init(r.width, r.height, step_, quad, &memory_)) {
    ReportFatal(kMsgReadAlloc);
    return Status::NoMemory;
  }
  forward.SetPairRange(first, last);
  const int64_t end = std::min<int64_t>(r.height, forward.EndRow());
  float* dst = forward.RowSlot();
  for (int64_t y = forward.FirstRow(); y < end; ++y) {
    const uint8_t* src = Row(r, y);
    if (y + 1 < end) Prefetch(Row(r, y + 1), static_cast<size_t>(r.width));
    if (r.greyMap) {
      for (int x = 0; x < r.width; ++x) dst[x] = r.greyMap[src[x]];
    } else {
      for (int x = 0; x < r.width; ++x) dst[x] = src[x];
    }
    forward.PushRow(dst);
  }
  forward.Finish();
  return Status::Ok;
}

// First level of a colour plane: each pixel's bytes c0, c1, c2 (blue, green,
// red) become Y = (c0 + c1 + c2) / 3, C1 = Y - c1 and C2 = Y - c2, all in
// float, so that Y + C1 + C2 gives c0 back up to the rounding of Y (some 1e-5
// of a level). The chroma planes use 1.5 times the luma step. Then the plane
// is coded; its buffers are released before the call returns.
Status Compress::EncodeColourPlanes(const EncodeRequest& r, int first, int last,
                                    ByteSink* const sinks[3]) {
  // Every value of both sets is written before it is read, so the planes
  // after the first reuse them as they are: the pages are already the
  // process's (a fresh page costs the system a clearing).
  QuadBuf quad;
  PlaneScratch scratch;
  if (!quad.Allocate(luma_.pw2, luma_.ph2, &memory_)) {
    ReportFatal(kMsgQuadBuf);
    return Status::NoMemory;
  }
  if (!scratch.Init(luma_, &memory_)) {
    ReportFatal(kMsgCompressInit);
    return Status::NoMemory;
  }
  Status s = Status::Ok;
  for (int p = first; p < last && s == Status::Ok; ++p) {
    s = FirstLevelColour(r, p, quad, 0, luma_.ph2);
    if (s == Status::Ok) s = CodePlane(quad, p, *sinks[p], scratch);
  }
  return s;
}

Status Compress::FirstLevelColour(const EncodeRequest& r, int p, QuadBuf& quad, int64_t first,
                                  int64_t last) {
  if (first >= last) return Status::Ok;
  FirstLevelForward<int8_t> forward;
  if (!forward.Init(r.width, r.height, p == 0 ? step_ : 1.5f * step_, quad, &memory_)) {
    ReportFatal(kMsgReadColorAlloc);
    return Status::NoMemory;
  }
  forward.SetPairRange(first, last);
  // Each row is made where the transform takes it.
  float* dst = forward.RowSlot();
  const int64_t end = std::min<int64_t>(r.height, forward.EndRow());
  const WaveletKernels& kernels = ActiveKernels();
  // The byte plane p subtracts from the luma: green, or red (the first byte
  // of red-green-blue pixels, the last of blue-green-red ones).
  const int own = p == 0 ? -1 : p == 1 ? 1 : r.rgb ? 0 : 2;
  const size_t rowBytes = 3 * static_cast<size_t>(r.width);
  for (int64_t y = forward.FirstRow(); y < end; ++y) {
    kernels.colourPlane(Row(r, y), dst, static_cast<size_t>(r.width), own);
    if (y + 1 < end) Prefetch(Row(r, y + 1), rowBytes);
    forward.PushRow(dst);
  }
  forward.Finish();
  return Status::Ok;
}

const uint8_t* Compress::Row(const EncodeRequest& r, int64_t y) {
  const ptrdiff_t stride =
      r.stride != 0 ? r.stride : static_cast<ptrdiff_t>(RowStride(r.width, r.colour));
  return r.pixels + stride * static_cast<ptrdiff_t>(y);
}

Status Compress::CodePlane(QuadBuf& quad, int p, ByteSink& out, PlaneScratch& scratch) {
  const PlaneLayout layout = p == 0 ? luma_ : ChromaLayout(luma_);
  return EncodePlane(out, quad, layout, p, scratch);
}

namespace {

uint64_t StartSection(ByteSink& out) {
  const uint64_t field = out.Position();
  out.PutBigEndian32(0);
  return field;
}

// Patches the length field: the bytes from the field itself to here.
bool EndSection(ByteSink& out, uint64_t lengthField) {
  const uint64_t length = out.Position() - lengthField;
  if (length > 0xFFFFFFFFull) return false;
  out.Patch32(lengthField, static_cast<uint32_t>(length));
  return !out.failed();
}

}  // namespace

namespace {

// The arithmetic coder's sweeps of the coarse part's finer levels, one
// per level.
class LevelSweeps final : public LevelSink {
 public:
  LevelSweeps(ArithEncoder& coder, AdaptiveModel& model) : coder_(coder), model_(model) {}
  void BeginLevel(int) override {
    if (sweep_) sweep_->Finish();
    sweep_.emplace(coder_, model_);
  }
  void Values(const int32_t* values, int64_t count) override { sweep_->Values(values, count); }
  void Zeros(int64_t count) override { sweep_->Zeros(count); }
  void Finish() {
    if (sweep_) sweep_->Finish();
    sweep_.reset();
  }

 private:
  ArithEncoder& coder_;
  AdaptiveModel& model_;
  std::optional<SweepEncoder> sweep_;
};

// The coarse part of plane p: the further levels, the block-coded lowest
// levels and the arithmetic-coded finer ones, each coded as it is scanned.
// Plane 0 ends its section and its stream here; a chroma plane's arithmetic
// stream stays open into its details when it has one (`streamOpen`).
Status EncodeCoarsePart(ByteSink& out, BitWriter& bits, ArithEncoder& coder, AdaptiveModel& model,
                        QuadBuf& quad, const PlaneLayout& layout, int p, PlaneScratch& scratch,
                        uint64_t section, bool& streamOpen) {
  const float* plane = quad.low.data();
  scratch.pyramid.Forward(quad.low.data(), layout.levels - 1);
  int32_t* lowest = scratch.lowest.data();
  QuantizeLowest(plane, layout, lowest);
  const int32_t c0 = lowest[0];
  out.PutBigEndian16(DcMagnitude(c0));
  PredictLowest(lowest, layout.w0, layout.h0);
  lowest[0] = DcSign(c0);
  bits.Reset();
  BlockStream blocks(bits);
  blocks.Values(lowest, layout.w0 * layout.h0);
  QuantizeCoarseLevels(plane, layout, blocks);
  blocks.Finish();
  bits.Terminate();

  streamOpen = false;
  if (layout.sweeps >= 1) {
    coder.Start();
    LevelSweeps sweeps(coder, model);
    QuantizeFine(plane, layout, sweeps);
    sweeps.Finish();
    if (p == 0) {
      coder.Finish();
      bits.Terminate();
    } else {
      streamOpen = true;
    }
  }
  if (p == 0 && !EndSection(out, section)) return Status::Failed;
  return Status::Ok;
}

// The three first-level detail planes of plane p, ending the plane's (last)
// section, each coded as it is scanned, without an array between.
Status EncodeDetailPart(ByteSink& out, BitWriter& bits, ArithEncoder& coder, AdaptiveModel& model,
                        QuadBuf& quad, const PlaneLayout& layout, int p, uint64_t section,
                        bool streamOpen) {
  const int8_t* details[3] = {quad.hl.data(), quad.lh.data(), quad.hh.data()};
  const Band bands[3] = {Band::HL, Band::LH, Band::HH};
  if (layout.DetailBlockCoded()) {
    bits.Reset();
    for (int b = 0; b < 3; ++b) {
      BlockStream blocks(bits);
      ScanDetailPlane(details[b], layout, bands[b], false, blocks);
      blocks.Finish();
    }
  } else {
    if (p == 0 || layout.split == layout.levels - 1 || !streamOpen) coder.Start();
    for (int b = 0; b < 3; ++b) {
      SweepEncoder sweep(coder, model);
      ScanDetailPlane(details[b], layout, bands[b], true, sweep);
      sweep.Finish();
    }
    coder.Finish();
  }
  bits.Terminate();
  if (!EndSection(out, section)) return Status::Failed;
  return out.failed() ? Status::Failed : Status::Ok;
}

}  // namespace

// Plane 0 fills two sections (coarse part, then detail planes); each chroma
// plane fills one. The chroma planes keep one arithmetic stream from their
// coarse part into their detail part.
Status EncodePlane(ByteSink& out, QuadBuf& quad, const PlaneLayout& layout, int p,
                   PlaneScratch& scratch) {
  BitWriter bits(out);
  AdaptiveModel model;
  ArithEncoder coder(bits, model);
  uint64_t section = StartSection(out);
  bool streamOpen = false;
  const Status s =
      EncodeCoarsePart(out, bits, coder, model, quad, layout, p, scratch, section, streamOpen);
  if (s != Status::Ok) return s;
  if (p == 0) section = StartSection(out);
  return EncodeDetailPart(out, bits, coder, model, quad, layout, p, section, streamOpen);
}

Status EncodeLumaCoarse(ByteSink& out, QuadBuf& quad, const PlaneLayout& layout,
                        PlaneScratch& scratch) {
  BitWriter bits(out);
  AdaptiveModel model;
  ArithEncoder coder(bits, model);
  bool streamOpen = false;
  return EncodeCoarsePart(out, bits, coder, model, quad, layout, 0, scratch, StartSection(out),
                          streamOpen);
}

Status EncodeLumaDetails(ByteSink& out, QuadBuf& quad, const PlaneLayout& layout) {
  BitWriter bits(out);
  AdaptiveModel model;
  ArithEncoder coder(bits, model);
  return EncodeDetailPart(out, bits, coder, model, quad, layout, 0, StartSection(out), false);
}

Status EncodeGreyPlaneAtOnce(ByteSink& out, QuadBuf& quad, const PlaneLayout& layout,
                             PlaneScratch& scratch) {
  // The detail planes have a section and a stream of their own: they are
  // scanned and coded into memory on a second thread while the coarse part
  // is coded here.
  ByteSink detailSink;
  Status details = Status::Failed;
  std::thread second([&] { details = EncodeLumaDetails(detailSink, quad, layout); });
  const Status s = EncodeLumaCoarse(out, quad, layout, scratch);
  second.join();
  if (s != Status::Ok) return s;
  if (details != Status::Ok) return details;
  out.PutBytes(detailSink.bytes().data(), detailSink.bytes().size());
  return out.failed() ? Status::Failed : Status::Ok;
}

}  // namespace wif
