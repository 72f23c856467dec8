// The Orientation tag of a camera's Exif block.
//
// An APP1 segment that starts with "Exif\0\0" holds a small TIFF structure:
//
//   "II" 2A 00 | "MM" 00 2A     byte order and magic
//   offset of directory 0       (4 bytes, from the start of the TIFF header)
//   directory: entry count (2 bytes), then 12-byte entries
//     tag (2), type (2), count (4), value or offset (4)
//
// Orientation is tag 0x0112 in directory 0, one SHORT (type 3) whose value
// sits in the first two bytes of the value field.
#pragma once

#include <cstddef>

// The Orientation (1 to 8) stated by an APP1 segment, given as the segment's
// bytes after its length field; 0 when the segment is not Exif or states no
// valid Orientation. Reads nothing outside [data, data + size).
int vxExifOrientation(const unsigned char* data, size_t size);
