#include "codec/run_value.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace wif {

namespace {

void EncodeValue(ArithEncoder& coder, int32_t v) {
  coder.Encode(v > 0 ? kCharPositive : kCharNegative);
  const uint32_t magnitude = v > 0 ? static_cast<uint32_t>(v) : 0u - static_cast<uint32_t>(v);
  const int top = 31 - __builtin_clz(magnitude);
  for (int b = top - 1; b >= 0; --b) coder.Encode(static_cast<int>((magnitude >> b) & 1u));
}

void EncodeRun(ArithEncoder& coder, int64_t n) {
  coder.Encode((n & 1) ? kCharOddRun : kCharEvenRun);
  int64_t r = n >> 1;
  int digits = 0;
  for (int64_t power = 1; r >= power; power *= 4) {
    r -= power;
    ++digits;
  }
  for (int d = 0; d < digits; ++d) {
    coder.Encode(static_cast<int>(r & 3));
    r >>= 2;
  }
}

void ReportUnexpected(int character, int64_t position) {
  char text[96];
  std::snprintf(text, sizeof text, "Unexpected char %d, at count == %lld\n", character,
                static_cast<long long>(position));
  Report(text);
}

}  // namespace

void SweepEncoder::Values(const int32_t* values, int64_t count) {
  coder_.Batch([&](ArithEncoder& coder) {
    int64_t i = 0;
    while (i < count) {
      if (values[i] != 0) {
        if (run_ > 0) EncodeRun(coder, run_);
        run_ = 0;
        EncodeValue(coder, values[i]);
        ++i;
        continue;
      }
      // The run's end: four values at a time while they are all zero.
      int64_t j = i + 1;
      while (j + 4 <= count) {
        uint64_t a, b;
        std::memcpy(&a, values + j, sizeof a);
        std::memcpy(&b, values + j + 2, sizeof b);
        if ((a | b) != 0) break;
        j += 4;
      }
      while (j < count && values[j] == 0) ++j;
      run_ += j - i;
      i = j;
    }
  });
  if (count > 0) last_ = values[count - 1];
}

void SweepEncoder::Finish() {
  if (run_ > 0) EncodeRun(coder_, run_);
  run_ = 0;
  if (last_ != 0) coder_.Encode(kCharNegative);
}

void EncodeSweep(ArithEncoder& coder, AdaptiveModel& model, const int32_t* values, int64_t begin,
                 int64_t end) {
  SweepEncoder sweep(coder, model);
  if (end > begin) sweep.Values(values + begin, end - begin);
  sweep.Finish();
}

namespace {

template <typename T>
T Store(int64_t v);
template <>
int32_t Store<int32_t>(int64_t v) {
  return static_cast<int32_t>(v);
}
template <>
int8_t Store<int8_t>(int64_t v) {
  return static_cast<int8_t>(v > 127 ? 127 : v < -128 ? -128 : v);
}

// Where decoded values go: Put(pos, v) for a value, Zeros(pos, n) for n zeros
// (and for the rest of a sweep that went wrong).
template <typename T>
struct ArrayOut {
  T* values;
  void Put(int64_t pos, int64_t v) { values[pos] = Store<T>(v); }
  void Zeros(int64_t pos, int64_t n) { std::fill(values + pos, values + pos + n, T{0}); }
};

struct PlaneOut {
  float* plane;
  ScanCursor& cursor;
  void Put(int64_t, int64_t v) { plane[cursor.Next()] = static_cast<float>(Store<int32_t>(v)); }
  void Zeros(int64_t, int64_t n) {
    for (; n > 0; --n) plane[cursor.Next()] = 0.0f;
  }
};

struct DetailOut {
  SparseDetail& detail;
  ScanCursor& cursor;
  bool ok = true;
  void Put(int64_t, int64_t v) {
    const int8_t value = Store<int8_t>(v);
    const int64_t block = cursor.Block();
    const int place = cursor.Place();
    const int64_t index = cursor.Next();
    if (value != 0 && ok) ok = detail.Add(index, block, place, value);
  }
  void Zeros(int64_t, int64_t n) { cursor.Skip(n); }
};

template <class Out>
Status DecodeSweepTo(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, Out& out,
                     int64_t begin, int64_t end) {
  model.Reset();
  int64_t pos = begin;
  int c = pos < end ? coder.Decode() : 0;
  while (pos < end) {
    if (in.failed()) {
      out.Zeros(pos, end - pos);
      return Status::Corrupt;
    }
    if (c == kCharPositive || c == kCharNegative) {
      int64_t m = 1;
      int t = coder.Decode();
      while (t == kCharZero || t == kCharOne) {
        m = 2 * m + t;
        if (m > 0x7FFFFFFF) {
          in.Fail();  // no value of the format needs more than 31 bits
          out.Zeros(pos, end - pos);
          return Status::Corrupt;
        }
        t = coder.Decode();
      }
      out.Put(pos++, c == kCharPositive ? m : -m);
      c = t;
    } else if (c == kCharOddRun || c == kCharEvenRun) {
      int64_t run = c == kCharOddRun ? 1 : 0;
      int shift = 1;
      int t = c;
      while (run < end - pos) {
        t = coder.Decode();
        if (t < 0 || t > 3) break;
        run += static_cast<int64_t>(t + 1) << shift;
        shift += 2;
      }
      const int64_t stored = std::min(run, end - pos);
      out.Zeros(pos, stored);
      pos += stored;
      c = t;
    } else {
      if (c == ArithDecoder::kInvalid) {
        in.Fail();
      } else {
        ReportUnexpected(c, pos);
      }
      out.Zeros(pos, end - pos);
      return Status::Corrupt;
    }
  }
  return in.failed() ? Status::Corrupt : Status::Ok;
}

}  // namespace

Status DecodeSweep(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, int32_t* values,
                   int64_t begin, int64_t end) {
  ArrayOut<int32_t> out{values};
  return DecodeSweepTo(coder, model, in, out, begin, end);
}

Status DecodeSweep(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, int8_t* values,
                   int64_t begin, int64_t end) {
  ArrayOut<int8_t> out{values};
  return DecodeSweepTo(coder, model, in, out, begin, end);
}

Status DecodeSweep(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, float* plane,
                   ScanCursor& cursor, int64_t count) {
  PlaneOut out{plane, cursor};
  return DecodeSweepTo(coder, model, in, out, 0, count);
}

Status DecodeSweep(ArithDecoder& coder, AdaptiveModel& model, BitReader& in, SparseDetail& detail,
                   ScanCursor& cursor, int64_t count) {
  DetailOut out{detail, cursor};
  const Status s = DecodeSweepTo(coder, model, in, out, 0, count);
  if (!out.ok) return Status::NoMemory;
  return s;
}

}  // namespace wif
