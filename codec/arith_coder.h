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

}  // namespace wif
