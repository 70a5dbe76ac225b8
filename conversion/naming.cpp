#include "conversion/naming.h"

namespace orvane {
namespace {

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

}  // namespace orvane
