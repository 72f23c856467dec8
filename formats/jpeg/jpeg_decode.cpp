// Decoding: the library reads the file; we choose the output colour space,
// place the rows bottom-up in an image block and turn the picture upright.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "engine/notice.h"
#include "formats/jpeg/exif.h"
#include "formats/jpeg/jpeg.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg/jpeg_errors.h"
#include "formats/rwimage.h"
#include "formats/tiff/orientation.h"

namespace {

// A progressive file may carry any number of scans, and each one passes over
// the whole picture; sane files have about ten. Stopping far above that
// keeps a hostile file from running for minutes.
constexpr int kMaxScans = 1000;

// Every 8 x 8 block of a Huffman-coded file costs at least one bit per
// component, so a file cannot hold more than 512 pixels per byte. A header
// that claims far more than that over the file's length is refused before
// the picture's memory is taken. (Arithmetic coding can go below one bit per
// block and is not limited this way.)
constexpr uint64_t kMaxPixelsPerByte = 2048;
constexpr uint64_t kAlwaysPlausiblePixels = uint64_t{1} << 16;

// Everything the guarded steps touch. Plain data only: the steps may be left
// by longjmp at any library call.
struct DecodeState {
  jpeg_decompress_struct cinfo;
  vxJpegError error;
  jpeg_progress_mgr progress;
  FILE* file;
  long long fileSize;
  int denominator;
  int headerOnly;
  int created;
  int refused;  // a result code when our own checks stopped the decode
  int grey;
  int orientation;
  vxBitmapInfoHeader* block;
};

void LimitScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    vxJpegFail(cinfo, "Too many scans in a progressive JPEG file");
  }
}

int ExifOrientation(j_decompress_ptr cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1) continue;
    const int orientation = vxExifOrientation(m->data, m->data_length);
    if (orientation) return orientation;
  }
  return 1;
}

// Adobe applications store CMYK inverted (0 = full ink), and the library
// delivers YCCK files converted, with clamping, to that same CMYK. This is
// the common kind of CMYK JPEG, and djpeg reads every CMYK file this way.
void InvertedCmykToBgr(const JSAMPLE* in, unsigned char* out, JDIMENSION width) {
  for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
    const unsigned k = in[3];
    out[0] = static_cast<unsigned char>((in[2] * k + 127) / 255);
    out[1] = static_cast<unsigned char>((in[1] * k + 127) / 255);
    out[2] = static_cast<unsigned char>((in[0] * k + 127) / 255);
  }
}

void DecodeSteps(DecodeState* s) {
  j_decompress_ptr cinfo = &s->cinfo;
  s->created = 1;
  jpeg_create_decompress(cinfo);
  s->progress.progress_monitor = LimitScans;
  cinfo->progress = &s->progress;
  jpeg_stdio_src(cinfo, s->file);
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);

  s->orientation = ExifOrientation(cinfo);
  s->grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
  if (s->headerOnly) return;

  const uint64_t pixels = uint64_t{cinfo->image_width} * cinfo->image_height;
  if (!cinfo->arith_code && s->fileSize >= 0 &&
      pixels > kMaxPixelsPerByte * static_cast<uint64_t>(s->fileSize) + kAlwaysPlausiblePixels) {
    vxJpegFail(reinterpret_cast<j_common_ptr>(cinfo),
               "The file is far too short for the picture size in its header");
  }

  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = s->grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
  cinfo->scale_num = 1;
  cinfo->scale_denom = static_cast<unsigned>(s->denominator);
  // Progressive files keep every coefficient of the picture in memory (up to
  // twice the size of the decoded block); more than that fails cleanly
  // instead of growing without bound.
  const uint64_t coefficientLimit = 2 * vxMaxImageBytes() + (uint64_t{64} << 20);
  cinfo->mem->max_memory_to_use = static_cast<long>(std::min<uint64_t>(coefficientLimit, LONG_MAX));
  jpeg_calc_output_dimensions(cinfo);

  s->block = vxAllocateBlock(cinfo->output_width, cinfo->output_height, s->grey ? 8 : 24,
                             s->grey ? 256 : 0);
  if (!s->block) {
    s->refused = -3;
    return;
  }
  if (s->grey) vxSetGreyRamp(vxBlockPalette(s->block), 256);

  jpeg_start_decompress(cinfo);
  JSAMPARRAY cmykRow = nullptr;
  if (cmyk) {
    cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                          cinfo->output_width * 4, 1);
  }
  unsigned char* bits = vxBlockBits(s->block);
  const size_t stride = vxRowStride(cinfo->output_width, s->block->bitCount);
  const JDIMENSION height = cinfo->output_height;
  while (cinfo->output_scanline < height) {
    // Scan lines come top first; the block's rows go bottom-up.
    unsigned char* row = bits + stride * (height - 1 - cinfo->output_scanline);
    JSAMPROW target = cmyk ? cmykRow[0] : row;
    if (jpeg_read_scanlines(cinfo, &target, 1) != 1) break;
    if (cmyk) InvertedCmykToBgr(cmykRow[0], row, cinfo->output_width);
  }
  jpeg_finish_decompress(cinfo);
}

// The only function that calls setjmp. It has no locals; the state it
// passes on is owned by the caller, whose frame the jump never leaves.
int DecodeGuarded(DecodeState* s) {
  if (setjmp(s->error.jump) != 0) return -1;
  DecodeSteps(s);
  return 0;
}

}  // namespace

int vxJpegDecodeFile(const char* fileName, int denominator, bool headerOnly,
                     vxJpegPicture* picture) {
  FILE* file = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!file) {
    vxSetLastError("cannot open the file");
    return -1;
  }
  auto state = std::unique_ptr<DecodeState>(new (std::nothrow) DecodeState());
  if (!state) {
    std::fclose(file);
    return -3;
  }
  DecodeState* s = state.get();
  s->cinfo.err = vxJpegErrorSetup(&s->error);
  s->file = file;
  s->fileSize = vxStreamLength(file);
  s->denominator = denominator;
  s->headerOnly = headerOnly ? 1 : 0;
  s->orientation = 1;

  const int failed = DecodeGuarded(s);
  if (s->created) jpeg_destroy_decompress(&s->cinfo);
  std::fclose(file);

  if (failed || s->refused) {
    vxFreeBlock(s->block);
    if (failed) {
      vxPostNotice(vxNoticeKind::Error, "JPEG", s->error.message);
      vxSetLastError(s->error.message);
      return -2;
    }
    return s->refused;
  }

  int width = static_cast<int>(s->cinfo.image_width);
  int height = static_cast<int>(s->cinfo.image_height);
  if (vxOrientationSwapsSides(s->orientation)) std::swap(width, height);
  if (!headerOnly && vxOrientBlock(&s->block, s->orientation) != 0) {
    vxFreeBlock(s->block);
    vxSetLastError("out of memory");
    return -3;
  }
  picture->block = s->block;
  picture->width = width;
  picture->height = height;
  picture->grey = s->grey != 0;
  picture->fileSize = s->fileSize;
  return 0;
}

int vxReadJpegScaled(const char* fileName, int denominator, vxBitmapInfoHeader** header,
                     int* fullWidth, int* fullHeight) {
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) {
    vxSetLastError("the JPEG scale must be 1/1, 1/2, 1/4 or 1/8");
    return -2;
  }
  vxJpegPicture picture;
  const int result = vxJpegDecodeFile(fileName, denominator, false, &picture);
  if (result != 0) return result;
  *header = picture.block;
  if (fullWidth) *fullWidth = picture.width;
  if (fullHeight) *fullHeight = picture.height;
  return 0;
}
