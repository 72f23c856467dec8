#include "codec/wif_format.h"

#include <algorithm>

#include "codec/byte_stream.h"

namespace wif {

Header ParseHeader(const uint8_t b[kHeaderBytes]) {
  Header h;
  h.magic = b[0];
  h.kind = b[1];
  h.versionMajor = b[2];
  h.versionMinor = b[3];
  h.width = static_cast<uint16_t>((b[4] << 8) | b[5]);
  h.height = static_cast<uint16_t>((b[6] << 8) | b[7]);
  h.split = static_cast<uint8_t>(b[8] >> 4);
  h.levels = static_cast<uint8_t>(b[8] & 0x0F);
  h.quality = b[9];
  h.headerLength = static_cast<uint16_t>((b[10] << 8) | b[11]);
  return h;
}

void SerializeHeader(const Header& h, uint8_t b[kHeaderBytes]) {
  b[0] = h.magic;
  b[1] = h.kind;
  b[2] = h.versionMajor;
  b[3] = h.versionMinor;
  b[4] = static_cast<uint8_t>(h.width >> 8);
  b[5] = static_cast<uint8_t>(h.width);
  b[6] = static_cast<uint8_t>(h.height >> 8);
  b[7] = static_cast<uint8_t>(h.height);
  b[8] = static_cast<uint8_t>(((h.split & 0x0F) << 4) | (h.levels & 0x0F));
  b[9] = h.quality;
  b[10] = static_cast<uint8_t>(h.headerLength >> 8);
  b[11] = static_cast<uint8_t>(h.headerLength);
  b[12] = 0;
  b[13] = 0;
}

bool ReadHeader(ByteSource& in, Header& header) {
  uint8_t bytes[kHeaderBytes];
  for (uint8_t& b : bytes) {
    const int c = in.Get();
    if (c < 0) return false;
    b = static_cast<uint8_t>(c);
  }
  header = ParseHeader(bytes);
  return true;
}

void WriteHeaderAndSignature(ByteSink& out, const Header& header) {
  uint8_t bytes[kHeaderBytes];
  SerializeHeader(header, bytes);
  for (uint8_t b : bytes) out.Put(b);
  for (int i = 0; i < kSignatureBytes; ++i) out.Put(static_cast<uint8_t>(kSignature[i]));
}

bool UsesOldStepRule(int major, int minor) { return major < 3 || (major == 3 && minor < 7); }

int StepNumerator(int quality, int major, int minor) {
  return UsesOldStepRule(major, minor) ? quality : quality + 2;
}

int AutomaticLevels(int width, int height) {
  int m = std::min(width, height);
  int n = 0;
  while (m >= 16) {
    m >>= 1;
    ++n;
  }
  if (n > 6) n -= 1;
  n = std::min(n, kMaxWriterLevels);
  return std::max(n, 1);
}

int AutomaticSplit(int q, int levels) {
  const int L = levels;
  if (q < 4) return L + 1;
  if (q < 7) return L;
  if (q < 13) return L - 1;
  if (q < 25) return std::max(L - 2, 0);
  if (q < 49) return std::max(L - 3, 0);
  if (q < 97) return std::max(L - 4, 0);
  if (q <= 192) return std::max(L - 5, 0);
  return std::max(L - 6, 0);
}

int64_t PaddedHalf(int64_t n, int levels) {
  for (int i = 0; i < levels; ++i) n = (n + 1) >> 1;
  return (n << levels) / 2;
}

namespace {

int64_t CoarseCount(int64_t planeSize, int levels, int split) {
  if (split < levels - 1) return planeSize >> (2 * (levels - split) - 2);
  return planeSize;
}

void FillDerived(PlaneLayout& p) {
  p.ncoarse = CoarseCount(p.PlaneSize(), p.levels, p.split);
  p.sweeps = std::max(p.levels - p.split, 0) - 1;
}

}  // namespace

PlaneLayout LumaLayout(int64_t width, int64_t height, int levels, int split) {
  PlaneLayout p;
  p.levels = levels;
  p.split = split;
  p.pw2 = PaddedHalf(width, levels);
  p.ph2 = PaddedHalf(height, levels);
  const int shift = levels > 0 ? levels - 1 : 0;
  p.w0 = p.pw2 >> shift;
  p.h0 = p.ph2 >> shift;
  FillDerived(p);
  return p;
}

PlaneLayout ChromaLayout(const PlaneLayout& luma) {
  PlaneLayout p = luma;
  if (luma.split >= luma.levels) {
    p.split = luma.split - 1;
  } else if (luma.split >= 1) {
    p.split = luma.split - 1;
    p.ncoarse = luma.ncoarse / 4;
  }
  p.sweeps = std::max(p.levels - p.split, 0) - 1;
  return p;
}

uint64_t PlaneBufferBytes(int64_t pw2, int64_t ph2) {
  const uint64_t samples = static_cast<uint64_t>(pw2) * static_cast<uint64_t>(ph2);
  // float plane + three signed byte planes + 32-bit linear array
  return samples * (sizeof(float) + 3 + sizeof(int32_t));
}

}  // namespace wif
