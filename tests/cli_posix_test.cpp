// The converter on POSIX: byte paths, and the real program run from a shell.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "cli/orvane_convert.h"
#include "tests/test_support.h"

namespace orvane::cli {
namespace {

using testing::ReadFile;
using testing::TempDir;
namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

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
