// Runs the built `lunark` program for the command-line tests.
#pragma once

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace cli_test {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// Quotes a word for the shell, whatever it holds.
inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs lunark with the arguments. `limited` adds a 1 GiB address-space limit
// (not under AddressSanitizer, whose shadow memory needs terabytes of it) and
// kills it after 60 seconds.
inline Outcome Lunark(const std::vector<std::string>& args, bool limited = false) {
  testing_support::TempDir scratch;
  std::string command;
  if (limited && !kAddressSanitizer) command = "ulimit -v 1048576; ";
  command += limited ? "exec timeout -s KILL 60 " : "exec ";
  command += Quote(LUNARK_CLI_PATH);
  for (const std::string& a : args) command += " " + Quote(a);
  const std::string errFile = scratch.File("stderr");
  Outcome o;
  o.out = testing_support::RunCapture(command + " 2>" + Quote(errFile), &o.status);
  std::ifstream in(errFile);
  o.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return o;
}

// The words of `line` after `first`, for tables of command lines.
inline std::vector<std::string> Words(const std::string& line,
                                      std::vector<std::string> first = {}) {
  std::istringstream in(line);
  for (std::string w; in >> w;) first.push_back(w);
  return first;
}

// Writes a test pattern (colour, or grey when `bits` is 8) as `type`.
inline std::string SavePattern(const std::string& path, int w, int h, int bits,
                               int type = TypeBMP) {
  vxScopedImage image;
  testing_support::MakePattern(image, w, h, bits, static_cast<uint32_t>(w + h));
  return image.SaveImage(path.c_str(), type) == 0 ? path : "";
}

// The picture in a file as the engine loads it (empty when it does not).
inline std::vector<uint8_t> PixelsOf(const std::string& path) {
  vxScopedImage image;
  return image.LoadImage(path.c_str()) == 0 ? testing_support::TopDownRGB(image)
                                            : std::vector<uint8_t>{};
}

}  // namespace cli_test
