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
};

}  // namespace wif
