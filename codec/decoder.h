// `decoder`: reads a WIF stream into a pixel buffer, plane by plane in the
// order of the sections. For colour, the luma goes into byte 0 of every
// pixel, the first chroma plane waits as a signed 16-bit value in bytes 1 and
// 2, and the last pass combines the three planes into blue, green, red.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The working buffers of one plane's decoding.
struct PlaneBuffers {
  Buffer<int32_t> expanse;  // the plane as a linear array, pw2 ph2 values
  QuadBuf quad;
  PyramidTransform pyramid;
};

// Decodes the coefficients of plane `plane` from `in`, positioned just after
// the plane's (first) section length, into buffers.quad, up to the last
// inverse level: plane 0 reads the length of its detail section between its
// two parts; in a colour stream every plane ends after its terminator. Each
// plane has its own arithmetic decoder, so planes found by their section
// lengths can be decoded apart.
Status DecodePlane(BitReader& in, int plane, bool colour, const PlaneLayout& layout,
                   PlaneBuffers& buffers);

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
  // Chroma is kept at full range until the planes are combined (the default);
  // false passes each chroma plane through a byte first, as older decoders
  // did, which shifts the hue of strongly saturated colours.
  void SetFullRangeChroma(bool on) { fullRangeChroma_ = on; }

  // Rewinds the stream and decodes it. Corrupt for anything that is not a
  // valid WIF stream, NoMemory when the buffers would exceed the memory
  // ceiling or cannot be allocated.
  Status Run();

  const Header& header() const { return header_; }
  // Bytes of the stream consumed by the decoding.
  uint64_t BytesConsumed() const { return consumed_; }
  uint64_t PeakBytes() const { return memory_.Peak(); }
  // Bytes the bit reader asked for beyond the end of the stream.
  int ReadsPastEnd() const { return bits_.readsPastEnd(); }

 private:
  Status init();
  void write(int plane, int mode);
  static void OutputRow(void* context, const float* row, int64_t y);

  ByteSource& in_;
  BitReader bits_;
  uint8_t* destination_;
  MemoryTracker memory_;
  Header header_;
  PlaneLayout luma_;
  double step_ = 1.0;
  size_t stride_ = 0;
  int mode_ = 0;
  bool fullRangeChroma_ = true;
  bool expecting_ = false;
  int expectWidth_ = 0;
  int expectHeight_ = 0;
  bool expectColour_ = false;
  uint64_t consumed_ = 0;
  PlaneBuffers plane_;  // one set, reused for each plane
  LastLevelInverse<int8_t> last_;
  Buffer<int16_t> rowValues_;  // one output row's converted samples
};

}  // namespace wif
