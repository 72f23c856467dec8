#include "codec/wavelet_kernels.h"

#include <cstdint>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define WIF_X86 1
#endif

namespace wif {

namespace {

// ---------------------------------------------------------------------------
// Plain loops: the reference.

void CombinePlain(const float* const* rows, const float* taps, int tapCount, float* out,
                  size_t count) {
  for (size_t x = 0; x < count; ++x) {
    double sum = 0.0;
    for (int k = 0; k < tapCount; ++k) sum += static_cast<double>(taps[k]) * rows[k][x];
    out[x] = static_cast<float>(sum);
  }
}

void CombinePairPlain(const float* const* rows, const float* lowTaps, const float* highTaps,
                      float* low, float* high, size_t count) {
  CombinePlain(rows, lowTaps, 9, low, count);
  CombinePlain(rows + 2, highTaps, 7, high, count);
}

void AnalyzePlain(const float* ext, size_t half, const float* lowTaps, const float* highTaps,
                  float* low, float* high) {
  for (size_t i = 0; i < half; ++i) {
    const float* centre = ext + 2 * i;
    double sum = 0.0;
    for (int k = 0; k < 9; ++k) sum += static_cast<double>(lowTaps[k]) * centre[k - 4];
    low[i] = static_cast<float>(sum);
    sum = 0.0;
    for (int k = 0; k < 7; ++k) sum += static_cast<double>(highTaps[k]) * centre[k - 2];
    high[i] = static_cast<float>(sum);
  }
}

// Sample m of the signal from its two halves (m may be negative down to -4:
// the halves start at index -2).
inline float HalfSample(const float* even, const float* odd, ptrdiff_t m) {
  return (m & 1) != 0 ? odd[m >> 1] : even[m >> 1];
}

// Outputs first .. count - 1.
void SynthesizeFrom(const float* even, const float* odd, size_t first, size_t count,
                    const float* evenTaps, const float* oddTaps, float* out) {
  for (size_t n = first; n < count; ++n) {
    const ptrdiff_t centre = static_cast<ptrdiff_t>(n);
    double sum = 0.0;
    if ((n & 1) == 0) {
      for (int k = 0; k < 7; ++k) {
        sum += static_cast<double>(evenTaps[k]) * HalfSample(even, odd, centre + k - 3);
      }
    } else {
      for (int k = 0; k < 9; ++k) {
        sum += static_cast<double>(oddTaps[k]) * HalfSample(even, odd, centre + k - 4);
      }
    }
    out[n] = static_cast<float>(sum);
  }
}

void SynthesizePlain(const float* even, const float* odd, size_t count, const float* evenTaps,
                     const float* oddTaps, float* out) {
  SynthesizeFrom(even, odd, 0, count, evenTaps, oddTaps, out);
}

void RoundDetailsPlain(const float* in, int8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = RoundDetail(in[i]);
}

void RoundCoefficientsPlain(const float* in, int32_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = RoundCoefficient(in[i]);
}

void SampleBytesPlain(const float* in, uint8_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) out[i] = SampleByte(in[i]);
}

void ChromaValuesPlain(const float* in, int16_t* out, size_t count, bool fullRange) {
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(ChromaValue(in[i], fullRange));
}

inline uint8_t ClampByte(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void CombineColourPlain(const uint8_t* y, const int16_t* a, const int16_t* b, uint8_t* pixels,
                        size_t count, bool rgb) {
  const int blue = rgb ? 2 : 0;
  for (size_t i = 0; i < count; ++i, pixels += 3) {
    const int32_t luma = y[i];
    pixels[blue] = ClampByte(luma + a[i] + b[i] - 256);
    pixels[1] = ClampByte(luma - a[i] + 128);
    pixels[2 - blue] = ClampByte(luma - b[i] + 128);
  }
}

void ColourPlanePlain(const uint8_t* pixels, float* out, size_t count, int own) {
  for (size_t i = 0; i < count; ++i, pixels += 3) {
    const float third = static_cast<float>(pixels[0] + pixels[1] + pixels[2]) / 3.0f;
    out[i] = own < 0 ? third : third - static_cast<float>(pixels[own]);
  }
}

#ifdef WIF_X86

// Four floats as two pairs of doubles.
inline void Widen(const float* p, __m128d& lo, __m128d& hi) {
  const __m128 v = _mm_loadu_ps(p);
  lo = _mm_cvtps_pd(v);
  hi = _mm_cvtps_pd(_mm_movehl_ps(v, v));
}

// Truncates two pairs of doubles (already within 32-bit range) to four ints.
inline __m128i Truncate(__m128d lo, __m128d hi) {
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
}

// v + half above 0, v - half otherwise, kept within low .. high: what the
// rounding of a value to a detail or a coefficient truncates.
inline __m128d RoundingSum(__m128d d, double half, double low, double high) {
  const __m128d above = _mm_cmpgt_pd(d, _mm_setzero_pd());
  const __m128d offset = _mm_or_pd(_mm_and_pd(above, _mm_set1_pd(half)),
                                   _mm_andnot_pd(above, _mm_set1_pd(-half)));
  const __m128d t = _mm_add_pd(d, offset);
  return _mm_min_pd(_mm_max_pd(t, _mm_set1_pd(low)), _mm_set1_pd(high));
}

// v +- 0.49, kept within -200 .. 200 so that the truncation and the
// saturating packs give the clamped byte.
inline __m128d DetailSum(__m128d d) { return RoundingSum(d, 0.49, -200.0, 200.0); }

void RoundDetailsSse2(const float* in, int8_t* out, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128d a, b, c, d;
    Widen(in + i, a, b);
    Widen(in + i + 4, c, d);
    const __m128i lo = Truncate(DetailSum(a), DetailSum(b));
    const __m128i hi = Truncate(DetailSum(c), DetailSum(d));
    const __m128i words = _mm_packs_epi32(lo, hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi16(words, words));
  }
  RoundDetailsPlain(in + i, out + i, count - i);
}

// v +- 0.499, kept within the 32-bit range, so that truncation gives the
// saturated value.
inline __m128d CoefficientSum(__m128d d) {
  return RoundingSum(d, 0.499, -2147483648.0, 2147483647.0);
}

void RoundCoefficientsSse2(const float* in, int32_t* out, size_t count) {
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m128d a, b;
    Widen(in + i, a, b);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     Truncate(CoefficientSum(a), CoefficientSum(b)));
  }
  RoundCoefficientsPlain(in + i, out + i, count - i);
}

inline __m128d SampleSum(__m128d d) {
  const __m128d t = _mm_add_pd(d, _mm_set1_pd(0.499));
  return _mm_min_pd(_mm_max_pd(t, _mm_setzero_pd()), _mm_set1_pd(300.0));
}

void SampleBytesSse2(const float* in, uint8_t* out, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128d a, b, c, d;
    Widen(in + i, a, b);
    Widen(in + i + 4, c, d);
    const __m128i lo = Truncate(SampleSum(a), SampleSum(b));
    const __m128i hi = Truncate(SampleSum(c), SampleSum(d));
    const __m128i words = _mm_packs_epi32(lo, hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(words, words));
  }
  SampleBytesPlain(in + i, out + i, count - i);
}

// floor((v + 128) + 0.499) of two doubles, within -40000 .. 40000, as two
// ints in the low half.
inline __m128i ChromaFloor(__m128d d) {
  __m128d s = _mm_add_pd(_mm_add_pd(d, _mm_set1_pd(128.0)), _mm_set1_pd(0.499));
  s = _mm_min_pd(_mm_max_pd(s, _mm_set1_pd(-40000.0)), _mm_set1_pd(40000.0));
  const __m128i t = _mm_cvttpd_epi32(s);
  // Truncation went up for negative fractions: take one off there.
  const __m128d above = _mm_cmpgt_pd(_mm_cvtepi32_pd(t), s);
  const __m128i fix = _mm_shuffle_epi32(_mm_castpd_si128(above), _MM_SHUFFLE(3, 1, 2, 0));
  return _mm_add_epi32(t, _mm_unpacklo_epi64(fix, _mm_setzero_si128()));
}

void ChromaValuesSse2(const float* in, int16_t* out, size_t count, bool fullRange) {
  size_t i = 0;
  const __m128i zero = _mm_setzero_si128();
  const __m128i top = _mm_set1_epi16(255);
  for (; i + 8 <= count; i += 8) {
    __m128d a, b, c, d;
    Widen(in + i, a, b);
    Widen(in + i + 4, c, d);
    const __m128i lo = _mm_unpacklo_epi64(ChromaFloor(a), ChromaFloor(b));
    const __m128i hi = _mm_unpacklo_epi64(ChromaFloor(c), ChromaFloor(d));
    __m128i words = _mm_packs_epi32(lo, hi);  // saturates to -32768 .. 32767
    if (!fullRange) words = _mm_min_epi16(_mm_max_epi16(words, zero), top);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), words);
  }
  ChromaValuesPlain(in + i, out + i, count - i, fullRange);
}

// Even and odd samples of an extended signal as two arrays, so that the
// stride-2 filters become contiguous loads: even[j] = ext[2j], odd[j] =
// ext[2j + 1] for j from -2 on. The buffers grow per thread and are kept.
struct SplitBuffer {
  float* data = nullptr;
  size_t capacity = 0;
  ~SplitBuffer() { std::free(data); }
  float* Get(size_t n) {
    if (n > capacity) {
      std::free(data);
      data = static_cast<float*>(std::malloc(n * sizeof(float)));
      capacity = data ? n : 0;
    }
    return data;
  }
};
thread_local SplitBuffer tSplit;

// Splits ext[-4 .. 2 * pairs + 4) into even[-2 .. pairs + 2) and odd[-2 ..
// pairs + 2); false when the buffer cannot be had.
bool Split(const float* ext, size_t pairs, float*& even, float*& odd) {
  const size_t n = pairs + 4;
  float* base = tSplit.Get(2 * n + 16);
  if (!base) return false;
  even = base + 2;
  odd = base + n + 8 + 2;
  const float* src = ext - 4;
  float* e = even - 2;
  float* o = odd - 2;
  size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m128 a = _mm_loadu_ps(src + 2 * j);
    const __m128 b = _mm_loadu_ps(src + 2 * j + 4);
    _mm_storeu_ps(e + j, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(o + j, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  }
  for (; j < n; ++j) {
    e[j] = src[2 * j];
    o[j] = src[2 * j + 1];
  }
  return true;
}

// ---------------------------------------------------------------------------
// SSE2: two doubles per register, four outputs per step.

struct Sse2Acc {
  __m128d lo = _mm_setzero_pd();
  __m128d hi = _mm_setzero_pd();
  void Add(double tap, const float* p) {
    const __m128 v = _mm_loadu_ps(p);
    const __m128d t = _mm_set1_pd(tap);
    lo = _mm_add_pd(lo, _mm_mul_pd(t, _mm_cvtps_pd(v)));
    hi = _mm_add_pd(hi, _mm_mul_pd(t, _mm_cvtps_pd(_mm_movehl_ps(v, v))));
  }
  void Store(float* out) const {
    _mm_storeu_ps(out, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
  }
};

void CombineSse2(const float* const* rows, const float* taps, int tapCount, float* out,
                 size_t count) {
  size_t x = 0;
  for (; x + 4 <= count; x += 4) {
    Sse2Acc acc;
    for (int k = 0; k < tapCount; ++k) acc.Add(taps[k], rows[k] + x);
    acc.Store(out + x);
  }
  if (x < count) {
    const float* tail[9];
    for (int k = 0; k < tapCount; ++k) tail[k] = rows[k] + x;
    CombinePlain(tail, taps, tapCount, out + x, count - x);
  }
}

void CombinePairSse2(const float* const* rows, const float* lowTaps, const float* highTaps,
                     float* low, float* high, size_t count) {
  CombineSse2(rows, lowTaps, 9, low, count);
  CombineSse2(rows + 2, highTaps, 7, high, count);
}

void AnalyzeSse2(const float* ext, size_t half, const float* lowTaps, const float* highTaps,
                 float* low, float* high) {
  float *even, *odd;
  if (half < 8 || !Split(ext, half, even, odd)) {
    AnalyzePlain(ext, half, lowTaps, highTaps, low, high);
    return;
  }
  size_t i = 0;
  for (; i + 4 <= half; i += 4) {
    Sse2Acc l;
    l.Add(lowTaps[0], even + i - 2);
    l.Add(lowTaps[1], odd + i - 2);
    l.Add(lowTaps[2], even + i - 1);
    l.Add(lowTaps[3], odd + i - 1);
    l.Add(lowTaps[4], even + i);
    l.Add(lowTaps[5], odd + i);
    l.Add(lowTaps[6], even + i + 1);
    l.Add(lowTaps[7], odd + i + 1);
    l.Add(lowTaps[8], even + i + 2);
    l.Store(low + i);
    Sse2Acc h;
    h.Add(highTaps[0], even + i - 1);
    h.Add(highTaps[1], odd + i - 1);
    h.Add(highTaps[2], even + i);
    h.Add(highTaps[3], odd + i);
    h.Add(highTaps[4], even + i + 1);
    h.Add(highTaps[5], odd + i + 1);
    h.Add(highTaps[6], even + i + 2);
    h.Store(high + i);
  }
  if (i < half) AnalyzePlain(ext + 2 * i, half - i, lowTaps, highTaps, low + i, high + i);
}

void SynthesizeSse2(const float* even, const float* odd, size_t count, const float* evenTaps,
                    const float* oddTaps, float* out) {
  const size_t pairs = count / 2;
  size_t i = 0;
  for (; i + 4 <= pairs; i += 4) {
    Sse2Acc e;
    e.Add(evenTaps[0], odd + i - 2);
    e.Add(evenTaps[1], even + i - 1);
    e.Add(evenTaps[2], odd + i - 1);
    e.Add(evenTaps[3], even + i);
    e.Add(evenTaps[4], odd + i);
    e.Add(evenTaps[5], even + i + 1);
    e.Add(evenTaps[6], odd + i + 1);
    Sse2Acc o;
    o.Add(oddTaps[0], odd + i - 2);
    o.Add(oddTaps[1], even + i - 1);
    o.Add(oddTaps[2], odd + i - 1);
    o.Add(oddTaps[3], even + i);
    o.Add(oddTaps[4], odd + i);
    o.Add(oddTaps[5], even + i + 1);
    o.Add(oddTaps[6], odd + i + 1);
    o.Add(oddTaps[7], even + i + 2);
    o.Add(oddTaps[8], odd + i + 2);
    float ev[4], od[4];
    e.Store(ev);
    o.Store(od);
    const __m128 a = _mm_loadu_ps(ev);
    const __m128 b = _mm_loadu_ps(od);
    _mm_storeu_ps(out + 2 * i, _mm_unpacklo_ps(a, b));
    _mm_storeu_ps(out + 2 * i + 4, _mm_unpackhi_ps(a, b));
  }
  SynthesizeFrom(even, odd, 2 * i, count, evenTaps, oddTaps, out);
}

// ---------------------------------------------------------------------------
// AVX2: four doubles per register, eight outputs per step. Each tap is added
// with a fused multiply-add: the product of two floats is exact in double,
// so rounding it together with the sum gives the very value of the separate
// multiply and add (the path is only chosen on processors with FMA).

#define WIF_AVX2 __attribute__((target("avx2,fma")))

struct Avx2Acc {
  __m256d lo, hi;
  WIF_AVX2 void Zero() {
    lo = _mm256_setzero_pd();
    hi = _mm256_setzero_pd();
  }
  WIF_AVX2 void Add(double tap, const float* p) {
    const __m256d t = _mm256_set1_pd(tap);
    lo = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm_loadu_ps(p)), lo);
    hi = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm_loadu_ps(p + 4)), hi);
  }
  WIF_AVX2 __m256 Result(int = 0) const {
    return _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
  }
  static constexpr size_t kWidth = 8;
};

// Sixteen outputs: twice as many independent chains of fused multiply-adds
// as Avx2Acc, so that the adds' latency overlaps.
struct Avx2Acc16 {
  __m256d a0, a1, a2, a3;
  WIF_AVX2 void Zero() { a0 = a1 = a2 = a3 = _mm256_setzero_pd(); }
  WIF_AVX2 void Add(double tap, const float* p) {
    const __m256d t = _mm256_set1_pd(tap);
    a0 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm_loadu_ps(p)), a0);
    a1 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm_loadu_ps(p + 4)), a1);
    a2 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm_loadu_ps(p + 8)), a2);
    a3 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm_loadu_ps(p + 12)), a3);
  }
  // The same with the sixteen samples already in double.
  WIF_AVX2 void AddWide(double tap, __m256d v0, __m256d v1, __m256d v2, __m256d v3) {
    const __m256d t = _mm256_set1_pd(tap);
    a0 = _mm256_fmadd_pd(t, v0, a0);
    a1 = _mm256_fmadd_pd(t, v1, a1);
    a2 = _mm256_fmadd_pd(t, v2, a2);
    a3 = _mm256_fmadd_pd(t, v3, a3);
  }
  // Outputs 8g .. 8g + 7.
  WIF_AVX2 __m256 Result(int g) const {
    return g == 0 ? _mm256_set_m128(_mm256_cvtpd_ps(a1), _mm256_cvtpd_ps(a0))
                  : _mm256_set_m128(_mm256_cvtpd_ps(a3), _mm256_cvtpd_ps(a2));
  }
  static constexpr size_t kWidth = 16;
};

// True when all eight floats are zero (of either sign). A zero sample adds a
// zero product, which leaves every sum as it was: the sums never hold -0
// (they start at +0, and x + -x rounds to +0), and s + 0 is s. Skipping such
// samples is therefore exact, and the finest detail bands of a photograph
// are mostly zeros.
WIF_AVX2 inline bool AllZero(__m256 v) {
  return _mm256_testz_si256(_mm256_castps_si256(v), _mm256_set1_epi32(0x7fffffff)) != 0;
}

// Thirty-two outputs per step, as four groups of eight: each output's sum is
// a chain of dependent fused multiply-adds, and eight chains in flight
// instead of two keep the multipliers busy rather than waiting on each
// add's latency. A tap whose thirty-two samples are all zero is skipped.
template <int kTaps>
WIF_AVX2 void CombineTapsAvx2(const float* const* rows, const float* taps, float* out,
                              size_t count) {
  const float* r[kTaps];
  for (int k = 0; k < kTaps; ++k) r[k] = rows[k];
  size_t x = 0;
  for (; x + 32 <= count; x += 32) {
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0, a4 = a0, a5 = a0, a6 = a0,
            a7 = a0;
#pragma GCC unroll 9
    for (int k = 0; k < kTaps; ++k) {
      const __m256 v0 = _mm256_loadu_ps(r[k] + x);
      const __m256 v1 = _mm256_loadu_ps(r[k] + x + 8);
      const __m256 v2 = _mm256_loadu_ps(r[k] + x + 16);
      const __m256 v3 = _mm256_loadu_ps(r[k] + x + 24);
      if (AllZero(_mm256_or_ps(_mm256_or_ps(v0, v1), _mm256_or_ps(v2, v3)))) continue;
      const __m256d t = _mm256_set1_pd(taps[k]);
      a0 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm256_castps256_ps128(v0)), a0);
      a1 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm256_extractf128_ps(v0, 1)), a1);
      a2 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm256_castps256_ps128(v1)), a2);
      a3 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm256_extractf128_ps(v1, 1)), a3);
      a4 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm256_castps256_ps128(v2)), a4);
      a5 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm256_extractf128_ps(v2, 1)), a5);
      a6 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm256_castps256_ps128(v3)), a6);
      a7 = _mm256_fmadd_pd(t, _mm256_cvtps_pd(_mm256_extractf128_ps(v3, 1)), a7);
    }
    _mm256_storeu_ps(out + x, _mm256_set_m128(_mm256_cvtpd_ps(a1), _mm256_cvtpd_ps(a0)));
    _mm256_storeu_ps(out + x + 8, _mm256_set_m128(_mm256_cvtpd_ps(a3), _mm256_cvtpd_ps(a2)));
    _mm256_storeu_ps(out + x + 16, _mm256_set_m128(_mm256_cvtpd_ps(a5), _mm256_cvtpd_ps(a4)));
    _mm256_storeu_ps(out + x + 24, _mm256_set_m128(_mm256_cvtpd_ps(a7), _mm256_cvtpd_ps(a6)));
  }
  for (; x + 8 <= count; x += 8) {
    Avx2Acc acc;
    acc.Zero();
    for (int k = 0; k < kTaps; ++k) acc.Add(taps[k], r[k] + x);
    _mm256_storeu_ps(out + x, acc.Result());
  }
  if (x < count) {
    const float* tail[kTaps];
    for (int k = 0; k < kTaps; ++k) tail[k] = r[k] + x;
    CombineSse2(tail, taps, kTaps, out + x, count - x);
  }
}

WIF_AVX2 void CombineAvx2(const float* const* rows, const float* taps, int tapCount, float* out,
                          size_t count) {
  if (tapCount == 7) return CombineTapsAvx2<7>(rows, taps, out, count);
  if (tapCount == 9) return CombineTapsAvx2<9>(rows, taps, out, count);
  size_t x = 0;
  for (; x + 8 <= count; x += 8) {
    Avx2Acc acc;
    acc.Zero();
    for (int k = 0; k < tapCount; ++k) acc.Add(taps[k], rows[k] + x);
    _mm256_storeu_ps(out + x, acc.Result());
  }
  if (x < count) {
    const float* tail[9];
    for (int k = 0; k < tapCount; ++k) tail[k] = rows[k] + x;
    CombineSse2(tail, taps, tapCount, out + x, count - x);
  }
}

// Both sums of the pair take the same rows, sixteen outputs per step.
WIF_AVX2 void CombinePairAvx2(const float* const* rows, const float* lowTaps,
                              const float* highTaps, float* low, float* high, size_t count) {
  size_t x = 0;
  for (; x + 16 <= count; x += 16) {
    Avx2Acc16 l;
    l.Zero();
    Avx2Acc16 h;
    h.Zero();
#pragma GCC unroll 9
    for (int k = 0; k < 9; ++k) {
      // Each row's samples are widened once for both sums.
      const float* p = rows[k] + x;
      const __m256d v0 = _mm256_cvtps_pd(_mm_loadu_ps(p));
      const __m256d v1 = _mm256_cvtps_pd(_mm_loadu_ps(p + 4));
      const __m256d v2 = _mm256_cvtps_pd(_mm_loadu_ps(p + 8));
      const __m256d v3 = _mm256_cvtps_pd(_mm_loadu_ps(p + 12));
      l.AddWide(lowTaps[k], v0, v1, v2, v3);
      if (k >= 2) h.AddWide(highTaps[k - 2], v0, v1, v2, v3);
    }
    _mm256_storeu_ps(low + x, l.Result(0));
    _mm256_storeu_ps(low + x + 8, l.Result(1));
    _mm256_storeu_ps(high + x, h.Result(0));
    _mm256_storeu_ps(high + x + 8, h.Result(1));
  }
  if (x < count) {
    const float* tail[9];
    for (int k = 0; k < 9; ++k) tail[k] = rows[k] + x;
    CombinePairSse2(tail, lowTaps, highTaps, low + x, high + x, count - x);
  }
}

// Outputs i .. i + Acc::kWidth - 1 of the analysis pair.
template <typename Acc>
WIF_AVX2 inline void AnalyzeStep(const float* even, const float* odd, size_t i,
                                 const float* lowTaps, const float* highTaps, float* low,
                                 float* high) {
  Acc l;
  l.Zero();
  l.Add(lowTaps[0], even + i - 2);
  l.Add(lowTaps[1], odd + i - 2);
  l.Add(lowTaps[2], even + i - 1);
  l.Add(lowTaps[3], odd + i - 1);
  l.Add(lowTaps[4], even + i);
  l.Add(lowTaps[5], odd + i);
  l.Add(lowTaps[6], even + i + 1);
  l.Add(lowTaps[7], odd + i + 1);
  l.Add(lowTaps[8], even + i + 2);
  Acc h;
  h.Zero();
  h.Add(highTaps[0], even + i - 1);
  h.Add(highTaps[1], odd + i - 1);
  h.Add(highTaps[2], even + i);
  h.Add(highTaps[3], odd + i);
  h.Add(highTaps[4], even + i + 1);
  h.Add(highTaps[5], odd + i + 1);
  h.Add(highTaps[6], even + i + 2);
  for (size_t g = 0; g < Acc::kWidth / 8; ++g) {
    _mm256_storeu_ps(low + i + 8 * g, l.Result(static_cast<int>(g)));
    _mm256_storeu_ps(high + i + 8 * g, h.Result(static_cast<int>(g)));
  }
}

WIF_AVX2 void AnalyzeAvx2(const float* ext, size_t half, const float* lowTaps,
                          const float* highTaps, float* low, float* high) {
  float *even, *odd;
  if (half < 16 || !Split(ext, half, even, odd)) {
    AnalyzeSse2(ext, half, lowTaps, highTaps, low, high);
    return;
  }
  size_t i = 0;
  for (; i + 16 <= half; i += 16) AnalyzeStep<Avx2Acc16>(even, odd, i, lowTaps, highTaps, low, high);
  for (; i + 8 <= half; i += 8) AnalyzeStep<Avx2Acc>(even, odd, i, lowTaps, highTaps, low, high);
  if (i < half) AnalyzePlain(ext + 2 * i, half - i, lowTaps, highTaps, low + i, high + i);
}

// Output pairs i .. i + Acc::kWidth - 1 of the synthesis. Where the high
// band around them is all zero (most of a photograph's finest details), only
// the low band's taps are added.
template <typename Acc>
WIF_AVX2 inline void SynthesizeStep(const float* even, const float* odd, size_t i,
                                    const float* evenTaps, const float* oddTaps, float* out) {
  // The odd taps read odd[i - 2 .. i + kWidth + 1].
  __m256 window = _mm256_or_ps(_mm256_loadu_ps(odd + i - 2), _mm256_loadu_ps(odd + i + 2));
  if (Acc::kWidth == 16) window = _mm256_or_ps(window, _mm256_loadu_ps(odd + i + 10));
  Acc e;
  e.Zero();
  Acc o;
  o.Zero();
  if (AllZero(window)) {
    e.Add(evenTaps[1], even + i - 1);
    e.Add(evenTaps[3], even + i);
    e.Add(evenTaps[5], even + i + 1);
    o.Add(oddTaps[1], even + i - 1);
    o.Add(oddTaps[3], even + i);
    o.Add(oddTaps[5], even + i + 1);
    o.Add(oddTaps[7], even + i + 2);
  } else {
    e.Add(evenTaps[0], odd + i - 2);
    e.Add(evenTaps[1], even + i - 1);
    e.Add(evenTaps[2], odd + i - 1);
    e.Add(evenTaps[3], even + i);
    e.Add(evenTaps[4], odd + i);
    e.Add(evenTaps[5], even + i + 1);
    e.Add(evenTaps[6], odd + i + 1);
    o.Add(oddTaps[0], odd + i - 2);
    o.Add(oddTaps[1], even + i - 1);
    o.Add(oddTaps[2], odd + i - 1);
    o.Add(oddTaps[3], even + i);
    o.Add(oddTaps[4], odd + i);
    o.Add(oddTaps[5], even + i + 1);
    o.Add(oddTaps[6], odd + i + 1);
    o.Add(oddTaps[7], even + i + 2);
    o.Add(oddTaps[8], odd + i + 2);
  }
  for (size_t g = 0; g < Acc::kWidth / 8; ++g) {
    const __m256 a = e.Result(static_cast<int>(g));
    const __m256 b = o.Result(static_cast<int>(g));
    // unpack works within 128-bit halves: (a0 b0 a1 b1 | a4 b4 a5 b5) and
    // (a2 b2 a3 b3 | a6 b6 a7 b7); the halves are then put in order.
    const __m256 u = _mm256_unpacklo_ps(a, b);
    const __m256 v = _mm256_unpackhi_ps(a, b);
    float* to = out + 2 * (i + 8 * g);
    _mm256_storeu_ps(to, _mm256_permute2f128_ps(u, v, 0x20));
    _mm256_storeu_ps(to + 8, _mm256_permute2f128_ps(u, v, 0x31));
  }
}

WIF_AVX2 void SynthesizeAvx2(const float* even, const float* odd, size_t count,
                             const float* evenTaps, const float* oddTaps, float* out) {
  const size_t pairs = count / 2;
  size_t i = 0;
  for (; i + 16 <= pairs; i += 16) SynthesizeStep<Avx2Acc16>(even, odd, i, evenTaps, oddTaps, out);
  for (; i + 8 <= pairs; i += 8) SynthesizeStep<Avx2Acc>(even, odd, i, evenTaps, oddTaps, out);
  SynthesizeFrom(even, odd, 2 * i, count, evenTaps, oddTaps, out);
}

// Eight values at a time: the same sums, clamps and truncations as the SSE2
// loops, in four-double registers. `four` turns four doubles into four ints;
// the result is the eight as saturated 16-bit words.
template <class Four>
WIF_AVX2 inline __m128i EightWords(const float* p, Four four) {
  const __m256 v = _mm256_loadu_ps(p);
  return _mm_packs_epi32(four(_mm256_cvtps_pd(_mm256_castps256_ps128(v))),
                         four(_mm256_cvtps_pd(_mm256_extractf128_ps(v, 1))));
}

WIF_AVX2 void SampleBytesAvx2(const float* in, uint8_t* out, size_t count) {
  auto four = [](__m256d d) WIF_AVX2 {
    const __m256d t = _mm256_add_pd(d, _mm256_set1_pd(0.499));
    return _mm256_cvttpd_epi32(
        _mm256_min_pd(_mm256_max_pd(t, _mm256_setzero_pd()), _mm256_set1_pd(300.0)));
  };
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i words = EightWords(in + i, four);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(words, words));
  }
  SampleBytesPlain(in + i, out + i, count - i);
}

WIF_AVX2 void RoundDetailsAvx2(const float* in, int8_t* out, size_t count) {
  auto four = [](__m256d d) WIF_AVX2 {
    const __m256d above = _mm256_cmp_pd(d, _mm256_setzero_pd(), _CMP_GT_OQ);
    const __m256d half = _mm256_blendv_pd(_mm256_set1_pd(-0.49), _mm256_set1_pd(0.49), above);
    const __m256d t = _mm256_add_pd(d, half);
    return _mm256_cvttpd_epi32(
        _mm256_min_pd(_mm256_max_pd(t, _mm256_set1_pd(-200.0)), _mm256_set1_pd(200.0)));
  };
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i words = EightWords(in + i, four);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi16(words, words));
  }
  RoundDetailsPlain(in + i, out + i, count - i);
}

WIF_AVX2 void ChromaValuesAvx2(const float* in, int16_t* out, size_t count, bool fullRange) {
  // floor((v + 128) + 0.499), within -40000 .. 40000.
  auto four = [](__m256d d) WIF_AVX2 {
    __m256d s = _mm256_add_pd(_mm256_add_pd(d, _mm256_set1_pd(128.0)), _mm256_set1_pd(0.499));
    s = _mm256_min_pd(_mm256_max_pd(s, _mm256_set1_pd(-40000.0)), _mm256_set1_pd(40000.0));
    return _mm256_cvttpd_epi32(_mm256_floor_pd(s));
  };
  size_t i = 0;
  const __m128i zero = _mm_setzero_si128();
  const __m128i top = _mm_set1_epi16(255);
  for (; i + 8 <= count; i += 8) {
    __m128i words = EightWords(in + i, four);  // saturated to -32768 .. 32767
    if (!fullRange) words = _mm_min_epi16(_mm_max_epi16(words, zero), top);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), words);
  }
  ChromaValuesPlain(in + i, out + i, count - i, fullRange);
}

// Eight pixels at a time in 32-bit lanes (the sums of full-range chroma do
// not fit 16 bits), clamped by the saturating packs, each 128-bit half's four
// pixels then shuffled into twelve bytes of blue, green, red. A 16-byte store
// writes four bytes beyond its pixels, which the next store overwrites; the
// loop stops early enough for the last one to stay inside the row.
WIF_AVX2 void CombineColourAvx2(const uint8_t* y, const int16_t* a, const int16_t* b,
                                uint8_t* pixels, size_t count, bool rgb) {
  const __m256i bias = _mm256_set1_epi32(256);
  const __m256i half = _mm256_set1_epi32(128);
  // From (b0-3 g0-3 r0-3 zeros) to b0 g0 r0 b1 g1 r1 .. r3 in each half,
  // or to r0 g0 b0 r1 g1 b1 .. b3.
  const __m256i interleave =
      rgb ? _mm256_setr_epi8(8, 4, 0, 9, 5, 1, 10, 6, 2, 11, 7, 3, -1, -1, -1, -1,  //
                             8, 4, 0, 9, 5, 1, 10, 6, 2, 11, 7, 3, -1, -1, -1, -1)
          : _mm256_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1,  //
                             0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1);
  size_t i = 0;
  for (; i + 10 <= count; i += 8) {
    const __m256i luma = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + i)));
    const __m256i ca = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)));
    const __m256i cb = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
    const __m256i blue = _mm256_sub_epi32(_mm256_add_epi32(_mm256_add_epi32(luma, ca), cb), bias);
    const __m256i green = _mm256_add_epi32(_mm256_sub_epi32(luma, ca), half);
    const __m256i red = _mm256_add_epi32(_mm256_sub_epi32(luma, cb), half);
    // Saturating packs clamp exactly: to 16 bits first, then to 0 .. 255.
    // Each 128-bit half keeps its own four pixels.
    const __m256i bg = _mm256_packs_epi32(blue, green);                  // b0-3 g0-3
    const __m256i r0 = _mm256_packs_epi32(red, _mm256_setzero_si256());  // r0-3 zeros
    const __m256i planar = _mm256_packus_epi16(bg, r0);                  // b0-3 g0-3 r0-3 zeros
    const __m256i packed = _mm256_shuffle_epi8(planar, interleave);
    uint8_t* out = pixels + 3 * i;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(packed, 1));
  }
  CombineColourPlain(y + i, a + i, b + i, pixels + 3 * i, count - i, rgb);
}

// Eight pixels at a time: each 128-bit half takes four pixels (twelve bytes;
// the load reads four more, so the loop stops two pixels early) and spreads
// their three bytes into 32-bit lanes. The sum over three is the plain
// loop's correctly rounded division without a divide (whose throughput
// bounded the loop): the product by the float nearest 1/3, corrected once by
// its residual, which is exact for every sum of three bytes (0 to 765; a
// test checks them all).
WIF_AVX2 void ColourPlaneAvx2(const uint8_t* pixels, float* out, size_t count, int own) {
  const __m256i byte0 = _mm256_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1,
                                        0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
  const __m256i byte1 = _mm256_add_epi8(byte0, _mm256_set1_epi32(1));
  const __m256i byte2 = _mm256_add_epi8(byte0, _mm256_set1_epi32(2));
  const __m256i subtracted = own == 0 ? byte0 : own == 1 ? byte1 : byte2;
  const __m256 three = _mm256_set1_ps(3.0f);
  const __m256 third = _mm256_set1_ps(1.0f / 3.0f);
  size_t i = 0;
  for (; i + 10 <= count; i += 8) {
    const uint8_t* p = pixels + 3 * i;
    const __m256i bytes =
        _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)));
    const __m256i sum = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_shuffle_epi8(bytes, byte0), _mm256_shuffle_epi8(bytes, byte1)),
        _mm256_shuffle_epi8(bytes, byte2));
    const __m256 total = _mm256_cvtepi32_ps(sum);
    const __m256 estimate = _mm256_mul_ps(total, third);
    __m256 v = _mm256_fmadd_ps(_mm256_fnmadd_ps(estimate, three, total), third, estimate);
    if (own >= 0) v = _mm256_sub_ps(v, _mm256_cvtepi32_ps(_mm256_shuffle_epi8(bytes, subtracted)));
    _mm256_storeu_ps(out + i, v);
  }
  ColourPlanePlain(pixels + 3 * i, out + i, count - i, own);
}

#endif  // WIF_X86

const WaveletKernels kPlain = {CombinePlain,       CombinePairPlain,       AnalyzePlain,
                               SynthesizePlain,    RoundDetailsPlain,      RoundCoefficientsPlain,
                               SampleBytesPlain,   ChromaValuesPlain,      CombineColourPlain,
                               ColourPlanePlain};
#ifdef WIF_X86
const WaveletKernels kSse2 = {CombineSse2,      CombinePairSse2,    AnalyzeSse2,
                              SynthesizeSse2,   RoundDetailsSse2,   RoundCoefficientsSse2,
                              SampleBytesSse2,  ChromaValuesSse2,   CombineColourPlain,
                              ColourPlanePlain};
const WaveletKernels kAvx2 = {CombineAvx2,      CombinePairAvx2,    AnalyzeAvx2,
                              SynthesizeAvx2,   RoundDetailsAvx2,   RoundCoefficientsSse2,
                              SampleBytesAvx2,  ChromaValuesAvx2,   CombineColourAvx2,
                              ColourPlaneAvx2};
#endif

}  // namespace

const WaveletKernels& KernelsFor(KernelPath path) {
#ifdef WIF_X86
  if (path == KernelPath::Avx2) return kAvx2;
  if (path == KernelPath::Sse2) return kSse2;
#endif
  return kPlain;
}

}  // namespace wif
