#include "tovimview.h"

#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>

#include "adjustdialogs.h"
#include "artwork.h"
#include "commands.h"
#include "mainframe.h"
#include "statuspanes.h"
#include "tovimdoc.h"
#include "viewerapp.h"

namespace {

int Scaled(int length, float zoom) {
  return static_cast<int>(std::trunc(static_cast<double>(length) * static_cast<double>(zoom)));
}

}  // namespace

CTOVIMView::CTOVIMView(CTOVIMDoc* doc, CViewerApp& app, QWidget* parent)
    : QAbstractScrollArea(parent), doc_(doc), app_(app) {
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  // Every paint covers the whole window: no separate erase.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
}

CTOVIMView::~CTOVIMView() {
  CAppState& state = app_.state();
  if (state.activeView == this) state.activeView = nullptr;
  if (doc_ && doc_->view == this) doc_->view = nullptr;
}

QSize CTOVIMView::ImageSize() const {
  if (!doc_->image || doc_->image->IsEmpty()) return {};
  return {doc_->image->Width(), doc_->image->Height()};
}

QSize CTOVIMView::ScaledSize(QSize size, float zoom) {
  if (size.isEmpty()) return {0, 0};
  // Below 100 % a side never vanishes.
  return {std::max(1, Scaled(size.width(), zoom)), std::max(1, Scaled(size.height(), zoom))};
}

QSize CTOVIMView::ScaledImageSize() const { return ScaledSize(ImageSize(), zoom); }

QSizeF CTOVIMView::FitRoom() const {
  // The window without scroll bars, which a fitted picture does not need.
  return QSizeF(maximumViewportSize()) * Dpr();
}

float CTOVIMView::FitZoomFor(QSize image, QSizeF room) {
  if (image.isEmpty() || room.width() < 1 || room.height() < 1) return kMinZoom;
  const double fit = std::min(room.width() / image.width(), room.height() / image.height());
  return static_cast<float>(std::clamp(fit, 1e-4, static_cast<double>(kMaxZoom)));
}

void CTOVIMView::OfferReduced(QImage copy) {
  vxOSWinClass* image = doc_->image.get();
  if (!image || image->IsEmpty() || copy.isNull() || zoom >= 1.0f) return;
  if (image->useAlternate || copy.size() != ScaledImageSize()) return;
  reduced_ = std::move(copy);
  reducedZoom_ = zoom;
  reducedImage_ = image;
  reducedGeneration_ = image->displayGeneration();
}

double CTOVIMView::Dpr() const { return viewport()->devicePixelRatioF(); }

QSize CTOVIMView::DeviceViewport() const {
  const double dpr = Dpr();
  const QSize logical = viewport()->size();
  return {static_cast<int>(std::lround(logical.width() * dpr)),
          static_cast<int>(std::lround(logical.height() * dpr))};
}

QPoint CTOVIMView::Offset() const {
  const QSize client = DeviceViewport();
  const QSize scaled = ScaledImageSize();
  return {std::max(0, (client.width() - scaled.width()) / 2),
          std::max(0, (client.height() - scaled.height()) / 2)};
}

float CTOVIMView::FitZoom() const { return FitZoomFor(ImageSize(), FitRoom()); }

void CTOVIMView::ChooseStartZoom() {
  const QSize image = ImageSize();
  const int reduction = std::max(1, doc_->reduction);
  const float fit = FitZoom();
  fitMode = doc_->fitOnOpen && fit < 1.0f;
  // A reduced decode shown 1:1 stands for the full picture at 1:1.
  zoom = fitMode ? fit : static_cast<float>(reduction);
  reduced_ = QImage();
  (void)image;
}

void CTOVIMView::UpdateTitle() {
  if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget())) {
    frame->setWindowTitle(doc_->GetTitle());
  }
  if (app_.mainFrame()) app_.mainFrame()->UpdateFrameTitle();
}

void CTOVIMView::OnInitialUpdate() {
  CAppState& state = app_.state();
  if (state.activeView && state.activeView != this) state.activeView->paletteForeground = 0;
  doc_->view = this;
  arrowStep = 10;
  SizeFrameToImage();
  // The frame has its size now: a large picture may start fitted.
  ChooseStartZoom();
  SetScrollSizes(ScaledImageSize());
  paletteForeground = 1;
  state.activeView = this;
  RealizeViewPalette(true);
  UpdateStatusPanes();
  UpdateCursor();
}

void CTOVIMView::SizeFrameToImage() {
  // The window holds the picture at 100 %: one picture pixel per device pixel.
  const double dpr = Dpr();
  const QSize pixels = ImageSize();
  const QSize image(static_cast<int>(std::ceil(pixels.width() / dpr)),
                    static_cast<int>(std::ceil(pixels.height() / dpr)));
  auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
  if (frame && !image.isEmpty() && !frame->isMaximized() && !frame->isMinimized()) {
    // The frame around a client of the picture's size: borders and title bar.
    const QMargins decoration = frame->contentsMargins();
    const int fw = image.width() + decoration.left() + decoration.right();
    const int fh = image.height() + decoration.top() + decoration.bottom();
    // The view's own border comes on top, so that the picture fills the
    // window exactly.
    const int border = 2 * frameWidth();
    const QRect client = app_.state().mainClientRect;
    const bool statusBarShown = !app_.mainFrame()->statusBar()->isHidden();
    const bool widthFits = fw <= client.width();
    const bool heightFits = fh <= client.height();
    const int width = widthFits ? fw + border : client.width() - 40;
    const int height = heightFits ? fh + border : client.height() - (statusBarShown ? 70 : 50);
    frame->resize(width, height);
    if (!widthFits || !heightFits) frame->move(0, 0);
  }
  // A fitted picture stays fitted in its new shape (after a rotation).
  if (fitMode && !pixels.isEmpty()) zoom = FitZoom();
  SetScrollSizes(ScaledImageSize());
}

int CTOVIMView::RealizeViewPalette(bool foreground) {
  if (!doc_->image || doc_->image->IsEmpty()) return 0;
  const int changed = doc_->image->RealizePalette(!foreground);
  if (changed) viewport()->update();
  return changed;
}

void CTOVIMView::TakePalette() {
  CAppState& state = app_.state();
  if (state.activeView == this) return;
  if (state.activeView) state.activeView->paletteForeground = 0;
  paletteForeground = 1;
  state.activeView = this;
  RealizeViewPalette(true);
  viewport()->update();
  UpdateStatusPanes();
}

void CTOVIMView::UpdateStatusPanes() {
  const vxOSWinClass* image = doc_->image.get();
  if (!image || image->IsEmpty()) return;
  CStatusPanes* panes = app_.mainFrame()->statusPanes();
  // A reduced picture standing in for a large one gives the large one's
  // figures.
  const bool stand = doc_->partial && !doc_->fullSize.isEmpty();
  const int width = stand ? doc_->fullSize.width() : image->Width();
  const int height = stand ? doc_->fullSize.height() : image->Height();
  const int bits = image->BitCount();
  const int64_t loaded = image->loadedBytes;
  // Whole bytes per pixel: 1- and 4-bit pictures count as 0 bytes. In 64 bits,
  // so that big pictures do not wrap.
  const int64_t raw = static_cast<int64_t>(bits / 8) * width * height;
  const double ratio = loaded > 0 ? static_cast<double>(raw) / static_cast<double>(loaded) : 0.0;
  panes->SetPaneText(1, QString::asprintf("%.2f:1", ratio));
  panes->SetPaneText(3, QString::asprintf("%.02f", static_cast<double>(doc_->loadSeconds)));
  panes->SetPaneText(5, QString::number(width));
  panes->SetPaneText(7, QString::number(height));
  panes->SetPaneText(9, QString::number(bits));
  panes->SetPaneText(11, QString::number(raw));
  panes->SetPaneText(13, QString::number(loaded));
}

void CTOVIMView::ClearStatusPanes() { app_.mainFrame()->ClearStatusPanes(); }

void CTOVIMView::UpdateCursor() { viewport()->setCursor(ToolCursor(app_.state().leftCursor)); }

void CTOVIMView::OnSelectTool(int id) { app_.SelectTool(id); }

void CTOVIMView::OnResetPanZoom() {
  fitMode = false;
  zoom = kMinZoom;
  SetScrollSizes(ImageSize());
  SizeFrameToImage();
  viewport()->update();
}

void CTOVIMView::OnZoomFit() {
  if (ImageSize().isEmpty()) return;
  fitMode = true;
  zoom = FitZoom();
  SetScrollSizes(ScaledImageSize());
  ScrollToPosition({0, 0});
  viewport()->update();
}

void CTOVIMView::OnZoomActual() {
  if (ImageSize().isEmpty()) return;
  // Anchored at the middle of the window.
  ZoomAt(static_cast<float>(std::max(1, doc_->reduction)),
         QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0));
}

QPointF CTOVIMView::PictureAt(QPointF at) const {
  const QSize image = ImageSize();
  if (image.isEmpty()) return {};
  const double dpr = Dpr();
  const QPoint offset = Offset();
  const QPoint position = GetScrollPosition();
  const double x = at.x() * dpr - offset.x();
  const double y = at.y() * dpr - offset.y();
  if (zoom < 1.0f) {
    // The reduced copy is drawn 1:1 at (offset - position).
    const QSize scaled = ScaledImageSize();
    return {(x + position.x()) * image.width() / scaled.width(),
            (y + position.y()) * image.height() / scaled.height()};
  }
  // The display adapter's mapping: window pixel 0 shows the start of picture
  // pixel trunc(position / zoom), and the drawn width spans trunc(width /
  // zoom) picture pixels.
  const QSize client = DeviceViewport();
  const double inverse = 1.0 / static_cast<double>(zoom);
  const auto map = [inverse](double v, int scroll, int window) {
    const double start = std::trunc(scroll * inverse);
    const double cells = std::trunc(window * inverse);
    return window > 0 && cells > 0 ? start + v * cells / window : start + v * inverse;
  };
  return {map(x, position.x(), client.width() - offset.x()),
          map(y, position.y(), client.height() - offset.y())};
}

void CTOVIMView::ZoomAt(float newZoom, QPointF at) {
  if (ImageSize().isEmpty()) return;
  const QPointF point = PictureAt(at);
  fitMode = false;
  // Out to an eighth of the fitted size (or of 1:1 for a small picture).
  zoom = std::clamp(newZoom, std::min(FitZoom(), kMinZoom) / 8.0f, kMaxZoom);
  SetScrollSizes(ScaledImageSize());
  const double dpr = Dpr();
  const QPoint offset = Offset();
  const QSize image = ImageSize();
  const QSize scaled = ScaledImageSize();
  // The scroll position that puts `point` under `at` again.
  const double sx = point.x() * scaled.width() / image.width() - (at.x() * dpr - offset.x());
  const double sy = point.y() * scaled.height() / image.height() - (at.y() * dpr - offset.y());
  ScrollToPosition({static_cast<int>(std::lround(sx)), static_cast<int>(std::lround(sy))});
  viewport()->update();
}

void CTOVIMView::OnPictureReplaced(bool sameFile, double scale) {
  reduced_ = QImage();
  if (sameFile) {
    // The same picture with more (or other) pixels: the view stays where it
    // is, the zoom now counted in the new picture's pixels.
    if (fitMode) {
      zoom = FitZoom();
    } else if (scale > 0) {
      zoom = static_cast<float>(std::clamp(zoom / scale, 1e-4, static_cast<double>(kMaxZoom)));
    }
    const QPoint position = GetScrollPosition();
    SetScrollSizes(ScaledImageSize());
    ScrollToPosition(position);
  } else {
    ChooseStartZoom();
    SetScrollSizes(ScaledImageSize());
    ScrollToPosition({0, 0});
  }
  RealizeViewPalette(paletteForeground != 0);
  viewport()->update();
  UpdateStatusPanes();
  UpdateTitle();
}

void CTOVIMView::EnsureReduced() {
  vxOSWinClass* image = doc_->image.get();
  if (!image || image->IsEmpty()) return;
  if (!reduced_.isNull() && reducedZoom_ == zoom && reducedImage_ == image &&
      reducedGeneration_ == image->displayGeneration()) {
    return;
  }
  const QSize scaled = ScaledImageSize();
  reduced_ = QImage();  // never two copies at once
  reduced_ = image->ReducedImage(scaled.width(), scaled.height());
  reducedZoom_ = zoom;
  reducedImage_ = image;
  reducedGeneration_ = image->displayGeneration();
}

void CTOVIMView::wheelEvent(QWheelEvent* event) {
  const bool zooms = (event->modifiers() & Qt::ControlModifier) || app_.preferences().wheelZooms;
  if (!zooms || ImageSize().isEmpty()) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0) {
    event->accept();
    return;
  }
  float next = static_cast<float>(zoom * std::pow(1.25, steps));
  // 100 % is never stepped over.
  if ((zoom < 1.0f && next > 1.0f) || (zoom > 1.0f && next < 1.0f)) next = 1.0f;
  ZoomAt(next, event->position());
  event->accept();
}

void CTOVIMView::OnPreviewBrightness(int value) {
  doc_->PreviewBrightness(value);
  RealizeViewPalette(paletteForeground != 0);
  viewport()->update();
}

void CTOVIMView::OnPreviewContrast(int value) {
  doc_->PreviewContrast(value);
  RealizeViewPalette(paletteForeground != 0);
  viewport()->update();
}

void CTOVIMView::OnPreviewBrightnessContrast(const BrightnessContrastParams& params) {
  doc_->PreviewBrightnessContrast(params);
  RealizeViewPalette(paletteForeground != 0);
  viewport()->update();
}

void CTOVIMView::OnConvertTo24Bit() {
  if (doc_->ConvertTo24Bit()) doc_->RefreshView();
}

void CTOVIMView::OnConvertToGray() {
  if (!doc_->ConvertToGray()) return;
  TakePalette();
  doc_->RefreshView();
}

void CTOVIMView::OnAdjustBrightnessContrast() {
  if (!doc_->image || doc_->image->IsEmpty() || !doc_->image->IsGrayScale()) return;
  doc_->SavePalette();
  CBrightnessContrastDlg dialog(app_.AdjustmentStart(), app_.mainFrame());
  dialog.SetPreview(
      [this](const BrightnessContrastParams& params) { OnPreviewBrightnessContrast(params); });
  // Values the dialog starts with other than 0 are shown at once.
  const BrightnessContrastParams& start = dialog.params();
  if (start.brightness != 0 || start.contrast != 0) dialog.Preview();
  dialog.exec();
  const BrightnessContrastParams params = dialog.params();
  if (params.accepted == 1) {
    // The values the dialog ended with, also when "Preview" was unchecked
    // before the last change.
    doc_->PreviewBrightnessContrast(params);
    doc_->CommitPalette();
  } else {
    doc_->RestorePalette();
  }
  doc_->RefreshView();
}

void CTOVIMView::OnAdjustContrast() {
  if (!doc_->image || doc_->image->IsEmpty() || !doc_->image->IsGrayScale()) return;
  doc_->SavePalette();
  CContrastDlg dialog(app_.AdjustmentStart(), app_.mainFrame());
  dialog.SetPreview([this](int contrast) { OnPreviewContrast(contrast); });
  if (dialog.value() != 0) dialog.Preview();
  if (dialog.exec() == QDialog::Accepted) {
    doc_->PreviewContrast(dialog.value());
    doc_->CommitPalette();
  } else {
    doc_->RestorePalette();
  }
  doc_->RefreshView();
}

void CTOVIMView::OnFilter(int id) {
  if (id < kFilterFirst || id > kFilterLastKernel) return;  // the gradients have no kernel
  CWaitCursor wait;
  if (doc_->ApplyFilter(id - kFilterFirst)) doc_->RefreshView();
}

void CTOVIMView::OnFlip(int direction) {
  CWaitCursor wait;
  if (doc_->FlipImage(direction)) doc_->RefreshView();
}

void CTOVIMView::OnRotate(int degrees) {
  CWaitCursor wait;
  if (!doc_->RotateImage(degrees)) return;
  // The frame takes the turned picture's shape.
  SizeFrameToImage();
  doc_->RefreshView();
}

void CTOVIMView::OnInvertColor() {
  if (doc_->InvertImage()) doc_->RefreshView();
}

void CTOVIMView::ZoomDrag(QPoint from, QPoint to) {
  // Only the horizontal motion counts: right magnifies, left reduces, by 0.1
  // per mouse move.
  const int d = from.x() - to.x();
  // Below 100 % (fitted) the drag does not go lower than where it starts.
  const float lowest = std::min(kMinZoom, zoom);
  if (d != 0) fitMode = false;
  if (d < 0) {
    zoom = static_cast<float>(static_cast<double>(zoom) + 0.1);
    if (zoom > kMaxZoom) zoom = kMaxZoom;
  } else if (d > 0) {
    const bool atMinimum = zoom <= lowest;
    zoom = static_cast<float>(static_cast<double>(zoom) - 0.1);
    if (zoom < lowest) {
      zoom = lowest;
      // Already at 1.0: nothing changes. Coming down from just above 1.0,
      // the scroll sizes and the picture still follow.
      if (atMinimum) return;
    }
  }
  SetScrollSizes(ScaledImageSize());
  viewport()->update();
}

void CTOVIMView::PanDrag(QPoint from, QPoint to) {
  // The picture follows the pointer (scroll positions are device pixels).
  const double dpr = Dpr();
  const QPoint delta = to - from;
  ScrollToPosition(GetScrollPosition() - QPoint(static_cast<int>(std::lround(delta.x() * dpr)),
                                                static_cast<int>(std::lround(delta.y() * dpr))));
}

QPoint CTOVIMView::GetScrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void CTOVIMView::ScrollToPosition(QPoint position) {
  horizontalScrollBar()->setValue(position.x());
  verticalScrollBar()->setValue(position.y());
}

void CTOVIMView::SetScrollSizes(QSize total) {
  total_ = total;
  UpdateScrollBars();
}

void CTOVIMView::UpdateScrollBars() {
  QSize page = DeviceViewport();
  // A picture that fits the window without scroll bars needs none: the bars'
  // own room does not count against it.
  const double dpr = Dpr();
  const QSize room = maximumViewportSize() * dpr;
  if (total_.width() <= room.width() && total_.height() <= room.height()) page = room;
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  h->setRange(0, std::max(0, total_.width() - page.width()));
  h->setPageStep(page.width());
  h->setSingleStep(std::max(1, total_.width() / 100));
  v->setRange(0, std::max(0, total_.height() - page.height()));
  v->setPageStep(page.height());
  v->setSingleStep(std::max(1, total_.height() / 100));
}

void CTOVIMView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const QSize logical = viewport()->size();
  painter.fillRect(QRect(QPoint(0, 0), logical), QColor::fromRgb(backdrop));
  vxOSWinClass* image = doc_->image.get();
  if (!image || image->IsEmpty()) return;
  // From here on one unit is one device pixel: at 100 % one picture pixel
  // covers one screen pixel, also on a high-density screen.
  const double dpr = Dpr();
  if (dpr != 1.0) painter.scale(1.0 / dpr, 1.0 / dpr);
  const QSize client = DeviceViewport();
  const QPoint offset = Offset();
  const QPoint position = GetScrollPosition();
  if (zoom < 1.0f) {
    // Smooth: the area-averaged copy at this zoom, made once, drawn 1:1.
    EnsureReduced();
    if (!reduced_.isNull()) painter.drawImage(offset - position, reduced_);
    AfterPaint();
    return;
  }
  if (!reduced_.isNull()) reduced_ = QImage();  // only one display copy
  // At and above 100 %: picture pixels as crisp squares.
  painter.translate(offset);
  image->Draw(painter, client.width() - offset.x(), client.height() - offset.y(), position.x(),
              position.y(), image->Width(), image->Height(), zoom, vxDrawBackgroundPalette);
  AfterPaint();
}

void CTOVIMView::AfterPaint() {
  // The picture is on the screen: the folder, the neighbours and the full
  // decode may have the processor now.
  if (!doc_->backgroundPending()) return;
  CTOVIMDoc* doc = doc_;
  QTimer::singleShot(0, doc, [doc] { doc->StartBackgroundWork(); });
}

void CTOVIMView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (fitMode && !ImageSize().isEmpty()) {
    zoom = FitZoom();
    total_ = ScaledImageSize();
  }
  UpdateScrollBars();
}

void CTOVIMView::mousePressEvent(QMouseEvent* event) {
  CAppState& state = app_.state();
  const bool left = event->button() == Qt::LeftButton;
  if (!left && event->button() != Qt::RightButton) return;
  TakePalette();
  cursorBeforePress_ = viewport()->cursor();
  viewport()->setCursor(ToolCursor(left ? state.leftCursor : state.rightCursor));
  (left ? state.leftButtonDown : state.rightButtonDown) = 1;
  lastPoint = event->position().toPoint();
}

void CTOVIMView::mouseReleaseEvent(QMouseEvent* event) {
  CAppState& state = app_.state();
  const bool left = event->button() == Qt::LeftButton;
  if (!left && event->button() != Qt::RightButton) return;
  (left ? state.leftButtonDown : state.rightButtonDown) = 0;
  viewport()->setCursor(cursorBeforePress_);
  lastPoint = event->position().toPoint();
}

void CTOVIMView::mouseMoveEvent(QMouseEvent* event) {
  const CAppState& state = app_.state();
  const QPoint point = event->position().toPoint();
  if (state.leftButtonDown == 1) {
    if (state.leftTool) (this->*state.leftTool)(lastPoint, point);
  } else if (state.rightButtonDown == 1) {
    if (state.rightTool) (this->*state.rightTool)(lastPoint, point);
  }
  lastPoint = point;
}

void CTOVIMView::mouseDoubleClickEvent(QMouseEvent*) {}

void CTOVIMView::keyPressEvent(QKeyEvent* event) {
  // Only the separate cursor keys scroll, not the arrows of the numeric pad.
  if (event->modifiers() & Qt::KeypadModifier) {
    event->ignore();
    return;
  }
  const QPoint p = GetScrollPosition();
  switch (event->key()) {
    case Qt::Key_Left:
      ScrollToPosition({p.x() - arrowStep, p.y()});
      break;
    case Qt::Key_Up:
      ScrollToPosition({p.x(), p.y() + arrowStep});
      break;
    case Qt::Key_Right:
      ScrollToPosition({p.x() + arrowStep, p.y()});
      break;
    case Qt::Key_Down:
      ScrollToPosition({p.x(), p.y() - arrowStep});
      break;
    case Qt::Key_Escape:
      // Escape leaves full screen.
      if (app_.mainFrame() && app_.mainFrame()->isFullScreenView()) {
        app_.mainFrame()->ToggleFullScreen();
        break;
      }
      event->ignore();
      return;
    default:
      event->ignore();
      return;
  }
  event->accept();
}

void CTOVIMView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  TakePalette();
}
