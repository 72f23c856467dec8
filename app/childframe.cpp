#include "childframe.h"

#include <QCloseEvent>

#include "artwork.h"
#include "tovimdoc.h"
#include "tovimview.h"
#include "viewerapp.h"

CChildFrame::CChildFrame(std::unique_ptr<CTOVIMDoc> doc, CViewerApp& app)
    : app_(app), doc_(std::move(doc)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowIcon(ApplicationIcon());
  setWindowTitle(doc_->GetTitle());
  view_ = new CTOVIMView(doc_.get(), app_, this);
  setWidget(view_);
}

CChildFrame::~CChildFrame() {
  // The view goes first: it must never paint a document that is gone.
  delete view_;
  view_ = nullptr;
  doc_.reset();
}

void CChildFrame::closeEvent(QCloseEvent* event) {
  if (!closeAgreed_ && !doc_->SaveModified()) {
    event->ignore();
    return;
  }
  doc_->OnCloseDocument();
  QMdiSubWindow::closeEvent(event);
}

void CChildFrame::moveEvent(QMoveEvent* event) {
  QMdiSubWindow::moveEvent(event);
  if (view_) view_->RealizeViewPalette(view_->paletteForeground != 0);
}
