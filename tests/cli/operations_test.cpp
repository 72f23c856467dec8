// The image operations of `lunark convert`, run through the built program:
// each option must reach the right engine operation with the right value.
#include <gtest/gtest.h>

#include <functional>

#include "cli_util.h"
#include "engine/quantizer.h"

using namespace testing_support;
using namespace cli_test;

namespace {

Outcome ConvertPhoto(const std::string& out, const std::string& options) {
  return Lunark(Words(options, {"convert", DataPath("chelsea.ppm"), out}));
}

bool Quantize(vxImage& im, int colours, vxColorReduction method) {
  vxQuantizer q;
  im.AdoptBlock(q.Quantize(im.bits, im.Width(), im.Height(), colours, method));
  return !im.IsEmpty();
}

bool Tone(vxImage& im, bool contrast, int amount) {
  if (im.Make8Bit() != 1) return false;
  const std::vector<vxRGBA> source(im.palette, im.palette + im.ColoursUsed());
  const int done =
      contrast ? im.Contrast(source.data(), amount) : im.Brightness(source.data(), amount);
  return done == 1 && im.ApplyColorMap() == 1;
}

// The result of each option list (applied in the order given) equals the
// engine's own result on the loaded photo; the engine tests pin the operations.
TEST(CliOperations, OptionsApplyTheEngineOperations) {
  TempDir dir;
  const struct {
    const char* options;
    std::function<bool(vxImage&)> apply;
  } cases[] = {
      {"--rotate 90", [](vxImage& im) { return im.Rotate(90) == 1; }},
      {"--rotate -90", [](vxImage& im) { return im.Rotate(-90) == 1; }},
      {"--flip h", [](vxImage& im) { return im.Flip(1) == 0; }},
      {"--flip v --rotate 90", [](vxImage& im) { return im.Flip(0) == 0 && im.Rotate(90) == 1; }},
      {"--resize 100x100", [](vxImage& im) { return im.ZoomImage(100, 100) == 1; }},
      {"--invert", [](vxImage& im) { return im.InvertColor() == 0; }},
      {"--grey", [](vxImage& im) { return im.Make8Bit() == 1; }},
      {"--grey --filter lowpass2",
       [](vxImage& im) { return im.Make8Bit() == 1 && im.Filter(1) == 1; }},
      {"--grey --filter laplace1",
       [](vxImage& im) { return im.Make8Bit() == 1 && im.Filter(9) == 1; }},
      {"--grey --contrast 50", [](vxImage& im) { return Tone(im, true, 50); }},
      {"--grey --brightness 40", [](vxImage& im) { return Tone(im, false, 40); }},
      {"--quantize median --colours 16", [](vxImage& im) { return Quantize(im, 16, MedianCut); }},
      {"--quantize best --colors 16",
       [](vxImage& im) { return Quantize(im, 16, BestQuantization); }},
      {"--quantize median --colours 32 --colour",
       [](vxImage& im) { return Quantize(im, 32, MedianCut) && im.Make24Bit() == 1; }},
      {"--quantize fast", [](vxImage& im) { return Quantize(im, 256, FastQuantization); }},
  };
  const std::string out = dir.File("o.ppm");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const Outcome o = ConvertPhoto(out, c.options);
    ASSERT_EQ(o.status, 0) << o.err;
    int w = 0, h = 0;
    std::vector<uint8_t> ours;
    ASSERT_TRUE(ReadNetpbmRGB(out, w, h, ours));
    vxScopedImage engine;
    ASSERT_EQ(engine.LoadImage(DataPath("chelsea.ppm").c_str()), 0);
    ASSERT_TRUE(c.apply(engine));
    EXPECT_EQ(ours, TopDownRGB(engine));
  }
  // Tone changes need a palette; --quality reaches the JPEG writer (whose
  // default is 80).
  const Outcome tone = ConvertPhoto(dir.File("x.ppm"), "--contrast 10");
  EXPECT_EQ(tone.status, 1);
  EXPECT_NE(tone.err.find("works on palette images"), std::string::npos) << tone.err;
  ASSERT_EQ(ConvertPhoto(dir.File("q.jpg"), "--quality 20").status, 0);
  EXPECT_EQ(RunCapture("identify -format %Q " + Quote(dir.File("q.jpg"))), "20");
}

}  // namespace
