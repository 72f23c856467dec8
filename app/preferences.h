// The user's preferences and the "General Preferences" sheet that edits them.
//
// CPreferences is plain data, kept in the viewer's profile (the INI file that
// also holds the "Recent File List") under the section "Preferences". Each
// part of the viewer reads the fields it is governed by:
//   the batch dialog          inputFolder, inputTypeIndex, outputFolder,
//                             outputType, quality and waveletLevels (its
//                             default WIF record);
//   the open dialog           previewingOpenDialog (the "File Status" panel);
//   Save As and Compress      autoConvert (convert the colour depth without
//                             asking);
//   the WIF options dialog    quality (its starting position);
//   the WIF writer's options  waveletLevels (0: the encoder chooses);
//   start-up                  colorReduction (the Options menu's method until
//                             the user picks another one there);
//   the adjustment dialogs    interactiveFiltering ("Preview" starts checked),
//                             contrast and brightness (where the sliders start);
//   the views                 fitLargePictures (pictures larger than the window
//                             open fitted), wheelZooms (the wheel zooms without
//                             Ctrl) and slideshowSeconds (the slideshow's pace).
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "batch_types.h"
#include "engine/image.h"
#include "engine/options.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSettings;
class QSlider;
class QSpinBox;
class QTabWidget;

struct CPreferences {
  // "General": the batch dialog's starting folders and types.
  QString inputFolder;                       // empty: the list of volumes
  int inputTypeIndex = kBatchAllImageTypes;  // an index of kBatchInputTypes
  QString outputFolder;
  int outputType = TypeWIF;          // a type id of kBatchOutputTypes
  bool previewingOpenDialog = true;  // the open dialog shows "File Status"
  bool autoConvert = false;          // convert before compressing without asking
  bool fitLargePictures = true;      // a picture larger than its window opens fitted
  bool wheelZooms = false;           // the wheel alone zooms (else Ctrl+wheel)
  int slideshowSeconds = 5;          // 1..3600 seconds per picture
  // "Compression"
  int waveletLevels = 0;              // 0: chosen by the encoder, else 1..8
  int quality = vxDefaultWifQuality;  // WIF quality 1..255
  // "Viewing"
  vxColorReduction colorReduction = MedianCut;  // the method at start-up
  // "Image Processing"
  bool interactiveFiltering = true;  // adjustment dialogs preview as the sliders move
  int contrast = 0;                  // -100..100
  int brightness = 0;                // -100..100

  // The defaults; both folders are the user's home folder.
  CPreferences();

  // Reads the "Preferences" section; a missing key keeps its default, a
  // value out of range is brought into range and one that cannot be read
  // is ignored.
  void Load(QSettings& settings);
  // Writes every field into the "Preferences" section and flushes the file;
  // false when the settings could not be written.
  bool Save(QSettings& settings) const;
  // Brings every number into its range.
  void Clamp();

  static CPreferences FromSettings(QSettings& settings);
  bool operator==(const CPreferences&) const = default;
};

// The preferences sheet: four pages, loaded from the settings when it opens
// and stored there by OK and Apply.
class CPreferencesSheet : public QDialog {
  Q_OBJECT

 public:
  // Shows a message (an invalid value); tests replace it.
  using MessageHandler = std::function<void(const QString& text)>;
  // Asks for a folder: (title, starting folder) -> the folder, or "" for none.
  using FolderPicker = std::function<QString(const QString& title, const QString& start)>;

  explicit CPreferencesSheet(QSettings& settings, QWidget* parent = nullptr);

  // The values the pages show now.
  CPreferences values() const;
  void setValues(const CPreferences& prefs);

  // Checks the pages and stores their values; false (after a message, with
  // the offending field focused) when a value is refused.
  bool Apply();

  void SetMessageHandler(MessageHandler handler) { message_ = std::move(handler); }
  void SetFolderPicker(FolderPicker picker) { pickFolder_ = std::move(picker); }
  QTabWidget* tabs() const { return tabs_; }

 signals:
  // Stored by OK or Apply: the values now in force.
  void applied(const CPreferences& prefs);

 public slots:
  void accept() override;

 private:
  QWidget* BuildGeneralPage();
  QWidget* BuildCompressionPage();
  QWidget* BuildViewingPage();
  QWidget* BuildImageProcessingPage();
  void Browse(QLineEdit* edit, const QString& title);
  void MarkChanged();
  void ShowQuality(int value);

  QSettings& settings_;
  MessageHandler message_;
  FolderPicker pickFolder_;
  bool loading_ = false;

  QTabWidget* tabs_ = nullptr;
  QLineEdit* inputFolder_ = nullptr;
  QComboBox* inputType_ = nullptr;
  QLineEdit* outputFolder_ = nullptr;
  QComboBox* outputType_ = nullptr;
  QCheckBox* previewing_ = nullptr;
  QCheckBox* autoConvert_ = nullptr;
  QCheckBox* fitLarge_ = nullptr;
  QCheckBox* wheelZooms_ = nullptr;
  QSpinBox* slideshow_ = nullptr;
  QSpinBox* levels_ = nullptr;
  QSlider* quality_ = nullptr;
  QLabel* qualityValue_ = nullptr;
  QComboBox* colorReduction_ = nullptr;
  QCheckBox* interactive_ = nullptr;
  QSpinBox* contrast_ = nullptr;
  QSpinBox* brightness_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

// Command 32783: shows the sheet on the settings; true when values were
// stored (by OK or Apply).
bool ShowPreferencesSheet(QWidget* parent, QSettings& settings);
