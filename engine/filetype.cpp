// Type detection by content. The file's first 40 bytes are matched against
// the magic table, row by row in its order; the first row whose every byte
// matches names the type. The extension plays no part.
#include <array>
#include <cstdio>
#include <cstring>

#include "engine/image.h"
#include "formats/registry.h"

namespace {

constexpr int kHeadBytes = 40;

struct MagicRow {
  int type;
  int offsets[9];               // ended by -1
  unsigned char bytes[8];
};

// The order matters: the short TGA and PCX patterns come last, so they are
// reached only when no longer signature matched. "BM" appears twice, as it
// always has; the second row can never match and is kept for fidelity.
constexpr MagicRow kMagic[] = {
    {TypeWIF, {0, 1, -1}, {0x57, 0x35}},                                       // W5
    {TypeWIF, {0, 1, -1}, {0x57, 0x36}},                                       // W6
    {TypeWIF, {0, 1, -1}, {0x57, 0x37}},                                       // W7
    {TypeWIF, {0, 1, -1}, {0x57, 0x38}},                                       // W8
    {TypePGM, {0, 1, -1}, {0x50, 0x35}},                                       // P5
    {TypePPM, {0, 1, -1}, {0x50, 0x36}},                                       // P6
    {TypeBMP, {0, 1, -1}, {0x42, 0x4D}},                                       // BM
    {TypeGIF, {0, 1, 2, 3, 4, 5, -1}, {0x47, 0x49, 0x46, 0x38, 0x37, 0x61}},  // GIF87a
    {TypeGIF, {0, 1, 2, 3, 4, 5, -1}, {0x47, 0x49, 0x46, 0x38, 0x39, 0x61}},  // GIF89a
    {TypeBMP, {0, 1, -1}, {0x42, 0x4D}},                                       // BM
    {TypeTIFF, {0, 1, 2, 3, -1}, {0x49, 0x49, 0x2A, 0x00}},                   // II*.
    {TypeTIFF, {0, 1, 2, 3, -1}, {0x4D, 0x4D, 0x00, 0x2A}},                   // MM.*
    {TypeTGA, {0, 1, 2, -1}, {0x00, 0x01, 0x01}},
    {TypeTGA, {0, 1, 2, 3, 4, 5, 6, 7, -1}, {0x00, 0x00, 0x02, 0, 0, 0, 0, 0}},
    {TypeTGA, {0, 1, 2, 3, 4, 5, 6, 7, -1}, {0x00, 0x00, 0x03, 0, 0, 0, 0, 0}},
    {TypeJPEG, {0, 1, -1}, {0xFF, 0xD8}},
    {TypePCX, {0, -1}, {0x0A}},
    // Run-length Targa files, which the reader handles but the rows above
    // do not name.
    {TypeTGA, {0, 1, 2, -1}, {0x00, 0x01, 0x09}},
    {TypeTGA, {0, 1, 2, 3, 4, 5, 6, 7, -1}, {0x00, 0x00, 0x0A, 0, 0, 0, 0, 0}},
    {TypeTGA, {0, 1, 2, 3, 4, 5, 6, 7, -1}, {0x00, 0x00, 0x0B, 0, 0, 0, 0, 0}},
};

bool RowMatches(const MagicRow& row, const unsigned char* head, size_t got) {
  for (int i = 0; row.offsets[i] >= 0; ++i) {
    const auto offset = static_cast<size_t>(row.offsets[i]);
    if (offset >= got || head[offset] != row.bytes[i]) return false;
  }
  return true;
}

int Detect(const unsigned char* head, size_t got, long long fileSize) {
  for (const MagicRow& row : kMagic) {
    if (RowMatches(row, head, got)) return row.type;
  }
  // Targa has no signature; a header that is consistent in every field is
  // taken as one (an image-ID field or an unusual map pushes such files past
  // the fixed rows).
  if (vxTgaHeaderPlausible(head, got, fileSize)) return TypeTGA;
  return -1;
}

}  // namespace

int vxImage::GetFileType(FILE* stream) {
  if (!stream) return -1;
  unsigned char head[kHeadBytes];
  const long start = std::ftell(stream);
  const size_t got = std::fread(head, 1, kHeadBytes, stream);
  long long fileSize = -1;
  if (start >= 0 && std::fseek(stream, 0, SEEK_END) == 0) fileSize = std::ftell(stream);
  if (start >= 0) std::fseek(stream, start, SEEK_SET);
  return Detect(head, got, fileSize);
}

int vxImage::GetFileType(const char* fileName) {
  if (!fileName) return -1;
  FILE* f = std::fopen(fileName, "rb");
  if (!f) return -1;
  const int type = GetFileType(f);
  std::fclose(f);
  return type;
}
