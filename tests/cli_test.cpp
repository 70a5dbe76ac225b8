#include "cli/orvane_convert.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "tests/test_support.h"

namespace orvane::cli {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

class RecordingConsole : public Console {
 public:
  void Out(const NativeString& line) override { out += line + "\n"; }
  void Err(const NativeString& line) override { err += line + "\n"; }
  std::string out;
  std::string err;
};

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Invoke(const std::vector<NativeString>& args) {
  RecordingConsole console;
  const int status = RunOrvaneConvert(args, console);
  return {status, console.out, console.err};
}

TEST(OrvaneConvert, UsageHelpAndVersion) {
  const Result none = Invoke({});
  EXPECT_EQ(none.status, kExitUsage);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("Usage: orvane-convert"), std::string::npos);

  const Result unknown = Invoke({"--fast", "x"});
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_EQ(unknown.err.substr(0, unknown.err.find('\n')),
            "orvane-convert: unknown option: --fast");

  const Result help = Invoke({"--help"});
  EXPECT_EQ(help.status, kExitOk);
  EXPECT_EQ(help.out.substr(0, 21), "Usage: orvane-convert");

  EXPECT_EQ(Invoke({"--version"}).out, "orvane-convert 1.0.0.1\n");
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
  EXPECT_EQ(ok.out, "Files converted to folder: " + good.native() + "\n");
  EXPECT_EQ(ok.err, "");

  const Result failed = Invoke({bad.native(), (dir / "none").native(), "", good.native()});
  EXPECT_EQ(failed.status, kExitFailure);
  EXPECT_EQ(failed.out, "Files converted to folder: " + bad.native() +
                            "\nFiles converted to folder: " + good.native() + "\n");
  EXPECT_EQ(failed.err, "orvane-convert: " + (bad / "a.vtt").native() +
                            ": Error opening file(s).\n"
                            "orvane-convert: " +
                            (dir / "none").native() +
                            ": No .vtt files found in the selected folder.\n"
                            "orvane-convert: Please select a folder first.\n");

  // Everything after "--" is a folder, even when it looks like an option.
  EXPECT_EQ(Invoke({"--", "--help"}).status, kExitFailure);
}

struct FolderCase {
  std::string_view argument;
  std::string_view normal;  // relative to the working folder, "" for itself
};

TEST(OrvaneConvert, NormalizesFolderArguments) {
  const NativeString cwd = fs::current_path().native();
  const FolderCase cases[] = {
      {".", ""}, {"./", ""}, {"captions/", "captions"}, {"a/../b/./c//", "b/c"}, {"x", "x"},
  };
  for (const FolderCase& c : cases) {
    const NativeString expected = c.normal.empty() ? cwd : cwd + "/" + NativeString(c.normal);
    EXPECT_EQ(NormalizeFolder(NativeString(c.argument)), expected) << c.argument;
  }
  EXPECT_EQ(NormalizeFolder("/"), "/");
  EXPECT_EQ(NormalizeFolder("/srv//x/"), "/srv/x");
  EXPECT_EQ(NormalizeFolder(""), "");
}

// Runs the real program in `folder` and returns its exit status and output.
Result Spawn(const fs::path& folder, const std::string& args) {
  TempDir scratch;
  const std::string command = "cd '" + folder.string() + "' && '" ORVANE_CONVERT_PATH "' " + args +
                              " >'" + (scratch / "out").string() + "' 2>'" +
                              (scratch / "err").string() + "'";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(scratch / "out"),
          ReadFile(scratch / "err")};
}

TEST(OrvaneConvert, ConvertsTheExampleCourseFromItsOwnFolder) {
  TempDir dir;
  fs::copy(ORVANE_EXAMPLES_DIR, dir.path(), fs::copy_options::recursive);
  const fs::path captions = dir / "safety__2024" / "media" / "captions";
  const Result result = Spawn(captions, ".");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Files converted to folder: " + fs::canonical(captions).string() + "\n");
  EXPECT_EQ(result.err, "");
  int compared = 0;
  for (const auto& golden : fs::directory_iterator(ORVANE_GOLDEN_DIR)) {
    EXPECT_EQ(ReadFile(captions / golden.path().filename()), ReadFile(golden.path()))
        << golden.path().filename();
    ++compared;
  }
  EXPECT_EQ(compared, 3);

  const Result missing = Spawn(dir.path(), "nowhere");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "orvane-convert: " + (fs::canonical(dir.path()) / "nowhere").string() +
                             ": No .vtt files found in the selected folder.\n");
}

}  // namespace
}  // namespace orvane::cli
