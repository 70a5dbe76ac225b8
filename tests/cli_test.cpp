#include "cli/orvane_convert.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/test_support.h"

namespace orvane::cli {
namespace {

using testing::Native;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

class RecordingConsole : public Console {
 public:
  void Out(const NativeString& line) override { out += line + Native("\n"); }
  void Err(const NativeString& line) override { err += line + Native("\n"); }
  NativeString out;
  NativeString err;
};

struct Result {
  int status;
  NativeString out;
  NativeString err;
};

Result Invoke(const std::vector<NativeString>& args) {
  RecordingConsole console;
  const int status = RunOrvaneConvert(args, console);
  return {status, console.out, console.err};
}

TEST(OrvaneConvert, UsageHelpAndVersion) {
  const Result none = Invoke({});
  EXPECT_EQ(none.status, kExitUsage);
  EXPECT_EQ(none.out, Native(""));
  EXPECT_NE(none.err.find(Native("Usage: orvane-convert")), NativeString::npos);

  const Result unknown = Invoke({Native("--fast"), Native("x")});
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_EQ(unknown.err.substr(0, unknown.err.find('\n')),
            Native("orvane-convert: unknown option: --fast"));

  const Result help = Invoke({Native("--help")});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_EQ(help.out.substr(0, 21), Native("Usage: orvane-convert"));

  EXPECT_EQ(Invoke({Native("--version")}).out, Native("orvane-convert 1.0.0.1\n"));
}

TEST(OrvaneConvert, OptionsAndTheirUsageErrors) {
  TempDir dir;
  WriteFile(dir / "a" / "x.vtt", "Hi\n");
  WriteFile(dir / "a" / "b" / "y.vtt", "Hi\n");
  const NativeString root = dir.path().native();
  const NativeString done = Native("Files converted to folder: ");
  struct Case {
    std::vector<NativeString> args;
    int status;
    NativeString out;  // or the first line of the errors, for a usage error
  };
  const Case cases[] = {
      {{Native("-j"), Native("0"), root},
       kExitUsage,
       Native("orvane-convert: invalid number of jobs: 0")},
      {{Native("--jobs=x"), root}, kExitUsage, Native("orvane-convert: invalid number of jobs: x")},
      {{Native("-j2000"), root},
       kExitUsage,
       Native("orvane-convert: invalid number of jobs: 2000")},
      {{root, Native("-j")}, kExitUsage, Native("orvane-convert: option needs a value: -j")},
      {{Native("--quiet=yes"), root},
       kExitUsage,
       Native("orvane-convert: option takes no value: --quiet=yes")},
      {{Native("--title"), Native("T"), root},
       kExitUsage,
       Native("orvane-convert: --title needs -")},
      {{Native("-"), root}, kExitUsage, Native("orvane-convert: - takes no FOLDER: ") + root},
      {{Native("-q"), Native("-r"), root}, kExitOk, Native("")},
      {{Native("-j3"), Native("--recursive"), root},
       kExitOk,
       done + (dir / "a").native() + Native("\n") + done + (dir / "a" / "b").native() +
           Native("\n")},
      {{Native("--jobs"), Native("2"), (dir / "a").native()},
       kExitOk,
       done + (dir / "a").native() + Native("\n")},
      {{Native("-r"), Native("--"), Native("-")}, kExitFailure, Native("")},
  };
  for (const Case& c : cases) {
    const Result result = Invoke(c.args);
    EXPECT_EQ(result.status, c.status) << c.out;
    if (c.status == kExitUsage) {
      EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.out);
      EXPECT_NE(result.err.find(Native("\nUsage: orvane-convert")), NativeString::npos);
    } else {
      EXPECT_EQ(result.out, c.out);
    }
  }
}

TEST(OrvaneConvert, ReportsLikeTheDialogInCommandLineForm) {
  TempDir dir;
  const fs::path good = dir / "good";
  const fs::path bad = dir / "bad";
  WriteFile(good / "a.vtt", "Hi\n");
  WriteFile(bad / "a.vtt", "Hi\n");
  fs::create_directory(bad / "a.txt");

  const Result ok = Invoke({good.native()});
  EXPECT_EQ(ok.status, kExitOk);
  EXPECT_EQ(ok.out, Native("Files converted to folder: ") + good.native() + Native("\n"));
  EXPECT_EQ(ok.err, Native(""));

  const Result failed = Invoke({bad.native(), (dir / "none").native(), Native(""), good.native()});
  EXPECT_EQ(failed.status, kExitFailure);
  EXPECT_EQ(failed.out, Native("Files converted to folder: ") + bad.native() +
                            Native("\nFiles converted to folder: ") + good.native() + Native("\n"));
  EXPECT_EQ(failed.err, Native("orvane-convert: ") + (bad / "a.vtt").native() +
                            Native(": Error opening file(s).\n"
                                   "orvane-convert: ") +
                            (dir / "none").native() +
                            Native(": No .vtt files found in the selected folder.\n"
                                   "orvane-convert: Please select a folder first.\n"));

  // Everything after "--" is a folder, even when it looks like an option.
  EXPECT_EQ(Invoke({Native("--"), Native("--help")}).status, kExitFailure);
}

TEST(OrvaneConvert, StyleOptionsImplyTheStylesTheyBuildOn) {
  const std::string captions =
      "WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ana>Hi &amp; bye</v>\n\n"
      "00:02.000 --> 00:03.000\n<v Ana>again\n";
  const std::string lines = "Ana: Hi & bye\r\nagain\r\n";
  const std::string paragraph = "Ana: Hi & bye again\r\n";
  const std::string timed = "[00:01] Ana: Hi & bye again\r\n";
  const std::pair<std::vector<std::string_view>, std::string> cases[] = {
      {{},
       "00:01.000 --> 00:02.000\r\n<v Ana>Hi &amp; bye\r\n"
       "00:02.000 --> 00:03.000\r\n<v Ana>again\r\n"},
      {{"--clean"}, lines},
      {{"--paragraphs"}, paragraph},
      {{"--paragraphs", "--clean"}, paragraph},
      {{"--timestamps"}, timed},
      {{"--timestamps", "--paragraphs", "--clean"}, timed},
  };
  for (const auto& [options, transcript] : cases) {
    TempDir dir;
    WriteFile(dir / "x.vtt", captions);
    std::vector<NativeString> args;
    for (const std::string_view option : options) args.push_back(Native(option));
    SCOPED_TRACE(::testing::PrintToString(options));
    args.push_back(dir.path().native());
    EXPECT_EQ(Invoke(args).status, kExitOk);
    EXPECT_EQ(testing::ReadFile(dir / "x.txt"), transcript);
  }
}

TEST(OrvaneConvert, ShowsControlCharactersInNamesEscaped) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"plain name", "plain name"},
      {"a\nb\tc", "a\\nb\\tc"},
      {"\x1B]0;owned\x07", "\\e]0;owned\\x07"},
      {"\x1B[2K\r\x7F", "\\e[2K\\x0D\\x7F"},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
  };
  for (const auto& [raw, shown] : cases) {
    EXPECT_EQ(EscapeControls(Native(raw)), Native(shown)) << shown;
  }
  const Result result = Invoke({Native("missing\x1B[2K")});
  EXPECT_NE(result.err.find(Native("missing\\e[2K: No .vtt files")), NativeString::npos);
  EXPECT_EQ(result.err.find(Native("\x1B")), NativeString::npos);
}

TEST(OrvaneConvert, ProgressTextShowsBytesInDecimalUnits) {
  struct Case {
    std::uint64_t files_done, files_found, bytes_read, bytes_found;
    double seconds;
    std::string_view text;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0, "0/2 folders, 0/0 files, 0 B of 0 B, 0.0 MB/s"},
      {3, 10, 412'000'000, 1'200'000'000, 1,
       "0/2 folders, 3/10 files, 412 MB of 1.2 GB (34%), 412.0 MB/s"},
      {0, 1, 29, 100, 2, "0/2 folders, 0/1 files, 29 B of 100 B (29%), 0.0 MB/s"},
      {0, 1, 999, 1'000, 1, "0/2 folders, 0/1 files, 999 B of 1.0 kB (99%), 0.0 MB/s"},
      {0, 1, 9'949, 9'950, 1, "0/2 folders, 0/1 files, 9.9 kB of 10 kB (99%), 0.0 MB/s"},
      {0, 1, 999'499, 999'500, 1, "0/2 folders, 0/1 files, 999 kB of 1.0 MB (99%), 1.0 MB/s"},
      {1, 1, 34'359'738'368, 34'359'738'368, 4,
       "0/2 folders, 1/1 files, 34 GB of 34 GB (100%), 8589.9 MB/s"},
      // A file that grew since it was listed, and sizes that could not be had.
      {1, 1, 2'000, 1'000, 1, "0/2 folders, 1/1 files, 2.0 kB of 1.0 kB (100%), 0.0 MB/s"},
      {1, 1, 5'000'000, 0, 1, "0/2 folders, 1/1 files, 5.0 MB of 0 B, 5.0 MB/s"},
      {0, 1, 18'000'000'000'000'000'000u, 18'446'744'073'709'551'615u, 1,
       "0/2 folders, 0/1 files, 18 EB of 18 EB (97%), 18000000000000.0 MB/s"},
  };
  for (const Case& c : cases) {
    BatchProgress progress;
    progress.folders_found = 2;
    progress.files_done = c.files_done;
    progress.files_found = c.files_found;
    progress.bytes_read = c.bytes_read;
    progress.bytes_found = c.bytes_found;
    EXPECT_EQ(ProgressText(progress, c.seconds), Native(c.text));
  }
}

// --html writes a page beside each transcript and takes a clean style; --lang
// is the page's language where the captions tell none, a tag of this shape
// only.
TEST(OrvaneConvert, HtmlAndLangOptions) {
  const std::string captions =
      "WEBVTT\n\n00:01.000 --> 00:02.000\n<v Ana>Hi &amp; bye\n\n00:02.000 --> 00:03.000\nagain\n";
  const std::string paragraph = "<strong>Ana:</strong> Hi &amp; bye again</p>";
  struct Case {
    std::vector<std::string_view> args;  // the folder last unless "DIR" stands for it
    int status;
    std::string transcript;  // or the first line of the errors, for a usage error
    std::string lang = "", paragraph = "";
  };
  const Case cases[] = {
      {{"--html", "--lang", "fr"}, kExitOk, "Ana: Hi & bye\r\nagain\r\n", "fr", "<p>" + paragraph},
      {{"--paragraphs", "--html", "--lang=es-419"},
       kExitOk,
       "Ana: Hi & bye again\r\n",
       "es-419",
       "<p>" + paragraph},
      {{"--html", "--timestamps", "--lang", "zh-Hans"},
       kExitOk,
       "[00:01] Ana: Hi & bye again\r\n",
       "zh-Hans",
       "<p><time datetime=\"PT1S\">[00:01]</time> " + paragraph},
      {{"--lang", "fr"},
       kExitOk,
       "00:01.000 --> 00:02.000\r\n<v Ana>Hi &amp; bye\r\n00:02.000 --> 00:03.000\r\nagain\r\n"},
      {{"--html", "--lang", "en_US"}, kExitUsage, "orvane-convert: invalid language tag: en_US"},
      {{"--lang=eng", "--html"}, kExitUsage, "orvane-convert: invalid language tag: eng"},
      {{"--html", "DIR", "--lang"}, kExitUsage, "orvane-convert: option needs a value: --lang"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    TempDir dir;
    WriteFile(dir / "x.vtt", captions);
    std::vector<NativeString> args;
    for (const std::string_view arg : c.args) {
      args.push_back(arg == "DIR" ? dir.path().native() : Native(arg));
    }
    if (std::count(c.args.begin(), c.args.end(), "DIR") == 0) args.push_back(dir.path().native());
    const Result result = Invoke(args);
    EXPECT_EQ(result.status, c.status);
    if (c.status == kExitUsage) {
      EXPECT_EQ(result.err.substr(0, result.err.find('\n')), Native(c.transcript));
      EXPECT_FALSE(fs::exists(dir / "x.txt"));
      continue;
    }
    EXPECT_EQ(testing::ReadFile(dir / "x.txt"), c.transcript);
    if (c.lang.empty()) {
      EXPECT_FALSE(fs::exists(dir / "x.html"));
      continue;
    }
    const std::string page = testing::ReadFile(dir / "x.html");
    EXPECT_NE(page.find("<html lang=\"" + c.lang + "\">"), std::string::npos) << page;
    EXPECT_NE(page.find("\n" + c.paragraph + "\n"), std::string::npos) << page;
  }
}

}  // namespace
}  // namespace orvane::cli
