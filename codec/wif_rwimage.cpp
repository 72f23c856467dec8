// The WIF reader/writer class: connects the engine's image blocks to the
// codec. Read allocates the block from the header and lets the decoder fill
// it; Write hands the block's rows to Compress with the quality (and levels)
// of the save options.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/byte_stream.h"
#include "codec/compress.h"
#include "codec/decoder.h"
#include "codec/wif_direct.h"
#include "codec/wif_format.h"
#include "codec/wif_reduced.h"
#include "engine/notice.h"
#include "engine/options.h"
#include "engine/safe_file.h"
#include "formats/pnm/pnm.h"
#include "formats/registry.h"

namespace {

constexpr uint8_t kKindGreyAlias = '7';
constexpr uint8_t kKindColourAlias = '8';

bool IsWifKind(uint8_t kind) {
  return kind == wif::kKindGrey || kind == wif::kKindColour || kind == kKindGreyAlias ||
         kind == kKindColourAlias;
}

bool IsColourKind(uint8_t kind) { return kind == wif::kKindColour || kind == kKindColourAlias; }

// The 14 header bytes at the start of an open file; false when they are not
// there or do not start a WIF file.
bool ReadWifHeader(FILE* file, wif::Header& header) {
  uint8_t bytes[wif::kHeaderBytes];
  if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) return false;
  header = wif::ParseHeader(bytes);
  return header.magic == wif::kMagic && IsWifKind(header.kind);
}

// The fewest bytes a stream with this header can have. The coarse part of
// the first plane (and, when block coded, its three detail planes) goes in
// blocks of 16 values of at least 9 bits each (a 3-bit parameter and six
// group codes). A file far shorter cannot hold the picture, and the buffers
// for it are not worth allocating.
uint64_t MinimumStreamBytes(const wif::Header& h) {
  const wif::PlaneLayout luma = wif::LumaLayout(h.width, h.height, h.levels, h.split);
  uint64_t blocks = static_cast<uint64_t>(luma.ncoarse + 15) / 16;
  if (luma.DetailBlockCoded()) blocks += 3 * (static_cast<uint64_t>(luma.PlaneSize() + 15) / 16);
  return wif::kHeaderBytes + blocks * 9 / 8;
}

// Slack for the zero bits the bit reader supplies past the end of a stream.
constexpr uint64_t kPastEndSlack = 32;

void SetReadFailure(wif::Status status) {
  if (status == wif::Status::NoMemory) {
    vxSetLastError("not enough memory to decode the WIF picture (or it exceeds the memory ceiling)");
  } else {
    vxSetLastError("corrupt or truncated WIF data");
  }
}

// The grey level of each index of an 8-bit picture. A palette of greys that
// is not the identity ramp (64 greys of a GIF, a reversed ramp) would
// otherwise be coded as raw indices; palettes that hold colours keep their
// indices, which callers convert before saving.
bool GreyMapFor(const vxBitmapInfoHeader* header, const vxRGBA* palette, uint8_t map[256]) {
  const uint32_t used = header->coloursUsed;
  if (!palette || used == 0 || used > 256) return false;
  bool ramp = used == 256;
  for (uint32_t i = 0; i < used; ++i) {
    const vxRGBA& e = palette[i];
    if (e.red != e.green || e.green != e.blue) return false;
    if (e.red != i) ramp = false;
  }
  if (ramp) return false;
  for (uint32_t i = 0; i < 256; ++i) map[i] = i < used ? palette[i].red : 0;
  return true;
}

class vxWIFImage : public vxRWImage {
 public:
  vxWIFImage() {
    SetIdentity(TypeWIF, 3, "WIF|VXW", "VX Wavelet Image File|Lunark Wavelet");
  }

  int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header, vxRGBA** palette,
           unsigned char** bits, void* options) override;
  int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette,
            unsigned char* bits, void* options) override;
  int GetFileInfo(const char* fileName, vxFileInfo* info) override;
  void* OutOptions() override { return vxRunOptionsDialog(TypeWIF); }
};

int vxWIFImage::Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header,
                     vxRGBA** palette, unsigned char** bits, void* /*options*/) {
  FILE* file = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!file) {
    vxSetLastError("cannot open the file");
    return vxCannotOpen;
  }
  wif::Header h;
  if (!ReadWifHeader(file, h)) {
    std::fclose(file);
    vxSetLastError("not a WIF file");
    return vxNotRecognised;
  }
  if (h.width == 0 || h.height == 0) {
    std::fclose(file);
    wif::ReportFatal(wif::kMsgWrongFormat);
    vxSetLastError("WIF header with a zero width or height");
    return vxNotRecognised;
  }
  const bool colour = IsColourKind(h.kind);
  // Kinds 7 and 8 pass here and are turned away by the decoder. A header
  // whose buffers would exceed the memory ceiling is refused before anything
  // is allocated.
  if (h.levels != 0 && (h.kind == wif::kKindGrey || h.kind == wif::kKindColour) &&
      !wif::FitsMemoryCeiling(h)) {
    std::fclose(file);
    wif::ReportFatal(wif::kMsgExpanse);
    vxSetLastError("WIF picture too large: its buffers would exceed the memory ceiling");
    return vxNoMemory;
  }
  const long long length = vxStreamLength(file);
  if (h.levels != 0 && length >= 0 &&
      static_cast<uint64_t>(length) + kPastEndSlack < MinimumStreamBytes(h)) {
    std::fclose(file);
    vxSetLastError("truncated WIF file: " + std::to_string(length) + " bytes cannot hold a " +
                   std::to_string(h.width) + " x " + std::to_string(h.height) + " picture");
    return vxNotRecognised;
  }
  vxBitmapInfoHeader* block = vxAllocateBlock(h.width, h.height, colour ? 24 : 8, colour ? 0 : 256);
  if (!block) {
    std::fclose(file);
    return vxNoMemory;
  }
  if (!colour) vxSetGreyRamp(vxBlockPalette(block), 256);

  wif::ByteSource source(file);
  wif::decoder decode(source, vxBlockBits(block));
  decode.Expect(h.width, h.height, colour);
  const wif::Status status = decode.Run();
  std::fclose(file);
  if (status != wif::Status::Ok) {
    vxFreeBlock(block);
    SetReadFailure(status);
    return wif::ToResult(status);
  }
  *header = block;
  *palette = vxBlockPalette(block);
  *bits = vxBlockBits(block);
  if (byteCount) *byteCount = static_cast<int>(std::min<uint64_t>(decode.BytesConsumed(), 0x7FFFFFFF));
  return vxOK;
}

// Checks the quality and the levels of the save options (or the defaults)
// and puts them into the request; false, with the reason set, when they are
// outside the format's bounds.
bool TakeOptions(const vxSaveOptions* options, wif::EncodeRequest& request) {
  request.quality = options ? options->quality : vxDefaultWifQuality;
  request.levels = options ? options->levels : 0;
  if (request.quality < wif::kMinQuality || request.quality > wif::kMaxQuality) {
    vxSetLastError("WIF quality must be from 1 to 255, not " + std::to_string(request.quality));
    return false;
  }
  if (request.levels < 0 || request.levels > wif::kMaxWriterLevels) {
    vxSetLastError("WIF wavelet levels must be from 1 to 8, not " + std::to_string(request.levels));
    return false;
  }
  return true;
}

bool FitsWif(int width, int height) {
  if (width < 1 || height < 1 || width > wif::kMaxSide || height > wif::kMaxSide) {
    vxSetLastError("WIF pictures are at most 65535 x 65535 pixels");
    return false;
  }
  return true;
}

// Encodes the request into the file `fileName`.
int EncodeToFile(const char* fileName, const wif::EncodeRequest& request) {
  FILE* file = vxOpenWritten(fileName);
  if (!file) {
    vxSetLastError("cannot create the file");
    return vxCannotOpen;
  }
  wif::ByteSink sink(file);
  wif::Compress compress(sink);
  const wif::Status status = compress.Run(request);
  const bool flushed = sink.Flush();
  const int closed = vxCloseWritten(file);
  if (status == wif::Status::NoMemory) {
    vxSetLastError("not enough memory to compress the picture");
    return vxNoMemory;
  }
  if (status != wif::Status::Ok || !flushed || closed != 0) {
    vxSetLastError("the WIF file could not be written");
    return vxCannotOpen;
  }
  return vxOK;
}

int vxWIFImage::Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette,
                      unsigned char* bits, void* options) {
  if (!fileName || !header || !bits) return vxCannotOpen;
  if (header->bitCount != 8 && header->bitCount != 24) {
    vxSetLastError("WIF holds 8-bit grey or 24-bit colour pictures only");
    return vxCannotOpen;
  }
  wif::EncodeRequest request;
  if (!FitsWif(header->width, header->height) ||
      !TakeOptions(static_cast<const vxSaveOptions*>(options), request)) {
    return vxCannotOpen;
  }
  request.pixels = bits;
  request.colour = header->bitCount == 24;
  request.width = header->width;
  request.height = header->height;
  uint8_t greyMap[256];
  if (!request.colour && GreyMapFor(header, palette, greyMap)) request.greyMap = greyMap;
  return EncodeToFile(fileName, request);
}

int vxWIFImage::GetFileInfo(const char* fileName, vxFileInfo* info) {
  FILE* file = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!file) return vxCannotOpen;
  wif::Header h;
  const bool ok = ReadWifHeader(file, h);
  const long long length = vxStreamLength(file);
  std::fclose(file);
  if (!ok || h.width == 0 || h.height == 0) return vxNotRecognised;
  info->width = h.width;
  info->height = h.height;
  info->bitsPerPixel = IsColourKind(h.kind) ? 24 : 8;
  info->fileSize = static_cast<uint32_t>(length < 0 ? 0 : std::min<long long>(length, 0xFFFFFFFFll));
  return vxOK;
}

}  // namespace

vxRWImage* vxCreateWIF() { return new vxWIFImage; }

int vxReadWifReduced(const char* fileName, int levels, vxBitmapInfoHeader** header,
                     int* fullWidth, int* fullHeight) {
  if (!header || levels < 0 || levels > 3) return vxNotRecognised;
  FILE* file = fileName ? std::fopen(fileName, "rb") : nullptr;
  if (!file) {
    vxSetLastError("cannot open the file");
    return vxCannotOpen;
  }
  wif::Header h;
  const bool recognised = ReadWifHeader(file, h);
  const long long length = vxStreamLength(file);
  if (!recognised || h.width == 0 || h.height == 0 ||
      (h.kind != wif::kKindGrey && h.kind != wif::kKindColour) || h.levels == 0 ||
      levels > h.levels || length < 0) {
    std::fclose(file);
    vxSetLastError("not a WIF file that can be decoded at a reduced size");
    return vxNotRecognised;
  }
  const bool colour = h.kind == wif::kKindColour;
  if (!wif::FitsMemoryCeiling(h) || static_cast<uint64_t>(length) > vxMaxImageBytes()) {
    std::fclose(file);
    vxSetLastError("WIF picture too large: its buffers would exceed the memory ceiling");
    return vxNoMemory;
  }
  const int width = wif::ReducedSide(h.width, levels);
  const int height = wif::ReducedSide(h.height, levels);
  vxBitmapInfoHeader* block = vxAllocateBlock(width, height, colour ? 24 : 8, colour ? 0 : 256);
  if (!block) {
    std::fclose(file);
    return vxNoMemory;
  }
  if (!colour) vxSetGreyRamp(vxBlockPalette(block), 256);

  wif::Status status = wif::Status::Corrupt;
  if (levels == 0) {
    wif::ByteSource source(file);
    wif::decoder decode(source, vxBlockBits(block));
    decode.Expect(h.width, h.height, colour);
    status = decode.Run();
    std::fclose(file);
  } else {
    // The coarse sections are read from memory: the stream is a fraction of
    // the picture's size, and the sections are found by their lengths.
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    const bool read = std::fseek(file, 0, SEEK_SET) == 0 &&
                      std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    if (read) status = wif::DecodeReduced(bytes.data(), bytes.size(), levels, vxBlockBits(block));
  }
  if (status != wif::Status::Ok) {
    vxFreeBlock(block);
    SetReadFailure(status);
    return wif::ToResult(status);
  }
  *header = block;
  if (fullWidth) *fullWidth = h.width;
  if (fullHeight) *fullHeight = h.height;
  return vxOK;
}

bool vxConvertPortableMapToWif(const char* input, const char* output, const vxSaveOptions* options,
                               int* result, int* bitCount) {
  vxPortableMapView view;
  if (!input || !output || !vxMapPortableMap(input, view)) return false;
  // Pictures beyond the memory ceiling go the usual way, which refuses them.
  const uint64_t pixelBytes =
      static_cast<uint64_t>(wif::RowStride(view.width, view.channels == 3)) * view.height;
  if (pixelBytes > vxMaxImageBytes()) return false;
  if (bitCount) *bitCount = view.channels == 3 ? 24 : 8;
  vxNoticeFileScope scope(output);
  vxClearLastError();
  wif::EncodeRequest request;
  if (!FitsWif(view.width, view.height) || !TakeOptions(options, request)) {
    *result = vxCannotOpen;
    return true;
  }
  // Buffer row 0 is the bottom line, as in an image loaded from the file.
  const ptrdiff_t line = static_cast<ptrdiff_t>(view.width) * view.channels;
  request.pixels = view.samples + line * (view.height - 1);
  request.stride = -line;
  request.rgb = true;
  request.colour = view.channels == 3;
  request.width = view.width;
  request.height = view.height;
  request.greyMap = view.greyLevels;
  *result = vxWriteReplacing(output, [&](const char* tempPath) {
    const int written = EncodeToFile(tempPath, request);
    if (written == vxOK && view.file.Damaged()) {
      vxSetLastError(std::string("the input file ") + input + " was cut short while it was read");
      return static_cast<int>(vxNotRecognised);
    }
    return written;
  });
  return true;
}

namespace {

// Writes the `count` pieces of `pieces` one after another at `offset` of
// `fd`; false when a write failed.
bool WriteAt(int fd, iovec* pieces, int count, off_t offset) {
  while (count > 0) {
    const ssize_t n = pwritev(fd, pieces, std::min(count, IOV_MAX), offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    offset += n;
    // Past the pieces written whole, into the one written in part.
    size_t done = static_cast<size_t>(n);
    while (count > 0 && done >= pieces->iov_len) {
      done -= pieces->iov_len;
      ++pieces;
      --count;
    }
    if (count > 0) {
      pieces->iov_base = static_cast<uint8_t*>(pieces->iov_base) + done;
      pieces->iov_len -= done;
    }
  }
  return true;
}

}  // namespace

bool vxConvertWifToPortableMap(const char* input, const char* output, int type, int* result,
                               bool* inputFailed) {
  if (!input || !output || (type != TypePPM && type != TypePGM)) return false;
  FILE* file = std::fopen(input, "rb");
  if (!file) return false;
  wif::Header h;
  const bool recognised = ReadWifHeader(file, h);
  const long long length = vxStreamLength(file);
  const bool colour = h.kind == wif::kKindColour;
  // Anything the reader refuses or treats apart goes its way, and so do
  // pictures whose three planes held at once would weigh more than the
  // picture and one plane the reader holds.
  const wif::PlaneLayout layout = wif::LumaLayout(h.width, h.height, h.levels, h.split);
  const uint64_t planeBytes = h.levels != 0 ? wif::PlaneBufferBytes(layout.pw2, layout.ph2) : 0;
  if (!recognised || h.width == 0 || h.height == 0 || h.levels == 0 ||
      (h.kind != wif::kKindGrey && !colour) || colour != (type == TypePPM) ||
      !wif::FitsMemoryCeiling(h) || 3 * planeBytes > 2 * vxMaxImageBytes() || length < 0 ||
      static_cast<uint64_t>(length) + kPastEndSlack < MinimumStreamBytes(h) ||
      static_cast<uint64_t>(wif::RowStride(h.width, colour)) * h.height > vxMaxImageBytes()) {
    std::fclose(file);
    return false;
  }
  *inputFailed = false;
  vxNoticeFileScope scope(input);
  vxClearLastError();
  const std::string head = vxPortableMapHeader(colour ? '6' : '5', h.width, h.height);
  const size_t line = static_cast<size_t>(h.width) * (colour ? 3 : 1);
  *result = vxWriteReplacing(output, [&](const char* tempPath) {
    const int fd = open(tempPath, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      vxSetLastError("cannot create the file");
      return static_cast<int>(vxCannotOpen);
    }
    iovec header{const_cast<char*>(head.data()), head.size()};
    std::atomic<bool> written{WriteAt(fd, &header, 1, 0)};  // bands come from two threads
    // Coded row 0 is the picture's bottom line, the file's last: a band's
    // rows go to the file in the reverse of their order.
    wif::ByteSource source(file);
    wif::decoder decode(source, nullptr);
    decode.Expect(h.width, h.height, colour);
    decode.SetRedFirst(true);
    decode.SetBandOutput([&](uint8_t* rows, int64_t first, int64_t count) {
      const size_t stride = wif::RowStride(h.width, colour);
      std::vector<iovec> pieces(static_cast<size_t>(count));
      for (int64_t i = 0; i < count; ++i) {
        pieces[static_cast<size_t>(i)] =
            iovec{rows + stride * static_cast<size_t>(count - 1 - i), line};
      }
      const off_t at = static_cast<off_t>(head.size() + line * (h.height - first - count));
      if (WriteAt(fd, pieces.data(), static_cast<int>(count), at)) return true;
      written = false;
      return false;
    });
    const wif::Status status = written ? decode.Run() : wif::Status::Failed;
    if (close(fd) != 0 || !written) {
      vxSetLastError("the file could not be written");
      return static_cast<int>(vxCannotOpen);
    }
    if (status != wif::Status::Ok) {
      SetReadFailure(status);
      *inputFailed = true;
      return wif::ToResult(status);
    }
    return static_cast<int>(vxOK);
  });
  std::fclose(file);
  return true;
}
