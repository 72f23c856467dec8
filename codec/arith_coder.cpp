#include "codec/arith_coder.h"

namespace wif {

void AdaptiveModel::Reset() {
  for (int i = 0; i < kChars; ++i) {
    charToIndex_[i] = i + 1;
    indexToChar_[i + 1] = i;
  }
  indexToChar_[0] = -1;
  indexToChar_[kSymbols] = -1;
  for (int i = 0; i <= kSymbols; ++i) {
    freq_[i] = 1;
    cum_[i] = kSymbols - i;
  }
  freq_[0] = 0;
}

void AdaptiveModel::Update(int index) {
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

void ArithEncoder::Start() {
  out_.Reset();
  low_ = 0;
  high_ = kCodeTop;
  follow_ = 0;
}

void ArithEncoder::Encode(int character) {
  const int s = model_.IndexOf(character);
  const int32_t total = model_.Cumulative(0);
  const int32_t range = high_ - low_ + 1;
  high_ = low_ + range * model_.Cumulative(s - 1) / total - 1;
  low_ = low_ + range * model_.Cumulative(s) / total;
  for (;;) {
    if (high_ < kHalf) {
      Emit(0);
    } else if (low_ >= kHalf) {
      Emit(1);
      low_ -= kHalf;
      high_ -= kHalf;
    } else if (low_ >= kFirstQuarter && high_ < kThirdQuarter) {
      ++follow_;
      low_ -= kFirstQuarter;
      high_ -= kFirstQuarter;
    } else {
      break;
    }
    low_ = 2 * low_;
    high_ = 2 * high_ + 1;
  }
  model_.Update(s);
}

void ArithEncoder::Finish() {
  ++follow_;
  Emit(low_ < kFirstQuarter ? 0 : 1);
}

void ArithDecoder::Start() {
  in_.Reset();
  low_ = 0;
  high_ = kCodeTop;
  value_ = static_cast<int32_t>(in_.GetBits(16));
}

int ArithDecoder::Decode() {
  const int32_t total = model_.Cumulative(0);
  const int32_t range = high_ - low_ + 1;
  const int32_t target = ((value_ - low_ + 1) * total - 1) / range;
  if (value_ < low_ || target < 0 || target >= total) return kInvalid;
  int s = 1;
  while (model_.Cumulative(s) > target) ++s;
  high_ = low_ + range * model_.Cumulative(s - 1) / total - 1;
  low_ = low_ + range * model_.Cumulative(s) / total;
  for (;;) {
    if (high_ < kHalf) {
      // nothing to take away
    } else if (low_ >= kHalf) {
      value_ -= kHalf;
      low_ -= kHalf;
      high_ -= kHalf;
    } else if (low_ >= kFirstQuarter && high_ < kThirdQuarter) {
      value_ -= kFirstQuarter;
      low_ -= kFirstQuarter;
      high_ -= kFirstQuarter;
    } else {
      break;
    }
    low_ = 2 * low_;
    high_ = 2 * high_ + 1;
    value_ = 2 * value_ + static_cast<int32_t>(in_.GetBit());
  }
  if (s == AdaptiveModel::kSymbols) return kEnd;
  const int character = model_.CharacterAt(s);
  model_.Update(s);
  return character;
}

}  // namespace wif
