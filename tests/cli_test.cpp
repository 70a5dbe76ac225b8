#include "cli/orvane_convert.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orvane::cli
