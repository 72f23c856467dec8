// Colour-depth rules shared by every converter (the command line, batch
// conversion and the viewer's batch dialog).
#pragma once

#include "engine/image.h"

// Converts the image to the depth the output type needs:
//   WIF, JPEG: a palette image that is not grey becomes 24-bit;
//   PPM:       anything not 24-bit becomes 24-bit;
//   PGM:       24-bit becomes grey (luminance), a colour palette becomes grey.
// Other types take the image as it is. Returns 1 when the image was
// converted, 0 when it was not, negative when a conversion failed.
int vxConvertForOutput(vxImage& image, int type);

// A grey palette image whose palette is not the identity ramp (a grey GIF
// with 64 greys, a BMP that lists only the greys it uses, a reversed ramp) is
// rewritten so that index and grey level coincide. Anything that treats
// indices as grey levels needs this first. Returns 1 when the image changed.
int vxLinearizeGrey(vxImage& image);
