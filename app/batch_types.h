// The type lists of the batch dialog, shared with the preferences sheet that
// chooses their defaults. Both lists are shown sorted and in lower case, so
// an item's index is its place in alphabetical order.
#pragma once

#include "engine/image.h"

struct CBatchTypeItem {
  const char* label;
  int type;  // the type id, or 0 for an item that takes every recognised type
};

// "List Files of Type": which files of the input folder the file list shows.
inline constexpr CBatchTypeItem kBatchInputTypes[] = {
    {"All Files", 0},   {"All Images Types", 0}, {"BMP", TypeBMP},     {"GIF", TypeGIF},
    {"JPEG", TypeJPEG}, {"PCX", TypePCX},        {"PGM", TypePGM},     {"PPM", TypePPM},
    {"TGA", TypeTGA},   {"TIFF", TypeTIFF},      {"WIF,VXW", TypeWIF},
};
inline constexpr int kBatchInputTypeCount =
    static_cast<int>(sizeof(kBatchInputTypes) / sizeof(kBatchInputTypes[0]));
inline constexpr int kBatchAllFiles = 0;
inline constexpr int kBatchAllImageTypes = 1;

// "Type for Output Files".
inline constexpr CBatchTypeItem kBatchOutputTypes[] = {
    {"BMP", TypeBMP}, {"GIF", TypeGIF}, {"JPEG", TypeJPEG}, {"PCX", TypePCX}, {"PGM", TypePGM},
    {"PPM", TypePPM}, {"TGA", TypeTGA}, {"TIFF", TypeTIFF}, {"WIF", TypeWIF},
};
inline constexpr int kBatchOutputTypeCount =
    static_cast<int>(sizeof(kBatchOutputTypes) / sizeof(kBatchOutputTypes[0]));

// Index of a type id in the output list, or -1.
inline int BatchOutputIndex(int type) {
  for (int i = 0; i < kBatchOutputTypeCount; ++i) {
    if (kBatchOutputTypes[i].type == type) return i;
  }
  return -1;
}

// Whether a file of type `type` passes the input filter at `index`
// (0 and 1: any recognised type; a negative index: no type chosen, no files).
inline bool BatchInputFilterPasses(int index, int type) {
  if (type < 0 || index < 0 || index >= kBatchInputTypeCount) return false;
  return kBatchInputTypes[index].type == 0 || kBatchInputTypes[index].type == type;
}
