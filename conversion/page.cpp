#include "conversion/page.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kEnDash = " \xE2\x80\x93 ";     // " – "

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// The characters HTML allows nowhere in text.
bool IsForbidden(char32_t c) {
  return c <= 0x08 || c == 0x0B || (c >= 0x0E && c <= 0x1F) || (c >= 0x7F && c <= 0x9F) ||
         (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

// Bytes copied as they are: printable ASCII that is no markup.
bool IsPlain(unsigned char c, bool attribute) {
  return c >= 0x20 && c < 0x7F && c != '&' && c != '<' && c != '>' && !(attribute && c == '"');
}

// The length of the UTF-8 sequence that `lead` starts, 0 when it starts none.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return lead < 0xF5 ? 4 : 0;
}

// The page's style: a readable measure in the reader's own font and size,
// light and dark schemes with text of high contrast, and dark text on white
// paper when printed.
constexpr std::string_view kStyle =
    "<style>\n"
    ":root { color-scheme: light dark; }\n"
    "body { margin: 0 auto; padding: 1em; max-width: 70ch; line-height: 1.5;"
    " overflow-wrap: anywhere; background: #ffffff; color: #1a1a1a; }\n"
    "h1 { line-height: 1.2; }\n"
    "time { color: #4d4d4d; }\n"
    "@media (prefers-color-scheme: dark) {\n"
    "  body { background: #121212; color: #e6e6e6; }\n"
    "  time { color: #b3b3b3; }\n"
    "}\n"
    "@media print {\n"
    "  body { max-width: none; background: #ffffff; color: #000000; }\n"
    "  time { color: #000000; }\n"
    "}\n"
    "</style>\n";

}  // namespace

bool IsLanguageTag(std::string_view tag) {
  const auto letters = [](std::string_view part, std::size_t count) {
    return part.size() == count && std::all_of(part.begin(), part.end(), IsAsciiLetter);
  };
  std::string_view parts[4];
  std::size_t count = 0;
  for (std::string_view rest = tag;; ++count) {
    if (count == 3) return false;
    const std::size_t dash = rest.find('-');
    parts[count] = rest.substr(0, dash);
    if (dash == rest.npos) {
      ++count;
      break;
    }
    rest.remove_prefix(dash + 1);
  }
  if (!letters(parts[0], 2)) return false;
  std::size_t next = 1;
  if (next < count && letters(parts[next], 4)) ++next;
  if (next < count) {
    const std::string_view region = parts[next];
    const bool digits =
        region.size() == 3 && std::all_of(region.begin(), region.end(), IsAsciiDigit);
    if (!letters(region, 2) && !digits) return false;
    ++next;
  }
  return next == count;
}

std::string LanguageOfName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  // "fr.vtt" is French too.
  const std::string_view last = dot == name.npos ? name : name.substr(dot + 1);
  return IsLanguageTag(last) ? std::string(last) : std::string();
}

std::string LanguageOfLocale(std::string_view locale) {
  std::string tag(locale.substr(0, std::min(locale.find('.'), locale.find('@'))));
  std::replace(tag.begin(), tag.end(), '_', '-');
  return IsLanguageTag(tag) ? tag : std::string();
}

namespace {

// The first byte in [at, end) that is not copied as it is (see IsPlain), or
// `end`; sixteen bytes at a time where SSE2 is there.
const char* FindMarkup(const char* at, const char* end, bool attribute) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i del = _mm_set1_epi8(0x7F);
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i quote = _mm_set1_epi8(attribute ? '"' : '&');
  for (; end - at >= 16; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    // Signed: the bytes from 80 on are below ' ' too.
    const __m128i odd = _mm_or_si128(
        _mm_or_si128(_mm_cmplt_epi8(bytes, space), _mm_cmpeq_epi8(bytes, del)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, amp), _mm_cmpeq_epi8(bytes, quote)),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, lt), _mm_cmpeq_epi8(bytes, gt))));
    const int mask = _mm_movemask_epi8(odd);
    if (mask != 0) return at + std::countr_zero(static_cast<unsigned>(mask));
  }
#endif
  while (at < end && IsPlain(static_cast<unsigned char>(*at), attribute)) ++at;
  return at;
}

}  // namespace

void AppendHtml(std::string_view text, std::string& out, bool attribute) {
  const char* at = text.data();
  const char* const end = at + text.size();
  while (at < end) {
    const char* const run = at;
    at = FindMarkup(at, end, attribute);
    out.append(run, at);
    if (at == end) break;
    const auto c = static_cast<unsigned char>(*at);
    switch (c) {
      case '&':
        out.append("&amp;");
        ++at;
        continue;
      case '<':
        out.append("&lt;");
        ++at;
        continue;
      case '>':
        out.append("&gt;");
        ++at;
        continue;
      case '"':
        out.append("&quot;");
        ++at;
        continue;
      case '\t':
      case '\n':
      case '\f':
      case '\r':
        out.push_back(static_cast<char>(c));
        ++at;
        continue;
      default:
        break;
    }
    const int length = SequenceLength(c);
    bool whole = length > 1 && end - at >= length;
    char32_t code = c & (0x7F >> length);
    for (int i = 1; whole && i < length; ++i) {
      const auto next = static_cast<unsigned char>(at[i]);
      whole = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    // Shortest form, no surrogates, at most U+10FFFF: else one U+FFFD a byte.
    whole = whole && !(length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) &&
            !(length == 4 && (code < 0x10000 || code > 0x10FFFF));
    if (!whole) {
      out.append(kReplacement);
      ++at;
      continue;
    }
    if (IsForbidden(code)) {
      out.append(kReplacement);
    } else {
      out.append(at, static_cast<std::size_t>(length));
    }
    at += length;
  }
}

void HtmlEscaper::Add(std::string_view piece, std::string& out) {
  if (!held_.empty()) {
    // Complete the held character with the piece's first continuation bytes.
    // Any other byte ends it short, and starts a character of its own.
    const auto want =
        static_cast<std::size_t>(SequenceLength(static_cast<unsigned char>(held_[0])));
    while (held_.size() < want && !piece.empty() &&
           (static_cast<unsigned char>(piece.front()) & 0xC0) == 0x80) {
      held_.push_back(piece.front());
      piece.remove_prefix(1);
    }
    if (held_.size() < want && piece.empty()) return;
    AppendHtml(held_, out);
    held_.clear();
  }
  // A sequence that the piece's end cuts waits for the next piece.
  std::size_t cut = piece.size();
  for (std::size_t back = 1; back <= 3 && back <= piece.size(); ++back) {
    const auto c = static_cast<unsigned char>(piece[piece.size() - back]);
    if ((c & 0xC0) == 0x80) continue;
    const int length = SequenceLength(c);
    if (length > 1 && static_cast<std::size_t>(length) > back) cut = piece.size() - back;
    break;
  }
  AppendHtml(piece.substr(0, cut), out);
  held_.assign(piece.substr(cut));
}

void HtmlEscaper::Finish(std::string& out) {
  AppendHtml(held_, out);
  held_.clear();
}

void AppendPageHead(const PageInfo& page, std::string_view language, std::string& out) {
  out.append("<!DOCTYPE html>\n<html lang=\"");
  AppendHtml(language, out, true);
  out.append(
      "\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>");
  if (page.name.empty()) {
    out.append("Transcript");
  } else {
    out.append("Transcript: ");
    AppendHtml(page.name, out);
  }
  if (!page.title.empty()) {
    out.append(kEnDash);
    AppendHtml(page.title, out);
  }
  out.append("</title>\n").append(kStyle).append("</head>\n<body>\n<main>\n<h1>");
  std::string_view heading = "Transcript";
  if (!page.title.empty()) {
    heading = page.title;
  } else if (!page.name.empty()) {
    heading = page.name;
  }
  AppendHtml(heading, out);
  out.append("</h1>\n");
}

void AppendPageFoot(std::string& out) { out.append("</main>\n</body>\n</html>\n"); }

}  // namespace orvane
