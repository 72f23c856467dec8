// `Compress`: the WIF encoder.
//
// One call turns an 8-bit grey or 24-bit colour pixel buffer into a WIF
// stream: header and signature, then for each colour plane its coarse part
// (block coded, with arithmetic-coded further levels at the coarser
// qualities) and its first-level detail planes, each section behind a length
// that is patched in once the section is complete.
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

struct EncodeRequest {
  // Coded row 0, the first of the rows in buffer order: blue, green, red
  // bytes for colour (red, green, blue when `rgb`).
  const uint8_t* pixels = nullptr;
  // Bytes from one coded row to the next; negative when the rows go up in
  // memory (a file's top-down rows coded from the bottom). 0: RowStride of
  // the width, each row padded to a multiple of 4 bytes.
  ptrdiff_t stride = 0;
  bool rgb = false;
  bool colour = false;
  int width = 0;
  int height = 0;
  int quality = 50;  // 1 .. 255, small is better
  int levels = 0;    // 1 .. 8, or 0 for the automatic choice
  int split = 0;     // detail split; 0 or less for the automatic choice
  // For grey pictures: the grey level of each byte value (a palette's red
  // column), or null when the bytes are grey levels already.
  const uint8_t* greyMap = nullptr;
};

// Bytes per row of a buffer `width` pixels wide.
size_t RowStride(int64_t width, bool colour);

// The working buffers of one plane's coding. The coefficients go to the
// coders as they are scanned; only the lowest band, predicted from its
// neighbours before it is coded, is held.
struct PlaneScratch {
  Buffer<int32_t> lowest;  // the lowest band, w0 h0 values
  PyramidTransform pyramid;
  bool Init(const PlaneLayout& layout, MemoryTracker* tracker) {
    return lowest.Allocate(static_cast<uint64_t>(layout.w0 * layout.h0), tracker) &&
           pyramid.Init(layout.pw2, layout.ph2, tracker);
  }
};

// Codes plane `plane` (0 grey or luma, 1 and 2 chroma) of a QuadBuf that has
// been through the first level: plane 0 writes sections 1 and 2, a chroma
// plane one section. Each plane has its own coders, so planes can be coded
// into separate sinks and the sections joined in order.
Status EncodePlane(ByteSink& out, QuadBuf& quad, const PlaneLayout& layout, int plane,
                   PlaneScratch& scratch);
// The two sections of plane 0 (grey or luma) apart, each with coders of its
// own, so that they can be coded at once into separate sinks: its coarse
// section, and its detail section.
Status EncodeLumaCoarse(ByteSink& out, QuadBuf& quad, const PlaneLayout& layout,
                        PlaneScratch& scratch);
Status EncodeLumaDetails(ByteSink& out, QuadBuf& quad, const PlaneLayout& layout);
// EncodePlane of a grey picture's plane, its detail section coded on a second
// thread: the same bytes.
Status EncodeGreyPlaneAtOnce(ByteSink& out, QuadBuf& quad, const PlaneLayout& layout,
                             PlaneScratch& scratch);

class Compress {
 public:
  explicit Compress(ByteSink& out) : out_(out) {}
  Compress(const Compress&) = delete;
  Compress& operator=(const Compress&) = delete;

  // Encodes the picture. Failed for arguments outside the format's bounds or
  // when the output failed; NoMemory when a buffer could not be allocated.
  // With more than one thread (SetThreads) the planes of a colour picture are
  // transformed and coded at once, each into memory, and their sections
  // written in order: the bytes are the same.
  Status Run(const EncodeRequest& request);

  // Largest number of bytes the codec's buffers held at once.
  uint64_t PeakBytes() const { return memory_.Peak(); }
  const Header& header() const { return header_; }

 private:
  Status init(const EncodeRequest& request);
  // The first level of a grey picture, row by row, into `quad`.
  Status read(const EncodeRequest& request, QuadBuf& quad);
  // Output row pairs first .. last - 1 of a grey picture's first level.
  Status FirstLevelGrey(const EncodeRequest& request, QuadBuf& quad, int64_t first, int64_t last);
  // The first level and the coding of colour planes first .. last - 1, one
  // after the other through one set of buffers, plane p into *sinks[p]: its
  // own rows of Y = (c0 + c1 + c2) / 3, C1 = Y - c1 or C2 = Y - c2.
  Status EncodeColourPlanes(const EncodeRequest& request, int first, int last,
                            ByteSink* const sinks[3]);
  // The first level of colour plane `plane`, output row pairs first .. last -
  // 1, into `quad` (allocated by the caller).
  Status FirstLevelColour(const EncodeRequest& request, int plane, QuadBuf& quad, int64_t first,
                          int64_t last);
  // The further levels and the coding of a plane whose first level is done.
  Status CodePlane(QuadBuf& quad, int plane, ByteSink& out, PlaneScratch& scratch);
  // Where coded row y starts.
  static const uint8_t* Row(const EncodeRequest& request, int64_t y);
  // The three colour planes on two threads, each plane into its own sink.
  Status EncodeColourPlanesAtOnce(const EncodeRequest& request, ByteSink sinks[3]);

  ByteSink& out_;
  MemoryTracker memory_;
  Header header_;
  PlaneLayout luma_;
  float step_ = 1.0f;
};

}  // namespace wif
