// Building blocks of vxQuantizer, apart so that tests can check them directly.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/image.h"

// Floyd-Steinberg shares of an error e from -256 to 255, indexed by e + 256:
// tk[e + 256] = k * e / 16 rounded to the nearest integer, halves away from
// zero. t7 goes to the next pixel of the row, t3, t5 and t1 to the pixels
// below-left, below and below-right.
struct vxDiffusionTables {
  vxDiffusionTables();
  int t1[512];
  int t3[512];
  int t5[512];
  int t7[512];
};

// Nearest palette colour for the cells of the 32 x 32 x 32 colour grid (five
// bits per channel; channel k is pixel byte k). Cells are grouped in blocks of
// 4 x 4 x 4; the first lookup in a group builds its candidate list: the
// palette entries that can be nearest to some point of the group, sorted by a
// lower bound of their distance, so that a lookup stops after a few
// candidates. Distances are 20 * D0^2 + 39 * D1^2 + 8 * D2^2 with Dk measured
// in channel values from the cell's lowest corner (8 * hk); the bounds use the
// same units.
class vxInverseColourMap {
 public:
  // `palette` holds `count` colours; channel k of entry i is palette[3 * i + k].
  vxInverseColourMap(const uint8_t* palette, int count);

  // The palette index nearest to the cell (h0, h1, h2), each 0..31.
  int Nearest(int h0, int h1, int h2);

  // The distance measure used by Nearest, from a palette colour to a cell.
  static int Distance(const uint8_t* colour, int h0, int h1, int h2);

 private:
  struct Candidate {
    int index;
    int bound;
  };
  void BuildGroup(int group, int h0, int h1, int h2);

  const uint8_t* palette_;
  int count_;
  std::array<bool, 512> built_{};
  std::vector<std::vector<Candidate>> groups_;
};
