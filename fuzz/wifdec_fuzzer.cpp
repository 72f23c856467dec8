// The WIF decoder on its own, reading from memory: any bytes decode or give
// Corrupt / NoMemory, and a decoded picture fills exactly the rows it was
// given. The last byte's low bit picks the chroma path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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
  return 0;
}
