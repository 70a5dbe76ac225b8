#include "conversion/caption_filter.h"

#include <cstring>

namespace orvane {
namespace {

constexpr char kCtrlZ = '\x1A';
constexpr std::string_view kHeaderMarker = "WEBVTT";
// Shape of a timing match: '9' stands for any ASCII digit, other bytes for
// themselves. The match is fixed-width and its '>' sits at kTimingArrow.
constexpr std::string_view kTimingShape = "99:99:99.999 --> 99:99:99.999";
constexpr std::size_t kTimingArrow = 15;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool MatchesTimingShape(const char* text) {
  for (std::size_t i = 0; i < kTimingShape.size(); ++i) {
    const char want = kTimingShape[i];
    if (want == '9' ? !IsDigit(text[i]) : text[i] != want) return false;
  }
  return true;
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
    if (!IsDigit(c)) return false;
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
  if (const void* stop = std::memchr(bytes.data(), kCtrlZ, bytes.size())) {
    bytes = bytes.substr(0, static_cast<const char*>(stop) - bytes.data());
    ended_ = true;
  }
  while (!bytes.empty()) {
    const auto lf = bytes.find('\n');
    if (lf == bytes.npos) {
      pending_.append(bytes);
      break;
    }
    std::string_view line = bytes.substr(0, lf);
    if (!pending_.empty()) {
      pending_.append(line);
      line = pending_;
    }
    // CR LF reads as LF; any other CR is part of the line.
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ProcessLine(line);
    pending_.clear();
    bytes.remove_prefix(lf + 1);
  }
  return !ended_;
}

void CaptionFilter::Finish() {
  ProcessLine(pending_);
  pending_.clear();
}

void CaptionFilter::ProcessLine(std::string_view line) {
  if (line.empty() || IsHeaderLine(line) || IsTimingLine(line) || IsCueNumber(line)) return;
  const std::size_t base = output_.size();
  AppendWithoutTags(line, output_);
  if (output_.size() != base) output_ += "\r\n";
}

std::string FilterCaptions(std::string_view captions) {
  CaptionFilter filter;
  filter.Feed(captions);
  filter.Finish();
  return std::move(filter.output());
}

}  // namespace orvane
