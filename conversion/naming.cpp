#include "conversion/naming.h"

#include <utility>

namespace orvane {
namespace {

template <class Char>
std::basic_string<Char> ReplaceExtension(std::basic_string_view<Char> path) {
  const auto dot = path.rfind(Char('.'));
  std::basic_string<Char> result(path.substr(0, dot));
  for (const char c : std::string_view(".txt")) result += Char(c);
  return result;
}

template <class Char>
std::optional<CaptionFormat> FormatOf(std::basic_string_view<Char> name) {
  static constexpr std::pair<std::string_view, CaptionFormat> kExtensions[] = {
      {".vtt", CaptionFormat::kWebVtt},
      {".srt", CaptionFormat::kSubRip},
      {".sbv", CaptionFormat::kSbv},
  };
  for (const auto& [extension, format] : kExtensions) {
    if (name.size() < extension.size()) continue;
    const auto tail = name.substr(name.size() - extension.size());
    bool same = true;
    for (std::size_t i = 0; i < extension.size() && same; ++i) {
      Char c = tail[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<Char>(c - 'A' + 'a');
      same = c == static_cast<Char>(extension[i]);
    }
    if (same) return format;
  }
  return std::nullopt;
}

}  // namespace

std::optional<CaptionFormat> CaptionFormatOfName(std::string_view name) { return FormatOf(name); }

std::optional<CaptionFormat> CaptionFormatOfName(std::wstring_view name) { return FormatOf(name); }

std::string MakeOutputPath(std::string_view path) { return ReplaceExtension(path); }

std::wstring MakeOutputPath(std::wstring_view path) { return ReplaceExtension(path); }

}  // namespace orvane
