// lunark: the command-line face of the Lunark engine.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

namespace {

void PrintHelp(std::FILE* out) {
  std::fprintf(
      out,
      "Usage: lunark COMMAND [ARGUMENTS]\n"
      "\n"
      "Commands:\n"
      "  info FILE...                      type, width, height, depth and size of each file\n"
      "  convert INPUT OUTPUT [OPTIONS]    load, convert the colour depth for the output\n"
      "                                    type, apply the operations in order, save\n"
      "  batch --to TYPE --out DIR FILE... convert many files into DIR, in parallel\n"
      "  thumbnail INPUT OUTPUT.png SIZE   a PNG picture at most SIZE pixels on a side\n"
      "\n"
      "Options of convert:\n"
      "  --type TYPE         output type: bmp, pcx, ppm, pgm, tga, tiff, jpeg, wif\n"
      "                      (default: from the output file's extension)\n"
      "  --quality Q         WIF 1..255 (small is better, default 50); JPEG 1..100\n"
      "                      (default 80)\n"
      "  --levels N          WIF wavelet levels 1..8 (default: chosen by the encoder)\n"
      "%s"
      "\n"
      "Option of info, convert and batch:\n"
      "  --max-memory SIZE   largest picture to decode, in pixel bytes: MiB, or with\n"
      "                      a unit K, M or G (default 1G); larger files are refused\n"
      "\n"
      "Options of batch (besides --quality and --levels):\n"
      "  --to TYPE           output type: bmp, pcx, ppm, pgm, tga, tiff, jpeg, wif\n"
      "  --out DIR           output folder; each file keeps its base name\n"
      "  --jobs N            files converted at once (default: the number of cores)\n"
      "  FILE...             files, or folders standing for the image files in them\n"
      "\n"
      "  -h, --help          show this help\n"
      "  --version           show the version\n"
      "\n"
      "Environment:\n"
      "  LUNARK_THREADS=N    threads one conversion may use to load large PPM and\n"
      "                      PGM files and to code WIF (default: the number of\n"
      "                      cores; batch uses one per file when it converts\n"
      "                      several at once)\n"
      "\n"
      "Exit status: 0 on success, 1 when a file failed, 2 for a usage error.\n",
      cli::kOperationHelp);
}

}  // namespace

int main(int argc, char** argv) {
  cli::Args args(argv + 1, argv + argc);
  if (args.empty()) {
    // A usage error: the help goes to standard error, out of a pipe's way.
    PrintHelp(stderr);
    return 2;
  }
  const std::string command = args.front();
  if (command == "-h" || command == "--help" || command == "help") {
    PrintHelp(stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("lunark %s\n", LUNARK_VERSION);
    return 0;
  }
  cli::InstallNoticePrinter();
  args.erase(args.begin());
  for (const std::string& a : args) {
    if (a == "-h" || a == "--help") {
      PrintHelp(stdout);
      return 0;
    }
  }
  if (command == "info" || command == "convert" || command == "batch") {
    std::string error;
    if (!cli::TakeMemoryOption(args, error)) {
      cli::Fail("", command + ": " + error);
      return 2;
    }
  }
  if (command == "info") return cli::RunInfo(args);
  if (command == "convert") return cli::RunConvert(args);
  if (command == "batch") return cli::RunBatch(args);
  if (command == "thumbnail") return cli::RunThumbnail(args);
  cli::Fail("", "unknown command '" + command + "' (see lunark --help)");
  return 2;
}
