// The caption filter of default transcripts.
//
// How caption bytes become transcript bytes:
//  1. LineReader hands the complete lines of a piece (up to its last LF) to
//     the scan; a line cut by a piece boundary is filtered on its own when
//     its LF arrives (OnLine). A line that outgrows the line limit is not
//     held: LongLineCheck decides it as its bytes pass, and a kept one is left
//     for the caller to read again.
//  2. The scan classifies 64-byte chunks into bit masks (LF, Ctrl-Z, '<', '>',
//     'W'), one bit per byte, with a chunk kernel: portable C++, SSE2 or AVX2.
//  3. Each line is routed by what its masks hold (LineHints): a line with
//     none of '<', '>' and 'W' can only be a cue number; a line that spans at
//     most two chunks carries the places of its '<' and '>' bytes; a longer
//     line carries only which of them it holds.
//  4. KeepsLine alone decides whether a line reaches the transcript: it is
//     not empty, holds no "WEBVTT", no cue timing, and is not a cue number.
//     The hints only tell it which checks can succeed and where to look.
//  5. A kept line is written with its "<v>"/"</v>" and then its "<c>"/"</c>"
//     tags removed, followed by CR LF, unless nothing is left of it.
//
// Slack: the fast paths copy in fixed-size moves that run up to kSlack bytes
// past the bytes they copy. They read past a line only when `readable`, the
// end of the piece being scanned, lies at least kSlack bytes after it, and
// they write into room grown kSlack bytes beyond what the output uses; the
// output is trimmed to its used bytes when the scan ends.
#include "conversion/caption_filter.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "conversion/timing_shape.h"

namespace orvane {
namespace {

constexpr std::string_view kHeaderMarker = "WEBVTT";
// 1 when `c` is an ASCII digit, else 0.
unsigned Digit(char c) { return static_cast<unsigned char>(c - '0') < 10 ? 1 : 0; }

// ---------------------------------------------------------------------------
// What the scan learnt about a line.

// Lines shorter than this, classified whole, carry the places of their '<'
// and '>' bytes: bit i of word i / 64 stands for byte i of the line.
constexpr std::size_t kShortLine = 128;

// Which of the bytes that the checks look for a line holds. A check whose
// byte is absent cannot succeed and is skipped.
struct LineHints {
  // When `positioned`, a bit for each '<' and '>' of the line; otherwise all
  // bits set when the line may hold such a byte, none when it holds none.
  std::uint64_t less[2] = {0, 0};
  std::uint64_t greater[2] = {0, 0};
  bool upper_w = false;  // 'W': "WEBVTT" may start here
  bool positioned = false;

  bool has_less() const { return (less[0] | less[1]) != 0; }
  bool has_greater() const { return (greater[0] | greater[1]) != 0; }
};

constexpr std::uint64_t kAll = ~std::uint64_t{0};
// Hints for a line that may hold '<', '>' and 'W' as told, places unknown.
constexpr LineHints Unpositioned(bool less, bool greater, bool upper_w) {
  return {
      {less ? kAll : 0, less ? kAll : 0}, {greater ? kAll : 0, greater ? kAll : 0}, upper_w, false};
}
// Hints for a line nothing is known of: every check runs.
constexpr LineHints kUnscanned = Unpositioned(true, true, true);

// True when `line` holds a timing match; when the hints are positioned, only
// at their '>' bytes.
[[gnu::always_inline]] inline bool HoldsTiming(std::string_view line, const LineHints& hints) {
  if (!hints.positioned) {
    // Cue timings start their line, so that place is tried before the search.
    return (line.size() >= kTimingShape.size() && MatchesTimingShape(line.data())) ||
           IsTimingLine(line);
  }
  for (unsigned word = 0; word < 2; ++word) {
    for (std::uint64_t bits = hints.greater[word]; bits != 0; bits &= bits - 1) {
      const std::size_t arrow = 64 * word + static_cast<std::size_t>(std::countr_zero(bits));
      if (arrow >= kTimingArrow && arrow - kTimingArrow + kTimingShape.size() <= line.size() &&
          MatchesTimingShape(line.data() + arrow - kTimingArrow)) {
        return true;
      }
    }
  }
  return false;
}

// The rule of the default transcript: true when `line` (before tag removal)
// reaches it.
[[gnu::always_inline]] inline bool KeepsLine(std::string_view line, const LineHints& hints) {
  if (line.empty()) return false;
  if (hints.upper_w && IsHeaderLine(line)) return false;
  if (hints.has_greater() && HoldsTiming(line, hints)) return false;
  return Digit(line[0]) == 0 || !IsCueNumber(line);
}

// ---------------------------------------------------------------------------
// Tag removal and writing.

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

// Removes the tags of [start, end) in place, both passes. Returns the new end.
char* RemoveTagsInPlace(char* start, char* end) {
  end = CopyWithoutTag(start, end, start, 'v');
  return CopyWithoutTag(start, end, start, 'c');
}

// CopyRounded copies in fixed-size moves, which need no call and, for up to
// kSlack bytes, no loop. It reads and writes up to kSlack bytes past them.
constexpr std::size_t kSlack = 64;
void CopyRounded(char* to, const char* from, std::size_t size) {
  constexpr std::size_t kMove = 16;
  std::memcpy(to, from, kSlack);
  for (std::size_t i = kSlack; i < size; i += kMove) std::memcpy(to + i, from + i, kMove);
}

// True when the bytes from `line` on may be read kSlack bytes past its end.
bool SlackReadable(std::string_view line, const char* readable) {
  return static_cast<std::size_t>(readable - line.data()) >= line.size() + kSlack;
}

// Makes room in `out` for `size` bytes after its first `used` bytes and
// returns where they go. Bytes past `used` are scratch until trimmed.
[[gnu::always_inline]] inline char* Room(std::string& out, std::size_t used, std::size_t size) {
  // Grown a page at a time, so that little is zero-filled ahead of use.
  constexpr std::size_t kGrowth = 4096;
  if (out.size() - used < size) out.resize(used + std::max(size, kGrowth));
  return out.data() + used;
}

// Ends the line of output written from `start` to `end` with CR LF, unless it
// is empty. Returns the new count of used bytes.
std::size_t EndLine(const std::string& out, std::size_t used, char* start, char* end) {
  if (end == start) return used;
  end[0] = '\r';
  end[1] = '\n';
  return static_cast<std::size_t>(end + 2 - out.data());
}

// Writes `line` unchanged.
std::size_t WriteLine(std::string_view line, const char* readable, std::string& out,
                      std::size_t used) {
  char* const to = Room(out, used, line.size() + kSlack);
  if (SlackReadable(line, readable)) {
    CopyRounded(to, line.data(), line.size());
  } else {
    std::memcpy(to, line.data(), line.size());
  }
  return EndLine(out, used, to, to + line.size());
}

// Writes `line` without its tags, searching for them.
std::size_t WriteSearchingTags(std::string_view line, std::string& out, std::size_t used) {
  char* const start = Room(out, used, line.size() + 2);
  char* end = CopyWithoutTag(line.data(), line.data() + line.size(), start, 'v');
  end = CopyWithoutTag(start, end, start, 'c');
  return EndLine(out, used, start, end);
}

// One tag pass (see CopyWithoutTag) over fewer than kShortLine bytes whose
// '<' bytes are the set bits of `less`, to a place that does not overlap
// them. Reads and writes up to kSlack bytes past both. Sets `kept` to the bits
// of the '<' bytes written, for the next pass.
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

// Writes a short line without its tags, jumping from '<' to '<' by the hints.
[[gnu::always_inline]] inline std::size_t WritePositionedTags(std::string_view line,
                                                              const LineHints& hints,
                                                              std::string& out, std::size_t used) {
  // The "<v>" pass writes to `between`, the "<c>" pass from there to `out`.
  char between[kShortLine + kSlack];
  std::uint64_t kept[2];
  std::uint64_t unused[2];
  char* end =
      CopyWithoutTag(line.data(), line.data() + line.size(), hints.less, between, 'v', kept);
  char* const start = Room(out, used, line.size() + 2 * kSlack);
  end = CopyWithoutTag(between, end, kept, start, 'c', unused);
  return EndLine(out, used, start, end);
}

// Writes a kept line into `out` after its first `used` bytes, without its
// tags and with a CR LF; the bytes from `line` up to `readable` may be read.
// Returns the new count of used bytes.
[[gnu::always_inline]] inline std::size_t WriteKeptLine(std::string_view line,
                                                        const LineHints& hints,
                                                        const char* readable, std::string& out,
                                                        std::size_t used) {
  if (!hints.has_less()) return WriteLine(line, readable, out, used);
  if (hints.positioned && SlackReadable(line, readable)) {
    return WritePositionedTags(line, hints, out, used);
  }
  return WriteSearchingTags(line, out, used);
}

// Filters one line: writes it, as the hints allow, when KeepsLine keeps it.
// Returns the new count of used bytes.
[[gnu::always_inline]] inline std::size_t FilterLine(std::string_view line, const LineHints& hints,
                                                     const char* readable, std::string& out,
                                                     std::size_t used) {
  return KeepsLine(line, hints) ? WriteKeptLine(line, hints, readable, out, used) : used;
}

// FilterLine for a line that holds a '<', '>' or 'W': kept out of the scan's
// loop, which plain lines of text run through.
[[gnu::noinline]] std::size_t FilterMarkedLine(std::string_view line, const LineHints& hints,
                                               const char* readable, std::string& out,
                                               std::size_t used) {
  return FilterLine(line, hints, readable, out, used);
}

// ---------------------------------------------------------------------------
// Chunk kernels.

// The scan looks at kChunk bytes at a time. Bit i of a mask stands for byte i.
constexpr std::size_t kChunk = 64;
struct ChunkMasks {
  std::uint64_t line_feeds;
  std::uint64_t stops;  // Ctrl-Z bytes
  std::uint64_t less;
  std::uint64_t greater;
  std::uint64_t upper_w;

  // Adds the masks of part of a chunk, each already shifted to its place.
  void Add(std::uint64_t lf, std::uint64_t stop, std::uint64_t lt, std::uint64_t gt,
           std::uint64_t w) {
    line_feeds |= lf;
    stops |= stop;
    less |= lt;
    greater |= gt;
    upper_w |= w;
  }
};

ChunkMasks ClassifyPortable(const char* at) {
  ChunkMasks masks{};
  for (unsigned i = 0; i < kChunk; ++i) {
    const auto mask = [at, i](char c) { return std::uint64_t{at[i] == c} << i; };
    masks.Add(mask('\n'), mask(kCtrlZ), mask('<'), mask('>'), mask('W'));
  }
  return masks;
}

#if defined(__x86_64__)
__attribute__((target("sse2"))) ChunkMasks ClassifySse2(const char* at) {
  ChunkMasks masks{};
  for (unsigned part = 0; part < kChunk / 16; ++part) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * part));
    const auto mask = [&bytes, part](char c) {
      const int bits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
      return std::uint64_t{static_cast<std::uint16_t>(bits)} << (16 * part);
    };
    masks.Add(mask('\n'), mask(kCtrlZ), mask('<'), mask('>'), mask('W'));
  }
  return masks;
}

__attribute__((target("avx2"))) ChunkMasks ClassifyAvx2(const char* at) {
  ChunkMasks masks{};
  for (unsigned part = 0; part < kChunk / 32; ++part) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32 * part));
    const auto mask = [&bytes, part ](char c) __attribute__((target("avx2"))) {
      const int bits = _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(c)));
      return std::uint64_t{static_cast<std::uint32_t>(bits)} << (32 * part);
    };
    masks.Add(mask('\n'), mask(kCtrlZ), mask('<'), mask('>'), mask('W'));
  }
  return masks;
}
#endif

// ---------------------------------------------------------------------------
// The scan: one body, compiled once per kernel.

// Hints for a line whose bytes `bits` all lie in the chunk of `masks`,
// starting at bit `shift`.
[[gnu::always_inline]] inline LineHints HintsWithinChunk(const ChunkMasks& masks,
                                                         std::uint64_t bits, unsigned shift) {
  return {{(masks.less & bits) >> shift, 0},
          {(masks.greater & bits) >> shift, 0},
          (masks.upper_w & bits) != 0,
          true};
}

// Hints for a line that starts at bit `from` of the chunk of `previous` and
// ends in the chunk of `masks`, whose bytes of it are `bits`.
[[gnu::always_inline]] inline LineHints HintsAcrossChunks(const ChunkMasks& previous,
                                                          const ChunkMasks& masks,
                                                          std::uint64_t bits, unsigned from) {
  const auto join = [from, bits](std::uint64_t before, std::uint64_t now) {
    now &= bits;
    return from == 0 ? before : (before >> from) | (now << (64 - from));
  };
  return {{join(previous.less, masks.less), (masks.less & bits) >> from},
          {join(previous.greater, masks.greater), (masks.greater & bits) >> from},
          ((previous.upper_w >> from) | (masks.upper_w & bits)) != 0,
          true};
}

// Which classes of bytes a longer line holds, gathered chunk by chunk.
constexpr unsigned kLess = 1;
constexpr unsigned kGreater = 2;
constexpr unsigned kUpperW = 4;

// The classes that the bytes `bits` of `masks` hold.
unsigned ClassesIn(const ChunkMasks& masks, std::uint64_t bits) {
  return ((masks.less & bits) != 0 ? kLess : 0) | ((masks.greater & bits) != 0 ? kGreater : 0) |
         ((masks.upper_w & bits) != 0 ? kUpperW : 0);
}

LineHints HintsFromClasses(unsigned classes) {
  return Unpositioned((classes & kLess) != 0, (classes & kGreater) != 0, (classes & kUpperW) != 0);
}

// Hints for the line that starts at `line` and ends in the chunk at `at`,
// whose masks are `masks` (its bytes there are `bits`) and those of the chunk
// before `previous`. `seen` holds the classes of the line in chunks before
// that one.
[[gnu::always_inline]] inline LineHints HintsFor(const char* line, const char* at,
                                                 const ChunkMasks& previous,
                                                 const ChunkMasks& masks, std::uint64_t bits,
                                                 unsigned seen) {
  if (line >= at) return HintsWithinChunk(masks, bits, static_cast<unsigned>(line - at));
  if (at - line <= static_cast<std::ptrdiff_t>(kChunk)) {
    return HintsAcrossChunks(previous, masks, bits, static_cast<unsigned>(kChunk - (at - line)));
  }
  return HintsFromClasses(seen | ClassesIn(masks, bits));
}

// A CR right before the LF that ended a line belongs to the CR LF line end.
std::string_view WithoutFinalReturn(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The last `size` bytes of the input, padded with zeros to a whole chunk.
const char* PaddedChunk(const char* at, std::size_t size, char (&tail)[kChunk]) {
  std::memset(tail, 0, sizeof tail);
  std::memcpy(tail, at, size);
  return tail;
}

struct ScanEnd {
  std::size_t used;  // bytes of the output written
  const char* line;  // after a Ctrl-Z: the start of the line it ends
  const char* stop;  // the Ctrl-Z, or null when none was met
};

// Filters the lines of [begin, end), which ends in an LF, up to the first
// Ctrl-Z, classifying chunks with kClassify. Writes to `output` as far as the
// returned `used`; the bytes after that are scratch.
template <ChunkMasks (*kClassify)(const char*)>
[[gnu::always_inline]] inline ScanEnd Scan(const char* begin, const char* end,
                                           std::string& output) {
  std::size_t used = output.size();
  const char* line = begin;
  unsigned seen = 0;      // classes of the current line in earlier chunks
  ChunkMasks previous{};  // of the chunk before
  char tail[kChunk];
  for (const char* at = begin; at < end; at += kChunk) {
    const auto left = static_cast<std::size_t>(end - at);
    // Padding lies after the last LF, so it never joins a line.
    const ChunkMasks masks = kClassify(left < kChunk ? PaddedChunk(at, left, tail) : at);
    const std::uint64_t special = masks.less | masks.greater | masks.upper_w;
    // A Ctrl-Z ends the input: only the line feeds before it count.
    const std::uint64_t stop_bit = masks.stops & (~masks.stops + 1);
    std::uint64_t line_feeds = stop_bit == 0 ? masks.line_feeds : masks.line_feeds & (stop_bit - 1);
    std::uint64_t line_bits = ~std::uint64_t{0};  // bytes of the chunk from `line` on
    for (; line_feeds != 0; line_feeds &= line_feeds - 1) {
      const std::uint64_t lf_bit = line_feeds & (~line_feeds + 1);
      const char* const lf = at + std::countr_zero(lf_bit);
      const std::uint64_t bits = line_bits & (lf_bit - 1);
      const std::string_view text = WithoutFinalReturn(std::string_view(line, lf - line));
      if (seen == 0 && (special & bits) == 0) {
        used = FilterLine(text, LineHints{}, end, output, used);  // most lines of text
      } else {
        const LineHints hints = HintsFor(line, at, previous, masks, bits, seen);
        used = FilterMarkedLine(text, hints, end, output, used);
      }
      line = lf + 1;
      seen = 0;
      line_bits = ~(lf_bit | (lf_bit - 1));
    }
    if (stop_bit != 0) return {used, line, at + std::countr_zero(stop_bit)};
    seen |= ClassesIn(masks, line_bits);
    previous = masks;
  }
  return {used, nullptr, nullptr};
}

ScanEnd ScanPortable(const char* begin, const char* end, std::string& output) {
  return Scan<ClassifyPortable>(begin, end, output);
}

#if defined(__x86_64__)
__attribute__((target("sse2"))) ScanEnd ScanSse2(const char* begin, const char* end,
                                                 std::string& output) {
  return Scan<ClassifySse2>(begin, end, output);
}

__attribute__((target("avx2"))) ScanEnd ScanAvx2(const char* begin, const char* end,
                                                 std::string& output) {
  return Scan<ClassifyAvx2>(begin, end, output);
}
#endif

// The kernels this build holds, with how to tell whether the processor runs
// them; the fastest last.
struct KernelEntry {
  ChunkKernel kernel;
  std::string_view name;
  ScanEnd (*scan)(const char*, const char*, std::string&);
  bool (*runs_here)();
};
constexpr KernelEntry kKernels[] = {
    {ChunkKernel::kPortable, "portable", ScanPortable, [] { return true; }},
#if defined(__x86_64__)
    {ChunkKernel::kSse2, "sse2", ScanSse2, [] { return true; }},
    {ChunkKernel::kAvx2, "avx2", ScanAvx2, [] { return __builtin_cpu_supports("avx2") != 0; }},
#endif
};

const KernelEntry& EntryOf(ChunkKernel kernel) {
  for (const KernelEntry& entry : kKernels) {
    if (entry.kernel == kernel) return entry;
  }
  return kKernels[0];
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
  out.append(line);
  char* const start = out.data() + base;
  out.resize(static_cast<std::size_t>(RemoveTagsInPlace(start, start + line.size()) - out.data()));
}

std::string_view KernelName(ChunkKernel kernel) { return EntryOf(kernel).name; }

std::vector<ChunkKernel> SupportedKernels() {
  std::vector<ChunkKernel> kernels;
  for (const KernelEntry& entry : kKernels) {
    if (entry.runs_here()) kernels.push_back(entry.kernel);
  }
  return kernels;
}

ChunkKernel FastestKernel() {
  static const ChunkKernel fastest = SupportedKernels().back();
  return fastest;
}

namespace {

// One tag pass over a line fed in pieces: appends to `out` the bytes of
// `held` + `bytes` with every "<x>" and "</x>" removed, except those from a
// '<' among the last three bytes, whose tag may end in the next piece: they
// stay in `held`. A '<' further back decides at once: the bytes of a tag
// after its '<' are never a '<', so no tag crosses the cut.
void TagPass(std::string& held, std::string_view bytes, char x, bool last, std::string& out) {
  held.append(bytes);
  std::size_t cut = held.size();
  if (!last) {
    const auto open = held.find('<', held.size() < 3 ? 0 : held.size() - 3);
    if (open != std::string::npos) cut = open;
  }
  const std::size_t base = out.size();
  out.resize(base + cut);
  char* const to = out.data() + base;
  out.resize(
      static_cast<std::size_t>(CopyWithoutTag(held.data(), held.data() + cut, to, x) - out.data()));
  held.erase(0, cut);
}

// The last bytes of a long line kept to find matches that cross pieces: one
// byte less than a timing match, which is longer than "WEBVTT".
constexpr std::size_t kCarry = kTimingShape.size() - 1;

}  // namespace

void TagRemover::Feed(std::string_view bytes, std::string& out) {
  between_.clear();
  TagPass(voice_held_, bytes, 'v', false, between_);
  TagPass(class_held_, between_, 'c', false, out);
}

void TagRemover::Finish(std::string& out) {
  between_.clear();
  TagPass(voice_held_, {}, 'v', true, between_);
  TagPass(class_held_, between_, 'c', true, out);
}

void CaptionFilter::LongLineCheck::Start(std::uint64_t begin) {
  *this = LongLineCheck();
  begin_ = begin;
}

void CaptionFilter::LongLineCheck::Add(std::string_view bytes) {
  if (dropped_) return;
  digits_ = digits_ && (bytes.empty() || IsCueNumber(bytes));
  // A match lies within the new bytes, or begins in the carry and ends among
  // the first of them.
  const std::string joint = carry_ + std::string(bytes.substr(0, kCarry));
  dropped_ =
      IsHeaderLine(joint) || IsTimingLine(joint) || IsHeaderLine(bytes) || IsTimingLine(bytes);
  carry_ = bytes.size() >= kCarry ? std::string(bytes.substr(bytes.size() - kCarry))
                                  : joint.substr(joint.size() - std::min(joint.size(), kCarry));
}

CaptionFilter::CaptionFilter(ChunkKernel kernel, std::size_t line_limit)
    : kernel_(kernel), reader_(*this, line_limit) {}

const char* CaptionFilter::ScanLines(const char* begin, const char* end, const char** line) {
  std::string& output = output_.bytes;
  const ScanEnd scan = EntryOf(kernel_).scan(begin, end, output);
  output.resize(scan.used);
  *line = scan.line;
  return scan.stop;
}

void CaptionFilter::OnLine(std::string_view line, std::uint64_t /*begin*/) {
  if (KeepsLine(line, kUnscanned)) {
    std::string& output = output_.bytes;
    const std::size_t base = output.size();
    AppendWithoutTags(line, output);
    if (output.size() != base) output.append("\r\n", 2);
  }
}

void CaptionFilter::OnLongLineEnd(std::uint64_t end) {
  if (long_line_.Kept()) {
    LongLine& line = output_.long_lines.emplace_back();
    line.at = output_.bytes.size();
    line.range = {long_line_.begin(), end};
  }
}

void CaptionFilter::Reset() {
  reader_.Reset();
  output_.Reset();
  long_line_ = LongLineCheck();
}

std::string FilterCaptions(std::string_view captions) {
  CaptionFilter filter;
  filter.output().reserve(captions.size());
  filter.Feed(captions);
  filter.Finish();
  return std::move(filter.output());
}

}  // namespace orvane
