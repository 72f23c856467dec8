#include "tovimview.h"

#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStatusBar>
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

QSize CTOVIMView::ScaledImageSize() const {
  const QSize size = ImageSize();
  return {Scaled(size.width(), zoom), Scaled(size.height(), zoom)};
}

void CTOVIMView::OnInitialUpdate() {
  CAppState& state = app_.state();
  if (state.activeView && state.activeView != this) state.activeView->paletteForeground = 0;
  doc_->view = this;
  arrowStep = 10;
  SizeFrameToImage();
  paletteForeground = 1;
  state.activeView = this;
  RealizeViewPalette(true);
  UpdateStatusPanes();
  UpdateCursor();
}

void CTOVIMView::SizeFrameToImage() {
  const QSize image = ImageSize();
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
  const int width = image->Width();
  const int height = image->Height();
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
  zoom = kMinZoom;
  SetScrollSizes(ImageSize());
  SizeFrameToImage();
  viewport()->update();
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
  if (d < 0) {
    zoom = static_cast<float>(static_cast<double>(zoom) + 0.1);
    if (zoom > kMaxZoom) zoom = kMaxZoom;
  } else if (d > 0) {
    const bool atMinimum = zoom <= kMinZoom;
    zoom = static_cast<float>(static_cast<double>(zoom) - 0.1);
    if (zoom < kMinZoom) {
      zoom = kMinZoom;
      // Already at 1.0: nothing changes. Coming down from just above 1.0,
      // the scroll sizes and the picture still follow.
      if (atMinimum) return;
    }
  }
  SetScrollSizes(ScaledImageSize());
  viewport()->update();
}

void CTOVIMView::PanDrag(QPoint from, QPoint to) {
  // The picture follows the pointer.
  ScrollToPosition(GetScrollPosition() - (to - from));
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
  const QSize page = viewport()->size();
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
  const QSize client = viewport()->size();
  painter.fillRect(QRect(QPoint(0, 0), client), QColor::fromRgb(kBackdrop));
  vxOSWinClass* image = doc_->image.get();
  if (!image || image->IsEmpty()) return;
  const QPoint position = GetScrollPosition();
  image->Draw(painter, client.width(), client.height(), position.x(), position.y(), image->Width(),
              image->Height(), zoom, vxDrawBackgroundPalette);
}

void CTOVIMView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
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
