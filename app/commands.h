// Command ids of the viewer and the texts that go with them.
//
// One id names a command wherever it appears: menu item, tool bar button,
// accelerator. The prompt is shown in the status bar while the pointer rests
// on the item; the tip is the button's tool tip.
#pragma once

#include <QString>

enum Command : int {
  kProgressive = 32772,
  kConvertTo24Bit = 32773,
  kQuickDither = 32774,
  kMedianCut = 32775,
  kFastQuantization = 32776,
  kBestQuantization = 32777,
  kCompress = 32778,
  kConvertToGray = 32779,
  kAdjustContrast = 32780,
  kAdjustBrightnessContrast = 32782,
  kGeneralPreferences = 32783,
  kFilterFirst = 32791,  // Low Pass 1 ... Laplace 4 = 32791 ... 32803
  kFilterLastKernel = 32803,
  kGradientFirst = 32804,  // North ... North West = 32804 ... 32811
  kGradientLast = 32811,
  kFlipHorizontal = 32813,
  kFlipVertical = 32814,
  kRotateClockwise = 32815,
  kRotateCounterClockwise = 32816,
  kToolZoom = 32835,
  kToolPan = 32837,
  kCustomizeImageToolbar = 32838,
  kToolSelect = 32839,
  kInvertColor = 32840,
  kResetPanZoom = 32845,
  kViewImageToolbar = 32846,
  kConvertMultiple = 32847,
  // Browsing and display.
  kNextImage = 33001,
  kPreviousImage = 33002,
  kZoomFit = 33003,
  kZoomActual = 33004,
  kFullScreen = 33005,
  kSlideshow = 33006,
  kEditCopy = 57634,
  kFileOpen = 57601,
  kFileClose = 57602,
  kFileSaveAs = 57604,
  kFileMru1 = 57616,  // the recent files are 57616 ... 57619
  kWindowArrange = 57649,
  kWindowCascade = 57650,
  kWindowTile = 57651,
  kAppAbout = 57664,
  kAppExit = 57665,
  kViewToolbar = 59392,
  kViewStatusBar = 59393,
};

// Cursors shown over a view.
enum CursorId : int {
  kCursorPan = 154,
  kCursorZoom = 167,
  kCursorArrow = 184,
};

// Application title: the caption of every message box.
inline constexpr char kAppTitle[] = "Lunark  V1.2";
// Main window caption at start-up and the About dialog's title line.
inline constexpr char kProductName[] = "The Lunark";
inline constexpr char kProductVersion[] = "1.4";

QString CommandPrompt(int id);
QString CommandTip(int id);
// "The Lunark  V1.4".
QString ProductCaption();
