// Shared set-up of the fuzz targets: the readers take file names, so every
// input is written to one private file on a memory file system first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/image.h"

namespace fuzz {

// Caps allocations well below libFuzzer's memory limit and silences notices.
void Init();
// Writes the input to this process's scratch file and returns its path.
const std::string& WriteInput(const uint8_t* data, size_t size);
// A path for a second scratch file (for writers).
const std::string& ScratchPath(const char* suffix);
// Reads every pixel byte of a block so that an undersized block shows up.
unsigned Touch(const vxBitmapInfoHeader* header, const unsigned char* bits);

}  // namespace fuzz
