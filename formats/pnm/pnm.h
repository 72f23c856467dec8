// Binary portable maps: P5 (grey, type PGM) and P6 (colour, type PPM).
//
//   "P5" or "P6", whitespace, width, whitespace, height, whitespace, maximum
//   sample value, exactly one whitespace byte, then the samples, top line
//   first. Samples are one byte when the maximum is at most 255 and two bytes,
//   most significant first, above it. "#" starts a comment that runs to the
//   end of its line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/mapped_file.h"

// Reads a portable-map header from the stream's current position. Fills the
// two magic characters (no terminating zero), the width, the height and the
// maximum sample value, and leaves the stream on the first sample byte.
// Returns 0, or -1 when the stream ends inside the header or a number does
// not fit an int. Nothing is validated beyond that: callers check the magic
// and the ranges.
int ReadPNMHeader(FILE* stream, char* magic, int* width, int* height, int* maxValue);

// The header the writers put before the samples: "P5" or "P6" (the magic
// digit), the width, the height and the maximum 255.
std::string vxPortableMapHeader(char magicDigit, int width, int height);

// A P5 or P6 file with one-byte samples, read in place: its samples as they
// lie in the file, top line first, `channels` bytes per pixel (red, green,
// blue) and width * channels bytes per line.
struct vxPortableMapView {
  vxMappedFile file;
  const uint8_t* samples = nullptr;
  int width = 0;
  int height = 0;
  int channels = 0;
  // Grey files: the grey level of each sample value (the scale of the
  // file's maximum), null when the samples are grey levels already.
  const uint8_t* greyLevels = nullptr;
  uint8_t scale[256] = {};
};

// Maps `fileName` when it is a P5 file with a maximum of at most 255 or a P6
// file with a maximum of 255 that holds every sample byte its header
// announces; false for anything else, which the reader then takes as usual.
bool vxMapPortableMap(const char* fileName, vxPortableMapView& view);
