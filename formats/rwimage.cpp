#include "formats/rwimage.h"

#include <fcntl.h>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
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

namespace {

void SwapRedBluePlain(const unsigned char* in, unsigned char* out, size_t pixels) {
  for (size_t i = 0; i < 3 * pixels; i += 3) {
    out[i + 0] = in[i + 2];
    out[i + 1] = in[i + 1];
    out[i + 2] = in[i + 0];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per 16-byte load and store; the sixteenth byte stored is the
// next pixel's first, unswapped, and the next store (or the plain tail)
// writes it again. The loop stops while a whole 16 bytes remain in both.
__attribute__((target("ssse3"))) void SwapRedBlueSsse3(const unsigned char* in,
                                                       unsigned char* out, size_t pixels) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  size_t i = 0;
  for (; i + 6 <= pixels; i += 5) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(v, order));
  }
  SwapRedBluePlain(in + 3 * i, out + 3 * i, pixels - i);
}
#endif

}  // namespace

void vxSwapRedBlue(const unsigned char* in, unsigned char* out, size_t pixels) {
#if defined(__x86_64__) || defined(__i386__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) {
    SwapRedBlueSsse3(in, out, pixels);
    return;
  }
#endif
  SwapRedBluePlain(in, out, pixels);
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
