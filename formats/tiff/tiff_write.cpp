// Writing uncompressed TIFF files, top row first (Orientation 1).
//
// libtiff writes through our own file procedures so that every failure
// counts, including the one that only the final close reports (TIFFClose
// itself returns nothing).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/notice.h"
#include "formats/rwimage.h"
#include "formats/tiff/tiff_codec.h"
#include "formats/tiff/tiff_messages.h"

namespace {

struct OutputFile {
  int fd = -1;
  bool failed = false;
  bool closed = false;
  bool closeFailed = false;
};

OutputFile* Out(thandle_t handle) { return static_cast<OutputFile*>(handle); }

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  ssize_t n;
  do {
    n = ::read(Out(handle)->fd, buffer, static_cast<size_t>(size));
  } while (n < 0 && errno == EINTR);
  return n;
}

tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
  OutputFile* out = Out(handle);
  const char* p = static_cast<const char*>(buffer);
  tmsize_t left = size;
  while (left > 0) {
    const ssize_t n = ::write(out->fd, p, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // libtiff's own message names only the scan line; keep the reason.
      const int error = n < 0 ? errno : ENOSPC;
      out->failed = true;
      try {
        vxSetLastError(std::string("could not write the TIFF file: ") + std::strerror(error));
      } catch (...) {
      }
      return -1;
    }
    p += n;
    left -= n;
  }
  return size;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  const off_t at = ::lseek(Out(handle)->fd, static_cast<off_t>(offset), whence);
  if (at < 0) Out(handle)->failed = true;
  return static_cast<toff_t>(at);
}

int CloseProc(thandle_t handle) {
  OutputFile* out = Out(handle);
  out->closed = true;
  out->closeFailed = ::close(out->fd) != 0;
  return out->closeFailed ? -1 : 0;
}

toff_t SizeProc(thandle_t handle) {
  struct stat st;
  return ::fstat(Out(handle)->fd, &st) == 0 ? static_cast<toff_t>(st.st_size) : 0;
}

int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

enum class Samples {
  kRgb,         // 24-bit pixels
  kIndexGrey,   // index = grey level (identity ramp, or no palette)
  kPaletteRed,  // grey level = red of the entry (grey palettes that are no ramp)
  kIndex,       // palette image with a ColorMap
};

Samples ChooseSamples(const vxBitmapInfoHeader* header, const vxRGBA* palette, int coloursUsed) {
  if (header->bitCount == 24) return Samples::kRgb;
  if (coloursUsed == 0 || !palette) return Samples::kIndexGrey;
  bool grey = true;
  bool ramp = coloursUsed == 256;
  for (int i = 0; i < coloursUsed; ++i) {
    const vxRGBA& e = palette[i];
    if (e.red != e.green || e.red != e.blue) grey = false;
    if (e.red != i) ramp = false;
  }
  if (!grey) return Samples::kIndex;
  return ramp ? Samples::kIndexGrey : Samples::kPaletteRed;
}

int IndexAt(const unsigned char* row, uint32_t x, int bitCount) {
  if (bitCount == 4) return (row[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F;
  return row[x];  // 8-bit, and 1-bit held one byte per pixel
}

void ConvertRow(Samples samples, const unsigned char* row, uint32_t width, int bitCount,
                const vxRGBA* palette, int coloursUsed, unsigned char* out) {
  if (samples == Samples::kRgb) {
    for (uint32_t x = 0; x < width; ++x, row += 3, out += 3) {
      out[0] = row[2];
      out[1] = row[1];
      out[2] = row[0];
    }
    return;
  }
  for (uint32_t x = 0; x < width; ++x) {
    const int index = IndexAt(row, x, bitCount);
    if (samples == Samples::kPaletteRed) {
      out[x] = index < coloursUsed ? palette[index].red : 0;
    } else {
      out[x] = static_cast<unsigned char>(index);
    }
  }
}

void Check(int ok, const char* message) {
  if (ok != 1) vxPostNotice(vxNoticeKind::Warning, "TIFF", message);
}

}  // namespace

int vxTiffWriteFile(const char* fileName, const vxBitmapInfoHeader* header, const vxRGBA* palette,
                    const unsigned char* bits) {
  if (!fileName || !header || !bits || header->width <= 0 || header->height <= 0 ||
      (header->bitCount != 1 && header->bitCount != 4 && header->bitCount != 8 &&
       header->bitCount != 24)) {
    vxSetLastError("the image cannot be written as TIFF");
    return -1;
  }
  const auto width = static_cast<uint32_t>(header->width);
  const auto height = static_cast<uint32_t>(header->height);
  const int coloursUsed =
      header->bitCount == 24 ? 0 : static_cast<int>(std::min<uint32_t>(header->coloursUsed, 256));
  const Samples samples = ChooseSamples(header, palette, coloursUsed);
  const uint16_t samplesPerPixel = samples == Samples::kRgb ? 3 : 1;
  const uint16_t photometric = samples == Samples::kRgb     ? PHOTOMETRIC_RGB
                               : samples == Samples::kIndex ? PHOTOMETRIC_PALETTE
                                                            : PHOTOMETRIC_MINISBLACK;
  const uint64_t bytesPerRow = uint64_t{width} * samplesPerPixel;

  vxTiffMessages messages;
  OutputFile out;
  out.fd = vxOpenWrittenFd(fileName);
  TIFF* tif = nullptr;
  if (out.fd >= 0) {
    TIFFOpenOptions* options = messages.NewOpenOptions();
    if (options) {
      tif = TIFFClientOpenExt(fileName, "wl", &out, ReadProc, WriteProc, SeekProc, CloseProc,
                              SizeProc, MapProc, UnmapProc, options);
      TIFFOpenOptionsFree(options);
    }
    if (!tif && !out.closed) ::close(out.fd);
  }
  if (!tif) {
    vxPostNotice(vxNoticeKind::Warning, "Info", "Bad TIFF");
    vxSetLastError("cannot create the TIFF file");
    return -1;
  }

  Check(TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width), "Error Setting Width");
  Check(TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height), "Error Setting Height");
  Check(TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8), "Error Setting Bits Per Sample");
  Check(TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT), "Error Setting Orientation");
  Check(TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE), "Error Setting compresssion");
  Check(TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric), "Error Setting Photometric");
  Check(TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB), "Error Setting FilleOrder");
  Check(TIFFSetField(tif, TIFFTAG_DOCUMENTNAME, "TIFFTEST"), "Error Setting Name");
  Check(TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "Created By the Lunark"),
        "Error Setting Description");
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samplesPerPixel);
  // Strips of about 8 KiB, and at least one row each however wide the rows.
  const auto rowsPerStrip = static_cast<uint32_t>(std::max<uint64_t>(1, 8192 / bytesPerRow));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);

  std::vector<unsigned char> line;
  std::vector<uint16_t> colorMap;
  try {
    line.resize(static_cast<size_t>(bytesPerRow));
    if (samples == Samples::kIndex) colorMap.resize(3 * 256);
  } catch (const std::bad_alloc&) {
    vxPostNotice(vxNoticeKind::Warning, "Info", "Memory Error");
    vxSetLastError("out of memory");
    messages.Quiet();
    TIFFClose(tif);
    return -1;
  }
  if (samples == Samples::kIndex) {
    // 16-bit values as the standard has them: v * 257 spans 0..65535 and
    // keeps v as its low byte. Entries beyond the palette are black.
    uint16_t* red = colorMap.data();
    uint16_t* green = red + 256;
    uint16_t* blue = green + 256;
    for (int i = 0; i < coloursUsed; ++i) {
      red[i] = static_cast<uint16_t>(palette[i].red * 257);
      green[i] = static_cast<uint16_t>(palette[i].green * 257);
      blue[i] = static_cast<uint16_t>(palette[i].blue * 257);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue);
  }

  // A failed write is reported once, as "Could Not Write" below, with the
  // system's reason as the last error; libtiff's own messages about it would
  // only repeat that.
  messages.Quiet();
  bool failed = false;
  const size_t stride = vxRowStride(width, header->bitCount);
  for (uint32_t r = 0; r < height && !failed; ++r) {
    const unsigned char* row = bits + stride * (height - 1 - r);  // top row first
    ConvertRow(samples, row, width, header->bitCount, palette, coloursUsed, line.data());
    failed = TIFFWriteScanline(tif, line.data(), r, 0) < 0;
  }
  if (!failed) failed = TIFFFlush(tif) != 1;
  TIFFClose(tif);
  if (failed || out.failed || out.closeFailed) {
    vxPostNotice(vxNoticeKind::Warning, "Info", "Could Not Write");
    vxSetLastError("the TIFF file could not be written");
    return -1;
  }
  return 0;
}
