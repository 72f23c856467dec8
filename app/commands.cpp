#include "commands.h"

#include <iterator>

namespace {

// The string table: for each command, the status prompt and the tool tip
// separated by a line feed (the tip may be absent).
struct CommandString {
  int id;
  const char* text;
};

constexpr CommandString kStrings[] = {
    {kProgressive, "Progressive Display While Loading"},
    {kConvertTo24Bit, "Convert the image to 24-bit colour\nConvert To 24-Bit"},
    {kQuickDither, "Reduce colours for a 256-colour screen by dithering\nQuick Dither"},
    {kMedianCut, "Reduce colours for a 256-colour screen by median cut\nMedian Cut"},
    {kFastQuantization,
     "Reduce colours for a 256-colour screen by fast quantization\nFast Quantization"},
    {kBestQuantization,
     "Reduce colours for a 256-colour screen by best quantization\nBest Quantization"},
    {kCompress, "Compress the image into a WIF file\nCompress"},
    {kConvertToGray, "Convert 24-Bit Image to Gray Scale"},
    {kAdjustContrast, "Adjust the Brightness/Contrast of a Gray Scale Image"},
    {kAdjustBrightnessContrast,
     "Adjust the brightness and contrast of a grey-scale image\nAdjust Brightness/Contrast"},
    {kGeneralPreferences, "Change the general preferences\nGeneral Preferences"},
    {kFlipHorizontal, "Flip the image horizontally\nFlip Horizontal"},
    {kFlipVertical, "Flip the image vertically\nFlip Vertical"},
    {kRotateClockwise, "Rotate the image clockwise by 90 degrees\nRotate Clockwise"},
    {kRotateCounterClockwise,
     "Rotate the image counter clockwise by 90 degrees\nRotate Counter Clockwise"},
    {kToolZoom, "Zoom Image\nZoom Image"},
    {kToolPan, "Pan Image\nPan Image"},
    {kToolSelect, "Select a Region\nSelect Region"},
    {kInvertColor, "Invert the colours of the image\nInvert Colors"},
    {kResetPanZoom, "Reset Pan / Zoom\nReset Pan / Zoom"},
    {kViewImageToolbar, "Show or Hide The Image Toolbar\nHide Image Toolbar"},
    {kConvertMultiple, "Convert Multiple Images\nConvert Multiple Images"},
    {kNextImage, "Show the next picture of the folder\nNext Picture (Page Down)"},
    {kPreviousImage, "Show the previous picture of the folder\nPrevious Picture (Page Up)"},
    {kZoomFit, "Fit the picture to the window\nFit To Window"},
    {kZoomActual, "Show the picture at its actual size, one pixel per screen pixel\nActual Size"},
    {kFullScreen, "Show the picture on the whole screen\nFull Screen"},
    {kSlideshow, "Step through the folder's pictures by themselves\nSlideshow"},
    {kEditCopy, "Copy the picture to the clipboard\nCopy"},
    {kFileOpen, "Open an image file\nOpen"},
    {kFileClose, "Close the active image\nClose"},
    {kFileSaveAs, "Save the active image under a new name or format\nSave As"},
    {kWindowArrange, "Arrange the minimised windows at the bottom\nArrange Icons"},
    {kWindowCascade, "Arrange the windows so that they overlap\nCascade Windows"},
    {kWindowTile, "Arrange the windows side by side\nTile Windows"},
    {kAppAbout, "Display program information and version\nAbout"},
    {kAppExit, "Quit the application; asks to save changed images\nExit"},
    {kViewToolbar, "Show or hide the toolbar\nToggle Toolbar"},
    {kViewStatusBar, "Show or hide the status bar\nToggle Status Bar"},
};

QString Lookup(int id) {
  for (const CommandString& s : kStrings) {
    if (s.id == id) return QString::fromUtf8(s.text);
  }
  if (id >= kFileMru1 && id < kFileMru1 + 4) return QStringLiteral("Open this image");
  if (id >= kFilterFirst && id <= kGradientLast) return QStringLiteral("Filter the image");
  return {};
}

}  // namespace

QString CommandPrompt(int id) { return Lookup(id).section(QLatin1Char('\n'), 0, 0); }

QString CommandTip(int id) {
  const QString text = Lookup(id);
  const qsizetype feed = text.indexOf(QLatin1Char('\n'));
  return feed < 0 ? QString() : text.mid(feed + 1);
}

QString ProductCaption() {
  return QStringLiteral("%1  V%2").arg(QLatin1String(kProductName), QLatin1String(kProductVersion));
}
