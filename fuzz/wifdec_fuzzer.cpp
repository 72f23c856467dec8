// The WIF decoder on its own, reading from memory: any bytes decode or give
// Corrupt / NoMemory, and a decoded picture fills exactly the rows it was
// given. The last byte's low bit picks the chroma path, its next bit the
// order of the colour bytes handed over by bands: decoding by bands must
// give the same verdict and the same pixels as decoding the whole picture.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/byte_stream.h"
#include "codec/compress.h"
#include "codec/decoder.h"
#include "codec/wif_format.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  if (size < wif::kHeaderBytes) {
    wif::ByteSource source(data, size);
    uint8_t none = 0;
    wif::decoder decode(source, &none);
    if (decode.Run() == wif::Status::Ok) std::abort();
    return 0;
  }
  const wif::Header h = wif::ParseHeader(data);
  const bool colour = h.IsColour();
  // The destination the header asks for, when the decoder would take it on.
  // Pictures above 32 MiB add time per run and no new paths.
  if (!wif::FitsMemoryCeiling(h)) return 0;
  const size_t stride = wif::RowStride(h.width, colour);
  const size_t bytes = stride * h.height + 1;
  if (bytes > (size_t{32} << 20)) return 0;
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[bytes]);
  wif::ByteSource source(data, size);
  wif::decoder decode(source, pixels.get());
  decode.SetFullRangeChroma((data[size - 1] & 1) == 0);
  const wif::Status status = decode.Run();
  if (status == wif::Status::Ok && decode.BytesConsumed() > size) std::abort();

  const bool redFirst = (data[size - 1] & 2) != 0;
  std::unique_ptr<uint8_t[]> bands(new uint8_t[bytes]);
  wif::ByteSource again(data, size);
  wif::decoder byBands(again, nullptr);
  byBands.SetFullRangeChroma((data[size - 1] & 1) == 0);
  byBands.SetRedFirst(redFirst);
  byBands.SetBandOutput([&](uint8_t* rows, int64_t first, int64_t count) {
    if (first < 0 || count < 1 || first + count > h.height) std::abort();
    std::memcpy(bands.get() + stride * first, rows, stride * count);
    return true;
  });
  const wif::Status bandStatus = byBands.Run();
  // Holding every plane at once may run out of memory where the other way
  // did not; otherwise the verdicts agree.
  if (bandStatus == wif::Status::Ok && status != wif::Status::Ok) std::abort();
  if (status == wif::Status::Ok && bandStatus != wif::Status::Ok &&
      bandStatus != wif::Status::NoMemory) {
    std::abort();
  }
  if (status != wif::Status::Ok || bandStatus != wif::Status::Ok) return 0;
  for (int y = 0; y < h.height; ++y) {
    const uint8_t* a = pixels.get() + stride * y;
    const uint8_t* b = bands.get() + stride * y;
    for (int x = 0; x < h.width; ++x) {
      if (!colour) {
        if (a[x] != b[x]) std::abort();
        continue;
      }
      const uint8_t* pa = a + 3 * x;
      const uint8_t* pb = b + 3 * x;
      if (pa[1] != pb[1] || pa[0] != pb[redFirst ? 2 : 0] || pa[2] != pb[redFirst ? 0 : 2]) {
        std::abort();
      }
    }
  }
  return 0;
}
