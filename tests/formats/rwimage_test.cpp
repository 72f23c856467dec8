#include "formats/rwimage.h"

#include <gtest/gtest.h>

#include <vector>

// The vector path stores sixteen bytes for every five pixels: every length
// around its step must come out exact and write nothing past the last pixel.
TEST(ByteOperations, SwapRedBlueEveryLength) {
  for (size_t pixels = 0; pixels <= 40; ++pixels) {
    std::vector<unsigned char> in(3 * pixels);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(7 * i + 1);
    std::vector<unsigned char> out(3 * pixels + 16, 0xEE);
    vxSwapRedBlue(in.data(), out.data(), pixels);
    for (size_t p = 0; p < pixels; ++p) {
      ASSERT_EQ(out[3 * p], in[3 * p + 2]) << pixels;
      ASSERT_EQ(out[3 * p + 1], in[3 * p + 1]) << pixels;
      ASSERT_EQ(out[3 * p + 2], in[3 * p]) << pixels;
    }
    for (size_t i = 3 * pixels; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << pixels;
  }
}
