// The image view: draws its document's picture at a magnification in a
// scrolling window, fits its child frame to the picture, runs the zoom and
// pan drags and the arrow keys, and writes the picture's figures into the
// status bar.
#pragma once

#include <QAbstractScrollArea>
#include <QCursor>
#include <QPoint>

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

  QPoint lastPoint;           // pointer position at the previous button or move event
  float zoom = kMinZoom;      // magnification, 1.0 ... 100.0
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

 private:
  void UpdateScrollBars();
  QSize ImageSize() const;
  QSize ScaledImageSize() const;

  CTOVIMDoc* doc_;
  CViewerApp& app_;
  QSize total_;
  QCursor cursorBeforePress_;
};
