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

NativeString ReadCourseTitle(const NativeString& course_folder, std::size_t read_block,
                             std::size_t title_limit) {
  NativeString manifest_path = course_folder;
  manifest_path += platform::PathSeparator();
  manifest_path += platform::FromAscii("imsmanifest.xml");
  platform::InputFile manifest;
  if (!manifest.Open(manifest_path)) return {};

  // The manifest is searched as a stream. Before the title, `window` holds the
  // unsearched tail of the previous block (shorter than either tag) and the
  // current block. Then `title` holds the title's bytes; once they outgrow
  // the limit, only the last few, to find a "</title>" that spans two blocks,
  // and a title that closes after all is read again from the file.
  std::vector<char> block(std::max<std::size_t>(read_block, 1));
  std::string window;
  std::string title;
  std::uint64_t offset = 0;       // of the current block in the file
  std::uint64_t title_begin = 0;  // of the title's first byte
  std::uint64_t dropped = 0;      // title bytes no longer held
  bool in_title = false;
  for (bool at_end = false; !at_end;) {
    const std::ptrdiff_t count = manifest.Read(block.data(), block.size());
    if (count < 0) return {};
    if (count == 0) break;
    std::string_view bytes(block.data(), static_cast<std::size_t>(count));
    const std::uint64_t bytes_offset = offset;
    offset += static_cast<std::uint64_t>(count);
    // The manifest text ends at its first NUL byte.
    if (const auto nul = bytes.find('\0'); nul != bytes.npos) {
      bytes = bytes.substr(0, nul);
      at_end = true;
    }
    if (in_title) {
      const std::size_t from =
          title.size() < kTitleClose.size() ? 0 : title.size() - kTitleClose.size() + 1;
      title.append(bytes);
      if (const auto close = title.find(kTitleClose, from); close != title.npos) {
        if (dropped == 0) return platform::FromNarrow(std::string_view(title).substr(0, close));
        FileSource source(manifest);
        std::string whole;
        const bool read = ReadRange(source, {title_begin, title_begin + dropped + close}, block,
                                    [&whole](std::string_view piece) { whole.append(piece); });
        return read ? platform::FromNarrow(whole) : NativeString();
      }
      if (const std::size_t keep = kTitleClose.size() - 1;
          title.size() > std::max(title_limit, keep)) {
        dropped += title.size() - keep;
        title.erase(0, title.size() - keep);
      }
      continue;
    }
    const std::uint64_t window_offset = bytes_offset - window.size();
    window.append(bytes);
    const auto open = window.find(kTitleOpen);
    const auto close = window.find(kTitleClose);
    // A "</title>" before the first "<title>" leaves the title empty.
    if (close != window.npos && (open == window.npos || close < open)) return {};
    if (open == window.npos) {
      const std::size_t keep = kTitleClose.size() - 1;
      if (window.size() > keep) window.erase(0, window.size() - keep);
      continue;
    }
    if (close != window.npos) {
      return platform::FromNarrow(std::string_view(window).substr(
          open + kTitleOpen.size(), close - open - kTitleOpen.size()));
    }
    in_title = true;
    title = window.substr(open + kTitleOpen.size());
    title_begin = window_offset + open + kTitleOpen.size();
    window.clear();
  }
  return {};
}

std::string MakeCleanTitleLines(std::string_view title) {
  std::string lines;
  AppendDecodedCollapsed(title, Spaces::kAlsoLineBreaks, lines);
  if (!lines.empty()) lines.append(".\r\n\r\n");
  return lines;
}

}  // namespace orvane
