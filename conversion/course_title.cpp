#include "conversion/course_title.h"

#include <algorithm>
#include <vector>

#include "conversion/cue_text.h"

namespace orvane {
namespace {

constexpr std::string_view kTitleOpen = "<title>";
constexpr std::string_view kTitleClose = "</title>";

}  // namespace

std::string MakeTitleLine(const NativeString& title) {
  std::string line;
  if (title.empty()) return line;
  NativeString with_stop = title;
  with_stop += platform::NativeChar('.');
  for (const char c : platform::ToNarrow(with_stop)) {
    if (c == '\n') line += '\r';
    line += c;
  }
  line += "\r\n";
  return line;
}

namespace {

// Searches a manifest fed in pieces for its title. Before the title, `window_`
// holds the unsearched tail of the previous piece (shorter than either tag)
// and the current piece. Then `title_` holds the title's bytes; once they
// outgrow the limit, only the last few, to find a "</title>" that spans two
// pieces, and a title that closes after all is read again from the file.
class TitleSearch {
 public:
  enum class State { kSearching, kFound, kNone };
  explicit TitleSearch(std::size_t limit) : limit_(limit) {}

  // Takes the manifest bytes at `offset`.
  State Take(std::string_view bytes, std::uint64_t offset) {
    return in_title_ ? TakeInTitle(bytes) : TakeBeforeTitle(bytes, offset);
  }
  // Once found: the title when it was held, else where it lies in the file.
  bool held() const { return dropped_ == 0; }
  std::string_view title() const { return title_; }
  SourceRange range() const { return {title_begin_, title_begin_ + dropped_ + title_.size()}; }

 private:
  State TakeBeforeTitle(std::string_view bytes, std::uint64_t offset) {
    const std::uint64_t window_offset = offset - window_.size();
    window_.append(bytes);
    const auto open = window_.find(kTitleOpen);
    const auto close = window_.find(kTitleClose);
    // A "</title>" before the first "<title>" leaves the title empty.
    if (close != window_.npos && (open == window_.npos || close < open)) return State::kNone;
    if (open == window_.npos) {
      const std::size_t keep = kTitleClose.size() - 1;
      if (window_.size() > keep) window_.erase(0, window_.size() - keep);
      return State::kSearching;
    }
    in_title_ = true;
    title_begin_ = window_offset + open + kTitleOpen.size();
    const std::string rest = window_.substr(open + kTitleOpen.size());
    window_.clear();
    return TakeInTitle(rest);
  }

  State TakeInTitle(std::string_view bytes) {
    const std::size_t from =
        title_.size() < kTitleClose.size() ? 0 : title_.size() - kTitleClose.size() + 1;
    title_.append(bytes);
    if (const auto close = title_.find(kTitleClose, from); close != title_.npos) {
      title_.resize(close);
      return State::kFound;
    }
    if (const std::size_t keep = kTitleClose.size() - 1; title_.size() > std::max(limit_, keep)) {
      dropped_ += title_.size() - keep;
      title_.erase(0, title_.size() - keep);
    }
    return State::kSearching;
  }

  std::size_t limit_;
  bool in_title_ = false;
  std::string window_;
  std::string title_;
  std::uint64_t title_begin_ = 0;  // offset of the title's first byte
  std::uint64_t dropped_ = 0;      // title bytes no longer held
};

}  // namespace

CourseTitle FindCourseTitle(const NativeString& course_folder, std::size_t read_block,
                            std::size_t title_limit) {
  NativeString manifest_path = course_folder;
  manifest_path += platform::PathSeparator();
  manifest_path += platform::FromAscii("imsmanifest.xml");
  platform::InputFile manifest;
  if (!manifest.Open(manifest_path)) return {};
  std::vector<char> block(std::max<std::size_t>(read_block, 1));
  TitleSearch search(title_limit);
  std::uint64_t offset = 0;
  for (bool at_end = false; !at_end;) {
    const std::ptrdiff_t count = manifest.Read(block.data(), block.size());
    if (count <= 0) return {};
    std::string_view bytes(block.data(), static_cast<std::size_t>(count));
    // The manifest text ends at its first NUL byte.
    if (const auto nul = bytes.find('\0'); nul != bytes.npos) {
      bytes = bytes.substr(0, nul);
      at_end = true;
    }
    const TitleSearch::State state = search.Take(bytes, offset);
    offset += static_cast<std::uint64_t>(count);
    if (state == TitleSearch::State::kNone) return {};
    if (state == TitleSearch::State::kSearching) continue;
    if (search.held()) return {platform::FromNarrow(search.title()), {}, {}};
    return {{}, std::move(manifest_path), search.range()};
  }
  return {};
}

NativeString ReadCourseTitle(const NativeString& course_folder, std::size_t read_block,
                             std::size_t title_limit) {
  CourseTitle found = FindCourseTitle(course_folder, read_block, title_limit);
  if (found.held()) return std::move(found.text);
  platform::InputFile manifest;
  if (!manifest.Open(found.manifest)) return {};
  FileSource source(manifest);
  std::vector<char> block(std::max<std::size_t>(read_block, 1));
  std::string title;
  const bool read = ReadRange(source, found.range, block,
                              [&title](std::string_view piece) { title.append(piece); });
  return read ? platform::FromNarrow(title) : NativeString();
}

OutputResult WriteTitleLines(const CourseTitle& title, TranscriptStyle style,
                             std::span<char> buffer, TranscriptSink& sink) {
  platform::InputFile manifest;
  if (!manifest.Open(title.manifest)) return OutputResult::kReadFailed;
  FileSource source(manifest);
  const bool clean = IsClean(style);
  DecodedCollapsed cleaner(Spaces::kAlsoLineBreaks);
  std::string out;
  bool wrote = false;
  bool written = true;
  // The last bytes of the title written, enough for two characters.
  std::string tail;
  const auto write = [&] {
    wrote = wrote || !out.empty();
    tail.append(out);
    if (tail.size() > 8) tail.erase(0, tail.size() - 8);
    written = written && sink.Write(out.data(), out.size());
    out.clear();
  };
  const bool read = ReadRange(source, title.range, buffer, [&](std::string_view piece) {
    if (clean) {
      cleaner.Add(piece, out);
    } else {
      // As MakeTitleLine writes it: every LF as CR LF.
      for (const char c : piece) {
        if (c == '\n') out += '\r';
        out += c;
      }
    }
    write();
  });
  if (!read) return OutputResult::kReadFailed;
  if (clean) {
    cleaner.Finish(out);
    write();
    out = !wrote ? "" : EndsSentence(tail) ? "\r\n\r\n" : ".\r\n\r\n";
  } else {
    out = ".\r\n";
  }
  write();
  return written ? OutputResult::kWritten : OutputResult::kWriteFailed;
}

std::string CleanTitleText(std::string_view title) {
  std::string text;
  std::string encoded;
  AppendAsUtf8(title, encoded);
  AppendDecodedCollapsed(encoded, Spaces::kAlsoLineBreaks, text);
  return text;
}

std::string MakeCleanTitleLines(std::string_view title) {
  std::string lines = CleanTitleText(title);
  if (lines.empty()) return lines;
  // No second full stop after one the title has: "Why wear gloves?".
  if (!EndsSentence(lines)) lines += '.';
  lines.append("\r\n\r\n");
  return lines;
}

}  // namespace orvane
