// The WIF file header and the values that the encoder and the decoder both
// derive from it. The byte layout is described in codec/FORMAT.md.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/codec_status.h"

namespace wif {

class ByteSink;
class ByteSource;

inline constexpr int kHeaderBytes = 14;
inline constexpr char kSignature[] = "VX,Mar 5,1997";
inline constexpr int kSignatureBytes = 13;
inline constexpr uint8_t kMagic = 'W';
inline constexpr uint8_t kKindGrey = '5';
inline constexpr uint8_t kKindColour = '6';
inline constexpr int kVersionMajor = 4;
inline constexpr int kVersionMinor = 3;
inline constexpr int kMaxSide = 65535;
inline constexpr int kMaxWriterLevels = 8;
inline constexpr int kMinQuality = 1;
inline constexpr int kMaxQuality = 255;

struct Header {
  uint8_t magic = kMagic;
  uint8_t kind = kKindGrey;
  uint8_t versionMajor = kVersionMajor;
  uint8_t versionMinor = kVersionMinor;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t split = 0;   // high nibble of the levels byte
  uint8_t levels = 0;  // low nibble
  uint8_t quality = 0;
  uint16_t headerLength = kHeaderBytes + kSignatureBytes;

  bool IsColour() const { return kind == kKindColour; }
};

// Parses the 14 header bytes (no validation beyond the byte layout).
Header ParseHeader(const uint8_t bytes[kHeaderBytes]);
void SerializeHeader(const Header& header, uint8_t bytes[kHeaderBytes]);
// Reads the 14 header bytes from the source's current position; false when
// the source ends first.
bool ReadHeader(ByteSource& in, Header& header);
// Writes the header followed by the signature text.
void WriteHeaderAndSignature(ByteSink& out, const Header& header);

// Files older than version 3.7 divide the quality by 3 for the step; every
// later file (and every file we write) uses (quality + 2) / 3.
bool UsesOldStepRule(int major, int minor);
// The quality number that the step rule divides by 3 (q or q + 2).
int StepNumerator(int quality, int major, int minor);

// Number of transform levels chosen for a width x height image: count the
// halvings of the smaller side while it is at least 16, one level fewer above
// 6, at most 8. Images smaller than 16 pixels get one level, never 0:
// the first level is the one that runs while rows are read, so a picture
// always needs it.
int AutomaticLevels(int width, int height);
// Detail split chosen from the quality: the number of detail levels, counted
// from the coarse end, that the block coder handles along with the lowest band.
int AutomaticSplit(int quality, int levels);

// ceil(n / 2^levels) * 2^levels / 2: half the padded size, by repeated
// rounding-up halvings.
int64_t PaddedHalf(int64_t n, int levels);

// The geometry of one plane as both coders see it.
struct PlaneLayout {
  int levels = 0;       // L
  int split = 0;        // this plane's split (the chroma planes use a lower one)
  int64_t pw2 = 0;      // half sizes of the padded image
  int64_t ph2 = 0;
  int64_t w0 = 0;       // lowest band
  int64_t h0 = 0;
  int64_t ncoarse = 0;  // values coded by the block coder in the coarse part
  int sweeps = 0;       // further levels coded arithmetically in the coarse part

  int64_t PlaneSize() const { return pw2 * ph2; }
  // True when the three first-level detail planes are block coded.
  bool DetailBlockCoded() const { return split >= levels; }
};

// Layout of plane 0 (grey or luma). `split` and `levels` as in the header.
PlaneLayout LumaLayout(int64_t width, int64_t height, int levels, int split);
// Layout of the chroma planes: the split one level lower, and the coarse part
// a quarter as large when the split was 1 .. L - 1.
PlaneLayout ChromaLayout(const PlaneLayout& luma);

// Size in bytes of one codec buffer set: the float plane, the three detail
// byte planes and the linear array, for a padded half size of pw2 x ph2.
uint64_t PlaneBufferBytes(int64_t pw2, int64_t ph2);

}  // namespace wif
