// Rational media time (value / timescale) compared exactly, and the host clock.
#pragma once

#include <compare>
#include <cstdint>
#include <ctime>
#include <numeric>

namespace tavolu {

struct MediaTime {
  static constexpr uint32_t kValid = 1;
  static constexpr int32_t kNanos = 1'000'000'000;  // timescale of host-clock times

  int64_t value = 0;
  int32_t timescale = 0;
  uint32_t flags = 0;
  int64_t epoch = 0;

  static constexpr MediaTime invalid() { return {}; }
  static constexpr MediaTime make(int64_t value, int32_t timescale) {
    return timescale > 0 ? MediaTime{value, timescale, kValid, 0} : MediaTime{};
  }
  static constexpr MediaTime fromNanos(int64_t ns) { return make(ns, kNanos); }
  // Rounds to the nearest tick of the timescale.
  static MediaTime fromSeconds(double s, int32_t timescale) {
    return make(static_cast<int64_t>(s * timescale + (s >= 0 ? 0.5 : -0.5)), timescale);
  }

  constexpr bool valid() const { return (flags & kValid) && timescale > 0; }
  constexpr double seconds() const {
    return valid() ? static_cast<double>(value) / timescale : 0.0;
  }
  // The same instant on another timescale, rounded to the nearest tick.
  constexpr MediaTime convertScale(int32_t scale) const {
    if (!valid() || scale <= 0) return invalid();
    __int128 num = static_cast<__int128>(value) * scale;
    __int128 half = timescale / 2;
    __int128 q = num >= 0 ? (num + half) / timescale : -((-num + half) / timescale);
    return make(static_cast<int64_t>(q), scale);
  }

  // Exact comparison of the two rationals; invalid times sort before all valid ones and are
  // equal to each other.
  friend constexpr std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) {
    if (!a.valid() || !b.valid()) return a.valid() <=> b.valid();
    __int128 l = static_cast<__int128>(a.value) * b.timescale;
    __int128 r = static_cast<__int128>(b.value) * a.timescale;
    return l <=> r;
  }
  friend constexpr bool operator==(const MediaTime& a, const MediaTime& b) {
    return (a <=> b) == std::strong_ordering::equal;
  }

  // Sums and differences are exact when the common timescale fits 32 bits, otherwise they
  // are rounded to the finer of the two timescales.
  friend constexpr MediaTime operator+(const MediaTime& a, const MediaTime& b) {
    return combine(a, b, 1);
  }
  friend constexpr MediaTime operator-(const MediaTime& a, const MediaTime& b) {
    return combine(a, b, -1);
  }

 private:
  static constexpr MediaTime combine(const MediaTime& a, const MediaTime& b, int sign) {
    if (!a.valid() || !b.valid()) return invalid();
    if (a.timescale == b.timescale) return make(a.value + sign * b.value, a.timescale);
    int64_t lcm = std::lcm<int64_t, int64_t>(a.timescale, b.timescale);
    int32_t scale = lcm <= INT32_MAX ? static_cast<int32_t>(lcm)
                                     : (a.timescale > b.timescale ? a.timescale : b.timescale);
    MediaTime x = a.convertScale(scale), y = b.convertScale(scale);
    return make(x.value + sign * y.value, scale);
  }
};

// Now on the host clock (CLOCK_MONOTONIC), as a media time in nanoseconds.
inline MediaTime hostTimeNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return MediaTime::fromNanos(static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec);
}

}  // namespace tavolu
