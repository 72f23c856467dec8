// Helpers of the batch dialog and preferences tests: small pictures on disk
// and a scratch folder.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <string>

#include "engine/image.h"
#include "formats/rwimage.h"

namespace batch_test {

inline std::string Native(const QString& path) { return QFile::encodeName(path).toStdString(); }

enum class Kind { Colour24, Grey8, Palette8 };

// A small picture: 24-bit colour, 8-bit grey ramp, or 8-bit with a colour
// palette, written as `type`.
inline bool WriteImage(const QString& path, Kind kind, int type = TypeBMP, int width = 23,
                       int height = 11) {
  vxScopedImage image;
  const int bits = kind == Kind::Colour24 ? 24 : 8;
  if (!image.Create(width, height, bits, bits == 8 ? 256 : 0)) return false;
  if (kind == Kind::Palette8) {
    for (int i = 0; i < 256; ++i) {
      image.palette[i] = vxRGBA{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                                static_cast<uint8_t>(i * 7), 0};
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto v = static_cast<unsigned char>((x * 11 + y * 23) & 0xFF);
      if (bits == 24) {
        image.SetColor(x, y, v, static_cast<unsigned char>(255 - v),
                       static_cast<unsigned char>(x * 9));
      } else {
        image.SetColor(x, y, v);
      }
    }
  }
  return image.SaveImage(Native(path).c_str(), type, nullptr) == 0;
}

inline bool WriteText(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace batch_test
