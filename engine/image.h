// The engine's in-memory picture and its public interface.
//
// A vxImage holds one picture as a device-independent bitmap in a single heap
// block:
//
//   +---------------------------+  header  (vxBitmapInfoHeader, 40 bytes)
//   | size, width, height, ...  |
//   +---------------------------+  palette (coloursUsed x vxRGBA; none for 24-bit)
//   | blue green red reserved   |
//   +---------------------------+  bits    (rows bottom-up, each padded to 4 bytes)
//   | row 0 = bottom line       |
//   | ...                       |
//   | row height-1 = top line   |
//   | one spare row             |
//   +---------------------------+
//
// 8-bit pixels are palette indices, 24-bit pixels are blue, green, red bytes.
// Every coordinate y in this interface is a memory row: y = 0 is the bottom
// line of the picture.
//
// The block belongs to the image and is released only by Delete(), never by
// the destructor: operations that build a result in a temporary image move
// the temporary's block into `this` and then destroy the temporary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class vxRWImage;

// Palette entry; the layout of a Windows RGBQUAD.
struct vxRGBA {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  uint8_t reserved;
};
static_assert(sizeof(vxRGBA) == 4);

// The 40-byte information header, with the BITMAPINFOHEADER layout.
struct vxBitmapInfoHeader {
  uint32_t size;            // always 40
  int32_t width;
  int32_t height;           // always positive: rows are bottom-up
  uint16_t planes;          // always 1
  uint16_t bitCount;        // 8 or 24 (4 and 1 exist in the writers)
  uint32_t compression;     // always 0 in memory
  uint32_t imageSize;
  int32_t xPelsPerMeter;
  int32_t yPelsPerMeter;
  uint32_t coloursUsed;
  uint32_t coloursImportant;
};
static_assert(sizeof(vxBitmapInfoHeader) == 40);

// File information reported without decoding the picture.
struct vxFileInfo {
  uint16_t width;
  uint16_t height;
  uint8_t bitsPerPixel;
  uint32_t fileSize;
};

// The integer that names a file format everywhere in the engine and the viewer.
enum vxTypeId : int {
  TypeWIF = 1,
  TypeBMP = 2,
  TypePCX = 3,
  TypePPM = 4,
  TypePGM = 5,
  TypeTIFF = 7,
  TypeTGA = 8,
  TypeGIF = 11,
  TypeJPEG = 12,
};

// How a 24-bit picture is reduced to 256 colours for a palette display.
enum vxColorReduction : int {
  MedianCut = 0,
  QuickDither = 1,
  BestQuantization = 2,
  FastQuantization = 3,
};

struct vxSize {
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const vxSize&) const = default;
};

// A logical palette as the display adapter consumes it (the layout of a
// LOGPALETTE): version 0x300, the entry count, then red, green, blue, flags.
struct vxPaletteEntry {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t flags;
};
struct vxLogicalPalette {
  uint16_t version;
  uint16_t count;
  vxPaletteEntry entries[1];  // `count` entries follow
};

// Row stride in bytes of a row `width` pixels wide at `bitCount` bits per
// pixel, padded to a multiple of 4. Computed in full width: rows longer than
// 32767 bytes are fine. 4-bit rows are packed two pixels per byte; 1-bit
// images are held with one byte per pixel.
size_t vxRowStride(int64_t width, int bitCount);

// Allocates a zero-filled image block for width x height pixels at bitCount
// with `colours` palette entries, one spare row beyond the last, and fills its
// header (size 40, planes 1, compression 0, resolutions 1, colours used and
// important = colours). Returns null when a dimension is not positive, when
// the size overflows, when the pixel area exceeds vxMaxImageBytes(), or when
// memory is short. Release the block with vxFreeBlock.
vxBitmapInfoHeader* vxAllocateBlock(int64_t width, int64_t height, int bitCount, int colours);
void vxFreeBlock(void* block);

// Palette and pixel pointers of a block made by vxAllocateBlock.
inline vxRGBA* vxBlockPalette(vxBitmapInfoHeader* block) {
  return reinterpret_cast<vxRGBA*>(reinterpret_cast<unsigned char*>(block) + 40);
}
inline unsigned char* vxBlockBits(vxBitmapInfoHeader* block) {
  return reinterpret_cast<unsigned char*>(vxBlockPalette(block) + block->coloursUsed);
}

// The ceiling on the pixel area of one image, 1 GiB by default. Readers refuse
// pictures above it before allocating; the command line can raise it.
uint64_t vxMaxImageBytes();
void vxSetMaxImageBytes(uint64_t bytes);

// Sets every entry of `palette` to the grey ramp: entry i = (i, i, i, 0).
void vxSetGreyRamp(vxRGBA* palette, int count);

class vxImageBase {
 public:
  virtual ~vxImageBase() = default;
};

class vxImage : public vxImageBase {
 public:
  vxBitmapInfoHeader* header = nullptr;
  vxRGBA* palette = nullptr;
  unsigned char* bits = nullptr;
  vxLogicalPalette* paletteHandle = nullptr;
  vxBitmapInfoHeader* altHeader = nullptr;
  vxRGBA* altPalette = nullptr;
  unsigned char* altBits = nullptr;
  int32_t loadedBytes = 0;
  int32_t streamX = 0;
  int32_t streamY = 0;

  vxImage() = default;
  explicit vxImage(const char* fileName);
  ~vxImage() override = default;
  vxImage(const vxImage&) = delete;
  vxImage& operator=(const vxImage&) = delete;

  // Frees the image block, the 8-bit display copy and the palette handle.
  void Delete();
  // 1, or 0 when the block cannot be allocated. Does not release an old block.
  int Create(int width, int height, int bitCount, int colours);

  // Type detection by content: a type id, or -1.
  static int GetFileType(const char* fileName);
  static int GetFileType(FILE* stream);
  // A new reader/writer for the type id (the caller owns it), or null.
  static vxRWImage* CreateRWImage(int type);

  // 0 on success; -1 cannot open or not recognised; -2 corrupt; -3 no
  // reader or no memory. On failure the image keeps its previous block.
  int LoadImage(const char* fileName);
  // Writes the image in the format `type` through a temporary file beside the
  // target, renamed into place only when the writer succeeded: a failed save
  // never destroys an existing file. Returns the writer's result (0 success),
  // or vxSaveCancelled when the WIF options dialog was cancelled.
  int SaveImage(const char* fileName, int type);
  int SaveImage(const char* fileName, int type, void* options);
  static void* GetInOptions(int type);
  static void* GetOutOptions(int type);
  // 0, or negative; the record is untouched on failure.
  static int GetInfo(const char* fileName, vxFileInfo* info);

  vxSize GetSize() const;

  int GetColor(int x, int y, unsigned char* index) const;
  int GetColor(int x, int y, unsigned char* red, unsigned char* green, unsigned char* blue) const;
  int SetColor(int x, int y, unsigned char index);
  int SetColor(int x, int y, unsigned char red, unsigned char green, unsigned char blue);
  void InitializePos();
  int StreamColor(unsigned char index);
  int StreamColor(unsigned char red, unsigned char green, unsigned char blue);

  // Makes paletteHandle from `count` entries: 1, or 0 when memory is short.
  int CreateRGBPalette(int count, const vxRGBA* entries);

  // Colour-depth conversions.
  int Make24Bit();
  int MakeGrayScale();
  int MakeLinearGray();
  int Make8Bit();
  int Create8bitColor(int colours, vxColorReduction method);
  int SwapRB();
  int IsGrayScale() const;
  int IsColorMapSorted() const;
  int ApplyColorMap();
  int InvertColor();

  // Geometry.
  int ZoomImage(int width, int height);
  int Rotate(int angle);
  int Flip(int mode);

  // Tone and filters.
  int Brightness(const vxRGBA* source, int amount);
  int Contrast(const vxRGBA* source, int amount);
  int Filter(int index);

  // Conveniences over the header (the image must not be empty).
  int Width() const { return header->width; }
  int Height() const { return header->height; }
  int BitCount() const { return header->bitCount; }
  int ColoursUsed() const { return static_cast<int>(header->coloursUsed); }
  size_t Stride() const { return vxRowStride(header->width, header->bitCount); }
  unsigned char* Row(int y) { return bits + Stride() * static_cast<size_t>(y); }
  const unsigned char* Row(int y) const { return bits + Stride() * static_cast<size_t>(y); }
  bool IsEmpty() const { return header == nullptr; }
  // The palette entry of `index`; black for an index at or beyond colours used.
  vxRGBA PaletteEntry(int index) const;
  // True for an 8-bit image whose palette is exactly the 256-entry grey ramp,
  // so that index and grey level coincide.
  bool IsGreyRamp() const;

  // Releases this image's block (and display copy) and adopts `block`, made
  // by vxAllocateBlock, setting the palette and pixel pointers from it.
  void AdoptBlock(vxBitmapInfoHeader* block);
  // Takes over the block of `other`, which becomes empty.
  void TakeBlock(vxImage& other);
};

// An image that releases its block when it goes out of scope, for owners
// that hold an image only for the length of a call.
class vxScopedImage : public vxImage {
 public:
  using vxImage::vxImage;
  ~vxScopedImage() override { Delete(); }
};

// SaveImage result when the options dialog was cancelled and nothing was written.
inline constexpr int vxSaveCancelled = -5;
