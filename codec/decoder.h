// `decoder`: reads a WIF stream into a pixel buffer, plane by plane in the
// order of the sections, or hands the picture over by bands of rows. For
// colour, each row holds the luma and then the first chroma plane (as signed
// 16-bit values) until the last pass combines the three planes into blue,
// green, red.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "codec/arith_coder.h"
#include "codec/bit_io.h"
#include "codec/buffer.h"
#include "codec/byte_stream.h"
#include "codec/codec_status.h"
#include "codec/wavelet.h"
#include "codec/wif_format.h"

namespace wif {

// False when decoding a picture with this header would need buffers beyond
// the engine's memory ceiling (levels 0 gives false too: nothing to size).
bool FitsMemoryCeiling(const Header& header);

// True when the planes of a picture with this header are decoded at once:
// colour, two threads or more, and a picture small enough that holding all
// three planes' buffers costs less memory than the time they save is worth
// (up to about 8192 x 8192). Larger pictures decode their planes
// one after another and share out only the writing of each plane's rows.
bool DecodesPlanesAtOnce(const Header& header);

// The working buffers of one plane's decoding, each allocated when the
// decoding reaches it and released once used. Usually a plane holds little
// more than its float plane (4 bytes per first-level coefficient): the coarse
// part is decoded inside it, and run/value coded detail planes are kept as
// their nonzero values. Block-coded parts (the finest qualities) go through
// a linear array of the coarse part and three planes of bytes, up to about
// 8 bytes per coefficient.
struct PlaneBuffers {
  Buffer<int32_t> expanse;  // the coarse part as a linear array, pw2 ph2 values
  Buffer<int8_t> details;   // one detail array, saturated to bytes
  QuadBuf quad;
  PyramidTransform pyramid;
  void Release() {
    expanse.Release();
    details.Release();
    quad.Release();
  }
};

// Decodes the coefficients of plane `plane` from `in`, positioned just after
// the plane's (first) section length, into buffers.quad, up to the last
// inverse level: plane 0 reads the length of its detail section between its
// two parts; in a colour stream every plane ends after its terminator. Each
// plane has its own arithmetic decoder, so planes found by their section
// lengths can be decoded apart.
Status DecodePlane(BitReader& in, int plane, bool colour, const PlaneLayout& layout,
                   PlaneBuffers& buffers, MemoryTracker* memory);

// Converts the rows of one plane's last inverse level into the destination.
// Mode 0: grey bytes. Colour rows are built in three passes, each row
// holding meanwhile the luma in its first `width` bytes (mode 1) and the
// first chroma plane as signed 16-bit values (native order) in the next
// 2 `width` bytes (mode 2); mode 3 combines Y, A = the first chroma and B =
// the second into blue = Y + A + B - 256, green = Y - A + 128, red = Y - B +
// 128, each clamped, in place.
struct RowWriter {
  uint8_t* destination = nullptr;  // where row `firstRow` goes
  int64_t firstRow = 0;
  size_t stride = 0;
  bool rgb = false;  // mode 3 writes red, green, blue
  int64_t width = 0;
  int mode = 0;
  bool fullRange = true;
  Buffer<int16_t> values;       // one row's converted samples
  Buffer<uint8_t> luma;         // mode 3: the row's luma and first chroma,
  Buffer<int16_t> firstChroma;  // copied out before the row is overwritten
  static void Sink(void* context, const float* row, int64_t y);
};

// Where the sections of a stream start (their length fields), found by the
// lengths alone: grey streams have 2 sections, colour streams 4. False when a
// length points before the next field or past the end of the stream.
bool LocateSections(const uint8_t* data, size_t size, const Header& header, size_t starts[4]);

// Size of a picture decoded `levels` levels early: each side halved `levels`
// times, rounding up.
int ReducedSide(int side, int levels);

// Decodes a whole WIF stream held in memory at 1/2^levels of its size (1 <=
// levels <= the stream's own levels), stopping the inverse transform early:
// the coarse levels of the pyramid scaled back to pixel values. Only the
// coarse part of each plane is read, up to the last level needed; the
// first-level detail planes are skipped by the section lengths. `destination`
// holds ReducedSide(width) x ReducedSide(height) pixels in buffer rows of
// RowStride bytes, grey or blue-green-red like a full decode.
Status DecodeReduced(const uint8_t* data, size_t size, int levels, uint8_t* destination,
                     uint64_t* peakBytes = nullptr);

class decoder {
 public:
  // `destination` receives the rows in buffer order (coded row r in buffer
  // row r), each RowStride(width, colour) bytes long.
  decoder(ByteSource& in, uint8_t* destination) : in_(in), bits_(in), destination_(destination) {}
  decoder(const decoder&) = delete;
  decoder& operator=(const decoder&) = delete;

  // The picture the caller allocated for: the stream's header must agree.
  void Expect(int width, int height, bool colour) {
    expectWidth_ = width;
    expectHeight_ = height;
    expectColour_ = colour;
    expecting_ = true;
  }
  // Hands the picture over a band of rows at a time instead of writing it
  // into a whole picture's buffer (the constructor's destination is then not
  // used and may be null): sink(rows, first, count) gets coded rows first ..
  // first + count - 1, RowStride(width, colour) bytes apart, grey or
  // blue-green-red (red-green-blue after SetRedFirst), and may change them. Bands come in any order and, with
  // two threads, from both at once. All the planes are held meanwhile. A sink
  // that returns false stops the decoding, which then gives Failed.
  using BandSink = std::function<bool(uint8_t* rows, int64_t first, int64_t count)>;
  void SetBandOutput(BandSink sink) { bandSink_ = std::move(sink); }
  // Colour pixels in red-green-blue order instead.
  void SetRedFirst(bool on) { redFirst_ = on; }
  // Chroma is kept at full range until the planes are combined (the default);
  // false passes each chroma plane through a byte first, as older decoders
  // did, which shifts the hue of strongly saturated colours.
  void SetFullRangeChroma(bool on) { fullRangeChroma_ = on; }

  // Rewinds the stream and decodes it. Corrupt for anything that is not a
  // valid WIF stream, NoMemory when the buffers would exceed the memory
  // ceiling or cannot be allocated. With more than one thread (SetThreads)
  // the planes of a colour stream are decoded at once (DecodesPlanesAtOnce), found by their
  // section lengths; when a length disagrees with the data, or anything else
  // goes wrong there, the planes are decoded again one after another, which
  // finds its way by the terminators alone.
  Status Run();

  const Header& header() const { return header_; }
  // Bytes of the stream consumed by the decoding.
  uint64_t BytesConsumed() const { return consumed_; }
  uint64_t PeakBytes() const { return memory_.Peak(); }
  // Bytes the bit reader asked for beyond the end of the stream.
  int ReadsPastEnd() const { return parallelDone_ ? pastEnd_ : bits_.readsPastEnd(); }
  // True when the last Run held all three planes at once and wrote the
  // picture by bands of rows on both threads.
  bool WroteByBands() const { return byBands_; }

 private:
  Status init();
  Status RunSequential();
  // Ok when every plane was decoded at once; anything else sends the caller
  // to the sequential path.
  Status RunParallel(const uint8_t* data, size_t size);
  // A grey stream in memory, its coarse part and its details decoded at once.
  Status RunGreyParallel(const uint8_t* data, size_t size);
  // The grey plane of a stream in memory into `buffers`, its coarse part and
  // its details decoded at once.
  Status DecodeGreyAtOnce(const uint8_t* data, size_t size, PlaneBuffers& buffers);
  // The picture through the band sink: every plane decoded, then written by
  // bands.
  Status RunBands();
  // Every plane into buffers[0 .. planes): at once on two threads from the
  // stream in memory (Ok only when everything went well), or one after
  // another.
  Status DecodeAllPlanesAtOnce(PlaneBuffers* buffers);
  Status DecodeAllPlanesInTurn(PlaneBuffers* buffers);
  // The decoded planes' last inverse level, band by band, to the band sink.
  Status WriteBands(PlaneBuffers* buffers);
  // The last inverse level of a decoded plane, written in `mode`, rows first
  // .. last - 1 (all when last < 0); the buffers are released after a whole
  // plane.
  Status WritePlane(PlaneBuffers& buffers, int plane, int mode, int64_t first = 0,
                    int64_t last = -1);
  // WritePlane on two threads, each taking half of the rows; the buffers
  // are released after.
  Status WritePlaneInHalves(PlaneBuffers& buffers, int plane, int mode);

  ByteSource& in_;
  BitReader bits_;
  uint8_t* destination_;
  MemoryTracker memory_;
  Header header_;
  PlaneLayout luma_;
  double step_ = 1.0;
  size_t stride_ = 0;
  bool fullRangeChroma_ = true;
  bool expecting_ = false;
  int expectWidth_ = 0;
  int expectHeight_ = 0;
  bool expectColour_ = false;
  uint64_t consumed_ = 0;
  bool parallelDone_ = false;
  bool byBands_ = false;
  int pastEnd_ = 0;
  BandSink bandSink_;
  bool redFirst_ = false;
};

}  // namespace wif
