// The adaptive arithmetic coder of the finer levels: 16-bit code values over
// a six-character alphabet, with an adaptive frequency model after Witten,
// Neal and Cleary (1987).
//
// The model keeps its characters sorted by falling frequency: index 1 is the
// most frequent one. Index 7 is an end symbol that the writer never sends;
// the reader reports it as -1. Counts are halved when their total reaches
// 16383.
#pragma once

#include <cstdint>

#include "codec/bit_io.h"

namespace wif {

class AdaptiveModel {
 public:
  static constexpr int kChars = 6;
  static constexpr int kSymbols = kChars + 1;  // N; index N is the end symbol
  static constexpr int kMaxTotal = 16383;

  AdaptiveModel() { Reset(); }
  // Every character at frequency 1, in order 0 .. 5 at indices 1 .. 6.
  void Reset();
  // Counts symbol `index` once, keeping the indices sorted by frequency.
  void Update(int index);

  int IndexOf(int character) const { return charToIndex_[character]; }
  int CharacterAt(int index) const { return indexToChar_[index]; }
  // Cumulative frequency of the indices above `index`; Cumulative(0) is the total.
  int Cumulative(int index) const { return cum_[index]; }
  int Frequency(int index) const { return freq_[index]; }

 private:
  int indexToChar_[kSymbols + 1];
  int charToIndex_[kChars];
  int freq_[kSymbols + 1];
  int cum_[kSymbols + 1];
};

inline constexpr int32_t kCodeTop = 65535;
inline constexpr int32_t kFirstQuarter = 16384;
inline constexpr int32_t kHalf = 32768;
inline constexpr int32_t kThirdQuarter = 49152;

class ArithEncoder {
 public:
  ArithEncoder(BitWriter& out, AdaptiveModel& model) : out_(out), model_(model) {}

  // A fresh code stream on a fresh byte.
  void Start();
  // Codes character 0 .. 5 and updates the model.
  void Encode(int character);
  // Sends the bits that settle the final interval.
  void Finish();
  // Runs body(coder) on a coder whose interval and pending output bits are
  // local copies of this one's, then takes them back: inside, they live in
  // registers rather than going through memory between characters, which
  // the bit writer's byte stores (that may alias anything) would force.
  template <class Body>
  [[gnu::always_inline]] void Batch(Body&& body) {
    BitWriter bits = out_;
    ArithEncoder local(bits, model_);
    local.low_ = low_;
    local.high_ = high_;
    local.follow_ = follow_;
    body(local);
    low_ = local.low_;
    high_ = local.high_;
    follow_ = local.follow_;
    out_.Continue(bits);
  }

 private:
  void Emit(uint32_t bit) {
    out_.PutBit(bit);
    for (; follow_ > 0; --follow_) out_.PutBit(bit ^ 1u);
  }

  BitWriter& out_;
  AdaptiveModel& model_;
  int32_t low_ = 0;
  int32_t high_ = kCodeTop;
  int64_t follow_ = 0;
};

class ArithDecoder {
 public:
  static constexpr int kEnd = -1;      // the end symbol
  static constexpr int kInvalid = -2;  // a state that matches no symbol

  ArithDecoder(BitReader& in, AdaptiveModel& model) : in_(in), model_(model) {}

  // Starts on a fresh byte and reads the first 16 bits.
  void Start();
  // The next character 0 .. 5 (the model is updated), kEnd, or kInvalid.
  int Decode();

 private:
  BitReader& in_;
  AdaptiveModel& model_;
  int32_t low_ = 0;
  int32_t high_ = kCodeTop;
  int32_t value_ = 0;
};

// The per-symbol work, inline so that the run/value coder compiles into one
// loop with it.

inline void AdaptiveModel::Update(int index) {
  if (cum_[0] >= kMaxTotal) {
    int running = 0;
    for (int i = kSymbols; i >= 0; --i) {
      freq_[i] = (freq_[i] + 1) / 2;
      cum_[i] = running;
      running += freq_[i];
    }
  }
  // Move the symbol in front of every symbol with the same frequency, so that
  // the indices stay sorted once its count grows. freq_[0] is 0, which stops
  // the search.
  int j = index;
  while (freq_[j] == freq_[j - 1]) --j;
  if (j < index) {
    const int a = indexToChar_[j];
    const int b = indexToChar_[index];
    indexToChar_[j] = b;
    indexToChar_[index] = a;
    charToIndex_[a] = index;
    charToIndex_[b] = j;
  }
  freq_[j] += 1;
  while (j > 0) {
    --j;
    cum_[j] += 1;
  }
}

// Renormalisation, done for all its steps at once. The interval [low, high]
// of 16-bit values first sheds the leading bits its ends share (each such step
// doubles both after taking away half when both are in the upper half), then
// the "underflow" steps while low is 01... and high 10... (each takes away a
// quarter and doubles). Both kinds shift the same bits out of low, high and
// the decoder's value alike, so counting them gives the final state directly.
struct Renormalisation {
  int shared;     // leading bits low and high have in common
  int underflow;  // underflow steps after those
  int32_t low;
  int32_t high;
};

inline Renormalisation Renormalise(int32_t low, int32_t high) {
  Renormalisation r;
  const uint32_t differ = static_cast<uint32_t>(low ^ high) & 0xFFFFu;
  r.shared = differ == 0 ? 16 : __builtin_clz(differ) - 16;
  const int k1 = r.shared;
  uint32_t l = (static_cast<uint32_t>(low) << k1) & 0xFFFFu;
  uint32_t h = ((static_cast<uint32_t>(high) << k1) & 0xFFFFu) | ((1u << k1) - 1u);
  // Underflow steps: from bit 14 down, low has 1 where high has 0.
  const uint32_t straddle = l & ~h & 0x7FFFu;
  const int k3 = __builtin_clz(~(straddle << 17) | 1u);
  r.underflow = k3;
  l = (l << k3) & 0x7FFFu;
  h = 0x8000u | ((h << k3) & 0x7FFFu) | ((1u << k3) - 1u);
  r.low = static_cast<int32_t>(l);
  r.high = static_cast<int32_t>(h);
  return r;
}

// Division by the model's total d (1 <= d <= kMaxTotal < 2^14) of a product
// n = range x cumulative frequency < 2^16 x 2^14, as a multiply and a shift:
// with m = ceil(2^44 / d), n m / 2^44 exceeds n / d by less than
// 2^30 d / (d 2^44) = 2^-14 <= 1/d, never reaching the next integer, so its
// floor is floor(n / d). The reciprocal depends on the model alone, so it is
// looked up while the interval of the previous symbol is still narrowing,
// and the interval waits on a multiply instead of a division.
struct TotalReciprocals {
  uint64_t value[AdaptiveModel::kMaxTotal + 1];
  constexpr TotalReciprocals() : value() {
    for (uint64_t d = 1; d <= AdaptiveModel::kMaxTotal; ++d) {
      value[d] = ((uint64_t{1} << 44) + d - 1) / d;
    }
  }
};
inline constexpr TotalReciprocals kTotalReciprocals;

inline int32_t DivideByTotal(int32_t n, int32_t total) {
  const uint64_t m = kTotalReciprocals.value[total];
  return static_cast<int32_t>((static_cast<unsigned __int128>(static_cast<uint32_t>(n)) * m) >> 44);
}

[[gnu::always_inline]] inline void ArithEncoder::Encode(int character) {
  const int s = model_.IndexOf(character);
  const int32_t total = model_.Cumulative(0);
  const int32_t range = high_ - low_ + 1;
  high_ = low_ + DivideByTotal(range * model_.Cumulative(s - 1), total) - 1;
  low_ = low_ + DivideByTotal(range * model_.Cumulative(s), total);
  const Renormalisation r = Renormalise(low_, high_);
  if (r.shared > 0) {
    // The shared bits are low's leading ones; the pending underflow bits
    // follow the first of them, each its opposite. Adding 2^f - 1 above the
    // rest of the shared bits gives exactly that: a first 1 becomes 1 and f
    // zeros, a first 0 becomes 0 and f ones.
    const uint32_t bits = static_cast<uint32_t>(low_) >> (16 - r.shared);
    if (follow_ <= 16) {
      const uint32_t follow = static_cast<uint32_t>(follow_);
      out_.PutField((((1u << follow) - 1u) << (r.shared - 1)) + bits,
                    r.shared + static_cast<int>(follow));
    } else {
      const uint32_t first = bits >> (r.shared - 1);
      out_.PutBit(first);
      out_.PutRepeated(first ^ 1u, static_cast<uint64_t>(follow_));
      out_.PutBits(bits, r.shared - 1);
    }
    follow_ = 0;
  }
  follow_ += r.underflow;
  low_ = r.low;
  high_ = r.high;
  model_.Update(s);
}

inline int ArithDecoder::Decode() {
  const int32_t total = model_.Cumulative(0);
  const int32_t range = high_ - low_ + 1;
  // The symbol is the first index s whose cumulative frequency is at most
  // the target ((value - low + 1) total - 1) / range. With x the dividend,
  // c <= floor(x / range) holds exactly when c range <= x, so the search
  // compares products and the target is never divided out: the interval
  // waits on multiplies only.
  if (value_ < low_) return kInvalid;
  const int32_t x = (value_ - low_ + 1) * total - 1;
  if (x >= total * range) return kInvalid;
  int s = 1;
  while (model_.Cumulative(s) * range > x) ++s;
  high_ = low_ + DivideByTotal(range * model_.Cumulative(s - 1), total) - 1;
  low_ = low_ + DivideByTotal(range * model_.Cumulative(s), total);
  // The value keeps its distance from low, doubled at every step, plus the
  // bits read in.
  const Renormalisation r = Renormalise(low_, high_);
  const int steps = r.shared + r.underflow;
  if (steps > 0) {
    const int32_t distance = value_ - low_;
    value_ = r.low + static_cast<int32_t>(static_cast<uint32_t>(distance) << steps) +
             static_cast<int32_t>(in_.GetBits(steps));
    low_ = r.low;
    high_ = r.high;
  }
  if (s == AdaptiveModel::kSymbols) return kEnd;
  const int character = model_.CharacterAt(s);
  model_.Update(s);
  return character;
}

}  // namespace wif
