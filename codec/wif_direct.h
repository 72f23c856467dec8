// Converting a portable map to WIF without loading it as an image.
//
// A P5 or P6 file holds its samples as plain rows: the encoder can read them
// where they lie in the file (mapped), with neither a copy nor a picture's
// worth of fresh memory, which on a large picture is a good part of the time
// of the whole conversion. The file written is the one that loading the
// picture and saving it as WIF gives, byte for byte.
#pragma once

#include "engine/options.h"

// Converts `input` to the WIF file `output` with the save options (the
// defaults when null), replacing `output` only on success. False when
// `input` is not a portable map this can take (not P5 or P6, samples of two
// bytes, a colour maximum other than 255, cut short, or beyond the memory
// ceiling): the caller then loads it as usual. True when it was converted
// or tried: *result is then 0, or the failure code with the last error set,
// and *bitCount (when not null) the picture's depth, 8 or 24.
bool vxConvertPortableMapToWif(const char* input, const char* output, const vxSaveOptions* options,
                               int* result, int* bitCount = nullptr);
