#include "conversion/caption_filter.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
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

// CopyRounded copies in fixed-size moves, which need no call and, for up to
// kSlack bytes, no loop. It reads and writes up to kSlack bytes past them.
constexpr std::size_t kSlack = 64;
void CopyRounded(char* to, const char* from, std::size_t size) {
  constexpr std::size_t kMove = 16;
  std::memcpy(to, from, kSlack);
  for (std::size_t i = kSlack; i < size; i += kMove) std::memcpy(to + i, from + i, kMove);
}

// Makes room in `out` for `size` bytes after its first `used` bytes and
// returns where they go. Bytes past `used` are scratch until trimmed.
char* Room(std::string& out, std::size_t used, std::size_t size) {
  // Grown a page at a time, so that little is zero-filled ahead of use.
  constexpr std::size_t kGrowth = 4096;
  if (out.size() - used < size) out.resize(used + std::max(size, kGrowth));
  return out.data() + used;
}

// Writes `line` and a CR LF into `out` after its first `used` bytes; the
// bytes from `line` up to `readable` may be read. Returns the new count of
// used bytes.
std::size_t WriteLine(std::string_view line, const char* readable, std::string& out,
                      std::size_t used) {
  char* const to = Room(out, used, line.size() + kSlack);
  if (static_cast<std::size_t>(readable - line.data()) >= line.size() + kSlack) {
    CopyRounded(to, line.data(), line.size());
  } else {
    std::memcpy(to, line.data(), line.size());
  }
  to[line.size()] = '\r';
  to[line.size() + 1] = '\n';
  return used + line.size() + 2;
}

// Writes the bytes [start, end) that remain of a line after tag removal, and
// a CR LF when any remain. Returns the new count of used bytes.
std::size_t EndTagFreeLine(const std::string& out, std::size_t used, char* start, char* end) {
  if (end == start) return used;
  end[0] = '\r';
  end[1] = '\n';
  return static_cast<std::size_t>(end + 2 - out.data());
}

// Like WriteLine, with the tags removed as AppendWithoutTags does; nothing is
// written when no text remains.
std::size_t WriteWithoutTags(std::string_view line, std::string& out, std::size_t used) {
  char* const start = Room(out, used, line.size() + 2);
  char* end = CopyWithoutTag(line.data(), line.data() + line.size(), start, 'v');
  end = CopyWithoutTag(start, end, start, 'c');
  return EndTagFreeLine(out, used, start, end);
}

// A line shorter than two chunks, with bit i of word i / 64 standing for its
// byte i.
struct LineMasks {
  std::uint64_t less[2];
  std::uint64_t greater[2];
  bool upper_w;  // the line holds a 'W'
};
constexpr std::size_t kShortLine = 128;

// CopyWithoutTag for fewer than kShortLine bytes whose '<' bytes are the set
// bits of `less`, to a place that does not overlap them. Reads and writes up
// to kSlack bytes past both. Sets `kept` to the bits of the '<' bytes written.
char* CopyWithoutTag(const char* from, const char* end, const std::uint64_t (&less)[2], char* to,
                     char x, std::uint64_t (&kept)[2]) {
  const char* const from_start = from;
  char* const to_start = to;
  kept[0] = kept[1] = 0;
  for (unsigned word = 0; word < 2; ++word) {
    for (std::uint64_t bits = less[word]; bits != 0; bits &= bits - 1) {
      // A tag holds no other '<', so every bit lies at or after `from`.
      const char* const open = from_start + 64 * word + std::countr_zero(bits);
      CopyRounded(to, from, static_cast<std::size_t>(open - from));
      to += open - from;
      const std::size_t tag = TagLengthAt(open, end, x);
      if (tag == 0) {
        const auto place = static_cast<std::size_t>(to - to_start);
        kept[place / 64] |= std::uint64_t{1} << (place % 64);
        *to++ = '<';
        from = open + 1;
      } else {
        from = open + tag;
      }
    }
  }
  CopyRounded(to, from, static_cast<std::size_t>(end - from));
  return to + (end - from);
}

// Filters and writes a line of fewer than kShortLine bytes, not empty, that
// holds a '<', '>' or 'W', as `masks` tell. Such a line is never a cue number.
// The bytes up to `readable` may be read. Returns the new count of used bytes.
std::size_t WriteShortLine(std::string_view line, const char* readable, const LineMasks& masks,
                           std::string& out, std::size_t used) {
  if (masks.upper_w && IsHeaderLine(line)) return used;
  for (unsigned word = 0; word < 2; ++word) {
    for (std::uint64_t bits = masks.greater[word]; bits != 0; bits &= bits - 1) {
      // A timing match has its '>' at kTimingArrow and lies inside the line.
      const std::size_t arrow = 64 * word + static_cast<std::size_t>(std::countr_zero(bits));
      if (arrow >= kTimingArrow && arrow - kTimingArrow + kTimingShape.size() <= line.size() &&
          MatchesTimingShape(line.data() + arrow - kTimingArrow)) {
        return used;
      }
    }
  }
  if ((masks.less[0] | masks.less[1]) == 0) return WriteLine(line, readable, out, used);
  if (static_cast<std::size_t>(readable - line.data()) < line.size() + kSlack) {
    return WriteWithoutTags(line, out, used);
  }
  // The "<v>" pass writes to `between`, the "<c>" pass from there to `out`.
  char between[kShortLine + kSlack];
  std::uint64_t kept[2];
  std::uint64_t unused[2];
  char* end =
      CopyWithoutTag(line.data(), line.data() + line.size(), masks.less, between, 'v', kept);
  char* const start = Room(out, used, line.size() + 2 * kSlack);
  end = CopyWithoutTag(between, end, kept, start, 'c', unused);
  return EndTagFreeLine(out, used, start, end);
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

#if defined(__SSE2__)
// Classify with 32-byte compares, for processors that have AVX2.
__attribute__((target("avx2"))) ChunkMasks ClassifyAvx2(const char* at) {
  ChunkMasks masks{};
  for (unsigned part = 0; part < kChunk / 32; ++part) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32 * part));
    const auto mask = [&bytes, part ](char c) __attribute__((target("avx2"))) {
      const int bits = _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c)));
      return std::uint64_t{static_cast<std::uint32_t>(bits)} << (32 * part);
    };
    masks.line_feeds |= mask('\n');
    masks.stops |= mask(kCtrlZ);
    masks.less |= mask('<');
    masks.greater |= mask('>');
    masks.upper_w |= mask('W');
  }
  return masks;
}
bool HasAvx2() { return __builtin_cpu_supports("avx2") != 0; }
#else
ChunkMasks ClassifyAvx2(const char* at) { return Classify(at); }
bool HasAvx2() { return false; }
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

// True when `line` reaches the transcript (before tag removal); `seen` as
// for CaptionFilter::ProcessLine.
bool Keeps(std::string_view line, unsigned seen) {
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

// Where a scan ended: the count of output bytes used and, after a Ctrl-Z,
// the line it is in and the Ctrl-Z itself.
struct ScanEnd {
  std::size_t used;
  const char* line;
  const char* stop;
};

// CaptionFilter::ScanLines with the chunk classifier kClassify, writing to
// `output` as far as the returned `used`; the bytes after that are scratch.
template <ChunkMasks (*kClassify)(const char*)>
[[gnu::always_inline]] inline ScanEnd Scan(const char* begin, const char* end,
                                           std::string& output) {
  // Output is written through `used` into room grown ahead of it rather than
  // appended line by line.
  std::size_t used = output.size();
  const char* line = begin;
  unsigned seen = 0;      // classes of the current line in earlier chunks
  ChunkMasks previous{};  // of the chunk before
  char tail[kChunk];
  for (const char* at = begin; at < end; at += kChunk) {
    const char* chunk = at;
    if (end - at < static_cast<std::ptrdiff_t>(kChunk)) {
      // The last bytes, padded with zeros; the padding lies after the last LF.
      std::memset(tail, 0, sizeof tail);
      std::memcpy(tail, at, static_cast<std::size_t>(end - at));
      chunk = tail;
    }
    const ChunkMasks masks = kClassify(chunk);
    const std::uint64_t special = masks.less | masks.greater | masks.upper_w;
    std::uint64_t line_feeds = masks.line_feeds;
    // A Ctrl-Z ends the input: only the line feeds before it count.
    const std::uint64_t stop_bit = masks.stops & (~masks.stops + 1);
    if (stop_bit != 0) line_feeds &= stop_bit - 1;
    std::uint64_t line_bits = ~std::uint64_t{0};  // bytes of the chunk from `line` on
    while (line_feeds != 0) {
      const std::uint64_t lf_bit = line_feeds & (~line_feeds + 1);
      const char* const lf = at + std::countr_zero(lf_bit);
      const std::uint64_t bits = line_bits & (lf_bit - 1);
      const std::string_view text = WithoutFinalReturn(std::string_view(line, lf - line));
      if (text.empty()) {
        // Dropped.
      } else if (seen == 0 && (special & bits) == 0) {
        // Plain text, kept unless it is a cue number.
        if (Digit(text[0]) == 0 || !IsCueNumber(text)) used = WriteLine(text, end, output, used);
      } else if (line >= at) {
        // The whole line lies in this chunk, so its masks tell where to look.
        const unsigned shift = static_cast<unsigned>(line - at);
        const LineMasks line_masks{{(masks.less & bits) >> shift, 0},
                                   {(masks.greater & bits) >> shift, 0},
                                   (masks.upper_w & bits) != 0};
        used = WriteShortLine(text, end, line_masks, output, used);
      } else if (at - line <= static_cast<std::ptrdiff_t>(kChunk)) {
        // The line starts in the previous chunk, at bit `from` of its masks.
        const unsigned from = static_cast<unsigned>(kChunk - static_cast<std::size_t>(at - line));
        const auto join = [from, bits](std::uint64_t before, std::uint64_t now) {
          now &= bits;
          return from == 0 ? before : (before >> from) | (now << (64 - from));
        };
        const LineMasks line_masks{
            {join(previous.less, masks.less), (masks.less & bits) >> from},
            {join(previous.greater, masks.greater), (masks.greater & bits) >> from},
            ((previous.upper_w >> from) | (masks.upper_w & bits)) != 0};
        used = WriteShortLine(text, end, line_masks, output, used);
      } else {
        const unsigned classes = seen | ClassesIn(masks, bits);
        if (Keeps(text, classes)) {
          used = (classes & kLess) != 0 ? WriteWithoutTags(text, output, used)
                                        : WriteLine(text, end, output, used);
        }
      }
      line = lf + 1;
      seen = 0;
      line_bits = ~(lf_bit | (lf_bit - 1));
      line_feeds &= line_feeds - 1;
    }
    if (stop_bit != 0) return {used, line, at + std::countr_zero(stop_bit)};
    seen |= ClassesIn(masks, line_bits);
    previous = masks;
  }
  return {used, nullptr, nullptr};
}

ScanEnd ScanPortable(const char* begin, const char* end, std::string& output) {
  return Scan<Classify>(begin, end, output);
}

__attribute__((target("avx2"))) ScanEnd ScanAvx2(const char* begin, const char* end,
                                                 std::string& output) {
  return Scan<ClassifyAvx2>(begin, end, output);
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
  static const bool avx2 = HasAvx2();
  const ScanEnd scan = avx2 ? ScanAvx2(begin, end, output_) : ScanPortable(begin, end, output_);
  output_.resize(scan.used);
  if (scan.stop != nullptr) EndAt(scan.line, scan.stop);
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

bool CaptionFilter::KeepsLine(std::string_view line, unsigned seen) { return Keeps(line, seen); }

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
