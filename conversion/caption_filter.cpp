#include "conversion/caption_filter.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane {
namespace {

constexpr char kCtrlZ = '\x1A';
constexpr std::string_view kHeaderMarker = "WEBVTT";
// Shape of a timing match: '9' stands for any ASCII digit, other bytes for
// themselves. The match is fixed-width and its '>' sits at kTimingArrow.
constexpr std::string_view kTimingShape = "99:99:99.999 --> 99:99:99.999";
constexpr std::size_t kTimingArrow = 15;

// 1 when `c` is an ASCII digit, else 0.
unsigned Digit(char c) { return static_cast<unsigned char>(c - '0') < 10 ? 1 : 0; }

// The timing shape is tested 8 bytes at a time, as words whose first byte is
// the lowest. The four words start at these offsets and overlap at the end.
using Word = std::uint64_t;
constexpr std::size_t kShapeWords[] = {0, 8, 16, kTimingShape.size() - sizeof(Word)};
constexpr Word kOnes = 0x0101010101010101;
constexpr Word kHighBits = 0x8080808080808080;
constexpr Word kLowBits = 0x7F7F7F7F7F7F7F7F;

Word LoadWord(const char* at) {
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
constexpr ShapeWord kShape[] = {MakeShapeWord(kShapeWords[0]), MakeShapeWord(kShapeWords[1]),
                                MakeShapeWord(kShapeWords[2]), MakeShapeWord(kShapeWords[3])};

// The high bit of each byte of `word` that is not an ASCII digit.
Word NotDigits(Word word) {
  const Word offset = word ^ (kOnes * '0');  // digits become 0 to 9, nothing else does
  return (((offset & kLowBits) + kOnes * (0x80 - 10)) | offset) & kHighBits;
}

// Bytes of the shape word `i` at `text` that differ from the shape.
Word ShapeMismatch(const char* text, std::size_t i) {
  const Word word = LoadWord(text + kShapeWords[i]);
  return ((word & kShape[i].fixed) ^ kShape[i].value) | (NotDigits(word) & kShape[i].digits);
}

// True when the 29 bytes at `text` have kTimingShape.
bool MatchesTimingShape(const char* text) {
  return (ShapeMismatch(text, 0) | ShapeMismatch(text, 1) | ShapeMismatch(text, 2) |
          ShapeMismatch(text, 3)) == 0;
}

// Length of the tag "<x>" or "</x>" starting at `at`, or 0 when there is none.
std::size_t TagLengthAt(const char* at, const char* end, char x) {
  const std::size_t left = static_cast<std::size_t>(end - at);
  if (left >= 3 && at[1] == x && at[2] == '>') return 3;
  if (left >= 4 && at[1] == '/' && at[2] == x && at[3] == '>') return 4;
  return 0;
}

// Copies [from, end) to `to`, dropping every "<x>" and "</x>" in one
// left-to-right pass. `to` may equal `from`: the copy only ever shrinks.
// Returns the end of what was written.
char* CopyWithoutTag(const char* from, const char* end, char* to, char x) {
  while (from < end) {
    const char* open = static_cast<const char*>(std::memchr(from, '<', end - from));
    const char* stop = open == nullptr ? end : open;
    if (to != from) std::memmove(to, from, stop - from);
    to += stop - from;
    if (open == nullptr) break;
    const std::size_t tag = TagLengthAt(open, end, x);
    if (tag == 0) {
      *to++ = '<';
      from = open + 1;
    } else {
      from = open + tag;
    }
  }
  return to;
}

// What a line may hold, gathered while it is scanned; the exact checks
// confirm it.
constexpr unsigned kLess = 1;     // '<': a tag may start here
constexpr unsigned kGreater = 2;  // '>': the arrow of a timing line
constexpr unsigned kUpperW = 4;   // 'W': "WEBVTT" may start here
// For a line not scanned: every exact check runs.
constexpr unsigned kUnscanned = kLess | kGreater | kUpperW;

// The scan looks at 64 bytes at a time. Bit i of a mask stands for byte i.
constexpr std::size_t kChunk = 64;
struct ChunkMasks {
  std::uint64_t line_feeds;
  std::uint64_t stops;  // Ctrl-Z bytes
  std::uint64_t less;
  std::uint64_t greater;
  std::uint64_t upper_w;
};

#if defined(__SSE2__)
ChunkMasks Classify(const char* at) {
  ChunkMasks masks{};
  for (unsigned part = 0; part < kChunk / 16; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
    const auto mask = [&bytes, part](char c) {
      const int bits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
      return std::uint64_t{static_cast<std::uint16_t>(bits)} << (16 * part);
    };
    masks.line_feeds |= mask('\n');
    masks.stops |= mask(kCtrlZ);
    masks.less |= mask('<');
    masks.greater |= mask('>');
    masks.upper_w |= mask('W');
  }
  return masks;
}
#else
ChunkMasks Classify(const char* at) {
  ChunkMasks masks{};
  for (unsigned i = 0; i < kChunk; ++i) {
    const std::uint64_t bit = std::uint64_t{1} << i;
    masks.line_feeds |= at[i] == '\n' ? bit : 0;
    masks.stops |= at[i] == kCtrlZ ? bit : 0;
    masks.less |= at[i] == '<' ? bit : 0;
    masks.greater |= at[i] == '>' ? bit : 0;
    masks.upper_w |= at[i] == 'W' ? bit : 0;
  }
  return masks;
}
#endif

// The classes that the bytes `bits` of `masks` hold.
unsigned ClassesIn(const ChunkMasks& masks, std::uint64_t bits) {
  return ((masks.less & bits) != 0 ? kLess : 0) | ((masks.greater & bits) != 0 ? kGreater : 0) |
         ((masks.upper_w & bits) != 0 ? kUpperW : 0);
}

// The last LF in [begin, end), or null when there is none.
const char* LastLineFeed(const char* begin, const char* end) {
  for (const char* at = end; at != begin;) {
    if (*--at == '\n') return at;
  }
  return nullptr;
}

// A CR right before the LF that ended a line belongs to the CR LF line end.
std::string_view WithoutFinalReturn(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

bool IsHeaderLine(std::string_view line) { return line.find(kHeaderMarker) != line.npos; }

bool IsTimingLine(std::string_view line) {
  if (line.size() < kTimingShape.size()) return false;
  const char* const begin = line.data();
  // Last place where a match's '>' can sit with the whole match inside the line.
  const char* const last_arrow = begin + line.size() - kTimingShape.size() + kTimingArrow;
  for (const char* at = begin + kTimingArrow; at <= last_arrow; ++at) {
    at = static_cast<const char*>(std::memchr(at, '>', last_arrow - at + 1));
    if (at == nullptr) return false;
    if (MatchesTimingShape(at - kTimingArrow)) return true;
  }
  return false;
}

bool IsCueNumber(std::string_view line) {
  if (line.empty()) return false;
  for (const char c : line) {
    if (Digit(c) == 0) return false;
  }
  return true;
}

void AppendWithoutTags(std::string_view line, std::string& out) {
  const std::size_t base = out.size();
  // An empty view may have no storage at all, which memchr must not be given.
  if (line.empty() || std::memchr(line.data(), '<', line.size()) == nullptr) {
    out.append(line);
    return;
  }
  out.resize(base + line.size());
  char* const start = out.data() + base;
  char* end = CopyWithoutTag(line.data(), line.data() + line.size(), start, 'v');
  end = CopyWithoutTag(start, end, start, 'c');
  out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string MakeTitleLine(const platform::NativeString& title) {
  std::string line;
  if (title.empty()) return line;
  platform::NativeString with_stop = title;
  with_stop += platform::NativeChar('.');
  for (const char c : platform::ToNarrow(with_stop)) {
    if (c == '\n') line += '\r';
    line += c;
  }
  line += "\r\n";
  return line;
}

bool CaptionFilter::Feed(std::string_view bytes) {
  if (ended_ || bytes.empty()) return !ended_;  // an empty view may have no storage
  const char* begin = bytes.data();
  const char* const end = begin + bytes.size();
  if (!pending_.empty()) {
    // The rest of a line that an earlier piece began.
    const char* const lf = static_cast<const char*>(std::memchr(begin, '\n', bytes.size()));
    const char* const line_end = lf == nullptr ? end : lf;
    if (const void* stop = std::memchr(begin, kCtrlZ, line_end - begin)) {
      return EndAt(begin, static_cast<const char*>(stop));
    }
    pending_.append(begin, line_end);
    if (lf == nullptr) return true;
    if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
    ProcessPendingLine();
    begin = lf + 1;
  }
  if (const char* const last_lf = LastLineFeed(begin, end)) {
    begin = ScanLines(begin, last_lf + 1);
    if (ended_) return false;
  }
  if (const void* stop = std::memchr(begin, kCtrlZ, end - begin)) {
    return EndAt(begin, static_cast<const char*>(stop));
  }
  pending_.append(begin, end);
  return true;
}

bool CaptionFilter::EndAt(const char* line, const char* stop) {
  pending_.append(line, stop);
  ended_ = true;
  return false;
}

const char* CaptionFilter::ScanLines(const char* begin, const char* end) {
  const char* line = begin;
  unsigned seen = 0;  // classes of the current line in earlier chunks
  char tail[kChunk];
  for (const char* at = begin; at < end; at += kChunk) {
    const char* chunk = at;
    if (end - at < static_cast<std::ptrdiff_t>(kChunk)) {
      // The last bytes, padded with zeros; the padding lies after the last LF.
      std::memset(tail, 0, sizeof tail);
      std::memcpy(tail, at, static_cast<std::size_t>(end - at));
      chunk = tail;
    }
    const ChunkMasks masks = Classify(chunk);
    std::uint64_t line_feeds = masks.line_feeds;
    // A Ctrl-Z ends the input: only the line feeds before it count.
    const std::uint64_t stop_bit = masks.stops & (~masks.stops + 1);
    if (stop_bit != 0) line_feeds &= stop_bit - 1;
    std::uint64_t line_bits = ~std::uint64_t{0};  // bytes of the chunk from `line` on
    while (line_feeds != 0) {
      const std::uint64_t lf_bit = line_feeds & (~line_feeds + 1);
      const char* const lf = at + std::countr_zero(lf_bit);
      ProcessLine(WithoutFinalReturn(std::string_view(line, lf - line)),
                  seen | ClassesIn(masks, line_bits & (lf_bit - 1)));
      line = lf + 1;
      seen = 0;
      line_bits = ~(lf_bit | (lf_bit - 1));
      line_feeds &= line_feeds - 1;
    }
    if (stop_bit != 0) {
      EndAt(line, at + std::countr_zero(stop_bit));
      return end;
    }
    seen |= ClassesIn(masks, line_bits);
  }
  return end;
}

void CaptionFilter::Finish() {
  // A last line without LF keeps a final CR: only CR LF reads as LF.
  ProcessPendingLine();
}

void CaptionFilter::Reset() {
  constexpr std::size_t kKeptCapacity = 1 << 20;
  for (std::string* buffer : {&pending_, &output_}) {
    if (buffer->capacity() > kKeptCapacity) {
      std::string().swap(*buffer);
    } else {
      buffer->clear();
    }
  }
  ended_ = false;
}

void CaptionFilter::ProcessPendingLine() {
  constexpr std::size_t kLongLine = 64 * 1024;
  if (pending_.size() < kLongLine || !output_.empty()) {
    ProcessLine(pending_, kUnscanned);
    pending_.clear();
    return;
  }
  // A long line is filtered in place and handed over as the output, so that
  // it is held once, not copied.
  if (!KeepsLine(pending_, kUnscanned)) {
    pending_.clear();
    return;
  }
  char* const start = pending_.data();
  char* end = CopyWithoutTag(start, start + pending_.size(), start, 'v');
  end = CopyWithoutTag(start, end, start, 'c');
  pending_.resize(static_cast<std::size_t>(end - start));
  if (!pending_.empty()) pending_.append("\r\n", 2);
  output_.swap(pending_);
  pending_.clear();
}

bool CaptionFilter::KeepsLine(std::string_view line, unsigned seen) {
  if (line.empty()) return false;
  if ((seen & kUpperW) != 0 && IsHeaderLine(line)) return false;
  // Cue timings start their line, so that place is tried before the search.
  if ((seen & kGreater) != 0 &&
      ((line.size() >= kTimingShape.size() && MatchesTimingShape(line.data())) ||
       IsTimingLine(line))) {
    return false;
  }
  return !IsCueNumber(line);
}

void CaptionFilter::ProcessLine(std::string_view line, unsigned seen) {
  if (!KeepsLine(line, seen)) return;
  if ((seen & kLess) != 0) {
    const std::size_t base = output_.size();
    AppendWithoutTags(line, output_);
    if (output_.size() == base) return;
  } else {
    output_.append(line);
  }
  output_.append("\r\n", 2);
}

std::string FilterCaptions(std::string_view captions) {
  CaptionFilter filter;
  filter.output().reserve(captions.size());
  filter.Feed(captions);
  filter.Finish();
  return std::move(filter.output());
}

}  // namespace orvane
