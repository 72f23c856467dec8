// Reading TIFF files.
//
// The common layouts are read scan line by scan line into the depth they
// have: 8-bit grey (min-is-black or min-is-white), bilevel, 8-bit palette and
// 8-bit RGB, whatever their strip compression. Every other layout that
// libtiff can decode (tiles, 16-bit or 4-bit samples, alpha, separate planes,
// YCbCr, CMYK, Lab, ...) goes through libtiff's RGBA interface into a 24-bit
// image. Either way the stored rows land first-row-at-the-top and the
// Orientation tag then turns the picture upright.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "engine/notice.h"
#include "formats/rwimage.h"
#include "formats/tiff/orientation.h"
#include "formats/tiff/tiff_codec.h"
#include "formats/tiff/tiff_messages.h"

namespace {

struct Layout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bitsPerSample = 1;
  uint16_t samplesPerPixel = 1;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  int orientation = ORIENTATION_TOPLEFT;  // the rule used to turn the picture upright
  bool tiled = false;
};

bool FieldEquals(TIFF* tif, uint32_t tag, const char* expected) {
  const char* value = nullptr;
  return TIFFGetField(tif, tag, &value) == 1 && value && std::strcmp(value, expected) == 0;
}

// Files written by earlier versions of Lunark are tagged Orientation 4 but
// hold the top row first; they carry these two names and are read as
// Orientation 1.
bool IsEarlyLunarkFile(TIFF* tif) {
  return FieldEquals(tif, TIFFTAG_DOCUMENTNAME, "TIFFTEST") &&
         FieldEquals(tif, TIFFTAG_IMAGEDESCRIPTION, "Created By the Lunark");
}

int UprightRule(TIFF* tif) {
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  if (orientation < ORIENTATION_TOPLEFT || orientation > ORIENTATION_LEFTBOT) {
    return ORIENTATION_TOPLEFT;
  }
  if (orientation == ORIENTATION_BOTLEFT && IsEarlyLunarkFile(tif)) return ORIENTATION_TOPLEFT;
  return orientation;
}

bool ReadLayout(TIFF* tif, Layout& l) {
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width) != 1 ||
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height) != 1) {
    return false;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bitsPerSample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samplesPerPixel);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.sampleFormat);
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric) != 1) {
    l.photometric = l.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  }
  l.orientation = UprightRule(tif);
  l.tiled = TIFFIsTiled(tif) != 0;
  return true;
}

// The layouts read scan line by scan line.
bool ReadsByScanline(const Layout& l) {
  if (l.tiled || l.sampleFormat != SAMPLEFORMAT_UINT) return false;
  const uint16_t p = l.photometric;
  if (l.samplesPerPixel == 1 && l.bitsPerSample == 8) {
    return p == PHOTOMETRIC_MINISWHITE || p == PHOTOMETRIC_MINISBLACK || p == PHOTOMETRIC_PALETTE;
  }
  if (l.samplesPerPixel == 1 && l.bitsPerSample == 1) {
    return p == PHOTOMETRIC_MINISWHITE || p == PHOTOMETRIC_MINISBLACK;
  }
  return l.samplesPerPixel == 3 && l.bitsPerSample == 8 && l.planar == PLANARCONFIG_CONTIG &&
         p == PHOTOMETRIC_RGB;
}

// ColorMap values are 16-bit. Files that hold 0..255 in them (as earlier
// versions of Lunark wrote) are read by the low byte, all others by the high
// byte.
void ReadColorMap(TIFF* tif, vxRGBA* palette) {
  uint16_t* red = nullptr;
  uint16_t* green = nullptr;
  uint16_t* blue = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || !red || !green || !blue) {
    vxSetGreyRamp(palette, 256);
    return;
  }
  bool wide = false;
  for (int i = 0; i < 256; ++i) wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
  const int shift = wide ? 8 : 0;
  for (int i = 0; i < 256; ++i) {
    palette[i] =
        vxRGBA{static_cast<uint8_t>(blue[i] >> shift), static_cast<uint8_t>(green[i] >> shift),
               static_cast<uint8_t>(red[i] >> shift), 0};
  }
}

void ConvertLine(const Layout& l, const unsigned char* in, unsigned char* out) {
  const uint32_t w = l.width;
  if (l.bitsPerSample == 1) {
    const unsigned char set = l.photometric == PHOTOMETRIC_MINISWHITE ? 0 : 255;
    for (uint32_t x = 0; x < w; ++x) {
      const bool bit = (in[x >> 3] >> (7 - (x & 7))) & 1;
      out[x] = bit ? set : static_cast<unsigned char>(255 - set);
    }
  } else if (l.samplesPerPixel == 3) {
    for (uint32_t x = 0; x < w; ++x, in += 3, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  } else if (l.photometric == PHOTOMETRIC_MINISWHITE) {
    for (uint32_t x = 0; x < w; ++x) out[x] = static_cast<unsigned char>(255 - in[x]);
  } else {
    std::memcpy(out, in, w);
  }
}

// Returns the number of stored rows read; stops at the first failed line
// (libtiff has posted why).
uint32_t ReadScanlines(TIFF* tif, const Layout& l, vxBitmapInfoHeader* block) {
  const uint64_t needed =
      l.bitsPerSample == 1 ? (uint64_t{l.width} + 7) / 8 : uint64_t{l.width} * l.samplesPerPixel;
  const uint64_t lineSize = TIFFScanlineSize64(tif);
  if (lineSize < needed) return 0;
  std::vector<unsigned char> line;
  try {
    line.resize(static_cast<size_t>(lineSize));
  } catch (const std::bad_alloc&) {
    return 0;
  }
  unsigned char* bits = vxBlockBits(block);
  const size_t stride = vxRowStride(l.width, block->bitCount);
  for (uint32_t r = 0; r < l.height; ++r) {
    if (TIFFReadScanline(tif, line.data(), r, 0) < 0) return r;
    ConvertLine(l, line.data(), bits + stride * (l.height - 1 - r));
  }
  return l.height;
}

// Returns the number of stored rows read, or -1 when libtiff's RGBA
// interface cannot take the file at all.
int64_t ReadThroughRgba(TIFF* tif, const Layout& l, vxBitmapInfoHeader* block) {
  char reason[1024] = "";
  TIFFRGBAImage image;
  if (!TIFFRGBAImageOK(tif, reason) || !TIFFRGBAImageBegin(&image, tif, 1, reason)) {
    vxPostNotice(vxNoticeKind::Error, "TIFF", reason);
    vxSetLastError(reason);
    return -1;
  }
  // Asking for the file's own orientation makes libtiff deliver the stored
  // rows unflipped, top row first; vxOrientBlock does the rest afterwards.
  image.req_orientation = image.orientation;

  // Read in bands of whole strips or tile rows, so that nothing is decoded
  // twice, but keep a band's raster within reason for very wide pictures.
  uint32_t band = 0;
  if (l.tiled) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &band);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &band);
  }
  constexpr uint64_t kBandBytes = uint64_t{64} << 20;
  const uint64_t maxBand = std::max<uint64_t>(1, kBandBytes / (uint64_t{l.width} * 4));
  band =
      static_cast<uint32_t>(std::clamp<uint64_t>(band, 1, std::min<uint64_t>(maxBand, l.height)));

  std::vector<uint32_t> raster;
  try {
    raster.resize(static_cast<size_t>(l.width) * band);
  } catch (const std::bad_alloc&) {
    TIFFRGBAImageEnd(&image);
    return 0;
  }
  unsigned char* bits = vxBlockBits(block);
  const size_t stride = vxRowStride(l.width, 24);
  uint32_t done = 0;
  while (done < l.height) {
    const uint32_t rows = std::min(band, l.height - done);
    image.row_offset = static_cast<int>(done);
    image.col_offset = 0;
    if (!TIFFRGBAImageGet(&image, raster.data(), l.width, rows)) break;
    for (uint32_t i = 0; i < rows; ++i) {
      const uint32_t* in = raster.data() + static_cast<size_t>(i) * l.width;
      unsigned char* out = bits + stride * (l.height - 1 - (done + i));
      for (uint32_t x = 0; x < l.width; ++x, out += 3) {
        out[0] = static_cast<unsigned char>(TIFFGetB(in[x]));
        out[1] = static_cast<unsigned char>(TIFFGetG(in[x]));
        out[2] = static_cast<unsigned char>(TIFFGetR(in[x]));
      }
    }
    done += rows;
  }
  TIFFRGBAImageEnd(&image);
  return done;
}

// Opens a file for reading through libtiff with our handlers; null when
// libtiff cannot open it (it has posted why).
TIFF* OpenForReading(const char* fileName, vxTiffMessages& messages) {
  TIFFOpenOptions* options = messages.NewOpenOptions();
  if (!options) return nullptr;
  TIFF* tif = TIFFOpenExt(fileName, "r", options);
  TIFFOpenOptionsFree(options);
  return tif;
}

// PackBits codes at most 128 bytes in 2, and LZW and Deflate stay below
// a few thousand bytes per byte: a file coded with them that claims a
// picture far larger than that would hold only a sliver of it, and is not
// worth the picture's memory.
constexpr uint64_t kMaxExpansion = 4096;
constexpr uint64_t kAlwaysAllowedBytes = uint64_t{4} << 20;

bool Plausible(TIFF* tif, const Layout& l, int bitCount, long long length) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (compression != COMPRESSION_PACKBITS && compression != COMPRESSION_LZW &&
      compression != COMPRESSION_ADOBE_DEFLATE && compression != COMPRESSION_DEFLATE) {
    return true;
  }
  const uint64_t bytes = vxRowStride(l.width, bitCount) * static_cast<uint64_t>(l.height);
  return bytes <= kAlwaysAllowedBytes || length < 0 ||
         bytes / kMaxExpansion <= static_cast<uint64_t>(length);
}

long long FileLength(const char* fileName) {
  FILE* f = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!f) return -1;
  const long long length = vxStreamLength(f);
  std::fclose(f);
  return length;
}

}  // namespace

int vxTiffReadFile(const char* fileName, vxBitmapInfoHeader** block, long long* fileSize) {
  const long long length = FileLength(fileName);
  if (length < 0) {
    vxSetLastError("cannot open the file");
    return -1;
  }
  vxTiffMessages messages;
  TIFF* tif = OpenForReading(fileName, messages);
  if (!tif) {
    vxSetLastError("not a TIFF file libtiff can read");
    return -2;
  }
  Layout l;
  if (!ReadLayout(tif, l) || l.width == 0 || l.height == 0) {
    TIFFClose(tif);
    vxSetLastError("the TIFF file has no picture size");
    return -2;
  }

  const bool byScanline = ReadsByScanline(l);
  const bool palette = byScanline && l.samplesPerPixel == 1;
  if (!Plausible(tif, l, palette ? 8 : 24, length)) {
    TIFFClose(tif);
    vxSetLastError("the TIFF file is too short for a picture of " + std::to_string(l.width) +
                   " x " + std::to_string(l.height) + " pixels");
    return -2;
  }
  // The size is checked against the memory ceiling here, before libtiff is
  // asked to decode (and allocate) anything.
  vxBitmapInfoHeader* picture =
      vxAllocateBlock(l.width, l.height, palette ? 8 : 24, palette ? 256 : 0);
  if (!picture) {
    TIFFClose(tif);
    vxSetLastError("out of memory");
    return -3;
  }
  int64_t rows = 0;
  if (byScanline) {
    if (l.photometric == PHOTOMETRIC_PALETTE) {
      ReadColorMap(tif, vxBlockPalette(picture));
    } else if (palette) {
      vxSetGreyRamp(vxBlockPalette(picture), 256);
    }
    rows = ReadScanlines(tif, l, picture);
  } else {
    rows = ReadThroughRgba(tif, l, picture);
  }
  TIFFClose(tif);

  if (rows <= 0) {
    vxFreeBlock(picture);
    vxSetLastError("no picture data could be read");
    return -2;
  }
  if (vxOrientBlock(&picture, l.orientation) != 0) {
    vxFreeBlock(picture);
    vxSetLastError("out of memory");
    return -3;
  }
  *block = picture;
  *fileSize = length;
  return 0;
}

int vxTiffFileInfo(const char* fileName, vxFileInfo* info) {
  const long long length = FileLength(fileName);
  if (length < 0) return -1;
  vxTiffMessages messages;
  TIFF* tif = OpenForReading(fileName, messages);
  if (!tif) return -2;
  Layout l;
  const bool ok = ReadLayout(tif, l);
  TIFFClose(tif);
  if (!ok) return -2;
  uint32_t width = l.width;
  uint32_t height = l.height;
  if (vxOrientationSwapsSides(l.orientation)) std::swap(width, height);
  info->width = static_cast<uint16_t>(width);
  info->height = static_cast<uint16_t>(height);
  // Both tags are 16-bit and unchecked here: their product is worked out
  // wide and told as at most 255, what the one-byte field can hold.
  const uint32_t bits = uint32_t{l.bitsPerSample} * l.samplesPerPixel;
  info->bitsPerPixel = static_cast<uint8_t>(std::min<uint32_t>(bits, 255));
  info->fileSize = static_cast<uint32_t>(length);
  return 0;
}
