// Encoding: rows go to the library top line first, as 1-component grey or
// 3-component colour samples; the library does the rest.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine/notice.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/jpeg/jpeg_errors.h"
#include "formats/rwimage.h"

namespace {

// How a row of the image becomes samples.
enum RowSource : int {
  kBgrRows,       // 24-bit rows, handed over as they are (blue, green, red)
  kIndexRows,     // 8-bit rows whose index is the grey level, handed over as they are
  kGreyLookup,    // grey level = red of the palette entry (grey palettes that are no ramp)
  kColourLookup,  // red, green, blue of the palette entry
};

struct EncodeState {
  jpeg_compress_struct cinfo;
  vxJpegError error;
  FILE* file;
  int created;
  int quality;
  int source;  // a RowSource
  int bitCount;
  int coloursUsed;
  const vxRGBA* palette;
  const unsigned char* bits;
  size_t stride;
  unsigned char* samples;  // one converted row, owned by the caller
};

int IndexAt(const unsigned char* row, JDIMENSION x, int bitCount) {
  if (bitCount == 4) return (row[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F;
  return row[x];  // 8-bit, and 1-bit held one byte per pixel
}

// Fills s->samples from one row of the image.
void ConvertRow(const EncodeState* s, const unsigned char* row, JDIMENSION width) {
  static const vxRGBA kBlack = {0, 0, 0, 0};
  unsigned char* out = s->samples;
  for (JDIMENSION x = 0; x < width; ++x) {
    const int index = IndexAt(row, x, s->bitCount);
    if (s->source == kIndexRows) {
      *out++ = static_cast<unsigned char>(index);
      continue;
    }
    const vxRGBA& e = index < s->coloursUsed ? s->palette[index] : kBlack;
    *out++ = e.red;
    if (s->source == kColourLookup) {
      *out++ = e.green;
      *out++ = e.blue;
    }
  }
}

void EncodeSteps(EncodeState* s, JDIMENSION width, JDIMENSION height) {
  j_compress_ptr cinfo = &s->cinfo;
  s->created = 1;
  jpeg_create_compress(cinfo);
  jpeg_stdio_dest(cinfo, s->file);
  cinfo->image_width = width;
  cinfo->image_height = height;
  if (s->source == kBgrRows) {
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_EXT_BGR;
  } else if (s->source == kColourLookup) {
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
  } else {
    cinfo->input_components = 1;
    cinfo->in_color_space = JCS_GRAYSCALE;
  }
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, s->quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  const bool direct = s->source == kBgrRows || (s->source == kIndexRows && s->bitCount == 8);
  while (cinfo->next_scanline < height) {
    // The top line is the last row in memory.
    const unsigned char* row = s->bits + s->stride * (height - 1 - cinfo->next_scanline);
    JSAMPROW samples = s->samples;
    if (direct) {
      samples = const_cast<JSAMPROW>(row);  // the library only reads input rows
    } else {
      ConvertRow(s, row, width);
    }
    jpeg_write_scanlines(cinfo, &samples, 1);
  }
  jpeg_finish_compress(cinfo);
}

int EncodeGuarded(EncodeState* s, JDIMENSION width, JDIMENSION height) {
  if (setjmp(s->error.jump) != 0) return -1;
  EncodeSteps(s, width, height);
  return 0;
}

// Palette images: the index is the grey level only for the identity ramp
// (or a block without palette); other grey palettes are written through their
// red values, colour palettes as colour.
RowSource ChooseSource(const vxBitmapInfoHeader* header, const vxRGBA* palette, int coloursUsed) {
  if (header->bitCount == 24) return kBgrRows;
  if (coloursUsed == 0 || !palette) return kIndexRows;
  bool grey = true;
  bool ramp = coloursUsed == 256;
  for (int i = 0; i < coloursUsed; ++i) {
    const vxRGBA& e = palette[i];
    if (e.red != e.green || e.red != e.blue) grey = false;
    if (e.red != i) ramp = false;
  }
  if (!grey) return kColourLookup;
  return ramp ? kIndexRows : kGreyLookup;
}

}  // namespace

int vxJpegEncodeFile(const char* fileName, const vxBitmapInfoHeader* header, const vxRGBA* palette,
                     const unsigned char* bits, int quality) {
  if (!fileName || !header || !bits || header->width <= 0 || header->height <= 0 ||
      (header->bitCount != 1 && header->bitCount != 4 && header->bitCount != 8 &&
       header->bitCount != 24)) {
    vxSetLastError("the image cannot be written as JPEG");
    return -1;
  }
  const int coloursUsed =
      header->bitCount == 24 ? 0 : static_cast<int>(std::min<uint32_t>(header->coloursUsed, 256));
  const RowSource source = ChooseSource(header, palette, coloursUsed);
  const auto width = static_cast<JDIMENSION>(header->width);
  const auto height = static_cast<JDIMENSION>(header->height);

  std::vector<unsigned char> samples;
  try {
    samples.resize(static_cast<size_t>(width) * 3);
  } catch (const std::bad_alloc&) {
    vxSetLastError("out of memory");
    return -1;
  }
  auto state = std::unique_ptr<EncodeState>(new (std::nothrow) EncodeState());
  if (!state) {
    vxSetLastError("out of memory");
    return -1;
  }

  FILE* file = vxOpenWritten(fileName);
  if (!file) {
    vxPostNotice(vxNoticeKind::Warning, "Info", std::string("Could Not Open:") + fileName);
    vxSetLastError("cannot create the file");
    return -1;
  }
  EncodeState* s = state.get();
  s->cinfo.err = vxJpegErrorSetup(&s->error);
  s->file = file;
  s->quality = quality;
  s->source = source;
  s->bitCount = header->bitCount;
  s->coloursUsed = coloursUsed;
  s->palette = palette;
  s->bits = bits;
  s->stride = vxRowStride(header->width, header->bitCount);
  s->samples = samples.data();

  const int failed = EncodeGuarded(s, width, height);
  if (s->created) jpeg_destroy_compress(&s->cinfo);
  const int closed = vxCloseWritten(file);
  if (failed) {
    vxPostNotice(vxNoticeKind::Error, "JPEG", s->error.message);
    vxSetLastError(s->error.message);
    return -1;
  }
  if (closed != 0) {
    vxSetLastError("the file could not be written completely");
    return -1;
  }
  return 0;
}
