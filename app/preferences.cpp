#include "preferences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "batch_folders.h"

namespace {

const QString kSection = QStringLiteral("Preferences");
const QString kTitle = QStringLiteral("Lunark  V1.2");

struct MethodName {
  vxColorReduction method;
  const char* label;
};
// In the order the Viewing page lists them (sorted).
constexpr MethodName kMethods[] = {
    {BestQuantization, "Best Quantization"},
    {FastQuantization, "Fast Quantization"},
    {MedianCut, "Median Cut"},
    {QuickDither, "Quick Dither"},
};

// The name under which an input filter is stored: its list text, with the
// WIF item's second extension left out so that the value holds no comma (an
// INI reader may take a comma for a list).
QString InputTypeKey(int index) {
  if (kBatchInputTypes[index].type == TypeWIF) return QStringLiteral("WIF");
  return QString::fromLatin1(kBatchInputTypes[index].label);
}

QString OutputTypeKey(int type) {
  const int index = BatchOutputIndex(type);
  return index < 0 ? QString() : QString::fromLatin1(kBatchOutputTypes[index].label);
}

bool ReadInt(QSettings& settings, const QString& key, int& value) {
  if (!settings.contains(key)) return false;
  bool ok = false;
  const int read = settings.value(key).toString().trimmed().toInt(&ok);
  if (ok) value = read;
  return ok;
}

void ReadBool(QSettings& settings, const QString& key, bool& value) {
  if (!settings.contains(key)) return;
  const QString text = settings.value(key).toString().trimmed().toLower();
  if (text == QStringLiteral("1") || text == QStringLiteral("true")) value = true;
  if (text == QStringLiteral("0") || text == QStringLiteral("false")) value = false;
}

QString CleanFolder(const QString& text) {
  const QString trimmed = text.trimmed();
  return trimmed.isEmpty() ? QString() : QDir::cleanPath(trimmed);
}

QLabel* Buddy(const QString& text, QWidget* field) {
  auto* label = new QLabel(text);
  label->setBuddy(field);
  return label;
}

}  // namespace

CPreferences::CPreferences() : inputFolder(QDir::homePath()), outputFolder(QDir::homePath()) {}

void CPreferences::Clamp() {
  inputTypeIndex = std::clamp(inputTypeIndex, 0, kBatchInputTypeCount - 1);
  if (BatchOutputIndex(outputType) < 0) outputType = TypeWIF;
  waveletLevels = std::clamp(waveletLevels, 0, 8);
  quality = std::clamp(quality, 1, 255);
  if (colorReduction < MedianCut || colorReduction > FastQuantization) colorReduction = MedianCut;
  contrast = std::clamp(contrast, -100, 100);
  brightness = std::clamp(brightness, -100, 100);
  slideshowSeconds = std::clamp(slideshowSeconds, 1, 3600);
}

void CPreferences::Load(QSettings& settings) {
  settings.beginGroup(kSection);
  if (settings.contains(QStringLiteral("InputFolder"))) {
    inputFolder = CleanFolder(settings.value(QStringLiteral("InputFolder")).toString());
  }
  if (settings.contains(QStringLiteral("OutputFolder"))) {
    outputFolder = CleanFolder(settings.value(QStringLiteral("OutputFolder")).toString());
  }
  const QString input = settings.value(QStringLiteral("InputType")).toString().trimmed();
  for (int i = 0; i < kBatchInputTypeCount; ++i) {
    if (input.compare(InputTypeKey(i), Qt::CaseInsensitive) == 0) inputTypeIndex = i;
  }
  const QString output = settings.value(QStringLiteral("OutputType")).toString().trimmed();
  for (const CBatchTypeItem& item : kBatchOutputTypes) {
    if (output.compare(QString::fromLatin1(item.label), Qt::CaseInsensitive) == 0) {
      outputType = item.type;
    }
  }
  ReadBool(settings, QStringLiteral("PreviewingOpenDialog"), previewingOpenDialog);
  ReadBool(settings, QStringLiteral("AutoConvert"), autoConvert);
  ReadInt(settings, QStringLiteral("WaveletLevels"), waveletLevels);
  ReadInt(settings, QStringLiteral("Quality"), quality);
  const QString method = settings.value(QStringLiteral("ColorReduction")).toString().trimmed();
  for (const MethodName& m : kMethods) {
    if (method.compare(QString::fromLatin1(m.label), Qt::CaseInsensitive) == 0) {
      colorReduction = m.method;
    }
  }
  ReadBool(settings, QStringLiteral("InteractiveFiltering"), interactiveFiltering);
  ReadInt(settings, QStringLiteral("Contrast"), contrast);
  ReadInt(settings, QStringLiteral("Brightness"), brightness);
  ReadBool(settings, QStringLiteral("FitLargePictures"), fitLargePictures);
  ReadBool(settings, QStringLiteral("WheelZooms"), wheelZooms);
  ReadInt(settings, QStringLiteral("SlideshowSeconds"), slideshowSeconds);
  settings.endGroup();
  Clamp();
}

bool CPreferences::Save(QSettings& settings) const {
  CPreferences p = *this;
  p.Clamp();
  settings.beginGroup(kSection);
  settings.setValue(QStringLiteral("InputFolder"), p.inputFolder);
  settings.setValue(QStringLiteral("InputType"), InputTypeKey(p.inputTypeIndex));
  settings.setValue(QStringLiteral("OutputFolder"), p.outputFolder);
  settings.setValue(QStringLiteral("OutputType"), OutputTypeKey(p.outputType));
  settings.setValue(QStringLiteral("PreviewingOpenDialog"), p.previewingOpenDialog ? 1 : 0);
  settings.setValue(QStringLiteral("AutoConvert"), p.autoConvert ? 1 : 0);
  settings.setValue(QStringLiteral("WaveletLevels"), p.waveletLevels);
  settings.setValue(QStringLiteral("Quality"), p.quality);
  for (const MethodName& m : kMethods) {
    if (m.method == p.colorReduction) {
      settings.setValue(QStringLiteral("ColorReduction"), QString::fromLatin1(m.label));
    }
  }
  settings.setValue(QStringLiteral("InteractiveFiltering"), p.interactiveFiltering ? 1 : 0);
  settings.setValue(QStringLiteral("Contrast"), p.contrast);
  settings.setValue(QStringLiteral("Brightness"), p.brightness);
  settings.setValue(QStringLiteral("FitLargePictures"), p.fitLargePictures ? 1 : 0);
  settings.setValue(QStringLiteral("WheelZooms"), p.wheelZooms ? 1 : 0);
  settings.setValue(QStringLiteral("SlideshowSeconds"), p.slideshowSeconds);
  settings.endGroup();
  settings.sync();
  return settings.status() == QSettings::NoError;
}

CPreferences CPreferences::FromSettings(QSettings& settings) {
  CPreferences prefs;
  prefs.Load(settings);
  return prefs;
}

CPreferencesSheet::CPreferencesSheet(QSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(QStringLiteral("General Preferences"));
  message_ = [this](const QString& text) { QMessageBox::warning(this, kTitle, text); };
  pickFolder_ = [this](const QString& title, const QString& start) {
    return PickBatchFolder(this, title, start);
  };

  tabs_ = new QTabWidget;
  tabs_->addTab(BuildGeneralPage(), QStringLiteral("General"));
  tabs_->addTab(BuildCompressionPage(), QStringLiteral("Compression"));
  tabs_->addTab(BuildViewingPage(), QStringLiteral("Viewing"));
  tabs_->addTab(BuildImageProcessingPage(), QStringLiteral("Image Processing"));

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                  QDialogButtonBox::Apply);
  connect(buttons_, &QDialogButtonBox::accepted, this, &CPreferencesSheet::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &CPreferencesSheet::reject);
  connect(buttons_->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
          [this] { Apply(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons_);

  setValues(CPreferences::FromSettings(settings_));
}

QWidget* CPreferencesSheet::BuildGeneralPage() {
  auto* page = new QWidget;
  auto folderRow = [this](QGridLayout* grid, int row, QLineEdit*& edit, const char* name,
                          const QString& pickerTitle) {
    edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMinimumWidth(260);
    auto* browse = new QPushButton(QStringLiteral("Browse"));
    browse->setObjectName(QString::fromLatin1(name) + QStringLiteral("Browse"));
    QLineEdit* target = edit;
    connect(browse, &QPushButton::clicked, this,
            [this, target, pickerTitle] { Browse(target, pickerTitle); });
    connect(edit, &QLineEdit::textChanged, this, &CPreferencesSheet::MarkChanged);
    grid->addWidget(Buddy(QStringLiteral("Default Folder"), edit), row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(browse, row, 2);
  };

  auto* input = new QGroupBox(QStringLiteral("Input Preferences"));
  auto* inputGrid = new QGridLayout(input);
  folderRow(inputGrid, 0, inputFolder_, "defaultInputFolder",
            QStringLiteral("Select Input Directory File"));
  inputType_ = new QComboBox;
  inputType_->setObjectName(QStringLiteral("defaultInputType"));
  for (int i = 0; i < kBatchInputTypeCount; ++i) {
    inputType_->addItem(QString::fromLatin1(kBatchInputTypes[i].label).toLower(), i);
  }
  inputGrid->addWidget(Buddy(QStringLiteral("Default Input Type"), inputType_), 1, 0);
  inputGrid->addWidget(inputType_, 1, 1);

  auto* output = new QGroupBox(QStringLiteral("Default Output Preferences"));
  auto* outputGrid = new QGridLayout(output);
  folderRow(outputGrid, 0, outputFolder_, "defaultOutputFolder",
            QStringLiteral("Select Output Directory File"));
  outputType_ = new QComboBox;
  outputType_->setObjectName(QStringLiteral("defaultOutputType"));
  for (const CBatchTypeItem& item : kBatchOutputTypes) {
    outputType_->addItem(QString::fromLatin1(item.label).toLower(), item.type);
  }
  outputGrid->addWidget(Buddy(QStringLiteral("Default Output Type"), outputType_), 1, 0);
  outputGrid->addWidget(outputType_, 1, 1);

  previewing_ = new QCheckBox(QStringLiteral("Previewing Open Dialog"));
  previewing_->setObjectName(QStringLiteral("previewingOpenDialog"));
  autoConvert_ = new QCheckBox(QStringLiteral("Auto Convert Images For Compression"));
  autoConvert_->setObjectName(QStringLiteral("autoConvert"));
  for (QComboBox* combo : {inputType_, outputType_}) {
    connect(combo, &QComboBox::currentIndexChanged, this, &CPreferencesSheet::MarkChanged);
  }
  fitLarge_ = new QCheckBox(QStringLiteral("Fit Large Pictures To The Window"));
  fitLarge_->setObjectName(QStringLiteral("fitLargePictures"));
  wheelZooms_ = new QCheckBox(QStringLiteral("Mouse Wheel Zooms Without Ctrl"));
  wheelZooms_->setObjectName(QStringLiteral("wheelZooms"));
  slideshow_ = new QSpinBox;
  slideshow_->setObjectName(QStringLiteral("slideshowSeconds"));
  slideshow_->setRange(1, 3600);
  slideshow_->setSuffix(QStringLiteral(" s"));
  connect(slideshow_, &QSpinBox::valueChanged, this, &CPreferencesSheet::MarkChanged);
  for (QCheckBox* box : {previewing_, autoConvert_, fitLarge_, wheelZooms_}) {
    connect(box, &QCheckBox::toggled, this, &CPreferencesSheet::MarkChanged);
  }
  auto* browsing = new QGroupBox(QStringLiteral("Viewing Preferences"));
  auto* browsingForm = new QFormLayout(browsing);
  browsingForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  browsingForm->addRow(fitLarge_);
  browsingForm->addRow(wheelZooms_);
  browsingForm->addRow(Buddy(QStringLiteral("Slideshow Interval"), slideshow_), slideshow_);

  // The two groups' fields line up under each other.
  int labelWidth = 0;
  for (QGridLayout* grid : {inputGrid, outputGrid}) {
    for (int row = 0; row < grid->rowCount(); ++row) {
      if (QLayoutItem* item = grid->itemAtPosition(row, 0)) {
        labelWidth = std::max(labelWidth, item->widget()->sizeHint().width());
      }
    }
  }
  for (QGridLayout* grid : {inputGrid, outputGrid}) {
    grid->setColumnMinimumWidth(0, labelWidth);
    grid->setColumnStretch(1, 1);
  }

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(input);
  layout->addWidget(output);
  layout->addWidget(previewing_);
  layout->addWidget(autoConvert_);
  layout->addWidget(browsing);
  layout->addStretch();
  return page;
}

QWidget* CPreferencesSheet::BuildCompressionPage() {
  auto* page = new QWidget;

  auto* wavelet = new QGroupBox(QStringLiteral("Wavelet Options"));
  levels_ = new QSpinBox;
  levels_->setObjectName(QStringLiteral("defaultWaveletLevels"));
  levels_->setRange(0, 8);
  // 0 leaves the number of levels to the encoder, which picks it from the
  // picture's size.
  levels_->setSpecialValueText(QStringLiteral("Automatic"));
  levels_->setMinimumWidth(110);
  connect(levels_, &QSpinBox::valueChanged, this, &CPreferencesSheet::MarkChanged);
  auto* waveletForm = new QFormLayout(wavelet);
  waveletForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  waveletForm->addRow(Buddy(QStringLiteral("Default Wavelet Levels"), levels_), levels_);

  auto* quantizer = new QGroupBox(QStringLiteral("Quantizer Options"));
  quality_ = new QSlider(Qt::Horizontal);
  quality_->setObjectName(QStringLiteral("defaultQuality"));
  quality_->setRange(1, 255);
  quality_->setPageStep(16);
  quality_->setTickPosition(QSlider::TicksBelow);
  quality_->setTickInterval(32);
  qualityValue_ = new QLabel;
  qualityValue_->setObjectName(QStringLiteral("defaultQualityValue"));
  qualityValue_->setFrameShape(QFrame::StyledPanel);
  qualityValue_->setFrameShadow(QFrame::Sunken);
  qualityValue_->setMinimumWidth(
      qualityValue_->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
  qualityValue_->setAlignment(Qt::AlignCenter);
  connect(quality_, &QSlider::valueChanged, this, [this](int value) {
    ShowQuality(value);
    MarkChanged();
  });
  auto* grid = new QGridLayout(quantizer);
  grid->addWidget(Buddy(QStringLiteral("Default Quality"), quality_), 0, 0);
  grid->addWidget(quality_, 0, 1);
  grid->addWidget(qualityValue_, 0, 2);
  // The quality is a quantizer step: small values keep more detail.
  auto* ends = new QHBoxLayout;
  ends->addWidget(new QLabel(QStringLiteral("1  High")));
  ends->addStretch();
  ends->addWidget(new QLabel(QStringLiteral("Low  255")));
  grid->addLayout(ends, 1, 1);
  grid->setColumnStretch(1, 1);
  grid->setColumnMinimumWidth(
      0, waveletForm->itemAt(0, QFormLayout::LabelRole)->widget()->sizeHint().width());

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(wavelet);
  layout->addWidget(quantizer);
  layout->addStretch();
  return page;
}

QWidget* CPreferencesSheet::BuildViewingPage() {
  auto* page = new QWidget;
  colorReduction_ = new QComboBox;
  colorReduction_->setObjectName(QStringLiteral("defaultColorReduction"));
  for (const MethodName& m : kMethods)
    colorReduction_->addItem(QString::fromLatin1(m.label), m.method);
  connect(colorReduction_, &QComboBox::currentIndexChanged, this, &CPreferencesSheet::MarkChanged);
  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  form->addRow(Buddy(QStringLiteral("Default Color Reduction Method"), colorReduction_),
               colorReduction_);
  auto* note = new QLabel(
      QStringLiteral("Used from the next start of the viewer on a screen of 256 colours; "
                     "the Options menu changes the method of the running viewer."));
  note->setWordWrap(true);
  note->setEnabled(false);
  auto* layout = new QVBoxLayout(page);
  layout->addLayout(form);
  layout->addWidget(note);
  layout->addStretch();
  return page;
}

QWidget* CPreferencesSheet::BuildImageProcessingPage() {
  auto* page = new QWidget;
  interactive_ = new QCheckBox(QStringLiteral("Interactive Filtering"));
  interactive_->setObjectName(QStringLiteral("interactiveFiltering"));
  connect(interactive_, &QCheckBox::toggled, this, &CPreferencesSheet::MarkChanged);
  auto makeSpin = [this](const char* name) {
    auto* spin = new QSpinBox;
    spin->setObjectName(QString::fromLatin1(name));
    spin->setRange(-100, 100);
    spin->setMinimumWidth(90);
    connect(spin, &QSpinBox::valueChanged, this, &CPreferencesSheet::MarkChanged);
    return spin;
  };
  contrast_ = makeSpin("defaultContrast");
  brightness_ = makeSpin("defaultBrightness");
  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  form->addRow(Buddy(QStringLiteral("Default Contrast"), contrast_), contrast_);
  form->addRow(Buddy(QStringLiteral("Default Brightnes"), brightness_), brightness_);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(interactive_);
  layout->addLayout(form);
  layout->addStretch();
  return page;
}

CPreferences CPreferencesSheet::values() const {
  CPreferences p;
  p.inputFolder = CleanFolder(inputFolder_->text());
  p.inputTypeIndex = inputType_->currentData().toInt();
  p.outputFolder = CleanFolder(outputFolder_->text());
  p.outputType = outputType_->currentData().toInt();
  p.previewingOpenDialog = previewing_->isChecked();
  p.autoConvert = autoConvert_->isChecked();
  p.fitLargePictures = fitLarge_->isChecked();
  p.wheelZooms = wheelZooms_->isChecked();
  p.slideshowSeconds = slideshow_->value();
  p.waveletLevels = levels_->value();
  p.quality = quality_->value();
  p.colorReduction = static_cast<vxColorReduction>(colorReduction_->currentData().toInt());
  p.interactiveFiltering = interactive_->isChecked();
  p.contrast = contrast_->value();
  p.brightness = brightness_->value();
  p.Clamp();
  return p;
}

void CPreferencesSheet::setValues(const CPreferences& prefs) {
  CPreferences p = prefs;
  p.Clamp();
  loading_ = true;
  inputFolder_->setText(p.inputFolder);
  inputType_->setCurrentIndex(inputType_->findData(p.inputTypeIndex));
  outputFolder_->setText(p.outputFolder);
  outputType_->setCurrentIndex(outputType_->findData(p.outputType));
  previewing_->setChecked(p.previewingOpenDialog);
  autoConvert_->setChecked(p.autoConvert);
  fitLarge_->setChecked(p.fitLargePictures);
  wheelZooms_->setChecked(p.wheelZooms);
  slideshow_->setValue(p.slideshowSeconds);
  levels_->setValue(p.waveletLevels);
  quality_->setValue(p.quality);
  ShowQuality(p.quality);
  colorReduction_->setCurrentIndex(colorReduction_->findData(static_cast<int>(p.colorReduction)));
  interactive_->setChecked(p.interactiveFiltering);
  contrast_->setValue(p.contrast);
  brightness_->setValue(p.brightness);
  loading_ = false;
  buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
}

bool CPreferencesSheet::Apply() {
  // Typed numbers that were not confirmed with Enter still count.
  for (QSpinBox* spin : {levels_, contrast_, brightness_, slideshow_}) spin->interpretText();
  for (QLineEdit* edit : {inputFolder_, outputFolder_}) {
    const QString folder = CleanFolder(edit->text());
    if (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
      tabs_->setCurrentIndex(0);
      message_(QStringLiteral("The folder %1 does not exist.").arg(folder));
      edit->setFocus();
      edit->selectAll();
      return false;
    }
  }
  const CPreferences prefs = values();
  if (!prefs.Save(settings_)) {
    message_(
        QStringLiteral("The preferences could not be stored in %1.").arg(settings_.fileName()));
    return false;
  }
  setValues(prefs);
  emit applied(prefs);
  return true;
}

void CPreferencesSheet::accept() {
  if (Apply()) QDialog::accept();
}

void CPreferencesSheet::Browse(QLineEdit* edit, const QString& title) {
  const QString start = edit->text().trimmed().isEmpty() ? QDir::homePath() : edit->text();
  const QString folder = pickFolder_(title, start);
  if (!folder.isEmpty()) edit->setText(folder);
}

void CPreferencesSheet::MarkChanged() {
  if (loading_) return;
  buttons_->button(QDialogButtonBox::Apply)->setEnabled(true);
}

void CPreferencesSheet::ShowQuality(int value) { qualityValue_->setNum(value); }

bool ShowPreferencesSheet(QWidget* parent, QSettings& settings) {
  CPreferencesSheet sheet(settings, parent);
  bool stored = false;
  QObject::connect(&sheet, &CPreferencesSheet::applied, [&stored] { stored = true; });
  sheet.exec();
  return stored;
}
