// The main window: the MDI client with its painted background, the menus,
// the main and image tool bars and the fourteen-pane status bar.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <functional>

class CBackground;
class CChildFrame;
class CStatusPanes;
class CTOVIMView;
class CViewerApp;
class QAction;
class QMenu;
class QToolBar;

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(CViewerApp& app);
  ~CMainFrame() override;

  // Builds the client area, the bars and the menus.
  bool LoadFrame();

  // The action of a command id (one serves menu, tool bar and accelerator).
  QAction* action(int id) const { return actions_.value(id); }
  // Connects a command to its handler; `enabled` decides when it may run.
  // A command without a handler stays disabled.
  void Route(int id, std::function<void()> handler, std::function<bool()> enabled = {});
  // Enables and checks every action from the current state.
  void UpdateCommandUI();

  CBackground* mdiClient() const { return background_; }
  QToolBar* mainToolBar() const { return mainToolBar_; }
  QToolBar* imageToolBar() const { return imageToolBar_; }
  QToolBar* browseToolBar() const { return browseToolBar_; }
  CStatusPanes* statusPanes() const { return panes_; }
  CChildFrame* activeChild() const;
  CTOVIMView* activeView() const;

  // Menu 128 (no document) or 129 (at least one document).
  void ShowMenu(int menuId);
  int currentMenu() const { return currentMenu_; }
  void UpdateRecentFileMenu();
  void UpdateFrameTitle();
  // Blanks the value panes of the status bar.
  void ClearStatusPanes();
  // Checks exactly the tool button of `id` (or none) among zoom, pan, selection.
  void CheckToolButtons(int id);

  // Browsing and display commands on the active document.
  void StepActive(int direction);
  void CopyToClipboard();
  void ToggleFullScreen();
  bool isFullScreenView() const { return fullScreen_; }
  void ToggleSlideshow();
  bool slideshowRunning() const;
  // Opens the files (the first that loads becomes the active window);
  // false when none did.
  bool OpenFiles(const QStringList& paths);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateActions();
  void CreateImageToolRoutes();
  void CreateMenus();
  void CreateToolBars();
  void CreateStatusBar();
  void ReadMainClientRect();
  void ArrangeIcons();
  void FillWindowMenu();
  QAction* AddAction(int id, const QString& text, bool checkable = false);

  CViewerApp& app_;
  CBackground* background_ = nullptr;
  CStatusPanes* panes_ = nullptr;
  QToolBar* mainToolBar_ = nullptr;
  QToolBar* imageToolBar_ = nullptr;
  QToolBar* browseToolBar_ = nullptr;
  QHash<int, QAction*> actions_;
  QHash<int, std::function<void()>> handlers_;
  QHash<int, std::function<bool()>> enablers_;
  QMenu* fileMenu128_ = nullptr;
  QMenu* fileMenu129_ = nullptr;
  QMenu* imageMenu_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  QList<QAction*> recentActions_;
  int currentMenu_ = 0;
  // Full screen: what to bring back afterwards.
  bool fullScreen_ = false;
  bool wasMaximized_ = false;
  bool childWasMaximized_ = false;
  QList<QWidget*> hiddenForFullScreen_;
  class QTimer* slideshow_ = nullptr;
};
