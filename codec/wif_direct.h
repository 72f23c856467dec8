// Converting between portable maps and WIF without an image between.
//
// A P5 or P6 file holds its samples as plain rows: the encoder can read them
// where they lie in the file (mapped), and the decoder can hand them to the
// file a band of rows at a time, with neither a copy nor a picture's worth
// of fresh memory, which on a large picture is a good part of the time of
// the whole conversion. The file written is the one that loading the
// picture and saving it gives, byte for byte.
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

// Decodes the WIF file `input` into the PPM (colour) or PGM (grey) file
// `output`, `type` TypePPM or TypePGM, replacing `output` only on success.
// False when the picture is not of the type's kind, or the file is one the
// WIF reader refuses or treats apart (other kinds, too short to hold the
// picture, beyond the memory ceiling): the caller then loads it as usual.
// True when it was converted or tried: *result is then 0 or the failure
// code with the last error set, and *inputFailed says whether it was the
// input that could not be read (corrupt or truncated data) rather than the
// output that could not be written.
bool vxConvertWifToPortableMap(const char* input, const char* output, int type, int* result,
                               bool* inputFailed);
