// The image view: draws its document's picture at a magnification in a
// scrolling window, fits its child frame to the picture, runs the zoom and
// pan drags and the arrow keys, and writes the picture's figures into the
// status bar.
#pragma once

#include <QAbstractScrollArea>
#include <QCursor>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <utility>

struct BrightnessContrastParams;
class CTOVIMDoc;
class CViewerApp;

class CTOVIMView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr float kMinZoom = 1.0f;
  static constexpr float kMaxZoom = 100.0f;
  // Filled where the window shows no picture.
  static constexpr QRgb kBackdrop = 0xFF404040;

  CTOVIMView(CTOVIMDoc* doc, CViewerApp& app, QWidget* parent = nullptr);
  ~CTOVIMView() override;

  CTOVIMDoc* GetDocument() const { return doc_; }

  QPoint lastPoint;  // pointer position at the previous button or move event
  // Magnification in picture pixels per device pixel: 1.0 ... 100.0 by the
  // zoom drag; below 1.0 when fitted or zoomed out by the wheel.
  float zoom = kMinZoom;
  // The zoom follows the window's size (Fit To Window).
  bool fitMode = false;
  // The colour around the picture (black on the full screen).
  QRgb backdrop = kBackdrop;
  int arrowStep = 10;         // pixels scrolled per arrow key
  int paletteForeground = 0;  // 1 while this view holds the foreground palette

  void OnInitialUpdate();
  // Sizes the child frame so that the picture fits, or to the client area
  // less a margin when it does not.
  void SizeFrameToImage();
  int RealizeViewPalette(bool foreground);
  // Makes this view the active one: foreground palette, status figures.
  void TakePalette();
  void UpdateStatusPanes();
  void ClearStatusPanes();
  void UpdateCursor();

  // Commands.
  void OnSelectTool(int id);
  void OnResetPanZoom();
  // Fit To Window: the whole picture as large as the window allows.
  void OnZoomFit();
  // Actual Size: one picture pixel per device pixel.
  void OnZoomActual();
  // Sets the zoom and scrolls so that the picture point under `at` (a
  // viewport position) stays under it.
  void ZoomAt(float newZoom, QPointF at);
  // The zoom at which the whole picture fills the window.
  float FitZoom() const;
  // The same for a picture of `image` pixels in `room` device pixels.
  static float FitZoomFor(QSize image, QSizeF room);
  // The window's room for a fitted picture, in device pixels.
  QSizeF FitRoom() const;
  // The size of a picture of `image` pixels shown at `zoom`.
  static QSize ScaledSize(QSize image, float zoom);
  // Takes a reduced copy made elsewhere (by the read-ahead) when it is the
  // one the view would make for its current zoom.
  void OfferReduced(QImage copy);
  // Hands over the reduced copy (the view keeps none).
  QImage TakeReduced() { return std::exchange(reduced_, QImage()); }
  // Picture coordinates (pixels, y down) shown at a viewport position, and
  // the other way round.
  QPointF PictureAt(QPointF at) const;
  // Another picture took the document's place (sameFile: the shown file read
  // again or completed; `scale` is how many times larger its pixels are).
  void OnPictureReplaced(bool sameFile, double scale);
  // The copy drawn below 100 % (null at or above 100 %).
  const QImage& reducedCopy() const { return reduced_; }
  void OnPreviewBrightness(int value);
  void OnPreviewContrast(int value);
  void OnPreviewBrightnessContrast(const BrightnessContrastParams& params);

  // Image Tools commands.
  void OnConvertTo24Bit();
  void OnConvertToGray();
  void OnAdjustBrightnessContrast();
  void OnAdjustContrast();
  // A command of the Filter menu: 32791 ... 32803 filter, the gradient items
  // 32804 ... 32811 do nothing.
  void OnFilter(int id);
  void OnFlip(int direction);
  void OnRotate(int degrees);
  void OnInvertColor();

  // Drag operations (the application's leftTool).
  void ZoomDrag(QPoint from, QPoint to);
  void PanDrag(QPoint from, QPoint to);

  // The scrolled surface: the picture at the magnification.
  QPoint GetScrollPosition() const;
  void ScrollToPosition(QPoint position);
  void SetScrollSizes(QSize total);
  QSize GetTotalSize() const { return total_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  // The zoom a picture opens with: fitted when it is larger than the window
  // and the document asks for it, else 1:1 (of the file's full picture).
  void ChooseStartZoom();
  void UpdateTitle();
  double Dpr() const;
  // The viewport in device pixels.
  QSize DeviceViewport() const;
  // Where the picture starts in the viewport (device pixels): centred when
  // it is smaller than the window.
  QPoint Offset() const;
  // Makes reduced_ for the current zoom when it is missing or stale.
  void EnsureReduced();
  void AfterPaint();
  void UpdateScrollBars();
  QSize ImageSize() const;
  QSize ScaledImageSize() const;

  CTOVIMDoc* doc_;
  CViewerApp& app_;
  QSize total_;
  QCursor cursorBeforePress_;
  // The one display copy the view keeps: the picture at the current zoom,
  // made when the zoom or the picture changes, used below 100 %.
  QImage reduced_;
  float reducedZoom_ = 0;
  int reducedGeneration_ = -1;
  const void* reducedImage_ = nullptr;
};
