// The reader/writer framework: one class per file format, derived from
// vxRWImage, made by vxImage::CreateRWImage for one load, save, information
// or options call and destroyed after it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/image.h"

// Result codes shared by every format.
enum vxRWResult : int {
  vxOK = 0,
  vxCannotOpen = -1,    // the file cannot be opened or created, or a write failed
  vxNotRecognised = -2, // the header or the data is not recognised
  vxNoMemory = -3,      // the block cannot be allocated (or exceeds the ceiling)
};

class vxRWRoot {
 public:
  virtual ~vxRWRoot() = default;
  int32_t status = 0;
};

class vxRWImage : public vxRWRoot {
 public:
  int32_t bigEndian = 0;  // byte order of the word and long operations
  int32_t typeId = 0;
  int32_t attribute1 = 1;
  int32_t attribute2 = 3;
  const char* extensions = "";    // upper case, separated by "|"
  const char* descriptions = "";  // in the order of the extensions

  ~vxRWImage() override = default;

  // Reads the file into a new block (layout of vxImage) and stores the
  // block, its palette and its first row through the pointers; byteCount gets
  // the bytes consumed. On failure the out-parameters are not written.
  virtual int Read(const char* fileName, int* byteCount, vxBitmapInfoHeader** header,
                   vxRGBA** palette, unsigned char** bits, void* options) = 0;
  // Creates (or truncates) the file and writes the image. Returns 0, or -1
  // when the file cannot be created or any write, flush or close failed.
  virtual int Write(const char* fileName, vxBitmapInfoHeader* header, vxRGBA* palette,
                    unsigned char* bits, void* options) = 0;
  virtual int GetFileInfo(const char* fileName, vxFileInfo* info) = 0;
  virtual void* InOptions();
  virtual void* OutOptions();

  // Byte-level operations on an open stream. End of file reads as -1 in
  // ReadByte; ReadWord and ReadLong then give all-ones bits for the missing
  // bytes, so callers check feof() when it matters.
  int ReadByte(FILE* stream);
  void WriteByte(FILE* stream, int value);
  uint16_t ReadWord(FILE* stream);
  uint32_t ReadLong(FILE* stream);
  void WriteWord(FILE* stream, uint16_t value);
  void WriteLong(FILE* stream, uint32_t value);

 protected:
  void SetIdentity(int type, int attr2, const char* exts, const char* descs);
};

// Opens a file for writing from its start, creating it when missing (as
// fopen's "wb"). A file that is already empty, such as the fresh temporary
// file a save writes into, is not truncated again: truncating makes ext4
// write the whole file back when it is closed, a wait as long as an fsync on
// every save. The descriptor form serves writers that need one; both are
// close-on-exec. nullptr or -1 on failure, with errno set.
FILE* vxOpenWritten(const char* fileName);
int vxOpenWrittenFd(const char* fileName);

// Copies `pixels` three-byte pixels from `in` to `out` with the first and
// third bytes exchanged (blue-green-red to red-green-blue and back). The two
// must not overlap.
void vxSwapRedBlue(const unsigned char* in, unsigned char* out, size_t pixels);

// Closes a stream that was written and reports whether everything reached
// the file: 0, or -1 when a write failed (the stream's error flag), or the
// flush or the close failed. The stream is closed in every case.
int vxCloseWritten(FILE* stream);

// The length of an open file in bytes (the position is kept), or -1.
long long vxStreamLength(FILE* stream);
