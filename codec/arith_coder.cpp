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


void ArithEncoder::Start() {
  out_.Reset();
  low_ = 0;
  high_ = kCodeTop;
  follow_ = 0;
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


}  // namespace wif
