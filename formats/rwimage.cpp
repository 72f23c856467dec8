#include "formats/rwimage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void* vxRWImage::InOptions() { return nullptr; }
void* vxRWImage::OutOptions() { return nullptr; }

void vxRWImage::SetIdentity(int type, int attr2, const char* exts, const char* descs) {
  status = 0;
  bigEndian = 0;
  typeId = type;
  attribute1 = 1;
  attribute2 = attr2;
  extensions = exts;
  descriptions = descs;
}

int vxRWImage::ReadByte(FILE* stream) { return std::fgetc(stream); }

void vxRWImage::WriteByte(FILE* stream, int value) { std::fputc(value & 0xFF, stream); }

uint16_t vxRWImage::ReadWord(FILE* stream) {
  const unsigned a = static_cast<unsigned>(std::fgetc(stream)) & 0xFF;
  const unsigned b = static_cast<unsigned>(std::fgetc(stream)) & 0xFF;
  return static_cast<uint16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
}

uint32_t vxRWImage::ReadLong(FILE* stream) {
  uint32_t bytes[4];
  for (auto& b : bytes) b = static_cast<uint32_t>(std::fgetc(stream)) & 0xFF;
  if (bigEndian) return (bytes[0] << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
  return (bytes[3] << 24) | (bytes[2] << 16) | (bytes[1] << 8) | bytes[0];
}

void vxRWImage::WriteWord(FILE* stream, uint16_t value) {
  if (bigEndian) {
    WriteByte(stream, value >> 8);
    WriteByte(stream, value);
  } else {
    WriteByte(stream, value);
    WriteByte(stream, value >> 8);
  }
}

void vxRWImage::WriteLong(FILE* stream, uint32_t value) {
  if (bigEndian) {
    WriteWord(stream, static_cast<uint16_t>(value >> 16));
    WriteWord(stream, static_cast<uint16_t>(value));
  } else {
    WriteWord(stream, static_cast<uint16_t>(value));
    WriteWord(stream, static_cast<uint16_t>(value >> 16));
  }
}

int vxOpenWrittenFd(const char* fileName) {
  if (!fileName) return -1;
  const int fd = ::open(fileName, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || (st.st_size > 0 && ::ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

FILE* vxOpenWritten(const char* fileName) {
  const int fd = vxOpenWrittenFd(fileName);
  if (fd < 0) return nullptr;
  FILE* stream = ::fdopen(fd, "wb");
  if (!stream) ::close(fd);
  return stream;
}

int vxCloseWritten(FILE* stream) {
  if (!stream) return -1;
  const bool failed = std::ferror(stream) != 0;
  const bool flushFailed = std::fflush(stream) != 0;
  const bool closeFailed = std::fclose(stream) != 0;
  return (failed || flushFailed || closeFailed) ? -1 : 0;
}

long long vxStreamLength(FILE* stream) {
  const long here = std::ftell(stream);
  if (here < 0 || std::fseek(stream, 0, SEEK_END) != 0) return -1;
  const long long length = std::ftell(stream);
  std::fseek(stream, here, SEEK_SET);
  return length;
}
