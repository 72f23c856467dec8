// The document window inside the main frame: holds one view of one document
// and owns the document.
#pragma once

#include <QMdiSubWindow>
#include <memory>

class CTOVIMDoc;
class CTOVIMView;
class CViewerApp;

class CChildFrame : public QMdiSubWindow {
  Q_OBJECT

 public:
  CChildFrame(std::unique_ptr<CTOVIMDoc> doc, CViewerApp& app);
  ~CChildFrame() override;

  CTOVIMDoc* document() const { return doc_.get(); }
  CTOVIMView* view() const { return view_; }
  // Set when the document already agreed to close (on exit), so that the
  // close does not ask again.
  void SetCloseAgreed() { closeAgreed_ = true; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  CViewerApp& app_;
  std::unique_ptr<CTOVIMDoc> doc_;
  CTOVIMView* view_ = nullptr;
  bool closeAgreed_ = false;
};
