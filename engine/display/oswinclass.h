// An engine image that can draw itself into a Qt paint device.
//
// vxOSWinClass keeps, beside the image block, a cached QImage of what is
// drawn: the picture itself, or its 8-bit display copy when useAlternate is
// set, expanded to 32-bit RGB through the display colour table. The cache is
// renewed when the display is prepared (UpdateDisplay, SetDrawPalette); its
// rows are expanded, once each, when they are first drawn, so that opening a
// big picture pays only for the part on screen and a repaint only scales and
// copies pixels.
//
// The four Draw forms take the rectangles a window asks for: the whole picture
// stretched, a part unscaled, an integer magnification, and a float
// magnification with scroll positions (the form the viewer's windows use).
// Source rectangles are in picture coordinates with y = 0 at the top line.
// Magnified pixels are drawn as squares (nearest neighbour); the
// vxDrawHalftone flag asks for smooth filtering instead.
#pragma once

#include <QImage>
#include <QList>
#include <QRgb>
#include <QSize>
#include <vector>

#include "engine/image.h"

class QPainter;

// Draw flags. vxDrawBackgroundPalette marks a window that does not own the
// foreground palette; on a true-colour screen it changes nothing.
inline constexpr int vxDrawBackgroundPalette = 0x0200;
inline constexpr int vxDrawHalftone = 0x1000;

class vxOSWinClass : public vxImage {
 public:
  // When set, every Draw uses the 8-bit display copy (altHeader, altBits).
  int32_t useAlternate = 0;

  vxOSWinClass() = default;
  explicit vxOSWinClass(const char* fileName) : vxImage(fileName) {}
  ~vxOSWinClass() override = default;

  // The whole picture stretched to (0, 0, width, height).
  void Draw(QPainter& dc, int width, int height, int flags);
  // The part (left, top)-(right, bottom) unscaled at (0, 0).
  void Draw(QPainter& dc, int left, int top, int right, int bottom, int flags);
  // The window region (x, y, width, height) from the picture region
  // (x, y, width / zoom, height / zoom); nothing when zoom < 1.
  void Draw(QPainter& dc, int x, int y, int width, int height, int zoom, int flags);
  // The window (0, 0, width, height) from the picture region that starts at the
  // scroll position divided by zoom, each coordinate truncated toward zero;
  // nothing when zoom is not positive. The two plain ints are not used.
  void Draw(QPainter& dc, int width, int height, int srcX, int srcY, int, int, float zoom,
            int flags);
  void DrawPreview(QPainter&, int, int) {}
  void DrawAlternate(QPainter&, int, int, void*) {}

  // Takes paletteHandle as the colour table of the drawn block (only as many
  // entries as that block's palette holds, the rest black) and rebuilds the
  // cached picture. Returns 1, or 0 when there is nothing to draw.
  int SetDrawPalette();
  // Renews the cached picture from the drawn block and the current colour
  // table. Called after every change of the pixels.
  void UpdateDisplay();
  // Puts the palette of this window in effect; returns the number of screen
  // colours that changed, so the caller knows whether to repaint. Always 0 on
  // a true-colour screen, where every window shows its own colours.
  int RealizePalette(bool background);

  // The cached picture with all its rows expanded (null when there is nothing
  // to draw), and the 256-entry colour table used for palette pictures.
  const QImage& DisplayImage();
  // Counts the renewals of the display (UpdateDisplay): a window holding a
  // copy made from the display knows by it that the copy is stale.
  int displayGeneration() const { return displayGeneration_; }
  const QList<QRgb>& ColorTable() const { return colorTable_; }

  // The drawn picture reduced to width x height (each at least 1) by
  // averaging the pixels that each output pixel covers: what a window shows
  // below 100 %, made once per magnification instead of scaling on every
  // paint. Reads the blocks directly, so that no full-size copy is made.
  // Null when there is nothing to draw.
  QImage ReducedImage(int width, int height);
  // The image's own pixels (not the display copy) as a 32-bit picture, for
  // handing to other programs.
  QImage ToQImage() const;

  // The screen the pictures are drawn for. With 8 bits per pixel, a 24-bit
  // block that reaches Draw (no display copy) is dithered to a fixed 216-colour
  // cube, as a palette screen's drawing layer does.
  static int ScreenBitsPerPixel();
  static void SetScreenBitsPerPixel(int bits);

 private:
  const vxBitmapInfoHeader* DrawnBlock() const;
  bool EnsureCache();
  void BuildColorTable(const vxBitmapInfoHeader* block);
  void DrawRegion(QPainter& dc, const QRectF& target, const QRectF& source, int flags);
  // Expands the cached rows [first, last) that are not expanded yet.
  void EnsureRows(int first, int last) const;

  static constexpr int kBandRows = 64;

  QList<QRgb> colorTable_;
  // Filled band by band on demand, hence mutable.
  mutable QImage cache_;
  mutable std::vector<uint8_t> bandReady_;
  // The block the cache was built from, to notice a block replaced without a
  // display preparation.
  const vxBitmapInfoHeader* cachedBlock_ = nullptr;
  QSize cachedSize_;
  int displayGeneration_ = 0;
};
