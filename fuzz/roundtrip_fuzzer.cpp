// Decodes anything decodable, writes it in every writable format, reads it
// back and compares: lossless formats must give back the same picture. WIF
// files are written with a level count taken from the input, on two threads
// and on one: the bytes must not depend on the thread count.
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/wif_format.h"
#include "engine/options.h"
#include "engine/threads.h"
#include "formats/output_depth.h"
#include "formats/rwimage.h"
#include "fuzz_support.h"

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  FILE* fa = std::fopen(a.c_str(), "rb");
  FILE* fb = std::fopen(b.c_str(), "rb");
  bool same = fa && fb;
  while (same) {
    const int ca = std::fgetc(fa);
    same = ca == std::fgetc(fb);
    if (ca == EOF) break;
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return same;
}

// Top-down RGB of an image, palette resolved.
bool SamePicture(const vxImage& a, const vxImage& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      vxRGBA pa, pb;
      if (a.BitCount() == 24) {
        const unsigned char* p = a.Row(y) + 3 * x;
        pa = {p[0], p[1], p[2], 0};
      } else {
        pa = a.PaletteEntry(a.Row(y)[x]);
      }
      if (b.BitCount() == 24) {
        const unsigned char* p = b.Row(y) + 3 * x;
        pb = {p[0], p[1], p[2], 0};
      } else {
        pb = b.PaletteEntry(b.Row(y)[x]);
      }
      if (pa.red != pb.red || pa.green != pb.green || pa.blue != pb.blue) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Init();
  const std::string& path = fuzz::WriteInput(data, size);
  vxScopedImage original;
  if (original.LoadImage(path.c_str()) != 0) return 0;
  // Keep the writers' work small.
  if (static_cast<int64_t>(original.Width()) * original.Height() > 256 * 256) return 0;
  vxLinearizeGrey(original);
  static const int kTypes[] = {TypeBMP, TypePCX, TypePPM, TypePGM, TypeTGA, TypeTIFF, TypeJPEG, TypeWIF};
  const std::string& out = fuzz::ScratchPath("out");
  const std::string& oneThread = fuzz::ScratchPath("one");
  for (int type : kTypes) {
    vxScopedImage copy;
    if (!copy.Create(original.Width(), original.Height(), original.BitCount(), original.ColoursUsed())) return 0;
    std::memcpy(copy.palette, original.palette, 4 * static_cast<size_t>(original.ColoursUsed()));
    std::memcpy(copy.bits, original.bits, original.Stride() * static_cast<size_t>(original.Height()));
    if (vxConvertForOutput(copy, type) < 0) continue;
    vxSaveOptions options;
    options.quality = 10;
    if (type == TypeWIF) {
      options.levels = size > 0 ? 1 + data[size - 1] % 8 : 0;
      // Each level pads the picture to a multiple of twice the last: a thin
      // picture coded with many levels makes planes hundreds of times its
      // size, seconds of work in an instrumented build (0.1 s in a release
      // build) that add no new paths.
      const wif::PlaneLayout padded =
          wif::LumaLayout(copy.Width(), copy.Height(), options.levels > 0 ? options.levels : 1, 0);
      if (padded.PlaneSize() > (int64_t{1} << 20)) continue;
    }
    vxSetWorkerThreads(2);
    if (copy.SaveImage(out.c_str(), type, &options) != 0) continue;
    if (type == TypeWIF) {
      vxSetWorkerThreads(1);
      if (copy.SaveImage(oneThread.c_str(), type, &options) != 0) std::abort();
      if (!SameFile(out, oneThread)) std::abort();
    }
    vxScopedImage back;
    const int loaded = back.LoadImage(out.c_str());
    // What we wrote must read back, within the readers' memory ceiling (16 MiB
    // here): a WIF file coded with many levels needs buffers for its padded
    // planes, larger than the picture itself.
    if (loaded == vxNoMemory && type == TypeWIF) continue;
    if (loaded != 0) std::abort();
    const bool lossless = type != TypeJPEG && type != TypeWIF;
    if (lossless && !SamePicture(copy, back)) std::abort();
  }
  return 0;
}
