// lunark-viewer [--screen-bits N] [PATH...]
#include <QApplication>
#include <QCommandLineParser>
#include <cstring>
#include <memory>

#include "viewerapp.h"

namespace {

void Describe(QCommandLineParser& parser, QCommandLineOption& screenBits) {
  parser.setApplicationDescription(
      QStringLiteral("Views BMP, PCX, PGM, PPM, TGA, GIF, TIFF, JPEG and WIF pictures, each in its "
                     "own window, with its load time, size, depth and compression ratio."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addOption(screenBits);
  parser.addPositionalArgument(QStringLiteral("path"), QStringLiteral("Image files to open."),
                               QStringLiteral("[PATH...]"));
}

// --help and --version need no display.
bool AsksForInformation(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"}) {
      if (std::strcmp(argv[i], option) == 0) return true;
    }
  }
  return false;
}

void Name() {
  QCoreApplication::setOrganizationName(QStringLiteral("Lunark"));
  QCoreApplication::setApplicationName(QStringLiteral("lunark-viewer"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.2"));
}

}  // namespace

int main(int argc, char** argv) {
  QCommandLineParser parser;
  QCommandLineOption screenBits(
      QStringLiteral("screen-bits"),
      QStringLiteral("Treat the screen as having N bits per pixel; 8 shows the reduced colours of "
                     "a 256-colour screen. The environment variable LUNARK_SCREEN_BITS does the "
                     "same."),
      QStringLiteral("N"));
  Describe(parser, screenBits);
  if (AsksForInformation(argc, argv)) {
    QCoreApplication information(argc, argv);
    Name();
    parser.process(information);  // prints and exits
    return 0;
  }

  QApplication application(argc, argv);
  Name();
  QGuiApplication::setDesktopFileName(QStringLiteral("lunark-viewer"));
  parser.process(application);

  CViewerOptions options;
  options.screenBits = qEnvironmentVariableIntValue("LUNARK_SCREEN_BITS");
  if (parser.isSet(screenBits)) options.screenBits = parser.value(screenBits).toInt();

  CViewerApp viewer(options);
  if (!viewer.InitInstance(parser.positionalArguments())) return 1;
  return application.exec();
}
