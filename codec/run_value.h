// The run/value code of the finer levels, over the arithmetic coder's six
// characters.
//
// An array is coded in sweeps; the model starts afresh at every sweep.
//   non-zero v:     4 (v > 0) or 5 (v < 0), then the bits of |v| below its
//                   highest set bit, most significant first, as 0 and 1;
//   run of n zeros: 2 (n odd) or 3 (n even), then r = n >> 1 in bijective
//                   base 4, least significant digit first, digits 0 .. 3;
//   a sweep that ends in a non-zero value ends with a closing 5.
// The reader tells digits from the next item by the positions left: a run
// reads digits only while it is shorter than the rest of the sweep, and runs
// are maximal, so a value always follows a run that stops early.
#pragma once

#include <cstdint>

#include "codec/arith_coder.h"
#include "codec/codec_status.h"
#include "codec/scan.h"
#include "codec/sparse_detail.h"

namespace wif {

enum RunValueChar : int {
  kCharZero = 0,
  kCharOne = 1,
  kCharOddRun = 2,
  kCharEvenRun = 3,
  kCharPositive = 4,
  kCharNegative = 5,  // also the closing mark
};

// Codes values[begin .. end) as one sweep (resets the model first).
void EncodeSweep(ArithEncoder& coder, AdaptiveModel& model, const int32_t* values, int64_t begin,
                 int64_t end);

// Codes one sweep handed over a stretch at a time: the same characters as
// EncodeSweep on all the stretches put together (the model starts afresh).
class SweepEncoder final : public DetailSink {
 public:
  SweepEncoder(ArithEncoder& coder, AdaptiveModel& model) : coder_(coder) { model.Reset(); }
  void Values(const int32_t* values, int64_t count) override;
  void Zeros(int64_t count) override {
    run_ += count;
    if (count > 0) last_ = 0;
  }
  // Codes the run still open, and the closing mark after a non-zero value.
  void Finish();

 private:
  ArithEncoder& coder_;
  int64_t run_ = 0;  // zeros not coded yet
  int32_t last_ = 0;
};
// Decodes one sweep into values[begin .. end) (resets the model first). On an
// unexpected character, or a value too large for 32 bits, the rest of the
// sweep is zero and the result is Corrupt; so is a failed stream.
Status DecodeSweep(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, int32_t* values,
                   int64_t begin, int64_t end);
// The same, each value saturated to a signed byte (the first-level detail
// planes keep nothing more).
Status DecodeSweep(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, int8_t* values,
                   int64_t begin, int64_t end);
// One sweep of `count` values straight into the float plane, each where the
// cursor says (a level's bands in scan order), without a linear array.
Status DecodeSweep(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, float* plane,
                   ScanCursor& cursor, int64_t count);
// One first-level detail plane of `count` values, saturated to bytes, kept as
// its nonzero values (SparseDetail). NoMemory when they cannot be held.
Status DecodeSweep(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, SparseDetail& detail,
                   ScanCursor& cursor, int64_t count);

}  // namespace wif
