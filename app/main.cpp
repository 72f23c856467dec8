// lunark-viewer [--screen-bits N] [PATH...]
#include <QApplication>
#include <QCommandLineParser>

#include "commands.h"
#include "viewerapp.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Lunark"));
  QApplication::setApplicationVersion(QStringLiteral("1.2"));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Lunark image viewer"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption screenBits(
      QStringLiteral("screen-bits"),
      QStringLiteral("Treat the screen as having N bits per pixel (8 shows the display copies "
                     "of a 256-colour screen). Also LUNARK_SCREEN_BITS."),
      QStringLiteral("N"));
  parser.addOption(screenBits);
  parser.addPositionalArgument(QStringLiteral("path"), QStringLiteral("Image files to open."),
                               QStringLiteral("[PATH...]"));
  parser.process(application);

  CViewerApp::Options options;
  options.screenBits = qEnvironmentVariableIntValue("LUNARK_SCREEN_BITS");
  if (parser.isSet(screenBits)) options.screenBits = parser.value(screenBits).toInt();

  CViewerApp viewer(options);
  if (!viewer.InitInstance(parser.positionalArguments())) return 1;
  return application.exec();
}
