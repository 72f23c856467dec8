// Binary portable maps: P5 (grey, type PGM) and P6 (colour, type PPM).
//
//   "P5" or "P6", whitespace, width, whitespace, height, whitespace, maximum
//   sample value, exactly one whitespace byte, then the samples, top line
//   first. Samples are one byte when the maximum is at most 255 and two bytes,
//   most significant first, above it. "#" starts a comment that runs to the
//   end of its line.
#pragma once

#include <cstdio>

// Reads a portable-map header from the stream's current position. Fills the
// two magic characters (no terminating zero), the width, the height and the
// maximum sample value, and leaves the stream on the first sample byte.
// Returns 0, or -1 when the stream ends inside the header or a number does
// not fit an int. Nothing is validated beyond that: callers check the magic
// and the ranges.
int ReadPNMHeader(FILE* stream, char* magic, int* width, int* height, int* maxValue);
