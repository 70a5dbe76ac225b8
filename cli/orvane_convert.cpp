#include "cli/orvane_convert.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <variant>

#include "conversion/batch_run.h"
#include "conversion/page.h"
#include "version.h"

namespace orvane::cli {
namespace {

using platform::FromAscii;
using platform::NativeChar;

constexpr std::string_view kProgram = "orvane-convert";
constexpr std::string_view kVersion = ORVANE_VERSION;
constexpr std::string_view kUsage =
    "Usage: orvane-convert [OPTION]... FOLDER...\n"
    "  or:  orvane-convert [--clean] [--paragraphs] [--timestamps] [--html]\n"
    "                      [--lang TAG] [--title TEXT] [--input-format FORMAT] -";
constexpr std::string_view kHelp =
    "Converts every WebVTT caption file (*.vtt) in each FOLDER into a plain-text\n"
    "transcript (.txt) beside it. When the folder two levels up has \"__\" in its\n"
    "name, every transcript opens with the course title from its imsmanifest.xml.\n"
    "With - instead of FOLDER, converts the caption file on standard input into a\n"
    "transcript on standard output.\n"
    "\n"
    "Options:\n"
    "  -r, --recursive   convert every folder under each FOLDER that holds caption\n"
    "                    files, each on its own, folders sorted by name, depth\n"
    "                    first; links to folders are not followed\n"
    "  -j, --jobs=N      convert N files at once (default: the number of processors\n"
    "                    this process may use); messages and exit status are those\n"
    "                    of -j 1\n"
    "  -q, --quiet       show neither the completion messages nor the progress line\n"
    "      --clean       write clean transcripts: only what was said, without\n"
    "                    styling, notes and repeated lines, with speaker names\n"
    "      --paragraphs  write clean transcripts with their lines joined into\n"
    "                    paragraphs, a new one for each speaker and after a pause\n"
    "      --timestamps  write paragraphs, each starting with its time, [MM:SS]\n"
    "      --all-formats also convert the SubRip (.srt) and YouTube (.sbv)\n"
    "                    caption files, into clean transcripts; one whose\n"
    "                    transcript a .vtt file (or, for a .sbv, a .srt file) of\n"
    "                    its folder gives is passed over\n"
    "      --html        also write a web page (.html) beside each transcript: its\n"
    "                    paragraphs (with --timestamps, their times) in accessible\n"
    "                    HTML; with -, write the page instead of the transcript\n"
    "      --lang=TAG    the language of pages whose caption files tell none (a\n"
    "                    tag such as en, fr-CA or zh-Hans; default: the user's)\n"
    "      --input-format=FORMAT  with -, read standard input as FORMAT: vtt\n"
    "                    (default), srt or sbv (srt and sbv write clean\n"
    "                    transcripts)\n"
    "      --title=TEXT  with -, open the transcript with TEXT as its course title\n"
    "      --help        show this help and exit\n"
    "      --version     show the version and exit\n"
    "\n"
    "Each completion message goes to standard output; each error goes to standard\n"
    "error as \"orvane-convert: PATH: MESSAGE\", and the run goes on. When standard\n"
    "error is a terminal, a run that lasts more than a second shows its progress\n"
    "there on one line: folders, files and bytes done of those found so far, and\n"
    "MB/s.\n"
    "\n"
    "Exit status: 0 when every file converted, 1 after any error, 2 on a usage error.";

// Seconds a run lasts before its progress line shows, and between redraws.
constexpr auto kProgressDelay = std::chrono::seconds(1);
constexpr auto kProgressPeriod = std::chrono::milliseconds(250);

// The most files converted at once that --jobs accepts.
constexpr unsigned kMaxJobs = 1024;

// The one status line of a terminal, on standard error, drawn the way
// terminal programs draw progress without taking over the screen: a carriage
// return, then the text cut to one column less than the terminal's width (so
// that it never wraps), padded with spaces over what was there before. Erased
// by overwriting it with spaces. Nothing else writes escapes or carriage
// returns.
class StatusLine {
 public:
  explicit StatusLine(Console& console) : console_(console) {}

  void Show(NativeString text) {
    const int columns = console_.ErrColumns();
    const std::size_t width = columns > 1 ? static_cast<std::size_t>(columns - 1) : 79;
    if (text.size() > width) text.resize(width);
    NativeString line = FromAscii("\r") + text;
    if (shown_ > text.size()) line.append(shown_ - text.size(), NativeChar(' '));
    console_.ErrText(line);
    shown_ = text.size();
  }

  void Erase() {
    if (shown_ == 0) return;
    console_.ErrText(FromAscii("\r") + NativeString(shown_, NativeChar(' ')) + FromAscii("\r"));
    shown_ = 0;
  }

 private:
  Console& console_;
  std::size_t shown_ = 0;  // columns of text on the line
};

// Shows a run's progress counters on the status line a few times a second,
// once the run has lasted a second, and keeps message lines clear of it.
class ProgressDisplay {
 public:
  // Shows nothing unless `enabled`, or when no thread can be made for it.
  ProgressDisplay(Console& console, bool enabled) : line_(console) {
    if (!enabled) return;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      // The run goes on without a status line.
    }
  }
  ~ProgressDisplay() {
    if (thread_.joinable()) {
      {
        const std::lock_guard lock(mutex_);
        ended_ = true;
      }
      changed_.notify_one();
      thread_.join();
    }
    line_.Erase();
  }
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // The counters to give the run, or nullptr when nothing is shown.
  BatchProgress* counters() { return thread_.joinable() ? &counters_ : nullptr; }

  // Writes one message line through `write`, with the status line erased
  // before it and drawn again after it.
  template <class Write>
  void Line(Write write) {
    const std::lock_guard lock(mutex_);
    const bool shown = showing_;
    line_.Erase();
    write();
    if (shown) line_.Show(Text());
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    const auto ended = [this] { return ended_; };
    if (changed_.wait_until(lock, start_ + kProgressDelay, ended)) return;
    do {
      showing_ = true;
      line_.Show(Text());
    } while (!changed_.wait_for(lock, kProgressPeriod, ended));
  }

  NativeString Text() const {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    return ProgressText(counters_, elapsed.count());
  }

  StatusLine line_;
  BatchProgress counters_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;  // the status line, the console and ended_
  // Plain condition variables and a flag rather than stop tokens: the stop
  // callbacks' semaphores can miss a wake-up in MinGW's libstdc++.
  std::condition_variable changed_;  // the run ended
  bool showing_ = false;
  bool ended_ = false;
  std::thread thread_;  // last: joined before the rest goes
};

// `bytes` in decimal units with at most three digits: "950 B", "9.5 kB",
// "412 MB", "1.2 GB".
std::string FormatBytes(std::uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = static_cast<double>(bytes) / 1000;
  std::size_t unit = 0;
  // 999.5 would round to "1000": it is "1.0" of the next unit.
  while (value >= 999.5 && unit + 1 < std::size(kUnits)) {
    value /= 1000;
    ++unit;
  }
  char text[16];
  std::snprintf(text, sizeof text, value < 9.95 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
  return text;
}

// `part` of `whole` (not 0) in percent, rounded down, so that 100 means all of
// it; at most 100, as a file that grew since it was listed gives more.
unsigned Percent(std::uint64_t part, std::uint64_t whole) {
  if (part >= whole) return 100;
  // part * 100 cannot overflow unless whole is that large too.
  constexpr std::uint64_t kExact = std::numeric_limits<std::uint64_t>::max() / 100;
  return static_cast<unsigned>(whole <= kExact ? part * 100 / whole : part / (whole / 100));
}

// Prints batch messages the way command-line tools do: the completion message
// on standard output, errors on standard error prefixed by the program and path.
// With `quiet`, completion messages are left out.
class ConsoleReporter : public BatchReporter {
 public:
  ConsoleReporter(Console& console, ProgressDisplay& progress, bool quiet)
      : console_(console), progress_(progress), quiet_(quiet) {}

  void Report(BatchMessage message, const NativeString& raw_subject) override {
    if (!IsError(message)) {
      if (quiet_) return;
      // A name may hold any byte but a terminal must not act on one.
      const NativeString text = MessageText(message, EscapeControls(raw_subject));
      progress_.Line([&] { console_.Out(text); });
      return;
    }
    failed_ = true;
    const NativeString subject = EscapeControls(raw_subject);
    NativeString line = FromAscii(kProgram) + FromAscii(": ");
    if (!subject.empty()) line += subject + FromAscii(": ");
    line += MessageText(message, subject);
    progress_.Line([&] { console_.Err(line); });
  }

  bool failed() const { return failed_; }

 private:
  Console& console_;
  ProgressDisplay& progress_;
  bool quiet_;
  bool failed_ = false;
};

// Writes each line of `text` with `write` (Console::Out or Console::Err).
void PrintLines(Console& console, void (Console::*write)(const NativeString&),
                std::string_view text) {
  while (!text.empty()) {
    const auto end = text.find('\n');
    (console.*write)(FromAscii(text.substr(0, end)));
    if (end == text.npos) break;
    text.remove_prefix(end + 1);
  }
}

class StandardInput : public CaptionSource {
 public:
  std::ptrdiff_t Read(char* buffer, std::size_t size) override {
    return platform::ReadStandardInput(buffer, size);
  }
  std::ptrdiff_t ReadAt(std::uint64_t, char*, std::size_t) override { return -1; }
};

class StandardOutput : public TranscriptSink {
 public:
  bool Write(const char* data, std::size_t size) override {
    return platform::WriteStandardOutput(data, size);
  }
};

// What a command line asks for.
struct Options {
  enum class Action { kConvert, kShowHelp, kShowVersion };
  Action action = Action::kConvert;
  TranscriptStyle style = TranscriptStyle::kDefault;
  bool recursive = false;
  bool all_formats = false;
  bool html = false;
  std::optional<std::string> language;
  bool quiet = false;
  CaptionFormat input_format = CaptionFormat::kWebVtt;
  bool standard_input = false;  // "-": converts standard input to standard output
  unsigned jobs = 0;            // 0: one per usable processor
  std::optional<NativeString> title;
  std::vector<NativeString> folders;
};

// What makes a command line wrong: the problem (empty when the usage alone
// tells it), followed by the argument at fault when there is one.
struct UsageError {
  std::string_view problem;
  NativeString argument;
};

// One option as given: "--name=value" or "--name value", "-jN" or "-j N", or
// a name alone.
struct Option {
  NativeString name;
  std::optional<NativeString> value;
};

// Parses the number of jobs; 0 when `text` is not a number from 1 to kMaxJobs.
unsigned ParseJobs(const NativeString& text) {
  if (text.empty() || text.size() > 4) return 0;
  unsigned jobs = 0;
  for (const NativeChar c : text) {
    if (c < '0' || c > '9') return 0;
    jobs = jobs * 10 + static_cast<unsigned>(c - '0');
  }
  return jobs <= kMaxJobs ? jobs : 0;
}

// Reads the option `args[i]` and, when it takes a value not attached to it,
// the next argument, to which `i` then moves.
std::variant<Option, UsageError> ReadOption(const std::vector<NativeString>& args, std::size_t& i) {
  const NativeString& arg = args[i];
  Option option{arg, std::nullopt};
  if (const auto equals = arg.find('='); arg[1] == '-' && equals != NativeString::npos) {
    option.name = arg.substr(0, equals);
    option.value = arg.substr(equals + 1);
  } else if (arg[1] == 'j' && arg.size() > 2) {
    option.name = FromAscii("-j");
    option.value = arg.substr(2);
  }
  const bool takes_value = option.name == FromAscii("-j") || option.name == FromAscii("--jobs") ||
                           option.name == FromAscii("--title") ||
                           option.name == FromAscii("--input-format") ||
                           option.name == FromAscii("--lang");
  if (takes_value && !option.value) {
    if (i + 1 == args.size()) return UsageError{"option needs a value: ", arg};
    option.value = args[++i];
  } else if (!takes_value && option.value) {
    return UsageError{"option takes no value: ", arg};
  }
  return option;
}

// Sets in `options` what `option`, read by ReadOption, asks for.
std::optional<UsageError> ApplyOption(const Option& option, Options& options) {
  const NativeString& name = option.name;
  if (name == FromAscii("--clean")) {
    options.style = std::max(options.style, TranscriptStyle::kClean);
  } else if (name == FromAscii("--paragraphs")) {
    options.style = std::max(options.style, TranscriptStyle::kParagraphs);
  } else if (name == FromAscii("--timestamps")) {
    options.style = TranscriptStyle::kTimedParagraphs;
  } else if (name == FromAscii("--all-formats")) {
    options.all_formats = true;
    options.style = std::max(options.style, TranscriptStyle::kClean);
  } else if (name == FromAscii("--html")) {
    options.html = true;
    options.style = std::max(options.style, TranscriptStyle::kClean);
  } else if (name == FromAscii("--lang")) {
    const std::string tag = platform::ToNarrow(*option.value);
    if (!IsLanguageTag(tag)) return UsageError{"invalid language tag: ", *option.value};
    options.language = tag;
  } else if (name == FromAscii("--input-format")) {
    static constexpr std::pair<std::string_view, CaptionFormat> kFormats[] = {
        {"vtt", CaptionFormat::kWebVtt},
        {"srt", CaptionFormat::kSubRip},
        {"sbv", CaptionFormat::kSbv},
    };
    const auto* const found =
        std::find_if(std::begin(kFormats), std::end(kFormats),
                     [&](const auto& format) { return *option.value == FromAscii(format.first); });
    if (found == std::end(kFormats)) return UsageError{"invalid input format: ", *option.value};
    options.input_format = found->second;
    if (found->second != CaptionFormat::kWebVtt) {
      options.style = std::max(options.style, TranscriptStyle::kClean);
    }
  } else if (name == FromAscii("-r") || name == FromAscii("--recursive")) {
    options.recursive = true;
  } else if (name == FromAscii("-q") || name == FromAscii("--quiet")) {
    options.quiet = true;
  } else if (name == FromAscii("-j") || name == FromAscii("--jobs")) {
    options.jobs = ParseJobs(*option.value);
    if (options.jobs == 0) return UsageError{"invalid number of jobs: ", *option.value};
  } else if (name == FromAscii("--title")) {
    options.title = *option.value;
  } else if (name == FromAscii("--help")) {
    options.action = Options::Action::kShowHelp;
  } else if (name == FromAscii("--version")) {
    options.action = Options::Action::kShowVersion;
  } else {
    return UsageError{"unknown option: ", name};
  }
  return std::nullopt;
}

// Parses the arguments of orvane-convert (without the program name). Options
// and operands may come in any order; "--" ends the options, and --help or
// --version ends the command line.
std::variant<Options, UsageError> ParseArguments(const std::vector<NativeString>& args) {
  Options options;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const NativeString& arg = args[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      if (!options_done && arg == FromAscii("-")) {
        options.standard_input = true;
      } else {
        options.folders.push_back(arg);
      }
      continue;
    }
    std::variant<Option, UsageError> read = ReadOption(args, i);
    if (const UsageError* error = std::get_if<UsageError>(&read)) return *error;
    const Option& option = std::get<Option>(read);
    if (option.name == FromAscii("--")) {
      options_done = true;
    } else if (std::optional<UsageError> error = ApplyOption(option, options)) {
      return *error;
    } else if (options.action != Options::Action::kConvert) {
      return options;
    }
  }
  if (options.standard_input) {
    if (!options.folders.empty()) return UsageError{"- takes no FOLDER: ", options.folders[0]};
  } else if (options.title) {
    return UsageError{"--title needs -", {}};
  } else if (options.folders.empty()) {
    return UsageError{};
  }
  return options;
}

// Tells `error` and the usage on standard error; returns the exit status.
int ShowUsageError(const UsageError& error, Console& console) {
  if (!error.problem.empty()) {
    console.Err(FromAscii(kProgram) + FromAscii(": ") + FromAscii(error.problem) +
                EscapeControls(error.argument));
  }
  PrintLines(console, &Console::Err, kUsage);
  return kExitUsage;
}

// The language pages fall back to: --lang, else the user's.
std::string PageLanguage(const Options& options) {
  return options.language.value_or(LanguageOfLocale(platform::UserLocaleName()));
}

// Converts standard input into standard output, as a file of a folder run.
int ConvertStandardInput(const Options& options, Console& console) {
  CaptionConverter converter(options.title.value_or(NativeString()), options.style);
  converter.set_stream_format(options.input_format);
  if (options.html) {
    converter.WritePages(options.style == TranscriptStyle::kTimedParagraphs, PageLanguage(options));
  }
  StandardInput input;
  StandardOutput output;
  const ConversionResult result = converter.ConvertStream(input, output);
  if (result == ConversionResult::kConverted) return kExitOk;
  const bool reading = result == ConversionResult::kOpenFailed;
  console.Err(FromAscii(kProgram) +
              FromAscii(reading ? ": standard input: " : ": standard output: ") +
              MessageText(reading ? BatchMessage::kErrorOpening : BatchMessage::kErrorWriting, {}));
  return kExitFailure;
}

// Runs the batch run over every folder of `options`, telling on `console`.
int ConvertFolders(const Options& options, Console& console) {
  ProgressDisplay progress(console, !options.quiet && console.ErrIsTerminal());
  ConsoleReporter reporter(console, progress, options.quiet);
  BatchOptions batch;
  batch.style = options.style;
  batch.recursive = options.recursive;
  batch.all_formats = options.all_formats;
  batch.html = options.html;
  batch.language = PageLanguage(options);
  batch.jobs = options.jobs != 0 ? options.jobs : platform::UsableProcessors();
  batch.progress = progress.counters();
  for (const NativeString& folder : options.folders) {
    RunBatches(NormalizeFolder(folder), batch, reporter);
  }
  return reporter.failed() ? kExitFailure : kExitOk;
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

NativeString ProgressText(const BatchProgress& progress, double seconds) {
  const std::uint64_t read = progress.bytes_read.load();
  const std::uint64_t found = progress.bytes_found.load();
  std::string bytes = FormatBytes(read) + " of " + FormatBytes(found);
  if (found > 0) bytes += " (" + std::to_string(Percent(read, found)) + "%)";
  const double rate = static_cast<double>(read) / 1e6 / std::max(seconds, 1e-3);
  char text[200];
  std::snprintf(text, sizeof text, "%llu/%llu folders, %llu/%llu files, %s, %.1f MB/s",
                static_cast<unsigned long long>(progress.folders_done.load()),
                static_cast<unsigned long long>(progress.folders_found.load()),
                static_cast<unsigned long long>(progress.files_done.load()),
                static_cast<unsigned long long>(progress.files_found.load()), bytes.c_str(), rate);
  return FromAscii(text);
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
  const std::variant<Options, UsageError> parsed = ParseArguments(args);
  if (const UsageError* error = std::get_if<UsageError>(&parsed)) {
    return ShowUsageError(*error, console);
  }
  const Options& options = std::get<Options>(parsed);
  switch (options.action) {
    case Options::Action::kShowHelp:
      PrintLines(console, &Console::Out, kUsage);
      PrintLines(console, &Console::Out, kHelp);
      return kExitOk;
    case Options::Action::kShowVersion:
      console.Out(FromAscii(kProgram) + FromAscii(" ") + FromAscii(kVersion));
      return kExitOk;
    case Options::Action::kConvert:
      break;
  }
  if (options.standard_input) return ConvertStandardInput(options, console);
  return ConvertFolders(options, console);
}

}  // namespace orvane::cli
