#include "aboutdialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "artwork.h"
#include "commands.h"

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About %1").arg(QLatin1String(kProductName)));
  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop);

  auto* title = new QLabel(ProductCaption(), this);
  title->setObjectName(QStringLiteral("productTitle"));
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  big.setBold(true);
  title->setFont(big);
  auto* text =
      new QLabel(QStringLiteral("Wavelet image viewer and converter.\n"
                                "Opens BMP, PCX, PGM, PPM, TGA, GIF, TIFF, JPEG and WIF files\n"
                                "and compresses pictures into WIF."),
                 this);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* words = new QVBoxLayout;
  words->addWidget(title);
  words->addWidget(text);
  words->addStretch();
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(12);
  row->addLayout(words);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}
