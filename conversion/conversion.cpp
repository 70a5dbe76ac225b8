#include "conversion/conversion.h"

#include <algorithm>
#include <vector>

#include "conversion/caption_filter.h"

namespace orvane {
namespace {

constexpr std::string_view kTitleOpen = "<title>";
constexpr std::string_view kTitleClose = "</title>";

template <class Char>
std::basic_string<Char> ReplaceExtension(std::basic_string_view<Char> path) {
  const auto dot = path.rfind(Char('.'));
  std::basic_string<Char> result(path.substr(0, dot));
  for (const char c : std::string_view(".txt")) result += Char(c);
  return result;
}

}  // namespace

std::string MakeOutputPath(std::string_view path) { return ReplaceExtension(path); }

std::wstring MakeOutputPath(std::wstring_view path) { return ReplaceExtension(path); }

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

NativeString ReadCourseTitle(const NativeString& course_folder, std::size_t read_block) {
  NativeString manifest_path = course_folder;
  manifest_path += platform::PathSeparator();
  manifest_path += platform::FromAscii("imsmanifest.xml");
  platform::InputFile manifest;
  if (!manifest.Open(manifest_path)) return {};

  // The manifest is searched as a stream. `window` holds the unsearched tail
  // of the previous block (shorter than either tag) and the current block.
  std::vector<char> block(std::max<std::size_t>(read_block, 1));
  std::string window;
  std::string title;
  bool in_title = false;
  bool at_end = false;
  while (!at_end) {
    const std::ptrdiff_t count = manifest.Read(block.data(), block.size());
    if (count < 0) return {};
    if (count == 0) break;
    std::string_view bytes(block.data(), static_cast<std::size_t>(count));
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
        title.resize(close);
        return platform::FromNarrow(title);
      }
      continue;
    }
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
    window.clear();
  }
  return {};
}

ConversionResult ConvertCaptionFile(const std::filesystem::path& input,
                                    const std::filesystem::path& output, NativeString title) {
  return CaptionConverter(title).Convert(input, output);
}

CaptionConverter::CaptionConverter(const NativeString& title, std::size_t read_block)
    : title_line_(MakeTitleLine(title)), block_(std::max<std::size_t>(read_block, 1)) {}

ConversionResult CaptionConverter::Convert(const std::filesystem::path& input,
                                           const std::filesystem::path& output) {
  platform::InputFile captions;
  if (!captions.Open(input)) return ConversionResult::kOpenFailed;
  platform::OutputFile transcript;
  if (!transcript.Create(output, captions)) return ConversionResult::kOpenFailed;

  bool write_ok = transcript.Write(title_line_.data(), title_line_.size());
  filter_.Reset();
  std::string& pending = filter_.output();
  while (write_ok) {
    const std::ptrdiff_t count = captions.Read(block_.data(), block_.size());
    // A read error ends the caption text just as the end of the file does.
    if (count <= 0) break;
    const bool more =
        filter_.Feed(std::string_view(block_.data(), static_cast<std::size_t>(count)));
    // Draining after every piece lets the filter hand a long line over
    // without copying it.
    write_ok = transcript.Write(pending.data(), pending.size());
    pending.clear();
    if (!more) break;
  }
  if (write_ok) {
    filter_.Finish();
    write_ok = transcript.Write(pending.data(), pending.size());
  }
  const bool close_ok = transcript.Close();
  return write_ok && close_ok ? ConversionResult::kConverted : ConversionResult::kWriteFailed;
}

}  // namespace orvane
