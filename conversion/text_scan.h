// Byte scans shared by the caption readers and the cue text cleaner: finding
// a byte, and what a line holds, 16 bytes at a time where SSE2 is there.
#pragma once

#include <bit>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane {

// What a line holds, found in one pass so that readers and the cleaner skip
// the steps a line does not need.
inline constexpr unsigned kHasLess = 1;        // '<': tags to remove
inline constexpr unsigned kHasAmpersand = 2;   // '&': references to decode
inline constexpr unsigned kHasDash = 4;        // '-': maybe "-->"
inline constexpr unsigned kNeedsCollapse = 8;  // tabs, C2, two spaces, spaces at the ends
inline constexpr unsigned kHasHigh = 16;       // bytes 80 to FF: maybe not UTF-8

namespace scan_detail {

// The traits of the byte `c`, after a byte that is a space when
// `space_before`.
inline unsigned ByteTraits(char c, bool space_before) {
  return (c == '<' ? kHasLess : 0) | (c == '&' ? kHasAmpersand : 0) | (c == '-' ? kHasDash : 0) |
         (c == '\t' || c == '\xC2' || (c == ' ' && space_before) ? kNeedsCollapse : 0) |
         (static_cast<unsigned char>(c) >= 0x80 ? kHasHigh : 0);
}

#if defined(__SSE2__)
// The bytes of the line that ScanLine has looked at so far, as one vector
// per trait: a byte is all ones where a byte with the trait was seen.
struct SeenBytes {
  __m128i less = _mm_setzero_si128();
  __m128i ampersand = _mm_setzero_si128();
  __m128i dash = _mm_setzero_si128();
  __m128i collapse = _mm_setzero_si128();
  __m128i high = _mm_setzero_si128();  // only the top bit of each byte counts

  // Adds the 16 bytes at `at` that `keep` selects; at[-1] may be read.
  void Add(const char* at, __m128i keep) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at - 1));
    const auto is = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    less = _mm_or_si128(less, _mm_and_si128(is(bytes, '<'), keep));
    ampersand = _mm_or_si128(ampersand, _mm_and_si128(is(bytes, '&'), keep));
    dash = _mm_or_si128(dash, _mm_and_si128(is(bytes, '-'), keep));
    const __m128i spaces = _mm_or_si128(_mm_or_si128(is(bytes, '\t'), is(bytes, '\xC2')),
                                        _mm_and_si128(is(bytes, ' '), is(before, ' ')));
    collapse = _mm_or_si128(collapse, _mm_and_si128(spaces, keep));
    high = _mm_or_si128(high, _mm_and_si128(bytes, keep));
  }

  unsigned Traits() const {
    const auto any = [](__m128i v) { return _mm_movemask_epi8(v) != 0; };
    return (any(less) ? kHasLess : 0) | (any(ampersand) ? kHasAmpersand : 0) |
           (any(dash) ? kHasDash : 0) | (any(collapse) ? kNeedsCollapse : 0) |
           (any(high) ? kHasHigh : 0);
  }
};

// Loaded at kLastBytes + n: a mask of the last n of 16 bytes.
inline constexpr char kLastBytes[32] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
                                        0,  0,  0,  0,  0,  -1, -1, -1, -1, -1, -1,
                                        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
#endif

}  // namespace scan_detail

// The first `c` in [at, end), or `end` when there is none.
inline const char* FindByte(const char* at, const char* end, char c) {
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(c);
  for (; end - at >= 16; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted));
    if (mask != 0) return at + std::countr_zero(static_cast<unsigned>(mask));
  }
#endif
  while (at < end && *at != c) ++at;
  return at;
}

// The traits (kHasLess...) of `line`. Its first byte is looked at on its
// own, so that every later one has a byte before it in the line.
inline unsigned ScanLine(std::string_view line) {
  using scan_detail::ByteTraits;
  if (line.empty()) return 0;
  unsigned traits = ByteTraits(line.front(), false) |
                    (line.front() == ' ' || line.back() == ' ' ? kNeedsCollapse : 0);
  const char* at = line.data() + 1;
  const char* const end = line.data() + line.size();
#if defined(__SSE2__)
  if (end - at >= 16) {
    scan_detail::SeenBytes seen;
    for (; end - at >= 16; at += 16) seen.Add(at, _mm_set1_epi8(-1));
    if (at != end) {
      // The last bytes, as the end of the chunk that ends with the line.
      const __m128i last =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan_detail::kLastBytes + (end - at)));
      seen.Add(end - 16, last);
    }
    return traits | seen.Traits();
  }
#endif
  for (; at < end; ++at) traits |= ByteTraits(*at, at[-1] == ' ');
  return traits;
}

}  // namespace orvane
