#include "mainframe.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include "artwork.h"
#include "background.h"
#include "childframe.h"
#include "commands.h"
#include "engine/display/oswinclass.h"
#include "foldersequence.h"
#include "statuspanes.h"
#include "tovimdoc.h"
#include "tovimview.h"
#include "viewerapp.h"

namespace {

struct MenuItem {
  int id;
  const char* text;
};

constexpr MenuItem kFilterGroups[][9] = {
    {{0, "Low Pass"}, {32791, "Low Pass 1"}, {32792, "Low Pass 2"}, {32793, "Low Pass 3"}},
    {{0, "High Pass"}, {32794, "High Pass 1"}, {32795, "High Pass 2"}, {32796, "High Pass 3"}},
    {{0, "Edge Enhance"},
     {32797, "Difference 1"},
     {32798, "Difference 2"},
     {32799, "Difference 3"}},
    {{0, "Laplace"},
     {32800, "Laplace 1"},
     {32801, "Laplace 2"},
     {32802, "Laplace 3"},
     {32803, "Laplace 4"}},
    {{0, "Gradient"},
     {32804, "North"},
     {32805, "North East"},
     {32806, "East"},
     {32807, "South East"},
     {32808, "South"},
     {32809, "South West"},
     {32810, "West"},
     {32811, "North West"}},
};

}  // namespace

CMainFrame::CMainFrame(CViewerApp& app) : app_(app) {
  setWindowIcon(ApplicationIcon());
  // Placed 50 pixels in from the edges of the screen's usable area.
  CAppState& state = app_.state();
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  state.screenWidth = area.width();
  state.screenHeight = area.height();
  const int bits =
      app_.options().screenBits > 0 ? app_.options().screenBits : (screen ? screen->depth() : 32);
  state.screenBitsPerPixel = bits;
  vxOSWinClass::SetScreenBitsPerPixel(bits);
  move(area.topLeft() + QPoint(50, 50));
  resize(std::max(200, area.width() - 100), std::max(150, area.height() - 100));
  // Files dropped anywhere on the window open as documents.
  setAcceptDrops(true);
  slideshow_ = new QTimer(this);
  connect(slideshow_, &QTimer::timeout, this, [this] {
    CTOVIMView* v = activeView();
    // A changed picture is not stepped away from unattended.
    if (!v || v->GetDocument()->modified) {
      ToggleSlideshow();
      return;
    }
    v->GetDocument()->Step(1);
  });
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::LoadFrame() {
  background_ = new CBackground(this);
  background_->setObjectName(QStringLiteral("mdiClient"));
  setCentralWidget(background_);
  connect(background_, &CBackground::clientResized, this, &CMainFrame::ReadMainClientRect);
  connect(background_, &QMdiArea::subWindowActivated, this, [this] {
    UpdateFrameTitle();
    UpdateCommandUI();
  });

  CreateActions();
  CreateMenus();
  CreateToolBars();
  CreateStatusBar();
  ReadMainClientRect();
  ShowMenu(128);
  UpdateRecentFileMenu();
  UpdateCommandUI();
  return true;
}

QAction* CMainFrame::AddAction(int id, const QString& text, bool checkable) {
  auto* action = new QAction(text, this);
  action->setData(id);
  action->setIcon(CommandIcon(id));
  action->setStatusTip(CommandPrompt(id));
  const QString tip = CommandTip(id);
  if (!tip.isEmpty()) action->setToolTip(tip);
  action->setCheckable(checkable);
  action->setEnabled(false);
  connect(action, &QAction::triggered, this, [this, id] {
    const auto handler = handlers_.value(id);
    if (handler) handler();
  });
  addAction(action);  // accelerators work whichever menu is shown
  actions_.insert(id, action);
  return action;
}

void CMainFrame::Route(int id, std::function<void()> handler, std::function<bool()> enabled) {
  handlers_.insert(id, std::move(handler));
  if (enabled) {
    enablers_.insert(id, std::move(enabled));
  } else {
    enablers_.remove(id);
  }
  UpdateCommandUI();
}

void CMainFrame::CreateActions() {
  AddAction(kFileOpen, QStringLiteral("&Open...\tCtrl+O"))
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  AddAction(kFileSaveAs, QStringLiteral("Save As...\tAlt+S"))
      ->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));
  AddAction(kCompress, QStringLiteral("Compress..\tAlt+C"))
      ->setShortcut(QKeySequence(Qt::ALT | Qt::Key_C));
  AddAction(kFileClose, QStringLiteral("&Close"));
  AddAction(kAppExit, QStringLiteral("E&xit"));
  for (int i = 0; i < 4; ++i) recentActions_ << AddAction(kFileMru1 + i, QString());
  AddAction(kViewToolbar, QStringLiteral("&Toolbar"), true);
  AddAction(kViewStatusBar, QStringLiteral("&Status Bar"), true);
  AddAction(kViewImageToolbar, QStringLiteral("&Image Toolbar"), true);
  AddAction(kProgressive, QStringLiteral("Progressive"));
  AddAction(kQuickDither, QStringLiteral("Quick Dither"), true);
  AddAction(kMedianCut, QStringLiteral("Median Cut "), true);
  AddAction(kFastQuantization, QStringLiteral("Fast Quantization"), true);
  AddAction(kBestQuantization, QStringLiteral("Best Quantization"), true);
  AddAction(kGeneralPreferences, QStringLiteral("General Preferences"));
  AddAction(kConvertTo24Bit, QStringLiteral("Convert To 24-Bit"));
  AddAction(kConvertToGray, QStringLiteral("Convert To Gray Scale"));
  AddAction(kAdjustBrightnessContrast, QStringLiteral("Adjust Brightness/Contrast"));
  AddAction(kAdjustContrast, QStringLiteral("Adjust Contrast"));
  for (const auto& group : kFilterGroups) {
    for (const MenuItem& item : group) {
      if (item.id) AddAction(item.id, QString::fromLatin1(item.text));
    }
  }
  AddAction(kFlipHorizontal, QStringLiteral("Horizontal"));
  AddAction(kFlipVertical, QStringLiteral("Vertical"));
  AddAction(kRotateClockwise, QStringLiteral("Clockwise"));
  AddAction(kRotateCounterClockwise, QStringLiteral("Counter Clockwise"));
  AddAction(kInvertColor, QStringLiteral("Invert"));
  AddAction(kToolZoom, QStringLiteral("Zoom Image"), true);
  AddAction(kToolPan, QStringLiteral("Pan Image"), true);
  AddAction(kToolSelect, QStringLiteral("Select Region"), true);
  AddAction(kResetPanZoom, QStringLiteral("Reset Pan / Zoom"));
  AddAction(kConvertMultiple, QStringLiteral("Convert Multiple Images"));
  AddAction(kWindowCascade, QStringLiteral("&Cascade"));
  AddAction(kWindowTile, QStringLiteral("&Tile"));
  AddAction(kWindowArrange, QStringLiteral("&Arrange Icons"));
  AddAction(kAppAbout, QStringLiteral("&About %1...").arg(QLatin1String(kProductName)));
  // Browsing: Page Down and Space go forward, Page Up and Backspace back.
  AddAction(kNextImage, QStringLiteral("&Next Picture\tPage Down"))
      ->setShortcuts({QKeySequence(Qt::Key_PageDown), QKeySequence(Qt::Key_Space)});
  AddAction(kPreviousImage, QStringLiteral("&Previous Picture\tPage Up"))
      ->setShortcuts({QKeySequence(Qt::Key_PageUp), QKeySequence(Qt::Key_Backspace)});
  AddAction(kZoomFit, QStringLiteral("&Fit To Window\tCtrl+9"))
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_9));
  AddAction(kZoomActual, QStringLiteral("&Actual Size\tCtrl+0"))
      ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  AddAction(kFullScreen, QStringLiteral("F&ull Screen\tF11"), true)
      ->setShortcuts({QKeySequence(Qt::Key_F11)});
  AddAction(kSlideshow, QStringLiteral("S&lideshow\tF5"), true)
      ->setShortcut(QKeySequence(Qt::Key_F5));
  // Ctrl+C is free: Compress is Alt+C.
  AddAction(kEditCopy, QStringLiteral("&Copy\tCtrl+C"))->setShortcut(QKeySequence::Copy);
  const QStyle* look = style();
  if (action(kNextImage)->icon().isNull())
    action(kNextImage)->setIcon(look->standardIcon(QStyle::SP_ArrowForward));
  if (action(kPreviousImage)->icon().isNull())
    action(kPreviousImage)->setIcon(look->standardIcon(QStyle::SP_ArrowBack));
  if (action(kZoomFit)->icon().isNull())
    action(kZoomFit)->setIcon(look->standardIcon(QStyle::SP_TitleBarMaxButton));
  if (action(kZoomActual)->icon().isNull())
    action(kZoomActual)->setIcon(look->standardIcon(QStyle::SP_TitleBarNormalButton));

  // Commands of the application, the frame and the active window.
  const auto always = [] { return true; };
  const auto hasView = [this] { return activeView() != nullptr; };
  const auto palette = [this] { return app_.state().screenBitsPerPixel <= 8; };
  Route(
      kFileOpen, [this] { app_.OnFileOpen(); }, always);
  Route(
      kAppAbout, [this] { app_.OnAppAbout(); }, always);
  Route(
      kAppExit, [this] { close(); }, always);
  Route(
      kGeneralPreferences, [this] { app_.OnGeneralPreferences(); }, always);
  Route(
      kConvertMultiple, [this] { app_.OnConvertMultiple(); }, always);
  for (int i = 0; i < 4; ++i)
    Route(
        kFileMru1 + i, [this, i] { app_.OnOpenRecentFile(i); }, always);
  Route(
      kFileClose,
      [this] {
        if (CChildFrame* c = activeChild()) c->close();
      },
      hasView);
  Route(
      kQuickDither, [this] { app_.OnColorReduction(QuickDither); }, palette);
  Route(
      kMedianCut, [this] { app_.OnColorReduction(MedianCut); }, palette);
  Route(
      kFastQuantization, [this] { app_.OnColorReduction(FastQuantization); }, palette);
  Route(
      kBestQuantization, [this] { app_.OnColorReduction(BestQuantization); }, palette);
  const auto toggle = [this](QWidget* bar) {
    bar->setVisible(bar->isHidden());
    UpdateCommandUI();
  };
  Route(
      kViewToolbar, [this, toggle] { toggle(mainToolBar_); }, always);
  Route(
      kViewStatusBar, [this, toggle] { toggle(statusBar()); }, always);
  Route(
      kViewImageToolbar, [this, toggle] { toggle(imageToolBar_); }, always);
  for (int id : {kToolZoom, kToolPan, kToolSelect}) {
    Route(
        id,
        [this, id] {
          if (CTOVIMView* v = activeView()) v->OnSelectTool(id);
        },
        hasView);
  }
  Route(
      kResetPanZoom,
      [this] {
        if (CTOVIMView* v = activeView()) v->OnResetPanZoom();
      },
      hasView);
  CreateImageToolRoutes();
  const auto inFolder = [this] {
    const CTOVIMView* v = activeView();
    return v && v->GetDocument()->hasFolder();
  };
  Route(
      kNextImage, [this] { StepActive(1); }, inFolder);
  Route(
      kPreviousImage, [this] { StepActive(-1); }, inFolder);
  Route(
      kZoomFit,
      [this] {
        if (CTOVIMView* v = activeView()) v->OnZoomFit();
      },
      hasView);
  Route(
      kZoomActual,
      [this] {
        if (CTOVIMView* v = activeView()) v->OnZoomActual();
      },
      hasView);
  Route(
      kFullScreen, [this] { ToggleFullScreen(); }, [this] { return fullScreen_ || activeView(); });
  Route(
      kSlideshow, [this] { ToggleSlideshow(); },
      [this, inFolder] { return slideshowRunning() || inFolder(); });
  Route(
      kEditCopy, [this] { CopyToClipboard(); }, hasView);
  Route(
      kWindowCascade, [this] { background_->cascadeSubWindows(); }, hasView);
  Route(
      kWindowTile, [this] { background_->tileSubWindows(); }, hasView);
  Route(
      kWindowArrange, [this] { ArrangeIcons(); }, hasView);
}

void CMainFrame::CreateImageToolRoutes() {
  // Every Image Tools command acts through the active view on its document.
  const auto onView = [this](void (CTOVIMView::*command)()) {
    return [this, command] {
      if (CTOVIMView* v = activeView()) (v->*command)();
    };
  };
  const auto image = [this]() -> const vxOSWinClass* {
    const CTOVIMView* v = activeView();
    // A picture still being read in full cannot be changed or saved yet.
    if (!v || !v->GetDocument()->IsEditable()) return static_cast<const vxOSWinClass*>(nullptr);
    return static_cast<const vxOSWinClass*>(v->GetDocument()->image.get());
  };
  const auto hasImage = [image] { return image() != nullptr; };
  const auto grey = [image] { return image() && image()->IsGrayScale(); };
  Route(kConvertTo24Bit, onView(&CTOVIMView::OnConvertTo24Bit),
        [image] { return image() && image()->BitCount() != 24; });
  Route(kConvertToGray, onView(&CTOVIMView::OnConvertToGray),
        [image] { return image() && image()->BitCount() != 8; });
  Route(kAdjustBrightnessContrast, onView(&CTOVIMView::OnAdjustBrightnessContrast), grey);
  Route(kAdjustContrast, onView(&CTOVIMView::OnAdjustContrast), grey);
  for (int id = kFilterFirst; id <= kGradientLast; ++id) {
    Route(
        id,
        [this, id] {
          if (CTOVIMView* v = activeView()) v->OnFilter(id);
        },
        hasImage);
  }
  const auto flip = [this](int direction) {
    return [this, direction] {
      if (CTOVIMView* v = activeView()) v->OnFlip(direction);
    };
  };
  const auto rotate = [this](int degrees) {
    return [this, degrees] {
      if (CTOVIMView* v = activeView()) v->OnRotate(degrees);
    };
  };
  Route(kFlipHorizontal, flip(1), hasImage);
  Route(kFlipVertical, flip(0), hasImage);
  Route(kRotateClockwise, rotate(90), hasImage);
  Route(kRotateCounterClockwise, rotate(-90), hasImage);
  Route(kInvertColor, onView(&CTOVIMView::OnInvertColor), hasImage);
  Route(
      kFileSaveAs,
      [this] {
        if (CTOVIMView* v = activeView()) v->GetDocument()->SaveImageAs();
      },
      hasImage);
  Route(
      kCompress,
      [this] {
        if (CTOVIMView* v = activeView()) v->GetDocument()->CompressImage();
      },
      hasImage);
}

void CMainFrame::CreateMenus() {
  const auto addRecent = [this](QMenu* menu) {
    menu->addSeparator();
    for (QAction* a : recentActions_) menu->addAction(a);
    menu->addSeparator();
  };
  QMenuBar* bar = menuBar();
  fileMenu128_ = bar->addMenu(QStringLiteral("&File"));
  fileMenu128_->addAction(action(kFileOpen));
  addRecent(fileMenu128_);
  fileMenu128_->addAction(action(kAppExit));

  fileMenu129_ = bar->addMenu(QStringLiteral("&File"));
  fileMenu129_->addAction(action(kFileOpen));
  fileMenu129_->addAction(action(kFileSaveAs));
  fileMenu129_->addAction(action(kCompress));
  fileMenu129_->addAction(action(kFileClose));
  addRecent(fileMenu129_);
  fileMenu129_->addAction(action(kAppExit));

  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  view->addAction(action(kViewToolbar));
  view->addAction(action(kViewStatusBar));
  view->addAction(action(kViewImageToolbar));
  view->addSeparator();
  view->addAction(action(kNextImage));
  view->addAction(action(kPreviousImage));
  view->addAction(action(kZoomFit));
  view->addAction(action(kZoomActual));
  view->addAction(action(kFullScreen));
  view->addAction(action(kSlideshow));
  view->addSeparator();
  view->addAction(action(kEditCopy));

  QMenu* options = bar->addMenu(QStringLiteral("Options"));
  options->addAction(action(kProgressive));
  QMenu* reduction = options->addMenu(QStringLiteral("Color Reduction Method"));
  for (int id : {kQuickDither, kMedianCut, kFastQuantization, kBestQuantization}) {
    reduction->addAction(action(id));
  }
  options->addAction(action(kGeneralPreferences));

  imageMenu_ = bar->addMenu(QStringLiteral("Image Tools"));
  imageMenu_->addAction(action(kConvertTo24Bit));
  imageMenu_->addAction(action(kConvertToGray));
  imageMenu_->addSeparator();
  imageMenu_->addAction(action(kAdjustBrightnessContrast));
  imageMenu_->addAction(action(kAdjustContrast));
  QMenu* filter = imageMenu_->addMenu(QStringLiteral("Filter"));
  for (const auto& group : kFilterGroups) {
    QMenu* sub = filter->addMenu(QString::fromLatin1(group[0].text));
    for (const MenuItem& item : group) {
      if (item.id && item.text) sub->addAction(action(item.id));
    }
  }
  QMenu* flip = imageMenu_->addMenu(QStringLiteral("Flip"));
  flip->addAction(action(kFlipHorizontal));
  flip->addAction(action(kFlipVertical));
  QMenu* rotate = imageMenu_->addMenu(QStringLiteral("Rotate"));
  rotate->addAction(action(kRotateClockwise));
  rotate->addAction(action(kRotateCounterClockwise));
  QMenu* colour = imageMenu_->addMenu(QStringLiteral("Color"));
  colour->addAction(action(kInvertColor));

  windowMenu_ = bar->addMenu(QStringLiteral("&Window"));
  connect(windowMenu_, &QMenu::aboutToShow, this, &CMainFrame::FillWindowMenu);
  FillWindowMenu();

  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  help->addAction(action(kAppAbout));

  for (QMenu* menu : bar->findChildren<QMenu*>()) {
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
  }
}

void CMainFrame::FillWindowMenu() {
  windowMenu_->clear();
  windowMenu_->addAction(action(kWindowCascade));
  windowMenu_->addAction(action(kWindowTile));
  windowMenu_->addAction(action(kWindowArrange));
  const QList<QMdiSubWindow*> windows = background_->subWindowList();
  if (windows.isEmpty()) return;
  windowMenu_->addSeparator();
  int number = 1;
  for (QMdiSubWindow* window : windows) {
    QString title = window->windowTitle();
    title.replace(QLatin1Char('&'), QLatin1String("&&"));
    QAction* item = windowMenu_->addAction(
        number < 10 ? QStringLiteral("&%1 %2").arg(number).arg(title) : title);
    item->setCheckable(true);
    item->setChecked(window == background_->currentSubWindow());
    connect(item, &QAction::triggered, window,
            [this, window] { background_->setActiveSubWindow(window); });
    ++number;
  }
}

void CMainFrame::CreateToolBars() {
  mainToolBar_ = addToolBar(QStringLiteral("Toolbar"));
  mainToolBar_->setObjectName(QStringLiteral("mainToolBar"));
  mainToolBar_->setIconSize(QSize(20, 20));
  const int mainButtons[] = {kFileOpen, kAppAbout, 0, kFileSaveAs, kCompress, kConvertMultiple};
  for (int id : mainButtons) {
    if (id) {
      mainToolBar_->addAction(action(id));
    } else {
      mainToolBar_->addSeparator();
    }
  }

  imageToolBar_ = new QToolBar(QStringLiteral("Image Toolbar"), this);
  imageToolBar_->setObjectName(QStringLiteral("imageToolBar"));
  imageToolBar_->setIconSize(QSize(20, 20));
  for (int id :
       {kRotateCounterClockwise, kRotateClockwise, kFlipVertical, kFlipHorizontal,
        kAdjustBrightnessContrast, kInvertColor, kToolZoom, kToolPan, kToolSelect, kResetPanZoom}) {
    imageToolBar_->addAction(action(id));
  }
  // Browsing the folder and the zoom presets: a bar of their own.
  browseToolBar_ = addToolBar(QStringLiteral("Browse Toolbar"));
  browseToolBar_->setObjectName(QStringLiteral("browseToolBar"));
  browseToolBar_->setIconSize(QSize(20, 20));
  for (int id : {kPreviousImage, kNextImage, kZoomFit, kZoomActual}) {
    browseToolBar_->addAction(action(id));
  }
  addToolBar(Qt::LeftToolBarArea, imageToolBar_);
  for (QToolBar* bar : {mainToolBar_, imageToolBar_}) {
    bar->setAllowedAreas(Qt::AllToolBarAreas);
    bar->setMovable(true);
    bar->setFloatable(true);
    connect(bar, &QToolBar::visibilityChanged, this, &CMainFrame::UpdateCommandUI);
  }
}

void CMainFrame::CreateStatusBar() {
  panes_ = new CStatusPanes(this);
  statusBar()->addWidget(panes_);
  statusBar()->setSizeGripEnabled(true);
}

void CMainFrame::ReadMainClientRect() {
  if (background_) app_.state().mainClientRect = background_->viewport()->rect();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ReadMainClientRect();
}

CChildFrame* CMainFrame::activeChild() const {
  return background_ ? qobject_cast<CChildFrame*>(background_->currentSubWindow()) : nullptr;
}

CTOVIMView* CMainFrame::activeView() const {
  const CChildFrame* child = activeChild();
  return child ? child->view() : nullptr;
}

void CMainFrame::ShowMenu(int menuId) {
  currentMenu_ = menuId;
  const bool document = menuId == 129;
  fileMenu128_->menuAction()->setVisible(!document);
  fileMenu129_->menuAction()->setVisible(document);
  imageMenu_->menuAction()->setVisible(document);
  windowMenu_->menuAction()->setVisible(document);
}

void CMainFrame::UpdateRecentFileMenu() {
  const QStringList files = app_.recentFiles();
  for (int i = 0; i < recentActions_.size(); ++i) {
    QAction* item = recentActions_[i];
    if (i < files.size()) {
      QString shown =
          fontMetrics().elidedText(QDir::toNativeSeparators(files[i]), Qt::ElideMiddle, 420);
      shown.replace(QLatin1Char('&'), QLatin1String("&&"));
      item->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
      item->setVisible(true);
    } else {
      item->setVisible(false);
    }
  }
}

void CMainFrame::UpdateFrameTitle() {
  const CChildFrame* child = activeChild();
  if (!child) {
    setWindowTitle(ProductCaption());
    return;
  }
  const QString title = child->document()->GetTitle();
  setWindowTitle(QStringLiteral("%1 - %2").arg(
      QLatin1String(kProductName),
      child->isMaximized() ? QStringLiteral("[%1]").arg(title) : title));
}

void CMainFrame::UpdateCommandUI() {
  if (actions_.isEmpty()) return;
  for (auto it = actions_.cbegin(); it != actions_.cend(); ++it) {
    const int id = it.key();
    const bool routed = static_cast<bool>(handlers_.value(id));
    const auto enabler = enablers_.value(id);
    it.value()->setEnabled(routed && (!enabler || enabler()));
  }
  const vxColorReduction method = app_.state().colorReductionMethod;
  action(kQuickDither)->setChecked(method == QuickDither);
  action(kMedianCut)->setChecked(method == MedianCut);
  action(kFastQuantization)->setChecked(method == FastQuantization);
  action(kBestQuantization)->setChecked(method == BestQuantization);
  if (mainToolBar_) action(kViewToolbar)->setChecked(!mainToolBar_->isHidden());
  action(kViewStatusBar)->setChecked(!statusBar()->isHidden());
  action(kFullScreen)->setChecked(fullScreen_);
  action(kSlideshow)->setChecked(slideshowRunning());
  if (imageToolBar_) action(kViewImageToolbar)->setChecked(!imageToolBar_->isHidden());
}

void CMainFrame::ClearStatusPanes() {
  if (panes_) panes_->ClearValues();
}

void CMainFrame::CheckToolButtons(int id) {
  action(kToolZoom)->setChecked(id == kToolZoom);
  action(kToolPan)->setChecked(id == kToolPan);
  action(kToolSelect)->setChecked(id == kToolSelect);
}

void CMainFrame::ArrangeIcons() {
  // Minimised windows in a row along the bottom of the client area.
  const QRect client = background_->viewport()->rect();
  int x = 0;
  for (QMdiSubWindow* window : background_->subWindowList()) {
    if (!window->isMinimized()) continue;
    const QSize size = window->size();
    if (x > 0 && x + size.width() > client.width()) x = 0;
    window->move(x, client.height() - size.height());
    x += size.width();
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // Every document is asked first; only when all agree do they all close.
  if (!app_.SaveAllModified()) {
    event->ignore();
    return;
  }
  for (QMdiSubWindow* window : background_->subWindowList()) {
    if (auto* child = qobject_cast<CChildFrame*>(window)) child->SetCloseAgreed();
    window->close();
  }
  event->accept();
}

void CMainFrame::StepActive(int direction) {
  CTOVIMView* v = activeView();
  if (!v) return;
  v->GetDocument()->Step(direction);
  UpdateCommandUI();
}

void CMainFrame::CopyToClipboard() {
  const CTOVIMView* v = activeView();
  const vxOSWinClass* picture = v ? v->GetDocument()->image.get() : nullptr;
  if (!picture || picture->IsEmpty()) return;
  CWaitCursor wait;
  // The pixels themselves, as other programs paste a picture.
  const QImage pixels = picture->ToQImage();
  if (pixels.isNull()) {
    app_.MessageBox(QStringLiteral("The picture is too large to be copied"));
    return;
  }
  QApplication::clipboard()->setImage(pixels);
}

void CMainFrame::ToggleFullScreen() {
  CChildFrame* child = activeChild();
  if (!fullScreen_) {
    if (!child) return;
    fullScreen_ = true;
    wasMaximized_ = isMaximized();
    childWasMaximized_ = child->isMaximized();
    hiddenForFullScreen_.clear();
    for (QWidget* w : {static_cast<QWidget*>(menuBar()), static_cast<QWidget*>(mainToolBar_),
                       static_cast<QWidget*>(imageToolBar_), static_cast<QWidget*>(browseToolBar_),
                       static_cast<QWidget*>(statusBar())}) {
      if (w && !w->isHidden()) {
        hiddenForFullScreen_ << w;
        w->hide();
      }
    }
    // The picture alone on a black screen, without the window's frame.
    child->setWindowFlag(Qt::FramelessWindowHint, true);
    child->showMaximized();
    child->view()->setFrameShape(QFrame::NoFrame);
    child->view()->backdrop = qRgb(0, 0, 0);
    showFullScreen();
    child->view()->OnZoomFit();
    child->view()->setFocus();
  } else {
    fullScreen_ = false;
    for (QWidget* w : hiddenForFullScreen_) w->show();
    hiddenForFullScreen_.clear();
    if (wasMaximized_) {
      showMaximized();
    } else {
      showNormal();
    }
    if (child) {
      child->setWindowFlag(Qt::FramelessWindowHint, false);
      child->view()->setFrameShape(QFrame::StyledPanel);
      child->view()->backdrop = CTOVIMView::kBackdrop;
      if (childWasMaximized_) {
        child->showMaximized();
      } else {
        child->showNormal();
      }
      if (child->view()->fitMode) child->view()->OnZoomFit();
    }
  }
  UpdateCommandUI();
}

bool CMainFrame::slideshowRunning() const { return slideshow_ && slideshow_->isActive(); }

void CMainFrame::ToggleSlideshow() {
  if (slideshowRunning()) {
    slideshow_->stop();
  } else if (activeView()) {
    slideshow_->start(app_.preferences().slideshowSeconds * 1000);
  }
  UpdateCommandUI();
}

bool CMainFrame::OpenFiles(const QStringList& paths) {
  bool any = false;
  for (const QString& path : paths) {
    if (app_.OpenDocumentFile(path)) any = true;
  }
  return any;
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data && data->hasUrls()) {
    for (const QUrl& url : data->urls()) {
      if (url.isLocalFile()) {
        event->acceptProposedAction();
        return;
      }
    }
  }
  event->ignore();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) paths << url.toLocalFile();
  }
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  // The drop returns to the other program first; the files open after.
  QTimer::singleShot(0, this, [this, paths] { OpenFiles(paths); });
}
