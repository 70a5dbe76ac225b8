// The shape of the usual cue timing line, "HH:MM:SS.mmm --> HH:MM:SS.mmm",
// tested 16 bytes at a time where SSE2 is there, else 8: the default filter
// searches lines for it, and the clean style's timing reader takes it as its
// fast path.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane {

// Shape of a timing match: '9' stands for any ASCII digit, other bytes for
// themselves. The match is fixed-width and its '>' sits at kTimingArrow.
inline constexpr std::string_view kTimingShape = "99:99:99.999 --> 99:99:99.999";
inline constexpr std::size_t kTimingArrow = 15;

// The shape is tested as words whose first byte is the lowest. The four words
// start at these offsets and overlap at the end.
using Word = std::uint64_t;
inline constexpr std::size_t kShapeWords[] = {0, 8, 16, kTimingShape.size() - sizeof(Word)};
inline constexpr Word kOnes = 0x0101010101010101;
inline constexpr Word kHighBits = 0x8080808080808080;
inline constexpr Word kLowBits = 0x7F7F7F7F7F7F7F7F;

inline Word LoadWord(const char* at) {
  Word word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// For the shape word at `offset`: which bytes must be digits (their high
// bits), which must be a fixed byte (all their bits), and those bytes.
struct ShapeWord {
  Word digits = 0;
  Word fixed = 0;
  Word value = 0;
};
constexpr ShapeWord MakeShapeWord(std::size_t offset) {
  ShapeWord word;
  for (std::size_t i = 0; i < sizeof(Word); ++i) {
    const char want = kTimingShape[offset + i];
    if (want == '9') {
      word.digits |= Word{0x80} << (8 * i);
    } else {
      word.fixed |= Word{0xFF} << (8 * i);
      word.value |= Word{static_cast<unsigned char>(want)} << (8 * i);
    }
  }
  return word;
}
inline constexpr ShapeWord kShape[] = {MakeShapeWord(kShapeWords[0]), MakeShapeWord(kShapeWords[1]),
                                       MakeShapeWord(kShapeWords[2]),
                                       MakeShapeWord(kShapeWords[3])};

// The high bit of each byte of `word` that is not an ASCII digit.
inline Word NotDigits(Word word) {
  const Word offset = word ^ (kOnes * '0');  // digits become 0 to 9, nothing else does
  return (((offset & kLowBits) + kOnes * (0x80 - 10)) | offset) & kHighBits;
}

// Bytes of the shape word `i` at `text` that differ from the shape.
inline Word ShapeMismatch(const char* text, std::size_t i) {
  const Word word = LoadWord(text + kShapeWords[i]);
  return ((word & kShape[i].fixed) ^ kShape[i].value) | (NotDigits(word) & kShape[i].digits);
}

#if defined(__SSE2__)
// Which bytes of the 16 at `at` fit the 16 bytes of the shape at `shape`, as
// a movemask: a digit where the shape has '9', else the shape's byte.
inline int ShapeFits(const char* at, const char* shape) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  const __m128i want = _mm_loadu_si128(reinterpret_cast<const __m128i*>(shape));
  const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)),
                                      _mm_cmplt_epi8(bytes, _mm_set1_epi8('9' + 1)));
  const __m128i fits = _mm_or_si128(_mm_cmpeq_epi8(bytes, want),
                                    _mm_and_si128(digit, _mm_cmpeq_epi8(want, _mm_set1_epi8('9'))));
  return _mm_movemask_epi8(fits);
}
#endif

// True when the 29 bytes at `text` have kTimingShape.
inline bool MatchesTimingShape(const char* text) {
#if defined(__SSE2__)
  // Two loads of 16 bytes that overlap in the middle.
  constexpr std::size_t kSecond = kTimingShape.size() - 16;
  return (ShapeFits(text, kTimingShape.data()) &
          ShapeFits(text + kSecond, kTimingShape.data() + kSecond)) == 0xFFFF;
#else
  return (ShapeMismatch(text, 0) | ShapeMismatch(text, 1) | ShapeMismatch(text, 2) |
          ShapeMismatch(text, 3)) == 0;
#endif
}

}  // namespace orvane
