#include "conversion/cue_text.h"

#include "conversion/text_scan.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The most digits of hours a timestamp has.
constexpr std::size_t kMaxHours = 9;

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

// CopyUntil with two stops.
const char* CopyUntilEither(const char* at, const char* end, char stop, char other, char*& to) {
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(stop);
  const __m128i wanted_other = _mm_set1_epi8(other);
  for (; end - at >= 16; at += 16, to += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
    const int mask = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, wanted), _mm_cmpeq_epi8(bytes, wanted_other)));
    if (mask != 0) {
      const int found = std::countr_zero(static_cast<unsigned>(mask));
      to += found;
      return at + found;
    }
  }
#endif
  while (at < end && *at != stop && *at != other) *to++ = *at++;
  return at;
}

// The value of `c` as a digit of base 10 or 16, or -1.
int DigitValue(char c, bool hex) {
  if (IsDigit(c)) return c - '0';
  if (!hex) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A numeric reference with more digits than this stays as written, so that
// an unfinished one is held in a few bytes.
constexpr std::size_t kMaxReferenceDigits = 32;

// Decodes the numeric reference "&#NNN;" or "&#xHHH;" at the start of `s` into
// `out`. Returns its length, or 0 when it is not one that decodes: no digits,
// too many, no ';', or a reference to 0, to a surrogate or past 0x10FFFF.
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
  if (at == digits_start || at - digits_start > kMaxReferenceDigits) return 0;
  if (at >= s.size() || s[at] != ';') return 0;
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

// True while `held`, from a '&' up to a byte that is not ';', may still grow
// into a reference that AppendReference decodes.
bool MayBecomeReference(std::string_view held) {
  const std::string_view rest = held.substr(1);
  if (rest.starts_with('#')) {
    const bool hex = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
    const std::string_view digits = rest.substr(hex ? 2 : 1);
    return digits.size() <= kMaxReferenceDigits &&
           std::all_of(digits.begin(), digits.end(),
                       [hex](char c) { return DigitValue(c, hex) >= 0; });
  }
  return std::any_of(std::begin(kNamedReferences), std::end(kNamedReferences),
                     [rest](const NamedReference& reference) {
                       return reference.name.size() > rest.size() &&
                              reference.name.starts_with(rest);
                     });
}

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

namespace {

// Windows-1252's characters for the bytes 80 to 9F; the five it leaves
// unassigned (81, 8D, 8F, 90, 9D) stand for the code points of their value.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The length of the well-formed UTF-8 sequence (RFC 3629: shortest form, no
// surrogates, at most U+10FFFF) that starts `text` with a byte of 80 or more:
// 0 when none does, -1 when `text` ends before it tells.
int SequenceLength(std::string_view text) {
  const auto byte = [text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  unsigned low = 0x80;
  unsigned high = 0xBF;
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= text.size()) return -1;
    if (byte(i) < (i == 1 ? low : 0x80u) || byte(i) > (i == 1 ? high : 0xBFu)) return 0;
  }
  return static_cast<int>(length);
}

}  // namespace

bool IsUtf8(std::string_view text) {
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
#if defined(__SSE2__)
    // Past the plain ASCII 16 bytes at a time, to the next byte of 80 or more.
    for (; end - at >= 16; at += 16) {
      const auto mask = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at))));
      if (mask != 0) {
        at += std::countr_zero(mask);
        break;
      }
    }
#endif
    if (at == end) break;
    if (static_cast<unsigned char>(*at) < 0x80) {
      ++at;
      continue;
    }
    const int length = SequenceLength(std::string_view(at, static_cast<std::size_t>(end - at)));
    if (length <= 0) return false;
    at += length;
  }
  return true;
}

void CueTextCleaner::Encode(std::string_view text, EncodingStage& stage, bool more,
                            std::string& out) {
  if (!stage.held.empty()) {
    stage.joined.assign(stage.held).append(text);
    stage.held.clear();
    text = stage.joined;
  }
  std::size_t run = 0;  // the start of the bytes kept as they are
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      ++at;
      continue;
    }
    const int length = SequenceLength(text.substr(at));
    if (length > 0) {
      at += static_cast<std::size_t>(length);
      continue;
    }
    out.append(text.substr(run, at - run));
    if (length < 0 && more) {
      stage.held.assign(text.substr(at));
      return;
    }
    AppendUtf8(c < 0xA0 ? kWindows1252[c - 0x80] : c, out);
    run = ++at;
  }
  out.append(text.substr(run));
}

void AppendAsUtf8(std::string_view text, std::string& out) {
  CueTextCleaner::EncodingStage stage;
  CueTextCleaner::Encode(text, stage, false, out);
}

void AppendDecodedCollapsed(std::string_view text, Spaces spaces, std::string& out) {
  std::string decoded;
  CueTextCleaner::AppendDecodedCollapsed(text, spaces, decoded, out);
}

void CueTextCleaner::AppendDecodedCollapsed(std::string_view text, Spaces spaces,
                                            std::string& decoded, std::string& out) {
  ReferenceStage references;
  decoded.clear();
  CueTextCleaner::DecodeReferences(text, references, decoded);
  CueTextCleaner::FinishReferences(references, decoded);
  CueTextCleaner::SpaceStage collapse;
  CueTextCleaner::Collapse(decoded, spaces, collapse, out);
  CueTextCleaner::FinishCollapse(collapse, out);
}

// Read from the end: three digits of fraction, seconds, minutes, and what is
// left, hours. Every tag of machine captions is tested, so it is kept short.
bool IsTimestamp(std::string_view text) {
  constexpr std::size_t kShortest = 9;                         // MM:SS.mmm
  constexpr std::size_t kLongest = kShortest + 1 + kMaxHours;  // with nine digits of hours
  const std::size_t n = text.size();
  if (n < kShortest || n > kLongest) return false;
  const char* const at = text.data() + n - kShortest;
  const auto digit_to_5 = [](char c) { return c >= '0' && c <= '5'; };
  if (!digit_to_5(at[0]) || !IsDigit(at[1]) || at[2] != ':' || !digit_to_5(at[3]) ||
      !IsDigit(at[4]) || (at[5] != '.' && at[5] != ',') || !IsDigit(at[6]) || !IsDigit(at[7]) ||
      !IsDigit(at[8])) {
    return false;
  }
  if (n == kShortest) return true;
  const std::string_view hours = text.substr(0, n - kShortest - 1);
  return text[hours.size()] == ':' && !hours.empty() &&
         std::all_of(hours.begin(), hours.end(), IsDigit);
}

namespace {

bool IsLabelLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || static_cast<unsigned char>(c) >= 0x80;
}

bool IsLabelByte(char c) {
  return IsLabelLetter(c) || IsDigit(c) || c == '\'' || c == '-' || c == '.' || c == '_';
}

}  // namespace

std::size_t TextLabelSize(std::string_view text) {
  // Most lines have no ':' where a label could end.
  const std::size_t reach = std::min(text.size(), kMaxTextLabel + 1);
  if (std::memchr(text.data(), ':', reach) == nullptr) return 0;
  std::size_t at = 0;
  for (int word = 0; word < 4; ++word) {
    if (at >= text.size()) return 0;
    const char first = text[at];
    if (!(IsLabelLetter(first) || (word > 0 && IsDigit(first)))) return 0;
    while (at < text.size() && IsLabelByte(text[at])) ++at;
    if (at > kMaxTextLabel) return 0;
    if (at < text.size() && text[at] == ':') {
      // ':', then one space (runs of spaces are one space by now), then more.
      return text.size() > at + 2 && text[at + 1] == ' ' ? at : 0;
    }
    if (at >= text.size() || text[at] != ' ') return 0;
    ++at;
  }
  return 0;
}

bool EndsSentence(std::string_view text) {
  // In UTF-8: " ' ” ’ ) ] », then . ! ? … 。 ！ ？.
  static constexpr std::string_view kClosers[] = {"\"", "'", "\xE2\x80\x9D", "\xE2\x80\x99",
                                                  ")",  "]", "\xC2\xBB"};
  static constexpr std::string_view kEnders[] = {
      ".", "!", "?", "\xE2\x80\xA6", "\xE3\x80\x82", "\xEF\xBC\x81", "\xEF\xBC\x9F"};
  for (const std::string_view closer : kClosers) {
    if (text.ends_with(closer)) {
      text.remove_suffix(closer.size());
      break;
    }
  }
  return std::any_of(std::begin(kEnders), std::end(kEnders),
                     [text](std::string_view ender) { return text.ends_with(ender); });
}

void DecodedCollapsed::Add(std::string_view piece, std::string& out) {
  encoded_.clear();
  CueTextCleaner::Encode(piece, encoding_, true, encoded_);
  decoded_.clear();
  CueTextCleaner::DecodeReferences(encoded_, references_, decoded_);
  CueTextCleaner::Collapse(decoded_, spaces_, collapse_, out);
}

void DecodedCollapsed::Finish(std::string& out) {
  encoded_.clear();
  CueTextCleaner::Encode({}, encoding_, false, encoded_);
  decoded_.clear();
  CueTextCleaner::DecodeReferences(encoded_, references_, decoded_);
  CueTextCleaner::FinishReferences(references_, decoded_);
  CueTextCleaner::Collapse(decoded_, spaces_, collapse_, out);
  CueTextCleaner::FinishCollapse(collapse_, out);
}

// ---------------------------------------------------------------------------
// Lines: each text line is cleaned on its own, tags removed, then character
// references decoded, then runs of spaces collapsed. A voice span lasts from
// <v Name> to </v> or the end of the cue; a line's voice is the one open at
// its start, or else the first that opens on it.

void CueTextCleaner::BeginLine() {
  line_voice_state_ = voice_.open ? LineVoice::kCurrent : LineVoice::kNone;
  tags_.in_tag = tags_.in_brace = tags_.brace_held = tags_.in_ruby_text = false;
  tags_.offset = tags_.last_close = tags_.last_brace = 0;
  references_.held.clear();  // a finished line leaves none
  spaces_ = SpaceStage();
}

CueTextCleaner::CleanedLine CueTextCleaner::CleanMarkedLine(std::string_view line, unsigned traits,
                                                            std::string& out) {
  // Each stage starts afresh only where the line needs it.
  line_voice_state_ = voice_.open ? LineVoice::kCurrent : LineVoice::kNone;
  std::string_view text = line;
  if ((traits & kHasHigh) != 0) {
    // Bytes that are no UTF-8 become characters first; the other steps read
    // the line as it then is.
    encoded_.clear();
    Encode(line, encoding_, false, encoded_);
    text = encoded_;
    traits = ScanLine(text);
    if (subrip_) traits |= BraceTraits(text);
  }
  traits &= ~kHasHigh;
  if ((traits & kHasLess) != 0) {
    tags_.in_tag = tags_.in_brace = tags_.brace_held = tags_.in_ruby_text = false;
    tags_.offset = tags_.last_close = tags_.last_brace = 0;
    // The text left is made of pieces of the line: it holds no '&', tab or
    // C2 that the line did not, and no two spaces in a row but where a
    // removed tag brought two pieces together.
    const auto [without_tags, joined] =
        subrip_ ? RemoveSubRipTags(text, without_tags_) : RemoveTags(text, without_tags_);
    text = without_tags;
    traits &= ~kHasLess;
    if (joined || (!text.empty() && (text.front() == ' ' || text.back() == ' '))) {
      traits |= kNeedsCollapse;
    }
  }
  if ((traits & kHasAmpersand) != 0) {
    decoded_.clear();
    DecodeReferences(text, references_, decoded_);
    FinishReferences(references_, decoded_);
    text = decoded_;
    traits = ScanLine(text);
  }
  if ((traits & kNeedsCollapse) != 0) {
    const std::size_t start = out.size();
    spaces_ = SpaceStage();
    Collapse(text, Spaces::kSpacesAndTabs, spaces_, out);
    FinishCollapse(spaces_, out);
    text = std::string_view(out).substr(start);
  }
  // Otherwise already one space between words and none at the ends.
  return {text, LineVoiceName()};
}

void CueTextCleaner::Begin(std::uint64_t last_close, std::uint64_t last_brace) {
  BeginLine();
  encoding_.held.clear();
  raw_last_close_ = last_close;
  raw_last_brace_ = subrip_ ? last_brace : 0;
  raw_offset_ = encoded_offset_ = 0;
  // Until the piece that holds it, the last '>' lies ahead; the last '}' too.
  tags_.last_close = last_close == 0 ? 0 : UINT64_MAX;
  tags_.last_brace = raw_last_brace_ == 0 ? 0 : UINT64_MAX;
}

void CueTextCleaner::Add(std::string_view bytes, std::string& out) {
  // The line's bytes become UTF-8 first. Tags then read the encoded bytes, so
  // the last '>' is found again among them: before the piece that holds it,
  // every '<' comes before it.
  encoded_.clear();
  const std::uint64_t start = raw_offset_;
  raw_offset_ += bytes.size();
  // The last '>' and '}' as offsets in the encoded line: the piece is
  // encoded in parts cut at them (a sequence cut by either is no sequence).
  struct Mark {
    std::uint64_t raw;
    std::uint64_t* encoded;
  };
  Mark marks[2] = {{raw_last_close_, &tags_.last_close}, {raw_last_brace_, &tags_.last_brace}};
  if (marks[1].raw < marks[0].raw) std::swap(marks[0], marks[1]);
  std::size_t done = 0;
  for (const Mark& mark : marks) {
    if (mark.raw == 0 || mark.raw < start || mark.raw >= raw_offset_) continue;
    const auto split = static_cast<std::size_t>(mark.raw - start);
    Encode(bytes.substr(done, split - done), encoding_, false, encoded_);
    *mark.encoded = encoded_offset_ + encoded_.size();
    done = split;
  }
  Encode(bytes.substr(done), encoding_, true, encoded_);
  encoded_offset_ += encoded_.size();
  const std::string_view without_tags =
      (subrip_ ? RemoveSubRipTags(encoded_, without_tags_) : RemoveTags(encoded_, without_tags_))
          .text;
  decoded_.clear();
  DecodeReferences(without_tags, references_, decoded_);
  Collapse(decoded_, Spaces::kSpacesAndTabs, spaces_, out);
}

std::string_view CueTextCleaner::End(std::string& out) {
  // Bytes held as the start of a sequence that the line's end cut.
  encoded_.clear();
  Encode({}, encoding_, false, encoded_);
  decoded_.clear();
  if (tags_.brace_held) {
    // A '{' that ended the line opens no tag.
    DecodeReferences(RemoveSubRipTags(encoded_, without_tags_).text, references_, decoded_);
  } else if (!encoded_.empty()) {
    DecodeReferences(RemoveTags(encoded_, without_tags_).text, references_, decoded_);
  }
  FinishReferences(references_, decoded_);
  Collapse(decoded_, Spaces::kSpacesAndTabs, spaces_, out);
  FinishCollapse(spaces_, out);
  return LineVoiceName();
}

// Tags run from '<' to the next '>' on the line; a '<' without a '>' after it
// is text. Text inside <rt>...</rt> (ruby readings) goes with them, up to the
// end of the line at most. Growing `out` fills its new bytes, so it only
// grows: its bytes are filled once, not for every line.
CueTextCleaner::TagFreeText CueTextCleaner::RemoveTags(std::string_view bytes, std::string& out) {
  TagStage& stage = tags_;
  // Room for the longest result.
  if (out.size() < bytes.size() + kCopySlack) out.resize(bytes.size() + kCopySlack);
  char* const first = out.data();
  char* to = first;
  bool spaces_joined = false;
  // A local, which the writes through `to` cannot change as they could a member.
  bool in_ruby_text = stage.in_ruby_text;
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  const std::uint64_t offset = stage.offset;
  stage.offset += bytes.size();
  if (stage.in_tag) {
    const char* const close = FindByte(at, end, '>');
    const auto room = kTagBytesRead - std::min(kTagBytesRead, stage.tag.size());
    stage.tag.append(at, std::min<std::size_t>(room, static_cast<std::size_t>(close - at)));
    if (close == end) return {};
    stage.in_tag = false;
    ApplyTag(stage.tag, in_ruby_text);
    at = close + 1;
  }
  // The text from `text_start` to `to` is dropped again inside a ruby reading.
  const auto end_text = [&](char* text_start) {
    if (in_ruby_text) to = text_start;
    if (to != text_start && text_start != first && text_start[-1] == ' ' && *text_start == ' ') {
      spaces_joined = true;
    }
  };
  while (at < end) {
    char* const text_start = to;
    at = CopyUntil(at, end, '<', to);
    const char* const close = FindByte(at, end, '>');
    if (close == end) {
      if (at != end && offset + static_cast<std::uint64_t>(at - bytes.data()) < stage.last_close) {
        // The tag ends in a later piece of the line.
        end_text(text_start);
        stage.in_tag = true;
        stage.tag.assign(at + 1, std::min(static_cast<std::size_t>(end - at - 1), kTagBytesRead));
        break;
      }
      // No tag: the rest of the line, any '<' in it too, is text.
      std::memcpy(to, at, static_cast<std::size_t>(end - at));
      to += end - at;
      end_text(text_start);
      break;
    }
    end_text(text_start);
    const auto tag_size = static_cast<std::size_t>(close - at - 1);
    ApplyTag(std::string_view(at + 1, std::min(tag_size, kTagBytesRead)), in_ruby_text);
    at = close + 1;
  }
  stage.in_ruby_text = in_ruby_text;
  return {std::string_view(first, static_cast<std::size_t>(to - first)), spaces_joined};
}

unsigned CueTextCleaner::BraceTraits(std::string_view line) {
  return std::memchr(line.data(), '{', line.size()) != nullptr ? kHasLess : 0;
}

// As RemoveTags, with SubRip's position codes: "{\" and everything up to the
// next '}' on the line is a tag too. Whichever kind opens first is the tag;
// an opening without its closing after it on the line is text, and the
// search goes on after it.
CueTextCleaner::TagFreeText CueTextCleaner::RemoveSubRipTags(std::string_view bytes,
                                                             std::string& out) {
  TagStage& stage = tags_;
  if (out.size() < bytes.size() + kCopySlack + 1) out.resize(bytes.size() + kCopySlack + 1);
  char* const first = out.data();
  char* to = first;
  bool spaces_joined = false;
  bool in_ruby_text = stage.in_ruby_text;
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  const std::uint64_t offset = stage.offset;
  stage.offset += bytes.size();
  const auto end_text = [&](char* text_start) {
    if (in_ruby_text) to = text_start;
    if (to != text_start && text_start != first && text_start[-1] == ' ' && *text_start == ' ') {
      spaces_joined = true;
    }
  };
  // True when an opening at `open` bytes into this piece (-1: the held '{')
  // closes in a later piece of the line, whose last closing is at `last`.
  const auto closes_later = [&](std::ptrdiff_t open, std::uint64_t last) {
    return offset + static_cast<std::uint64_t>(open + 1) <= last;
  };
  const auto done = [&](char* text_start) -> TagFreeText {
    end_text(text_start);
    stage.in_ruby_text = in_ruby_text;
    return {std::string_view(first, static_cast<std::size_t>(to - first)), spaces_joined};
  };
  char* text_start = to;
  if (stage.brace_held) {
    stage.brace_held = false;
    const char* const close = at < end && *at == '\\' ? FindByte(at + 1, end, '}') : nullptr;
    if (close != nullptr && close != end) {
      at = close + 1;
    } else if (close == end && closes_later(-1, stage.last_brace)) {
      stage.in_tag = stage.in_brace = true;
      return done(text_start);
    } else {
      *to++ = '{';
    }
  }
  if (stage.in_tag) {
    if (stage.in_brace) {
      const char* const close = FindByte(at, end, '}');
      if (close == end) return done(text_start);
      stage.in_brace = false;
      at = close + 1;
    } else {
      const char* const close = FindByte(at, end, '>');
      const auto room = kTagBytesRead - std::min(kTagBytesRead, stage.tag.size());
      stage.tag.append(at, std::min<std::size_t>(room, static_cast<std::size_t>(close - at)));
      if (close == end) return done(text_start);
      ApplyTag(stage.tag, in_ruby_text);
      at = close + 1;
    }
    stage.in_tag = false;
  }
  while (at < end) {
    at = CopyUntilEither(at, end, '<', '{', to);
    if (at == end) break;
    const std::ptrdiff_t open = at - bytes.data();
    if (*at == '{') {
      if (at + 1 == end && closes_later(open, stage.last_brace)) {
        // Whether it opens a tag shows in the next piece.
        end_text(text_start);
        stage.brace_held = true;
        stage.in_ruby_text = in_ruby_text;
        return {std::string_view(first, static_cast<std::size_t>(to - first)), spaces_joined};
      }
      const char* const close =
          at + 1 < end && at[1] == '\\' ? FindByte(at + 2, end, '}') : nullptr;
      if (close == end && closes_later(open, stage.last_brace)) {
        stage.in_tag = stage.in_brace = true;
        return done(text_start);
      }
      if (close == nullptr || close == end) {
        *to++ = *at++;  // text
        continue;
      }
      end_text(text_start);
      at = close + 1;
      text_start = to;
      continue;
    }
    const char* const close = FindByte(at + 1, end, '>');
    if (close == end) {
      if (closes_later(open, stage.last_close)) {
        stage.in_tag = true;
        stage.in_brace = false;
        stage.tag.assign(at + 1, std::min(static_cast<std::size_t>(end - at - 1), kTagBytesRead));
        return done(text_start);
      }
      *to++ = *at++;  // text
      continue;
    }
    end_text(text_start);
    const auto tag_size = static_cast<std::size_t>(close - at - 1);
    ApplyTag(std::string_view(at + 1, std::min(tag_size, kTagBytesRead)), in_ruby_text);
    at = close + 1;
    text_start = to;
  }
  return done(text_start);
}

// The line's voice stays its voice when a tag opens another: it is copied
// only then.
void CueTextCleaner::KeepLineVoice() {
  if (line_voice_state_ != LineVoice::kCurrent) return;
  line_voice_ = voice_.name;
  line_voice_state_ = LineVoice::kHeld;
}

std::string_view CueTextCleaner::LineVoiceName() const {
  switch (line_voice_state_) {
    case LineVoice::kCurrent:
      return voice_.name;
    case LineVoice::kHeld:
      return line_voice_;
    case LineVoice::kNone:
      break;
  }
  return {};
}

// Only </v>, </rt>, </ruby>, <rt> and <v> change anything.
[[gnu::always_inline]] inline void CueTextCleaner::ApplyTag(std::string_view tag,
                                                            bool& in_ruby_text) {
  switch (tag.empty() ? '\0' : tag.front()) {
    case '/':
      if (tag == "/v") {
        voice_.open = false;  // its name may still be the line's voice
      } else if (tag == "/rt" || tag == "/ruby") {
        in_ruby_text = false;
      }
      break;
    case 'r':
      if (TagName(tag) == "rt") in_ruby_text = true;
      break;
    case 'v':
      if (TagName(tag) == "v") OpenVoice(TagAnnotation(tag));
      break;
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      if (IsTimestamp(tag)) saw_timestamp_ = true;
      break;
    default:
      break;
  }
}

void CueTextCleaner::OpenVoice(std::string_view name) {
  KeepLineVoice();
  voice_.open = true;
  voice_.name.clear();
  if ((ScanLine(name) & (kHasAmpersand | kNeedsCollapse)) == 0) {
    voice_.name.assign(name);  // nothing to decode or collapse, as in most names
  } else {
    AppendDecodedCollapsed(name, Spaces::kSpacesAndTabs, name_scratch_, voice_.name);
  }
  if (line_voice_state_ == LineVoice::kNone) line_voice_state_ = LineVoice::kCurrent;
}

// References are found left to right; decoded text is not searched again. A
// reference cut by the end of a piece waits in the stage for the next one.
void CueTextCleaner::DecodeReferences(std::string_view text, ReferenceStage& stage,
                                      std::string& out) {
  // The longest text that may still grow into a reference: "&#", 'x' and the digits.
  constexpr std::size_t kLongestUnfinished = 3 + kMaxReferenceDigits;
  std::size_t at = 0;
  while (at < text.size()) {
    if (!stage.held.empty()) {
      // A reference cut by the end of the last piece: a byte at a time.
      stage.held += text[at++];
      if (stage.held.back() != ';' && MayBecomeReference(stage.held)) continue;
      const std::string held = std::move(stage.held);
      stage.held.clear();
      if (AppendReference(held, out) == 0) {
        // Not a reference: the '&' is text, and the bytes after it are read again.
        out += '&';
        DecodeReferences(std::string_view(held).substr(1), stage, out);
      }
      continue;
    }
    const std::size_t amp = text.find('&', at);
    if (amp == text.npos) {
      out.append(text.substr(at));
      return;
    }
    out.append(text.substr(at, amp - at));
    const std::string_view rest = text.substr(amp);
    if (const std::size_t used = AppendReference(rest, out); used != 0) {
      at = amp + used;
    } else if (rest.size() <= kLongestUnfinished && MayBecomeReference(rest)) {
      stage.held = rest;  // the next piece may finish it
      return;
    } else {
      out += '&';
      at = amp + 1;
    }
  }
}

// Every reference that decodes ends in ';', which a held one never holds.
void CueTextCleaner::FinishReferences(ReferenceStage& stage, std::string& out) {
  out += stage.held;
  stage.held.clear();
}

void CueTextCleaner::Collapse(std::string_view text, Spaces spaces, SpaceStage& stage,
                              std::string& out) {
  const unsigned char* const kind =
      (spaces == Spaces::kSpacesAndTabs ? kSpacesAndTabs : kAlsoLineBreaks).kind;
  const std::size_t start = out.size();
  out.resize(start + text.size() + 2);  // room for the longest result
  char* to = out.data() + start;
  bool space = stage.space;
  bool wrote = stage.wrote;
  const auto write = [&](char c) {
    if (space && wrote) *to++ = ' ';
    space = false;
    wrote = true;
    *to++ = c;
  };
  const char* from = text.data();
  const char* const end = from + text.size();
  if (stage.no_break && from < end) {
    stage.no_break = false;
    if (*from == '\xA0') {
      space = true;
      ++from;
    } else {
      write('\xC2');
    }
  }
  while (from < end) {
    const unsigned char byte_kind = kind[static_cast<unsigned char>(*from)];
    if (byte_kind == 1) {
      space = true;
      ++from;
    } else if (byte_kind == 2 && end - from == 1) {
      stage.no_break = true;  // whether A0 follows is told by the next piece
      ++from;
    } else if (byte_kind == 2 && from[1] == '\xA0') {
      space = true;
      from += 2;
    } else {
      write(*from++);
    }
  }
  stage.space = space;
  stage.wrote = wrote;
  out.resize(static_cast<std::size_t>(to - out.data()));
}

void CueTextCleaner::FinishCollapse(SpaceStage& stage, std::string& out) {
  if (!stage.no_break) return;
  stage.no_break = false;
  if (stage.space && stage.wrote) out += ' ';
  stage.space = false;
  stage.wrote = true;
  out += '\xC2';
}

}  // namespace orvane
