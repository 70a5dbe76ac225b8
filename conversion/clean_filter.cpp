// The clean filter, in four stages that each hand lines to the next:
//
//   line reader     Feed, ScanLines, Finish: the Ctrl-Z end, the byte order
//                   mark, LF / CR LF / lone CR line ends, lines cut by pieces.
//   block reader    OnLine, StartBlock: the WEBVTT header, blocks between
//                   empty lines, timing lines (ParseTimingLine); only cue
//                   text lines go on.
//   cue text        AddCueTextLine: tags and ruby readings (RemoveTags), voice
//   cleaner         spans, character references (DecodeReferences), runs of
//                   spaces (AppendCollapsed). Collects the cue's plain lines.
//   transcript      EndCue: drops the lines a cue repeats from the end of the
//   writer          cue before (RepeatedLineCount), adds speaker labels, and
//                   writes each line with CR LF.
//
// Another caption format would replace the first two stages and reuse the
// last two.
#include "conversion/clean_filter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane {
namespace {

constexpr char kCtrlZ = '\x1A';
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kSignature = "WEBVTT";
constexpr std::string_view kArrow = "-->";
constexpr std::string_view kLineEnd = "\r\n";
// Cues of up to this many lines are compared with the cue before line by
// line rather than with a search table.
constexpr std::size_t kFewLines = 4;
// Buffers larger than this are released by Reset rather than kept.
constexpr std::size_t kKeptCapacity = 1 << 20;

// ---------------------------------------------------------------------------
// Line reader helpers.

// The first `c` in [at, end), or `end` when there is none.
const char* FindByte(const char* at, const char* end, char c) {
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

// The first CR or LF in [at, end), or `end` when there is none.
const char* FindLineEnd(const char* at, const char* end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  for (; end - at >= 16; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const int mask =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)));
    if (mask != 0) return at + std::countr_zero(static_cast<unsigned>(mask));
  }
#endif
  for (; at < end; ++at) {
    if (*at == '\n' || *at == '\r') return at;
  }
  return end;
}

// ---------------------------------------------------------------------------
// Block reader helpers: cue timings.

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The end of the run of ASCII digits at `at`.
const char* SkipDigits(const char* at, const char* end) {
  while (at < end && IsDigit(*at)) ++at;
  return at;
}

// True when exactly `count` ASCII digits stand at `at`: no digit follows them.
bool DigitsExactly(const char* at, const char* end, std::ptrdiff_t count) {
  if (end - at < count) return false;
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    if (!IsDigit(at[i])) return false;
  }
  return end - at == count || !IsDigit(at[count]);
}

int TwoDigitValue(const char* at) { return (at[0] - '0') * 10 + at[1] - '0'; }

const char* SkipBlanks(const char* at, const char* end) {
  while (at < end && (*at == ' ' || *at == '\t')) ++at;
  return at;
}

// Reads a WebVTT timestamp at `at`, [H...H:]MM:SS.mmm, and returns where it
// ends, or nullptr when there is none. Hours are one or more digits; minutes
// and seconds two digits each, at most 59; the fraction exactly three digits,
// after '.' or (as in SubRip) ','. As in the W3C WebVTT parser, a first field
// that is not two digits up to 59 can only be hours.
const char* ParseTimestamp(const char* at, const char* end) {
  // Nearly every timestamp is HH:MM:SS.mmm: that layout is checked at once.
  if (end - at >= 12 && at[2] == ':' && at[5] == ':' && (at[8] == '.' || at[8] == ',') &&
      IsDigit(at[0]) && IsDigit(at[1]) && IsDigit(at[3]) && IsDigit(at[4]) && IsDigit(at[6]) &&
      IsDigit(at[7]) && DigitsExactly(at + 9, end, 3) && TwoDigitValue(at + 3) <= 59 &&
      TwoDigitValue(at + 6) <= 59) {
    return at + 12;
  }
  const char* digits_end = SkipDigits(at, end);
  if (digits_end == at) return nullptr;
  const bool first_may_be_minutes = digits_end - at == 2 && TwoDigitValue(at) <= 59;
  at = digits_end;
  if (at == end || *at != ':') return nullptr;
  ++at;
  if (!DigitsExactly(at, end, 2)) return nullptr;
  const int second = TwoDigitValue(at);
  at += 2;
  int seconds = second;
  if (!first_may_be_minutes || (at < end && *at == ':')) {
    // Hours, minutes, seconds.
    if (at == end || *at != ':' || second > 59) return nullptr;
    ++at;
    if (!DigitsExactly(at, end, 2)) return nullptr;
    seconds = TwoDigitValue(at);
    at += 2;
  }
  if (seconds > 59) return nullptr;
  if (at == end || (*at != '.' && *at != ',')) return nullptr;
  ++at;
  if (!DigitsExactly(at, end, 3)) return nullptr;
  return at + 3;
}

// True when `line` is a cue timing line: optional spaces or tabs, a
// timestamp, optional spaces or tabs, "-->", optional spaces or tabs, a
// timestamp, and then anything (the cue settings, which are ignored).
bool ParseTimingLine(std::string_view line) {
  const char* const end = line.data() + line.size();
  const char* at = ParseTimestamp(SkipBlanks(line.data(), end), end);
  if (at == nullptr) return false;
  at = SkipBlanks(at, end);
  if (std::string_view(at, static_cast<std::size_t>(end - at)).substr(0, kArrow.size()) != kArrow) {
    return false;
  }
  return ParseTimestamp(SkipBlanks(at + kArrow.size(), end), end) != nullptr;
}

// True when `line` contains "-->". Most lines tested are short cue
// identifiers, for which a call to memchr costs more than the search.
bool HasArrow(std::string_view line) {
  const char* const end = line.data() + line.size();
  for (const char* dash = FindByte(line.data(), end, '-'); end - dash >= 3;
       dash = FindByte(dash + 1, end, '-')) {
    if (dash[1] == '-' && dash[2] == '>') return true;
  }
  return false;
}

// What a cue text line holds, found in one pass so that the cleaner skips
// the steps a line does not need.
constexpr unsigned kHasLess = 1;        // '<': tags to remove
constexpr unsigned kHasAmpersand = 2;   // '&': references to decode
constexpr unsigned kHasDash = 4;        // '-': maybe "-->"
constexpr unsigned kNeedsCollapse = 8;  // tabs, C2, two spaces, spaces at the ends

// The traits of the byte `c`, after a byte that is a space when
// `space_before`.
unsigned ByteTraits(char c, bool space_before) {
  return (c == '<' ? kHasLess : 0) | (c == '&' ? kHasAmpersand : 0) | (c == '-' ? kHasDash : 0) |
         (c == '\t' || c == '\xC2' || (c == ' ' && space_before) ? kNeedsCollapse : 0);
}

#if defined(__SSE2__)
// The bytes of the line that ScanLine has looked at so far, as one vector
// per trait: a byte is all ones where a byte with the trait was seen.
struct SeenBytes {
  __m128i less = _mm_setzero_si128();
  __m128i ampersand = _mm_setzero_si128();
  __m128i dash = _mm_setzero_si128();
  __m128i collapse = _mm_setzero_si128();

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
  }

  unsigned Traits() const {
    const auto any = [](__m128i v) { return _mm_movemask_epi8(v) != 0; };
    return (any(less) ? kHasLess : 0) | (any(ampersand) ? kHasAmpersand : 0) |
           (any(dash) ? kHasDash : 0) | (any(collapse) ? kNeedsCollapse : 0);
  }
};

// Loaded at kLastBytes + n: a mask of the last n of 16 bytes.
constexpr char kLastBytes[32] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
                                 -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
#endif

// What `line` holds. The first byte is looked at on its own, so that every
// later one has a byte before it in the line.
unsigned ScanLine(std::string_view line) {
  if (line.empty()) return 0;
  unsigned traits = ByteTraits(line.front(), false) |
                    (line.front() == ' ' || line.back() == ' ' ? kNeedsCollapse : 0);
  const char* at = line.data() + 1;
  const char* const end = line.data() + line.size();
#if defined(__SSE2__)
  if (end - at >= 16) {
    SeenBytes seen;
    for (; end - at >= 16; at += 16) seen.Add(at, _mm_set1_epi8(-1));
    if (at != end) {
      // The last bytes, as the end of the chunk that ends with the line.
      const __m128i last =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLastBytes + (end - at)));
      seen.Add(end - 16, last);
    }
    return traits | seen.Traits();
  }
#endif
  for (; at < end; ++at) traits |= ByteTraits(*at, at[-1] == ' ');
  return traits;
}

// ---------------------------------------------------------------------------
// Cue text cleaner helpers.

// How many bytes CopyUntil may write past the bytes it copies.
constexpr std::size_t kCopySlack = 16;

// Copies the bytes from `at` up to the first `stop` (or `end`) to `to`, moves
// `to` past them and returns where the copy stopped. May write up to
// kCopySlack bytes after the copied ones. Short runs of text between tags are
// common, so this copies while it searches instead of calling memchr and
// memcpy.
const char* CopyUntil(const char* at, const char* end, char stop, char*& to) {
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(stop);
  for (; end - at >= 16; at += 16, to += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted));
    if (mask != 0) {
      const int found = std::countr_zero(static_cast<unsigned>(mask));
      to += found;
      return at + found;
    }
  }
#endif
  while (at < end && *at != stop) *to++ = *at++;
  return at;
}

// Appends code point `c` (not a surrogate, at most 0x10FFFF) in UTF-8.
void AppendUtf8(char32_t c, std::string& out) {
  const auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (c < 0x80) {
    out += byte(c);
  } else if (c < 0x800) {
    out += byte(0xC0 | (c >> 6));
    out += byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += byte(0xE0 | (c >> 12));
    out += byte(0x80 | ((c >> 6) & 0x3F));
    out += byte(0x80 | (c & 0x3F));
  } else {
    out += byte(0xF0 | (c >> 18));
    out += byte(0x80 | ((c >> 12) & 0x3F));
    out += byte(0x80 | ((c >> 6) & 0x3F));
    out += byte(0x80 | (c & 0x3F));
  }
}

// The value of `c` as a digit of base 10 or 16, or -1.
int DigitValue(char c, bool hex) {
  if (IsDigit(c)) return c - '0';
  if (!hex) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the numeric reference "&#NNN;" or "&#xHHH;" at the start of `s` into
// `out`. Returns its length, or 0 when it is not one that decodes: no digits,
// no ';', or a reference to 0, to a surrogate or past 0x10FFFF.
std::size_t AppendNumericReference(std::string_view s, std::string& out) {
  constexpr char32_t kTooLarge = 0x110000;
  std::size_t at = 2;  // past "&#"
  const bool hex = at < s.size() && (s[at] == 'x' || s[at] == 'X');
  if (hex) ++at;
  const std::size_t digits_start = at;
  char32_t value = 0;
  for (int digit; at < s.size() && (digit = DigitValue(s[at], hex)) >= 0; ++at) {
    value = std::min<char32_t>(value * (hex ? 16 : 10) + static_cast<char32_t>(digit), kTooLarge);
  }
  if (at == digits_start || at >= s.size() || s[at] != ';') return 0;
  if (value == 0 || value >= kTooLarge || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  AppendUtf8(value, out);
  return at + 1;
}

// The named references that decode, with their ';', and what they become.
struct NamedReference {
  std::string_view name;
  std::string_view text;
};
constexpr NamedReference kNamedReferences[] = {
    {"amp;", "&"},
    {"lt;", "<"},
    {"gt;", ">"},
    {"quot;", "\""},
    {"apos;", "'"},
    {"nbsp;", " "},  // a plain space
    {"lrm;", "\xE2\x80\x8E"},
    {"rlm;", "\xE2\x80\x8F"},
};

// Decodes the character reference at the start of `s` (which starts with
// '&') into `out`. Returns its length, or 0 when it stays as written.
std::size_t AppendReference(std::string_view s, std::string& out) {
  if (s.size() > 1 && s[1] == '#') return AppendNumericReference(s, out);
  for (const NamedReference& reference : kNamedReferences) {
    if (s.substr(1, reference.name.size()) == reference.name) {  // names are case-sensitive
      out += reference.text;
      return 1 + reference.name.size();
    }
  }
  return 0;
}

// `text` with its character references decoded, in `scratch` when it holds
// any. Decoded text is not searched again.
std::string_view DecodeReferences(std::string_view text, std::string& scratch) {
  std::size_t amp = text.find('&');
  if (amp == text.npos) return text;
  scratch.clear();
  std::size_t at = 0;
  for (; amp != text.npos; amp = text.find('&', at)) {
    scratch.append(text.substr(at, amp - at));
    const std::size_t used = AppendReference(text.substr(amp), scratch);
    if (used == 0) scratch += '&';
    at = amp + std::max<std::size_t>(used, 1);
  }
  scratch.append(text.substr(at));
  return scratch;
}

// Which bytes count as spaces for AppendCollapsed, besides no-break spaces.
enum class Spaces { kSpacesAndTabs, kAlsoLineBreaks };

// For each byte value: 1 for a space of the kind, 2 for C2 (a no-break space
// when A0 follows), 0 for other bytes.
struct SpaceTable {
  unsigned char kind[256] = {};
  constexpr explicit SpaceTable(Spaces spaces) {
    kind[static_cast<unsigned char>(' ')] = 1;
    kind[static_cast<unsigned char>('\t')] = 1;
    if (spaces == Spaces::kAlsoLineBreaks) {
      kind[static_cast<unsigned char>('\r')] = 1;
      kind[static_cast<unsigned char>('\n')] = 1;
    }
    kind[0xC2] = 2;
  }
};
constexpr SpaceTable kSpacesAndTabs(Spaces::kSpacesAndTabs);
constexpr SpaceTable kAlsoLineBreaks(Spaces::kAlsoLineBreaks);

// Appends `text` to `out` with every run of spaces (as `spaces` says, and
// no-break spaces C2 A0) made one space and none at either end.
void AppendCollapsed(std::string_view text, std::string& out,
                     Spaces spaces = Spaces::kSpacesAndTabs) {
  const unsigned char* const kind =
      (spaces == Spaces::kSpacesAndTabs ? kSpacesAndTabs : kAlsoLineBreaks).kind;
  const std::size_t start = out.size();
  out.resize(start + text.size());  // room for the longest result
  char* const first = out.data() + start;
  char* to = first;
  bool space = false;
  for (const char *from = text.data(), *const end = from + text.size(); from < end;) {
    const unsigned char byte_kind = kind[static_cast<unsigned char>(*from)];
    if (byte_kind == 1 || (byte_kind == 2 && end - from > 1 && from[1] == '\xA0')) {
      space = true;
      from += byte_kind;
      continue;
    }
    if (space && to != first) *to++ = ' ';
    space = false;
    *to++ = *from++;
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
}

bool IsTagBlank(char c) { return c == ' ' || c == '\t'; }

// The tag name of a start tag's contents (between '<' and '>'): up to the
// first '.', space or tab.
std::string_view TagName(std::string_view tag) {
  std::size_t end = 0;
  while (end < tag.size() && tag[end] != '.' && !IsTagBlank(tag[end])) ++end;
  return tag.substr(0, end);
}

// The annotation of a start tag's contents: what follows the first space or
// tab, after the tag name and its classes. Empty when there is none.
std::string_view TagAnnotation(std::string_view tag) {
  std::size_t blank = 0;
  while (blank < tag.size() && !IsTagBlank(tag[blank])) ++blank;
  return blank == tag.size() ? std::string_view() : tag.substr(blank + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Line reader.

bool CleanFilter::Feed(std::string_view bytes) {
  if (ended_ || bytes.empty()) return !ended_;  // an empty view may have no storage
  const char* const begin = bytes.data();
  const char* end = begin + bytes.size();
  if (const void* stop = std::memchr(begin, kCtrlZ, bytes.size())) {
    end = static_cast<const char*>(stop);
    ended_ = true;
  }
  ScanLines(begin, end);
  return !ended_;
}

void CleanFilter::ScanLines(const char* at, const char* end) {
  if (skip_line_feed_ && at < end) {
    if (*at == '\n') ++at;
    skip_line_feed_ = false;
  }
  while (at < end) {
    const char* const line_end = FindLineEnd(at, end);
    if (line_end == end) {
      pending_.append(at, end);
      return;
    }
    if (pending_.empty()) {
      OnLine(std::string_view(at, static_cast<std::size_t>(line_end - at)));
    } else {
      pending_.append(at, line_end);
      OnLine(pending_);
      pending_.clear();
    }
    at = line_end + 1;
    // A CR is a line end of its own unless an LF follows, maybe in the next piece.
    if (*line_end == '\r') {
      if (at == end) {
        skip_line_feed_ = true;
      } else if (*at == '\n') {
        ++at;
      }
    }
  }
}

void CleanFilter::EndPendingLine() {
  if (pending_.empty()) return;
  OnLine(pending_);
  pending_.clear();
}

void CleanFilter::Finish() {
  EndPendingLine();
  if (block_ == Block::kCueText) EndCue();
  block_ = Block::kBetween;
}

void CleanFilter::Reset() {
  for (std::string* buffer : {&pending_, &voice_, &tags_removed_, &decoded_, &cue_.text,
                              &cue_.names, &previous_.text, &previous_.names, &last_name_}) {
    if (buffer->capacity() > kKeptCapacity) std::string().swap(*buffer);
  }
  for (std::vector<CueLine>* lines : {&cue_.lines, &previous_.lines}) {
    if (lines->capacity() > kKeptCapacity / sizeof(CueLine)) std::vector<CueLine>().swap(*lines);
  }
  if (fallback_.capacity() > kKeptCapacity / sizeof(std::size_t)) {
    std::vector<std::size_t>().swap(fallback_);
  }
  if (output_.capacity() > kKeptCapacity) std::string().swap(output_);
  pending_.clear();
  skip_line_feed_ = false;
  ended_ = false;
  block_ = Block::kFirstLine;
  voice_open_ = false;
  voice_.clear();
  cue_.Clear();
  written_ = kUnsettled;
  previous_.Clear();
  last_name_.clear();
  output_.clear();
}

// ---------------------------------------------------------------------------
// Block reader. The header runs from a first line that starts with "WEBVTT"
// up to the first empty line or the first line with "-->". After it, blocks
// are runs of lines between empty lines. A line with "-->" is the timing line
// of its block when it is the block's first line, or its second after a first
// line without "-->"; anywhere else it ends the block and starts the next.

void CleanFilter::OnLine(std::string_view line) {
  switch (block_) {
    case Block::kFirstLine:
      if (line.starts_with(kByteOrderMark)) line.remove_prefix(kByteOrderMark.size());
      if (line.starts_with(kSignature)) {
        block_ = Block::kHeader;
        return;
      }
      // No header: the file is read as blocks from its first line on.
      block_ = Block::kBetween;
      [[fallthrough]];
    case Block::kBetween:
      if (!line.empty()) StartBlock(line);
      return;
    case Block::kHeader:
    case Block::kSkipped:
      if (line.empty()) {
        block_ = Block::kBetween;
      } else if (HasArrow(line)) {
        StartBlock(line);
      }
      return;
    case Block::kSecondLine:
      if (line.empty()) {
        block_ = Block::kBetween;
      } else {
        // A timing line here makes the first line the cue identifier; any
        // other line, with "-->" or not, makes the block no cue.
        block_ = ParseTimingLine(line) ? Block::kCueText : Block::kSkipped;
      }
      return;
    case Block::kCueText:
      if (line.empty()) {
        EndCue();
        block_ = Block::kBetween;
      } else if (const unsigned traits = ScanLine(line);
                 (traits & kHasDash) != 0 && HasArrow(line)) {
        EndCue();
        StartBlock(line);
      } else {
        AddCueTextLine(line, traits);
      }
      return;
  }
}

void CleanFilter::StartBlock(std::string_view line) {
  if (HasArrow(line)) {
    // A block whose timings do not parse is no cue and is dropped whole.
    block_ = ParseTimingLine(line) ? Block::kCueText : Block::kSkipped;
  } else {
    block_ = Block::kSecondLine;
  }
}

// ---------------------------------------------------------------------------
// Cue text cleaner. Each text line is cleaned on its own: tags removed, then
// character references decoded, then runs of spaces collapsed. A voice span
// lasts from <v Name> to </v> or the end of the cue; a line's voice is the one
// open at its start, or else the first that opens on it.

void CleanFilter::AddCueTextLine(std::string_view line, unsigned traits) {
  const std::size_t name_at = cue_.names.size();
  bool has_voice = voice_open_;
  if (has_voice) cue_.names += voice_;
  std::string_view text = line;
  if ((traits & kHasLess) != 0) {
    text = RemoveTags(text, has_voice, traits);
  }
  if ((traits & kHasAmpersand) != 0) {
    text = DecodeReferences(text, decoded_);
    traits = ScanLine(text);
  }
  const std::size_t text_at = cue_.text.size();
  if ((traits & kNeedsCollapse) != 0) {
    AppendCollapsed(text, cue_.text);
  } else {
    cue_.text.append(text);  // already one space between words and none at the ends
  }
  if (cue_.text.size() == text_at) {
    cue_.names.resize(name_at);  // a line left empty is dropped
    return;
  }
  cue_.lines.push_back({text_at, cue_.text.size() - text_at, name_at, cue_.names.size() - name_at});
  // Once the cue has as many lines as the cue before, later lines cannot
  // change which lines repeat it, so they are written as they come.
  if (cue_.lines.size() >= previous_.lines.size()) WriteSettledLines();
}

// Tags run from '<' to the next '>' on the line; a '<' without a '>' after it
// is text. Text inside <rt>...</rt> (ruby readings) goes with them, up to the
// end of the line at most. Opens and closes voice spans; the first voice that
// opens while `has_voice` is false becomes the line's voice.
//
// Updates the line's `traits` for the text left, without scanning it again:
// that text is made of pieces of the line, so it holds no '&', tab or C2 that
// the line did not, and no two spaces in a row, except where a removed tag
// brought two pieces together.
std::string_view CleanFilter::RemoveTags(std::string_view line, bool& has_voice, unsigned& traits) {
  tags_removed_.resize(line.size() + kCopySlack);  // room for the longest result
  char* const first = tags_removed_.data();
  char* to = first;
  bool in_ruby_text = false;
  bool spaces_joined = false;
  const char* at = line.data();
  const char* const end = at + line.size();
  while (at < end) {
    // The text up to the next '<', dropped again inside a ruby reading.
    char* const text_start = to;
    at = CopyUntil(at, end, '<', to);
    const char* const close = FindByte(at, end, '>');
    if (close == end) {
      // No tag: the rest of the line, any '<' in it too, is text.
      std::memcpy(to, at, static_cast<std::size_t>(end - at));
      to += end - at;
      at = end;
    }
    if (in_ruby_text) to = text_start;
    if (to != text_start && text_start != first && text_start[-1] == ' ' && *text_start == ' ') {
      spaces_joined = true;
    }
    if (at == end) break;
    const std::string_view tag(at + 1, static_cast<std::size_t>(close - at - 1));
    at = close + 1;
    // Only </v>, </rt>, </ruby>, <rt> and <v> change anything.
    switch (tag.empty() ? '\0' : tag.front()) {
      case '/':
        if (tag == "/v") {
          voice_open_ = false;
          voice_.clear();
        } else if (tag == "/rt" || tag == "/ruby") {
          in_ruby_text = false;
        }
        break;
      case 'r':
        if (TagName(tag) == "rt") in_ruby_text = true;
        break;
      case 'v':
        if (TagName(tag) == "v") {
          OpenVoice(TagAnnotation(tag));
          if (!has_voice) cue_.names += voice_;
          has_voice = true;
        }
        break;
      default:
        break;
    }
  }
  const std::string_view text(first, static_cast<std::size_t>(to - first));
  traits &= ~kHasLess;
  if (spaces_joined || (!text.empty() && (text.front() == ' ' || text.back() == ' '))) {
    traits |= kNeedsCollapse;
  }
  return text;
}

void CleanFilter::OpenVoice(std::string_view annotation) {
  voice_open_ = true;
  voice_.clear();
  AppendCollapsed(DecodeReferences(annotation, decoded_), voice_);
}

// ---------------------------------------------------------------------------
// Transcript writer.

std::string_view CleanFilter::CueLines::Text(std::size_t i) const {
  return std::string_view(text.data() + lines[i].text_at, lines[i].text_size);
}

std::string_view CleanFilter::CueLines::Name(std::size_t i) const {
  return std::string_view(names.data() + lines[i].name_at, lines[i].name_size);
}

void CleanFilter::CueLines::Swap(CueLines& other) {
  text.swap(other.text);
  names.swap(other.names);
  lines.swap(other.lines);
}

void CleanFilter::CueLines::Clear() {
  text.clear();
  names.clear();
  lines.clear();
}

void CleanFilter::EndCue() {
  voice_open_ = false;
  voice_.clear();
  if (cue_.lines.empty()) return;  // the cue before stays the one to compare with
  WriteSettledLines();
  previous_.Swap(cue_);
  cue_.Clear();
  written_ = kUnsettled;
}

void CleanFilter::WriteSettledLines() {
  if (written_ == kUnsettled) written_ = RepeatedLineCount();
  for (; written_ < cue_.lines.size(); ++written_) {
    WriteLine(cue_.Name(written_), cue_.Text(written_));
  }
}

// The largest k such that the first k lines of the cue equal the last k lines
// of the previous cue: a string search over lines (Knuth-Morris-Pratt), so
// that long cues of alike lines take linear time. Up to kFewLines lines are
// compared directly.
std::size_t CleanFilter::RepeatedLineCount() const {
  const std::size_t count = std::min(cue_.lines.size(), previous_.lines.size());
  if (count <= kFewLines) {
    // Few lines, the usual case: each k is tried, from the largest.
    for (std::size_t k = count; k > 0; --k) {
      const std::size_t p = previous_.lines.size() - k;
      std::size_t i = 0;
      while (i < k && previous_.Text(p + i) == cue_.Text(i)) ++i;
      if (i == k) return k;
    }
    return 0;
  }
  // fallback_[i]: the longest proper prefix of cue lines [0, i] that is also
  // a suffix of them.
  fallback_.assign(count, 0);
  for (std::size_t i = 1, k = 0; i < count; ++i) {
    while (k > 0 && cue_.Text(i) != cue_.Text(k)) k = fallback_[k - 1];
    if (cue_.Text(i) == cue_.Text(k)) ++k;
    fallback_[i] = k;
  }
  // Only the last `count` previous lines can hold a match that reaches the end.
  std::size_t k = 0;
  for (std::size_t p = previous_.lines.size() - count; p < previous_.lines.size(); ++p) {
    while (k > 0 && (k == count || previous_.Text(p) != cue_.Text(k))) k = fallback_[k - 1];
    if (previous_.Text(p) == cue_.Text(k)) ++k;
  }
  return k;
}

// A line is labelled "Name: " when its voice has a name that differs from the
// voice of the line written before it; a line without a named voice resets
// that.
void CleanFilter::WriteLine(std::string_view name, std::string_view text) {
  if (name != last_name_) {
    if (!name.empty()) output_.append(name).append(": ");
    last_name_.assign(name);
  }
  output_.append(text).append(kLineEnd);
}

std::string FilterCleanCaptions(std::string_view captions) {
  CleanFilter filter;
  filter.Feed(captions);
  filter.Finish();
  return std::move(filter.output());
}

std::string MakeCleanTitleLines(std::string_view title) {
  std::string scratch;
  std::string lines;
  AppendCollapsed(DecodeReferences(title, scratch), lines, Spaces::kAlsoLineBreaks);
  if (!lines.empty()) lines.append(".\r\n\r\n");
  return lines;
}

}  // namespace orvane
