#include "formats/output_depth.h"

int vxConvertForOutput(vxImage& image, int type) {
  if (image.IsEmpty()) return -1;
  const bool is24 = image.BitCount() == 24;
  const bool grey = image.IsGrayScale() != 0;
  int result = 1;
  switch (type) {
    case TypeWIF:
    case TypeJPEG:
      if (is24 || grey) return 0;
      result = image.Make24Bit();
      break;
    case TypePPM:
      if (is24) return 0;
      result = image.Make24Bit();
      break;
    case TypePGM:
      if (is24) {
        result = image.Make8Bit();
      } else if (!grey) {
        result = image.MakeGrayScale();
      } else {
        return 0;
      }
      break;
    default:
      return 0;
  }
  return result == 1 ? 1 : (result < 0 ? result : -1);
}

int vxLinearizeGrey(vxImage& image) {
  if (image.IsEmpty() || image.BitCount() != 8) return 0;
  if (!image.IsGrayScale() || image.IsGreyRamp()) return 0;
  return image.MakeLinearGray() == 1 ? 1 : 0;
}
