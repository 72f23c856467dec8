// Colour quantization of 24-bit pictures for palette displays.
//
// MedianCut counts the pixels in a 32 x 32 x 32 grid of cells, splits the
// occupied part of the grid into boxes at the median of their widest side,
// takes one colour per box, and maps the picture with Floyd-Steinberg error
// diffusion; the nearest colour of each cell is found through the candidate
// lists of vxInverseColourMap and remembered in the cell table.
//
// BestQuantization works on the exact colour histogram (reducing the sample
// precision until at most 32767 colours remain), splits it by pixel count and
// maps every colour to its nearest representative without dithering.
//
// FastQuantization maps to a fixed palette with three bits of blue and green
// and two of red, dithered like MedianCut.
#include "engine/quantizer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "engine/notice.h"

namespace {

constexpr int kCells = 32 * 32 * 32;

int CellIndex(int h0, int h1, int h2) { return (h0 << 10) | (h1 << 5) | h2; }

int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Maps the picture row by row (bottom row first), each row from left to right,
// passing each pixel's value plus the errors it has received to `choose`,
// which returns the palette index and stores the palette colour in p[3]. The
// error per channel is spread over the next pixel of the row (7/16) and the
// pixels below-left (3/16), below (5/16) and below-right (1/16); shares that
// would fall outside the picture are dropped.
//
// The shares travelling along the row are kept in locals: the next pixel's
// share, and the partial sums of the two next-row pixels still receiving
// shares. Each next-row error is then written once, when it is complete.
template <class Choose>
void DitherRows(const unsigned char* bits, long width, long height, unsigned char* out,
                const vxDiffusionTables& t, Choose&& choose) {
  const size_t inStride = vxRowStride(width, 24);
  const size_t outStride = vxRowStride(width, 8);
  const size_t w = static_cast<size_t>(width);
  // Errors received from the row before, for the current and the next row;
  // one spare pixel in front takes the below-left share of the first pixel.
  std::vector<int> rowA((w + 1) * 3, 0), rowB((w + 1) * 3, 0);
  int* cur = rowA.data() + 3;
  int* next = rowB.data() + 3;
  const int* t1 = t.t1 + 256;
  const int* t3 = t.t3 + 256;
  const int* t5 = t.t5 + 256;
  const int* t7 = t.t7 + 256;
  for (long y = 0; y < height; ++y) {
    const unsigned char* in = bits + inStride * static_cast<size_t>(y);
    unsigned char* o = out + outStride * static_cast<size_t>(y);
    int along[3] = {0, 0, 0};      // for pixel x of this row
    int belowLeft[3] = {0, 0, 0};  // next row, pixel x - 1
    int below[3] = {0, 0, 0};      // next row, pixel x
    for (size_t x = 0; x < w; ++x) {
      int v[3];
      for (int k = 0; k < 3; ++k) v[k] = Clamp255(in[3 * x + k] + cur[3 * x + k] + along[k]);
      uint8_t p[3];
      o[x] = static_cast<unsigned char>(choose(v, p));
      for (int k = 0; k < 3; ++k) {
        const int e = v[k] - p[k];
        along[k] = t7[e];
        next[3 * x + k - 3] = belowLeft[k] + t3[e];
        belowLeft[k] = below[k] + t5[e];
        below[k] = t1[e];
      }
    }
    for (int k = 0; k < 3; ++k) next[3 * (w - 1) + k] = belowLeft[k];
    std::swap(cur, next);
  }
}

// ---- Median cut over the cell histogram ------------------------------------

struct CellBox {
  int lo[3];
  int hi[3];
  uint64_t count;
};

class CellHistogram {
 public:
  explicit CellHistogram(const std::vector<uint32_t>& counts) : counts_(counts) {}

  // Pixels of `box` whose coordinate on `axis` is v.
  uint64_t Slab(const CellBox& box, int axis, int v) const {
    int lo[3] = {box.lo[0], box.lo[1], box.lo[2]};
    int hi[3] = {box.hi[0], box.hi[1], box.hi[2]};
    lo[axis] = hi[axis] = v;
    uint64_t sum = 0;
    for (int a = lo[0]; a <= hi[0]; ++a) {
      for (int b = lo[1]; b <= hi[1]; ++b) {
        const uint32_t* line = &counts_[CellIndex(a, b, 0)];
        for (int c = lo[2]; c <= hi[2]; ++c) sum += line[c];
      }
    }
    return sum;
  }

  // Moves each side of `box` inwards past empty slabs.
  void Shrink(CellBox& box) const {
    for (int axis = 0; axis < 3; ++axis) {
      while (box.lo[axis] < box.hi[axis] && Slab(box, axis, box.lo[axis]) == 0) ++box.lo[axis];
      while (box.hi[axis] > box.lo[axis] && Slab(box, axis, box.hi[axis]) == 0) --box.hi[axis];
    }
  }

 private:
  const std::vector<uint32_t>& counts_;
};

bool IsSingleCell(const CellBox& b) {
  return b.lo[0] == b.hi[0] && b.lo[1] == b.hi[1] && b.lo[2] == b.hi[2];
}

// ---- Exact colour histogram -----------------------------------------------

struct ColourEntry {
  uint16_t s[3];
  int32_t next;    // next entry of the same bucket, or -1
  uint32_t count;  // pixels of this colour
  int32_t index;   // palette index once mapped, else -1
};

// The distinct colours of a picture at one sample range, in order of first
// appearance. At the full range they are found through 6553 hash buckets;
// at a reduced range (at most 128 levels per channel) through a table indexed
// by the packed colour, which finds the same entries faster.
class ColourHash {
 public:
  static constexpr int kBuckets = 6553;

  ColourHash() : heads_(kBuckets, -1) {}

  void Reset(int maxval) {
    levels_ = maxval + 1;
    std::fill(heads_.begin(), heads_.end(), -1);
    direct_.clear();
    if (maxval < 255) direct_.assign(static_cast<size_t>(levels_) * levels_ * levels_, -1);
    entries_.clear();
  }

  static int Bucket(int s0, int s1, int s2) {
    return static_cast<int>(
        (static_cast<uint32_t>(s0 * 33023 + s1 * 30013 + s2 * 27011) & 0x7FFFFFFFu) % kBuckets);
  }

  // The entry of the colour, or -1.
  int Find(int s0, int s1, int s2) const {
    if (!direct_.empty()) return direct_[Packed(s0, s1, s2)];
    for (int e = heads_[Bucket(s0, s1, s2)]; e >= 0; e = entries_[e].next) {
      const ColourEntry& c = entries_[e];
      if (c.s[0] == s0 && c.s[1] == s1 && c.s[2] == s2) return e;
    }
    return -1;
  }

  int FindOrAdd(int s0, int s1, int s2) {
    const int found = Find(s0, s1, s2);
    if (found >= 0) return found;
    const int e = static_cast<int>(entries_.size());
    entries_.push_back(ColourEntry{
        {static_cast<uint16_t>(s0), static_cast<uint16_t>(s1), static_cast<uint16_t>(s2)},
        -1,
        0,
        -1});
    Link(e);
    return e;
  }

  std::vector<ColourEntry>& entries() { return entries_; }

  // Relinks every entry after the entries were reordered.
  void Rehash() {
    std::fill(heads_.begin(), heads_.end(), -1);
    for (size_t i = entries_.size(); i-- > 0;) Link(static_cast<int>(i));
  }

 private:
  size_t Packed(int s0, int s1, int s2) const {
    return (static_cast<size_t>(s0) * levels_ + s1) * levels_ + s2;
  }

  void Link(int e) {
    ColourEntry& c = entries_[e];
    if (!direct_.empty()) {
      direct_[Packed(c.s[0], c.s[1], c.s[2])] = e;
      return;
    }
    const int bucket = Bucket(c.s[0], c.s[1], c.s[2]);
    c.next = heads_[bucket];
    heads_[bucket] = e;
  }

  int levels_ = 256;
  std::vector<int32_t> heads_;
  std::vector<int32_t> direct_;
  std::vector<ColourEntry> entries_;
};

struct ColourBox {
  size_t start;  // first colour in the histogram list
  size_t colours;
  uint64_t pixels;
};

}  // namespace

// ---- Diffusion tables and the inverse colour map -----------------------------

vxDiffusionTables::vxDiffusionTables() {
  for (int e = -256; e < 256; ++e) {
    const int magnitude = e < 0 ? -e : e;
    const int sign = e < 0 ? -1 : 1;
    t1[e + 256] = sign * ((1 * magnitude + 8) / 16);
    t3[e + 256] = sign * ((3 * magnitude + 8) / 16);
    t5[e + 256] = sign * ((5 * magnitude + 8) / 16);
    t7[e + 256] = sign * ((7 * magnitude + 8) / 16);
  }
}

vxInverseColourMap::vxInverseColourMap(const uint8_t* palette, int count)
    : palette_(palette), count_(count), groups_(512) {}

int vxInverseColourMap::Distance(const uint8_t* colour, int h0, int h1, int h2) {
  const int d0 = colour[0] - 8 * h0;
  const int d1 = colour[1] - 8 * h1;
  const int d2 = colour[2] - 8 * h2;
  return 20 * d0 * d0 + 39 * d1 * d1 + 8 * d2 * d2;
}

void vxInverseColourMap::BuildGroup(int group, int h0, int h1, int h2) {
  // The group spans channel values base .. base + 31 on each channel.
  const int base[3] = {h0 / 4 * 32, h1 / 4 * 32, h2 / 4 * 32};
  std::vector<Candidate>& list = groups_[group];
  // A colour inside the group is at most `limit` away from every point of the
  // group (its distance to the farthest corner); a colour whose lower bound
  // reaches that limit can never be strictly nearer, so it is left out.
  int limit = 2000000000;
  for (int i = 0; i < count_; ++i) {
    const uint8_t* c = palette_ + 3 * i;
    if (c[0] / 32 != h0 / 4 || c[1] / 32 != h1 / 4 || c[2] / 32 != h2 / 4) continue;
    list.push_back({i, 0});
    int e[3];
    for (int k = 0; k < 3; ++k) {
      e[k] = c[k] - base[k];
      if (e[k] < 16) e[k] = 31 - e[k];
    }
    limit = std::min(limit, 20 * e[0] * e[0] + 39 * e[1] * e[1] + 8 * e[2] * e[2]);
  }
  for (int i = 0; i < count_; ++i) {
    const uint8_t* c = palette_ + 3 * i;
    if (c[0] / 32 == h0 / 4 && c[1] / 32 == h1 / 4 && c[2] / 32 == h2 / 4) continue;
    int f[3];
    for (int k = 0; k < 3; ++k) {
      if (base[k] - c[k] >= 1) {
        f[k] = base[k] - c[k];
      } else if (c[k] - base[k] - 31 >= 1) {
        f[k] = c[k] - base[k] - 31;
      } else {
        f[k] = 0;
      }
    }
    const int bound = 20 * f[0] * f[0] + 39 * f[1] * f[1] + 8 * f[2] * f[2];
    if (bound < limit) list.push_back({i, bound});
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const Candidate& a, const Candidate& b) { return a.bound < b.bound; });
  built_[group] = true;
}

int vxInverseColourMap::Nearest(int h0, int h1, int h2) {
  const int group = (h0 / 4) * 64 + (h1 / 4) * 8 + h2 / 4;
  if (!built_[group]) BuildGroup(group, h0, h1, h2);
  int best = INT_MAX;
  int bestIndex = 0;
  for (const Candidate& cand : groups_[group]) {
    if (cand.bound >= best) break;
    const int d = Distance(palette_ + 3 * cand.index, h0, h1, h2);
    if (d < best) {
      best = d;
      bestIndex = cand.index;
    }
  }
  return bestIndex;
}

// ---- vxQuantizer ---------------------------------------------------------------

vxQuantizer::vxQuantizer() = default;
vxQuantizer::~vxQuantizer() = default;

vxBMINFO* vxQuantizer::Quantize(const unsigned char* bits, long width, long height, long colours,
                                vxColorReduction method) {
  if (!bits || width <= 0 || height <= 0) return nullptr;
  int count = colours <= 0 || colours > 256 ? 256 : static_cast<int>(colours);
  // The fixed 3-3-2 palette uses every one of the 256 indices; a shorter
  // palette would leave most pixels pointing past its end.
  if (method == vxColorReduction::FastQuantization) count = 256;
  vxBMINFO* out = vxAllocateBlock(width, height, 8, count);
  if (!out) return nullptr;
  vxSetGreyRamp(vxBlockPalette(out), count);
  const bool mapped = method == vxColorReduction::MedianCut ||
                      method == vxColorReduction::BestQuantization ||
                      method == vxColorReduction::FastQuantization;
  // Every pixel is 128 until a method maps it; the methods map them all.
  if (!mapped) {
    std::memset(vxBlockBits(out), 128, vxRowStride(width, 8) * static_cast<size_t>(height));
  }
  try {
    switch (method) {
      case vxColorReduction::MedianCut:
        MedianCut(bits, width, height, count, out);
        break;
      case vxColorReduction::BestQuantization:
        BestQuantization(bits, width, height, count, out);
        break;
      case vxColorReduction::FastQuantization:
        FastQuantization(bits, width, height, out);
        break;
      default:  // QuickDither: the display dithers; the copy stays as made
        break;
    }
  } catch (const std::bad_alloc&) {
    vxFreeBlock(out);
    vxSetLastError("out of memory");
    return nullptr;
  }
  return out;
}

void vxQuantizer::MedianCut(const unsigned char* bits, long width, long height, int colours,
                            vxBMINFO* out) {
  const size_t stride = vxRowStride(width, 24);
  const size_t w = static_cast<size_t>(width);

  // 1. Histogram and the bounds of the occupied cells.
  std::vector<uint32_t> counts(kCells, 0);
  for (long y = 0; y < height; ++y) {
    const unsigned char* p = bits + stride * static_cast<size_t>(y);
    for (size_t x = 0; x < w; ++x, p += 3) ++counts[CellIndex(p[0] >> 3, p[1] >> 3, p[2] >> 3)];
  }
  CellBox first{
      {31, 31, 31}, {0, 0, 0}, static_cast<uint64_t>(width) * static_cast<uint64_t>(height)};
  for (int cell = 0; cell < kCells; ++cell) {
    if (counts[cell] == 0) continue;
    const int h[3] = {cell >> 10, (cell >> 5) & 31, cell & 31};
    for (int k = 0; k < 3; ++k) {
      first.lo[k] = std::min(first.lo[k], h[k]);
      first.hi[k] = std::max(first.hi[k], h[k]);
    }
  }
  const CellHistogram histogram(counts);

  // 2-5. Split the fullest box until there are enough boxes or none can be
  // split. New boxes go to the front of the list, so among equal counts the
  // newest wins.
  std::vector<CellBox> boxes;
  boxes.reserve(static_cast<size_t>(colours));
  boxes.push_back(first);
  std::vector<int> order{0};  // used list, newest first
  while (static_cast<int>(order.size()) < colours) {
    int pick = -1;
    for (int b : order) {
      if (IsSingleCell(boxes[b])) continue;
      if (pick < 0 || boxes[b].count > boxes[pick].count) pick = b;
    }
    if (pick < 0) break;
    CellBox& box = boxes[pick];
    const int d0 = box.hi[0] - box.lo[0], d1 = box.hi[1] - box.lo[1], d2 = box.hi[2] - box.lo[2];
    const int axis = (d0 >= d1 && d0 >= d2) ? 0 : (d2 > d1 ? 2 : 1);
    const uint64_t half = box.count / 2;
    uint64_t running = 0;
    int median = box.hi[axis];
    for (int v = box.lo[axis]; v <= box.hi[axis]; ++v) {
      running += histogram.Slab(box, axis, v);
      if (running >= half) {
        median = v;
        break;
      }
    }
    const int split = median == box.lo[axis] ? box.lo[axis] + 1 : median;
    CellBox lower = box;
    lower.hi[axis] = split - 1;
    lower.count = 0;
    for (int v = lower.lo[axis]; v <= lower.hi[axis]; ++v)
      lower.count += histogram.Slab(box, axis, v);
    box.lo[axis] = split;
    box.count -= lower.count;
    histogram.Shrink(box);
    histogram.Shrink(lower);
    boxes.push_back(lower);  // may move `box`; not used below
    order.insert(order.begin(), static_cast<int>(boxes.size() - 1));
  }

  // 6. One colour per box, in list order; the other entries keep the ramp.
  const int used = static_cast<int>(order.size());
  std::vector<uint8_t> colour(static_cast<size_t>(used) * 3);
  vxRGBA* palette = vxBlockPalette(out);
  for (int j = 0; j < used; ++j) {
    const CellBox& b = boxes[order[j]];
    for (int k = 0; k < 3; ++k) colour[3 * j + k] = static_cast<uint8_t>((b.lo[k] + b.hi[k]) * 4);
    palette[j] = vxRGBA{colour[3 * j], colour[3 * j + 1], colour[3 * j + 2], 0};
  }

  // 7. Occupied cells get their nearest colour now, the others on demand.
  vxInverseColourMap inverse(colour.data(), used);
  std::vector<int16_t> cellMap(kCells, -1);
  for (int cell = 0; cell < kCells; ++cell) {
    if (counts[cell] != 0) {
      cellMap[cell] =
          static_cast<int16_t>(inverse.Nearest(cell >> 10, (cell >> 5) & 31, cell & 31));
    }
  }

  // 9. Dithered mapping.
  DitherRows(bits, width, height, vxBlockBits(out), diffusion_, [&](const int* v, uint8_t* p) {
    const int h0 = v[0] >> 3, h1 = v[1] >> 3, h2 = v[2] >> 3;
    int16_t& slot = cellMap[CellIndex(h0, h1, h2)];
    if (slot < 0) slot = static_cast<int16_t>(inverse.Nearest(h0, h1, h2));
    const uint8_t* c = &colour[3 * static_cast<size_t>(slot)];
    p[0] = c[0];
    p[1] = c[1];
    p[2] = c[2];
    return slot;
  });
}

void vxQuantizer::BestQuantization(const unsigned char* bits, long width, long height, int colours,
                                   vxBMINFO* out) {
  constexpr size_t kMaxColours = 32767;
  const size_t stride = vxRowStride(width, 24);
  const size_t w = static_cast<size_t>(width);

  // 1-2. Histogram of the distinct colours; while there are too many, halve
  // the sample range and count again. `level` maps an input byte to its
  // sample at the current range, applying every rescale in turn.
  int maxval = 255;
  uint16_t level[256];
  for (int v = 0; v < 256; ++v) level[v] = static_cast<uint16_t>(v);
  ColourHash hash;
  for (;;) {
    hash.Reset(maxval);
    bool fits = true;
    for (long y = 0; y < height && fits; ++y) {
      const unsigned char* p = bits + stride * static_cast<size_t>(y);
      int last = -1, lastKey = -1;
      for (size_t x = 0; x < w; ++x, p += 3) {
        const int key = p[0] | (p[1] << 8) | (p[2] << 16);
        if (key != lastKey) {
          last = hash.FindOrAdd(level[p[0]], level[p[1]], level[p[2]]);
          lastKey = key;
          if (hash.entries().size() > kMaxColours) {
            fits = false;
            break;
          }
        }
        ++hash.entries()[last].count;
      }
    }
    if (fits) break;
    const int reduced = maxval / 2;
    for (int v = 0; v < 256; ++v) level[v] = static_cast<uint16_t>(level[v] * reduced / maxval);
    maxval = reduced;
  }
  std::vector<ColourEntry>& list = hash.entries();

  // 3. Split the first box (in creation order) that still holds two colours,
  // sorted along its widest side (weighted), at half its pixels.
  std::vector<ColourBox> boxes;
  boxes.push_back({0, list.size(), static_cast<uint64_t>(width) * static_cast<uint64_t>(height)});
  while (static_cast<int>(boxes.size()) < colours) {
    size_t b = 0;
    while (b < boxes.size() && boxes[b].colours < 2) ++b;
    if (b == boxes.size()) break;
    ColourBox& box = boxes[b];
    int lo[3] = {INT_MAX, INT_MAX, INT_MAX}, hi[3] = {0, 0, 0};
    for (size_t i = box.start; i < box.start + box.colours; ++i) {
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], static_cast<int>(list[i].s[k]));
        hi[k] = std::max(hi[k], static_cast<int>(list[i].s[k]));
      }
    }
    const int s0 = 77 * (hi[0] - lo[0]), s1 = 150 * (hi[1] - lo[1]), s2 = 29 * (hi[2] - lo[2]);
    const int axis = (s0 >= s1 && s0 >= s2) ? 0 : (s1 < s2 ? 2 : 1);
    const auto first = list.begin() + static_cast<ptrdiff_t>(box.start);
    std::stable_sort(
        first, first + static_cast<ptrdiff_t>(box.colours),
        [axis](const ColourEntry& a, const ColourEntry& c) { return a.s[axis] < c.s[axis]; });
    const uint64_t half = box.pixels / 2;
    uint64_t lower = list[box.start].count;
    size_t i = 1;
    for (; i < box.colours - 1; ++i) {
      if (lower >= half) break;
      lower += list[box.start + i].count;
    }
    const ColourBox upper{box.start + i, box.colours - i, box.pixels - lower};
    box.colours = i;
    box.pixels = lower;
    boxes.push_back(upper);
  }
  // The sorts reordered the entries under the bucket chains.
  hash.Rehash();

  // 4. Representative of each box: the pixel-weighted mean of its colours.
  const int used = static_cast<int>(boxes.size());
  std::vector<int> rep(static_cast<size_t>(used) * 3);
  for (int j = 0; j < used; ++j) {
    uint64_t sum[3] = {0, 0, 0};
    for (size_t i = boxes[j].start; i < boxes[j].start + boxes[j].colours; ++i) {
      for (int k = 0; k < 3; ++k) sum[k] += static_cast<uint64_t>(list[i].count) * list[i].s[k];
    }
    for (int k = 0; k < 3; ++k) {
      const uint64_t mean = boxes[j].pixels ? sum[k] / boxes[j].pixels : 0;
      rep[3 * j + k] = static_cast<int>(std::min<uint64_t>(mean, static_cast<uint64_t>(maxval)));
    }
  }

  // 5. Every pixel takes the representative nearest to its colour (plain
  // squared distance, first index among equals), found once per colour.
  const auto nearest = [&](const ColourEntry& c) {
    int best = INT_MAX, bestIndex = 0;
    for (int j = 0; j < used; ++j) {
      const int d0 = c.s[0] - rep[3 * j], d1 = c.s[1] - rep[3 * j + 1],
                d2 = c.s[2] - rep[3 * j + 2];
      const int d = d0 * d0 + d1 * d1 + d2 * d2;
      if (d < best) {
        best = d;
        bestIndex = j;
      }
    }
    return bestIndex;
  };
  const size_t outStride = vxRowStride(width, 8);
  unsigned char* outBits = vxBlockBits(out);
  for (long y = 0; y < height; ++y) {
    const unsigned char* p = bits + stride * static_cast<size_t>(y);
    unsigned char* o = outBits + outStride * static_cast<size_t>(y);
    int lastKey = -1, lastIndex = 0;
    for (size_t x = 0; x < w; ++x, p += 3) {
      const int key = p[0] | (p[1] << 8) | (p[2] << 16);
      if (key != lastKey) {
        ColourEntry& e = list[hash.Find(level[p[0]], level[p[1]], level[p[2]])];
        if (e.index < 0) e.index = nearest(e);
        lastIndex = e.index;
        lastKey = key;
      }
      o[x] = static_cast<unsigned char>(lastIndex);
    }
  }

  // 6. Palette at full range; entries without a box are black.
  vxRGBA* palette = vxBlockPalette(out);
  for (int j = 0; j < colours; ++j) {
    if (j < used) {
      palette[j] = vxRGBA{static_cast<uint8_t>(rep[3 * j] * 255 / maxval),
                          static_cast<uint8_t>(rep[3 * j + 1] * 255 / maxval),
                          static_cast<uint8_t>(rep[3 * j + 2] * 255 / maxval), 0};
    } else {
      palette[j] = vxRGBA{0, 0, 0, 0};
    }
  }
}

void vxQuantizer::FastQuantization(const unsigned char* bits, long width, long height,
                                   vxBMINFO* out) {
  // Levels of the fixed palette: round(255 * k / 7) for the three-bit fields
  // of channels 0 and 1, 85 * k for the two-bit field of channel 2.
  uint8_t levels[256][3];
  vxRGBA* palette = vxBlockPalette(out);
  for (int i = 0; i < 256; ++i) {
    levels[i][0] = static_cast<uint8_t>(((i & 0xE0) * 255 + 112) / 224);
    levels[i][1] = static_cast<uint8_t>(((i & 0x1C) * 2040 + 112) / 224);
    levels[i][2] = static_cast<uint8_t>(((i & 0x03) * 16320 + 96) / 192);
    palette[i] = vxRGBA{levels[i][0], levels[i][1], levels[i][2], 0};
  }
  DitherRows(bits, width, height, vxBlockBits(out), diffusion_, [&](const int* v, uint8_t* p) {
    const int index = (v[0] & 0xE0) | ((v[1] & 0xE0) >> 3) | (v[2] >> 6);
    p[0] = levels[index][0];
    p[1] = levels[index][1];
    p[2] = levels[index][2];
    return index;
  });
}
