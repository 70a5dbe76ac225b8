#include "cli/orvane_convert.h"

#include <filesystem>
#include <system_error>
#include <type_traits>

#include "conversion/batch_run.h"
#include "version.h"

namespace orvane::cli {
namespace {

using platform::FromAscii;
using platform::NativeChar;

constexpr std::string_view kProgram = "orvane-convert";
constexpr std::string_view kVersion = ORVANE_VERSION;
constexpr std::string_view kUsage =
    "Usage: orvane-convert [--clean] [--help] [--version] [--] FOLDER...";
constexpr std::string_view kHelp =
    "Converts every WebVTT caption file (*.vtt) in each FOLDER into a plain-text\n"
    "transcript (.txt) beside it. When the folder two levels up has \"__\" in its\n"
    "name, every transcript opens with the course title from its imsmanifest.xml.\n"
    "\n"
    "  --clean    write clean transcripts: only what was said, without styling,\n"
    "             notes and repeated lines, with speaker names\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Exit status: 0 when every file converted, 1 after any error, 2 on a usage error.";

// Prints batch messages the way command-line tools do: the completion message
// on standard output, errors on standard error prefixed by the program and path.
class ConsoleReporter : public BatchReporter {
 public:
  explicit ConsoleReporter(Console& console) : console_(console) {}

  void Report(BatchMessage message, const NativeString& raw_subject) override {
    // A name may hold any byte but a terminal must not act on one.
    const NativeString subject = EscapeControls(raw_subject);
    const NativeString text = MessageText(message, subject);
    if (!IsError(message)) {
      console_.Out(text);
      return;
    }
    failed_ = true;
    NativeString line = FromAscii(kProgram) + FromAscii(": ");
    if (!subject.empty()) line += subject + FromAscii(": ");
    console_.Err(line + text);
  }

  bool failed() const { return failed_; }

 private:
  Console& console_;
  bool failed_ = false;
};

void PrintLines(Console& console, std::string_view text) {
  while (!text.empty()) {
    const auto end = text.find('\n');
    console.Out(FromAscii(text.substr(0, end)));
    if (end == text.npos) break;
    text.remove_prefix(end + 1);
  }
}

}  // namespace

NativeString EscapeControls(const NativeString& text) {
  NativeString escaped;
  for (const NativeChar c : text) {
    const auto code = static_cast<std::make_unsigned_t<NativeChar>>(c);
    if (code >= 0x20 && code != 0x7F) {
      escaped += c;
    } else if (c == '\n') {
      escaped += FromAscii("\\n");
    } else if (c == '\t') {
      escaped += FromAscii("\\t");
    } else if (c == '\x1B') {
      escaped += FromAscii("\\e");
    } else {
      constexpr std::string_view kHex = "0123456789ABCDEF";
      escaped += FromAscii("\\x");
      escaped += static_cast<NativeChar>(kHex[code >> 4]);
      escaped += static_cast<NativeChar>(kHex[code & 0xF]);
    }
  }
  return escaped;
}

NativeString NormalizeFolder(const NativeString& folder) {
  if (folder.empty()) return folder;
  // As the system means the path: "link/.." is the link's parent.
  if (NativeString resolved = platform::ResolvePath(folder); !resolved.empty()) return resolved;
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(folder, error);
  if (error) path = folder;
  path = path.lexically_normal();
  // "/a/b/" normalises to "/a/b/", whose last element is an empty file name.
  if (path.has_relative_path() && !path.has_filename()) path = path.parent_path();
  return path.native();
}

int RunOrvaneConvert(const std::vector<NativeString>& args, Console& console) {
  std::vector<NativeString> folders;
  TranscriptStyle style = TranscriptStyle::kDefault;
  bool options_done = false;
  for (const NativeString& arg : args) {
    if (!options_done && arg.size() > 1 && arg[0] == '-') {
      if (arg == FromAscii("--")) {
        options_done = true;
      } else if (arg == FromAscii("--clean")) {
        style = TranscriptStyle::kClean;
      } else if (arg == FromAscii("--help")) {
        console.Out(FromAscii(kUsage));
        PrintLines(console, kHelp);
        return kExitOk;
      } else if (arg == FromAscii("--version")) {
        console.Out(FromAscii(kProgram) + FromAscii(" ") + FromAscii(kVersion));
        return kExitOk;
      } else {
        console.Err(FromAscii(kProgram) + FromAscii(": unknown option: ") + EscapeControls(arg));
        console.Err(FromAscii(kUsage));
        return kExitUsage;
      }
      continue;
    }
    folders.push_back(arg);
  }
  if (folders.empty()) {
    console.Err(FromAscii(kUsage));
    return kExitUsage;
  }
  ConsoleReporter reporter(console);
  for (const NativeString& folder : folders) RunBatch(NormalizeFolder(folder), style, reporter);
  return reporter.failed() ? kExitFailure : kExitOk;
}

}  // namespace orvane::cli
