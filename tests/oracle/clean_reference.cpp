#include "tests/oracle/clean_reference.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace orvane::oracle {
namespace {

using Lines = std::vector<std::string>;

bool Contains(const std::string& s, const char* what) { return s.find(what) != s.npos; }

void PutUtf8(unsigned long c, std::string& out);

// A file that starts with a UTF-16 byte order mark, as UTF-8 after the mark;
// other files as they are.
std::string FromUtf16(std::string_view file) {
  const bool little = file.rfind("\xFF\xFE", 0) == 0;
  const bool big = file.rfind("\xFE\xFF", 0) == 0;
  if (!little && !big) return std::string(file);
  std::vector<unsigned long> units;
  for (std::size_t i = 2; i + 1 < file.size(); i += 2) {
    const auto a = static_cast<unsigned char>(file[i]);
    const auto b = static_cast<unsigned char>(file[i + 1]);
    units.push_back(big ? a * 256ul + b : b * 256ul + a);
  }
  std::string text;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const unsigned long u = units[i];
    const bool high = u >= 0xD800 && u <= 0xDBFF;
    const bool low_next = i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
    if (high && low_next) {
      PutUtf8(0x10000 + (u - 0xD800) * 0x400 + (units[i + 1] - 0xDC00), text);
      ++i;
    } else {
      PutUtf8(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u, text);
    }
  }
  if (file.size() % 2 == 1) PutUtf8(0xFFFD, text);
  return text;
}

// The bytes up to the first Ctrl-Z, without a leading byte order mark, cut
// into lines at LF, CR LF and lone CR.
Lines ReadLines(std::string_view file) {
  std::string text(file.substr(0, file.find('\x1A')));
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  Lines lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || text[i] == '\r') {
      lines.push_back(line);
      line.clear();
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += text[i];
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// The blocks after the header, each a list of lines. A SubRip file has no
// header: its first line, even one that starts with "WEBVTT", starts a block
// (which finds the cues a header would have let through, no more and no fewer).
std::vector<Lines> ReadBlocks(const Lines& lines, bool header) {
  std::size_t i = 0;
  if (header && !lines.empty() && lines[0].rfind("WEBVTT", 0) == 0) {
    i = 1;
    while (i < lines.size() && !lines[i].empty() && !Contains(lines[i], "-->")) ++i;
  }
  std::vector<Lines> blocks;
  while (i < lines.size()) {
    if (lines[i].empty()) {
      ++i;
      continue;
    }
    Lines block = {lines[i]};
    ++i;
    while (i < lines.size() && !lines[i].empty()) {
      if (Contains(lines[i], "-->")) {
        const bool second_after_plain_first = block.size() == 1 && !Contains(block[0], "-->");
        if (!second_after_plain_first) break;
      }
      block.push_back(lines[i]);
      ++i;
    }
    blocks.push_back(block);
  }
  return blocks;
}

// The blocks of an SBV file: runs of lines between empty lines, whatever
// they hold.
std::vector<Lines> ReadSbvBlocks(const Lines& lines) {
  std::vector<Lines> blocks;
  Lines block;
  for (const std::string& line : lines) {
    if (!line.empty()) {
      block.push_back(line);
    } else if (!block.empty()) {
      blocks.push_back(block);
      block.clear();
    }
  }
  if (!block.empty()) blocks.push_back(block);
  return blocks;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a timestamp from `s` at `i` into `ms` (milliseconds): digit groups
// joined by ':', then '.' or ',' and the fraction.
bool Timestamp(const std::string& s, std::size_t& i, long long& ms) {
  Lines groups;
  while (true) {
    std::string group;
    while (i < s.size() && IsDigit(s[i])) group += s[i++];
    if (group.empty()) return false;
    groups.push_back(group);
    if (i < s.size() && s[i] == ':') {
      ++i;
    } else {
      break;
    }
  }
  if (groups.size() != 2 && groups.size() != 3) return false;
  if (groups.size() == 3 && groups[0].size() > 9) return false;  // hours of ten digits or more
  for (std::size_t g = groups.size() - 2; g < groups.size(); ++g) {
    if (groups[g].size() != 2 || groups[g] > "59") return false;
  }
  if (i >= s.size() || (s[i] != '.' && s[i] != ',')) return false;
  ++i;
  std::string fraction;
  while (i < s.size() && IsDigit(s[i])) fraction += s[i++];
  if (fraction.size() != 3) return false;
  const long long hours = groups.size() == 3 ? std::stoll(groups[0]) : 0;
  const long long minutes = std::stoll(groups[groups.size() - 2]);
  const long long seconds = std::stoll(groups[groups.size() - 1]);
  ms = ((hours * 60 + minutes) * 60 + seconds) * 1000 + std::stoll(fraction);
  return true;
}

bool TimingsParse(const std::string& s, long long& start, long long& end) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (!Timestamp(s, i, start)) return false;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (s.compare(i, 3, "-->") != 0) return false;
  i += 3;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return Timestamp(s, i, end);
}

// Reads an SBV timestamp from `s` at `i` into `ms`: one to nine digits of
// hours, ':', two of minutes, ':', two of seconds, '.', three of fraction.
bool SbvTimestamp(const std::string& s, std::size_t& i, long long& ms) {
  std::string hours;
  while (i < s.size() && IsDigit(s[i])) hours += s[i++];
  if (hours.empty() || hours.size() > 9) return false;
  long long fields[2] = {0, 0};  // minutes, seconds
  for (long long& field : fields) {
    if (i + 3 > s.size() || s[i] != ':' || !IsDigit(s[i + 1]) || !IsDigit(s[i + 2])) return false;
    field = (s[i + 1] - '0') * 10 + (s[i + 2] - '0');
    if (field > 59) return false;
    i += 3;
  }
  if (i >= s.size() || s[i] != '.') return false;
  ++i;
  std::string fraction;
  while (i < s.size() && IsDigit(s[i])) fraction += s[i++];
  if (fraction.size() != 3) return false;
  ms = ((std::stoll(hours) * 60 + fields[0]) * 60 + fields[1]) * 1000 + std::stoll(fraction);
  return true;
}

// An SBV timing line: spaces or tabs, a timestamp, ',', a timestamp, spaces
// or tabs, and nothing more.
bool SbvTimingsParse(const std::string& s, long long& start, long long& end) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (!SbvTimestamp(s, i, start)) return false;
  if (i >= s.size() || s[i] != ',') return false;
  ++i;
  if (!SbvTimestamp(s, i, end)) return false;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return i == s.size();
}

// True when the whole of a tag's content is a timestamp (an inline
// timestamp, "<00:01:02.500>").
bool IsTimestampTag(const std::string& content) {
  std::size_t i = 0;
  long long ignored = 0;
  return Timestamp(content, i, ignored) && i == content.size();
}

void PutUtf8(unsigned long c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 + c / 64);
    out += static_cast<char>(0x80 + c % 64);
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 + c / 4096);
    out += static_cast<char>(0x80 + c / 64 % 64);
    out += static_cast<char>(0x80 + c % 64);
  } else {
    out += static_cast<char>(0xF0 + c / 262144);
    out += static_cast<char>(0x80 + c / 4096 % 64);
    out += static_cast<char>(0x80 + c / 64 % 64);
    out += static_cast<char>(0x80 + c % 64);
  }
}

std::string DecodeReferences(const std::string& s) {
  const char* const names[][2] = {{"&amp;", "&"},      {"&lt;", "<"},      {"&gt;", ">"},
                                  {"&quot;", "\""},    {"&apos;", "'"},    {"&nbsp;", " "},
                                  {"&lrm;", "\u200E"}, {"&rlm;", "\u200F"}};
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    bool decoded = false;
    for (const auto& name : names) {
      if (s.compare(i, std::string(name[0]).size(), name[0]) == 0) {
        out += name[1];
        i += std::string(name[0]).size();
        decoded = true;
        break;
      }
    }
    if (!decoded && s.compare(i, 2, "&#") == 0) {
      std::size_t j = i + 2;
      const bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
      if (hex) ++j;
      std::string digits;
      while (j < s.size() && (IsDigit(s[j]) || (hex && std::string("abcdefABCDEF").find(s[j]) !=
                                                           std::string::npos))) {
        digits += s[j++];
      }
      // More than 32 digits stay as written.
      const bool too_many = digits.size() > 32;
      while (digits.size() > 1 && digits[0] == '0') digits.erase(0, 1);
      if (!too_many && !digits.empty() && digits.size() <= 7 && j < s.size() && s[j] == ';') {
        const unsigned long value = std::stoul(digits, nullptr, hex ? 16 : 10);
        if (value != 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) {
          PutUtf8(value, out);
          i = j + 1;
          decoded = true;
        }
      }
    }
    if (!decoded) out += s[i++];
  }
  return out;
}

// Every tab, no-break space (and, when asked, CR and LF) made a space, then
// runs of spaces made one, ends trimmed.
std::string CollapseSpaces(const std::string& s, bool line_breaks_too) {
  std::string spaced;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s.compare(i, 2, "\xC2\xA0") == 0) {
      spaced += ' ';
      ++i;
    } else if (s[i] == '\t' || (line_breaks_too && (s[i] == '\r' || s[i] == '\n'))) {
      spaced += ' ';
    } else {
      spaced += s[i];
    }
  }
  std::string out;
  for (char c : spaced) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Every byte of `s` that is not part of a well-formed UTF-8 character,
// decoded by value, read as Windows-1252.
std::string AsUtf8(const std::string& s) {
  static const unsigned long kHigh[32] = {
      0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021, 0x2C6,  0x2030, 0x160,
      0x2039, 0x152,  0x8D,   0x17D,  0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    // F8 to FF start no character of four bytes or fewer.
    const std::size_t n = c >= 0xF8 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    bool valid = c < 0x80;
    if (n > 1 && i + n <= s.size()) {
      unsigned long value = c & (0xFF >> (n + 1));
      bool continued = true;
      for (std::size_t k = 1; k < n; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        continued = continued && next >= 0x80 && next <= 0xBF;
        value = value * 64 + (next & 0x3F);
      }
      const unsigned long least = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
      valid =
          continued && value >= least && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
    }
    if (valid) {
      out += s.substr(i, c < 0x80 ? 1 : n);
      i += c < 0x80 ? 1 : n;
    } else {
      PutUtf8(c < 0xA0 ? kHigh[c - 0x80] : c, out);
      ++i;
    }
  }
  return out;
}

// True when `text` ends in one of the characters that end a sentence, or in
// one of the closing quotes and brackets right after one.
bool EndsSentence(const std::string& text) {
  const char* const enders[] = {".", "!", "?", "\u2026", "\u3002", "\uFF01", "\uFF1F"};
  const char* const closers[] = {"", "\"", "'", "\u201D", "\u2019", ")", "]", "\u00BB"};
  for (const char* ender : enders) {
    for (const char* closer : closers) {
      const std::string end = std::string(ender) + closer;
      if (text.size() >= end.size() &&
          text.compare(text.size() - end.size(), end.size(), end) == 0) {
        return true;
      }
    }
  }
  return false;
}

struct Voice {
  bool open = false;
  std::string name;
};

struct CleanLine {
  std::string text;
  std::string name;  // of the line's voice
};

// Cleans one cue text line; `voice` carries the open voice span across the
// cue's lines, and `timestamp` is set when the line holds an inline timestamp.
// With `position_codes` (SubRip), "{\" up to the next '}' is a tag too, of no
// kind: whichever of '<' and "{\" comes first opens the tag.
CleanLine Clean(const std::string& line, Voice& voice, bool& timestamp, bool position_codes) {
  bool line_voice_known = voice.open;
  std::string line_voice = voice.name;
  std::string text;
  bool in_rt = false;
  std::size_t i = 0;
  while (i < line.size()) {
    const bool position_code = position_codes && line.compare(i, 2, "{\\") == 0;
    const std::size_t close = line[i] == '<'  ? line.find('>', i + 1)
                              : position_code ? line.find('}', i + 2)
                                              : std::string::npos;
    if (close == std::string::npos) {
      if (!in_rt) text += line[i];
      ++i;
      continue;
    }
    if (position_code) {
      i = close + 1;
      continue;
    }
    if (IsTimestampTag(line.substr(i + 1, close - i - 1))) timestamp = true;
    // Only a tag's first 1,024 bytes are read.
    const std::string tag = line.substr(i + 1, std::min<std::size_t>(close - i - 1, 1024));
    i = close + 1;
    if (tag == "/v") {
      voice = Voice();
    } else if (tag == "/rt" || tag == "/ruby") {
      in_rt = false;
    } else {
      std::string name;
      std::size_t k = 0;
      while (k < tag.size() && tag[k] != '.' && tag[k] != ' ' && tag[k] != '\t') name += tag[k++];
      if (name == "rt") in_rt = true;
      if (name == "v") {
        while (k < tag.size() && tag[k] != ' ' && tag[k] != '\t') ++k;
        const std::string annotation = k < tag.size() ? tag.substr(k + 1) : "";
        voice.open = true;
        voice.name = CollapseSpaces(DecodeReferences(annotation), false);
        if (!line_voice_known) {
          line_voice_known = true;
          line_voice = voice.name;
        }
      }
    }
  }
  return {CollapseSpaces(DecodeReferences(text), false), line_voice};
}

bool IsLabelLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80;
}

bool IsLabelWordByte(char c) {
  return IsLabelLetter(c) || IsDigit(c) || c == '\'' || c == '-' || c == '.' || c == '_';
}

// When `s` starts with a speaker written as text ("Dora Demszky: Hello"):
// one to four words of at most 50 bytes with the single spaces between them,
// ':', spaces and more text. Returns how many bytes the label, its ':' and
// the spaces take (0 for none), and sets `name` to the words.
std::size_t TextLabel(const std::string& s, std::string& name) {
  std::size_t i = 0;
  for (int words = 1;; ++words) {
    if (words > 4 || i >= s.size()) return 0;
    if (!IsLabelLetter(s[i]) && !(words > 1 && IsDigit(s[i]))) return 0;
    while (i < s.size() && IsLabelWordByte(s[i])) ++i;
    if (i >= s.size() || s[i] != ' ') break;
    ++i;
  }
  const std::size_t words_end = i;
  if (words_end > 50 || i >= s.size() || s[i] != ':') return 0;
  ++i;
  const std::size_t spaces = i;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i == spaces || i >= s.size()) return 0;
  name = s.substr(0, words_end);
  return i;
}

// One cleaned line of a cue, in the forms each layout needs.
struct CueLine {
  std::string text;          // cleaned, without the cue's text label: what repeats compare
  std::string line_speaker;  // its voice's name, else the cue's text label
  bool marker = false;       // starts with ">>"
  std::size_t cut = 0;       // bytes of `text` before its paragraph text: ">>", space, label
  std::string speaker;       // in paragraphs: its voice, else its turn's speaker
};

struct Cue {
  long long start = 0;
  long long end = 0;
  bool rolling = false;  // it or a cue before it holds an inline timestamp
  std::vector<CueLine> lines;
};

// Reads the cues of `text` with their cleaned lines and their speakers.
std::vector<Cue> ReadCues(const std::string& text, Format format) {
  std::vector<Cue> cues;
  bool rolling = false;
  const Lines lines = ReadLines(text);
  const std::vector<Lines> blocks =
      format == Format::kSbv ? ReadSbvBlocks(lines) : ReadBlocks(lines, format == Format::kWebVtt);
  for (const Lines& block : blocks) {
    Cue cue;
    std::size_t timing = 0;
    if (format == Format::kSbv) {
      // No identifiers: the first line is the timing line or the block is no cue.
      if (!SbvTimingsParse(block[0], cue.start, cue.end)) continue;
    } else {
      if (!Contains(block[0], "-->")) timing = 1;
      if (timing >= block.size() || !Contains(block[timing], "-->")) continue;
      if (!TimingsParse(block[timing], cue.start, cue.end)) continue;
    }
    Voice voice;
    std::vector<CleanLine> cleaned;
    for (std::size_t i = timing + 1; i < block.size(); ++i) {
      const CleanLine line = Clean(AsUtf8(block[i]), voice, rolling, format == Format::kSubRip);
      if (!line.text.empty()) cleaned.push_back(line);
    }
    cue.rolling = rolling;
    // A text label on the cue's first line names every line without a voice.
    std::string cue_label;
    if (!cleaned.empty() && cleaned[0].name.empty()) {
      cleaned[0].text.erase(0, TextLabel(cleaned[0].text, cue_label));
    }
    // In paragraphs, a line starting with ">>" begins a turn: its speaker is
    // its voice, else a text label after the marker (read, and removed, only
    // then, as on a first line), else nobody; the cue's later lines without a
    // voice take it.
    std::string turn = cue_label;
    for (const CleanLine& clean : cleaned) {
      CueLine line;
      line.text = clean.text;
      line.line_speaker = clean.name.empty() ? cue_label : clean.name;
      std::size_t run = 0;
      while (run < line.text.size() && line.text[run] == '>') ++run;
      line.marker = run >= 2;
      if (line.marker) {
        line.cut = run;
        while (line.cut < line.text.size() && line.text[line.cut] == ' ') ++line.cut;
        std::string label;
        if (clean.name.empty()) line.cut += TextLabel(line.text.substr(line.cut), label);
        turn = clean.name.empty() ? label : clean.name;
      }
      line.speaker = clean.name.empty() ? turn : clean.name;
      cue.lines.push_back(line);
    }
    cues.push_back(cue);
  }
  return cues;
}

// A line left once repeats are taken out: written, or written over the last
// line written (it grew).
struct Kept {
  const Cue* cue;
  const CueLine* line;
  bool replaces;
};

// The lines to write, after repeated and growing lines are taken out.
std::vector<Kept> KeepLines(const std::vector<Cue>& cues) {
  std::vector<Kept> kept;
  const Cue* previous = nullptr;  // the last cue with lines
  for (const Cue& cue : cues) {
    const std::vector<CueLine>& now = cue.lines;
    if (now.empty()) continue;
    // The most lines at the cue's start that show the previous cue's last
    // lines; in rolling captions the last of them may have grown.
    std::size_t overlap = 0;
    bool grew = false;
    if (previous != nullptr) {
      const std::vector<CueLine>& before = previous->lines;
      for (std::size_t k = 1; k <= now.size() && k <= before.size() && k <= 16; ++k) {
        bool match = true;
        bool k_grew = false;
        for (std::size_t j = 0; j < k && match; ++j) {
          const std::string& line = now[j].text;
          const std::string& shown = before[before.size() - k + j].text;
          if (line == shown) continue;
          k_grew = cue.rolling && j + 1 == k && shown.size() < line.size() &&
                   line.compare(0, shown.size(), shown) == 0;
          match = k_grew;
        }
        if (match) {
          overlap = k;
          grew = k_grew;
        }
      }
    }
    if (overlap == now.size() && !grew) {
      // Only lines the previous cue showed: held on screen, or said again.
      const bool held =
          cue.end - cue.start <= 50 || (cue.rolling && cue.start - previous->end <= 100);
      if (held) {
        previous = &cue;
        continue;
      }
      overlap = 0;
    }
    for (std::size_t i = 0; i < now.size(); ++i) {
      if (grew && i + 1 == overlap) {
        kept.push_back({&cue, &now[i], true});
      } else if (i >= overlap) {
        kept.push_back({&cue, &now[i], false});
      }
    }
    previous = &cue;
  }
  return kept;
}

std::string WriteLines(const std::vector<Kept>& kept) {
  std::vector<std::string> labels;
  std::vector<std::string> texts;
  std::string last_name;
  for (const Kept& line : kept) {
    if (line.replaces && !texts.empty()) {
      texts.back() = line.line->text;
      continue;
    }
    const std::string& name = line.line->line_speaker;
    labels.push_back(!name.empty() && name != last_name ? name + ": " : "");
    texts.push_back(line.line->text);
    last_name = name;
  }
  std::string out;
  for (std::size_t i = 0; i < texts.size(); ++i) out += labels[i] + texts[i] + "\r\n";
  return out;
}

// The code point of the UTF-8 character of `s` that starts at `i`.
unsigned long CodePointAt(const std::string& s, std::size_t i) {
  const auto lead = static_cast<unsigned char>(s[i]);
  const std::size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  unsigned long c = n == 1 ? lead : lead & (0x7F >> n);
  for (std::size_t k = 1; k < n && i + k < s.size(); ++k) {
    c = c * 64 + (static_cast<unsigned char>(s[i + k]) & 0x3F);
  }
  return c;
}

unsigned long LastCodePoint(const std::string& s) {
  std::size_t i = s.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  return CodePointAt(s, i);
}

std::size_t CodePoints(const std::string& s) {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// Chinese and Japanese characters, which join without a space.
bool JoinsWithoutSpace(unsigned long c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFF00 && c <= 0xFFEF);
}

std::string TwoDigits(long long n) {
  return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}

// "[MM:SS] ", or "[H:MM:SS] " from an hour on, for `ms` rounded down to the second.
std::string TimeStamp(long long ms) {
  const long long seconds = ms / 1000;
  std::string stamp = "[";
  if (seconds >= 3600) stamp += std::to_string(seconds / 3600) + ":";
  stamp += TwoDigits(seconds / 60 % 60) + ":" + TwoDigits(seconds % 60) + "] ";
  return stamp;
}

struct Paragraph {
  long long start = 0;  // of the cue of its first line
  std::string label;    // "Name: " or nothing
  std::string text;
};

std::string WriteParagraphs(const std::vector<Kept>& kept, bool timed) {
  std::vector<Paragraph> paragraphs;
  std::string speaker;            // the current one
  long long end = 0;              // of the last cue that gave a line
  std::size_t last_line_at = 0;   // where the last line joined starts in the paragraph
  std::size_t last_line_cut = 0;  // and how many bytes it lost
  for (const Kept& kept_line : kept) {
    const CueLine& line = *kept_line.line;
    const Cue& cue = *kept_line.cue;
    if (kept_line.replaces && !paragraphs.empty()) {
      std::string& text = paragraphs.back().text;
      text.erase(std::min(last_line_at, text.size()));
      text += line.text.substr(std::min(last_line_cut, line.text.size()));
      end = cue.end;
      continue;
    }
    if (line.marker) speaker.clear();
    bool labelled = false;
    if (!line.speaker.empty() && line.speaker != speaker) {
      speaker = line.speaker;
      labelled = true;
    }
    const std::string* current = paragraphs.empty() ? nullptr : &paragraphs.back().text;
    const bool starts = current == nullptr || labelled || line.marker || cue.start - end >= 2000 ||
                        (CodePoints(*current) >= 500 && EndsSentence(*current)) ||
                        CodePoints(*current) >= 1000;
    if (starts) paragraphs.push_back({cue.start, labelled ? speaker + ": " : "", ""});
    std::string& text = paragraphs.back().text;
    const std::string added = line.text.substr(line.cut);
    if (!text.empty() && !added.empty() && !JoinsWithoutSpace(LastCodePoint(text)) &&
        !JoinsWithoutSpace(CodePointAt(added, 0))) {
      text += ' ';
    }
    last_line_at = text.size();
    last_line_cut = line.cut;
    text += added;
    end = cue.end;
  }
  std::string out;
  for (const Paragraph& paragraph : paragraphs) {
    if (paragraph.text.empty()) continue;
    if (!out.empty()) out += "\r\n";
    out += (timed ? TimeStamp(paragraph.start) : "") + paragraph.label + paragraph.text + "\r\n";
  }
  return out;
}

}  // namespace

std::string CleanTranscript(std::string_view file, Bytes bytes, Layout layout, Format format) {
  const std::string text = bytes == Bytes::kOfAFile ? FromUtf16(file) : std::string(file);
  const std::vector<Cue> cues = ReadCues(text, format);
  const std::vector<Kept> kept = KeepLines(cues);
  if (layout == Layout::kLines) return WriteLines(kept);
  return WriteParagraphs(kept, layout == Layout::kTimedParagraphs);
}

std::vector<ReferenceCue> CleanCues(std::string_view file, Bytes bytes, Format format) {
  const std::string text = bytes == Bytes::kOfAFile ? FromUtf16(file) : std::string(file);
  std::vector<ReferenceCue> cues;
  for (const Cue& cue : ReadCues(text, format)) {
    ReferenceCue& out = cues.emplace_back();
    out.start = cue.start;
    out.end = cue.end;
    for (const CueLine& line : cue.lines) out.lines.emplace_back(line.text, line.line_speaker);
  }
  return cues;
}

std::string CleanTitle(std::string_view title) {
  const std::string text = CollapseSpaces(DecodeReferences(AsUtf8(std::string(title))), true);
  if (text.empty()) return "";
  return text + (EndsSentence(text) ? "" : ".") + "\r\n\r\n";
}

}  // namespace orvane::oracle
