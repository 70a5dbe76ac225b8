#include "tests/oracle/oracle.h"

namespace orvane::oracle {
namespace {

// Longer lines are read without std::regex, whose matcher recurses once per
// character in libstdc++.
constexpr std::size_t kRegexLineLimit = 2048;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The timing pattern at `at`, byte by byte.
bool TimingAt(std::string_view line, std::size_t at) {
  constexpr std::string_view kShape = "99:99:99.999 --> 99:99:99.999";
  if (line.size() - at < kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const char c = line[at + i];
    if (kShape[i] == '9' ? !IsDigit(c) : c != kShape[i]) return false;
  }
  return true;
}

// One pass that drops "<x>" and "</x>".
std::string WithoutTag(std::string_view line, char x) {
  const std::string open = {'<', x, '>'};
  const std::string close = {'<', '/', x, '>'};
  std::string out;
  for (std::size_t i = 0; i < line.size();) {
    if (line.substr(i, 3) == open) {
      i += 3;
    } else if (line.substr(i, 4) == close) {
      i += 4;
    } else {
      out += line[i++];
    }
  }
  return out;
}

std::string PlainTranscriptLine(std::string_view line) {
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (TimingAt(line, at)) return {};
  }
  bool digits = !line.empty();
  for (const char c : line) digits = digits && IsDigit(c);
  if (digits) return {};
  std::string kept = WithoutTag(WithoutTag(line, 'v'), 'c');
  return kept.empty() ? kept : kept + "\r\n";
}

}  // namespace

std::string TextModeRead(std::string_view file) {
  std::string text;
  for (std::size_t i = 0; i < file.size() && file[i] != '\x1A'; ++i) {
    const bool cr_before_lf = file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n';
    if (!cr_before_lf) text += file[i];
  }
  return text;
}

RegexRules::RegexRules()
    : timing_(R"(\d{2}:\d{2}:\d{2}\.\d{3} --> \d{2}:\d{2}:\d{2}\.\d{3})"),
      voice_("<v>|</v>"),
      class_("<c>|</c>"),
      cue_number_(R"(^\d+$)") {}

bool RegexRules::IsTiming(const std::string& line) const {
  return std::regex_search(line, timing_);
}

bool RegexRules::IsCueNumber(const std::string& line) const {
  return std::regex_search(line, cue_number_);
}

std::string RegexRules::WithoutTags(const std::string& line) const {
  return std::regex_replace(std::regex_replace(line, voice_, ""), class_, "");
}

std::string RegexRules::TranscriptLine(std::string_view line_view) const {
  if (line_view.size() >= 6 && line_view.find("WEBVTT") != line_view.npos) return {};
  if (line_view.size() > kRegexLineLimit) return PlainTranscriptLine(line_view);
  const std::string line(line_view);
  if (IsTiming(line) || IsCueNumber(line)) return {};
  std::string kept = WithoutTags(line);
  return kept.empty() ? kept : kept + "\r\n";
}

std::string Transcript(std::string_view file, const RegexRules& rules) {
  const std::string text = TextModeRead(file);
  std::string_view rest = text;
  std::string out;
  while (!rest.empty()) {
    const auto lf = rest.find('\n');
    out += rules.TranscriptLine(rest.substr(0, lf));
    if (lf == rest.npos) break;
    rest.remove_prefix(lf + 1);
  }
  return out;
}

std::string TitleLine(std::string_view title) {
  if (title.empty()) return {};
  std::string line;
  for (const char c : std::string(title) + ".\n") {
    if (c == '\n') line += '\r';
    line += c;
  }
  return line;
}

std::string CourseTitle(std::string_view manifest) {
  manifest = manifest.substr(0, manifest.find('\0'));
  const auto open = manifest.find("<title>");
  const auto close = manifest.find("</title>");
  if (open == manifest.npos || close == manifest.npos || close < open) return {};
  return std::string(manifest.substr(open + 7, close - open - 7));
}

}  // namespace orvane::oracle
