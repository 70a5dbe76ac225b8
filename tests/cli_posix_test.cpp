// The converter on POSIX: byte paths, and the real program run from a shell.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
  // ".." after a link leads to the link's parent, as for the system.
  TempDir dir;
  fs::create_directories(dir / "real" / "inner");
  fs::create_directory_symlink(dir / "real" / "inner", dir / "link");
  const NativeString root = fs::canonical(dir.path()).native();
  EXPECT_EQ(NormalizeFolder((dir / "link" / "..").native()), root + "/real");
  EXPECT_EQ(NormalizeFolder((dir / "link").native()), root + "/real/inner");
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

// Fails the test unless `captions` holds the transcripts in `golden`.
void ExpectGoldenTranscripts(const fs::path& captions, const fs::path& golden) {
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(golden)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_EQ(ReadFile(captions / entry.path().filename()), ReadFile(entry.path())) << entry.path();
    ++compared;
  }
  EXPECT_EQ(compared, 4) << golden;
}

TEST(OrvaneConvert, ConvertsTheExampleCourseFromItsOwnFolder) {
  TempDir dir;
  fs::copy(ORVANE_EXAMPLES_DIR, dir.path(), fs::copy_options::recursive);
  const fs::path captions = dir / "safety__2024" / "media" / "captions";
  const Result result = Spawn(captions, ".");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "Files converted to folder: " + fs::canonical(captions).string() + "\n");
  EXPECT_EQ(result.err, "");
  ExpectGoldenTranscripts(captions, ORVANE_GOLDEN_DIR);
  const Result clean = Spawn(captions, "--clean .");
  EXPECT_EQ(clean.status, 0) << clean.err;
  ExpectGoldenTranscripts(captions, fs::path(ORVANE_GOLDEN_DIR) / "clean");

  const Result missing = Spawn(dir.path(), "nowhere");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "orvane-convert: " + (fs::canonical(dir.path()) / "nowhere").string() +
                             ": No .vtt files found in the selected folder.\n");
}

// With its standard output a pipe that nobody reads, the program still
// converts every folder, then says once that the output failed, and fails.
TEST(OrvaneConvert, FinishesTheBatchWhenItsOutputIsClosed) {
  TempDir dir;
  std::vector<std::string> args = {ORVANE_CONVERT_PATH};
  for (const char* name : {"a", "b", "c"}) {
    testing::WriteFile(dir / name / "x.vtt", "Hi\n");
    args.push_back((dir / name).string());
  }
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  ::close(out[0]);
  const std::string err_path = (dir / "err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT, 0600);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kExitFailure);
  EXPECT_EQ(ReadFile(dir / "err"), "orvane-convert: standard output: Error writing file(s).\n");
  for (const char* name : {"a", "b", "c"}) EXPECT_EQ(ReadFile(dir / name / "x.txt"), "Hi\r\n");
}

}  // namespace
}  // namespace orvane::cli
